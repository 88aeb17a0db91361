// bench_download [MiB] [rounds] [--runs N]   (or ZANDREL_BENCH_MIB, ZANDREL_BENCH_ROUNDS)
//
// Serves one file of the given size from separate server processes on 127.0.0.1, one over http
// and one over https (a certificate authority made for the run, trusted by both clients), then
// fetches it in turn with the curl command line and with DownloadFile into fresh folders, each
// round starting from synced disks. Prints every round, the best time of each, the throughput
// ratio (DownloadFile / curl) and DownloadFile's peak resident memory and its growth, and per
// protocol one line "ROW|<work>|<ours median s>|curl|<curl median s>|<ours/curl>|<peak MiB>".
#include "net/download_file.h"
#include "test_http_server.h"
#include "test_tls.h"

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

using zandrel::test::TestCertificateAuthority;
using zandrel::test::TestHttpServer;
using zandrel::test::TlsIdentity;

QByteArray contents(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) qFatal("cannot read %s", qPrintable(path));
    return file.readAll();
}

// Server mode: serve a folder until stdin closes; the port goes to stdout first. With a
// certificate and key (PEM files) it serves https.
int serve(const QString& root, const QString& certificate = {}, const QString& key = {}) {
    const TlsIdentity tls =
        certificate.isEmpty() ? TlsIdentity{} : TlsIdentity{contents(certificate), contents(key)};
    TestHttpServer server(root, tls);
    std::cout << server.port() << std::endl;
    std::string line;
    while (std::getline(std::cin, line)) {
    }
    return 0;
}

