#pragma once

#include "windows/download_window.h"

namespace zandrel::windows {

// The PPF download window: its load handler displays it, fetches the server's patch to the root
// of drive C:, shows the apply window and hides the download window again.
class FrmPPFDownload : public DownloadWindow {
    Q_OBJECT
public:
    static constexpr const char* kKind = "frmPPFDownload";

    explicit FrmPPFDownload(frame::Registry& registry);

private:
    QString folder() override;
    void apply() override;
};

}  // namespace zandrel::windows
