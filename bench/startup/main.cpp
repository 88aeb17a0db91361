// bench_startup [--runs N] [--platform offscreen|xvfb|both] [--phases] [--compare PROBE]
//
// Time from process start to the start window's first paint, for Zandrel and for a bare Qt
// window of the same size measured the same way (bench_startup_bare, and with --controls the
// same window holding a text box, a button and a label). Each probe reports the moment its
// window was painted and handed to the window system; the time is taken from just before the
// process is started. The probes run in turn, in a rotating order, N times each (default 5),
// offscreen and on an Xvfb screen with the openbox window manager. Prints a table of medians
// and one ROW line per platform; with --phases also when each probe reached main(), had its
// QApplication, and so on. --compare adds another build's bench_startup_zandrel to the runs,
// for a figure before and after a change.
#include "bench_timing.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

long long monotonicNs() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

// Descriptors without FD_CLOEXEC are inherited as they are.
pid_t spawn(const std::vector<std::string>& args, int stdoutFd, int stderrFd) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (stdoutFd >= 0) posix_spawn_file_actions_adddup2(&actions, stdoutFd, 1);
    if (stderrFd >= 0) posix_spawn_file_actions_adddup2(&actions, stderrFd, 2);
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int rc = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : -1;
}

struct Sample {
    double ms = 0;                                       // process start to first paint
    double cpuMs = 0;                                    // user + system time of the whole process
    double peakMiB = 0;                                  // peak resident memory
    std::vector<std::pair<std::string, double>> phases;  // ms since the start, in order
};

// Starts one probe and reads the moment it reports; nothing if it never painted.
std::optional<Sample> measure(const std::vector<std::string>& probe, int devNull) {
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) return std::nullopt;
    const long long t0 = monotonicNs();
    const pid_t pid = spawn(probe, out[1], devNull);
    ::close(out[1]);
    std::string text;
    char buf[64];
    for (ssize_t n; (n = ::read(out[0], buf, sizeof buf)) != 0;) {
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) break;
        text.append(buf, static_cast<std::size_t>(n));
    }
    ::close(out[0]);
    if (pid < 0) return std::nullopt;
    int status = 0;
    rusage usage{};
    while (::wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
    auto ms = [](const timeval& t) { return t.tv_sec * 1e3 + t.tv_usec / 1e3; };
    Sample s;
    bool painted = false;
    for (std::size_t at = 0; at < text.size();) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(at, end - at);
        at = end + 1;
        const std::size_t space = line.find(' ');
        if (space == std::string::npos) continue;
        const double since = (std::atoll(line.c_str() + space + 1) - t0) / 1e6;
        s.phases.emplace_back(line.substr(0, space), since);
        if (line.compare(0, space, "painted") == 0) {
            s.ms = since;
            painted = true;
        }
    }
    if (!painted) return std::nullopt;
    s.cpuMs = ms(usage.ru_utime) + ms(usage.ru_stime);
    s.peakMiB = usage.ru_maxrss / 1024.0;
    return s;
}

struct Probe {
    std::string name;
    std::vector<std::string> command;
    std::vector<Sample> samples;
    double medianOf(double Sample::*field) const {
        std::vector<double> v;
        for (const auto& s : samples) v.push_back(s.*field);
        return zandrel::bench::medianOf(v);
    }
};

