#pragma once

#include "frame/form.h"
#include "net/inet.h"

namespace zandrel {

// The five windows of the update and launch path share one look: a fixed dialog frame in the
// face colour, the logo at its natural size as the backmost control and a white, bold,
// right-aligned status label over its lower part. Each window gives its own values here.
struct ProgressLook {
    QString title = QStringLiteral("Form1");
    int clientWidth = 0;
    int clientHeight = 0;
    FirstPosition position = FirstPosition::CentreScreen;
    int logoLeft = 0;
    int logoTop = 0;
    QString status;  // the caption of lblPleaseWait
    int statusTop = 0;
};

class ProgressWindow : public Form {
    Q_OBJECT
public:
    ProgressWindow(Registry& registry, const char* kind, const ProgressLook& look);

    // The shared controls. The logo control bears the name frmRarDownload on every window.
    Label* lblPleaseWait = nullptr;
    Image* frmRarDownload = nullptr;

protected:
    // Controls are added front to back: a window adds its own front controls, then the status
    // label, then any controls between it and the logo, then the logo last.
    void addPleaseWait();
    void addLogo();

    // Fetches url into folder with the window's own transfer component (DownloadFile reports
    // a failure itself). The GUI thread is held meanwhile: windows on screen are kept painted
    // and the busy cursor is shown, but nothing of the program runs.
    void download(Inet& inet, const QString& url, const QString& folder);

private:
    ProgressLook look_;
};

}  // namespace zandrel
