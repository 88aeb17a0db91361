#include "registry.h"

#include "base/error.h"
#include "frame/form.h"
#include "frame/input_gate.h"
#include "frame/task_bar.h"

#include <QCoreApplication>
#include <QGuiApplication>

#include <new>
#include <utility>

namespace zandrel::frame {

namespace {

// Keeps the count of running handlers right however a handler leaves.
struct Depth {
    int& n;
    explicit Depth(int& d) : n(++d) {}
    ~Depth() { --n; }
};

}  // namespace

Registry::Registry(Services services) : services_(std::move(services)) {}

Registry::~Registry() {
    for (auto& [kind, form] : slots_) form->disarmTimers();
    pendingTicks_.clear();
    slots_.clear();
    graveyard_.clear();
}

void Registry::define(const QString& kind, Factory factory) {
    factories_[kind] = std::move(factory);
}

Error Registry::wrongKind(const QString& kind) {
    return Error(ErrorNumber::ObjectNotSet,
                 QStringLiteral("The window %1 is not of the kind the program uses").arg(kind));
}

Form* Registry::slot(const QString& kind) const {
    const auto it = slots_.find(kind);
    return it == slots_.end() ? nullptr : it->second.get();
}

bool Registry::isLoaded(const QString& kind) const {
    return slot(kind) != nullptr;
}

bool Registry::isVisible(const QString& kind) const {
    const Form* f = slot(kind);
    return f && f->isVisible();
}

Form& Registry::load(const QString& kind) {
    const auto factory = factories_.find(kind);
    if (factory == factories_.end()) {
        throw Error(ErrorNumber::ObjectNotSet, QStringLiteral("No window of the kind ") + kind);
    }
    // Create the instance with its controls, all invisible, and put it in its slot: a load
    // handler that names its own window reaches this instance.
    std::unique_ptr<Form> created = factory->second(*this);
    Form& form = *created;
    form.finishDesign();
    slots_[kind] = std::move(created);
    form.armTimers();
    form.loading = true;
    struct Loading {
        Form& f;
        ~Loading() { f.loading = false; }
    } loading{form};
    form.load();
    return form;
}

Form& Registry::reference(const QString& kind) {
    if (ended_) throw ProgramEnded{};
    if (Form* f = slot(kind)) return *f;
    Form& f = load(kind);
    if (ended_) throw ProgramEnded{};
    return f;
}

void Registry::show(const QString& kind) {
    if (ended_) throw ProgramEnded{};
    Form* existing = slot(kind);
    Form& form = existing ? *existing : load(kind);
    if (ended_) throw ProgramEnded{};
    // Unloaded by its own load handler: gone, and not displayed.
    if (!existing && slot(kind) != &form) return;
    if (!existing && form.hiddenWhileLoading) {
        // Hidden by a load handler: stays loaded and is not displayed.
        form.hiddenWhileLoading = false;
        return;
    }
    display(form);
}

void Registry::display(Form& form) {
    if (!form.isVisible() && !form.design().inTaskBar) keepOutOfTaskBar(form);
    if (!form.displayedOnce) form.fitToScreen();
    const bool centre =
        !form.displayedOnce && form.design().position == FirstPosition::CentreScreen;
    if (centre) form.placeAtScreenCentre();
    form.show();
    // The offscreen platform (tests, screenshots) has no stacking to change.
    if (QGuiApplication::platformName() != QLatin1String("offscreen")) form.raise();
    form.activateWindow();
    if (!form.displayedOnce) form.focusFirst();
    form.displayedOnce = true;
}

void Registry::hide(const QString& kind) {
    Form& form = reference(kind);
    if (form.loading) form.hiddenWhileLoading = true;
    form.hide();
}

void Registry::unload(const QString& kind) {
    const auto it = slots_.find(kind);
    if (it == slots_.end()) return;
    std::unique_ptr<Form> form = std::move(it->second);
    slots_.erase(it);
    form->disarmTimers();
    form->hide();
    // Its own handler may still be running (an "OK" that unloads its window): keep the object
    // until the event loop is back at the top.
    graveyard_.push_back(std::move(form));
    // Whether that was the last window is decided once the routine that unloaded it is done:
    // it may still show another one.
    unloadedSinceIdle_ = true;
    if (depth_ == 0) endIfNoWindowLeft();
}

void Registry::unload(const Form& form) {
    if (slot(form.kind()) == &form) unload(form.kind());
}

void Registry::endIfNoWindowLeft() {
    const bool unloaded = std::exchange(unloadedSinceIdle_, false);
    // A program with no window on screen is a fault: after an unload the program ends when no
    // window is left, also while hidden windows are still loaded.
    if (unloaded && !ended_ && !dying_ && !anyVisible()) shutDown();
}

void Registry::shutDown() {
    if (ended_) return;
    ended_ = true;
    dying_ = false;
    pendingTicks_.clear();
    for (auto& [kind, form] : slots_) {
        form->disarmTimers();
        form->hide();
    }
    emit programEnded();
}

void Registry::end() {
    shutDown();
    throw ProgramEnded{};
}

void Registry::msgBox(const QString& prompt, MsgIcon icon, const QString& title) {
    if (ended_ || dying_) throw ProgramEnded{};
    ++boxWaits_;
    struct Waiting {
        int& n;
        ~Waiting() { --n; }
    } waiting{boxWaits_};
    services_.boxes->show(prompt, icon, title.isEmpty() ? kAppTitle : title);
    // A tick that ran while the box was open may have ended the program.
    if (ended_ || dying_) throw ProgramEnded{};
}

void Registry::reportUntrapped(std::int32_t number, const QString& description) {
    // From here on nothing of the program runs, not even while the report is on screen.
    dying_ = true;
    for (auto& [kind, form] : slots_) form->disarmTimers();
    pendingTicks_.clear();
    services_.boxes->show(QStringLiteral("Error %1\r\n\r\n%2").arg(number).arg(description),
                          MsgIcon::Critical, kAppTitle);
    shutDown();
}

void Registry::dispatch(const std::function<void()>& handler) {
    if (ended_ || dying_) return;
    if (depth_ > 0 && boxWaits_ == 0) return;  // the GUI thread is busy with another routine
    {
        Depth depth(depth_);
        try {
            handler();
        } catch (const ProgramEnded&) {
        } catch (const Error& e) {
            if (!ended_) reportUntrapped(e.number(), e.description());
        } catch (const std::bad_alloc&) {
            if (!ended_) {
                const Error e = Error::outOfMemory();
                reportUntrapped(e.number(), e.description());
            }
        } catch (const std::exception& e) {
            if (!ended_) {
                reportUntrapped(static_cast<std::int32_t>(ErrorNumber::Internal),
                                QString::fromLocal8Bit(e.what()));
            }
        }
    }
    if (depth_ == 0) {
        graveyard_.clear();
        endIfNoWindowLeft();
        flushPendingTicks();
    }
}

void Registry::tick(TimerControl& timer) {
    if (ended_ || dying_ || !timer.enabled()) return;
    // A timer's handler is never re-entered, and a tick that falls due while another routine
    // holds the GUI thread waits for it (at most one late tick per timer).
    if (timer.inHandler() || (depth_ > 0 && boxWaits_ == 0)) {
        if (std::find(pendingTicks_.begin(), pendingTicks_.end(), &timer) == pendingTicks_.end()) {
            pendingTicks_.push_back(&timer);
        }
        return;
    }
    dispatch([&timer] { timer.runHandler(); });
}

void Registry::forget(TimerControl& timer) {
    pendingTicks_.erase(std::remove(pendingTicks_.begin(), pendingTicks_.end(), &timer),
                        pendingTicks_.end());
}

void Registry::flushPendingTicks() {
    while (!pendingTicks_.empty() && depth_ == 0 && !ended_) {
        TimerControl* timer = pendingTicks_.front();
        pendingTicks_.erase(pendingTicks_.begin());
        tick(*timer);
    }
}

void Registry::keepPainted() {
    std::vector<QPointer<QWidget>> open;
    for (const QPointer<QWidget>& w : admitted_) {
        if (w && w->isVisible()) open.push_back(w);
    }
    // Paint only: user input is excluded here, and the dispatcher refuses every other entry
    // while a handler runs (ticks are kept for later).
    if (open.empty()) {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        return;
    }
    // The admitted windows' input comes through; the gate drops everyone else's.
    InputGate gate(std::move(open));
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void Registry::admitInputWhileBusy(QWidget& window) {
    refuseInputWhileBusy(window);
    admitted_.emplace_back(&window);
}

void Registry::refuseInputWhileBusy(QWidget& window) {
    std::erase_if(admitted_,
                  [&window](const QPointer<QWidget>& w) { return !w || w.data() == &window; });
}

bool Registry::anyVisible() const {
    for (const auto& [kind, form] : slots_) {
        if (form->isVisible()) return true;
    }
    return false;
}

void Registry::closeRequested(Form& form, bool& accept) {
    accept = false;
    const QString kind = form.kind();
    dispatch([this, kind, &accept] {
        accept = true;
        unload(kind);
    });
}

void Registry::start(const QString& firstKind) {
    dispatch([this, firstKind] { show(firstKind); });
}

}  // namespace zandrel::frame
