// Cancel as a player meets it: the program itself on a desktop of the test's own (Xvfb,
// openbox), an update served from a loopback server, and the keyboard and mouse of xdotool.
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

// A game folder of the test's own: the program, its web view module, the game (never started
// here), a map of the player's.
void makeGameFolder(const QString& app) {
    for (const char* file : {ZANDREL_PROGRAM, ZANDREL_WEBENGINE_MODULE}) {
        const QString from = QString::fromUtf8(file);
        ASSERT_TRUE(QFile::copy(from, app + QLatin1Char('/') + QFileInfo(from).fileName()));
    }
    QFile::setPermissions(app + QStringLiteral("/zandrel"),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    ASSERT_TRUE(QDir(app).mkpath(QStringLiteral("maps")));
    ASSERT_TRUE(QDir(app).mkpath(QStringLiteral("backup")));
    QFile game(app + QStringLiteral("/halo.exe"));
    ASSERT_TRUE(game.open(QIODevice::WriteOnly));
    QFile map(app + QStringLiteral("/maps/canyon.map"));
    ASSERT_TRUE(map.open(QIODevice::WriteOnly));
    map.write("the player's canyon");
}

bool holdsTemporaryFile(const QString& folder) {
    for (const QString& name : entries(folder)) {
        if (name.startsWith(QStringLiteral(".zandrel-tmp-"))) return true;
    }
    return false;
}

// The player cancels each of the three ways, after a click on the server window behind, which
// must not get through: Escape while the server has not answered yet, the Cancel button and the
// window manager's close box mid-transfer. Each time the transfer ends, nothing is applied, no
// box is shown and the server window is back; while the fetch holds, only the download window
// takes input. (The moments after the transfer, timed by the windows' ticks, are the window
// tests' cases: here a loaded machine could let the tick come before the player.)
TEST(CancelOnTheDesktop, EscapeCancelOrTheCloseBoxEndTheUpdateAndOnlyTheyGetThrough) {
    if (const QString missing = Desktop::missing(); !missing.isEmpty())
        GTEST_SKIP() << "needs " << missing.toStdString() << " (scripts/setup.sh installs them)";
    Desktop desktop;
    ASSERT_TRUE(desktop.start()) << desktop.why().toStdString();
    test::X& x = desktop.x();

    enum class Way { EscapeBeforeTheAnswer, CancelButton, CloseBox };
    struct Case {
        const char* name;
        Way way;
    };
    const Case cases[] = {
        {"Escape before the server answers", Way::EscapeBeforeTheAnswer},
        {"the Cancel button mid-transfer", Way::CancelButton},
        {"the close box mid-transfer", Way::CloseBox},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir app;
        makeGameFolder(app.path());
        QTemporaryDir wine;

        test::TestHttpServer server;
        server.route(
            QStringLiteral("/connect.ini"),
            test::HttpReply::ok("[Main]\r\nhtml=about:blank\r\nHaloIP=127.0.0.1:2302\r\n"
                                "Target=canyon.map\r\nppf=0\r\nAdminEmail=admin@example.org\r\n"));
        // About 40 s in all: the cancel comes long before the end.
        test::HttpReply update = test::HttpReply::ok(QByteArray(4 * 1000 * 1000, 'r'));
        update.pieceSize = 5000;
        update.pauseMs = 50;
        if (c.way == Way::EscapeBeforeTheAnswer) update.delayMs = 20000;
        server.route(QStringLiteral("/zandrel.rar"), update);

        test::Child program;
        QProcessEnvironment env = desktop.environment();
        env.insert(QStringLiteral("QTWEBENGINE_DISABLE_SANDBOX"), QStringLiteral("1"));
        env.insert(QStringLiteral("WINEPREFIX"), wine.filePath(QStringLiteral("prefix")));
        program.process.setProcessEnvironment(env);
        program.process.start(app.filePath(QStringLiteral("zandrel")), {});
        ASSERT_TRUE(program.process.waitForStarted(10000));

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

        // The moment comes: the download window on screen, and for a cancel mid-transfer the
        // first bytes in our temporary file.
        std::optional<xcb_window_t> download;
        ASSERT_TRUE(pollUntil(
            [&] {
                return (download = x.find("Downloading, please wait...")) &&
                       x.viewable(*download) &&
                       (c.way == Way::EscapeBeforeTheAnswer || holdsTemporaryFile(app.path()));
            },
            20000));
        std::this_thread::sleep_for(std::chrono::milliseconds(300));  // focus given
        // A click on the server window behind, while the fetch holds.
        const auto [backupsX, backupsY] = at(serverArea, 7830, 8130, 1965, 435);
        desktop.click(backupsX, backupsY);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));  // as a player's hand
        QElapsedTimer asked;
        asked.start();
        if (c.way == Way::EscapeBeforeTheAnswer) desktop.key(QStringLiteral("Escape"));
        if (c.way == Way::CancelButton) {
            const auto [cancelX, cancelY] = at(*x.clientArea(*download), 1440, 1710, 690, 195);
            desktop.click(cancelX, cancelY);
        }
        if (c.way == Way::CloseBox) {
            // The window manager's close button, at the right of the frame's title bar.
            const Rect frame = *x.outerFrame(*download);
            desktop.click(frame.x + frame.width - 11, frame.y + 10);
        }
        ASSERT_TRUE(pollUntil([&] { return !x.viewable(*download); }, 5000));
        std::printf("[ figures  ] %s: asked to the download window gone: %lld ms\n", c.name,
                    static_cast<long long>(asked.elapsed()));

        EXPECT_TRUE(pollUntil([&] { return x.viewable(*serverWindow); }, 5000));
        std::this_thread::sleep_for(std::chrono::milliseconds(1000));
        for (const char* title : {"Map Backups", "Form1"}) {
            const std::optional<xcb_window_t> w = x.find(title);
            EXPECT_FALSE(w && x.viewable(*w)) << title << " is on screen";
        }
        EXPECT_TRUE(x.viewable(*serverWindow));
        EXPECT_EQ(entries(app.filePath(QStringLiteral("maps"))), QStringList{"canyon.map"});
        QFile kept(app.filePath(QStringLiteral("maps/canyon.map")));
        ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
        EXPECT_EQ(kept.readAll(), QByteArray("the player's canyon"));
        EXPECT_EQ(entries(app.path()).join(' ').toStdString(),
                  "backup connect.ini halo.exe maps zandrel zandrel_webengine.so");
        EXPECT_EQ(program.process.state(), QProcess::Running);
    }
}

}  // namespace
}  // namespace zandrel
