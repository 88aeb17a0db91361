#include "form.h"

#include "frame/window_frame.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QWindow>

#include <algorithm>
#include <map>

namespace zandrel::frame {

namespace {

// The frames the window manager has drawn so far, by border: every window of one border gets
// the same frame, so a window not yet framed can be placed by an earlier one's.
std::map<Border, QMargins>& knownFrames() {
    static std::map<Border, QMargins> frames;
    return frames;
}

}  // namespace

QPoint centredFrameTopLeft(const QRect& area, const QSize& client, const QMargins& frame) {
    const QSize outer(client.width() + frame.left() + frame.right(),
                      client.height() + frame.top() + frame.bottom());
    return area.center() - QPoint(outer.width() / 2, outer.height() / 2);
}

TimerControl::TimerControl(Form& form, const QString& name, int intervalMs, bool enabled,
                           std::function<void()> onTick)
    : QObject(&form),
      form_(form),
      interval_(intervalMs),
      enabled_(enabled),
      onTick_(std::move(onTick)) {
    setObjectName(name);
    timer_ = form.reg().clock().makeTimer([this] { form_.reg().tick(*this); });
}

TimerControl::~TimerControl() {
    form_.reg().forget(*this);
}

void TimerControl::setEnabled(bool enabled) {
    enabled_ = enabled;
    restart();
}

void TimerControl::arm() {
    armed_ = true;
    restart();
}

void TimerControl::disarm() {
    armed_ = false;
    restart();
}

void TimerControl::restart() {
    if (armed_ && enabled_ && interval_ > 0) {
        timer_->start(interval_);
    } else {
        timer_->stop();
    }
}

void TimerControl::runHandler() {
    inHandler_ = true;
    struct Reset {
        bool& flag;
        ~Reset() { flag = false; }
    } reset{inHandler_};
    onTick_();
}

Form::Form(Registry& registry, const char* kind, const Design& design)
    : QWidget(nullptr),
      registry_(registry),
      design_(design),
      clientWidthTwips_(design.clientWidth) {
    setObjectName(QString::fromLatin1(kind));
    Qt::WindowFlags flags = design.border == Border::FixedDialog ? Qt::Dialog : Qt::Window;
    flags |= Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint;
    setWindowFlags(flags);
    setWindowTitle(design.title);
    setFixedSize(twipsToPixels(design.clientWidth), twipsToPixels(design.clientHeight));
    setFont(designFont());
    if (design.background) {
        QPalette pal = palette();
        pal.setColor(QPalette::Window, *design.background);
        setPalette(pal);
        setAutoFillBackground(true);
    }
    if (!design.programIcon) setWindowIcon(QIcon());
}

Form::~Form() {
    // A timer tells the registry it is gone through its form: it must go while this is still a
    // Form, not later among the children QWidget's destructor deletes.
    qDeleteAll(findChildren<TimerControl*>(Qt::FindDirectChildrenOnly));
}

int Form::pixels(double twips) const {
    return twipsToPixels(twips * zoom_);
}

QRect Form::pixelRect(const QRect& twips) const {
    return {pixels(twips.x()), pixels(twips.y()), pixels(twips.width()), pixels(twips.height())};
}

void Form::adopt(QWidget* w, const char* name, QRect twips, int tabIndex) {
    w->setObjectName(QString::fromLatin1(name));
    w->setGeometry(pixelRect(twips));
    placed_.emplace_back(w, twips);
    if (w->parentWidget() == this) frontToBack_.push_back(w);
    if (tabIndex >= 0) tabOrder_.emplace_back(tabIndex, w);
}

Button* Form::addButton(const char* name, const QString& caption, QRect twips, int tabIndex,
                        QWidget* parent) {
    auto* b = new Button(parent ? parent : this);
    b->setText(caption);
    adopt(b, name, twips, tabIndex);
    return b;
}

Label* Form::addLabel(const char* name, const QString& caption, QRect twips, QWidget* parent) {
    auto* l = new Label(parent ? parent : this);
    l->setText(caption);
    l->setTextFormat(Qt::PlainText);
    adopt(l, name, twips, -1);
    return l;
}

TextBox* Form::addTextBox(const char* name, const QString& text, QRect twips, int tabIndex,
                          QWidget* parent) {
    auto* t = new TextBox(parent ? parent : this);
    t->setText(text);
    t->setCursorPosition(0);
    adopt(t, name, twips, tabIndex);
    return t;
}

Image* Form::addImage(const char* name, const QString& resource, QRect twips, bool stretch,
                      QWidget* parent) {
    auto* i = new Image(parent ? parent : this, resource, stretch);
    adopt(i, name, twips, -1);
    return i;
}

Shape* Form::addShape(const char* name, QRect twips, const QColor& border, const QColor& fill,
                      bool solid, QWidget* parent) {
    auto* s = new Shape(parent ? parent : this, border, fill, solid);
    adopt(s, name, twips, -1);
    s->setWidthTwips(static_cast<float>(twips.width()));
    return s;
}

Line* Form::addLine(const char* name, int x1, int y1, int x2, int y2, const QColor& colour) {
    auto* l = new Line(this, x1, y1, x2, y2, colour);
    l->setObjectName(QString::fromLatin1(name));
    frontToBack_.push_back(l);
    return l;
}

QGroupBox* Form::addFrame(const char* name, const QString& caption, QRect twips, int tabIndex) {
    auto* f = new QGroupBox(caption, this);
    f->setFocusPolicy(Qt::NoFocus);
    adopt(f, name, twips, -1);
    Q_UNUSED(tabIndex);  // frames never take the focus
    return f;
}

TimerControl* Form::addTimer(const char* name, int intervalMs, bool enabled,
                             std::function<void()> onTick) {
    auto* t =
        new TimerControl(*this, QString::fromLatin1(name), intervalMs, enabled, std::move(onTick));
    timers_.push_back(t);
    return t;
}

void Form::finishDesign() {
    // The design lists controls front to back; Qt stacks later siblings on top.
    for (auto it = frontToBack_.rbegin(); it != frontToBack_.rend(); ++it) (*it)->raise();
    std::stable_sort(tabOrder_.begin(), tabOrder_.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (std::size_t i = 1; i < tabOrder_.size(); ++i) {
        QWidget::setTabOrder(tabOrder_[i - 1].second, tabOrder_[i].second);
    }
}

void Form::armTimers() {
    for (auto* t : timers_) t->arm();
}

void Form::disarmTimers() {
    for (auto* t : timers_) t->disarm();
}

void Form::focusFirst() {
    for (const auto& [index, w] : tabOrder_) {
        if (w->focusPolicy() != Qt::NoFocus && w->isEnabled() && w->isVisibleTo(this)) {
            w->setFocus(Qt::ActiveWindowFocusReason);
            return;
        }
    }
}

// Outer widths are designed for a frame 120 twips wide in all. The real frame differs from one
// window system to another, so the client width is what the designed outer width leaves for it
// (outer - 120), and the window system adds whatever frame it draws.
static constexpr int kDesignFrameTwips = 120;

int Form::outerWidthTwips() const {
    return qRound(width() * 15 / zoom_) + kDesignFrameTwips;
}

void Form::setOuterWidthTwips(int twips) {
    const QPoint topLeft = pos();  // the left edge stays where it is
    clientWidthTwips_ = twips - kDesignFrameTwips;
    setFixedWidth(std::max(0, pixels(clientWidthTwips_)));
    move(topLeft);
}

void Form::fitToScreen() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) return;
    const QSize designed(std::max(0, twipsToPixels(clientWidthTwips_)),
                         twipsToPixels(design_.clientHeight));
    // A window with room to spare for any frame fits: the window manager is not asked.
    const QMargins roomy(40, 40, 40, 40);
    if (zoom_ == 1.0 && fittingZoom(designed, roomy, screen->availableGeometry()) == 1.0) return;
    const double zoom =
        fittingZoom(designed, expectedFrame().value_or(QMargins()), screen->availableGeometry());
    if (zoom != zoom_) applyZoom(zoom);
}