qint64 setting(const QStringList& args, int index, const char* env, qint64 fallback) {
    if (args.size() > index && !args[index].startsWith("--")) return args[index].toLongLong();
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

void runCurl(const QString& url, const QString& out, const QString& caBundle, Round& round) {
    const double cpuBefore = cpuSeconds(RUSAGE_CHILDREN);
    QStringList args{"-sS", "-f", "-o", out, url};
    if (!caBundle.isEmpty()) args << "--cacert" << caBundle;
    QElapsedTimer timer;
    timer.start();
    const int rc = QProcess::execute("curl", args);
    round.curlSeconds = timer.nsecsElapsed() / 1e9;
    round.curlCpu = cpuSeconds(RUSAGE_CHILDREN) - cpuBefore;
    if (rc != 0) qFatal("curl failed with %d", rc);
}

void runOurs(const QString& url, const QString& folder, Round& round) {
    zandrel::net::Inet inet;
    inet.setIdleHook([] { QCoreApplication::processEvents(); });  // as a window would
    CountingBoxes boxes;
    resetPeak();
    const qint64 before = statusKiB("VmRSS");
    const double cpuBefore = cpuSeconds(RUSAGE_SELF);
    QElapsedTimer timer;
    timer.start();
    const bool stored = zandrel::net::DownloadFile(inet, url, folder, boxes);
    round.oursSeconds = timer.nsecsElapsed() / 1e9;
    round.oursCpu = cpuSeconds(RUSAGE_SELF) - cpuBefore;
    round.peakKiB = statusKiB("VmHWM");
    round.growthKiB = round.peakKiB - before;
    if (!stored || boxes.count) qFatal("DownloadFile failed");
}

double medianOf(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

// A server process of this benchmark; stops when its stdin closes.
class ServerProcess {
public:
    ServerProcess(const QString& program, const QStringList& args) {
        process_.start(program, args);
        if (!process_.waitForReadyRead(10000)) qFatal("server did not start");
        port_ = process_.readLine().trimmed().toInt();
    }
    ~ServerProcess() {
        process_.closeWriteChannel();
        process_.waitForFinished(10000);
    }
    int port() const { return port_; }

private:
    QProcess process_;
    int port_ = 0;
};

// Fetches url `rounds` times with each tool; prints the rounds and the summary, then the ROW.
// False when a copy differs from the source.
bool measure(const QString& work, const QString& source, const QString& url,
             const QString& caBundle, qint64 mib, int rounds) {
    const QString curlDir = work + "/curl", oursDir = work + "/ours";
    for (const QString& d : {curlDir, oursDir}) QDir().mkpath(d);
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
                runCurl(url, curlDir + "/big.bin", caBundle, round);
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
    const bool identical =
        sameContents(source, oursDir + "/big.bin") && sameContents(source, curlDir + "/big.bin");

    auto column = [&](double Round::*member) {
        std::vector<double> v;
        for (const Round& r : results) v.push_back(r.*member);
        return v;
    };
    const std::vector<double> curlTimes = column(&Round::curlSeconds),
                              oursTimes = column(&Round::oursSeconds);
    const double curlBest = *std::min_element(curlTimes.begin(), curlTimes.end());
    const double oursBest = *std::min_element(oursTimes.begin(), oursTimes.end());
    const double curlMedian = medianOf(curlTimes), oursMedian = medianOf(oursTimes);
    qint64 peak = 0, growth = 0;
    for (const Round& r : results) {
        peak = std::max(peak, r.peakKiB);
        growth = std::max(growth, r.growthKiB);
    }
    std::printf("best: curl %.3f s (%.0f MiB/s), DownloadFile %.3f s (%.0f MiB/s)\n", curlBest,
                mib / curlBest, oursBest, mib / oursBest);
    std::printf("median: curl %.3f s, DownloadFile %.3f s\n", curlMedian, oursMedian);
    std::printf("median cpu: curl %.3f s, DownloadFile %.3f s\n", medianOf(column(&Round::curlCpu)),
                medianOf(column(&Round::oursCpu)));
    std::printf("time ratio DownloadFile/curl: best %.3f, median %.3f (goal <= 1.03)\n",
                oursBest / curlBest, oursMedian / curlMedian);
    std::printf("DownloadFile peak RSS %.1f MiB, growth during the fetch %.1f MiB (goal < 32)\n",
                peak / 1024.0, growth / 1024.0);
    std::printf("files identical to the source: %s\n", identical ? "yes" : "NO");
    const QString scheme = url.section(':', 0, 0);
    std::printf("ROW|download %lld MiB over %s|%.4f|curl|%.4f|%.3f|%.1f\n", mib, qPrintable(scheme),
                oursMedian, curlMedian, oursMedian / curlMedian, peak / 1024.0);
    std::fflush(stdout);
    return identical;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 3 && args[1] == "--serve") return serve(args[2]);
    if (args.size() == 5 && args[1] == "--serve-tls") return serve(args[2], args[3], args[4]);

    const qint64 mib = setting(args, 1, "ZANDREL_BENCH_MIB", 256);
    int rounds = static_cast<int>(setting(args, 2, "ZANDREL_BENCH_ROUNDS", 5));
    if (const qsizetype at = args.indexOf("--runs"); at > 0 && at + 1 < args.size())
        rounds = args[at + 1].toInt();
    if (rounds < 1) qFatal("--runs must be at least 1");

    QTemporaryDir work;
    const QString www = work.filePath("www");
    QDir().mkpath(www);
    writeTestFile(www + "/big.bin", mib);

    // The https server's certificate comes from an authority made for this run; both clients
    // trust it (curl with --cacert, DownloadFile through CURL_CA_BUNDLE, as the program would).
    const TestCertificateAuthority ca(QStringLiteral("Zandrel Benchmark CA"));
    const TlsIdentity identity = ca.issue({"127.0.0.1"});
    const QString caFile = work.filePath("ca.pem"), certFile = work.filePath("server.pem"),
                  keyFile = work.filePath("server.key");
    ca.writeBundle(caFile);
    for (const auto& [path, bytes] : {std::pair{certFile, identity.certificatePem},
                                      std::pair{keyFile, identity.privateKeyPem}}) {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
            qFatal("cannot write %s", qPrintable(path));
    }
    qputenv("CURL_CA_BUNDLE", caFile.toLocal8Bit());

    bool identical = true;
    {
        ServerProcess http(app.applicationFilePath(), {"--serve", www});
        identical &= measure(work.filePath("http"), www + "/big.bin",
                             QStringLiteral("http://127.0.0.1:%1/big.bin").arg(http.port()), {},
                             mib, rounds);
    }
    {
        ServerProcess https(app.applicationFilePath(), {"--serve-tls", www, certFile, keyFile});
        identical &= measure(work.filePath("https"), www + "/big.bin",
                             QStringLiteral("https://127.0.0.1:%1/big.bin").arg(https.port()),
                             caFile, mib, rounds);
    }
    return identical ? 0 : 1;
}
