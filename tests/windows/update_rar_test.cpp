// The RAR update: the archive fetched from a loopback server, unpacked into the map folder by
// the real unpacker, the bar, and the game started through frmFinish.
#include "frame/form.h"
#include "frame/frame_fixture.h"
#include "http/test_http_server.h"
#include "rar/rarwriter.h"
#include "windows/frm_finish.h"
#include "windows/frm_rar_download.h"
#include "windows/frm_rar_unpack.h"
#include "windows/frm_splash.h"
#include "windows/transfer_bar.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QEvent>
#include <QFile>
#include <QImage>
#include <QRegularExpression>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include "update_stand_ins.h"

#include <functional>
#include <map>
#include <memory>
#include <optional>

namespace zandrel::windows {

using namespace frame;
namespace {

using test::ShowJournal;
using test::SvrInfoStandIn;

using rar::Entry;
using rar::Format;

QByteArray bytes(const std::string& s) {
    return QByteArray(s.data(), qsizetype(s.size()));
}

// Every file and folder under a folder, with the contents of the files.
std::map<QString, QByteArray> snapshot(const QString& folder) {
    std::map<QString, QByteArray> out;
    QDirIterator it(folder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString p = it.next();
        QFile f(p);
        out[p.mid(folder.size())] = it.fileInfo().isDir()         ? QByteArray("<dir>")
                                    : f.open(QIODevice::ReadOnly) ? f.readAll()
                                                                  : QByteArray("<unreadable>");
    }
    return out;
}

// The program from the server window on: the start window holds the loopback server's address,
// the server window's title the game server address.
class RarRun : public test::FrameFixture {
public:
    static inline const QString kGameServer = QStringLiteral("10.1.2.3:2302");

    RarRun() { setUpRun(); }

    // A new run of the program in the same application folder, up to the server window.
    void newRun() {
        newRegistry();
        setUpRun();
    }

    void setUpRun() {
        reg().define<FrmSplash>();
        reg().define<FrmSvrInfo>([](Registry& r) { return std::make_unique<SvrInfoStandIn>(r); });
        reg().define<FrmRarDownload>();
        reg().define<FrmRarUnpack>();
        reg().define<FrmFinish>();
        if (!QFile::exists(path(QStringLiteral("halo.exe")))) {
            makeStandIn(QStringLiteral("halo.exe"));
            writeFile(QStringLiteral("maps/bloodgulch.map"), "old bloodgulch");
            writeFile(QStringLiteral("maps/keep.map"), "keep me");
        }

        reg().start<FrmSplash>();
        reg().form<FrmSplash>().Text1->setText(server.address());
        reg().dispatch([this] {
            reg().show<FrmSvrInfo>();
            reg().hide<FrmSplash>();
        });
        reg().form<FrmSvrInfo>().setWindowTitle(kGameServer);
    }

    // "Download and Apply" on a RAR update, clicked in the server window.
    void downloadAndApply() {
        QTest::mouseClick(reg().form<FrmSvrInfo>().cmdDownload, Qt::LeftButton);
    }

    FrmRarUnpack& unpack() { return reg().form<FrmRarUnpack>(); }
    template <class F>
    bool visible() const {
        return registry->isVisible<F>();
    }
    template <class F>
    bool loaded() const {
        return registry->isLoaded<F>();
    }
    bool gameStarted() const { return QFile::exists(path(QStringLiteral("halo.exe.args"))); }
    // Everything in the application folder but the fetched archive.
    std::map<QString, QByteArray> appFiles() const {
        auto files = snapshot(appFolder());
        files.erase(QStringLiteral("/zandrel.rar"));
        return files;
    }

