#include "progress_window.h"

#include <QGuiApplication>
#include <QThread>
#include <QWindow>

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

}  // namespace zandrel::windows
