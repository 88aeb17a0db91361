// bench_download [MiB] [rounds]   (or ZANDREL_BENCH_MIB, ZANDREL_BENCH_ROUNDS)
//
// Serves one file of the given size from a separate server process on 127.0.0.1, then fetches
// it in turn with the curl command line and with DownloadFile into fresh folders, each round
// starting from synced disks. Prints every round, the best time of each, the throughput ratio
// (DownloadFile / curl) and DownloadFile's peak resident memory and its growth.
#include "net/download_file.h"
#include "test_http_server.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTextStream>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <vector>

namespace {

using zandrel::test::TestHttpServer;

// Server mode: serve a folder until stdin closes; the port goes to stdout first.
int serve(const QString& root) {
    TestHttpServer server(root);
    std::cout << server.port() << std::endl;
    std::string line;
    while (std::getline(std::cin, line)) {
    }
    return 0;
}

qint64 setting(const QStringList& args, int index, const char* env, qint64 fallback) {
    if (args.size() > index) return args[index].toLongLong();
    const QByteArray value = qgetenv(env);
    return value.isEmpty() ? fallback : value.toLongLong();
}

void writeTestFile(const QString& path, qint64 mib) {
    std::vector<quint32> block(256 * 1024);  // 1 MiB of noise, repeated
    QRandomGenerator(7).generate(block.begin(), block.end());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly)) qFatal("cannot write %s", qPrintable(path));
    for (qint64 i = 0; i < mib; ++i)
        file.write(reinterpret_cast<const char*>(block.data()), 1024 * 1024);
}

// A field of /proc/self/status in KiB, e.g. "VmHWM" (peak resident) or "VmRSS".
qint64 statusKiB(const char* field) {
    QFile status("/proc/self/status");
    if (!status.open(QIODevice::ReadOnly | QIODevice::Text)) return -1;
    const QByteArray prefix = QByteArray(field) + ':';
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith(prefix))
            return line.mid(prefix.size()).trimmed().split(' ')[0].toLongLong();
    return -1;
}

// Starts a new peak: VmHWM falls back to the present resident size.
void resetPeak() {
    QFile clear("/proc/self/clear_refs");
    if (clear.open(QIODevice::WriteOnly)) clear.write("5");
}

bool sameContents(const QString& a, const QString& b) {
    QFile fa(a), fb(b);
    if (!fa.open(QIODevice::ReadOnly) || !fb.open(QIODevice::ReadOnly)) return false;
    if (fa.size() != fb.size()) return false;
    while (!fa.atEnd())
        if (fa.read(1 << 20) != fb.read(1 << 20)) return false;
    return true;
}

class CountingBoxes : public zandrel::MessageBoxes {
public:
    void show(const QString& prompt, zandrel::MsgIcon, const QString&) override {
        std::cerr << "message box: " << prompt.toStdString() << '\n';
        ++count;
    }
    int count = 0;
};

// CPU seconds (user + system) used so far by this process or by its finished children;
// unlike wall time it hardly moves when other work shares the machine.
double cpuSeconds(int who) {
    rusage u{};
    getrusage(who, &u);
    auto secs = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return secs(u.ru_utime) + secs(u.ru_stime);
}

struct Round {
    double curlSeconds = 0;
    double oursSeconds = 0;
    double curlCpu = 0;
    double oursCpu = 0;
    qint64 peakKiB = 0;
    qint64 growthKiB = 0;
};

void runCurl(const QString& url, const QString& out, Round& round) {
    const double cpuBefore = cpuSeconds(RUSAGE_CHILDREN);
    QElapsedTimer timer;
    timer.start();
    const int rc = QProcess::execute("curl", {"-sS", "-f", "-o", out, url});
    round.curlSeconds = timer.nsecsElapsed() / 1e9;
    round.curlCpu = cpuSeconds(RUSAGE_CHILDREN) - cpuBefore;
    if (rc != 0) qFatal("curl failed with %d", rc);
}

