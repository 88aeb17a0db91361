#include "frm_rar_download.h"

#include "base/platform.h"
#include "net/server_url.h"
#include "windows/frm_rar_unpack.h"
#include "windows/frm_splash.h"

namespace zandrel::windows {

using namespace frame;

namespace {

ProgressLook rarDownloadLook() {
    ProgressLook look;
    look.clientWidth = 4740;
    look.clientHeight = 2310;
    look.position = FirstPosition::CentreScreen;
    look.logoLeft = 0;
    look.logoTop = 0;
    look.status = QStringLiteral("Downloading archive...");
    look.statusTop = 1920;
    return look;
}

}  // namespace

FrmRarDownload::FrmRarDownload(Registry& registry)
    : ProgressWindow(registry, kKind, rarDownloadLook()) {
    // Controls front to back.
    addPleaseWait();
    addTransferProgress();
    addLogo();
}

void FrmRarDownload::load() {
    setWindowTitle(QStringLiteral("Downloading, please wait..."));
    // On screen before the fetch, which holds the GUI thread: the player watches it arrive.
    displayNow();
    const QString address = reg().form<FrmSplash>().address();
    download(Inet1, serverFileUrl(address, QStringLiteral("zandrel.rar")), reg().appFolder());
    // Displayed now, behind this window, which stays in front while the archive is unpacked.
    reg().show<FrmRarUnpack>();
    stayInFrontOf(reg().form<FrmRarUnpack>());
}

}  // namespace zandrel::windows
