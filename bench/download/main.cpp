// bench_download [MiB] [rounds] [--runs N]   (or ZANDREL_BENCH_MIB, ZANDREL_BENCH_ROUNDS)
//
// Serves one file of the given size from separate server processes on 127.0.0.1 and fetches it
// in paired rounds (who goes first alternates), each fetch starting from synced disks in a fresh
// folder:
//  - over http and over https (a certificate authority made for the run, trusted by both
//    clients): DownloadFile against the curl command line;
//  - over http with the file's SHA-256 announced, as a server's UpdateSHA256 does:
//    DownloadUpdate, which stores only bytes of that hash, against `curl -s URL | sha256sum`;
//  - from a server that drops the first connection once half of the file is sent and then
//    answers ranges: DownloadFile, which goes on from the bytes it holds after its retry pause,
//    against the same fetch from a server that does not cut, in time and in bytes the server
//    sent (headers included).
// Prints every round and a summary per row, then the rows:
//   ROW|<work>|<ours median>|<other>|<other median>|<ratio>|<our peak MiB>|<unit, when not s>
#include "bench_server.h"
#include "bench_timing.h"
#include "fault_server.h"
#include "net/download_file.h"
#include "test_tls.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <iostream>
#include <vector>

namespace {

using zandrel::bench::cpuSeconds;
using zandrel::bench::medianOf;
using zandrel::bench::ServerProcess;
using zandrel::bench::Stopwatch;

// The bytes the server sent, once it has sent no more for a while: the client can have every
// byte before the server's thread is back from its send() and has counted them.
std::string settledCount(const zandrel::test::FaultServer& server) {
    for (std::int64_t last = -1;;) {
        const std::int64_t sent = server.bytesSent();
        if (sent == last) return std::to_string(sent);
        last = sent;
        ::usleep(100 * 1000);
    }
}

// Server mode for the resume rows: serves the file from a scripted server, whole, or cut once
// per round (the first connection of the round breaks off at half the file, the second gets
// the rest as a range), and answers each line on standard input with the bytes sent so far.
int serveScripted(const QString& file, bool cut, int rounds) {
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly)) qFatal("cannot read %s", qPrintable(file));
    zandrel::test::FaultReply whole;
    whole.body = f.readAll();
    whole.etag = "\"bench-1\"";
    zandrel::test::FaultReply broken = whole;
    broken.cutAt = whole.body.size() / 2;
    QList<zandrel::test::FaultReply> script;
    for (int r = 0; r < rounds && cut; ++r) script << broken << whole;
    if (script.isEmpty()) script << whole;
    zandrel::test::FaultServer server(script);
    const int port = server.url({}).section(':', -1).toInt();
    return zandrel::bench::serveUntilStdinCloses(port, [&server] { return settledCount(server); });
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

QByteArray sha256Of(const QString& path) {
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!file.open(QIODevice::ReadOnly) || !hash.addData(&file)) qFatal("cannot hash the file");
    return hash.result();
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

class CountingBoxes : public zandrel::MessageBoxes {
public:
    void show(const QString& prompt, zandrel::MsgIcon, const QString&) override {
        std::cerr << "message box: " << prompt.toStdString() << '\n';
        ++count;
    }
    int count = 0;
};

// One timed fetch: wall and CPU time, and for our side the peak resident memory and its growth.
struct Fetch {
    double seconds = 0;
    double cpu = 0;
    qint64 peakKiB = 0;
    qint64 growthKiB = 0;
    qint64 bytesSent = 0;  // by the server, where it counts them
};

// A command line of the other side, timed with its CPU time; its standard output is returned.
QByteArray runOther(const QString& program, const QStringList& args, Fetch& fetch) {
    ::sync();
    const double cpuBefore = cpuSeconds(RUSAGE_CHILDREN);
    QProcess process;
    const Stopwatch watch;
    process.start(program, args);
    process.waitForFinished(-1);
    fetch.seconds = watch.seconds();
    fetch.cpu = cpuSeconds(RUSAGE_CHILDREN) - cpuBefore;
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        qFatal("%s failed", qPrintable(program));
    return process.readAllStandardOutput();
}

