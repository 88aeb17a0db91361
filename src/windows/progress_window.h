#pragma once

#include "frame/form.h"

#include <QElapsedTimer>

namespace zandrel::windows {

// The five windows of the update and launch path share one look: a fixed dialog frame in the
// face colour, the logo at its natural size as the backmost control and a white, bold,
// right-aligned status label over its lower part. Each window gives its own values here.
struct ProgressLook {
    QString title = QStringLiteral("Form1");
    int clientWidth = 0;
    int clientHeight = 0;
    frame::FirstPosition position = frame::FirstPosition::CentreScreen;
    int logoLeft = 0;
    int logoTop = 0;
    QString status;  // the caption of lblPleaseWait
    int statusTop = 0;
};

class ProgressWindow : public frame::Form {
    Q_OBJECT
public:
    ProgressWindow(frame::Registry& registry, const char* kind, const ProgressLook& look);

    // The shared controls. The logo control bears the name frmRarDownload on every window.
    frame::Label* lblPleaseWait = nullptr;
    frame::Image* frmRarDownload = nullptr;

    // While a call holds the GUI thread: paints every window of the program that waits for it
    // (no input, no handler, no tick runs). Callers paint only when paintDue(), so at most 20
    // times a second: painting costs the held call next to nothing.
    bool paintDue() const;
    void paintNow();

protected:
    // Controls are added front to back: a window adds its own front controls, then the status
    // label, then any controls between it and the logo, then the logo last.
    void addPleaseWait();
    void addLogo();

    // From inside the window's own load handler: displays it now, in front and painted, before
    // the work that it stands for. The show that loads it then only brings it to the front.
    void displayNow();
    // Brings this window back in front of a window that was displayed after it, once the window
    // system has put that one on screen (it would otherwise come up over this one).
    void stayInFrontOf(QWidget& later);

private:
    ProgressLook look_;
    QElapsedTimer lastPaint_;
};

}  // namespace zandrel::windows
