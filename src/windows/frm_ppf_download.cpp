#include "frm_ppf_download.h"

#include "maps/map_folder.h"
#include "server/settings.h"
#include "windows/frm_ppf_apply.h"

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
    : DownloadWindow(registry, kKind, ppfDownloadLook(), server::kPpfUpdateFile, QString()) {
    addControls();
}

QString FrmPPFDownload::folder() {
    return maps::patchFolder(reg().appFolder());
}

void FrmPPFDownload::apply() {
    reg().show<FrmPPFApply>();
    // Still loading: hidden now, it does not come up again when its load is done.
    reg().hide<FrmPPFDownload>();
}

}  // namespace zandrel::windows
