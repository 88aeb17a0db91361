#include "frm_rar_unpack.h"

#include "base/platform.h"
#include "maps/map_folder.h"
#include "server/settings.h"
#include "windows/frm_finish.h"
#include "windows/frm_rar_download.h"

namespace zandrel::windows {

using namespace frame;

namespace {

const QString kPleaseWait = QStringLiteral("please wait...");

ProgressLook rarUnpackLook() {
    ProgressLook look;
    look.clientWidth = 4725;
    look.clientHeight = 2280;
    look.position = FirstPosition::CentreScreen;
    look.logoLeft = -30;
    look.logoTop = -30;
    look.status = QStringLiteral("Unpacking...");
    look.statusTop = 1560;
    return look;
}

}  // namespace

FrmRarUnpack::FrmRarUnpack(Registry& registry) : ProgressWindow(registry, kKind, rarUnpackLook()) {
    // Controls front to back (the unpacking component draws nothing the window uses).
    shpBar = addShape("shpBar", {1440, 1980, 135, 195}, kWhite, kWhite, /*solid=*/true);
    addPleaseWait();
    lbltime = addLabel("lbltime", kPleaseWait, {1440, 1980, 3225, 255});
    lbltime->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    lbltime->setColours(kWhite, kBlack, /*transparent=*/true);
    shpProgressBack = addShape("shpProgressBack", {1440, 1980, kBarFullTwips, 195}, kWhite, kBlack,
                               /*solid=*/true);
    addLogo();

    tmrStart = addTimer("tmrStart", kStartTickMs, true, [this] { tmrStart_Timer(); });
    // The component raises its progress while ExtractArchive runs, inside the tick's handler:
    // it is handled right there, not as a new entry from the event loop.
    UnRar.ExtractProgress = [this](std::int16_t percent) { UnRar_ExtractProgress(percent); };
    // The first time an update replaces a map, its original goes to the backup folder.
    UnRar.BeforeReplacing = [this](const QString& name) {
        maps::keepOriginal(reg().appFolder(), name);
    };
    // Painting only, while the extraction holds the GUI thread.
    UnRar.ExtractBytes = [this](std::int64_t written, std::int64_t total) {
        UnRar_ExtractBytes(written, total);
    };
}

void FrmRarUnpack::tmrStart_Timer() {
    if (lbltime->text() == kPleaseWait) {
        lbltime->setText(QStringLiteral("Unpacking..."));
        return;
    }
    // The timer keeps ticking after the extraction; the archive is unpacked once.
    if (extractionStarted_) return;
    if (auto* front = downloadWindow(); front && front->cancelRequested()) {
        return front->closeRoad();
    }
    extractionStarted_ = true;
    const QString app = reg().appFolder();
    try {
        UnRar.ExtractArchive(app + platform::kSep + server::kRarUpdateFile, maps::mapFolder(app));
    } catch (const UpdateCancelled&) {
        // Abandoned before the commit: the map folder is as it was, the staging folder gone.
        if (auto* front = downloadWindow()) front->closeRoad();
        return;
    }
    // The last figures, which the paint's throttle may have held back.
    if (auto* front = downloadWindow()) front->showUnpacking(lastWritten_, lastTotal_);
}

DownloadWindow* FrmRarUnpack::downloadWindow() {
    // Only a loaded one: naming it would otherwise load it, and its load fetches.
    return reg().isLoaded<FrmRarDownload>() ? &reg().form<FrmRarDownload>() : nullptr;
}

void FrmRarUnpack::UnRar_ExtractBytes(std::int64_t written, std::int64_t total) {
    lastWritten_ = written;
    lastTotal_ = total;
    throwIfCancelled();
    if (!paintDue()) return;
    // The download window lies in front of this one during the extraction: it shows the figures
    // and takes the player's cancel.
    if (auto* front = downloadWindow()) front->showUnpacking(written, total);
    paintNow();
    throwIfCancelled();
}

void FrmRarUnpack::throwIfCancelled() {
    auto* front = downloadWindow();
    if (front && front->cancelRequested()) throw UpdateCancelled{};
}

void FrmRarUnpack::UnRar_ExtractProgress(std::int16_t percent) {
    shpBar->setWidthTwips(static_cast<float>(percent * (kBarFullTwips / 100.0)));
    if (percent > 90) {
        if (auto* front = downloadWindow()) front->updateApplied();
        reg().show<FrmFinish>();
        reg().hide<FrmRarUnpack>();
    }
}

}  // namespace zandrel::windows