void runOurs(const QString& url, const QString& folder, Round& round) {
    zandrel::Inet inet;
    inet.setIdleHook([] { QCoreApplication::processEvents(); });  // as a window would
    CountingBoxes boxes;
    resetPeak();
    const qint64 before = statusKiB("VmRSS");
    const double cpuBefore = cpuSeconds(RUSAGE_SELF);
    QElapsedTimer timer;
    timer.start();
    const bool stored = zandrel::DownloadFile(inet, url, folder, boxes);
    round.oursSeconds = timer.nsecsElapsed() / 1e9;
    round.oursCpu = cpuSeconds(RUSAGE_SELF) - cpuBefore;
    round.peakKiB = statusKiB("VmHWM");
    round.growthKiB = round.peakKiB - before;
    if (!stored || boxes.count) qFatal("DownloadFile failed");
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 3 && args[1] == "--serve") return serve(args[2]);

    const qint64 mib = setting(args, 1, "ZANDREL_BENCH_MIB", 256);
    const int rounds = static_cast<int>(setting(args, 2, "ZANDREL_BENCH_ROUNDS", 3));

    QTemporaryDir work;
    const QString www = work.filePath("www"), curlDir = work.filePath("curl"),
                  oursDir = work.filePath("ours");
    for (const QString& d : {www, curlDir, oursDir}) QDir().mkpath(d);
    writeTestFile(www + "/big.bin", mib);

    QProcess server;
    server.start(app.applicationFilePath(), {"--serve", www});
    if (!server.waitForReadyRead(10000)) qFatal("server did not start");
    const int port = server.readLine().trimmed().toInt();
    const QString url = QStringLiteral("http://127.0.0.1:%1/big.bin").arg(port);

    std::printf("download benchmark: %lld MiB from %s, %d round(s)\n", mib, qPrintable(url),
                rounds);
    std::vector<Round> results;
    for (int r = 0; r < rounds; ++r) {
        Round round;
        QFile::remove(curlDir + "/big.bin");
        QFile::remove(oursDir + "/big.bin");
        // Alternate who goes first, so neither always meets the other's dirty pages.
        for (int turn = 0; turn < 2; ++turn) {
            ::sync();
            if ((turn + r) % 2 == 0)
                runCurl(url, curlDir + "/big.bin", round);
            else
                runOurs(url, oursDir, round);
        }
        std::printf(
            "round %d: curl %.3f s (cpu %.3f s), DownloadFile %.3f s (cpu %.3f s), "
            "peak RSS %.1f MiB (+%.1f MiB)\n",
            r + 1, round.curlSeconds, round.curlCpu, round.oursSeconds, round.oursCpu,
            round.peakKiB / 1024.0, round.growthKiB / 1024.0);
        results.push_back(round);
    }
    const bool identical = sameContents(www + "/big.bin", oursDir + "/big.bin") &&
                           sameContents(www + "/big.bin", curlDir + "/big.bin");
    server.closeWriteChannel();
    server.waitForFinished(10000);

    auto best = [&](auto member) {
        double b = results[0].*member;
        for (const Round& r : results) b = std::min(b, r.*member);
        return b;
    };
    auto median = [&](auto member) {
        std::vector<double> v;
        for (const Round& r : results) v.push_back(r.*member);
        std::sort(v.begin(), v.end());
        return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
    };
    const double curlBest = best(&Round::curlSeconds), oursBest = best(&Round::oursSeconds);
    const double curlMedian = median(&Round::curlSeconds), oursMedian = median(&Round::oursSeconds);
    qint64 peak = 0, growth = 0;
    for (const Round& r : results) {
        peak = std::max(peak, r.peakKiB);
        growth = std::max(growth, r.growthKiB);
    }
    std::printf("best: curl %.3f s (%.0f MiB/s), DownloadFile %.3f s (%.0f MiB/s)\n", curlBest,
                mib / curlBest, oursBest, mib / oursBest);
    std::printf("median: curl %.3f s, DownloadFile %.3f s\n", curlMedian, oursMedian);
    std::printf("median cpu: curl %.3f s, DownloadFile %.3f s\n", median(&Round::curlCpu),
                median(&Round::oursCpu));
    std::printf("throughput ratio DownloadFile/curl: best %.3f, median %.3f (goal >= 0.97)\n",
                curlBest / oursBest, curlMedian / oursMedian);
    std::printf("DownloadFile peak RSS %.1f MiB, growth during the fetch %.1f MiB (goal < 32)\n",
                peak / 1024.0, growth / 1024.0);
    std::printf("files identical to the source: %s\n", identical ? "yes" : "NO");
    return identical ? 0 : 1;
}
