// The PPF update: the patch fetched from a loopback server to drive C:, the patch tool started
// on the target map, the bar's fixed run and the game started through frmFinish.
#include "frame/form.h"
#include "frame/frame_fixture.h"
#include "http/test_http_server.h"
#include "windows/frm_finish.h"
#include "windows/frm_ppf_apply.h"
#include "windows/frm_ppf_download.h"
#include "windows/frm_splash.h"

#include <QApplication>
#include <QEvent>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <csignal>

#include <gtest/gtest.h>

#include "update_stand_ins.h"

namespace zandrel::windows {

using namespace frame;
namespace {

using test::ShowJournal;
using test::SvrInfoStandIn;

// Drive C: in a Wine prefix of the test's own, which does not exist yet.
struct WinePrefix {
    QTemporaryDir dir;
    QByteArray saved = qgetenv("WINEPREFIX");
    bool wasSet = qEnvironmentVariableIsSet("WINEPREFIX");
    WinePrefix() { qputenv("WINEPREFIX", (dir.path() + QStringLiteral("/prefix")).toLocal8Bit()); }
    ~WinePrefix() {
        if (wasSet) {
            qputenv("WINEPREFIX", saved);
        } else {
            qunsetenv("WINEPREFIX");
        }
    }
    QString driveC() const { return dir.path() + QStringLiteral("/prefix/drive_c"); }
};

const QByteArray kPatch = "PPF30 patch bytes from the server";

// The program from the server window on: the start window holds the loopback server's address,
// the server window's title the game server address and txtMap the target map.
class PpfRun : public test::FrameFixture {
public:
    static inline const QString kGameServer = QStringLiteral("10.0.0.9:2302");

    explicit PpfRun(const QString& target, bool withPatchTool = true) {
        reg().define<FrmSplash>();
        reg().define<FrmSvrInfo>([](Registry& r) { return std::make_unique<SvrInfoStandIn>(r); });
        reg().define<FrmPPFDownload>();
        reg().define<FrmPPFApply>();
        reg().define<FrmFinish>();
        makeStandIn(QStringLiteral("halo.exe"));
        if (withPatchTool) makeStandIn(QStringLiteral("ppf.exe"));
        server.route(QStringLiteral("/zandrel.ppf"), test::HttpReply::ok(kPatch));

        reg().start<FrmSplash>();
        reg().form<FrmSplash>().Text1->setText(server.address());
        reg().dispatch([this] {
            reg().show<FrmSvrInfo>();
            reg().hide<FrmSplash>();
        });
        auto& svr = static_cast<SvrInfoStandIn&>(reg().form<FrmSvrInfo>());
        svr.setWindowTitle(kGameServer);
        svr.txtMap->setText(target);
        svr.IsPpfUpdate = true;
    }

    // "Download and Apply" on a PPF update, clicked in the server window.
    void downloadAndApply() {
        QTest::mouseClick(reg().form<FrmSvrInfo>().cmdDownload, Qt::LeftButton);
    }

