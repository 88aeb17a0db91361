#include "progress_window.h"

#include "frame/busy_cursor.h"
#include "net/download_file.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QPainter>
#include <QThread>
#include <QWindow>

#include <algorithm>

namespace zandrel::windows {

using namespace frame;

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

// Waits (briefly, painting meanwhile) until the window system has put a window on screen.
void waitUntilOnScreen(Registry& registry, const QWidget& window) {
    QElapsedTimer waited;
    waited.start();
    while (!(window.windowHandle() && window.windowHandle()->isExposed()) &&
           waited.elapsed() < 1000) {
        registry.keepPainted();
        QThread::msleep(5);
    }
}

constexpr qint64 kPaintIntervalMs = 50;  // at most 20 paints a second
constexpr qint64 kRateWindowMs = 2000;   // the rate is taken over the last two seconds
constexpr qint64 kRateMinimumMs = 250;   // and shown once this much of it is there

}  // namespace

TransferBar::TransferBar(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void TransferBar::setFraction(double fraction) {
    fraction_ = std::clamp(fraction, 0.0, 1.0);
    busyAt_ = -1;
    update();
}

void TransferBar::stepBusy() {
    const int block = width() / 4;
    const int span = std::max(0, width() - block);
    if (busyAt_ < 0) busyAt_ = 0;
    busyAt_ += busyStep_;
    if (busyAt_ >= span || busyAt_ <= 0) {
        busyAt_ = std::clamp(busyAt_, 0, span);
        busyStep_ = -busyStep_;
    }
    update();
}

void TransferBar::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), kBlack);
    if (busyAt_ >= 0) {
        p.fillRect(QRect(busyAt_, 0, width() / 4, height()), kWhite);
    } else {
        p.fillRect(QRect(0, 0, qRound(width() * fraction_), height()), kWhite);
    }
    p.setPen(kWhite);
    p.drawRect(rect().adjusted(0, 0, -1, -1));
}

QString transferFigures(std::int64_t received, std::int64_t total, double bytesPerSecond) {
    const auto mb = [](double bytes) { return QString::number(bytes / 1e6, 'f', 1); };
    QString text = mb(double(received));
    text += total >= 0 ? QStringLiteral(" of ") + mb(double(total)) + QStringLiteral(" MB")
                       : QStringLiteral(" MB");
    if (bytesPerSecond >= 0)
        text += QStringLiteral(" \u00b7 ") + mb(bytesPerSecond) + QStringLiteral(" MB/s");
    return text;
}

ProgressWindow::ProgressWindow(Registry& registry, const char* kind, const ProgressLook& look)
    : Form(registry, kind, progressDesign(look)), look_(look) {}

void ProgressWindow::addPleaseWait() {
    lblPleaseWait = addLabel("lblPleaseWait", look_.status, {60, look_.statusTop, 4635, 405});
    lblPleaseWait->setFont(designFont(QStringLiteral("MS Sans Serif"), 13.5, true));
    lblPleaseWait->setAlignment(Qt::AlignRight | Qt::AlignTop);
    lblPleaseWait->setColours(kWhite, kBlack, /*transparent=*/true);
}

void ProgressWindow::addTransferProgress() {
    // Over the logo's black strip between the flag and the status label.
    shpTransfer = place(new TransferBar(this), "shpTransfer", {1440, 1500, 3225, 195});
    lblTransfer = addLabel("lblTransfer", QString(), {1440, 1710, 3225, 195});
    lblTransfer->setFont(designFont(QStringLiteral("MS Sans Serif"), 7.5));
    lblTransfer->setAlignment(Qt::AlignRight | Qt::AlignTop);
    lblTransfer->setColours(kWhite, kBlack, /*transparent=*/true);
}

void ProgressWindow::addLogo() {
    frmRarDownload = addImage("frmRarDownload", QStringLiteral(":/logo.png"),
                              {look_.logoLeft, look_.logoTop, 4740, 2355});
}

void ProgressWindow::displayNow() {
    // As the registry displays a window: centred on its first display, in front, activated.
    reg().display(*this);
    // Painted before the work starts.
    waitUntilOnScreen(reg(), *this);
    repaint();
    paintNow();
}

void ProgressWindow::stayInFrontOf(QWidget& later) {
    waitUntilOnScreen(reg(), later);
    if (QGuiApplication::platformName() != QLatin1String("offscreen")) raise();
    activateWindow();
    paintNow();
}

bool ProgressWindow::paintDue() const {
    return !lastPaint_.isValid() || lastPaint_.elapsed() >= kPaintIntervalMs;
}

void ProgressWindow::paintNow() {
    lastPaint_.start();
    reg().keepPainted();
}

void ProgressWindow::showTransfer(std::int64_t received, std::int64_t total) {
    const qint64 now = transferClock_.elapsed();
    samples_.push_back({now, received});
    while (samples_.size() > 2 && now - samples_[1].ms >= kRateWindowMs) samples_.pop_front();
    const Sample& first = samples_.front();
    const double rate = now - first.ms >= kRateMinimumMs
                            ? double(received - first.bytes) * 1000.0 / double(now - first.ms)
                            : -1.0;
    if (total > 0) {
        shpTransfer->setFraction(double(received) / double(total));
    } else if (total < 0) {
        shpTransfer->stepBusy();
    }
    lblTransfer->setText(transferFigures(received, total, rate));
}

void ProgressWindow::showUnpacking(std::int64_t written, std::int64_t total) {
    if (!shpTransfer) return;
    const double done = total > 0 ? std::clamp(double(written) / double(total), 0.0, 1.0) : 1.0;
    shpTransfer->setFraction(done);
    lblTransfer->setText(QStringLiteral("Unpacking %1 %").arg(int(done * 100)));
}

void ProgressWindow::download(Inet& inet, const QString& url, const QString& folder) {
    transferClock_.start();
    samples_.clear();
    inet.setIdleHook([this, &inet] {
        if (!paintDue()) return;
        showTransfer(inet.BytesReceived(), inet.BytesTotal());
        paintNow();
    });
    BusyCursor busy;
    BusyCursorBoxes boxes(reg().boxes(), busy);
    DownloadFile(inet, url, folder, boxes);  // the result is not used: on we go
    inet.setIdleHook({});
    if (inet.BytesTotal() != 0 || inet.BytesReceived() != 0) {
        showTransfer(inet.BytesReceived(), inet.BytesTotal());
    }
}

}  // namespace zandrel::windows
