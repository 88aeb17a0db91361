#pragma once

#include "windows/progress_window.h"

namespace zandrel {

// The PPF apply window: its load handler starts the patch tool on the target map without
// waiting for it; its timer fills the bar in a fixed time and brings up the game launch window.
class FrmPPFApply : public ProgressWindow {
    Q_OBJECT
public:
    static constexpr const char* kKind = "frmPPFApply";
    // Raised when the server's target map is not a plain file name of the map folder.
    static constexpr std::int32_t kErrorBadFileName = 52;

    explicit FrmPPFApply(Registry& registry);
    void load() override;

    TimerControl* tmrCheck;
    Label* Label1;  // never seen; its caption is the quote character of the patch command line
    Shape* shpProg;
    Shape* shpProgBack;

private:
    void tmrCheck_Timer();
};

}  // namespace zandrel
