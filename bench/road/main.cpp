// bench_road [--runs N] [--maps N] [--map-mib N]
//
// The player's whole road for a RAR update: from the click on "Download and Apply" in the server
// window to the start of the game, through the real download, unpack and launch windows (on the
// offscreen platform, with the program's own timers), for a stored RAR of N maps (default 16 of
// 20 MiB) served by a separate process on 127.0.0.1. Beside it, in alternating order, the same
// update fetched with the curl command line and unpacked with `bsdtar -xf`, one after the other.
// Each run starts from synced disks in a fresh application folder. The game is a stand-in that
// only records its arguments.
//
// The road has waits of its own that no transfer makes shorter: the unpack window unpacks on its
// second tick (its first only changes a label) and the launch window starts the game a fixed
// time after it comes up. A second row shows the road less those waits, which is what the
// windows, the hash and the progress cost on top of the work; a third row lists the waits.
//
// Prints every run, then:
//   ROW|RAR update road, <size>|<ours median s>|curl, then bsdtar -xf|<median s>|<ratio>|<peak>
#include "base/messages.h"
#include "base/platform.h"
#include "bench_server.h"
#include "bench_timing.h"
#include "frame/clock.h"
#include "frame/registry.h"
#include "rar/rarwriter.h"
#include "resources/resources.h"
#include "update_stand_ins.h"
#include "windows/frm_finish.h"
#include "windows/frm_rar_download.h"
#include "windows/frm_rar_unpack.h"
#include "windows/frm_splash.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <vector>

namespace {

using namespace zandrel;
using bench::medianOf;
using bench::now;

// The windows' own pauses on the road (see above).
constexpr double kFixedPauses =
    (2 * windows::FrmRarUnpack::kStartTickMs + windows::FrmFinish::kLaunchDelayMs) / 1000.0;

class PrintedBoxes : public MessageBoxes {
public:
    void show(const QString& prompt, MsgIcon, const QString&) override {
        std::fprintf(stderr, "message box: %s\n", qPrintable(prompt));
        ++count;
    }
    int count = 0;
};

class NoMail : public platform::MailClient {
public:
    void compose(const QUrl&) override {}
};

// N maps of noise (each its own), stored in one RAR 5 archive.
qint64 writeArchive(const QString& work, const QString& archive, int maps, qint64 mapMib) {
    std::vector<quint32> block(256 * 1024);
    std::vector<rar::SourceFile> files;
    QDir().mkpath(work + "/maps-src");
    for (int m = 0; m < maps; ++m) {
        const QString path = QStringLiteral("%1/maps-src/map%2.map").arg(work).arg(m);
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly)) qFatal("cannot write %s", qPrintable(path));
        QRandomGenerator rng(quint32(m + 1));
        for (qint64 i = 0; i < mapMib; ++i) {
            rng.generate(block.begin(), block.end());
            f.write(reinterpret_cast<const char*>(block.data()), 1 << 20);
        }
        files.push_back({QStringLiteral("map%1.map").arg(m).toStdString(), path.toStdString()});
    }
    std::ofstream out(archive.toStdString(), std::ios::binary);
    rar::writeStoredFiles(rar::Format::Rar5, files, out);
    out.close();
    QDir(work + "/maps-src").removeRecursively();
    return QFileInfo(archive).size();
}

