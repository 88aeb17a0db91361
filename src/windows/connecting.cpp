#include "windows/connecting.h"

#include "frame/registry.h"
#include "frame/shown_text.h"

namespace zandrel::windows {

using namespace frame;

Connecting::Connecting(Form& window, Label& line, TextBox& address)
    : QObject(&window), window_(window), line_(line), address_(address) {
    line_.hide();
    escape_ = new QShortcut(QKeySequence(Qt::Key_Escape), &window_);
    escape_->setContext(Qt::WindowShortcut);
    escape_->setEnabled(false);  // Escape does nothing on the start window otherwise
    connect(escape_, &QShortcut::activated, this, [this] { ask(StopAsked::Escape); });
}

QString Connecting::lineFor(const QString& address) {
    return QStringLiteral("Connecting to %1\u2026\nPress Escape to stop.").arg(shownText(address));
}

void Connecting::begin(std::function<void()> stopFetch) {
    stopFetch_ = std::move(stopFetch);
    asked_ = StopAsked::Nothing;
    active_ = true;
    wasReadOnly_ = address_.isReadOnly();
    address_.setReadOnly(true);
    line_.setText(lineFor(address_.text()));
    line_.show();
    escape_->setEnabled(true);
    window_.reg().admitInputWhileBusy(window_);
    // On screen before the fetch, which holds the GUI thread, begins.
    window_.repaint();
    window_.reg().keepPainted();
}

void Connecting::end() {
    if (!active_) return;
    active_ = false;
    stopFetch_ = {};
    escape_->setEnabled(false);
    window_.reg().refuseInputWhileBusy(window_);
    address_.setReadOnly(wasReadOnly_);
    line_.hide();
}

void Connecting::ask(StopAsked what) {
    if (!active_ || asked_ != StopAsked::Nothing) return;
    asked_ = what;
    if (stopFetch_) stopFetch_();
}

ConnectingSign::ConnectingSign(Connecting& connecting, MessageBoxes& boxes,
                               std::function<void()> stopFetch)
    : connecting_(connecting), boxes_(boxes) {
    connecting_.begin(std::move(stopFetch));
}

ConnectingSign::~ConnectingSign() {
    connecting_.end();
}

void ConnectingSign::show(const QString& prompt, MsgIcon icon, const QString& title) {
    connecting_.end();
    boxes_.show(prompt, icon, title);
}

}  // namespace zandrel::windows
