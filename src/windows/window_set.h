#pragma once

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

// Calls visit.template operator()<F>() for each of the program's window classes, the start
// window first.
template <class Visit>
void forEachWindowKind(Visit&& visit) {
    visit.template operator()<FrmSplash>();
    visit.template operator()<FrmAbout>();
    visit.template operator()<FrmBackup>();
    visit.template operator()<FrmRarDownload>();
    visit.template operator()<FrmRarUnpack>();
    visit.template operator()<FrmPPFDownload>();
    visit.template operator()<FrmPPFApply>();
    visit.template operator()<FrmFinish>();
    visit.template operator()<FrmSvrInfo>();
}

// Tells the registry how to build each of the program's windows.
void registerWindows(frame::Registry& registry);

}  // namespace zandrel::windows
