#include "clock.h"

#include <QTimer>

namespace zandrel::frame {

namespace {

class QtTimer : public Clock::Timer {
public:
    explicit QtTimer(std::function<void()> onDue) {
        QObject::connect(&timer_, &QTimer::timeout, [f = std::move(onDue)] { f(); });
    }
    void start(int intervalMs) override { timer_.start(intervalMs); }
    void stop() override { timer_.stop(); }

private:
    QTimer timer_;
};

}  // namespace

std::unique_ptr<Clock::Timer> RealClock::makeTimer(std::function<void()> onDue) {
    return std::make_unique<QtTimer>(std::move(onDue));
}

}  // namespace zandrel::frame
