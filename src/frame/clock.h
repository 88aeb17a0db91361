#pragma once

#include <QObject>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace zandrel::frame {

// Where timer controls get their ticks from. The program uses RealClock (Qt timers); tests use
// a manual clock and advance it, so no test sleeps through real seconds.
class Clock {
public:
    class Timer {
    public:
        virtual ~Timer() = default;
        virtual void start(int intervalMs) = 0;  // periodic from now on
        virtual void stop() = 0;
    };
    virtual ~Clock() = default;
    virtual std::unique_ptr<Timer> makeTimer(std::function<void()> onDue) = 0;
};

class RealClock : public Clock {
public:
    std::unique_ptr<Timer> makeTimer(std::function<void()> onDue) override;
};

}  // namespace zandrel::frame
