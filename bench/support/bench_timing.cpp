#include "bench_timing.h"

#include <sys/resource.h>

#include <algorithm>
#include <ctime>

namespace zandrel::bench {

double now() {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

double cpuSeconds(int who) {
    rusage usage{};
    ::getrusage(who, &usage);
    auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double medianOf(std::vector<double> figures) {
    if (figures.empty()) return 0;
    std::sort(figures.begin(), figures.end());
    const std::size_t half = figures.size() / 2;
    return figures.size() % 2 ? figures[half] : (figures[half - 1] + figures[half]) / 2;
}

void inAlternatingOrder(int round, const std::function<void()>& first,
                        const std::function<void()>& second) {
    for (int turn = 0; turn < 2; ++turn) (turn + round) % 2 == 0 ? first() : second();
}

}  // namespace zandrel::bench
