#include "windows/transfer_bar.h"

#include "frame/controls.h"

#include <QEnterEvent>
#include <QGuiApplication>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace zandrel::windows {

using namespace frame;

namespace {

constexpr qint64 kRateWindowMs = 2000;  // the rate is taken over the last two seconds
constexpr qint64 kRateMinimumMs = 250;  // and shown once this much of it is there

const QColor kDimmed(0x80, 0x80, 0x80);  // a strip button that no longer acts

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

StripButton::StripButton(QWidget* parent) : QAbstractButton(parent) {
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_Hover);
    setFont(designFont(QStringLiteral("MS Sans Serif"), 7.5));
    setCursor(Qt::ArrowCursor);
}

void StripButton::paintEvent(QPaintEvent*) {
    const bool lit = isEnabled() && (isDown() || underMouse());
    QPainter p(this);
    p.fillRect(rect(), lit ? kWhite : kBlack);
    p.setPen(isEnabled() ? kWhite : kDimmed);
    p.drawRect(rect().adjusted(0, 0, -1, -1));
    p.setPen(lit ? kBlack : isEnabled() ? kWhite : kDimmed);
    p.drawText(rect(), Qt::AlignCenter, text());
}

void StripButton::enterEvent(QEnterEvent* event) {
    const QCursor* cursor = QGuiApplication::overrideCursor();
    if (cursor && cursor->shape() == Qt::WaitCursor) {
        QGuiApplication::changeOverrideCursor(Qt::ArrowCursor);
        arrowOverWait_ = true;
    }
    QAbstractButton::enterEvent(event);
}

void StripButton::leaveEvent(QEvent* event) {
    // Unless the held work has ended meanwhile and taken its cursor away.
    if (arrowOverWait_ && QGuiApplication::overrideCursor())
        QGuiApplication::changeOverrideCursor(Qt::WaitCursor);
    arrowOverWait_ = false;
    QAbstractButton::leaveEvent(event);
}

QString transferFigures(std::int64_t received, std::int64_t total, double bytesPerSecond) {
    const auto mb = [](double bytes) { return QString::number(bytes / 1e6, 'f', 1); };
    QString text = mb(static_cast<double>(received));
    text += total >= 0
                ? QStringLiteral(" of ") + mb(static_cast<double>(total)) + QStringLiteral(" MB")
                : QStringLiteral(" MB");
    if (bytesPerSecond >= 0)
        text += QStringLiteral(" \u00b7 ") + mb(bytesPerSecond) + QStringLiteral(" MB/s");
    if (bytesPerSecond > 0 && total > received) {
        const double seconds = static_cast<double>(total - received) / bytesPerSecond;
        text += QStringLiteral(" \u00b7 ") + timeLeft(seconds);
    }
    return text;
}

QString timeLeft(double seconds) {
    const auto whole = [](double n) { return QString::number(std::max(1.0, std::round(n))); };
    if (seconds < 59.5) return whole(seconds) + QStringLiteral(" s left");
    if (seconds < 90 * 60) return whole(seconds / 60) + QStringLiteral(" min left");
    return whole(seconds / 3600) + QStringLiteral(" h left");
}

void TransferRate::start() {
    clock_.start();
    samples_.clear();
}

double TransferRate::update(std::int64_t received) {
    const qint64 now = clock_.elapsed();
    samples_.push_back({now, received});
    while (samples_.size() > 2 && now - samples_[1].ms >= kRateWindowMs) samples_.pop_front();
    const Sample& first = samples_.front();
    if (now - first.ms < kRateMinimumMs) return -1.0;
    return static_cast<double>(received - first.bytes) * 1000.0 /
           static_cast<double>(now - first.ms);
}

QString resumingLine(int retry, int retries) {
    return QStringLiteral("Connection lost, resuming (%1 of %2)\u2026").arg(retry).arg(retries);
}

}  // namespace zandrel::windows
