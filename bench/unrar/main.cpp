// bench_unrar [--size-mib N] [--entries K] [--rar4|--rar5] [--runs R] [--dir FOLDER]
//
// Writes a stored RAR archive of N MiB (default 1024) across K entries (default 4), then
// unpacks it R times (default 3) into an empty folder with UnRar and with `bsdtar -xf`, in
// alternating order, and prints each run, the best of each and the throughput ratio.
#include "archive/unrar.h"
#include "base/error.h"
#include "rar/rarwriter.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <vector>

namespace {

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

bool writeArchive(const QString& path, zandrel::rar::Format format, std::uint64_t mib,
                  int entries) {
    Data data;
    std::ofstream out(path.toStdString(), std::ios::binary);
    out << zandrel::rar::archiveStart(format);
    std::uint64_t next = 0;
    for (int e = 0; e < entries; ++e) {
        const std::uint64_t first = next,
                            count = mib / entries + (std::uint64_t(e) < mib % entries);
        next += count;
        zandrel::rar::FileHeader h;
        h.name = "map" + std::to_string(e) + ".map";
        h.size = count << 20;
        for (std::uint64_t b = first; b < first + count; ++b)
            h.crc = zandrel::rar::crc32(data.block(b).data(), 1 << 20, h.crc);
        out << zandrel::rar::fileHeader(format, h);
        for (std::uint64_t b = first; b < first + count; ++b)
            out.write(data.block(b).data(), 1 << 20);
    }
    out << zandrel::rar::archiveEnd(format);
    return bool(out.flush());
}

// User plus system CPU seconds of this process or of its waited-for children.
double cpuSeconds(int who) {
    rusage u{};
    ::getrusage(who, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

std::int64_t folderBytes(const QString& folder) {
    std::int64_t total = 0;
    for (const QFileInfo& f : QDir(folder).entryInfoList(QDir::Files)) total += f.size();
    return total;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    std::uint64_t mib = 1024;
    int entries = 4, runs = 3;
    auto format = zandrel::rar::Format::Rar4;
    QString dir;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        const QString& a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == "--size-mib" && hasValue)
            mib = args[++i].toULongLong();
        else if (a == "--entries" && hasValue)
            entries = args[++i].toInt();
        else if (a == "--runs" && hasValue)
            runs = args[++i].toInt();
        else if (a == "--dir" && hasValue)
            dir = args[++i];
        else if (a == "--rar4")
            format = zandrel::rar::Format::Rar4;
        else if (a == "--rar5")
            format = zandrel::rar::Format::Rar5;
        else {
            std::fprintf(stderr,
                         "usage: bench_unrar [--size-mib N] [--entries K] [--rar4|--rar5] [--runs "
                         "R] [--dir FOLDER]\n");
            return 2;
        }
    }
    if (mib == 0 || entries < 1 || runs < 1) return 2;

    QTemporaryDir work(dir.isEmpty() ? QDir::tempPath() + "/bench_unrar-XXXXXX"
                                     : dir + "/bench_unrar-XXXXXX");
    if (!work.isValid()) {
        std::fprintf(stderr, "cannot create a work folder\n");
        return 1;
    }
    const QString archive = work.filePath("big.rar");
    std::printf("writing %llu MiB in %d entries (%s) to %s\n", (unsigned long long)mib, entries,
                format == zandrel::rar::Format::Rar4 ? "RAR 4" : "RAR 5", qPrintable(archive));
    std::fflush(stdout);
    if (!writeArchive(archive, format, mib, entries)) {
        std::fprintf(stderr, "cannot write the archive\n");
        return 1;
    }
    const double bytes = double(mib) * (1 << 20);
    const std::int64_t expected = std::int64_t(mib) << 20;

    std::vector<double> unrarSeconds, bsdtarSeconds;
    for (int run = 0; run < runs; ++run) {
        for (int turn = 0; turn < 2; ++turn) {
            const bool unrarTurn = (run + turn) % 2 == 0;
            const QString out = work.filePath(unrarTurn ? "out-unrar" : "out-bsdtar");
            QDir(out).removeRecursively();
            QDir().mkpath(out);
            ::sync();  // each run starts without the previous run's dirty pages
            QElapsedTimer timer;
            int events = 0;
            const int who = unrarTurn ? RUSAGE_SELF : RUSAGE_CHILDREN;
            const double cpuBefore = cpuSeconds(who);
            timer.start();
            if (unrarTurn) {
                zandrel::UnRar unrar;
                unrar.ExtractProgress = [&events](std::int16_t) { ++events; };
                try {
                    unrar.ExtractArchive(archive, out + "/");
                } catch (const zandrel::Error& e) {
                    std::fprintf(stderr, "UnRar failed: %s\n", e.what());
                    return 1;
                }
            } else {
                QProcess bsdtar;
                bsdtar.start("bsdtar", {"-xf", archive, "-C", out});
                if (!bsdtar.waitForFinished(-1) || bsdtar.exitCode() != 0) {
                    std::fprintf(stderr, "bsdtar failed: %s\n",
                                 bsdtar.readAllStandardError().constData());
                    return 1;
                }
            }
            const double s = timer.nsecsElapsed() / 1e9;
            const double cpu = cpuSeconds(who) - cpuBefore;
            if (folderBytes(out) != expected) {
                std::fprintf(stderr, "%s wrote %lld bytes, expected %lld\n",
                             unrarTurn ? "UnRar" : "bsdtar", (long long)folderBytes(out),
                             (long long)expected);
                return 1;
            }
            (unrarTurn ? unrarSeconds : bsdtarSeconds).push_back(s);
            if (unrarTurn)
                std::printf(
                    "run %d  UnRar      %7.3f s  %8.1f MiB/s  cpu %6.3f s  (%d progress events)\n",
                    run + 1, s, bytes / s / (1 << 20), cpu, events);
            else
                std::printf("run %d  bsdtar -xf %7.3f s  %8.1f MiB/s  cpu %6.3f s\n", run + 1, s,
                            bytes / s / (1 << 20), cpu);
            std::fflush(stdout);
            QDir(out).removeRecursively();
        }
    }
    const double bestUnrar = *std::min_element(unrarSeconds.begin(), unrarSeconds.end());
    const double bestBsdtar = *std::min_element(bsdtarSeconds.begin(), bsdtarSeconds.end());
    std::printf("best   UnRar      %7.3f s  %8.1f MiB/s\n", bestUnrar,
                bytes / bestUnrar / (1 << 20));
    std::printf("best   bsdtar -xf %7.3f s  %8.1f MiB/s\n", bestBsdtar,
                bytes / bestBsdtar / (1 << 20));
    std::printf("UnRar throughput / bsdtar throughput: %.2fx\n", bestBsdtar / bestUnrar);
    return 0;
}
