// Cancel as a player meets it: the program itself on a desktop of the test's own (Xvfb,
// openbox), an update served slowly from a loopback server, and the mouse of xdotool. While the
// fetch holds the program, the download window's Cancel is the one control that works: a click
// on the server window behind it does nothing, then or later.
#include "desktop/desktop.h"
#include "http/test_http_server.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <thread>

namespace zandrel {
namespace {

using test::Desktop;
using test::pollUntil;
using test::Rect;

// Where a control's centre is on the screen: the client area plus its design rectangle, in
// twips (15 to a pixel).
std::pair<int, int> at(const Rect& client, int left, int top, int width, int height) {
    return {client.x + (left + width / 2) / 15, client.y + (top + height / 2) / 15};
}

QStringList entries(const QString& folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                                  QDir::Name);
}

TEST(CancelOnTheDesktop, CancelEndsTheTransferAndOnlyItGetsThroughWhileTheFetchHolds) {
    if (const QString missing = Desktop::missing(); !missing.isEmpty())
        GTEST_SKIP() << "needs " << missing.toStdString() << " (scripts/setup.sh installs them)";
    Desktop desktop;
    ASSERT_TRUE(desktop.start()) << desktop.why().toStdString();

    QTemporaryDir app;
    for (const char* file : {ZANDREL_PROGRAM, ZANDREL_WEBENGINE_MODULE}) {
        const QString from = QString::fromUtf8(file);
        ASSERT_TRUE(QFile::copy(from, app.filePath(QFileInfo(from).fileName())));
    }
    QFile::setPermissions(app.filePath(QStringLiteral("zandrel")),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    ASSERT_TRUE(QDir(app.path()).mkpath(QStringLiteral("maps")));
    ASSERT_TRUE(QDir(app.path()).mkpath(QStringLiteral("backup")));
    QFile map(app.filePath(QStringLiteral("maps/canyon.map")));
    ASSERT_TRUE(map.open(QIODevice::WriteOnly));
    map.write("the player's canyon");
    map.close();
    QTemporaryDir wine;

    test::TestHttpServer server;
    server.route(
        QStringLiteral("/connect.ini"),
        test::HttpReply::ok("[Main]\r\nhtml=about:blank\r\nHaloIP=127.0.0.1:2302\r\n"
                            "Target=canyon.map\r\nppf=0\r\nAdminEmail=admin@example.org\r\n"));
    // About 40 s in all: the cancel comes long before the end.
    test::HttpReply slow = test::HttpReply::ok(QByteArray(4 * 1000 * 1000, 'r'));
    slow.pieceSize = 5000;
    slow.pauseMs = 50;
    server.route(QStringLiteral("/zandrel.rar"), slow);

    test::Child program;
    QProcessEnvironment env = desktop.environment();
    env.insert(QStringLiteral("QTWEBENGINE_DISABLE_SANDBOX"), QStringLiteral("1"));
    env.insert(QStringLiteral("WINEPREFIX"), wine.filePath(QStringLiteral("prefix")));
    program.process.setProcessEnvironment(env);
    program.process.start(app.filePath(QStringLiteral("zandrel")), {});
    ASSERT_TRUE(program.process.waitForStarted(10000));
    test::X& x = desktop.x();

    // The start window: the address typed, Connect clicked.
    std::optional<xcb_window_t> start;
    ASSERT_TRUE(pollUntil(
        [&] { return (start = x.find("Welcome to Zandrel 1.1Final")) && x.viewable(*start); },
        20000));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const Rect startArea = *x.clientArea(*start);
    const auto [textX, textY] = at(startArea, 1350, 1620, 4575, 435);
    desktop.click(textX, textY);
    desktop.key(QStringLiteral("ctrl+a"));
    desktop.type(server.address());
    const auto [connectX, connectY] = at(startArea, 6315, 1710, 2220, 465);
    desktop.click(connectX, connectY);

    // The server window: "Download and Apply".
    std::optional<xcb_window_t> serverWindow;
    ASSERT_TRUE(pollUntil(
        [&] { return (serverWindow = x.find("127.0.0.1:2302")) && x.viewable(*serverWindow); },
        20000));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const Rect serverArea = *x.clientArea(*serverWindow);
    const auto [downloadX, downloadY] = at(serverArea, 9870, 8130, 1965, 435);
    desktop.click(downloadX, downloadY);

    // Mid-transfer: the first bytes are in our temporary file.
    std::optional<xcb_window_t> download;
    ASSERT_TRUE(pollUntil(
        [&] {
            download = x.find("Downloading, please wait...");
            for (const QString& name : entries(app.path())) {
                if (name.startsWith(QStringLiteral(".zandrel-tmp-"))) return download.has_value();
            }
            return false;
        },
        20000));
    // The server window is still on screen behind: its Map Backups is clicked, then Cancel.
    const auto [backupsX, backupsY] = at(serverArea, 7830, 8130, 1965, 435);
    desktop.click(backupsX, backupsY);
    const Rect downloadArea = *x.clientArea(*download);
    const auto [cancelX, cancelY] = at(downloadArea, 1440, 1710, 690, 195);
    QElapsedTimer clicked;
    clicked.start();
    desktop.click(cancelX, cancelY);
    ASSERT_TRUE(pollUntil([&] { return !x.viewable(*download); }, 5000));
    std::printf("[ figures  ] Cancel clicked to the download window gone: %lld ms\n",
                static_cast<long long>(clicked.elapsed()));

    EXPECT_TRUE(pollUntil([&] { return x.viewable(*serverWindow); }, 5000));
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    const std::optional<xcb_window_t> backups = x.find("Map Backups");
    EXPECT_FALSE(backups && x.viewable(*backups))
        << "the click made while the fetch held came through";
    EXPECT_EQ(entries(app.filePath(QStringLiteral("maps"))), QStringList{"canyon.map"});
    QFile kept(app.filePath(QStringLiteral("maps/canyon.map")));
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), QByteArray("the player's canyon"));
    EXPECT_EQ(entries(app.path()),
              (QStringList{"backup", "connect.ini", "maps", "zandrel", "zandrel_webengine.so"}));
    EXPECT_EQ(program.process.state(), QProcess::Running);
}

}  // namespace
}  // namespace zandrel
