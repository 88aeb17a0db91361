#include "frm_ppf_download.h"

#include "maps/map_folder.h"
#include "net/server_url.h"
#include "windows/frm_ppf_apply.h"
#include "windows/frm_splash.h"

namespace zandrel::windows {

using namespace frame;

namespace {

ProgressLook ppfDownloadLook() {
    ProgressLook look;
    look.clientWidth = 4680;
    look.clientHeight = 2295;
    look.position = FirstPosition::SystemDefault;
    look.logoLeft = 0;
    look.logoTop = 0;
    look.status = QStringLiteral("Downloading PPF...");
    look.statusTop = 1920;
    return look;
}

}  // namespace

FrmPPFDownload::FrmPPFDownload(Registry& registry)
    : ProgressWindow(registry, kKind, ppfDownloadLook()) {
    // Controls front to back.
    addPleaseWait();
    addTransferProgress();
    addLogo();
}

void FrmPPFDownload::load() {
    setWindowTitle(QString());
    // On screen before the fetch, which holds the GUI thread: the player watches it arrive.
    displayNow();
    const QString address = reg().form<FrmSplash>().address();
    download(Inet1, serverFileUrl(address, QStringLiteral("zandrel.ppf")), maps::patchFolder());
    reg().show<FrmPPFApply>();
    // Still loading: hidden now, it does not come up again when its load is done.
    reg().hide<FrmPPFDownload>();
}

}  // namespace zandrel::windows
