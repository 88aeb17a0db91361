#include "frm_ppf_apply.h"

#include "base/error.h"
#include "base/platform.h"
#include "base/printable.h"
#include "game/launch_plans.h"
#include "maps/map_folder.h"
#include "server/settings.h"
#include "windows/frm_finish.h"
#include "windows/frm_svr_info.h"

#include <QCloseEvent>
#include <QShortcut>

namespace zandrel::windows {

using namespace frame;

namespace {

ProgressLook ppfApplyLook() {
    ProgressLook look;
    look.clientWidth = 4710;
    look.clientHeight = 2325;
    look.position = FirstPosition::SystemDefault;
    look.logoLeft = 0;
    look.logoTop = 0;
    look.status = QStringLiteral("Applying PPF...");
    look.statusTop = 1920;
    return look;
}

}  // namespace

FrmPPFApply::FrmPPFApply(Registry& registry) : ProgressWindow(registry, kKind, ppfApplyLook()) {
    // Controls front to back.
    Label1 = addLabel("Label1", QStringLiteral("\""), {0, 2370, 975, 165});
    Label1->setAutoFillBackground(true);
    shpProg = addShape("shpProg", {1290, 2040, 45, 165}, kWhite, kWhite, /*solid=*/true);
    shpProgBack = addShape("shpProgBack", {1290, 2040, 1125, 165}, kWhite, kBlack, /*solid=*/true);
    // Left of the bar, once the tool has taken longer than the bar.
    cmdCancel = place(new StripButton(this), "cmdCancel", {435, 2025, 690, 195});
    cmdCancel->setText(QStringLiteral("Cancel"));
    cmdCancel->hide();
    connect(cmdCancel, &StripButton::clicked, this, handler([this] { cmdCancel_Click(); }));
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    escape->setContext(Qt::WindowShortcut);
    connect(escape, &QShortcut::activated, this, handler([this] {
                if (cmdCancel->isVisible()) cmdCancel_Click();
            }));
    addPleaseWait();
    addLogo();

    tmrCheck = addTimer("tmrCheck", 50, true, [this] { tmrCheck_Timer(); });
}

void FrmPPFApply::load() {
    const QString target = reg().form<FrmSvrInfo>().targetMap();
    if (!server::isPlainMapFileName(target)) {
        throw Error(
            ErrorNumber::BadFileName,
            QStringLiteral("Bad file name: the target map \"%1\" is not a file of the maps folder")
                .arg(printable(target)),
            QString::fromLatin1(kKind));
    }
    target_ = target;
    // The first time an update patches a map, its original goes to the backup folder; without
    // that copy the map is not patched.
    try {
        maps::keepOriginal(reg().appFolder(), target);
    } catch (const Error& e) {
        notStarted_ = QStringLiteral("Its original could not be kept in the backup folder: ") +
                      e.description();
        return;
    }
    // The tool runs as our child: the window moves on once it has ended and reports a refusal.
    try {
        platform::startObserved(tool_, game::patchToolPlan(reg().appFolder(), target));
    } catch (const Error& e) {
        notStarted_ = QStringLiteral("The patch tool could not be started: ") + e.description();
    }
}

void FrmPPFApply::tmrCheck_Timer() {
    // The bar keeps its designed pace; once it is full the ticks only wait for the tool.
    if (shpProg->widthTwips() <= 1120) shpProg->setWidthTwips(shpProg->widthTwips() + 20);
    keepToolErrorTail();
    if (shpProg->widthTwips() <= 1120) return;
    if (!toolEnded()) {
        cmdCancel->show();
        return;
    }
    cmdCancel->hide();
    tmrCheck->setEnabled(false);
    const QString why = whyNotApplied();
    if (!why.isEmpty()) {
        reg().msgBox(QStringLiteral("The map update was not applied: %1 is as it was.\r\n\r\n%2")
                         .arg(printable(target_), why),
                     MsgIcon::Critical);
    }
    reg().show<FrmFinish>();
    reg().hide<FrmPPFApply>();
}

void FrmPPFApply::cmdCancel_Click() {
    if (toolEnded()) return;  // it ended meanwhile: the next tick goes on as usual
    tmrCheck->setEnabled(false);
    stopTool();
    reg().show<FrmSvrInfo>();
    reg().unload(*this);
}

// Asked to end first; a tool that does not is killed.
void FrmPPFApply::stopTool() {
    tool_.terminate();
    if (!tool_.waitForFinished(kTermWaitMs)) {
        tool_.kill();
        // SIGKILL cannot be refused, but on a busy machine the tool may take longer than the
        // first wait to be scheduled and die; returning sooner would leave it running or
        // unreaped past the window.
        tool_.waitForFinished(kKillWaitMs);
    }
    maps::removeLeftovers(maps::mapFolder(reg().appFolder()));
}

void FrmPPFApply::closeEvent(QCloseEvent* event) {
    if (!cmdCancel->isVisible()) {
        ProgressWindow::closeEvent(event);
        return;
    }
    event->ignore();
    reg().dispatch([this] { cmdCancel_Click(); });
}

bool FrmPPFApply::toolEnded() {
    if (tool_.state() == QProcess::NotRunning) return true;
    // Looks without waiting: the tick must not hold the GUI thread.
    tool_.waitForFinished(0);
    return tool_.state() == QProcess::NotRunning;
}

void FrmPPFApply::keepToolErrorTail() {
    if (!tool_.isOpen()) return;  // never started
    errorTail_ += tool_.readAllStandardError();
    if (errorTail_.size() > kErrorTailBytes) errorTail_ = errorTail_.right(kErrorTailBytes);
}

QString FrmPPFApply::whyNotApplied() {
    if (!notStarted_.isEmpty()) return notStarted_;
    keepToolErrorTail();
    // The tool says why in one line on standard error: its last line that holds anything.
    QString line;
    const QStringList lines = QString::fromUtf8(errorTail_).split(QLatin1Char('\n'));
    for (auto it = lines.rbegin(); it != lines.rend() && line.isEmpty(); ++it) {
        line = it->trimmed();
    }
    line = printable(line.left(kErrorLineChars));
    if (tool_.exitStatus() == QProcess::CrashExit) {
        return QStringLiteral("The patch tool stopped before it had finished.") +
               (line.isEmpty() ? QString() : QStringLiteral("\r\n") + line);
    }
    if (tool_.exitCode() == 0) return {};
    return QStringLiteral("The patch tool ended with status %1").arg(tool_.exitCode()) +
           (line.isEmpty() ? QStringLiteral(".") : QStringLiteral(":\r\n") + line);
}

}  // namespace zandrel::windows