// One of our download routines, timed with its CPU time and memory, as a window would call it.
void runOurs(const std::function<bool(zandrel::net::Inet&, CountingBoxes&)>& download,
             Fetch& fetch) {
    ::sync();
    zandrel::net::Inet inet;
    inet.setIdleHook([] { QCoreApplication::processEvents(); });
    CountingBoxes boxes;
    resetPeak();
    const qint64 before = statusKiB("VmRSS");
    const double cpuBefore = cpuSeconds(RUSAGE_SELF);
    const Stopwatch watch;
    const bool stored = download(inet, boxes);
    fetch.seconds = watch.seconds();
    fetch.cpu = cpuSeconds(RUSAGE_SELF) - cpuBefore;
    fetch.peakKiB = statusKiB("VmHWM");
    fetch.growthKiB = fetch.peakKiB - before;
    if (!stored || boxes.count) qFatal("the download failed");
}

std::vector<double> column(const std::vector<Fetch>& fetches, double (*of)(const Fetch&)) {
    std::vector<double> v;
    for (const Fetch& f : fetches) v.push_back(of(f));
    return v;
}

// Paired rounds of two fetches; prints each round and the medians.
struct Rows {
    std::vector<Fetch> ours, other;
    double oursMedian() const {
        return medianOf(column(ours, [](auto& f) { return f.seconds; }));
    }
    double otherMedian() const {
        return medianOf(column(other, [](auto& f) { return f.seconds; }));
    }
    double peakMiB() const {
        qint64 peak = 0;
        for (const Fetch& f : ours) peak = std::max(peak, f.peakKiB);
        return peak / 1024.0;
    }
    double growthMiB() const {
        qint64 growth = 0;
        for (const Fetch& f : ours) growth = std::max(growth, f.growthKiB);
        return growth / 1024.0;
    }
};

Rows pairedRounds(int rounds, const char* oursName, const char* otherName,
                  const std::function<void(Fetch&)>& ours,
                  const std::function<void(Fetch&)>& other) {
    Rows rows;
    for (int r = 0; r < rounds; ++r) {
        Fetch a, b;
        zandrel::bench::inAlternatingOrder(
            r, [&] { ours(a); }, [&] { other(b); });
        std::printf(
            "round %d: %s %.3f s (cpu %.3f s), %s %.3f s (cpu %.3f s), "
            "peak RSS %.1f MiB (+%.1f MiB)\n",
            r + 1, otherName, b.seconds, b.cpu, oursName, a.seconds, a.cpu, a.peakKiB / 1024.0,
            a.growthKiB / 1024.0);
        std::fflush(stdout);
        rows.ours.push_back(a);
        rows.other.push_back(b);
    }
    std::printf("median: %s %.3f s, %s %.3f s, ratio %.3f; median cpu: %s %.3f s, %s %.3f s\n",
                otherName, rows.otherMedian(), oursName, rows.oursMedian(),
                rows.oursMedian() / rows.otherMedian(), otherName,
                medianOf(column(rows.other, [](auto& f) { return f.cpu; })), oursName,
                medianOf(column(rows.ours, [](auto& f) { return f.cpu; })));
    std::printf("%s peak RSS %.1f MiB, growth during the fetch %.1f MiB\n", oursName,
                rows.peakMiB(), rows.growthMiB());
    return rows;
}

void printRow(const QString& work, double ours, const QString& other, double theirs, double peakMiB,
              const char* unit = "") {
    const QString peak = peakMiB > 0 ? QString::number(peakMiB, 'f', 1) : QString();
    std::printf("ROW|%s|%.4f|%s|%.4f|%.3f|%s|%s\n", qPrintable(work), ours, qPrintable(other),
                theirs, ours / theirs, qPrintable(peak), unit);
    std::fflush(stdout);
}

struct Setup {
    QString work;    // scratch folder of the run
    QString source;  // the served file
    qint64 mib = 0;
    int rounds = 0;
};

