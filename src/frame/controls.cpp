#include "controls.h"

#include "resources/resources.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace zandrel::frame {

QFont designFont(const QString& face, double points, bool bold) {
    Q_UNUSED(face);  // both designed faces are sans serif faces of Arial's metrics
    QFont font(QStringLiteral("Liberation Sans"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(qRound(points * 96.0 / 72.0));
    font.setBold(bold);
    return font;
}

Label::Label(QWidget* parent) : QLabel(parent) {
    setWordWrap(true);
    setFocusPolicy(Qt::NoFocus);
    setFont(designFont());
}

void Label::setColours(const QColor& text, const QColor& background, bool transparent) {
    QPalette pal = palette();
    pal.setColor(QPalette::WindowText, text);
    pal.setColor(QPalette::Window, background);
    setPalette(pal);
    setAutoFillBackground(!transparent);
    setAttribute(Qt::WA_TranslucentBackground, transparent);
}

void Label::mousePressEvent(QMouseEvent* e) {
    pressed_ = e->button() == Qt::LeftButton;
}

void Label::mouseReleaseEvent(QMouseEvent* e) {
    const bool click =
        pressed_ && e->button() == Qt::LeftButton && rect().contains(e->position().toPoint());
    pressed_ = false;
    if (click) emit clicked();
}

Image::Image(QWidget* parent, const QString& resource, bool stretch)
    : Label(parent), picture_(zandrel::picture(resource)), stretch_(stretch) {
    setWordWrap(false);
    setPixmap(QPixmap::fromImage(picture_));
    setScaledContents(stretch);
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
}

// A stretched picture follows its zoomed geometry; one at its natural size is drawn smaller.
void Image::setZoom(double zoom) {
    if (stretch_) return;
    const QSize size(std::max(1, static_cast<int>(std::lround(picture_.width() * zoom))),
                     std::max(1, static_cast<int>(std::lround(picture_.height() * zoom))));
    setPixmap(
        QPixmap::fromImage(picture_.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)));
}

Button::Button(QWidget* parent) : QPushButton(parent) {
    setFont(designFont());
    setFocusPolicy(Qt::StrongFocus);
}

void Button::keyPressEvent(QKeyEvent* e) {
    if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) {
        click();
        return;
    }
    QPushButton::keyPressEvent(e);
}

TextBox::TextBox(QWidget* parent) : QLineEdit(parent) {
    setMouseTracking(true);
    setFont(designFont());
}

void TextBox::mouseMoveEvent(QMouseEvent* e) {
    QLineEdit::mouseMoveEvent(e);
    emit mouseMoved();
}

void TextBox::mouseReleaseEvent(QMouseEvent* e) {
    QLineEdit::mouseReleaseEvent(e);
    if (e->button() == Qt::LeftButton) emit clicked();
}

Shape::Shape(QWidget* parent, const QColor& border, const QColor& fill, bool solid)
    : QWidget(parent), border_(border), fill_(fill), solid_(solid) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void Shape::setWidthTwips(float twips) {
    widthTwips_ = twips;
    resize(std::max(0, twipsToPixels(twips * zoomOf(this))), height());
    update();
}

void Shape::setZoom(double) {
    setWidthTwips(widthTwips_);
}

void Shape::paintEvent(QPaintEvent*) {
    if (width() <= 0 || height() <= 0) return;
    QPainter p(this);
    if (solid_) p.fillRect(rect(), fill_);
    p.setPen(border_);
    p.drawRect(rect().adjusted(0, 0, -1, -1));
}

Line::Line(QWidget* parent, int x1, int y1, int x2, int y2, const QColor& colour)
    : QWidget(parent), fromTwips_(x1, y1), toTwips_(x2, y2), colour_(colour) {
    setZoom(1.0);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void Line::setZoom(double zoom) {
    const QPoint a(twipsToPixels(fromTwips_.x() * zoom), twipsToPixels(fromTwips_.y() * zoom));
    const QPoint b(twipsToPixels(toTwips_.x() * zoom), twipsToPixels(toTwips_.y() * zoom));
    const QRect box = QRect(a, b).normalized().adjusted(0, 0, 1, 1);
    setGeometry(box);
    from_ = a - box.topLeft();
    to_ = b - box.topLeft();
}

void Line::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setPen(colour_);
    p.drawLine(from_, to_);
}

}  // namespace zandrel::frame
