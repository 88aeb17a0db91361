#pragma once

#include "windows/download_window.h"

namespace zandrel::windows {

// The RAR download window: its load handler displays it, fetches the server's archive into the
// application folder and shows the unpack window. It stays on screen, in front of the unpack
// window, until the program ends, and shows the extraction's progress too.
class FrmRarDownload : public DownloadWindow {
    Q_OBJECT
public:
    static constexpr const char* kKind = "frmRarDownload";

    explicit FrmRarDownload(frame::Registry& registry);

private:
    QString folder() override;
    void apply() override;
    void unloadLaterWindows() override;
};

}  // namespace zandrel::windows