// A stand-in for the game: records its arguments beside itself.
void makeGame(const QString& exe) {
    QFile f(exe);
    if (!f.open(QIODevice::WriteOnly)) qFatal("cannot write the game stand-in");
    f.write("#!/bin/sh\nprintf '%s\\n' \"$@\" > \"$0.args\"\n");
    f.close();
    f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

struct Run {
    double seconds = 0;
    bool ok = false;
};

// The program's road in a fresh application folder, from the click to the game's start.
Run runRoad(const QString& app, const QString& address, PrintedBoxes& boxes) {
    QDir().mkpath(app + "/maps");
    QDir().mkpath(app + "/backup");
    makeGame(app + "/halo.exe");
    NoMail mail;
    frame::RealClock clock;
    Run run;
    {
        frame::Registry reg(frame::Services{&boxes, &mail, &clock, app});
        reg.define<windows::FrmSplash>();
        reg.define<windows::FrmSvrInfo>(
            [](frame::Registry& r) { return std::make_unique<test::SvrInfoStandIn>(r); });
        reg.define<windows::FrmRarDownload>();
        reg.define<windows::FrmRarUnpack>();
        reg.define<windows::FrmFinish>();
        reg.start<windows::FrmSplash>();
        reg.form<windows::FrmSplash>().Text1->setText(address);
        reg.dispatch([&reg] {
            reg.show<windows::FrmSvrInfo>();
            reg.hide<windows::FrmSplash>();
        });
        reg.form<windows::FrmSvrInfo>().setWindowTitle(QStringLiteral("10.1.2.3:2302"));
        ::sync();
        const double start = now();
        QTest::mouseClick(reg.form<windows::FrmSvrInfo>().cmdDownload, Qt::LeftButton);
        const QString started = app + "/halo.exe.args";
        while (!QFile::exists(started) && boxes.count == 0 && now() - start < 600) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        }
        run.seconds = now() - start;
        run.ok = QFile::exists(started) && boxes.count == 0;
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return run;
}

Run runCurlBsdtar(const QString& folder, const QString& url) {
    QDir().mkpath(folder + "/maps");
    ::sync();
    const double start = now();
    Run run;
    run.ok =
        QProcess::execute("curl", {"-sS", "-f", "-o", folder + "/zandrel.rar", url}) == 0 &&
        QProcess::execute("bsdtar", {"-xf", folder + "/zandrel.rar", "-C", folder + "/maps"}) == 0;
    run.seconds = now() - start;
    return run;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 3 && args[1] == "--serve") return bench::serveFolder(args[2]);
    int runs = 5, maps = 16;
    qint64 mapMib = 20;
    for (int i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == "--runs")
            runs = std::max(1, args[++i].toInt());
        else if (args[i] == "--maps")
            maps = std::max(1, args[++i].toInt());
        else if (args[i] == "--map-mib")
            mapMib = std::max(1, args[++i].toInt());
    }
    initResources();

    QTemporaryDir work;
    const QString www = work.filePath("www");
    QDir().mkpath(www);
    const qint64 size = writeArchive(work.path(), www + "/zandrel.rar", maps, mapMib);
    // The game is started through Wine's drive C: when it has one; a folder of our own.
    QDir().mkpath(work.filePath("wineprefix/drive_c"));
    qputenv("WINEPREFIX", work.filePath("wineprefix").toLocal8Bit());
    const bench::ServerProcess server({"--serve", www});
    const QString url = QStringLiteral("http://%1/zandrel.rar").arg(server.address());
    std::printf("road benchmark: %d maps of %lld MiB in a %.1f MB stored RAR from %s, %d run(s)\n",
                maps, mapMib, size / 1e6, qPrintable(url), runs);
    std::printf("run   road       road less pauses   curl + bsdtar\n");

    PrintedBoxes boxes;
    std::vector<double> road, floor;
    bool identical = true;
    for (int r = 0; r < runs; ++r) {
        const QString ours = work.filePath(QStringLiteral("app-%1").arg(r));
        const QString theirs = work.filePath(QStringLiteral("curl-%1").arg(r));
        Run a, b;
        bench::inAlternatingOrder(
            r, [&] { a = runRoad(ours, server.address(), boxes); },
            [&] { b = runCurlBsdtar(theirs, url); });
        if (!a.ok || !b.ok) {
            std::fprintf(stderr, "%s failed\n", !a.ok ? "the road" : "curl or bsdtar");
            return 1;
        }
        for (int m = 0; m < maps; ++m) {
            const QString name = QStringLiteral("/maps/map%1.map").arg(m);
            identical = identical && bench::sameContents(ours + name, theirs + name);
        }
        std::printf("%-5d %.3f s    %.3f s            %.3f s\n", r + 1, a.seconds,
                    a.seconds - kFixedPauses, b.seconds);
        std::fflush(stdout);
        road.push_back(a.seconds);
        floor.push_back(b.seconds);
        QDir(ours).removeRecursively();
        QDir(theirs).removeRecursively();
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const double peak = usage.ru_maxrss / 1024.0;
    const double roadM = medianOf(road), floorM = medianOf(floor);
    std::printf("median: road %.3f s (less pauses %.3f s), curl + bsdtar %.3f s\n", roadM,
                roadM - kFixedPauses, floorM);
    std::printf("maps unpacked by both identical: %s\n", identical ? "yes" : "NO");
    const int mb = int(size / 1000000);
    std::printf(
        "ROW|RAR update road, %d MB, click to game start|%.3f|curl, then bsdtar "
        "-xf|%.3f|%.2f|%.1f\n",
        mb, roadM, floorM, roadM / floorM, peak);
    std::printf(
        "ROW|the same less the windows' %.3f s of pauses|%.3f|curl, then bsdtar -xf|%.3f|%.2f|\n",
        kFixedPauses, roadM - kFixedPauses, floorM, (roadM - kFixedPauses) / floorM);
    std::printf(
        "ROW|the windows' fixed waits: 2 unpack ticks of %d ms, launch after %d ms|%.3f||||\n",
        windows::FrmRarUnpack::kStartTickMs, windows::FrmFinish::kLaunchDelayMs, kFixedPauses);
    return identical ? 0 : 1;
}
