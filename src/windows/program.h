#pragma once

#include "base/platform.h"
#include "frame/clock.h"
#include "frame/desktop_mail.h"
#include "frame/qt_message_boxes.h"
#include "frame/registry.h"

namespace zandrel::windows {

// The program as it runs: Qt message boxes, the desktop's mail program, the real clock and a
// registry over the game folder that knows every window. When the registry ends the
// program, the event loop is left.
// Finishes the updates that a killed run left half installed in the application's map folder,
// before any window shows a map. A journal that cannot be followed leaves its files set aside
// in the map folder, and the player is told so in a box.
void finishInterruptedUpdates(frame::Registry& registry);

class Program {
public:
    // What must be set before the QApplication is made.
    static void prepare();

    // The program working in gameFolder (its own folder when it is installed in the game's).
    explicit Program(const QString& gameFolder = platform::applicationFolder());
    frame::Registry& registry() { return registry_; }
    // Shows the start window, with typedAddress in its address box when it is not empty (the
    // address of a link the program was started with).
    void start(const QString& typedAddress = QString());

private:
    frame::QtMessageBoxes boxes_;
    frame::DesktopMailClient mail_;
    frame::RealClock clock_;
    frame::Registry registry_;
};

}  // namespace zandrel::windows
