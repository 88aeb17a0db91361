#include "progress_window.h"

#include "net/download_file.h"

#include <QGuiApplication>

namespace zandrel {

namespace {

Design progressDesign(const ProgressLook& look) {
    Design d;
    d.title = look.title;
    d.clientWidth = look.clientWidth;
    d.clientHeight = look.clientHeight;
    d.border = Border::FixedDialog;
    d.inTaskBar = false;
    d.position = look.position;
    // No background: the system face colour, which the logo hides almost everywhere.
    return d;
}

// The wait cursor while the fetch holds the GUI thread.
class BusyCursor {
public:
    BusyCursor() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
    ~BusyCursor() { release(); }
    void release() {
        if (on_) QGuiApplication::restoreOverrideCursor();
        on_ = false;
    }

private:
    bool on_ = true;
};

// A failure report is read with the ordinary cursor.
class BusyCursorBoxes : public MessageBoxes {
public:
    BusyCursorBoxes(MessageBoxes& boxes, BusyCursor& busy) : boxes_(boxes), busy_(busy) {}
    void show(const QString& prompt, MsgIcon icon, const QString& title) override {
        busy_.release();
        boxes_.show(prompt, icon, title);
    }

private:
    MessageBoxes& boxes_;
    BusyCursor& busy_;
};

}  // namespace

ProgressWindow::ProgressWindow(Registry& registry, const char* kind, const ProgressLook& look)
    : Form(registry, kind, progressDesign(look)), look_(look) {}

void ProgressWindow::addPleaseWait() {
    lblPleaseWait = addLabel("lblPleaseWait", look_.status, {60, look_.statusTop, 4635, 405});
    lblPleaseWait->setFont(designFont(QStringLiteral("MS Sans Serif"), 13.5, true));
    lblPleaseWait->setAlignment(Qt::AlignRight | Qt::AlignTop);
    lblPleaseWait->setColours(kWhite, kBlack, /*transparent=*/true);
}

void ProgressWindow::addLogo() {
    frmRarDownload = addImage("frmRarDownload", QStringLiteral(":/logo.png"),
                              {look_.logoLeft, look_.logoTop, 4740, 2355});
}

void ProgressWindow::download(Inet& inet, const QString& url, const QString& folder) {
    inet.setIdleHook([this] { reg().keepPainted(); });
    BusyCursor busy;
    BusyCursorBoxes boxes(reg().boxes(), busy);
    DownloadFile(inet, url, folder, boxes);  // the result is not used: on we go
}

}  // namespace zandrel
