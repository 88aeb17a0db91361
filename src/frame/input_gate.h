#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

#include <vector>

namespace zandrel::frame {

// Whether an event is the player's input: the mouse, the keyboard, a wheel, touch or pen, a
// context menu, hovering, dragging, and the close box.
bool isPlayerInput(const QEvent& event);

// While it is installed on the application, the player's input reaches only the given windows
// (and what lies inside them: their controls, their shortcuts, their window-system window); it
// is dropped for every other window. A window of ours that the window manager activates
// meanwhile hands the focus back to the first admitted window on screen.
class InputGate : public QObject {
    Q_OBJECT
public:
    explicit InputGate(std::vector<QPointer<QWidget>> open);
    ~InputGate() override;
    InputGate(const InputGate&) = delete;
    InputGate& operator=(const InputGate&) = delete;

    bool eventFilter(QObject* receiver, QEvent* event) override;

private:
    bool admits(QObject* receiver) const;
    void giveFocusBack(QObject* receiver) const;

    std::vector<QPointer<QWidget>> open_;
};

}  // namespace zandrel::frame