    test::TestHttpServer server;
    ShowJournal journal;
};

TEST(UpdateRar, FetchesUnpacksIntoTheMapFolderAndStartsTheGameOnce) {
    RarRun run;
    const std::string archive = rar::writeStored(
        Format::Rar5, {{"bloodgulch.map", "new bloodgulch"}, {"beavercreek.map", "new creek"}});
    run.server.route(QStringLiteral("/zandrel.rar"), test::HttpReply::ok(bytes(archive)));

    run.downloadAndApply();
    EXPECT_EQ(run.server.requestedPaths(), QStringList{"/zandrel.rar"});
    EXPECT_EQ(run.readFile(QStringLiteral("zandrel.rar")), bytes(archive));
    // The unpack window comes up first, the download window in front of it.
    // The download window comes up before its fetch, the unpack window after it; the download
    // window is in front once its load is done.
    EXPECT_EQ(run.journal.shown,
              (QStringList{"frmSplash", "frmSvrInfo", "frmRarDownload", "frmRarUnpack"}));
    EXPECT_EQ(run.reg().form<FrmRarDownload>().windowTitle(),
              QStringLiteral("Downloading, please wait..."));
    EXPECT_FALSE(run.visible<FrmSvrInfo>());
    EXPECT_TRUE(run.boxes.boxes.empty());

    // The first tick only changes the caption.
    EXPECT_EQ(run.unpack().lbltime->text(), QStringLiteral("please wait..."));
    run.clock.advance(1023);
    EXPECT_EQ(run.unpack().lbltime->text(), QStringLiteral("please wait..."));
    run.clock.advance(1);
    EXPECT_EQ(run.unpack().lbltime->text(), QStringLiteral("Unpacking..."));
    EXPECT_EQ(run.readFile(QStringLiteral("maps/bloodgulch.map")), QByteArray("old bloodgulch"));
    EXPECT_FALSE(run.loaded<FrmFinish>());

    // The second one unpacks: all of it is in place when the launch window comes up.
    run.clock.advance(1024);
    EXPECT_EQ(run.readFile(QStringLiteral("maps/bloodgulch.map")), QByteArray("new bloodgulch"));
    EXPECT_EQ(run.readFile(QStringLiteral("maps/beavercreek.map")), QByteArray("new creek"));
    EXPECT_EQ(run.readFile(QStringLiteral("maps/keep.map")), QByteArray("keep me"));
    EXPECT_EQ(run.unpack().shpBar->widthTwips(), 3225.0f);
    EXPECT_TRUE(run.visible<FrmFinish>());
    EXPECT_FALSE(run.visible<FrmRarUnpack>());
    EXPECT_TRUE(run.visible<FrmRarDownload>());  // never hidden
    EXPECT_EQ(run.journal.shown.count(QStringLiteral("frmFinish")), 1);

    // Later ticks do not unpack the archive again over what the player has since.
    run.writeFile(QStringLiteral("maps/beavercreek.map"), "edited by the player");
    run.clock.advance(1024);
    EXPECT_EQ(run.readFile(QStringLiteral("maps/beavercreek.map")),
              QByteArray("edited by the player"));
    EXPECT_FALSE(run.reg().ended());
    EXPECT_FALSE(run.gameStarted());

    // frmFinish was loaded at 2048 ms.
    run.clock.advance(2048 + 1499 - run.clock.now());
    EXPECT_FALSE(run.reg().ended());
    EXPECT_TRUE(run.visible<FrmRarDownload>());
    run.clock.advance(1);
    EXPECT_TRUE(run.reg().ended());
    EXPECT_EQ(run.standInArgs(QStringLiteral("halo.exe")),
              (QStringList{"-connect", RarRun::kGameServer, "--end--"}));
    QThread::msleep(150);
    EXPECT_EQ(run.standInArgs(QStringLiteral("halo.exe")).count(QStringLiteral("--end--")), 1);
    EXPECT_TRUE(run.boxes.boxes.empty());
}

TEST(UpdateRar, TheBarFollowsTheProgressAndAbove90TheLaunchWindowComes) {
    RarRun run;
    run.reg().dispatch([&] { run.reg().show<FrmRarUnpack>(); });
    struct Case {
        std::int16_t percent;
        float width;  // twips
        int pixels;
        bool launchWindow;
    };
    const Case cases[] = {
        {0, 0.0f, 0, false},       {50, 1612.5f, 108, false}, {90, 2902.5f, 194, false},
        {91, 2934.75f, 196, true}, {100, 3225.0f, 215, true}, {120, 3870.0f, 258, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.percent);
        // Raised as the component raises it: nested in a running handler.
        run.reg().dispatch([&] { run.unpack().UnRar.ExtractProgress(c.percent); });
        EXPECT_EQ(run.unpack().shpBar->widthTwips(), c.width);
        EXPECT_EQ(run.unpack().shpBar->width(), c.pixels);
        EXPECT_EQ(run.visible<FrmFinish>(), c.launchWindow);
        EXPECT_EQ(run.visible<FrmRarUnpack>(), !c.launchWindow);
    }
    // 100 percent is exactly the background; 120 reaches past it.
    EXPECT_EQ(run.unpack().shpProgressBack->width(), 215);
    EXPECT_EQ(run.journal.shown.count(QStringLiteral("frmFinish")), 1);
    EXPECT_FALSE(run.reg().ended());
}

TEST(UpdateRar, AHostileOrBrokenArchiveIsReportedAndNothingIsStarted) {
    const std::string good = rar::writeStored(
        Format::Rar4, {{"bloodgulch.map", "new bloodgulch"}, {"beavercreek.map", "new creek"}});
    struct Case {
        const char* name;
        std::string archive;
    };
    const Case cases[] = {
        {"escaping entry", rar::writeStored(Format::Rar5, {{"bloodgulch.map", "new bloodgulch"},
                                                           {"../escaped.map", "escaped"}})},
        {"escaping entry, Windows separators",
         rar::writeStored(Format::Rar4,
                          {{"bloodgulch.map", "new bloodgulch"}, {"..\\escaped.map", "escaped"}})},
        {"truncated archive", good.substr(0, good.size() - 20)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RarRun run;
        run.server.route(QStringLiteral("/zandrel.rar"), test::HttpReply::ok(bytes(c.archive)));
        run.downloadAndApply();
        const auto before = run.appFiles();
        run.clock.advance(2048);

        EXPECT_EQ(run.appFiles(), before);
        EXPECT_FALSE(QFile::exists(run.path(QStringLiteral("../escaped.map"))));
        ASSERT_EQ(run.boxes.boxes.size(), 1u);
        const test::Box& report = run.boxes.boxes.back();
        EXPECT_EQ(report.icon, MsgIcon::Critical);
        EXPECT_EQ(report.title, QStringLiteral("Zandrel"));
        EXPECT_TRUE(report.prompt.startsWith(QStringLiteral("Error ")))
            << report.prompt.toStdString();
        EXPECT_TRUE(run.reg().ended());
        EXPECT_FALSE(run.loaded<FrmFinish>());
        run.clock.advance(5000);
        QThread::msleep(150);
        EXPECT_FALSE(run.gameStarted());
    }
}

// Only this server's current update is unpacked: an archive an earlier visit left in the
// application folder is never unpacked after a fetch that did not give one. The player is told,
// the server window stays, and "Download and Apply" tries again.
TEST(UpdateRar, AFailedFetchUnpacksNothingAndTheServerWindowStaysToTryAgain) {
    const std::string fresh = rar::writeStored(Format::Rar5, {{"bloodgulch.map", "fresh"}});
    test::HttpReply silent = test::HttpReply::ok(bytes(fresh));
    silent.delayMs = 5000;
    test::HttpReply cut = test::HttpReply::ok(bytes(fresh));
    cut.announcedLength = qint64(fresh.size()) * 2;
    struct Case {
        const char* name;
        std::optional<test::HttpReply> reply;  // none: the server has no archive (404)
    };
    const Case cases[] = {
        {"not found", std::nullopt},
        {"server error", test::HttpReply::error(500, "broken")},
        {"time-out", silent},
        {"cut short", cut},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RarRun run;
        // Left by an earlier visit to another server.
        const std::string stale = rar::writeStored(
            Format::Rar4, {{"bloodgulch.map", "another server's"}, {"keep.map", "overwritten"}});
        run.writeFile(QStringLiteral("zandrel.rar"), bytes(stale));
        run.reg().define<FrmRarDownload>([](Registry& r) {
            auto w = std::make_unique<FrmRarDownload>(r);
            w->Inet1.setStallTimeoutMs(300);
            w->Inet1.setRetryPolicy({5, 10});  // the cut is tried again, quickly here
            return w;
        });
        if (c.reply) run.server.route(QStringLiteral("/zandrel.rar"), *c.reply);
        const auto before = snapshot(run.appFolder());

        run.downloadAndApply();
        run.clock.advance(5000);

        EXPECT_EQ(run.boxes.prompts(),
                  QStringList{QStringLiteral("An error has occured in the file transfer or "
                                             "write.  Please try again later.\r\n\r\n") +
                              DownloadWindow::kNotDownloaded});
        EXPECT_EQ(snapshot(run.appFolder()), before);
        EXPECT_TRUE(run.visible<FrmSvrInfo>());
        EXPECT_FALSE(run.loaded<FrmRarDownload>());
        EXPECT_FALSE(run.loaded<FrmRarUnpack>());
        EXPECT_FALSE(run.loaded<FrmFinish>());
        EXPECT_FALSE(run.reg().ended());
        EXPECT_FALSE(run.gameStarted());

        // Once the server has its archive, the same button fetches and unpacks it.
        run.server.route(QStringLiteral("/zandrel.rar"), test::HttpReply::ok(bytes(fresh)));
        run.downloadAndApply();
        EXPECT_FALSE(run.visible<FrmSvrInfo>());
        run.clock.advance(2048);
        EXPECT_EQ(run.readFile(QStringLiteral("maps/bloodgulch.map")), QByteArray("fresh"));
        EXPECT_EQ(run.readFile(QStringLiteral("maps/keep.map")), QByteArray("keep me"));
        EXPECT_TRUE(run.visible<FrmFinish>());
        EXPECT_EQ(run.boxes.boxes.size(), 1u);
    }
}

// A zandrel.rar already in place with the SHA-256 (and size) this server's settings announce is
// this server's current update: unpacked without a request. Any other file is fetched as ever.
TEST(UpdateRar, AnArchiveWithTheAnnouncedHashIsUnpackedWithoutDownloadingIt) {
    const QByteArray archive =
        bytes(rar::writeStored(Format::Rar5, {{"bloodgulch.map", "announced"}}));
    const QByteArray other = bytes(rar::writeStored(Format::Rar5, {{"bloodgulch.map", "other"}}));
    const QString hex = QString::fromLatin1(
        QCryptographicHash::hash(archive, QCryptographicHash::Sha256).toHex().toUpper());
    const QString size = QString::number(archive.size());
    struct Case {
        const char* name;
        QByteArray local;  // zandrel.rar before
        QString sha256, size;
        bool fetched;
        bool applied = true;  // false: the served archive is not the announced one either
    };
    const Case cases[] = {
        {"hash and size match", archive, hex, size, false},
        {"hash matches, no size announced", archive, hex, {}, false},
        {"another archive in place", other, hex, size, true},
        {"size announced differs", archive, hex, QString::number(archive.size() + 1), true, false},
        {"no hash announced", archive, {}, size, true},
        {"malformed hash", archive, hex.left(63), size, true},
        {"no archive in place", {}, hex, size, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RarRun run;
        if (!c.local.isNull()) run.writeFile(QStringLiteral("zandrel.rar"), c.local);
        run.server.route(QStringLiteral("/zandrel.rar"), test::HttpReply::ok(archive));
        auto& svr = run.reg().form<FrmSvrInfo>();
        if (!c.sha256.isEmpty()) svr.UpdateSha256 = server::parseSha256(c.sha256);
        if (!c.size.isEmpty()) svr.UpdateSize = server::parseSize(c.size);

        run.downloadAndApply();
        run.clock.advance(2048);

        EXPECT_EQ(run.server.requestedPaths().size(), c.fetched ? 1 : 0);
        if (!c.applied) {
            // Nothing applied and nothing replaced; the box names the size expected.
            EXPECT_EQ(run.readFile(QStringLiteral("maps/bloodgulch.map")), "old bloodgulch");
            EXPECT_EQ(run.readFile(QStringLiteral("zandrel.rar")), c.local);
            EXPECT_FALSE(run.visible<FrmFinish>());
            ASSERT_EQ(run.boxes.boxes.size(), 1u);
            EXPECT_TRUE(run.boxes.boxes[0].prompt.contains(
                QStringLiteral("Expected: %1 bytes").arg(archive.size() + 1)));
            continue;
        }
        EXPECT_EQ(run.readFile(QStringLiteral("maps/bloodgulch.map")), QByteArray("announced"));
        EXPECT_TRUE(run.visible<FrmFinish>());
        EXPECT_TRUE(run.boxes.boxes.empty());
    }
}

// Runs an action once, as a window is about to be painted after a condition holds: painting is
// what held work lets happen, so the action comes where a player's click would.
class AtPaint : public QObject {
public:
    AtPaint(std::function<bool()> condition, std::function<void()> action)
        : condition_(std::move(condition)), action_(std::move(action)) {
        qApp->installEventFilter(this);
    }
    ~AtPaint() override { qApp->removeEventFilter(this); }
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::UpdateRequest && !done && condition_()) {
            done = true;
            action_();
        }
        return false;
    }
    bool done = false;

private:
    std::function<bool()> condition_;
    std::function<void()> action_;
};

// The player's cancel through each of its controls, at each stage of the road: the transfer
// ends or the unpack is abandoned, the application folder and the maps are as they were (no
// temporary file, no staging folder), no box, and the server window is back to try again.
TEST(UpdateRar, ACancelAtAnyStageLeavesEverythingAsItWasAndBringsTheServerWindowBack) {
    enum class Stage { Start, Transfer, WaitingToUnpack, Unpack };
    enum class Control { Button, Escape, CloseBox };
    struct Case {
        const char* name;
        Stage stage;
        Control control;
    };
    const Case cases[] = {
        {"at the start, button", Stage::Start, Control::Button},
        {"mid-transfer, button", Stage::Transfer, Control::Button},
        {"mid-transfer, Escape", Stage::Transfer, Control::Escape},
        {"mid-transfer, close box", Stage::Transfer, Control::CloseBox},
        {"waiting to unpack, button", Stage::WaitingToUnpack, Control::Button},
        {"mid-unpack, button", Stage::Unpack, Control::Button},
        {"mid-unpack, close box", Stage::Unpack, Control::CloseBox},
    };
    const std::string big(8 * 1000 * 1000, 'x');
    const std::string large = rar::writeStored(
        Format::Rar5, {{"bloodgulch.map", big}, {"keep.map", big}, {"c.map", big}, {"d.map", big}});
    const std::string small = rar::writeStored(Format::Rar5, {{"bloodgulch.map", "fresh"}});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RarRun run;
        test::HttpReply reply = test::HttpReply::ok(bytes(large));
        if (c.stage == Stage::Start) reply.delayMs = 5000;
        if (c.stage == Stage::Transfer) {
            reply.pieceSize = 200 * 1000;
            reply.pauseMs = 20;
        }
        run.server.route(QStringLiteral("/zandrel.rar"), reply);
        const auto before = run.appFiles();

        auto front = [&]() -> FrmRarDownload* {
            return run.loaded<FrmRarDownload>() ? &run.reg().form<FrmRarDownload>() : nullptr;
        };
        auto cancel = [&] {
            FrmRarDownload& w = *front();
            if (c.control == Control::Button) QTest::mouseClick(w.cmdCancel, Qt::LeftButton);
            if (c.control == Control::Escape) QTest::keyClick(&w, Qt::Key_Escape);
            if (c.control == Control::CloseBox) w.close();
        };
        auto due = [&] {
            FrmRarDownload* w = front();
            if (!w || !w->isVisible()) return false;
            switch (c.stage) {
                case Stage::Start:
                    return true;
                case Stage::Transfer:
                    return w->Inet1.BytesReceived() > 0;
                case Stage::Unpack:
                    return w->lblTransfer->text().startsWith(QStringLiteral("Unpacking"));
                case Stage::WaitingToUnpack:
                    return false;
            }
            return false;
        };
        AtPaint when(due, cancel);

        run.downloadAndApply();
        if (c.stage == Stage::WaitingToUnpack) {
            ASSERT_TRUE(run.loaded<FrmRarUnpack>());
            cancel();
        }
        run.clock.advance(1024);
        run.clock.advance(1024);  // the unpack, for the stage that cancels it
        EXPECT_EQ(when.done, c.stage != Stage::WaitingToUnpack);
        run.clock.advance(5000);

        EXPECT_EQ(run.appFiles(), before);
        EXPECT_EQ(QFile::exists(run.path(QStringLiteral("zandrel.rar"))),
                  c.stage == Stage::WaitingToUnpack || c.stage == Stage::Unpack);
        EXPECT_TRUE(run.boxes.boxes.empty()) << run.boxes.prompts().join(' ').toStdString();
        EXPECT_TRUE(run.visible<FrmSvrInfo>());
        EXPECT_FALSE(run.loaded<FrmRarDownload>());
        EXPECT_FALSE(run.loaded<FrmRarUnpack>());
        EXPECT_FALSE(run.loaded<FrmFinish>());
        EXPECT_FALSE(run.reg().ended());
        EXPECT_FALSE(run.gameStarted());

        // The same button then fetches and applies the update.
        run.server.route(QStringLiteral("/zandrel.rar"), test::HttpReply::ok(bytes(small)));
        run.downloadAndApply();
        run.clock.advance(2048);
        EXPECT_EQ(run.readFile(QStringLiteral("maps/bloodgulch.map")), QByteArray("fresh"));
        EXPECT_TRUE(run.visible<FrmFinish>());
        ASSERT_NE(front(), nullptr);
        EXPECT_FALSE(front()->cmdCancel->isVisible());  // nothing to undo once unpacked
    }
}

// A 304 answering the conditional request for the archive this server sent before confirms it:
// it is this server's current update, and unpacked again.
TEST(UpdateRar, AnArchiveTheServerConfirmsUnchangedIsUnpackedAgain) {
    RarRun run;
    const std::string archive = rar::writeStored(Format::Rar5, {{"bloodgulch.map", "new"}});
    test::HttpReply reply = test::HttpReply::ok(bytes(archive));
    reply.headers = {{"ETag", "\"v1\""}};
    reply.honoursConditions = true;
    run.server.route(QStringLiteral("/zandrel.rar"), reply);
    run.downloadAndApply();
    run.clock.advance(2048 + 1500);
    ASSERT_TRUE(run.reg().ended());
    ASSERT_EQ(run.readFile(QStringLiteral("maps/bloodgulch.map")), QByteArray("new"));

    run.writeFile(QStringLiteral("maps/bloodgulch.map"), "restored by the player");
    run.newRun();
    run.downloadAndApply();
    run.clock.advance(2048);

    EXPECT_EQ(run.server.requestHeaders("If-None-Match").value(1), QByteArray("\"v1\""));
    EXPECT_EQ(run.readFile(QStringLiteral("maps/bloodgulch.map")), QByteArray("new"));
    EXPECT_TRUE(run.visible<FrmFinish>());
    EXPECT_TRUE(run.boxes.boxes.empty());
}

// Counts the paint events a widget receives and runs a probe at each.
struct PaintProbe : QObject {
    int paints = 0;
    std::function<void()> onPaint;
    explicit PaintProbe(QWidget* w) { w->installEventFilter(this); }
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Paint) {
            ++paints;
            if (onPaint) onPaint();
        }
        return false;
    }
};

