#pragma once

#include "base/error.h"
#include "base/messages.h"
#include "base/platform.h"
#include "frame/clock.h"

#include <QObject>
#include <QString>

#include <functional>
#include <map>
#include <memory>
#include <vector>

namespace zandrel::frame {

class Form;
class TimerControl;

// Thrown by Registry::end() so that the routine that asked does not continue; the dispatcher
// catches it. Deliberately not a std::exception: no trap of the program catches it.
struct ProgramEnded {};

// What a registry works with. Tests put recorders, a ManualClock and a temporary application
// folder here; the program puts Qt message boxes, the real clock and the executable's folder.
struct Services {
    MessageBoxes* boxes = nullptr;
    platform::MailClient* mail = nullptr;
    Clock* clock = nullptr;
    QString appFolder;  // without a trailing separator
};

// The window registry: one slot per window kind, each empty or holding the one instance of
// that kind. Every entry from the event loop (control events, timer ticks, close boxes)
// passes through dispatch(), which owns what happens to an untrapped error and to the end of
// the program.
class Registry : public QObject {
    Q_OBJECT

public:
    using Factory = std::function<std::unique_ptr<Form>(Registry&)>;

    explicit Registry(Services services);
    ~Registry() override;

    void define(const QString& kind, Factory factory);

    // Any use of a window by name: loads it (create, load handler) without displaying it when
    // its slot is empty.
    Form& reference(const QString& kind);
    // The same, typed: the window class's own accessors then read it.
    template <class F>
    F& form() {
        auto* f = dynamic_cast<F*>(&reference(QString::fromLatin1(F::kKind)));
        if (!f) throw wrongKind(QString::fromLatin1(F::kKind));
        return *f;
    }

    void show(const QString& kind);
    void hide(const QString& kind);
    // Unloads the window; once the routine that asked is done, the program ends if no window is
    // left on screen.
    void unload(const QString& kind);
    [[noreturn]] void end();

    // A modal box; the routine waits. Timer ticks are delivered while it waits. When the
    // program ended meanwhile (a tick ended it), the waiting routine does not continue.
    void msgBox(const QString& prompt, MsgIcon icon = MsgIcon::None, const QString& title = {});
    MessageBoxes& boxes() { return boxAdapter_; }  // the same, for widget-free code

    // Runs one entry from the event loop. Refused once the program has ended or an untrapped
    // error is being reported; an entry that comes while another routine runs is refused too,
    // unless that routine waits in a message box.
    void dispatch(const std::function<void()>& handler);

    // While a handler holds the GUI thread (a file fetch): paints pending windows without
    // delivering user input or running any handler or tick of the program.
    void keepPainted();

    // Puts a loaded window on screen as show's last step does (first position, task bar, in
    // front, focus): for a window that must be seen before its own load handler is done.
    void display(Form& form);

    // Shows the start window; the program's entry point.
    void start(const QString& firstKind);

    bool isLoaded(const QString& kind) const;
    bool isVisible(const QString& kind) const;
    bool ended() const { return ended_; }
    QString appFolder() const { return services_.appFolder; }
    platform::MailClient& mail() { return *services_.mail; }
    Clock& clock() { return *services_.clock; }

    // Used by forms and timer controls.
    void closeRequested(Form& form, bool& accept);
    void tick(TimerControl& timer);
    void forget(TimerControl& timer);

signals:
    void programEnded();

private:
    class BoxAdapter : public MessageBoxes {
    public:
        explicit BoxAdapter(Registry& r) : r_(r) {}
        void show(const QString& prompt, MsgIcon icon, const QString& title) override {
            r_.msgBox(prompt, icon, title);
        }

    private:
        Registry& r_;
    };

    static Error wrongKind(const QString& kind);
    Form* slot(const QString& kind) const;
    Form& load(const QString& kind);
    void endIfNoWindowLeft();
    void reportUntrapped(std::int32_t number, const QString& description);
    void shutDown();
    void flushPendingTicks();
    bool anyVisible() const;

    Services services_;
    BoxAdapter boxAdapter_{*this};
    std::map<QString, Factory> factories_;
    std::map<QString, std::unique_ptr<Form>> slots_;
    std::vector<std::unique_ptr<Form>> graveyard_;  // unloaded, deleted once no handler runs
    std::vector<TimerControl*> pendingTicks_;
    int depth_ = 0;                   // handlers running
    int boxWaits_ = 0;                // message boxes being waited for
    bool dying_ = false;              // an untrapped error is being reported
    bool unloadedSinceIdle_ = false;  // a window was unloaded by the routine now running
    bool ended_ = false;
};

}  // namespace zandrel::frame
