#include "frame/input_gate.h"

#include <QApplication>
#include <QCoreApplication>
#include <QEvent>
#include <QWindow>

namespace zandrel::frame {

bool isPlayerInput(const QEvent& event) {
    switch (event.type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::MouseMove:
        case QEvent::NonClientAreaMouseButtonPress:
        case QEvent::NonClientAreaMouseButtonRelease:
        case QEvent::NonClientAreaMouseButtonDblClick:
        case QEvent::NonClientAreaMouseMove:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::ShortcutOverride:
        case QEvent::Shortcut:
        case QEvent::Wheel:
        case QEvent::TouchBegin:
        case QEvent::TouchUpdate:
        case QEvent::TouchEnd:
        case QEvent::TouchCancel:
        case QEvent::TabletPress:
        case QEvent::TabletMove:
        case QEvent::TabletRelease:
        case QEvent::ContextMenu:
        case QEvent::Enter:
        case QEvent::Leave:
        case QEvent::HoverEnter:
        case QEvent::HoverLeave:
        case QEvent::HoverMove:
        case QEvent::DragEnter:
        case QEvent::DragMove:
        case QEvent::DragLeave:
        case QEvent::Drop:
        case QEvent::InputMethod:
        case QEvent::Close:
            return true;
        default:
            return false;
    }
}

InputGate::InputGate(std::vector<QPointer<QWidget>> open) : open_(std::move(open)) {
    QCoreApplication::instance()->installEventFilter(this);
}

InputGate::~InputGate() {
    QCoreApplication::instance()->removeEventFilter(this);
}

bool InputGate::eventFilter(QObject* receiver, QEvent* event) {
    if (event->type() == QEvent::WindowActivate && !admits(receiver)) giveFocusBack(receiver);
    return isPlayerInput(*event) && !admits(receiver);
}

// A click on a window behind makes the window manager activate it, and the keys would then go
// where they are dropped: as with a modal dialog, the first admitted window takes the focus back,
// so that its Escape still works.
void InputGate::giveFocusBack(QObject* receiver) const {
    if (!QApplication::topLevelWidgets().contains(receiver)) return;
    for (const QPointer<QWidget>& window : open_) {
        if (!window || !window->isVisible()) continue;
        window->raise();
        window->activateWindow();
        return;
    }
}

bool InputGate::admits(QObject* receiver) const {
    // The receiver is only compared, never called: it may be an object of a library's own hidden
    // class (the web view's items), whose type this program cannot know.
    for (const QPointer<QWidget>& window : open_) {
        if (!window) continue;
        // The window system's window comes first (the close box, the raw mouse and keys).
        if (receiver == window || receiver == window->windowHandle()) return true;
        if (window->findChildren<QObject*>().contains(receiver)) return true;
    }
    return false;
}

}  // namespace zandrel::frame
