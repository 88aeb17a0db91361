#pragma once

#include <QAbstractButton>
#include <QElapsedTimer>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <deque>

namespace zandrel::windows {

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

// A button in the look of the bar, for the black strip: white text in a white border on black,
// white with black text while pressed or hovered. It takes no focus: Escape is the window's.
class StripButton : public QAbstractButton {
    Q_OBJECT
public:
    explicit StripButton(QWidget* parent);

protected:
    void paintEvent(QPaintEvent*) override;
    // Over the button the arrow replaces held work's wait cursor: this button works then.
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    bool arrowOverWait_ = false;
};

// "41.2 of 128.0 MB · 3.1 MB/s · 28 s left": what has arrived, the total when known (negative:
// unknown), the rate when known (negative: not yet) and, with both, the time left at that rate.
// 1 MB is 1,000,000 bytes.
QString transferFigures(std::int64_t received, std::int64_t total, double bytesPerSecond);
// "Connection lost, resuming (2 of 5)…": the pause before the retry-th of retries tries.
QString resumingLine(int retry, int retries);
// "3 s left", "4 min left" (from a minute on), "10 h left" (from an hour and a half on), rounded
// to the nearest and never below 1.
QString timeLeft(double seconds);

// The rate of a transfer over its last two seconds, from the byte counts seen along the way.
class TransferRate {
public:
    void start();
    // Notes the bytes received by now; gives the rate in bytes a second, or -1 while less than
    // a quarter of a second of the transfer has been seen.
    double update(std::int64_t received);

private:
    struct Sample {
        qint64 ms;
        std::int64_t bytes;
    };
    QElapsedTimer clock_;
    std::deque<Sample> samples_;
};

}  // namespace zandrel::windows
