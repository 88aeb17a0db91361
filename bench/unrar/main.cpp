// bench_unrar [--runs N] [--size-mib N] [--files N] [--rar4|--rar5] [--dir FOLDER] [--only WORK]
//
// Unpacks stored RAR archives with UnRar and with `bsdtar -xf`, in alternating order, in four
// kinds of work:
//   big-new     one entry of N MiB (default 1024) into an empty folder
//   big-over    the same over the file the previous run left
//   small-new   N files (default 2000) of 4 to 64 KiB into an empty folder
//   small-over  the same over the files the previous run left
// Each run starts after sync(), so that no run pays for the previous run's writeback. UnRar runs
// in a child process (fork), as bsdtar does, so that each gets its own peak memory; its time is
// taken when ExtractArchive returns, which is when the player sees the update done. Freeing the
// replaced files happens after that, off the caller's thread; the time until then is printed as
// well ("with freeing").
//
// Prints every run, then one line per work:
//   ROW|<work>|<UnRar median s>|bsdtar -xf|<bsdtar median s>|<ratio>|<UnRar peak MiB>
#include "archive/unrar.h"
#include "base/error.h"
#include "bench_timing.h"
#include "rar/rarwriter.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

using zandrel::bench::medianOf;
using zandrel::bench::now;

// Deterministic, poorly compressible data: one random MiB, stamped with the block number.
class Data {
public:
    Data() : base_(1 << 20) {
        std::uint64_t x = 88172645463325252ull;
        for (char& c : base_) {
            x ^= x << 13;
            x ^= x >> 7;
            x ^= x << 17;
            c = char(x);
        }
    }
    const std::vector<char>& block(std::uint64_t index) {
        std::copy_n(reinterpret_cast<const char*>(&index), sizeof index, base_.begin());
        return base_;
    }

private:
    std::vector<char> base_;
};

bool writeBig(const QString& path, zandrel::rar::Format format, std::uint64_t mib) {
    Data data;
    std::ofstream out(path.toStdString(), std::ios::binary);
    out << zandrel::rar::archiveStart(format);
    zandrel::rar::FileHeader h;
    h.name = "big.map";
    h.size = mib << 20;
    for (std::uint64_t b = 0; b < mib; ++b)
        h.crc = zandrel::rar::crc32(data.block(b).data(), 1 << 20, h.crc);
    out << zandrel::rar::fileHeader(format, h);
    for (std::uint64_t b = 0; b < mib; ++b) out.write(data.block(b).data(), 1 << 20);
    out << zandrel::rar::archiveEnd(format);
    return bool(out.flush());
}

bool writeSmall(const QString& path, zandrel::rar::Format format, int files) {
    Data data;
    std::ofstream out(path.toStdString(), std::ios::binary);
    out << zandrel::rar::archiveStart(format);
    std::uint32_t x = 12345;
    for (int i = 0; i < files; ++i) {
        x = x * 1664525u + 1013904223u;
        const std::size_t size = 4096 + (x >> 8) % (60 * 1024 + 1);
        const char* bytes = data.block(std::uint64_t(i)).data();
        zandrel::rar::FileHeader h;
        // A few folders, as a map update with textures might have.
        h.name = "sub" + std::to_string(i % 8) + "/file" + std::to_string(i) + ".bin";
        h.size = size;
        h.crc = zandrel::rar::crc32(bytes, size);
        out << zandrel::rar::fileHeader(format, h);
        out.write(bytes, std::streamsize(size));
    }
    out << zandrel::rar::archiveEnd(format);
    return bool(out.flush());
}

struct Run {
    double seconds = 0;      // until the work is done, as its caller sees it
    double withFreeing = 0;  // UnRar: until the replaced files are freed too
    double peakMiB = 0;
    bool ok = false;
};

Run runUnrar(const QString& archive, const QString& out) {
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) return {};
    std::fflush(stdout);  // the child prints too: nothing of ours may be in its copy
    const double start = now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(pipeFds[0]);
        double returned = 0;
        int code = 0;
        {
            zandrel::archive::UnRar unrar;
            // How long a cancel could wait: the longest stretch without a cancel check.
            double lastCheck = now(), longest = 0;
            unrar.ExtractCancelled = [&] {
                const double t = now();
                longest = std::max(longest, t - lastCheck);
                lastCheck = t;
                return false;
            };
            try {
                unrar.ExtractArchive(archive, out + "/");
                returned = now();
                std::printf("  longest stretch without a cancel check %.1f ms\n", longest * 1000);
                std::fflush(stdout);
                unrar.WaitForCleanup();
            } catch (const zandrel::Error& e) {
                std::fprintf(stderr, "UnRar failed: %s\n", e.what());
                code = 1;
            }
        }
        if (::write(pipeFds[1], &returned, sizeof returned) != sizeof returned) code = 1;
        ::_exit(code);
    }
    ::close(pipeFds[1]);
    double returned = 0;
    const bool got = ::read(pipeFds[0], &returned, sizeof returned) == sizeof returned;
    ::close(pipeFds[0]);
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    Run r;
    r.withFreeing = now() - start;
    r.seconds = returned - start;
    r.peakMiB = double(usage.ru_maxrss) / 1024;
    r.ok = got && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return r;
}

