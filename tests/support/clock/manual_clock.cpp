#include "manual_clock.h"

#include <algorithm>

namespace zandrel {

namespace {

class ManualTimer : public frame::Clock::Timer {
public:
    ManualTimer(std::shared_ptr<ManualClock::State> state, std::shared_ptr<ManualClock::Entry> e)
        : state_(std::move(state)), entry_(std::move(e)) {}
    void start(int intervalMs) override {
        entry_->interval = intervalMs;
        entry_->due = state_->now + intervalMs;
        entry_->running = true;
    }
    void stop() override { entry_->running = false; }

private:
    std::shared_ptr<ManualClock::State> state_;
    std::shared_ptr<ManualClock::Entry> entry_;
};

}  // namespace

std::unique_ptr<frame::Clock::Timer> ManualClock::makeTimer(std::function<void()> onDue) {
    auto entry = std::make_shared<Entry>();
    entry->onDue = std::move(onDue);
    state_->entries.push_back(entry);
    return std::make_unique<ManualTimer>(state_, entry);
}

void ManualClock::advance(std::int64_t ms) {
    const std::int64_t target = state_->now + ms;
    for (;;) {
        std::shared_ptr<Entry> next;
        for (const auto& weak : state_->entries) {
            auto e = weak.lock();
            if (!e || !e->running || e->interval <= 0 || e->due > target) continue;
            if (!next || e->due < next->due) next = e;
        }
        if (!next) break;
        state_->now = std::max(state_->now, next->due);
        next->due = state_->now + next->interval;
        auto keep = next;  // the tick may destroy the timer
        keep->onDue();
    }
    state_->now = std::max(state_->now, target);
}

}  // namespace zandrel
