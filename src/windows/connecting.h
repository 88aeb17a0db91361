#pragma once

#include "base/messages.h"
#include "frame/controls.h"
#include "frame/form.h"

#include <QObject>
#include <QShortcut>

#include <functional>

namespace zandrel::windows {

// What the player asked for while Connect's fetch held the GUI thread.
enum class StopAsked {
    Nothing,
    Escape,    // stop connecting: the start window stays, with the address as typed
    Exit,      // "Exit Zandrel": the program ends
    CloseBox,  // the start window's close box: it closes, as it does at any other time
};

// The start window while Connect's fetch holds the GUI thread. A line on the window says which
// address is being reached, and the window takes the player's Escape, "Exit Zandrel" and close
// box, which the registry would otherwise refuse until the fetch is done: each marks what was
// asked and stops the fetch, and the server window's load, once the fetch has returned, leaves as
// asked. The address box is read-only meanwhile, so the address fetched is the one a fallback
// launch uses.
class Connecting : public QObject {
    Q_OBJECT
public:
    Connecting(frame::Form& window, frame::Label& line, frame::TextBox& address);

    // Shows the line for the address in the box, painted before this returns, and admits the
    // window's input; stopFetch ends the fetch the player stops.
    void begin(std::function<void()> stopFetch);
    // The line goes and the window's input waits for the registry again; what was asked stays.
    void end();
    bool active() const { return active_; }

    // The player's request, from one of the three ways out; nothing outside a fetch.
    void ask(StopAsked what);
    StopAsked asked() const { return asked_; }

    // "Connecting to <address>…", the address shown as the windows show text from outside.
    static QString lineFor(const QString& address);

private:
    frame::Form& window_;
    frame::Label& line_;
    frame::TextBox& address_;
    QShortcut* escape_;
    std::function<void()> stopFetch_;
    bool active_ = false;
    bool wasReadOnly_ = false;
    StopAsked asked_ = StopAsked::Nothing;
};

// Connecting for as long as it lives. Boxes shown meanwhile go through it: the line goes before
// the first, so that a failed fetch's report is read as after any other fetch.
class ConnectingSign : public MessageBoxes {
public:
    ConnectingSign(Connecting& connecting, MessageBoxes& boxes, std::function<void()> stopFetch);
    ~ConnectingSign() override;
    ConnectingSign(const ConnectingSign&) = delete;
    ConnectingSign& operator=(const ConnectingSign&) = delete;

    void show(const QString& prompt, MsgIcon icon, const QString& title) override;

private:
    Connecting& connecting_;
    MessageBoxes& boxes_;
};

}  // namespace zandrel::windows