Run runBsdtar(const QString& archive, const QString& out) {
    const std::string a = archive.toStdString(), o = out.toStdString();
    const char* argv[] = {"bsdtar", "-xf", a.c_str(), "-C", o.c_str(), nullptr};
    const double start = now();
    pid_t pid = 0;
    if (::posix_spawnp(&pid, "bsdtar", nullptr, nullptr, const_cast<char**>(argv), environ) != 0)
        return {};
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    Run r;
    r.seconds = r.withFreeing = now() - start;
    r.peakMiB = double(usage.ru_maxrss) / 1024;
    r.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return r;
}

struct Work {
    const char* name;
    const QString* archive;
    bool over;  // over what the previous run left
};

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    std::uint64_t mib = 1024;
    int files = 2000, runs = 5;
    auto format = zandrel::rar::Format::Rar5;
    QString dir, only;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        const QString& a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == "--size-mib" && hasValue)
            mib = args[++i].toULongLong();
        else if (a == "--files" && hasValue)
            files = args[++i].toInt();
        else if (a == "--runs" && hasValue)
            runs = args[++i].toInt();
        else if (a == "--dir" && hasValue)
            dir = args[++i];
        else if (a == "--only" && hasValue)
            only = args[++i];
        else if (a == "--rar4")
            format = zandrel::rar::Format::Rar4;
        else if (a == "--rar5")
            format = zandrel::rar::Format::Rar5;
        else {
            std::fprintf(stderr,
                         "usage: bench_unrar [--runs N] [--size-mib N] [--files N] [--rar4|--rar5] "
                         "[--dir FOLDER] [--only big-new|big-over|small-new|small-over]\n");
            return 2;
        }
    }
    if (mib == 0 || files < 1 || runs < 1) return 2;

    QTemporaryDir work(dir.isEmpty() ? QDir::tempPath() + "/bench_unrar-XXXXXX"
                                     : dir + "/bench_unrar-XXXXXX");
    if (!work.isValid()) {
        std::fprintf(stderr, "cannot create a work folder\n");
        return 1;
    }
    const QString big = work.filePath("big.rar"), small = work.filePath("small.rar");
    const Work works[] = {{"big-new", &big, false},
                          {"big-over", &big, true},
                          {"small-new", &small, false},
                          {"small-over", &small, true}};
    const bool needBig = only.isEmpty() || only.startsWith("big");
    const bool needSmall = only.isEmpty() || only.startsWith("small");
    std::printf("archives (%s): %llu MiB in one entry; %d files of 4-64 KiB; %d runs each\n",
                format == zandrel::rar::Format::Rar4 ? "RAR 4" : "RAR 5",
                static_cast<unsigned long long>(mib), files, runs);
    std::fflush(stdout);
    if ((needBig && !writeBig(big, format, mib)) ||
        (needSmall && !writeSmall(small, format, files))) {
        std::fprintf(stderr, "cannot write the archives\n");
        return 1;
    }

    std::vector<std::string> rows;
    for (const Work& w : works) {
        if (!only.isEmpty() && only != w.name) continue;
        std::vector<double> ours, theirs, oursFreed;
        double peak = 0;
        for (int run = 0; run < runs; ++run) {
            for (int turn = 0; turn < 2; ++turn) {
                const bool unrarTurn = (run + turn) % 2 == 0;
                const QString out = work.filePath(unrarTurn ? "out-unrar" : "out-bsdtar");
                if (!w.over) QDir(out).removeRecursively();
                if (!QDir(out).exists()) {
                    QDir().mkpath(out);
                    // "over": the first run also has something to replace.
                    if (w.over &&
                        !(unrarTurn ? runUnrar(*w.archive, out).ok : runBsdtar(*w.archive, out).ok))
                        return 1;
                }
                ::sync();
                const Run r = unrarTurn ? runUnrar(*w.archive, out) : runBsdtar(*w.archive, out);
                if (!r.ok) {
                    std::fprintf(stderr, "%s failed\n", unrarTurn ? "UnRar" : "bsdtar");
                    return 1;
                }
                if (unrarTurn) {
                    ours.push_back(r.seconds);
                    oursFreed.push_back(r.withFreeing);
                    peak = std::max(peak, r.peakMiB);
                    std::printf(
                        "%-10s run %d  UnRar      %7.3f s  (with freeing %7.3f s)  peak %6.1f "
                        "MiB\n",
                        w.name, run + 1, r.seconds, r.withFreeing, r.peakMiB);
                } else {
                    theirs.push_back(r.seconds);
                    std::printf(
                        "%-10s run %d  bsdtar -xf %7.3f s                           peak %6.1f "
                        "MiB\n",
                        w.name, run + 1, r.seconds, r.peakMiB);
                }
                std::fflush(stdout);
            }
        }
        QDir(work.filePath("out-unrar")).removeRecursively();
        QDir(work.filePath("out-bsdtar")).removeRecursively();
        const double m = medianOf(ours), o = medianOf(theirs);
        std::printf("%-10s median UnRar %.3f s (with freeing %.3f s), bsdtar -xf %.3f s\n", w.name,
                    m, medianOf(oursFreed), o);
        char row[256];
        std::snprintf(row, sizeof row, "ROW|unpack %s|%.4f|bsdtar -xf|%.4f|%.3f|%.1f", w.name, m, o,
                      m / o, peak);
        rows.push_back(row);
    }
    for (const std::string& r : rows) std::printf("%s\n", r.c_str());
    return 0;
}