    // The patch tool itself in place of the stand-in.
    void installRealTool() {
        const QString tool = path(QStringLiteral("ppf.exe"));
        QFile::remove(tool);
        if (!QFile::copy(QStringLiteral(ZANDREL_PPF_TOOL), tool)) qFatal("cannot copy ppf.exe");
        QFile::setPermissions(tool, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    // Ticks on, a real moment apart, until the apply window has seen the tool's end and brought
    // up the launch window (or the time is up).
    bool tickUntilLaunchWindow() {
        for (int i = 0; i < 400 && !visible<FrmFinish>(); ++i) {
            QThread::msleep(10);
            clock.advance(50);
        }
        return visible<FrmFinish>();
    }

    FrmPPFApply& apply() { return reg().form<FrmPPFApply>(); }
    template <class F>
    bool visible() const {
        return registry->isVisible<F>();
    }
    template <class F>
    bool loaded() const {
        return registry->isLoaded<F>();
    }
    bool started(const char* exe) const {
        return QFile::exists(path(QString::fromLatin1(exe) + QStringLiteral(".args")));
    }

    WinePrefix wine;
    test::TestHttpServer server;
    ShowJournal journal;
};

TEST(UpdatePpf, FetchesToDriveCStartsThePatchToolAndAfter54TicksTheLaunchWindow) {
    PpfRun run(QStringLiteral("Blood Gulch.map"));
    ASSERT_FALSE(QFile::exists(run.wine.driveC()));
    run.downloadAndApply();

    EXPECT_EQ(run.server.requestedPaths(), QStringList{"/zandrel.ppf"});
    QFile patch(run.wine.driveC() + QStringLiteral("/zandrel.ppf"));
    ASSERT_TRUE(patch.open(QIODevice::ReadOnly));
    EXPECT_EQ(patch.readAll(), kPatch);
    EXPECT_TRUE(run.boxes.boxes.empty());

    // The target with its space arrives as one argument; the patch is named the Windows way.
    EXPECT_EQ(run.standInArgs(QStringLiteral("ppf.exe")),
              (QStringList{"a", run.appFolder() + QStringLiteral("/maps/Blood Gulch.map"),
                           "c:\\zandrel.ppf", "--end--"}));

    // The download window was on screen for the fetch and hid itself at the end of its load.
    EXPECT_TRUE(run.loaded<FrmPPFDownload>());
    EXPECT_FALSE(run.visible<FrmPPFDownload>());
    EXPECT_EQ(run.reg().form<FrmPPFDownload>().windowTitle(), QString());
    EXPECT_EQ(run.journal.shown,
              (QStringList{"frmSplash", "frmSvrInfo", "frmPPFDownload", "frmPPFApply"}));
    EXPECT_FALSE(run.visible<FrmSvrInfo>());

    // 53 ticks: 45 + 53 * 20 = 1105, not yet past 1120.
    run.clock.advance(53 * 50);
    EXPECT_EQ(run.apply().shpProg->widthTwips(), 1105.0f);
    EXPECT_TRUE(run.visible<FrmPPFApply>());
    EXPECT_FALSE(run.loaded<FrmFinish>());
    // The 54th: 1125, the background's width. The launch window comes once the tool's end has
    // been seen too.
    run.clock.advance(50);
    EXPECT_EQ(run.apply().shpProg->widthTwips(), 1125.0f);
    EXPECT_EQ(run.apply().shpProg->width(), run.apply().shpProgBack->width());
    ASSERT_TRUE(run.tickUntilLaunchWindow());
    EXPECT_FALSE(run.visible<FrmPPFApply>());
    EXPECT_FALSE(run.apply().tmrCheck->enabled());

    run.clock.advance(1499);
    EXPECT_FALSE(run.reg().ended());
    EXPECT_EQ(run.apply().shpProg->widthTwips(), 1125.0f);  // the bar stopped
    run.clock.advance(1);
    EXPECT_TRUE(run.reg().ended());
    EXPECT_EQ(run.standInArgs(QStringLiteral("halo.exe")),
              (QStringList{"-connect", PpfRun::kGameServer, "--end--"}));
    EXPECT_EQ(run.journal.shown, (QStringList{"frmSplash", "frmSvrInfo", "frmPPFDownload",
                                              "frmPPFApply", "frmFinish"}));
    QThread::msleep(150);
    EXPECT_EQ(run.standInArgs(QStringLiteral("ppf.exe")).count(QStringLiteral("--end--")), 1);
    EXPECT_EQ(run.standInArgs(QStringLiteral("halo.exe")).count(QStringLiteral("--end--")), 1);
    EXPECT_TRUE(run.boxes.boxes.empty());
}

TEST(UpdatePpf, ATargetThatIsNotAPlainFileNameIsNeverPatched) {
    struct Case {
        const char* name;
        QString target;
        bool withPatchTool;
    };
    const Case cases[] = {
        {"empty: the map folder itself", "", true},
        {"dot", ".", true},
        {"dot dot: the application folder", "..", true},
        {"dots and blanks, which Windows trims to dot dot", ".. ", true},
        {"three dots", "...", true},
        {"up and out", "../halo.exe", true},
        {"up and out, Windows separator", "..\\halo.exe", true},
        {"subfolder", "sub/bloodgulch.map", true},
        {"absolute", "/etc/passwd", true},
        {"drive", "c:\\windows\\system.ini", true},
        {"drive-relative", "c:boot.ini", true},
        {"quote ends the argument", "x.map\" \"c:\\boot.ini", true},
        {"control character", QStringLiteral("blood\tgulch.map"), true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PpfRun run(c.target, c.withPatchTool);
        run.downloadAndApply();
        EXPECT_EQ(run.boxes.boxes.size(), 1u);
        if (run.boxes.boxes.size() != 1u) continue;
        EXPECT_EQ(run.boxes.boxes[0].icon, MsgIcon::Critical);
        EXPECT_EQ(run.boxes.boxes[0].title, QStringLiteral("Zandrel"));
        EXPECT_TRUE(run.reg().ended());
        EXPECT_FALSE(run.visible<FrmPPFApply>());
        run.clock.advance(10000);
        EXPECT_FALSE(run.loaded<FrmFinish>());
        QThread::msleep(150);
        EXPECT_FALSE(run.started("ppf.exe"));
        EXPECT_FALSE(run.started("halo.exe"));
    }
}

// Maps long enough to hold the patch tool's validation block (1024 bytes at 0x9320).
QByteArray mapBytes(char seed, int size = 48 * 1024) {
    QByteArray bytes(size, '\0');
    quint32 x = quint32(seed) * 2654435761u | 1u;
    for (auto& b : bytes) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = char(x & 0xff);
    }
    return bytes;
}

QByteArray edited(QByteArray bytes, bool inValidationArea = false) {
    bytes.replace(100, 16, "new spawn points");
    if (inValidationArea) bytes.replace(0x9320 + 10, 7, "weapons");
    bytes.append("tail");
    return bytes;
}

// Makes the patch with the patch tool: `ppf c <original> <modified> <patch>`.
QByteArray makePatch(const QByteArray& original, const QByteArray& modified) {
    QTemporaryDir work;
    const auto file = [&](const char* name, const QByteArray& bytes) {
        QFile f(work.filePath(QString::fromLatin1(name)));
        if (!bytes.isNull() && (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())) {
            qFatal("cannot write %s", name);
        }
        return f.fileName();
    };
    const QString o = file("original.map", original), m = file("modified.map", modified);
    const QString p = file("zandrel.ppf", QByteArray());
    QProcess tool;
    tool.start(QStringLiteral(ZANDREL_PPF_TOOL), {QStringLiteral("c"), o, m, p});
    if (!tool.waitForFinished(30000) || tool.exitCode() != 0) return {};
    QFile f(p);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// What the player sees once the apply window's bar is full: a box when the tool did not apply
// the patch (shown before the launch window), and in every case the game started afterwards.
struct Outcome {
    std::vector<test::Box> boxes;
    bool launchWindowBeforeBox = false;
    QByteArray map;
    QStringList gameArgs;
};

Outcome applyToTarget(PpfRun& run) {
    Outcome out;
    run.boxes.onShow = [&](const test::Box&) {
        out.launchWindowBeforeBox = run.loaded<FrmFinish>();
    };
    run.downloadAndApply();
    run.clock.advance(54 * 50);
    EXPECT_TRUE(run.tickUntilLaunchWindow());
    run.clock.advance(FrmFinish::kLaunchDelayMs);
    EXPECT_TRUE(run.reg().ended());
    out.boxes = run.boxes.boxes;
    out.map = run.readFile(QStringLiteral("maps/target.map"));
    out.gameArgs = run.standInArgs(QStringLiteral("halo.exe"));
    return out;
}

TEST(UpdatePpf, ARefusedPatchIsReportedAndTheGameStartsAfterTheToolHasEnded) {
    const QByteArray original = mapBytes('a');
    const QByteArray patched = edited(original);
    const QByteArray patch = makePatch(original, patched);
    ASSERT_FALSE(patch.isEmpty());
    QByteArray damaged = patch;
    damaged.chop(3);
    struct Case {
        const char* name;
        QByteArray map;     // the target map before
        QByteArray served;  // the patch the server sends
        bool tool;          // ppf.exe in the application folder
        QByteArray after;   // the map after
        QString reason;     // in the box; empty: no box
    };
    const Case cases[] = {
        {"tool succeeds", original, patch, true, patched, {}},
        {"patch for another map", mapBytes('b'), patch, true, mapBytes('b'),
         QStringLiteral("The patch tool ended with status ")},
        {"damaged patch", original, damaged, true, original,
         QStringLiteral("The patch tool ended with status ")},
        {"tool missing", original, patch, false, original,
         QStringLiteral("The patch tool could not be started: File not found: ")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PpfRun run(QStringLiteral("target.map"), /*withPatchTool=*/false);
        if (c.tool) run.installRealTool();
        run.writeFile(QStringLiteral("maps/target.map"), c.map);
        run.server.route(QStringLiteral("/zandrel.ppf"), test::HttpReply::ok(c.served));

        const Outcome out = applyToTarget(run);
        EXPECT_EQ(out.map, c.after);
        EXPECT_EQ(out.gameArgs, (QStringList{"-connect", PpfRun::kGameServer, "--end--"}));
        if (c.reason.isEmpty()) {
            EXPECT_TRUE(out.boxes.empty()) << out.boxes.front().prompt.toStdString();
            continue;
        }
        EXPECT_EQ(out.boxes.size(), 1u);
        if (out.boxes.empty()) continue;
        const test::Box& box = out.boxes.front();
        EXPECT_EQ(box.icon, MsgIcon::Critical);
        EXPECT_EQ(box.title, QStringLiteral("Zandrel"));
        EXPECT_FALSE(out.launchWindowBeforeBox);
        EXPECT_TRUE(box.prompt.startsWith(
            QStringLiteral("The map update was not applied: target.map is as it was.\r\n\r\n")))
            << box.prompt.toStdString();
        EXPECT_TRUE(box.prompt.contains(c.reason)) << box.prompt.toStdString();
        // The tool's own line on standard error ends the report.
        if (c.tool) {
            EXPECT_TRUE(box.prompt.section(QStringLiteral("\r\n"), -1).startsWith("ppf: "))
                << box.prompt.toStdString();
        }
    }
}

// Only this server's current patch is applied: a patch an earlier visit left on drive C: is never
// handed to the patch tool after a fetch that did not give one. The player is told, the server
// window stays, and "Download and Apply" tries again.
TEST(UpdatePpf, AFailedFetchAppliesNothingAndTheServerWindowStaysToTryAgain) {
    test::HttpReply silent = test::HttpReply::ok(kPatch);
    silent.delayMs = 5000;
    struct Case {
        const char* name;
        test::HttpReply reply;
    };
    const Case cases[] = {
        {"not found", test::HttpReply::error(404, "no patch here")},
        {"server error", test::HttpReply::error(500, "broken")},
        {"time-out", silent},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PpfRun run(QStringLiteral("target.map"));
        run.writeFile(QStringLiteral("maps/target.map"), "the player's map");
        // Left by an earlier visit to another server.
        ASSERT_TRUE(QDir().mkpath(run.wine.driveC()));
        QFile stale(run.wine.driveC() + QStringLiteral("/zandrel.ppf"));
        ASSERT_TRUE(stale.open(QIODevice::WriteOnly));
        stale.write("another server's patch");
        stale.close();
        run.reg().define<FrmPPFDownload>([](Registry& r) {
            auto w = std::make_unique<FrmPPFDownload>(r);
            w->Inet1.setStallTimeoutMs(300);
            return w;
        });
        run.server.route(QStringLiteral("/zandrel.ppf"), c.reply);

        run.downloadAndApply();
        run.clock.advance(5000);

        EXPECT_EQ(run.boxes.prompts(),
                  QStringList{QStringLiteral("An error has occured in the file transfer or "
                                             "write.  Please try again later.\r\n\r\n") +
                              DownloadWindow::kNotDownloaded});
        EXPECT_FALSE(run.loaded<FrmPPFApply>());
        QThread::msleep(100);
        EXPECT_FALSE(run.started("ppf.exe"));
        EXPECT_EQ(run.readFile(QStringLiteral("maps/target.map")), QByteArray("the player's map"));
        EXPECT_TRUE(run.visible<FrmSvrInfo>());
        EXPECT_FALSE(run.loaded<FrmPPFDownload>());
        EXPECT_FALSE(run.loaded<FrmFinish>());
        EXPECT_FALSE(run.reg().ended());

        // Once the server has its patch, the same button fetches it and starts the tool.
        run.server.route(QStringLiteral("/zandrel.ppf"), test::HttpReply::ok(kPatch));
        run.downloadAndApply();
        EXPECT_FALSE(run.visible<FrmSvrInfo>());
        EXPECT_TRUE(run.visible<FrmPPFApply>());
        EXPECT_EQ(run.standInArgs(QStringLiteral("ppf.exe")).value(0), QStringLiteral("a"));
        EXPECT_TRUE(run.tickUntilLaunchWindow());
    }
}

bool toolKnowsAlreadyApplied() {
    QProcess tool;
    tool.start(QStringLiteral(ZANDREL_PPF_TOOL), {QStringLiteral("--help")});
    tool.waitForFinished(10000);
    return (tool.readAllStandardOutput() + tool.readAllStandardError()).contains("already applied");
}

TEST(UpdatePpf, ReconnectingWithAnAlreadyAppliedPatchShowsNoBox) {
    if (!toolKnowsAlreadyApplied()) {
        GTEST_SKIP() << "the patch tool does not tell an already applied patch yet";
    }
    struct Case {
        const char* name;
        bool inValidationArea;
    };
    const Case cases[] = {{"outside the validation area", false},
                          {"touching the validation area", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QByteArray original = mapBytes('c');
        const QByteArray patched = edited(original, c.inValidationArea);
        const QByteArray patch = makePatch(original, patched);
        EXPECT_FALSE(patch.isEmpty());
        PpfRun run(QStringLiteral("target.map"), /*withPatchTool=*/false);
        run.installRealTool();
        run.writeFile(QStringLiteral("maps/target.map"), patched);
        run.server.route(QStringLiteral("/zandrel.ppf"), test::HttpReply::ok(patch));
        const Outcome out = applyToTarget(run);
        EXPECT_TRUE(out.boxes.empty());
        EXPECT_EQ(out.map, patched);
        EXPECT_EQ(out.gameArgs, (QStringList{"-connect", PpfRun::kGameServer, "--end--"}));
    }
}

TEST(UpdatePpf, TheLaunchWindowWaitsForTheToolsEnd) {
    PpfRun run(QStringLiteral("target.map"), /*withPatchTool=*/false);
    // A tool that works until the test lets it finish.
    run.writeFile(QStringLiteral("ppf.exe"),
                  "#!/bin/sh\nwhile [ ! -e \"$0.go\" ]; do sleep 0.02; done\nexit 0\n");
    QFile::setPermissions(run.path(QStringLiteral("ppf.exe")),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    run.downloadAndApply();
    for (int i = 0; i < 100; ++i) {
        QThread::msleep(2);
        run.clock.advance(50);
    }
    EXPECT_EQ(run.apply().shpProg->widthTwips(), 1125.0f);  // full, and no wider
    EXPECT_TRUE(run.visible<FrmPPFApply>());
    EXPECT_FALSE(run.loaded<FrmFinish>());
    EXPECT_TRUE(run.apply().cmdCancel->isVisible());  // the player may stop it

    run.writeFile(QStringLiteral("ppf.exe.go"), "");
    ASSERT_TRUE(run.tickUntilLaunchWindow());
    EXPECT_EQ(run.apply().shpProg->widthTwips(), 1125.0f);
    EXPECT_FALSE(run.apply().cmdCancel->isVisible());
    EXPECT_TRUE(run.boxes.boxes.empty());
    run.clock.advance(FrmFinish::kLaunchDelayMs);
    EXPECT_EQ(run.standInArgs(QStringLiteral("halo.exe")),
              (QStringList{"-connect", PpfRun::kGameServer, "--end--"}));
}

// A patch tool that runs on past the bar can be stopped: Cancel comes up, the tool is ended
// (killed when it ignores SIGTERM), what it left half-written in the map folder goes, the map
// is as it was, and the server window comes back; nothing else is started.
TEST(UpdatePpf, APatchToolThatRunsLongCanBeStopped) {
    struct Case {
        const char* name;
        bool ignoresTerm;
        int control;  // 0 the button, 1 Escape, 2 the close box
    };
    const Case cases[] = {
        {"ends on SIGTERM, button", false, 0},
        {"ignores SIGTERM, Escape", true, 1},
        {"ends on SIGTERM, close box", false, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PpfRun run(QStringLiteral("target.map"), /*withPatchTool=*/false);
        run.writeFile(QStringLiteral("maps/target.map"), "the player's map");
        // Starts writing the map's replacement beside it, as the tool does, and never ends.
        run.writeFile(QStringLiteral("ppf.exe"),
                      QByteArray("#!/bin/sh\n") + (c.ignoresTerm ? "trap '' TERM\n" : "") +
                          "d=$(dirname \"$0\")\n"
                          "printf half > \"$d/maps/.zandrel-tmp-patching\"\n"
                          "echo $$ > \"$0.pid\"\n"
                          "while :; do sleep 0.02; done\n");
        QFile::setPermissions(run.path(QStringLiteral("ppf.exe")),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        run.downloadAndApply();
        ASSERT_TRUE(test::waitFor([&] { return QFile::exists(run.path("ppf.exe.pid")); }));
        const qint64 pid = run.readFile(QStringLiteral("ppf.exe.pid")).trimmed().toLongLong();
        run.clock.advance(50 * 10);
        EXPECT_FALSE(run.apply().cmdCancel->isVisible());  // not while the bar fills
        run.clock.advance(50 * 50);
        ASSERT_TRUE(run.apply().cmdCancel->isVisible());

        FrmPPFApply& w = run.apply();
        if (c.control == 0) QTest::mouseClick(w.cmdCancel, Qt::LeftButton);
        if (c.control == 1) QTest::keyClick(&w, Qt::Key_Escape);
        if (c.control == 2) w.close();

        EXPECT_FALSE(run.loaded<FrmPPFApply>());
        EXPECT_TRUE(run.visible<FrmSvrInfo>());
        EXPECT_FALSE(run.loaded<FrmFinish>());
        EXPECT_NE(::kill(pid_t(pid), 0), 0);  // the tool is gone
        EXPECT_EQ(QDir(run.path(QStringLiteral("maps")))
                      .entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot),
                  QStringList{"target.map"});
        EXPECT_EQ(run.readFile(QStringLiteral("maps/target.map")), QByteArray("the player's map"));
        EXPECT_TRUE(run.boxes.boxes.empty());
        run.clock.advance(5000);
        EXPECT_FALSE(run.started("halo.exe"));
        EXPECT_FALSE(run.reg().ended());
    }
}

// The patch's transfer cancelled: drive C: keeps the patch an earlier visit left, nothing is
// started, and the server window comes back.
TEST(UpdatePpf, ACancelledTransferLeavesDriveCAsItWas) {
    PpfRun run(QStringLiteral("target.map"));
    ASSERT_TRUE(QDir().mkpath(run.wine.driveC()));
    QFile stale(run.wine.driveC() + QStringLiteral("/zandrel.ppf"));
    ASSERT_TRUE(stale.open(QIODevice::WriteOnly));
    stale.write("another server's patch");
    stale.close();
    test::HttpReply slow = test::HttpReply::ok(QByteArray(2000 * 1000, 'p'));
    slow.pieceSize = 50 * 1000;
    slow.pauseMs = 20;
    run.server.route(QStringLiteral("/zandrel.ppf"), slow);
    bool clicked = false;
    QTimer clicker;
    QObject::connect(&clicker, &QTimer::timeout, [&] {
        if (clicked || !run.loaded<FrmPPFDownload>()) return;
        auto& w = run.reg().form<FrmPPFDownload>();
        if (w.Inet1.BytesReceived() == 0) return;
        clicked = true;
        QTest::mouseClick(w.cmdCancel, Qt::LeftButton);
    });
    clicker.start(5);
    run.downloadAndApply();
    clicker.stop();

    EXPECT_TRUE(clicked);
    EXPECT_EQ(QDir(run.wine.driveC()).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList{"zandrel.ppf"});
    QFile kept(run.wine.driveC() + QStringLiteral("/zandrel.ppf"));
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), QByteArray("another server's patch"));
    EXPECT_TRUE(run.visible<FrmSvrInfo>());
    EXPECT_FALSE(run.loaded<FrmPPFDownload>());
    EXPECT_FALSE(run.loaded<FrmPPFApply>());
    EXPECT_TRUE(run.boxes.boxes.empty());
    QThread::msleep(100);
    EXPECT_FALSE(run.started("ppf.exe"));
}

// The link drops the patch halfway: the window says so while it waits to try again, and the
// patch that arrives on the next try is the one applied.
TEST(UpdatePpf, ACutTransferIsTriedAgainAndTheWindowSaysSo) {
    PpfRun run(QStringLiteral("target.map"));
    const QByteArray patch(200 * 1000, 'p');
    test::HttpReply cut = test::HttpReply::ok(patch.first(100 * 1000));
    cut.announcedLength = patch.size();
    run.server.route(QStringLiteral("/zandrel.ppf"), cut);
    QString seen;
    QTimer watcher;
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        if (!seen.isEmpty() || !run.loaded<FrmPPFDownload>()) return;
        const QString line = run.reg().form<FrmPPFDownload>().lblTransfer->text();
        if (!line.startsWith(QStringLiteral("Connection lost"))) return;
        seen = line;
        run.server.route(QStringLiteral("/zandrel.ppf"), test::HttpReply::ok(patch));
    });
    watcher.start(5);
    run.downloadAndApply();
    watcher.stop();

    EXPECT_EQ(seen, QStringLiteral("Connection lost, resuming (1 of 5)\u2026"));
    EXPECT_EQ(run.server.requestedPaths().count(QStringLiteral("/zandrel.ppf")), 2);
    EXPECT_TRUE(run.boxes.boxes.empty());
    run.standInArgs(QStringLiteral("ppf.exe"));  // the tool has run on the whole patch
    QFile stored(run.wine.driveC() + QStringLiteral("/zandrel.ppf"));
    ASSERT_TRUE(stored.open(QIODevice::ReadOnly));
    EXPECT_TRUE(stored.readAll() == patch);
}

TEST(UpdatePpf, TheDownloadWindowIsOnScreenBeforeThePatchIsRequested) {
    PpfRun run(QStringLiteral("target.map"));
    test::HttpReply slow = test::HttpReply::ok(QByteArray(200 * 1000, 'p'));
    slow.pieceSize = 20 * 1000;
    slow.pauseMs = 30;
    run.server.route(QStringLiteral("/zandrel.ppf"), slow);
    qsizetype requestsWhenShown = -1;
    test::OnShow probe(QStringLiteral("frmPPFDownload"),
                       [&] { requestsWhenShown = run.server.requestedPaths().size(); });
    run.downloadAndApply();
    EXPECT_EQ(requestsWhenShown, 0);
    auto& download = run.reg().form<FrmPPFDownload>();
    EXPECT_FALSE(download.isVisible());  // hidden again once the apply window came up
    EXPECT_EQ(download.shpTransfer->fraction(), 1.0);
    EXPECT_TRUE(download.lblTransfer->text().startsWith(QStringLiteral("0.2 of 0.2 MB")))
        << download.lblTransfer->text().toStdString();
    run.standInArgs(QStringLiteral("ppf.exe"));  // the tool has run
}

}  // namespace
}  // namespace zandrel::windows
