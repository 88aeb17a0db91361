#pragma once

#include "frame/clock.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace zandrel {

// Time moves only when advance() is called; due timers fire in order of their due time. A
// timer that fell due several times while time jumped fires once, then is due an interval
// after that moment (ticks do not pile up).
class ManualClock : public frame::Clock {
public:
    ManualClock() : state_(std::make_shared<State>()) {}
    std::unique_ptr<Timer> makeTimer(std::function<void()> onDue) override;
    void advance(std::int64_t ms);
    // Time passes without any tick being delivered, as while the GUI thread is busy.
    void pass(std::int64_t ms) { state_->now += ms; }
    std::int64_t now() const { return state_->now; }

    struct Entry {
        std::function<void()> onDue;
        std::int64_t due = 0;
        int interval = 0;
        bool running = false;
    };
    struct State {
        std::int64_t now = 0;
        std::vector<std::weak_ptr<Entry>> entries;
    };

private:
    std::shared_ptr<State> state_;
};

}  // namespace zandrel
