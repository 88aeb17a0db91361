#pragma once

#include "net/inet.h"
#include "windows/progress_window.h"

namespace zandrel::windows {

// The PPF download window: its load handler displays it, fetches the server's patch to the root
// of drive C:, shows the apply window and hides the download window again.
class FrmPPFDownload : public ProgressWindow {
    Q_OBJECT
public:
    static constexpr const char* kKind = "frmPPFDownload";

    explicit FrmPPFDownload(frame::Registry& registry);
    void load() override;

    Inet Inet1;
};

}  // namespace zandrel::windows