// DownloadFile against curl -o; false when a copy differs from the source.
bool measurePlain(const Setup& s, const QString& url, const QString& caBundle) {
    const QString scheme = url.section(':', 0, 0);
    const QString curlDir = s.work + "/curl-" + scheme, oursDir = s.work + "/ours-" + scheme;
    for (const QString& d : {curlDir, oursDir}) QDir().mkpath(d);
    std::printf("\ndownload: %lld MiB from %s, %d round(s)\n", s.mib, qPrintable(url), s.rounds);
    QStringList curlArgs{"-sS", "-f", "-o", curlDir + "/big.bin", url};
    if (!caBundle.isEmpty()) curlArgs << "--cacert" << caBundle;
    const Rows rows = pairedRounds(
        s.rounds, "DownloadFile", "curl",
        [&](Fetch& f) {
            QFile::remove(oursDir + "/big.bin");
            runOurs(
                [&](auto& inet, auto& boxes) {
                    return zandrel::net::DownloadFile(inet, url, oursDir, boxes);
                },
                f);
        },
        [&](Fetch& f) {
            QFile::remove(curlDir + "/big.bin");
            runOther("curl", curlArgs, f);
        });
    const bool identical = zandrel::bench::sameContents(s.source, oursDir + "/big.bin") &&
                           zandrel::bench::sameContents(s.source, curlDir + "/big.bin");
    std::printf("files identical to the source: %s\n", identical ? "yes" : "NO");
    printRow(QStringLiteral("download %1 MiB over %2").arg(s.mib).arg(scheme), rows.oursMedian(),
             "curl", rows.otherMedian(), rows.peakMiB());
    return identical;
}

// DownloadUpdate with the file's SHA-256 against curl piped into sha256sum.
bool measureHashed(const Setup& s, const QString& url) {
    const QByteArray sha256 = sha256Of(s.source);
    const QString oursDir = s.work + "/ours-sha256";
    QDir().mkpath(oursDir);
    std::printf("\ndownload with its SHA-256: %lld MiB from %s, %d round(s)\n", s.mib,
                qPrintable(url), s.rounds);
    bool sumsAgree = true;
    const Rows rows = pairedRounds(
        s.rounds, "DownloadUpdate", "curl | sha256sum",
        [&](Fetch& f) {
            QFile::remove(oursDir + "/big.bin");
            runOurs(
                [&](auto& inet, auto& boxes) {
                    return zandrel::net::DownloadUpdate(inet, {url}, {sha256, -1}, oursDir, boxes);
                },
                f);
        },
        [&](Fetch& f) {
            const QByteArray out =
                runOther("sh", {"-c", QStringLiteral("curl -sS -f '%1' | sha256sum").arg(url)}, f);
            sumsAgree = sumsAgree && out.startsWith(sha256.toHex());
        });
    const bool identical = zandrel::bench::sameContents(s.source, oursDir + "/big.bin");
    std::printf("stored file identical to the source: %s; sha256sum agrees: %s\n",
                identical ? "yes" : "NO", sumsAgree ? "yes" : "NO");
    printRow(QStringLiteral("download %1 MiB over http, SHA-256 checked").arg(s.mib),
             rows.oursMedian(), "curl -s, piped to sha256sum", rows.otherMedian(), rows.peakMiB());
    return identical && sumsAgree;
}