// An Xvfb screen with openbox on it, for as long as it lives.
class XServer {
public:
    bool start(int devNull) {
        int fds[2];
        if (::pipe(fds) != 0) return false;
        ::fcntl(fds[0], F_SETFD, FD_CLOEXEC);
        xvfb_ = spawn({"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0", "1280x1024x24",
                       "-nolisten", "tcp"},
                      devNull, devNull);
        ::close(fds[1]);
        if (xvfb_ < 0) {
            ::close(fds[0]);
            return false;
        }
        std::string number;
        pollfd p{fds[0], POLLIN, 0};
        char c;
        while (::poll(&p, 1, 10000) > 0 && ::read(fds[0], &c, 1) == 1 && c != '\n') number += c;
        ::close(fds[0]);
        if (number.empty()) return false;
        display_ = ":" + number;
        ::setenv("DISPLAY", display_.c_str(), 1);
        wm_ = spawn({"openbox"}, devNull, devNull);
        if (wm_ < 0) {
            std::printf("(openbox not found: Xvfb without a window manager)\n");
            return true;
        }
        // The manager is up once it has named its check window on the root.
        for (int i = 0; i < 100 && !managerReady(devNull); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return true;
    }
    ~XServer() {
        for (pid_t pid : {wm_, xvfb_}) {
            if (pid <= 0) continue;
            ::kill(pid, SIGTERM);
            ::waitpid(pid, nullptr, 0);
        }
    }
    const std::string& display() const { return display_; }

private:
    static bool managerReady(int devNull) {
        int out[2];
        if (::pipe2(out, O_CLOEXEC) != 0) return false;
        const pid_t pid = spawn({"xprop", "-root", "_NET_SUPPORTING_WM_CHECK"}, out[1], devNull);
        ::close(out[1]);
        std::string text;
        char buf[256];
        for (ssize_t n; (n = ::read(out[0], buf, sizeof buf)) > 0;) text.append(buf, n);
        ::close(out[0]);
        if (pid > 0) ::waitpid(pid, nullptr, 0);
        if (pid < 0) return true;  // no xprop: go on and hope
        return text.find("window id") != std::string::npos;
    }
    pid_t xvfb_ = -1;
    pid_t wm_ = -1;
    std::string display_;
};

// Median time since the start at which each probe reached each of its phases.
void printPhases(const std::vector<Probe>& probes) {
    std::printf("  phases, ms since the start (median):\n");
    for (const auto& p : probes) {
        std::printf("    %-26s", p.name.c_str());
        for (std::size_t i = 0; i < p.samples.front().phases.size(); ++i) {
            std::vector<double> v;
            for (const auto& s : p.samples) {
                if (i < s.phases.size()) v.push_back(s.phases[i].second);
            }
            std::printf(" %s %.1f", p.samples.front().phases[i].first.c_str(),
                        zandrel::bench::medianOf(v));
        }
        std::printf("\n");
    }
}

bool runPlatform(const std::string& platform, const std::string& label, std::vector<Probe>& probes,
                 int runs, bool phases, int devNull) {
    ::setenv("QT_QPA_PLATFORM", platform.c_str(), 1);
    for (auto& p : probes) {
        p.samples.clear();
        if (!measure(p.command, devNull)) {  // warm the page cache; also checks it works
            std::fprintf(stderr, "%s did not paint its window (%s)\n", p.name.c_str(),
                         label.c_str());
            return false;
        }
    }
    for (int run = 0; run < runs; ++run) {
        for (std::size_t i = 0; i < probes.size(); ++i) {
            Probe& p = probes[(i + run) % probes.size()];
            const auto s = measure(p.command, devNull);
            if (!s) {
                std::fprintf(stderr, "%s did not paint its window (%s)\n", p.name.c_str(),
                             label.c_str());
                return false;
            }
            p.samples.push_back(*s);
            // Let the window system and its manager finish with the window that just went, so
            // that no run pays for the one before it.
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }
    const double bare = probes[1].medianOf(&Sample::ms);
    std::printf("\nstart-up to the first paint, %s, median of %d runs\n", label.c_str(), runs);
    std::printf("  %-28s %9s %9s %9s %9s %8s\n", "", "median", "fastest", "cpu", "peak", "ratio");
    for (const auto& p : probes) {
        std::vector<double> ms;
        for (const auto& s : p.samples) ms.push_back(s.ms);
        const double m = p.medianOf(&Sample::ms);
        std::printf("  %-28s %6.1f ms %6.1f ms %6.1f ms %5.1f MiB %7.2fx\n", p.name.c_str(), m,
                    *std::min_element(ms.begin(), ms.end()), p.medianOf(&Sample::cpuMs),
                    p.medianOf(&Sample::peakMiB), m / bare);
    }
    if (phases) printPhases(probes);
    const double ours = probes[0].medianOf(&Sample::ms);
    std::printf("ROW|start window painted (%s)|%.4f|bare Qt window|%.4f|%.2f|%.1f\n", label.c_str(),
                ours / 1e3, bare / 1e3, ours / bare, probes[0].medianOf(&Sample::peakMiB));
    std::fflush(stdout);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 5;
    std::string platforms = "both";
    bool phases = false;
    std::string compare;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--runs" && i + 1 < argc) {
            runs = std::max(1, std::atoi(argv[++i]));
        } else if (a == "--platform" && i + 1 < argc) {
            platforms = argv[++i];
        } else if (a == "--compare" && i + 1 < argc) {
            compare = argv[++i];
        } else if (a == "--phases") {
            phases = true;
        } else {
            std::fprintf(
                stderr,
                "usage: bench_startup [--runs N] [--platform offscreen|xvfb|both] [--phases] "
                "[--compare PROBE]\n");
            return 2;
        }
    }
    std::string dir = argv[0];
    dir = dir.find('/') == std::string::npos ? "." : dir.substr(0, dir.rfind('/'));
    std::vector<Probe> probes{
        {"zandrel start window", {dir + "/bench_startup_zandrel"}, {}},
        {"bare Qt window", {dir + "/bench_startup_bare"}, {}},
        {"bare Qt window + controls", {dir + "/bench_startup_bare", "--controls"}, {}},
    };
    if (!compare.empty()) {
        probes.push_back({"compared build", {compare}, {}});
        std::printf("compared build: %s\n", compare.c_str());
    }
    const int devNull = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    bool ok = true;
    if (platforms == "offscreen" || platforms == "both") {
        ok = runPlatform("offscreen", "offscreen", probes, runs, phases, devNull) && ok;
    }
    if (platforms == "xvfb" || platforms == "both") {
        XServer x;
        if (!x.start(devNull)) {
            std::fprintf(stderr, "cannot start Xvfb\n");
            return 1;
        }
        ok = runPlatform("xcb", "Xvfb+openbox", probes, runs, phases, devNull) && ok;
    }
    return ok ? 0 : 1;
}