void Form::applyZoom(double zoom) {
    zoom_ = zoom;
    setFixedSize(std::max(0, pixels(clientWidthTwips_)), pixels(design_.clientHeight));
    for (const auto& [w, twips] : placed_)
        if (w) w->setGeometry(pixelRect(twips));
    zoomFont(*this, zoom);
    for (QWidget* w : findChildren<QWidget*>()) {
        zoomFont(*w, zoom);
        if (auto* zoomable = dynamic_cast<Zoomable*>(w)) zoomable->setZoom(zoom);
    }
}

std::optional<QMargins> Form::expectedFrame() {
    const QWindow* handle = windowHandle();
    if (handle && !handle->frameMargins().isNull()) return handle->frameMargins();  // framed
    auto& known = knownFrames();
    if (const auto it = known.find(design_.border); it != known.end()) return it->second;
    const std::optional<QMargins> announced = announcedFrame(*this);
    if (announced) known[design_.border] = *announced;
    return announced;
}

void Form::placeFrameAt(const QMargins& frame) {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) return;
    const QPoint outer = centredFrameTopLeft(screen->availableGeometry(), size(), frame);
    // The client area's place: the window manager draws the frame around it.
    setGeometry(QRect(outer + QPoint(frame.left(), frame.top()), size()));
}

void Form::placeAtScreenCentre() {
    const std::optional<QMargins> frame = expectedFrame();
    centrePending_ = !frame;
    placeFrameAt(frame.value_or(QMargins()));
}

bool Form::event(QEvent* event) {
    if (centrePending_) placeOnceFramed(event->type());
    return QWidget::event(event);
}

// The frame was not known when the window was placed: once the window manager has framed it,
// place it again by its frame. A window still unframed at its first paint has no frame to
// place by (no window manager, or one that draws none).
void Form::placeOnceFramed(QEvent::Type type) {
    if (type != QEvent::Move && type != QEvent::Paint && type != QEvent::WindowActivate) return;
    const QWindow* handle = windowHandle();
    const QMargins frame = handle ? handle->frameMargins() : QMargins();
    if (!frame.isNull()) {
        centrePending_ = false;
        knownFrames()[design_.border] = frame;
        placeFrameAt(frame);
    } else if (type == QEvent::Paint) {
        centrePending_ = false;
    }
}

void Form::closeEvent(QCloseEvent* event) {
    event->ignore();
    bool accept = false;
    registry_.closeRequested(*this, accept);
}

}  // namespace zandrel::frame
