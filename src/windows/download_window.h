#pragma once

#include "net/download_file.h"
#include "net/inet.h"
#include "windows/progress_window.h"
#include "windows/transfer_bar.h"

#include <cstdint>

namespace zandrel::windows {

// What a download window's fetch says about the update file in its folder.
enum class UpdateFetch {
    Stored,     // this fetch stored it: a complete 200
    Confirmed,  // this fetch confirmed it: a 304 answering our conditional request for it
    NotFetched  // anything else: what lies there (if anything) is not known to be this update
};

// downloaded is DownloadFile's result, fetch the transfer's account of the same request.
UpdateFetch updateFetch(bool downloaded, const net::FetchInfo& fetch);

// Only this server's current update is ever applied: a file this fetch stored or confirmed, or
// (without a fetch) a file whose bytes have the SHA-256 the server's settings announce.
bool isCurrentUpdate(UpdateFetch fetch);

// Thrown out of work the player cancelled (the unpack's progress handler) to end it there.
struct UpdateCancelled {};

// The two download windows, RAR and PPF: the load handler displays the window, fetches the
// server's update file into the window's folder with the bar and the figures following the
// transfer, and goes on to the window that applies it. When the fetch did not give this
// server's current update, nothing is applied: the player is told so, in the same box as the
// transfer's own report, and the window unloads itself, so the server window, still on screen,
// stays there to try again.
//
// Cancel (the button on the strip, Escape, the close box) works during the transfer and the
// unpack, while they hold the GUI thread: the window is the one whose input the registry lets
// through then, and the click only marks the request, which the held work reads and ends on
// (the transfer within a paint interval, the unpack at its next block). Nothing is applied, no
// box is shown, and the server window comes back.
class DownloadWindow : public ProgressWindow {
    Q_OBJECT
public:
    net::Inet Inet1;

    // The progress: a bar and one small line of figures over the logo's black strip.
    TransferBar* shpTransfer = nullptr;
    frame::Label* lblTransfer = nullptr;
    StripButton* cmdCancel = nullptr;

    // The player's cancel, from any of its three controls; also from inside held work.
    void cancelUpdate();
    bool cancelRequested() const { return cancelRequested_; }
    // Ends the road after a cancel: its other windows go, the server window comes back.
    void closeRoad();
    // The update is in place: from now on there is nothing a cancel could undo.
    void updateApplied();

    // The extraction's progress on the bar and line ("Unpacking 45 %"), for the RAR download
    // window that stays in front of the unpack window.
    void showUnpacking(std::int64_t written, std::int64_t total);

    // Follows the transfer's report when the update was not downloaded.
    static const QString kNotDownloaded;

    void load() override;

protected:
    // updateFile: the file's name on the server and in the folder; loadTitle: the title the
    // load sets.
    DownloadWindow(frame::Registry& registry, const char* kind, const ProgressLook& look,
                   QString updateFile, QString loadTitle);

    // The status label, the transfer's bar and line, the logo: front to back.
    void addControls();

    // Where the update file is stored.
    virtual QString folder() = 0;
    // Goes on to apply this server's current update (the next window of the road).
    virtual void apply() = 0;
    // Unloads the windows of the road after this one (the unpack window).
    virtual void unloadLaterWindows() {}

    void closeEvent(QCloseEvent* event) override;

private:
    void keepAboveServerWindow();
    bool holdsAnnouncedUpdate();
    UpdateFetch fetch(const QString& url);
    QStringList sources(const QString& url);
    net::AnnouncedUpdate announced();
    void showTransfer();
    void notDownloaded();

    QString updateFile_;
    QString loadTitle_;
    TransferRate rate_;
    bool cancellable_ = true;
    bool cancelRequested_ = false;
};

}  // namespace zandrel::windows
