// The program end to end, as a player drives it: every window registered, the settings file,
// information page and update served over loopback HTTP, the archive unpacked by the real
// unpacker, the patch applied by the real patch tool started as ppf.exe, and the game a
// stand-in that records the command line it was started with.
#include "env_var.h"
#include "frame/frame_fixture.h"
#include "frame/registry.h"
#include "http/fault_server.h"
#include "http/test_http_server.h"
#include "http/test_tls.h"
#include "map_bytes.h"
#include "rar/rarwriter.h"
#include "windows/download_window.h"
#include "windows/frm_backup.h"
#include "windows/frm_ppf_apply.h"
#include "windows/frm_ppf_download.h"
#include "windows/frm_rar_download.h"
#include "windows/frm_rar_unpack.h"
#include "windows/frm_splash.h"
#include "windows/frm_svr_info.h"
#include "windows/window_set.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace zandrel::windows {
namespace {

const QString kFetchFailed =
    QStringLiteral("An error has occured in the file transfer or write.  Please try again later.");

using test::editedMap;
using test::mapBytes;

std::string str(const QByteArray& b) {
    return std::string(b.constData(), size_t(b.size()));
}

QByteArray qbytes(const std::string& s) {
    return QByteArray(s.data(), qsizetype(s.size()));
}

bool writeAll(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

using test::waitFor;

// A game server's web root as an administrator publishes it.
struct Server {
    QTemporaryDir root;
    test::TestHttpServer http{root.path()};

    void put(const QString& name, const QByteArray& bytes) const {
        ASSERT_TRUE(writeAll(root.filePath(name), bytes)) << name.toStdString();
    }
    // connect.ini and an information page titled `pageTitle`, with a picture.
    // moreKeys: further [Main] lines, each ending in "\r\n".
    void publish(const QString& haloIP, const QString& target, const char* ppf,
                 const QString& pageTitle, const QString& moreKeys = QString()) {
        put(QStringLiteral("connect.ini"),
            QStringLiteral("[Main]\r\nhtml=%1\r\nHaloIP=%2\r\nTarget=%3\r\nppf=%4\r\n"
                           "AdminEmail=admin@example.org\r\n%5")
                .arg(http.url(QStringLiteral("/index.html")), haloIP, target,
                     QString::fromLatin1(ppf), moreKeys)
                .toUtf8());
        // The page and its picture with their types; the document root serves plain bytes.
        test::HttpReply page = test::HttpReply::ok(
            "<html><head><title>" + pageTitle.toUtf8() +
            "</title></head><body><h1>Welcome</h1><img src=\"picture.svg\"></body></html>");
        page.contentType = "text/html";
        http.route(QStringLiteral("/index.html"), page);
        test::HttpReply picture = test::HttpReply::ok(
            "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"40\" "
            "height=\"20\"><rect width=\"40\" height=\"20\" fill=\"#36c\"/></svg>");
        picture.contentType = "image/svg+xml";
        http.route(QStringLiteral("/picture.svg"), picture);
    }
};

// A game folder with the program's windows, the patch tool as ppf.exe, a stand-in game, three
// maps and an empty backup folder; drive C: is a temporary Wine prefix.
class Roads : public ::testing::Test, public test::FrameFixture {
protected:
    Roads() : oldPrefix_(qgetenv("WINEPREFIX")) {
        qputenv("WINEPREFIX", prefix_.path().toLocal8Bit());
        QDir(prefix_.path()).mkpath(QStringLiteral("drive_c"));
        const QString tool = path(QStringLiteral("ppf.exe"));
        if (!QFile::copy(QStringLiteral(ZANDREL_PPF_TOOL), tool)) qFatal("cannot copy ppf.exe");
        QFile::setPermissions(tool, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        makeStandIn(QStringLiteral("halo.exe"));
        for (const char* name : {"canyon", "harbor", "ridge"}) {
            writeFile(QStringLiteral("maps/%1.map").arg(QLatin1String(name)), mapBytes(name, 1));
        }
        startProgram();
    }
    ~Roads() override {
        if (oldPrefix_.isNull()) {
            qunsetenv("WINEPREFIX");
        } else {
            qputenv("WINEPREFIX", oldPrefix_);
        }
    }

    // A new run of the program in the same game folder.
    void startProgram() {
        newRegistry();
        registerWindows(reg());
        reg().start<FrmSplash>();
        ASSERT_TRUE(reg().isVisible<FrmSplash>());
    }

    // Types the address over the prompt and clicks Connect.
    void connectTo(const QString& address) {
        auto& splash = reg().form<FrmSplash>();
        EXPECT_EQ(splash.Text1->text(), FrmSplash::kPrompt);
        // Two points: a move to where the pointer already is raises no event.
        QTest::mouseMove(splash.Text1, QPoint(5, 5));
        QTest::mouseMove(splash.Text1, QPoint(12, 12));
        ASSERT_EQ(splash.Text1->text(), QString());
        QTest::keyClicks(splash.Text1, address);
        QTest::mouseClick(splash.cmdConnect, Qt::LeftButton, {}, QPoint(10, 10));
    }

    // Connect, the information window, "Download and Apply".
    void connectAndApply(Server& server, const QString& haloIP, const QString& pageTitle) {
        connectToServer(server, haloIP, pageTitle);
        QTest::mouseClick(reg().form<FrmSvrInfo>().cmdDownload, Qt::LeftButton);
        EXPECT_FALSE(reg().isVisible<FrmSvrInfo>());
    }

    // Connect, and the information window with the server's page.
    void connectToServer(Server& server, const QString& haloIP, const QString& pageTitle) {
        connectTo(server.http.address());
        ASSERT_TRUE(reg().isVisible<FrmSvrInfo>())
            << boxes.prompts().join(QStringLiteral(" | ")).toStdString();
        auto& info = reg().form<FrmSvrInfo>();
        EXPECT_FALSE(reg().isVisible<FrmSplash>());
        EXPECT_EQ(info.windowTitle(), haloIP);
        // The page and its picture arrive in the real web view.
        EXPECT_TRUE(waitFor([&] { return info.browser->title() == pageTitle; }, 60000))
            << info.browser->title().toStdString();
        EXPECT_TRUE(waitFor(
            [&] { return server.http.requestedPaths().contains(QStringLiteral("/picture.svg")); }));
    }

    // The download windows give up on a silent server after stallMs rather than a minute.
    void stallAfter(int stallMs) {
        reg().define<FrmRarDownload>([stallMs](frame::Registry& r) {
            auto w = std::make_unique<FrmRarDownload>(r);
            w->Inet1.setStallTimeoutMs(stallMs);
            return w;
        });
        reg().define<FrmPPFDownload>([stallMs](frame::Registry& r) {
            auto w = std::make_unique<FrmPPFDownload>(r);
            w->Inet1.setStallTimeoutMs(stallMs);
            return w;
        });
    }

    // Opens the backup window from the start window and clicks one name in one of its lists.
    FrmBackup& openBackups() {
        QTest::mouseClick(reg().form<FrmSplash>().cmdBackup, Qt::LeftButton);
        return reg().form<FrmBackup>();
    }
    static void select(FileList* list, const QString& name) {
        const auto found = list->findItems(name, Qt::MatchExactly);
        ASSERT_EQ(found.size(), 1) << name.toStdString();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                          list->visualItemRect(found.first()).center());
    }

    // Makes the patch with the patch tool itself: `ppf c <original> <modified> <patch>`.
    static QByteArray makePatch(const QByteArray& original, const QByteArray& modified) {
        QTemporaryDir work;
        const QString o = work.filePath(QStringLiteral("original.map"));
        const QString m = work.filePath(QStringLiteral("modified.map"));
        const QString p = work.filePath(QStringLiteral("zandrel.ppf"));
        if (!writeAll(o, original) || !writeAll(m, modified)) return {};
        QProcess tool;
        tool.start(QStringLiteral(ZANDREL_PPF_TOOL), {QStringLiteral("c"), QStringLiteral("-d"),
                                                      QStringLiteral("test patch"), o, m, p});
        if (!tool.waitForFinished(30000) || tool.exitCode() != 0) return {};
        return readAll(p);
    }

    // The apply window's bar is full after 54 ticks of 50 ms; it moves on once the patch tool
    // has ended too. Ticks on, a real moment apart, until the launch window is up.
    bool tickUntilLaunchWindow() {
        clock.advance(54 * 50);
        return waitFor([&] {
            if (reg().isVisible<FrmFinish>()) return true;
            clock.advance(50);
            return false;
        });
    }

    QString driveC(const QString& name) const {
        return prefix_.filePath(QStringLiteral("drive_c/") + name);
    }
    // The three maps the game folder holds before any update.
    inline static const QStringList kStockMaps{
        QStringLiteral("canyon.map"), QStringLiteral("harbor.map"), QStringLiteral("ridge.map")};
    QStringList mapFolder() const {
        return QDir(path(QStringLiteral("maps"))).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    }

    QTemporaryDir prefix_;
    QByteArray oldPrefix_;
};

TEST_F(Roads, RarServerUnpacksItsMapsAndStartsTheGame) {
    Server server;
    server.publish(QStringLiteral("127.0.0.1:2302"), QStringLiteral("canyon.map"), "0",
                   QStringLiteral("Canyon server"));
    const QByteArray canyon2 = editedMap(mapBytes("canyon", 1));
    const QByteArray glacier = mapBytes("glacier", 1, 70000);
    server.put(QStringLiteral("zandrel.rar"),
               qbytes(rar::writeStored(rar::Format::Rar5, {{"canyon.map", str(canyon2)},
                                                           {"glacier.map", str(glacier)}})));

    connectAndApply(server, QStringLiteral("127.0.0.1:2302"), QStringLiteral("Canyon server"));
    EXPECT_TRUE(reg().isVisible<FrmRarDownload>());
    clock.advance(1024);  // "Unpacking..."
    clock.advance(1024);  // unpacks, shows frmFinish
    EXPECT_TRUE(reg().isVisible<FrmFinish>());
    EXPECT_FALSE(reg().ended());
    clock.advance(1500);

    EXPECT_TRUE(reg().ended());
    EXPECT_EQ(standInArgs(QStringLiteral("halo.exe")),
              (QStringList{QStringLiteral("-connect"), QStringLiteral("127.0.0.1:2302"),
                           QStringLiteral("--end--")}));
    EXPECT_EQ(readFile(QStringLiteral("maps/canyon.map")), canyon2);
    EXPECT_EQ(readFile(QStringLiteral("maps/glacier.map")), glacier);
    EXPECT_EQ(readFile(QStringLiteral("maps/harbor.map")), mapBytes("harbor", 1));
    EXPECT_EQ(mapFolder(),
              (QStringList{QStringLiteral("canyon.map"), QStringLiteral("glacier.map"),
                           QStringLiteral("harbor.map"), QStringLiteral("ridge.map")}));
    EXPECT_TRUE(boxes.boxes.empty()) << boxes.prompts().join(QStringLiteral(" | ")).toStdString();
    EXPECT_EQ(server.http.requestedPaths().filter(QStringLiteral("/zandrel.rar")).size(), 1);
    QTest::qWait(200);  // a second launch would have been recorded by now
    EXPECT_EQ(standInArgs(QStringLiteral("halo.exe")).count(QStringLiteral("--end--")), 1);
}

TEST_F(Roads, PpfServerPatchesTheTargetMapThroughThePatchTool) {
    const QByteArray ridge = mapBytes("ridge", 1);
    const QByteArray ridge2 = editedMap(ridge);
    const QByteArray patch = makePatch(ridge, ridge2);
    ASSERT_FALSE(patch.isEmpty());
    Server server;
    server.publish(QStringLiteral("127.0.0.1:2304"), QStringLiteral("ridge.map"), "1",
                   QStringLiteral("Ridge server"));
    server.put(QStringLiteral("zandrel.ppf"), patch);

    connectAndApply(server, QStringLiteral("127.0.0.1:2304"), QStringLiteral("Ridge server"));
    EXPECT_EQ(readAll(driveC(QStringLiteral("zandrel.ppf"))), patch);
    EXPECT_TRUE(reg().isVisible<FrmPPFApply>());
    EXPECT_FALSE(reg().isVisible<FrmPPFDownload>());
    // The tool runs on its own; the bar takes 54 ticks of 50 ms whatever it does.
    EXPECT_TRUE(tickUntilLaunchWindow());
    EXPECT_EQ(readFile(QStringLiteral("maps/ridge.map")), ridge2) << "the map was not patched";
    clock.advance(1500);

    EXPECT_TRUE(reg().ended());
    EXPECT_EQ(standInArgs(QStringLiteral("halo.exe")),
              (QStringList{QStringLiteral("-connect"), QStringLiteral("127.0.0.1:2304"),
                           QStringLiteral("--end--")}));
    EXPECT_EQ(readFile(QStringLiteral("maps/ridge.map")), ridge2);
    EXPECT_EQ(readFile(QStringLiteral("maps/canyon.map")), mapBytes("canyon", 1));
    // The tool left no temporary file beside the map.
    EXPECT_EQ(mapFolder(), kStockMaps);
    EXPECT_TRUE(boxes.boxes.empty()) << boxes.prompts().join(QStringLiteral(" | ")).toStdString();
}

TEST_F(Roads, APatchForAnotherMapIsReportedAndTheGameStillStarts) {
    // The server's patch was made for a ridge.map other than the player's.
    const QByteArray theirs = mapBytes("ridge, another edition", 1);
    const QByteArray patch = makePatch(theirs, editedMap(theirs));
    ASSERT_FALSE(patch.isEmpty());
    Server server;
    server.publish(QStringLiteral("127.0.0.1:2306"), QStringLiteral("ridge.map"), "1",
                   QStringLiteral("Ridge server"));
    server.put(QStringLiteral("zandrel.ppf"), patch);

    connectAndApply(server, QStringLiteral("127.0.0.1:2306"), QStringLiteral("Ridge server"));
    EXPECT_TRUE(tickUntilLaunchWindow());
    ASSERT_EQ(boxes.boxes.size(), 1u) << boxes.prompts().join(QStringLiteral(" | ")).toStdString();
    EXPECT_EQ(boxes.boxes[0].icon, MsgIcon::Critical);
    EXPECT_TRUE(boxes.boxes[0].prompt.startsWith(
        QStringLiteral("The map update was not applied: ridge.map is as it was.")));
    EXPECT_TRUE(boxes.boxes[0].prompt.contains(QStringLiteral("\r\nppf: ")))
        << boxes.boxes[0].prompt.toStdString();
    EXPECT_EQ(readFile(QStringLiteral("maps/ridge.map")), mapBytes("ridge", 1));
    clock.advance(1500);
    EXPECT_TRUE(reg().ended());
    EXPECT_EQ(standInArgs(QStringLiteral("halo.exe")),
              (QStringList{QStringLiteral("-connect"), QStringLiteral("127.0.0.1:2306"),
                           QStringLiteral("--end--")}));
    EXPECT_EQ(mapFolder(), kStockMaps);
}

// A player takes server A's road, which leaves its update behind (zandrel.rar in the game
// folder, or zandrel.ppf on drive C:), and restores the map A changed. Server B's update then
// cannot be fetched: nothing is unpacked or patched, the player is told, and B's server window
// stays on screen; the game is not started.
TEST_F(Roads, AnotherServersUpdateLeftBehindIsNeverApplied) {
    const QByteArray canyon = mapBytes("canyon", 1);
    const QByteArray ridge = mapBytes("ridge", 1);
    test::HttpReply silent = test::HttpReply::ok("late");
    silent.delayMs = 10000;
    struct Failure {
        const char* name;
        std::optional<test::HttpReply> reply;  // none: 404
    };
    const Failure failures[] = {
        {"not found", std::nullopt},
        {"server error", test::HttpReply::error(500, "broken")},
        {"time-out", silent},
    };
    struct Road {
        const char* ppf;
        QString updateFile;
        QString map;
        QByteArray original;
        QByteArray update;  // what server A serves
    };
    const Road roads[] = {
        {"0", QStringLiteral("zandrel.rar"), QStringLiteral("canyon.map"), canyon,
         qbytes(rar::writeStored(rar::Format::Rar5, {{"canyon.map", str(editedMap(canyon))}}))},
        {"1", QStringLiteral("zandrel.ppf"), QStringLiteral("ridge.map"), ridge,
         makePatch(ridge, editedMap(ridge))},
    };
    for (const Road& road : roads) {
        SCOPED_TRACE(road.updateFile.toStdString());
        ASSERT_FALSE(road.update.isEmpty());
        Server a;
        a.publish(QStringLiteral("127.0.0.1:2302"), road.map, road.ppf, QStringLiteral("Server A"));
        a.put(road.updateFile, road.update);
        startProgram();
        connectAndApply(a, QStringLiteral("127.0.0.1:2302"), QStringLiteral("Server A"));
        if (QString::fromLatin1(road.ppf) == QLatin1String("1")) {
            ASSERT_TRUE(tickUntilLaunchWindow());
        } else {
            clock.advance(2048);
        }
        clock.advance(1500);
        ASSERT_TRUE(reg().ended());
        ASSERT_EQ(readFile(QStringLiteral("maps/") + road.map), editedMap(road.original));
        ASSERT_EQ(standInArgs(QStringLiteral("halo.exe")).value(1),
                  QStringLiteral("127.0.0.1:2302"));  // A's game has started

        for (const Failure& failure : failures) {
            SCOPED_TRACE(failure.name);
            writeFile(QStringLiteral("maps/") + road.map, road.original);  // the player restores it
            QFile::remove(path(QStringLiteral("halo.exe.args")));
            boxes.boxes.clear();
            Server b;
            b.publish(QStringLiteral("127.0.0.1:2310"), road.map, road.ppf,
                      QStringLiteral("Server B"));
            if (failure.reply) b.http.route(QStringLiteral("/") + road.updateFile, *failure.reply);
            startProgram();
            stallAfter(500);
            connectToServer(b, QStringLiteral("127.0.0.1:2310"), QStringLiteral("Server B"));
            const auto& info = reg().form<FrmSvrInfo>();
            QTest::mouseClick(info.cmdDownload, Qt::LeftButton);
            clock.advance(5000);

            EXPECT_EQ(boxes.prompts(), QStringList{kFetchFailed + QStringLiteral("\r\n\r\n") +
                                                   DownloadWindow::kNotDownloaded});
            EXPECT_TRUE(reg().isVisible<FrmSvrInfo>());
            EXPECT_FALSE(reg().isLoaded<FrmRarUnpack>());
            EXPECT_FALSE(reg().isLoaded<FrmPPFApply>());
            EXPECT_FALSE(reg().ended());
            QTest::qWait(200);  // a patch tool or a game would have been started by now
            EXPECT_EQ(readFile(QStringLiteral("maps/") + road.map), road.original);
            EXPECT_FALSE(QFile::exists(path(QStringLiteral("halo.exe.args"))));
            EXPECT_EQ(mapFolder(), kStockMaps);
        }
    }
}

// Each road with the update an earlier visit left behind and the one the server serves now.
struct RoadUpdates {
    const char* ppf;
    QString updateFile;
    QString map;
    QByteArray original;
    QByteArray stale;   // an earlier visit's update: applied, it would change the map too
    QByteArray update;  // what the server serves now
};

// What a server does wrong with its update, and what the player's box then names besides
// "could not be downloaded" ("%SIZE" and "%ARRIVED": the served update's size and first hex
// digits of its hash).
struct ServerFault {
    const char* name;
    std::function<QString(const QByteArray& update)> keys;  // more [Main] lines
    std::function<test::HttpReply(const QByteArray& update)> reply;
    QStringList boxSays;
};

QString hexStart(const QByteArray& bytes) {
    return QString::fromLatin1(
        QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex().left(12));
}

QString announcing(const QByteArray& bytes) {
    return QStringLiteral("UpdateSHA256=%1\r\nUpdateSize=%2\r\n")
        .arg(QString::fromLatin1(
            QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex()))
        .arg(bytes.size());
}

// One table of server faults against one small archive and one small patch, through the program's
// windows: nothing is applied, the file an earlier visit left stays as it was, the player gets
// one box, and the server window stays to try again.
TEST_F(Roads, AServerFaultLeavesTheMapsAndTheEarlierFileAsTheyWere) {
    const QByteArray canyon = mapBytes("canyon", 1);
    const QByteArray ridge = mapBytes("ridge", 1);
    const RoadUpdates roads[] = {
        {"0", QStringLiteral("zandrel.rar"), QStringLiteral("canyon.map"), canyon,
         qbytes(rar::writeStored(rar::Format::Rar5, {{"canyon.map", str(mapBytes("canyon", 2))}})),
         qbytes(rar::writeStored(rar::Format::Rar5, {{"canyon.map", str(editedMap(canyon))}}))},
        {"1", QStringLiteral("zandrel.ppf"), QStringLiteral("ridge.map"), ridge,
         makePatch(ridge, mapBytes("ridge", 2)), makePatch(ridge, editedMap(ridge))},
    };
    // Servers the update is handed on to by a redirect, kept for the row's run.
    std::vector<std::unique_ptr<test::FaultServer>> faultServers;
    std::vector<std::unique_ptr<test::TestHttpServer>> httpsServers;
    const test::TestCertificateAuthority untrusted(QStringLiteral("An authority nobody trusts"));
    const auto handedTo = [&](test::FaultReply fault) {
        faultServers.push_back(
            std::make_unique<test::FaultServer>(QList<test::FaultReply>{std::move(fault)}));
        return test::HttpReply::redirect(faultServers.back()->url(QStringLiteral("/update")));
    };
    const auto noKeys = [](const QByteArray&) { return QString(); };
    const auto served = [](const QByteArray& update) { return test::HttpReply::ok(update); };
    test::HttpReply silent = test::HttpReply::ok("late");
    silent.delayMs = 10000;
    const QString failed = kFetchFailed;

    const ServerFault faults[] = {
        {"404",
         noKeys,
         [](const QByteArray&) { return test::HttpReply::error(404, "<p>gone</p>"); },
         {failed}},
        {"500",
         noKeys,
         [](const QByteArray&) { return test::HttpReply::error(500, "<p>oops</p>"); },
         {failed}},
        {"time-out", noKeys, [&](const QByteArray&) { return silent; }, {failed}},
        {"certificate failure",
         noKeys,
         [&](const QByteArray& update) {
             httpsServers.push_back(std::make_unique<test::TestHttpServer>(
                 QString(), untrusted.issue({QStringLiteral("127.0.0.1")})));
             httpsServers.back()->route(QStringLiteral("/update"), test::HttpReply::ok(update));
             return test::HttpReply::redirect(httpsServers.back()->url(QStringLiteral("/update")));
         },
         {failed}},
        {"wrong hash",
         [](const QByteArray& update) {
             return QStringLiteral("UpdateSHA256=%1\r\n")
                 .arg(QString::fromLatin1(
                     QCryptographicHash::hash(update + "x", QCryptographicHash::Sha256).toHex()));
         },
         served,
         {QStringLiteral("not the one the server announces"),
          QStringLiteral(": %SIZE bytes, SHA-256 %ARRIVED")}},
        {"wrong size",
         [](const QByteArray& update) {
             return QStringLiteral("UpdateSize=%1\r\n").arg(update.size() + 1);
         },
         served,
         {QStringLiteral("not the one the server announces"), QStringLiteral(": %SIZE bytes")}},
        {"a stream longer than the size announced",
         announcing,
         [&](const QByteArray& update) {
             test::FaultReply longer;
             longer.body = update + QByteArray(64 * 1024, 'x');
             longer.contentLength = QByteArray();  // the body ends with the connection
             return handedTo(longer);
         },
         {QStringLiteral("not the one the server announces"),
          QStringLiteral("more than %SIZE bytes")}},
        {"a web page where the update should be",
         noKeys,
         [](const QByteArray&) {
             test::HttpReply page =
                 test::HttpReply::ok("<!DOCTYPE html><html><body>Log in first</body></html>");
             page.contentType = "text/html";
             return page;
         },
         {failed}},
        {"the update gzip-encoded unasked",
         noKeys,
         [](const QByteArray& update) {
             test::HttpReply gzipped = test::HttpReply::ok(update);
             gzipped.headers.append(std::pair<QByteArray, QByteArray>("Content-Encoding", "gzip"));
             return gzipped;
         },
         {failed}},
        {"a length no reply can have",
         noKeys,
         [&](const QByteArray& update) {
             test::FaultReply impossible;
             impossible.body = update;
             impossible.contentLength = "9223372036854775808";
             return handedTo(impossible);
         },
         {failed}},
    };
    for (const RoadUpdates& road : roads) {
        SCOPED_TRACE(road.updateFile.toStdString());
        ASSERT_FALSE(road.stale.isEmpty());
        ASSERT_FALSE(road.update.isEmpty());
        const QString stalePath = road.updateFile == QLatin1String("zandrel.ppf")
                                      ? driveC(road.updateFile)
                                      : path(road.updateFile);
        for (const ServerFault& fault : faults) {
            SCOPED_TRACE(fault.name);
            ASSERT_TRUE(writeAll(stalePath, road.stale));
            QFile::remove(path(QStringLiteral("halo.exe.args")));
            boxes.boxes.clear();
            Server server;
            server.publish(QStringLiteral("127.0.0.1:2310"), road.map, road.ppf,
                           QStringLiteral("Faulty server"), fault.keys(road.update));
            server.http.route(QStringLiteral("/") + road.updateFile, fault.reply(road.update));
            startProgram();
            stallAfter(500);
            connectToServer(server, QStringLiteral("127.0.0.1:2310"),
                            QStringLiteral("Faulty server"));
            QTest::mouseClick(reg().form<FrmSvrInfo>().cmdDownload, Qt::LeftButton);
            clock.advance(5000);

            ASSERT_EQ(boxes.prompts().size(), 1)
                << boxes.prompts().join(QStringLiteral(" | ")).toStdString();
            const QString box = boxes.prompts().first();
            EXPECT_TRUE(box.endsWith(QStringLiteral("\r\n\r\n") + DownloadWindow::kNotDownloaded))
                << box.toStdString();
            for (QString named : fault.boxSays) {
                named.replace(QStringLiteral("%SIZE"), QString::number(road.update.size()))
                    .replace(QStringLiteral("%ARRIVED"), hexStart(road.update));
                EXPECT_TRUE(box.contains(named))
                    << named.toStdString() << " in " << box.toStdString();
            }
            EXPECT_TRUE(reg().isVisible<FrmSvrInfo>());
            EXPECT_FALSE(reg().isLoaded<FrmRarUnpack>());
            EXPECT_FALSE(reg().isLoaded<FrmPPFApply>());
            EXPECT_FALSE(reg().ended());
            QTest::qWait(100);  // a patch tool or a game would have been started by now
            EXPECT_EQ(readFile(QStringLiteral("maps/") + road.map), road.original);
            EXPECT_EQ(readAll(stalePath), road.stale);
            EXPECT_FALSE(QFile::exists(path(QStringLiteral("halo.exe.args"))));
            EXPECT_EQ(mapFolder(), kStockMaps);
        }
    }
}

// A copy kept by the player that the server's validators cannot vouch for: a server whose files
// are dated in the future (the date is never asked with, so its next change arrives), and an
// update edited in place at the same size when the server sends an ETag only (the file's own
// state no longer matches its record). The second run fetches whole and applies what is served.
TEST_F(Roads, AnUpdateTheValidatorsCannotVouchForIsFetchedWhole) {
    const QByteArray canyon = mapBytes("canyon", 1);
    const QByteArray v1 =
        qbytes(rar::writeStored(rar::Format::Rar5, {{"canyon.map", str(editedMap(canyon))}}));
    const QByteArray v2 =
        qbytes(rar::writeStored(rar::Format::Rar5, {{"canyon.map", str(mapBytes("canyon", 3))}}));
    const auto publishedWith = [](const QByteArray& body, const QByteArray& etag,
                                  const QByteArray& lastModified) {
        test::HttpReply r = test::HttpReply::ok(body);
        if (!etag.isEmpty()) r.headers.append({"ETag", etag});
        if (!lastModified.isEmpty()) r.headers.append({"Last-Modified", lastModified});
        r.honoursConditions = true;
        return r;
    };
    const QByteArray future = "Tue, 01 Jan 2030 00:00:00 GMT";
    struct Case {
        const char* name;
        test::HttpReply first, second;
        std::function<void()> meanwhile;
        QByteArray applied;  // canyon.map after the second run
    };
    const Case cases[] = {
        {"dated in the future, then changed", publishedWith(v1, "", future),
         publishedWith(v2, "", future), [] {}, mapBytes("canyon", 3)},
        {"edited in place at the same size, ETag only", publishedWith(v1, "\"v1\"", ""),
         publishedWith(v1, "\"v1\"", ""),
         [this] {
             QByteArray edited = readFile(QStringLiteral("zandrel.rar"));
             edited[edited.size() - 1000] = char(edited[edited.size() - 1000] ^ 0x55);
             QFile f(path(QStringLiteral("zandrel.rar")));
             ASSERT_TRUE(f.open(QIODevice::ReadWrite));
             ASSERT_EQ(f.write(edited), edited.size());
         },
         editedMap(canyon)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(QStringLiteral("maps/canyon.map"), canyon);
        QFile::remove(path(QStringLiteral("zandrel.rar")));
        Server server;
        server.publish(QStringLiteral("127.0.0.1:2302"), QStringLiteral("canyon.map"), "0",
                       QStringLiteral("Canyon server"));
        for (const test::HttpReply& reply : {c.first, c.second}) {
            server.http.route(QStringLiteral("/zandrel.rar"), reply);
            boxes.boxes.clear();
            startProgram();
            connectAndApply(server, QStringLiteral("127.0.0.1:2302"),
                            QStringLiteral("Canyon server"));
            clock.advance(2048);
            clock.advance(1500);
            ASSERT_TRUE(reg().ended()) << boxes.prompts().join(QStringLiteral(" | ")).toStdString();
            c.meanwhile();
        }
        EXPECT_TRUE(boxes.boxes.empty())
            << boxes.prompts().join(QStringLiteral(" | ")).toStdString();
        EXPECT_EQ(readFile(QStringLiteral("maps/canyon.map")), c.applied);
        const QList<QByteArray> askedSince = server.http.requestHeaders("If-Modified-Since");
        const QList<QByteArray> askedMatch = server.http.requestHeaders("If-None-Match");
        const QStringList paths = server.http.requestedPaths();
        const qsizetype lastUpdate = paths.lastIndexOf(QStringLiteral("/zandrel.rar"));
        ASSERT_GE(lastUpdate, 0);
        EXPECT_EQ(askedSince.value(lastUpdate), "");
        EXPECT_EQ(askedMatch.value(lastUpdate), "");
    }
}

// An address typed with a space in its folder, and a settings file written in a Windows editor's
// code page (Target=for\xEAt.map): the settings file, the page and the patch are all fetched
// from that folder, and the patch is applied to the map of that name.
TEST_F(Roads, AnAddressWithASpaceAndSettingsInWindows1252TakeThePatchRoad) {
    const QByteArray foret = mapBytes("foret", 1);
    writeFile(QStringLiteral("maps/for\u00eat.map"), foret);
    const QByteArray patch = makePatch(foret, editedMap(foret));
    ASSERT_FALSE(patch.isEmpty());
    Server server;
    const QString folder = QStringLiteral("/halo maps");
    const QByteArray settings = "[Main]\r\nhtml=" + server.http.url(folder).toUtf8() +
                                "/index.html\r\nHaloIP=127.0.0.1:2304\r\nTarget=for\xEAt.map\r\n"
                                "ppf=1\r\nAdminEmail=admin@example.org\r\n";
    server.publish(QStringLiteral("127.0.0.1:2304"), QString(), "1", QStringLiteral("Forest"));
    server.http.route(folder + QStringLiteral("/connect.ini"), test::HttpReply::ok(settings));
    test::HttpReply page = test::HttpReply::ok(
        "<html><head><title>Forest</title></head><body><img src=\"/picture.svg\"></body></html>");
    page.contentType = "text/html";
    server.http.route(folder + QStringLiteral("/index.html"), page);
    server.http.route(folder + QStringLiteral("/zandrel.ppf"), test::HttpReply::ok(patch));

    connectTo(server.http.address() + folder);
    ASSERT_TRUE(reg().isVisible<FrmSvrInfo>())
        << boxes.prompts().join(QStringLiteral(" | ")).toStdString();
    auto& info = reg().form<FrmSvrInfo>();
    EXPECT_EQ(info.txtMap->text(), QStringLiteral("for\u00eat.map"));
    EXPECT_TRUE(waitFor([&] { return info.browser->title() == QStringLiteral("Forest"); }, 60000))
        << info.browser->title().toStdString();
    QTest::mouseClick(info.cmdDownload, Qt::LeftButton);
    EXPECT_EQ(readAll(driveC(QStringLiteral("zandrel.ppf"))), patch);
    ASSERT_TRUE(tickUntilLaunchWindow());
    EXPECT_EQ(readFile(QStringLiteral("maps/for\u00eat.map")), editedMap(foret));
    clock.advance(1500);
    EXPECT_TRUE(reg().ended());
    EXPECT_TRUE(boxes.boxes.empty()) << boxes.prompts().join(QStringLiteral(" | ")).toStdString();
    const QStringList asked = server.http.requestedPaths();
    for (const QString& file : {QStringLiteral("/connect.ini"), QStringLiteral("/index.html"),
                                QStringLiteral("/zandrel.ppf")})
        EXPECT_TRUE(asked.contains(folder + file)) << file.toStdString();
}

// A captive portal answers for the server: its page is not stored as the settings file, and the
// copy an earlier visit to the server left is read as after any failed fetch.
TEST_F(Roads, AWebPageInsteadOfTheSettingsKeepsTheEarlierCopy) {
    Server server;
    server.publish(QStringLiteral("127.0.0.1:2399"), QStringLiteral("canyon.map"), "0",
                   QStringLiteral("Canyon server"));
    connectToServer(server, QStringLiteral("127.0.0.1:2399"), QStringLiteral("Canyon server"));
    const QByteArray settings = readFile(QStringLiteral("connect.ini"));
    startProgram();
    test::HttpReply portal =
        test::HttpReply::ok("\r\n<html><body>Welcome to the hotel network</body></html>");
    portal.contentType = "text/html; charset=utf-8";
    server.http.route(QStringLiteral("/connect.ini"), portal);

    connectTo(server.http.address());
    EXPECT_EQ(boxes.prompts(), QStringList{kFetchFailed});
    EXPECT_EQ(readFile(QStringLiteral("connect.ini")), settings);
    ASSERT_TRUE(reg().isVisible<FrmSvrInfo>());
    EXPECT_EQ(reg().form<FrmSvrInfo>().windowTitle(), QStringLiteral("127.0.0.1:2399"));
}

TEST_F(Roads, NoSettingsFileReportsAndStartsTheGameWithTheTypedAddress) {
    struct Case {
        const char* name;
        bool serverRuns;  // a web server without connect.ini, or none at all on the port
    };
    const Case cases[] = {{"web server without connect.ini", true}, {"nothing on the port", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(path(QStringLiteral("halo.exe.args")));
        boxes.boxes.clear();
        startProgram();
        auto server = std::make_unique<Server>();
        const QString address = server->http.address();
        if (!c.serverRuns) server.reset();

        connectTo(address);

        EXPECT_TRUE(reg().ended());
        const auto& seen = boxes.boxes;
        ASSERT_EQ(seen.size(), 4u) << boxes.prompts().join(QStringLiteral(" | ")).toStdString();
        EXPECT_EQ(seen[0].prompt, kFetchFailed);
        EXPECT_EQ(seen[1].title, QStringLiteral("Initialization File Error"));
        EXPECT_EQ(seen[2].title, QStringLiteral("Error!"));
        EXPECT_TRUE(seen[2].prompt.contains(
            QStringLiteral("Cause: Server settings file not found. This might be because:")));
        EXPECT_EQ(seen[3].prompt, QStringLiteral("Launching Halo and connecting to ") + address);
        EXPECT_EQ(standInArgs(QStringLiteral("halo.exe")),
                  (QStringList{QStringLiteral("-connect"), address, QStringLiteral("--end--")}));
        EXPECT_FALSE(QFile::exists(path(QStringLiteral("connect.ini"))));
        EXPECT_EQ(mapFolder(), kStockMaps);
    }
}

// The settings an earlier visit left stand in for a failed fetch only when they came from the
// address fetched now. For any other address the player gets what a first visit to a silent
// address gets: the reports, and the game started with the address typed; never the other
// server's window, page, map or game server. The copy itself stays as it was.
TEST_F(Roads, AFailedFetchNeverShowsAnotherServersSettings) {
    enum class Then {
        NothingAnswers,
        NoSettingsThere,
        SameServerFails,
        SameServerWithScheme,
        AnotherFolderOfTheSameHost
    };
    struct Case {
        const char* name;
        Then then;
        bool copyStandsIn;
    };
    const Case cases[] = {
        {"an address where nothing answers", Then::NothingAnswers, false},
        {"another server without settings", Then::NoSettingsThere, false},
        {"a folder of the same host", Then::AnotherFolderOfTheSameHost, false},
        {"the same server, failing now", Then::SameServerFails, true},
        {"the same server with its scheme typed, failing now", Then::SameServerWithScheme, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(path(QStringLiteral("halo.exe.args")));
        startProgram();
        Server visited;
        visited.publish(QStringLiteral("127.0.0.1:2310"), QStringLiteral("canyon.map"), "0",
                        QStringLiteral("Visited server"));
        connectToServer(visited, QStringLiteral("127.0.0.1:2310"),
                        QStringLiteral("Visited server"));
        const QByteArray kept = readFile(QStringLiteral("connect.ini"));
        boxes.boxes.clear();
        startProgram();

        QString typed = visited.http.address();
        Server other;
        std::optional<test::TestHttpServer> silent(std::in_place);
        if (c.then == Then::NothingAnswers) typed = silent->address();
        silent.reset();
        if (c.then == Then::NoSettingsThere) typed = other.http.address();
        if (c.then == Then::AnotherFolderOfTheSameHost) typed += QStringLiteral("/other");
        if (c.then == Then::SameServerWithScheme) typed = QStringLiteral("http://") + typed;
        visited.http.route(QStringLiteral("/connect.ini"), test::HttpReply::error(500, "down"));
        connectTo(typed);

        EXPECT_EQ(readFile(QStringLiteral("connect.ini")), kept);
        if (c.copyStandsIn) {
            EXPECT_EQ(boxes.prompts(), QStringList{kFetchFailed});
            ASSERT_TRUE(reg().isVisible<FrmSvrInfo>());
            EXPECT_EQ(reg().form<FrmSvrInfo>().windowTitle(), QStringLiteral("127.0.0.1:2310"));
            continue;
        }
        EXPECT_TRUE(reg().ended());
        const auto& seen = boxes.boxes;
        ASSERT_EQ(seen.size(), 4u) << boxes.prompts().join(QStringLiteral(" | ")).toStdString();
        EXPECT_EQ(seen[0].prompt, kFetchFailed);
        EXPECT_EQ(seen[1].title, QStringLiteral("Initialization File Error"));
        EXPECT_EQ(seen[2].title, QStringLiteral("Error!"));
        EXPECT_EQ(seen[3].prompt, QStringLiteral("Launching Halo and connecting to ") + typed);
        EXPECT_EQ(standInArgs(QStringLiteral("halo.exe")),
                  (QStringList{QStringLiteral("-connect"), typed, QStringLiteral("--end--")}));
        // Its page was asked for by the first visit only.
        EXPECT_EQ(visited.http.requestedPaths().count(QStringLiteral("/index.html")), 1);
    }
}

TEST_F(Roads, ABackupMadeBeforeAPatchRestoresTheOriginalBytes) {
    const QByteArray ridge = mapBytes("ridge", 1);
    const QByteArray ridge2 = editedMap(ridge);

    // First run: back up ridge.map, then "Finished".
    {
        FrmBackup& backups = openBackups();
        EXPECT_TRUE(reg().isVisible<FrmSplash>());
        select(backups.CurrentFile, QStringLiteral("ridge.map"));
        QTest::mouseClick(backups.cmdBackup, Qt::LeftButton);
        EXPECT_EQ(backups.BackupFile->names(), QStringList{QStringLiteral("ridge.map")});
        QTest::mouseClick(backups.cmdClose, Qt::LeftButton);
        EXPECT_TRUE(reg().ended());
        ASSERT_EQ(
            boxes.prompts(),
            QStringList{QStringLiteral("Zandrel must be restarted for changes to have an effect")});
    }
    EXPECT_EQ(readFile(QStringLiteral("backup/ridge.map")), ridge);

    // Second run: the PPF road patches it.
    startProgram();
    Server server;
    server.publish(QStringLiteral("127.0.0.1:2304"), QStringLiteral("ridge.map"), "1",
                   QStringLiteral("Ridge server"));
    server.put(QStringLiteral("zandrel.ppf"), makePatch(ridge, ridge2));
    connectAndApply(server, QStringLiteral("127.0.0.1:2304"), QStringLiteral("Ridge server"));
    ASSERT_TRUE(tickUntilLaunchWindow());
    EXPECT_EQ(readFile(QStringLiteral("maps/ridge.map")), ridge2);
    clock.advance(1500);
    ASSERT_TRUE(reg().ended());
    EXPECT_EQ(standInArgs(QStringLiteral("halo.exe")).value(1), QStringLiteral("127.0.0.1:2304"));

    // Third run: restore it from the backup.
    startProgram();
    FrmBackup& backups = openBackups();
    select(backups.BackupFile, QStringLiteral("ridge.map"));
    EXPECT_EQ(backups.lblBackupFile->text(), QStringLiteral("ridge.map"));
    QTest::mouseClick(backups.cmdRestore, Qt::LeftButton);
    EXPECT_EQ(readFile(QStringLiteral("maps/ridge.map")), ridge);
    EXPECT_EQ(readFile(QStringLiteral("backup/ridge.map")), ridge);
    EXPECT_EQ(mapFolder(), kStockMaps);
    EXPECT_FALSE(reg().ended());
}

// The game in a prefix of its own, as a game manager or a compatibility tool lays it out
// (.../prefixes/halo/drive_c/Games/Halo), no WINEPREFIX, and the wine the player names in WINE: a
// stand-in that records the WINEPREFIX it is given, its folder and its arguments. The game is a
// Windows program; the patch tool is the real one, native.
class RoadsInAPrefix : public Roads {
protected:
    RoadsInAPrefix() {
        QDir().mkpath(game(QStringLiteral("maps")));
        QDir().mkpath(game(QStringLiteral("backup")));
        QDir().mkpath(path(QStringLiteral("bin")));
        if (!QFile::copy(QStringLiteral(ZANDREL_PPF_TOOL), game(QStringLiteral("ppf.exe"))))
            qFatal("cannot copy ppf.exe");
        QFile::setPermissions(game(QStringLiteral("ppf.exe")),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        writeAll(game(QStringLiteral("halo.exe")), QByteArray("MZ\x90\x00 a Windows game", 20));
        for (const char* name : {"canyon", "harbor", "ridge"})
            writeAll(game(QStringLiteral("maps/%1.map").arg(QLatin1String(name))),
                     mapBytes(name, 1));
        writeFile(QStringLiteral("bin/wine"),
                  "#!/bin/sh\n{ echo \"WINEPREFIX=${WINEPREFIX-(unset)}\"; pwd; "
                  "for a in \"$@\"; do printf '%s\\n' \"$a\"; done; echo --end--; } "
                  "> \"$0.tmp\" && mv \"$0.tmp\" \"$0.record\"\n");
        QFile::setPermissions(path(QStringLiteral("bin/wine")),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        // A new run of the program from the game folder.
        registry = std::make_unique<frame::Registry>(
            frame::Services{&boxes, &mail, &clock, game(QString())});
        registerWindows(reg());
        reg().start<FrmSplash>();
    }

    QString game(const QString& relative) const {
        return path(QStringLiteral("manager/prefixes/halo/drive_c/Games/Halo/") + relative)
            .chopped(relative.isEmpty() ? 1 : 0);
    }
    QStringList wineRecord() const {
        const QString record = path(QStringLiteral("bin/wine.record"));
        if (!waitFor([&] { return QFile::exists(record); })) return {};
        return QString::fromUtf8(readAll(record)).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

    test::EnvVar noPrefix_{"WINEPREFIX", QByteArray()};
    test::EnvVar wine_{"WINE", QFile::encodeName(path(QStringLiteral("bin/wine")))};
};

TEST_F(RoadsInAPrefix, ThePatchGoesToThatPrefixAndTheGameStartsInItThroughTheNamedWine) {
    const QByteArray ridge = mapBytes("ridge", 1);
    const QByteArray ridge2 = editedMap(ridge);
    const QByteArray patch = makePatch(ridge, ridge2);
    ASSERT_FALSE(patch.isEmpty());
    Server server;
    server.publish(QStringLiteral("127.0.0.1:2304"), QStringLiteral("ridge.map"), "1",
                   QStringLiteral("Ridge server"));
    server.put(QStringLiteral("zandrel.ppf"), patch);

    connectAndApply(server, QStringLiteral("127.0.0.1:2304"), QStringLiteral("Ridge server"));
    const QString prefix = path(QStringLiteral("manager/prefixes/halo"));
    EXPECT_EQ(readAll(prefix + QStringLiteral("/drive_c/zandrel.ppf")), patch);
    EXPECT_FALSE(QFile::exists(driveC(QStringLiteral("zandrel.ppf"))));
    EXPECT_TRUE(tickUntilLaunchWindow());
    EXPECT_EQ(readAll(game(QStringLiteral("maps/ridge.map"))), ridge2) << "the map was not patched";
    clock.advance(1500);

    EXPECT_TRUE(reg().ended());
    EXPECT_TRUE(boxes.boxes.empty()) << boxes.prompts().join(QStringLiteral(" | ")).toStdString();
    EXPECT_EQ(wineRecord(),
              (QStringList{QStringLiteral("WINEPREFIX=") + prefix, game(QString()),
                           QStringLiteral("start"), QStringLiteral("/max"), QStringLiteral("/unix"),
                           game(QStringLiteral("halo.exe")), QStringLiteral("-connect"),
                           QStringLiteral("127.0.0.1:2304"), QStringLiteral("--end--")}));
}

TEST_F(RoadsInAPrefix, AWineThatCannotBeRunIsReportedByName) {
    const QByteArray ridge = mapBytes("ridge", 1);
    const QByteArray patch = makePatch(ridge, editedMap(ridge));
    Server server;
    server.publish(QStringLiteral("127.0.0.1:2304"), QStringLiteral("ridge.map"), "1",
                   QStringLiteral("Ridge server"));
    server.put(QStringLiteral("zandrel.ppf"), patch);
    const QString missing = path(QStringLiteral("no such wine/wine"));
    const test::EnvVar wine("WINE", QFile::encodeName(missing));

    connectAndApply(server, QStringLiteral("127.0.0.1:2304"), QStringLiteral("Ridge server"));
    EXPECT_TRUE(tickUntilLaunchWindow());
    clock.advance(1500);

    EXPECT_TRUE(reg().ended());
    ASSERT_EQ(boxes.boxes.size(), 1u) << boxes.prompts().join(QStringLiteral(" | ")).toStdString();
    EXPECT_EQ(boxes.boxes[0].icon, MsgIcon::Critical);
    EXPECT_TRUE(boxes.boxes[0].prompt.contains(missing)) << boxes.boxes[0].prompt.toStdString();
    EXPECT_TRUE(boxes.boxes[0].prompt.contains(game(QStringLiteral("halo.exe"))));
    EXPECT_FALSE(QFile::exists(path(QStringLiteral("bin/wine.record"))));
}

}  // namespace
}  // namespace zandrel::windows