TEST(UpdateRar, TheDownloadWindowIsOnScreenBeforeTheFetchAndShowsItArriving) {
    RarRun run;
    const std::string archive =
        rar::writeStored(Format::Rar5, {{"bloodgulch.map", std::string(600 * 1000, 'm')}});
    test::HttpReply slow = test::HttpReply::ok(bytes(archive));
    slow.pieceSize = 25 * 1000;  // about a second in all
    slow.pauseMs = 40;
    run.server.route(QStringLiteral("/zandrel.rar"), slow);
    const QString total = QString::number(double(archive.size()) / 1e6, 'f', 1);

    qsizetype requestsWhenShown = -1;
    test::OnShow shown(QStringLiteral("frmRarDownload"),
                       [&] { requestsWhenShown = run.server.requestedPaths().size(); });
    // Samples taken while the fetch holds the GUI thread (a timer of the test runs only in the
    // window's paint calls then).
    struct Sample {
        bool visible;
        double fraction;
        QString figures;
        QImage picture;
    };
    std::vector<Sample> samples;
    std::unique_ptr<PaintProbe> barPaints;  // the bar's paints, those of the grabs left out
    bool grabbing = false;
    QElapsedTimer fetching;
    QTimer sampler;
    sampler.setInterval(20);
    QObject::connect(&sampler, &QTimer::timeout, [&] {
        if (!run.loaded<FrmRarDownload>() || run.loaded<FrmRarUnpack>()) return;
        auto& w = run.reg().form<FrmRarDownload>();
        if (!fetching.isValid()) {
            fetching.start();
            barPaints = std::make_unique<PaintProbe>(w.shpTransfer);
            barPaints->onPaint = [&] { barPaints->paints -= grabbing ? 1 : 0; };
        }
        grabbing = true;
        const QImage picture = w.grab().toImage();
        grabbing = false;
        samples.push_back(
            {w.isVisible(), w.shpTransfer->fraction(), w.lblTransfer->text(), picture});
    });
    sampler.start();
    run.downloadAndApply();
    sampler.stop();
    const qint64 heldMs = fetching.elapsed();

    EXPECT_EQ(requestsWhenShown, 0);
    EXPECT_EQ(run.readFile(QStringLiteral("zandrel.rar")), bytes(archive));
    ASSERT_GE(samples.size(), 4u);
    // A slow machine may take the first samples before the server's headers, while the size
    // is not known yet, and see a low early rate give minutes left.
    const QRegularExpression figures(
        QStringLiteral("^\\d+\\.\\d of ") + total +
        QStringLiteral(" MB( \u00b7 \\d+\\.\\d MB/s( \u00b7 \\d+ (s|min) left)?)?$"));
    const QRegularExpression sizeNotKnownYet(QStringLiteral("^0\\.0 MB( \u00b7 0\\.0 MB/s)?$"));
    QStringList distinct;
    bool sizeKnown = false;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_TRUE(samples[i].visible);
        if (i > 0) {
            EXPECT_GE(samples[i].fraction, samples[i - 1].fraction);
        }
        if (!samples[i].figures.isEmpty()) {
            const bool known = figures.match(samples[i].figures).hasMatch();
            const bool early = !sizeKnown && sizeNotKnownYet.match(samples[i].figures).hasMatch();
            EXPECT_TRUE(known || early) << samples[i].figures.toStdString();
            sizeKnown = sizeKnown || known;
        }
        if (!distinct.contains(samples[i].figures)) distinct << samples[i].figures;
    }
    EXPECT_GE(distinct.size(), 3) << distinct.join(QStringLiteral(" | ")).toStdString();
    EXPECT_LT(samples.front().fraction, 0.5);
    EXPECT_NE(samples.front().picture, samples.back().picture);
    // Repainted while held, at most 20 times a second.
    ASSERT_NE(barPaints, nullptr);
    EXPECT_GE(barPaints->paints, 2);
    EXPECT_LE(barPaints->paints, heldMs / 50 + 2);

    auto& w = run.reg().form<FrmRarDownload>();
    EXPECT_EQ(w.shpTransfer->fraction(), 1.0);
    EXPECT_TRUE(w.lblTransfer->text().startsWith(total + QStringLiteral(" of ") + total))
        << w.lblTransfer->text().toStdString();
}

