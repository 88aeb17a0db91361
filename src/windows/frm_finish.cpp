#include "frm_finish.h"

#include "base/platform.h"
#include "game/launch_plans.h"
#include "windows/frm_svr_info.h"

namespace zandrel::windows {

using namespace frame;

namespace {

ProgressLook finishLook() {
    ProgressLook look;
    look.clientWidth = 4680;
    look.clientHeight = 2310;
    look.position = FirstPosition::CentreScreen;
    look.logoLeft = 30;
    look.logoTop = 0;
    look.status = QStringLiteral("Launching Halo...");
    look.statusTop = 1920;
    return look;
}

}  // namespace

FrmFinish::FrmFinish(Registry& registry) : ProgressWindow(registry, kKind, finishLook()) {
    // Controls front to back.
    addPleaseWait();
    addLogo();
    // Counts from the load; a later show only brings the window to the front.
    Timer1 = addTimer("Timer1", kLaunchDelayMs, true, [this] { Timer1_Timer(); });
}

void FrmFinish::Timer1_Timer() {
    const QString address = reg().form<FrmSvrInfo>().gameServerAddress();
    platform::launch(game::gamePlan(reg().appFolder(), address));
    reg().end();
}

}  // namespace zandrel::windows