// DownloadFile from a server that cuts once at half the file, against one that does not.
bool measureResumed(const Setup& s) {
    const QString uncutDir = s.work + "/ours-uncut", cutDir = s.work + "/ours-cut";
    for (const QString& d : {uncutDir, cutDir}) QDir().mkpath(d);
    ServerProcess whole({"--serve-scripted", s.source, "whole", "1"});
    ServerProcess cut({"--serve-scripted", s.source, "cut", QString::number(s.rounds)});
    const QString wholeUrl = QStringLiteral("http://%1/big.bin").arg(whole.address());
    const QString cutUrl = QStringLiteral("http://%1/big.bin").arg(cut.address());
    const double pause = zandrel::net::Inet().Retries().firstPauseMs / 1000.0;
    std::printf("\ndownload cut at 50 %% and resumed: %lld MiB, %d round(s); retry pause %.3f s\n",
                s.mib, s.rounds, pause);
    auto fetchFrom = [](ServerProcess& server, const QString& url, const QString& dir) {
        return [&server, url, dir](Fetch& f) {
            QFile::remove(dir + "/big.bin");
            const qint64 before = server.ask("sent").toLongLong();
            runOurs([&](auto& inet,
                        auto& boxes) { return zandrel::net::DownloadFile(inet, url, dir, boxes); },
                    f);
            f.bytesSent = server.ask("sent").toLongLong() - before;
        };
    };
    const Rows rows =
        pairedRounds(s.rounds, "cut and resumed", "uncut", fetchFrom(cut, cutUrl, cutDir),
                     fetchFrom(whole, wholeUrl, uncutDir));
    const double cutBytes =
        medianOf(column(rows.ours, [](auto& f) { return double(f.bytesSent); }));
    const double wholeBytes =
        medianOf(column(rows.other, [](auto& f) { return double(f.bytesSent); }));
    std::printf("bytes sent by the server: cut and resumed %.0f, uncut %.0f\n", cutBytes,
                wholeBytes);
    const bool identical = zandrel::bench::sameContents(s.source, cutDir + "/big.bin") &&
                           zandrel::bench::sameContents(s.source, uncutDir + "/big.bin");
    std::printf("files identical to the source: %s\n", identical ? "yes" : "NO");
    const QString work = QStringLiteral("download %1 MiB over http, cut at 50 % and resumed");
    printRow(work.arg(s.mib), rows.oursMedian(), "the same, not cut", rows.otherMedian(),
             rows.peakMiB());
    printRow(QStringLiteral("the same less the %1 s pause before the retry").arg(pause, 0, 'f', 3),
             rows.oursMedian() - pause, "the same, not cut", rows.otherMedian(), 0);
    printRow(QStringLiteral("the same, bytes the server sent"), cutBytes / 1e6, "the same, not cut",
             wholeBytes / 1e6, 0, "MB");
    return identical;
}

// The https server's certificate comes from an authority made for this run; both clients trust
// it (curl with --cacert, DownloadFile through CURL_CA_BUNDLE, as the program would). Returns
// the bundle, certificate and key files.
QStringList makeTlsFiles(const QString& work) {
    const zandrel::test::TestCertificateAuthority ca(QStringLiteral("Zandrel Benchmark CA"));
    const zandrel::test::TlsIdentity identity = ca.issue({"127.0.0.1"});
    const QStringList files{work + "/ca.pem", work + "/server.pem", work + "/server.key"};
    ca.writeBundle(files[0]);
    for (const auto& [path, bytes] : {std::pair{files[1], identity.certificatePem},
                                      std::pair{files[2], identity.privateKeyPem}}) {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
            qFatal("cannot write %s", qPrintable(path));
    }
    return files;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 3 && args[1] == "--serve") return zandrel::bench::serveFolder(args[2]);
    if (args.size() == 5 && args[1] == "--serve-tls")
        return zandrel::bench::serveFolder(args[2], args[3], args[4]);
    if (args.size() == 5 && args[1] == "--serve-scripted")
        return serveScripted(args[2], args[3] == "cut", args[4].toInt());

    Setup s;
    s.mib = setting(args, 1, "ZANDREL_BENCH_MIB", 256);
    s.rounds = static_cast<int>(setting(args, 2, "ZANDREL_BENCH_ROUNDS", 5));
    if (const qsizetype at = args.indexOf("--runs"); at > 0 && at + 1 < args.size())
        s.rounds = args[at + 1].toInt();
    if (s.rounds < 1) qFatal("--runs must be at least 1");

    QTemporaryDir work;
    s.work = work.path();
    const QString www = work.filePath("www");
    QDir().mkpath(www);
    s.source = www + "/big.bin";
    writeTestFile(s.source, s.mib);
    const QStringList tls = makeTlsFiles(s.work);
    qputenv("CURL_CA_BUNDLE", tls[0].toLocal8Bit());

    bool identical = true;
    {
        const ServerProcess http({"--serve", www});
        const QString url = QStringLiteral("http://%1/big.bin").arg(http.address());
        identical &= measurePlain(s, url, {});
        identical &= measureHashed(s, url);
    }
    {
        const ServerProcess https({"--serve-tls", www, tls[1], tls[2]});
        identical &=
            measurePlain(s, QStringLiteral("https://%1/big.bin").arg(https.address()), tls[0]);
    }
    identical &= measureResumed(s);
    return identical ? 0 : 1;
}
