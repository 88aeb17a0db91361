#pragma once

#include "windows/progress_window.h"

#include <QByteArray>
#include <QProcess>

namespace zandrel::windows {

// The PPF apply window: its load handler starts the patch tool on the target map as a child;
// its timer fills the bar in a fixed time and, once the tool has ended too, brings up the game
// launch window, after a critical message box when the tool did not apply the patch.
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

private:
    void tmrCheck_Timer();
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
