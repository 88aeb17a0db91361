#pragma once

#include "archive/unrar.h"
#include "windows/download_window.h"
#include "windows/progress_window.h"

#include <cstdint>

namespace zandrel::windows {

// The RAR unpack window: its timer hands the fetched archive to the unpacking component with
// the map folder as destination; the component's progress moves the bar and, above 90 percent,
// brings up the game launch window. While the extraction holds the GUI thread, the program's
// windows are kept painted and the download window in front shows how far it has come.
class FrmRarUnpack : public ProgressWindow {
    Q_OBJECT
public:
    static constexpr const char* kKind = "frmRarUnpack";
    static constexpr int kBarFullTwips = 3225;  // the width of shpProgressBack
    static constexpr int kStartTickMs =
        1024;  // tmrStart: the label on the first tick, the unpack on the second

    explicit FrmRarUnpack(frame::Registry& registry);

    zandrel::archive::UnRar UnRar;
    frame::Shape* shpBar;
    frame::Label* lbltime;
    frame::Shape* shpProgressBack;
    frame::TimerControl* tmrStart;

private:
    void tmrStart_Timer();
    void UnRar_ExtractProgress(std::int16_t percent);
    void UnRar_ExtractBytes(std::int64_t written, std::int64_t total);
    DownloadWindow* downloadWindow();
    void throwIfCancelled();

    bool extractionStarted_ = false;
    std::int64_t lastWritten_ = 0;
    std::int64_t lastTotal_ = 0;
};

}  // namespace zandrel::windows
