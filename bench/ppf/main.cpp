// bench_ppf [--runs N] [work folder]: a 256 MiB image and a 200,000-record PPF3 patch (no undo, no
// block check) made by our own tool; prints the time and peak memory of `ppf a` and of `ppf c`
// (making that patch again from the two images) next to `cp` of the same image in the same run:
// to a new file, over an existing image (what the tool does: it replaces the image), and that
// followed by an fsync of the copy (the tool flushes the patched image to disk before it
// replaces the original, so that a crash cannot cost the map). The last is the floor both are
// measured against: an all-or-nothing apply cannot do less, and making a patch reads as much.
// Each round measures the floor and `ppf a` twice, floor, apply, apply, floor, each on an image
// just copied and synced, so that on a shared machine neither always meets the other's
// leftovers; the medians are of all of them.

#include "bench_timing.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

constexpr std::uint64_t kImageSize = 256ull << 20;
constexpr int kRecords = 200000;

struct Run {
    double seconds = 0;
    double peakMb = 0;
    int status = -1;
};

Run spawnAndWait(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    Run r;
    const zandrel::bench::Stopwatch watch;
    pid_t pid = 0;
    if (posix_spawnp(&pid, args[0], nullptr, nullptr, args.data(), environ) != 0) {
        std::perror(args[0]);
        std::exit(1);
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    r.seconds = watch.seconds();
    r.peakMb = usage.ru_maxrss / 1024.0;
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

void check(const Run& r, const char* what) {
    if (r.status != 0) {
        std::fprintf(stderr, "%s failed with status %d\n", what, r.status);
        std::exit(1);
    }
}

void writeAll(const std::string& path, const std::uint8_t* data, std::size_t n) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::size_t done = 0;
    while (fd >= 0 && done < n) {
        const ssize_t w = write(fd, data + done, n - done);
        if (w <= 0) break;
        done += std::size_t(w);
    }
    if (fd < 0 || done != n || close(fd) != 0) {
        std::perror(path.c_str());
        std::exit(1);
    }
}

bool sameContents(const std::string& a, const std::string& b) {
    const int fa = open(a.c_str(), O_RDONLY), fb = open(b.c_str(), O_RDONLY);
    struct stat sa {
    }, sb{};
    if (fa < 0 || fb < 0 || fstat(fa, &sa) != 0 || fstat(fb, &sb) != 0 ||
        sa.st_size != sb.st_size) {
        return false;
    }
    const std::size_t n = std::size_t(sa.st_size);
    void* pa = mmap(nullptr, n, PROT_READ, MAP_PRIVATE, fa, 0);
    void* pb = mmap(nullptr, n, PROT_READ, MAP_PRIVATE, fb, 0);
    return pa != MAP_FAILED && pb != MAP_FAILED && std::memcmp(pa, pb, n) == 0;
}

// Runs f in a child process and returns whether it succeeded. The big buffers live only
// there: a spawned program's peak memory as the kernel reports it starts from its parent's
// memory at the time of the spawn, so this process stays small.
template <class F>
bool inChild(F f) {
    const pid_t pid = fork();
    if (pid == 0) _exit(f() ? 0 : 1);
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string dir;
    bool own = false;
    int runs = 5;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--runs" && i + 1 < argc) {
            runs = std::max(1, std::atoi(argv[++i]));
        } else {
            dir = arg;
        }
    }
    if (dir.empty()) {
        char pattern[] = "/tmp/ppf-bench-XXXXXX";
        if (!mkdtemp(pattern)) return std::perror("mkdtemp"), 1;
        dir = pattern;
        own = true;
    }
    const std::string original = dir + "/original.img", modified = dir + "/modified.img",
                      patch = dir + "/bench.ppf", image = dir + "/image.img",
                      copy = dir + "/copy.img", remade = dir + "/remade.ppf";

    if (!inChild([&] {
            // The image: fast pseudo-random bytes. The modification: 200,000 runs of 1..32 bytes,
            // one per stretch of the image, more than a record header apart and inside one 1 MiB
            // chunk, so that the maker writes exactly one record for each.
            std::vector<std::uint8_t> data(kImageSize);
            std::uint64_t x = 0x9E3779B97F4A7C15ull;
            for (std::uint64_t i = 0; i < kImageSize; i += 8) {
                x ^= x << 13, x ^= x >> 7, x ^= x << 17;
                std::memcpy(&data[i], &x, 8);
            }
            writeAll(original, data.data(), data.size());
            const std::uint64_t stride = kImageSize / kRecords;
            std::uint64_t changed = 0;
            for (int r = 0; r < kRecords; ++r) {
                x ^= x << 13, x ^= x >> 7, x ^= x << 17;
                const std::uint64_t len = 1 + x % 32;
                std::uint64_t at = std::uint64_t(r) * stride + (x >> 8) % (stride - 48);
                const std::uint64_t chunkEnd = (at / (1 << 20) + 1) * (1 << 20);
                if (at + len > chunkEnd) at = chunkEnd;
                for (std::uint64_t i = at; i < at + len; ++i) data[i] ^= 0xFF;
                changed += len;
            }
            writeAll(modified, data.data(), data.size());
            std::printf("changed %llu bytes\n", static_cast<unsigned long long>(changed));
            std::fflush(stdout);
            return true;
        })) {
        return 1;
    }
    const Run made = spawnAndWait({PPF_TOOL, "c", "-x", original, modified, patch});
    check(made, "ppf c");
    struct stat pst {};
    stat(patch.c_str(), &pst);
    std::printf(
        "ppf apply benchmark: %llu MiB image, %d records (PPF3, no undo, no block check),"
        " patch %.1f MB\n",
        static_cast<unsigned long long>(kImageSize >> 20), kRecords, pst.st_size / 1e6);
    std::printf("made by ppf c -x in %.3f s, peak %.1f MB\n\n", made.seconds, made.peakMb);
    std::printf(
        "run   cp to a new file   cp over the image   + fsync    ppf a     ppf a peak   ppf c"
        "     ppf c peak   ppf a / (cp + fsync)\n");

    std::vector<double> pairedRatios;  // each apply against the floor measured beside it
    std::vector<double> cpNewTimes, cpTimes, cpSyncTimes, ppfTimes, ppfPeaks, makeTimes, makePeaks;
    bool correct = true;
    for (int run = 1; run <= runs; ++run) {
        // Each timed step starts with no dirty pages left over from the one before.
        sync();
        const Run cpNew = spawnAndWait({"cp", original, copy});
        check(cpNew, "cp");
        // The floor and the apply are measured twice each, in the order floor, apply, apply,
        // floor: neither always runs in what the other left behind (freed blocks, a journal to
        // commit), and a load that rises or falls through the round weighs on both alike.
        for (int half = 0; half < 2; ++half) {
            Run cp, flush, applied;
            zandrel::bench::inAlternatingOrder(
                half,
                [&] {
                    // The like-for-like copy: like the tool, it replaces an existing image, and
                    // the old contents' blocks and cached pages are released on the way.
                    sync();
                    cp = spawnAndWait({"cp", original, copy});
                    check(cp, "cp");
                    flush = spawnAndWait({"sync", copy});
                    check(flush, "sync");
                },
                [&] {
                    check(spawnAndWait({"cp", original, image}), "cp");
                    sync();
                    applied = spawnAndWait({PPF_TOOL, "a", image, patch});
                    check(applied, "ppf a");
                });
            correct = correct && inChild([&] { return sameContents(image, modified); });
            unlink(image.c_str());
            const double floor = cp.seconds + flush.seconds;
            std::printf(
                "%-5s %-18s %.3f s             %.3f s    %.3f s   %.1f MB      %-8s"
                "  %-11s  %.2f\n",
                (std::to_string(run) + (half ? "b" : "a")).c_str(),
                half ? "" : (std::to_string(cpNew.seconds).substr(0, 5) + " s").c_str(), cp.seconds,
                floor, applied.seconds, applied.peakMb, "", "", applied.seconds / floor);
            pairedRatios.push_back(applied.seconds / floor);
            cpTimes.push_back(cp.seconds);
            cpSyncTimes.push_back(floor);
            ppfTimes.push_back(applied.seconds);
            ppfPeaks.push_back(applied.peakMb);
        }
        unlink(copy.c_str());
        sync();
        const Run remake = spawnAndWait({PPF_TOOL, "c", "-x", original, modified, remade});
        check(remake, "ppf c");
        correct = correct && inChild([&] { return sameContents(remade, patch); });
        unlink(remade.c_str());
        std::printf("%-5s %-18s %-19s %-10s %-9s %-12s %.3f s   %.1f MB\n", "", "", "", "", "", "",
                    remake.seconds, remake.peakMb);
        makeTimes.push_back(remake.seconds);
        makePeaks.push_back(remake.peakMb);
        cpNewTimes.push_back(cpNew.seconds);
    }
    const double cpNewM = zandrel::bench::medianOf(cpNewTimes),
                 cpM = zandrel::bench::medianOf(cpTimes),
                 cpSyncM = zandrel::bench::medianOf(cpSyncTimes),
                 ppfM = zandrel::bench::medianOf(ppfTimes),
                 makeM = zandrel::bench::medianOf(makeTimes);
    const double makePeak = *std::max_element(makePeaks.begin(), makePeaks.end());
    std::printf(
        "\nmedian: cp to a new file %.3f s, cp over the image %.3f s (+ fsync %.3f s), "
        "ppf a %.3f s, ppf c %.3f s\n",
        cpNewM, cpM, cpSyncM, ppfM, makeM);
    std::printf(
        "ppf a = %.2fx cp to a new file, %.2fx cp over the image, %.2fx cp over the image"
        " + fsync; ppf a peak %.1f MB\n",
        ppfM / cpNewM, ppfM / cpM, ppfM / cpSyncM,
        *std::max_element(ppfPeaks.begin(), ppfPeaks.end()));
    std::printf("ppf a / (cp over the image + fsync) pair by pair: median %.2f\n",
                zandrel::bench::medianOf(pairedRatios));
    std::printf("ppf c = %.2fx cp over the image + fsync; ppf c peak %.1f MB\n", makeM / cpSyncM,
                makePeak);
    std::printf("patched image and remade patch %s\n",
                correct ? "equal the modified file and the first patch"
                        : "DIFFER from the modified file or the first patch");
    // ru_maxrss is in KiB, so the peak figure is in MiB.
    std::printf(
        "ROW|ppf a, %llu MiB image, %d records|%.3f|cp over the image + fsync|%.3f|%.2f|%.1f\n",
        static_cast<unsigned long long>(kImageSize >> 20), kRecords, ppfM, cpSyncM, ppfM / cpSyncM,
        *std::max_element(ppfPeaks.begin(), ppfPeaks.end()));
    std::printf(
        "ROW|ppf c, %llu MiB images, %d records|%.3f|cp over the image + fsync|%.3f|%.2f|%.1f\n",
        static_cast<unsigned long long>(kImageSize >> 20), kRecords, makeM, cpSyncM,
        makeM / cpSyncM, makePeak);

    unlink(original.c_str());
    unlink(modified.c_str());
    unlink(patch.c_str());
    if (own) rmdir(dir.c_str());
    return correct ? 0 : 1;
}
