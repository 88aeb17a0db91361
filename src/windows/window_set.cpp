#include "windows/window_set.h"

#include "frame/registry.h"
#include "windows/frm_about.h"
#include "windows/frm_backup.h"
#include "windows/frm_finish.h"
#include "windows/frm_ppf_apply.h"
#include "windows/frm_ppf_download.h"
#include "windows/frm_rar_download.h"
#include "windows/frm_rar_unpack.h"
#include "windows/frm_splash.h"
#include "windows/frm_svr_info.h"

namespace zandrel::windows {

using namespace frame;

template <class F>
static void defineWindow(Registry& registry) {
    registry.define(QString::fromLatin1(F::kKind),
                    [](Registry& r) -> std::unique_ptr<Form> { return std::make_unique<F>(r); });
}

void registerWindows(Registry& registry) {
    defineWindow<FrmSplash>(registry);
    defineWindow<FrmAbout>(registry);
    defineWindow<FrmBackup>(registry);
    defineWindow<FrmRarDownload>(registry);
    defineWindow<FrmRarUnpack>(registry);
    defineWindow<FrmPPFDownload>(registry);
    defineWindow<FrmPPFApply>(registry);
    defineWindow<FrmFinish>(registry);
    defineWindow<FrmSvrInfo>(registry);
}

}  // namespace zandrel::windows
