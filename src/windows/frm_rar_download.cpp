#include "frm_rar_download.h"

#include "server/settings.h"
#include "windows/frm_rar_unpack.h"

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
    : DownloadWindow(registry, kKind, rarDownloadLook(), server::kRarUpdateFile,
                     QStringLiteral("Downloading, please wait...")) {
    addControls();
}

QString FrmRarDownload::folder() {
    return reg().appFolder();
}

void FrmRarDownload::apply() {
    // Displayed now, behind this window, which stays in front while the archive is unpacked.
    reg().show<FrmRarUnpack>();
    stayInFrontOf(reg().form<FrmRarUnpack>());
}

void FrmRarDownload::unloadLaterWindows() {
    if (reg().isLoaded<FrmRarUnpack>()) reg().unload<FrmRarUnpack>();
}

}  // namespace zandrel::windows
