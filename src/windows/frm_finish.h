#pragma once

#include "windows/progress_window.h"

namespace zandrel::windows {

// The game launch window: 1.5 seconds after it was loaded it starts the game connected to the
// game server whose address is the title of frmSvrInfo, and ends the program.
class FrmFinish : public ProgressWindow {
    Q_OBJECT
public:
    static constexpr const char* kKind = "frmFinish";
    static constexpr int kLaunchDelayMs = 1500;

    explicit FrmFinish(frame::Registry& registry);

    frame::TimerControl* Timer1;

private:
    void Timer1_Timer();
};

}  // namespace zandrel::windows