TEST(UpdateRar, ALargeExtractionKeepsTheDownloadWindowPaintedWithItsProgress) {
    RarRun run;
    const std::string big(12 * 1000 * 1000, 'x');
    const std::string archive = rar::writeStored(
        Format::Rar5, {{"a.map", big}, {"b.map", big}, {"c.map", big}, {"d.map", big}});
    run.server.route(QStringLiteral("/zandrel.rar"), test::HttpReply::ok(bytes(archive)));
    run.downloadAndApply();
    run.clock.advance(1024);  // "Unpacking..."

    auto& front = run.reg().form<FrmRarDownload>();
    PaintProbe frontPaints(front.lblTransfer);
    PaintProbe barPaints(run.unpack().shpBar);
    QStringList painted;  // what the front window showed at each paint
    frontPaints.onPaint = [&] { painted << front.lblTransfer->text(); };
    run.clock.advance(1024);  // unpacks, holding the GUI thread
    frontPaints.onPaint = nullptr;

    EXPECT_EQ(run.readFile(QStringLiteral("maps/d.map")).size(), qsizetype(big.size()));
    ASSERT_FALSE(painted.isEmpty());
    const QRegularExpression unpacking(QStringLiteral("^Unpacking (\\d+) %$"));
    for (const QString& text : painted) {
        EXPECT_TRUE(unpacking.match(text).hasMatch()) << text.toStdString();
    }
    EXPECT_LT(unpacking.match(painted.front()).captured(1).toInt(), 100);
    EXPECT_GE(barPaints.paints, 1);  // the unpack window's own bar, behind
    EXPECT_EQ(front.lblTransfer->text(), QStringLiteral("Unpacking 100 %"));
    EXPECT_EQ(front.shpTransfer->fraction(), 1.0);
    EXPECT_TRUE(front.isVisible());
}

