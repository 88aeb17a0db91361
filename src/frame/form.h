#pragma once

#include "frame/controls.h"
#include "frame/registry.h"

#include <QEvent>
#include <QGroupBox>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace zandrel::frame {

class Form;

// A timer control: interval in milliseconds and an enabled flag. It starts counting when its
// window is created, keeps ticking while the window is hidden and stops when it is unloaded.
// Ticks reach the handler through the registry's dispatcher.
class TimerControl : public QObject {
    Q_OBJECT
public:
    TimerControl(Form& form, const QString& name, int intervalMs, bool enabled,
                 std::function<void()> onTick);
    ~TimerControl() override;

    int interval() const { return interval_; }
    bool enabled() const { return enabled_; }
    void setEnabled(bool enabled);

    // Used by the registry.
    void arm();
    void disarm();
    bool inHandler() const { return inHandler_; }
    void runHandler();

private:
    void restart();

    Form& form_;
    int interval_;
    bool enabled_;
    bool armed_ = false;
    bool inHandler_ = false;
    std::function<void()> onTick_;
    std::unique_ptr<Clock::Timer> timer_;
};

enum class Border { FixedDialog, FixedSingle };
enum class FirstPosition { CentreScreen, SystemDefault };

// Where a window's outer frame goes so that the frame, title bar included, lies in the middle of
// area: the top-left corner of the frame, in the coordinates of QWidget::move().
QPoint centredFrameTopLeft(const QRect& area, const QSize& client, const QMargins& frame);

// A window's design properties. Sizes in twips.
struct Design {
    QString title;
    int clientWidth = 0;
    int clientHeight = 0;
    Border border = Border::FixedDialog;
    bool inTaskBar = false;
    FirstPosition position = FirstPosition::CentreScreen;
    std::optional<QColor> background;  // none: the system's face colour
    bool programIcon = false;
};

// Base of every window: the design, the control builders (all positions in twips, controls
// added front to back as the design lists them), the load handler and handler wrapping.
class Form : public QWidget {
    Q_OBJECT
public:
    Form(Registry& registry, const char* kind, const Design& design);
    ~Form() override;

    Registry& reg() const { return registry_; }
    QString kind() const { return objectName(); }
    const Design& design() const { return design_; }

    virtual void load() {}  // the load handler; runs before the first display

    // The outer width, frame included, in twips; the left edge stays where it is.
    void setOuterWidthTwips(int twips);
    int outerWidthTwips() const;

    // The factor the design is drawn at: 1, or less for a window that does not fit the screen.
    double zoom() const { return zoom_; }
    // Before the first display: a window that does not fit the screen's available area at the
    // desktop's scale (frame included) is drawn at the largest scale at which it fits, its
    // controls, fonts and pictures alike.
    void fitToScreen();

    // Centre of screen: places the outer frame in the middle of the primary screen's available
    // area. The frame is the one the window manager has drawn, else that of an earlier window of
    // the same border, else the one the window manager announces before the window is mapped;
    // when none of these is known, the window is placed again once it has been framed.
    void placeAtScreenCentre();

    // Registry bookkeeping.
    bool loading = false;
    bool hiddenWhileLoading = false;
    bool displayedOnce = false;
    void finishDesign();
    void armTimers();
    void disarmTimers();
    void focusFirst();
    const std::vector<TimerControl*>& timers() const { return timers_; }

protected:
    Button* addButton(const char* name, const QString& caption, QRect twips, int tabIndex,
                      QWidget* parent = nullptr);
    Label* addLabel(const char* name, const QString& caption, QRect twips,
                    QWidget* parent = nullptr);
    TextBox* addTextBox(const char* name, const QString& text, QRect twips, int tabIndex,
                        QWidget* parent = nullptr);
    Image* addImage(const char* name, const QString& resource, QRect twips, bool stretch = false,
                    QWidget* parent = nullptr);
    Shape* addShape(const char* name, QRect twips, const QColor& border, const QColor& fill,
                    bool solid, QWidget* parent = nullptr);
    Line* addLine(const char* name, int x1, int y1, int x2, int y2, const QColor& colour);
    QGroupBox* addFrame(const char* name, const QString& caption, QRect twips, int tabIndex);
    TimerControl* addTimer(const char* name, int intervalMs, bool enabled,
                           std::function<void()> onTick);
    // Any other control (a web view, a file list), placed in twips.
    template <class W>
    W* place(W* widget, const char* name, QRect twips, int tabIndex = -1) {
        adopt(widget, name, twips, tabIndex);
        return widget;
    }

    // Wraps a handler so that it runs through the registry's dispatcher.
    template <class Fn>
    std::function<void()> handler(Fn fn) {
        return [this, fn] { registry_.dispatch(fn); };
    }

    void closeEvent(QCloseEvent* event) override;
    bool event(QEvent* event) override;

private:
    std::optional<QMargins> expectedFrame();
    void placeFrameAt(const QMargins& frame);
    void placeOnceFramed(QEvent::Type type);

    void adopt(QWidget* w, const char* name, QRect twips, int tabIndex);
    int pixels(double twips) const;
    QRect pixelRect(const QRect& twips) const;
    void applyZoom(double zoom);

    Registry& registry_;
    Design design_;
    int clientWidthTwips_;  // as designed, or as the outer width last set leaves it
    double zoom_ = 1.0;
    std::vector<std::pair<QPointer<QWidget>, QRect>> placed_;  // each control's design rectangle
    std::vector<QWidget*> frontToBack_;
    std::vector<std::pair<int, QWidget*>> tabOrder_;
    std::vector<TimerControl*> timers_;
    bool centrePending_ = false;  // placed at the centre before its frame was known
};

}  // namespace zandrel::frame
