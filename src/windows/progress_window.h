#pragma once

#include "frame/form.h"
#include "net/inet.h"

#include <QElapsedTimer>

#include <cstdint>
#include <deque>

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

// A progress bar in the look of the unpack window's bar: a black strip in a white border that
// fills with white from the left. With no known total a white block moves back and forth.
class TransferBar : public QWidget {
    Q_OBJECT
public:
    explicit TransferBar(QWidget* parent);

    void setFraction(double fraction);  // 0 to 1
    void stepBusy();                    // unknown total: the block moves on
    double fraction() const { return fraction_; }
    bool busy() const { return busyAt_ >= 0; }

protected:
    void paintEvent(QPaintEvent*) override;

private:
    double fraction_ = 0;
    int busyAt_ = -1;  // left edge of the moving block, in pixels; -1 when filling
    int busyStep_ = 4;
};

// "41.2 of 128.0 MB · 3.1 MB/s": what has arrived, the total when known (negative: unknown) and
// the rate when known (negative: not yet). 1 MB is 1,000,000 bytes.
QString transferFigures(std::int64_t received, std::int64_t total, double bytesPerSecond);

class ProgressWindow : public frame::Form {
    Q_OBJECT
public:
    ProgressWindow(frame::Registry& registry, const char* kind, const ProgressLook& look);

    // The shared controls. The logo control bears the name frmRarDownload on every window.
    frame::Label* lblPleaseWait = nullptr;
    frame::Image* frmRarDownload = nullptr;

    // The download windows' progress: a bar and one small line of figures over the logo.
    TransferBar* shpTransfer = nullptr;
    frame::Label* lblTransfer = nullptr;

    // The extraction's progress on the bar and line ("Unpacking 45 %"), for the download window
    // that stays in front of the unpack window.
    void showUnpacking(std::int64_t written, std::int64_t total);

    // While a call holds the GUI thread: paints every window of the program that waits for it
    // (no input, no handler, no tick runs). Callers paint only when paintDue(), so at most 20
    // times a second: painting costs the held call next to nothing.
    bool paintDue() const;
    void paintNow();

protected:
    // Controls are added front to back: a window adds its own front controls, then the status
    // label, then any controls between it and the logo, then the logo last.
    void addPleaseWait();
    void addTransferProgress();
    void addLogo();

    // From inside the window's own load handler: displays it now, in front and painted, before
    // the work that it stands for. The show that loads it then only brings it to the front.
    void displayNow();
    // Brings this window back in front of a window that was displayed after it, once the window
    // system has put that one on screen (it would otherwise come up over this one).
    void stayInFrontOf(QWidget& later);

    // Fetches url into folder with the window's own transfer component (DownloadFile reports
    // a failure itself). The GUI thread is held meanwhile: the bar and figures follow the
    // transfer, windows on screen are kept painted and the busy cursor is shown, but nothing
    // of the program runs.
    void download(Inet& inet, const QString& url, const QString& folder);

private:
    void showTransfer(std::int64_t received, std::int64_t total);

    struct Sample {
        qint64 ms;
        std::int64_t bytes;
    };

    ProgressLook look_;
    QElapsedTimer lastPaint_;
    QElapsedTimer transferClock_;
    std::deque<Sample> samples_;  // the last seconds of the transfer, for its rate
};

}  // namespace zandrel::windows
