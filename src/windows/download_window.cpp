#include "windows/download_window.h"

#include "base/platform.h"
#include "frame/busy_cursor.h"
#include "maps/map_folder.h"
#include "net/download_file.h"
#include "net/server_url.h"
#include "windows/frm_splash.h"
#include "windows/frm_svr_info.h"

#include <QCloseEvent>
#include <QFileInfo>
#include <QShortcut>
#include <QWindow>

#include <algorithm>

namespace zandrel::windows {

using namespace frame;

namespace {

// The transfer's report of a failure, with what it means for the update after it: one box.
class NotDownloadedBoxes : public MessageBoxes {
public:
    explicit NotDownloadedBoxes(MessageBoxes& boxes) : boxes_(boxes) {}
    void show(const QString& prompt, MsgIcon icon, const QString& title) override {
        shown = true;
        boxes_.show(prompt + QStringLiteral("\r\n\r\n") + DownloadWindow::kNotDownloaded, icon,
                    title);
    }
    bool shown = false;

private:
    MessageBoxes& boxes_;
};

}  // namespace

UpdateFetch updateFetch(bool downloaded, const net::FetchInfo& fetch) {
    if (!downloaded || !fetch.complete) return UpdateFetch::NotFetched;
    // DownloadFile asks conditionally only for a file that came from this very address and is
    // unchanged since, so a 304 confirms exactly the file in place.
    return fetch.notModified ? UpdateFetch::Confirmed : UpdateFetch::Stored;
}

bool isCurrentUpdate(UpdateFetch fetch) {
    return fetch == UpdateFetch::Stored || fetch == UpdateFetch::Confirmed;
}

const QString DownloadWindow::kNotDownloaded = QStringLiteral(
    "The map update could not be downloaded, so nothing was applied: your maps are as they "
    "were.");

DownloadWindow::DownloadWindow(Registry& registry, const char* kind, const ProgressLook& look,
                               QString updateFile, QString loadTitle)
    : ProgressWindow(registry, kind, look),
      updateFile_(std::move(updateFile)),
      loadTitle_(std::move(loadTitle)) {}

void DownloadWindow::addControls() {
    // On the strip, left of the figures line.
    cmdCancel = place(new StripButton(this), "cmdCancel", {1440, 1710, 690, 195});
    cmdCancel->setText(QStringLiteral("Cancel"));
    connect(cmdCancel, &StripButton::clicked, this, [this] { cancelUpdate(); });
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    escape->setContext(Qt::WindowShortcut);
    connect(escape, &QShortcut::activated, this, [this] { cancelUpdate(); });
    addPleaseWait();
    // Over the logo's black strip between the flag and the status label.
    shpTransfer = place(new TransferBar(this), "shpTransfer", {1440, 1500, 3225, 195});
    lblTransfer = addLabel("lblTransfer", QString(), {1440, 1710, 3225, 195});
    lblTransfer->setFont(designFont(QStringLiteral("MS Sans Serif"), 7.5));
    lblTransfer->setAlignment(Qt::AlignRight | Qt::AlignTop);
    lblTransfer->setColours(kWhite, kBlack, /*transparent=*/true);
    addLogo();
}

void DownloadWindow::load() {
    setWindowTitle(loadTitle_);
    reg().admitInputWhileBusy(*this);
    keepAboveServerWindow();
    // On screen before the fetch, which holds the GUI thread: the player watches it arrive.
    displayNow();
    const QString address = reg().form<FrmSplash>().address();
    if (cancelRequested_) return notDownloaded();
    if (holdsAnnouncedUpdate()) return apply();
    const UpdateFetch got = fetch(net::serverFileUrl(address, updateFile_));
    if (cancelRequested_ || !isCurrentUpdate(got)) return notDownloaded();
    apply();
}

// The update file in the folder has the SHA-256 (and size) this server's settings announce: it
// is this server's current update, and nothing needs downloading.
bool DownloadWindow::holdsAnnouncedUpdate() {
    const FrmSvrInfo& server = reg().form<FrmSvrInfo>();
    if (server.UpdateSha256.state != server::Announced::Valid) return false;
    const std::int64_t size =
        server.UpdateSize.state == server::Announced::Valid ? server.UpdateSize.value : -1;
    const QString file = folder() + platform::kSep + updateFile_;
    if (!maps::hasDigest(file, server.UpdateSha256.value, size)) return false;
    const std::int64_t bytes = QFileInfo(file).size();
    shpTransfer->setFraction(1.0);
    lblTransfer->setText(transferFigures(bytes, bytes, -1) +
                         QStringLiteral(" \u00b7 already here"));
    paintNow();
    return true;
}

// Owned by the server window, still on screen behind during the fetch: the window manager keeps
// it above that window, so a click there cannot bury the Cancel.
void DownloadWindow::keepAboveServerWindow() {
    if (!reg().isVisible<FrmSvrInfo>()) return;
    QWidget& server = reg().form<FrmSvrInfo>();
    winId();  // the window-system windows, to be tied together before the first display
    windowHandle()->setTransientParent(server.windowHandle());
}

void DownloadWindow::cancelUpdate() {
    if (!cancellable_ || cancelRequested_) return;
    cancelRequested_ = true;
    cmdCancel->setEnabled(false);
    Inet1.cancel();
    // Outside held work the road ends now; inside it the dispatcher refuses this, and the held
    // work ends on the request instead.
    reg().dispatch([this] { closeRoad(); });
}

void DownloadWindow::closeRoad() {
    unloadLaterWindows();
    reg().show<FrmSvrInfo>();
    reg().unload(*this);
}

void DownloadWindow::updateApplied() {
    cancellable_ = false;
    cmdCancel->hide();
    reg().refuseInputWhileBusy(*this);
}

void DownloadWindow::closeEvent(QCloseEvent* event) {
    if (!cancellable_) {
        ProgressWindow::closeEvent(event);
        return;
    }
    event->ignore();
    cancelUpdate();
}

// The GUI thread is held meanwhile: the bar and figures follow the transfer, windows on screen
// are kept painted and the busy cursor is shown, but nothing of the program runs.
UpdateFetch DownloadWindow::fetch(const QString& url) {
    rate_.start();
    Inet1.setIdleHook([this] {
        if (!paintDue()) return;
        showTransfer();
        paintNow();
    });
    BusyCursor busy;
    BusyCursorBoxes busyBoxes(reg().boxes(), busy);
    NotDownloadedBoxes boxes(busyBoxes);
    const bool downloaded = net::DownloadUpdate(Inet1, sources(url), announced(), folder(), boxes);
    Inet1.setIdleHook({});
    if (Inet1.BytesTotal() != 0 || Inet1.BytesReceived() != 0) showTransfer();
    const UpdateFetch got = updateFetch(downloaded, Inet1.LastFetch());
    // A fetch that failed without a report of its own (the transfer was busy) is told too; a
    // cancelled one is the player's own doing.
    if (!isCurrentUpdate(got) && !boxes.shown && !cancelRequested_) {
        busyBoxes.show(kNotDownloaded, MsgIcon::Information, QString());
    }
    return got;
}

// The server's own address, then the mirrors its settings, fetched now, name.
QStringList DownloadWindow::sources(const QString& url) {
    QStringList urls{url};
    for (const auto& mirror : reg().form<FrmSvrInfo>().Mirrors)
        if (mirror.state == server::Announced::Valid)
            urls.append(mirror.value.toString(QUrl::FullyEncoded));
    return urls;
}

// What this server's settings, fetched now, announce about its update.
net::AnnouncedUpdate DownloadWindow::announced() {
    const FrmSvrInfo& server = reg().form<FrmSvrInfo>();
    net::AnnouncedUpdate update;
    if (server.UpdateSha256.state == server::Announced::Valid)
        update.sha256 = server.UpdateSha256.value;
    if (server.UpdateSize.state == server::Announced::Valid) update.size = server.UpdateSize.value;
    return update;
}

// Nothing is applied. Unloaded, the window is fetched afresh by the next "Download and Apply".
void DownloadWindow::notDownloaded() {
    reg().unload(*this);
}

void DownloadWindow::showTransfer() {
    const std::int64_t received = Inet1.BytesReceived();
    const std::int64_t total = Inet1.BytesTotal();
    const double rate = rate_.update(received);
    if (total > 0) {
        shpTransfer->setFraction(static_cast<double>(received) / static_cast<double>(total));
    } else if (total < 0) {
        shpTransfer->stepBusy();
    }
    const net::Inet::Stage& stage = Inet1.CurrentStage();
    QString line = Inet1.Waiting() ? resumingLine(stage.retry, stage.retries)
                                   : transferFigures(received, total, rate);
    if (stage.source > 0) line = QStringLiteral("Mirror %1 · ").arg(stage.source) + line;
    lblTransfer->setText(line);
}

void DownloadWindow::showUnpacking(std::int64_t written, std::int64_t total) {
    const double done =
        total > 0 ? std::clamp(static_cast<double>(written) / static_cast<double>(total), 0.0, 1.0)
                  : 1.0;
    shpTransfer->setFraction(done);
    lblTransfer->setText(QStringLiteral("Unpacking %1 %").arg(static_cast<int>(done * 100)));
}

}  // namespace zandrel::windows
