#pragma once

#include "windows/progress_window.h"
#include "windows/transfer_bar.h"

#include <QByteArray>
#include <QProcess>

namespace zandrel::windows {

// The PPF apply window: its load handler starts the patch tool on the target map as a child;
// its timer fills the bar in a fixed time and, once the tool has ended too, brings up the game
// launch window, after a critical message box when the tool did not apply the patch. A tool
// still running once the bar is full can be stopped: Cancel comes up on the strip (Escape and
// the close box do the same), the tool is ended, what it left half-written is removed (it
// writes the map atomically, so the map is as it was) and the server window comes back.
class FrmPPFApply : public ProgressWindow {
    Q_OBJECT
public:
    static constexpr const char* kKind = "frmPPFApply";
    explicit FrmPPFApply(frame::Registry& registry);
    void load() override;

    frame::TimerControl* tmrCheck;
    frame::Label*
        Label1;  // never seen; its caption is the quote character of the patch command line
    frame::Shape* shpProg;
    frame::Shape* shpProgBack;
    StripButton* cmdCancel;

    static constexpr int kTermWaitMs = 1000;   // after SIGTERM, before SIGKILL
    static constexpr int kKillWaitMs = 30000;  // after SIGKILL, until it is reaped

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void tmrCheck_Timer();
    void cmdCancel_Click();
    void stopTool();
    bool toolEnded();
    void keepToolErrorTail();
    QString whyNotApplied();  // empty when the tool applied the patch

    static constexpr qsizetype kErrorTailBytes = 4096;
    static constexpr qsizetype kErrorLineChars = 300;

    QProcess tool_;
    QString notStarted_;  // why the tool could not be started
    QByteArray errorTail_;
    QString target_;
};

}  // namespace zandrel::windows
