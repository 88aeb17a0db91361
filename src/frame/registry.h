#pragma once

#include "base/error.h"
#include "base/messages.h"
#include "base/platform.h"
#include "frame/clock.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>

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

    // A window kind is its class F, and F::kKind names its slot: a window the program does not
    // have cannot be named. A factory may make a subclass of F (a test's stand-in).
    template <class F>
    void define(std::function<std::unique_ptr<F>(Registry&)> factory) {
        define(kindOf<F>(), [factory](Registry& r) -> std::unique_ptr<Form> { return factory(r); });
    }
    template <class F>
    void define() {
        define<F>([](Registry& r) { return std::make_unique<F>(r); });
    }

    // Any use of a window: loads it (create, load handler) without displaying it when its slot
    // is empty; the window class's own accessors then read it.
    template <class F>
    F& form() {
        auto* f = dynamic_cast<F*>(&reference(kindOf<F>()));
        if (!f) throw wrongKind(kindOf<F>());
        return *f;
    }

    template <class F>
    void show() {
        show(kindOf<F>());
    }
    template <class F>
    void hide() {
        hide(kindOf<F>());
    }
    // Unloads the window; once the routine that asked is done, the program ends if no window is
    // left on screen.
    template <class F>
    void unload() {
        unload(kindOf<F>());
    }
    // The same for the window form is, e.g. from a handler the windows of several kinds share.
    void unload(const Form& form);
    template <class F>
    bool isLoaded() const {
        return isLoaded(kindOf<F>());
    }
    template <class F>
    bool isVisible() const {
        return isVisible(kindOf<F>());
    }
    // Shows the start window; the program's entry point.
    template <class F>
    void start() {
        start(kindOf<F>());
    }

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
    // running any handler or tick of the program. The player's input reaches no window then,
    // except a window admitted below while it is on screen (its Cancel); input for any other
    // window is dropped.
    void keepPainted();
    // A window whose controls work while a handler holds the GUI thread: they must act without
    // the dispatcher (a flag the held work reads), which refuses them as it does every entry.
    void admitInputWhileBusy(QWidget& window);
    void refuseInputWhileBusy(QWidget& window);

    // Puts a loaded window on screen as show's last step does (first position, task bar, in
    // front, focus): for a window that must be seen before its own load handler is done.
    void display(Form& form);

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

    template <class F>
    static QString kindOf() {
        return QString::fromLatin1(F::kKind);
    }
    void define(const QString& kind, Factory factory);
    Form& reference(const QString& kind);
    void show(const QString& kind);
    void hide(const QString& kind);
    void unload(const QString& kind);
    bool isLoaded(const QString& kind) const;
    bool isVisible(const QString& kind) const;
    void start(const QString& firstKind);

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
    std::vector<QPointer<QWidget>> admitted_;  // take input while a handler runs
    int depth_ = 0;                            // handlers running
    int boxWaits_ = 0;                         // message boxes being waited for
    bool dying_ = false;                       // an untrapped error is being reported
    bool unloadedSinceIdle_ = false;           // a window was unloaded by the routine now running
    bool ended_ = false;
};

}  // namespace zandrel::frame
