#pragma once

// Clocks and summaries every benchmark uses, in plain C++ so that benchmarks without Qt share
// them too.

#include <functional>
#include <vector>

namespace zandrel::bench {

// Seconds on the monotonic clock: differences are elapsed wall time.
double now();

// CPU seconds (user + system) used so far by this process (RUSAGE_SELF) or by its waited-for
// children (RUSAGE_CHILDREN); unlike wall time it hardly moves when other work shares the
// machine.
double cpuSeconds(int who);

// The median of the figures (the mean of the middle two for an even count); 0 for none.
double medianOf(std::vector<double> figures);

// Runs the two pieces of work of one paired round, the first going first in even rounds and
// the second in odd ones, so that neither always meets what the other left behind (dirty pages,
// a warm cache).
void inAlternatingOrder(int round, const std::function<void()>& first,
                        const std::function<void()>& second);

// Wall time of one piece of work: started on construction.
class Stopwatch {
public:
    Stopwatch() : start_(now()) {}
    double seconds() const { return now() - start_; }

private:
    double start_;
};

}  // namespace zandrel::bench