TEST(UpdateProgress, TheFiguresLine) {
    struct Case {
        const char* name;
        std::int64_t received;
        std::int64_t total;
        double rate;
        const char* expected;
    };
    const Case cases[] = {
        {"total and rate", 41'234'567, 128'000'000, 3'100'000,
         "41.2 of 128.0 MB \u00b7 3.1 MB/s \u00b7 28 s left"},
        {"seconds", 4'900'000, 8'000'000, 1'000'000,
         "4.9 of 8.0 MB \u00b7 1.0 MB/s \u00b7 3 s left"},
        {"under a second", 7'900'000, 8'000'000, 1'000'000,
         "7.9 of 8.0 MB \u00b7 1.0 MB/s \u00b7 1 s left"},
        {"minutes", 1'000'000, 128'000'000, 500'000,
         "1.0 of 128.0 MB \u00b7 0.5 MB/s \u00b7 4 min left"},
        {"hours", 0, 700'000'000, 20'000, "0.0 of 700.0 MB \u00b7 0.0 MB/s \u00b7 10 h left"},
        {"all there", 8'000'000, 8'000'000, 1'000'000, "8.0 of 8.0 MB \u00b7 1.0 MB/s"},
        {"stalled", 4'000'000, 8'000'000, 0, "4.0 of 8.0 MB \u00b7 0.0 MB/s"},
        {"no rate yet", 0, 8'000'000, -1, "0.0 of 8.0 MB"},
        {"unknown length", 41'260'000, -1, 960'000, "41.3 MB \u00b7 1.0 MB/s"},
        {"unknown length, no rate yet", 12, -1, -1, "0.0 MB"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(transferFigures(c.received, c.total, c.rate), QString::fromUtf8(c.expected));
    }
}

// The wait cursor of a held fetch would say the Cancel beneath it cannot be clicked.
TEST(UpdateProgress, OverTheCancelTheWaitCursorGivesWayToTheArrow) {
    QWidget parent;
    StripButton cancel(&parent);
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    QEnterEvent enter(QPointF(1, 1), QPointF(1, 1), QPointF(1, 1));
    QApplication::sendEvent(&cancel, &enter);
    EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::ArrowCursor);
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&cancel, &leave);
    EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
    QGuiApplication::restoreOverrideCursor();
    // Held work that ends while the pointer is over the button takes its cursor with it.
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    QApplication::sendEvent(&cancel, &enter);
    QGuiApplication::restoreOverrideCursor();
    QApplication::sendEvent(&cancel, &leave);
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

TEST(UpdateProgress, WithNoKnownTotalTheBarsBlockMovesBackAndForth) {
    QWidget parent;
    TransferBar bar(&parent);
    bar.setGeometry(0, 0, 215, 13);
    std::vector<QImage> frames;
    for (int i = 0; i < 60; ++i) {
        bar.stepBusy();
        frames.push_back(bar.grab().toImage());
    }
    EXPECT_TRUE(bar.busy());
    // The block's left edge: the first white pixel of the middle row past the border.
    const auto left = [](const QImage& img) {
        for (int x = 1; x < img.width() - 1; ++x) {
            if (img.pixelColor(x, img.height() / 2) == QColor(Qt::white)) return x;
        }
        return -1;
    };
    int forward = 0, back = 0;
    for (std::size_t i = 1; i < frames.size(); ++i) {
        const int step = left(frames[i]) - left(frames[i - 1]);
        if (step > 0) ++forward;
        if (step < 0) ++back;
    }
    EXPECT_GT(forward, 0);
    EXPECT_GT(back, 0);
    bar.setFraction(1.5);  // a known total again: filling, and never past full
    EXPECT_FALSE(bar.busy());
    EXPECT_EQ(bar.fraction(), 1.0);
}

}  // namespace
}  // namespace zandrel::windows
