// The player's first minute as it happens on a desktop of the test's own (Xvfb, openbox): the
// program itself, started as a player starts it, driven with xdotool. Connect to a server that
// accepts the connection and never answers, then leave; and the whole road to the game, after
// which nothing of the program may live on in the game or beside it.
#include "desktop/desktop.h"
#include "http/test_http_server.h"
#include "rar/rarwriter.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <optional>
#include <set>
#include <thread>

namespace zandrel {
namespace {

using test::Desktop;
using test::pollUntil;
using test::Rect;
using Clock = std::chrono::steady_clock;

// Where a control's centre is on the screen: the client area plus its design rectangle, in
// twips (15 to a pixel).
std::pair<int, int> at(const Rect& client, int left, int top, int width, int height) {
    return {client.x + (left + width / 2) / 15, client.y + (top + height / 2) / 15};
}

QStringList entries(const QString& folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                                  QDir::Name);
}

// A server that accepts one connection, reads what comes and never answers; it notes when the
// request arrived and when the program closed the connection.
class SilentServer {
public:
    SilentServer() {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        ::bind(listener_, reinterpret_cast<sockaddr*>(&address), size);
        ::listen(listener_, 4);
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size);
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { serve(); });
    }
    ~SilentServer() {
        ::shutdown(listener_, SHUT_RDWR);
        if (connection_ >= 0) ::shutdown(connection_, SHUT_RDWR);
        thread_.join();
        ::close(listener_);
    }
    QString address() const { return QStringLiteral("127.0.0.1:%1").arg(port_); }
    bool asked() const { return asked_; }
    bool closed() const { return closed_; }
    Clock::time_point closedAt() const { return closedAt_; }

private:
    void serve() {
        connection_ = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection_ < 0) return;
        char buffer[4096];
        while (::recv(connection_, buffer, sizeof buffer, 0) > 0) asked_ = true;
        closedAt_ = Clock::now();
        closed_ = true;
        ::close(connection_);
    }

    int listener_ = -1;
    std::atomic<int> connection_{-1};
    int port_ = 0;
    std::thread thread_;
    std::atomic<bool> asked_{false};
    std::atomic<bool> closed_{false};
    Clock::time_point closedAt_;
};

// A game folder of the test's own: the program, its web view module, a map of the player's and a
// stand-in game that lists its descriptors and its parent, then plays for a while.
void makeGameFolder(const QString& app) {
    for (const char* file : {ZANDREL_PROGRAM, ZANDREL_WEBENGINE_MODULE}) {
        const QString from = QString::fromUtf8(file);
        ASSERT_TRUE(QFile::copy(from, app + QLatin1Char('/') + QFileInfo(from).fileName()));
    }
    QFile::setPermissions(app + QStringLiteral("/zandrel"),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    ASSERT_TRUE(QDir(app).mkpath(QStringLiteral("maps")));
    ASSERT_TRUE(QDir(app).mkpath(QStringLiteral("backup")));
    QFile map(app + QStringLiteral("/maps/canyon.map"));
    ASSERT_TRUE(map.open(QIODevice::WriteOnly));
    map.write("the player's canyon");
    // The listing runs in the background while the shell only waits, so that the shell's own
    // descriptors are listed as they are (no redirection or pipe of its own open meanwhile).
    QFile game(app + QStringLiteral("/halo.exe"));
    ASSERT_TRUE(game.open(QIODevice::WriteOnly));
    game.write(
        "#!/bin/sh\n"
        "ls -l /proc/$$/fd/ > \"$0.tmp\" &\n"
        "wait\n"
        "mv \"$0.tmp\" \"$0.fds\"\n"
        "echo \"$PPID $*\" > \"$0.started\"\n"
        "sleep 30\n");
    game.close();
    QFile::setPermissions(game.fileName(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

// The program on the desktop, in the game folder.
void startProgram(Desktop& desktop, test::Child& program, const QString& app,
                  const QProcessEnvironment& extra = {}) {
    QProcessEnvironment env = desktop.environment();
    env.insert(QStringLiteral("QTWEBENGINE_DISABLE_SANDBOX"), QStringLiteral("1"));
    env.insert(extra);
    program.process.setProcessEnvironment(env);
    program.process.start(app + QStringLiteral("/zandrel"), {});
    ASSERT_TRUE(program.process.waitForStarted(10000));
}

// The start window on screen: the address typed, Connect clicked. Gives the start window.
std::optional<xcb_window_t> connectTo(Desktop& desktop, const QString& address) {
    test::X& x = desktop.x();
    std::optional<xcb_window_t> start;
    if (!pollUntil(
            [&] { return (start = x.find("Welcome to Zandrel 1.1Final")) && x.viewable(*start); },
            20000))
        return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const Rect area = *x.clientArea(*start);
    const auto [textX, textY] = at(area, 1350, 1620, 4575, 435);
    desktop.click(textX, textY);
    desktop.key(QStringLiteral("ctrl+a"));
    desktop.type(address);
    const auto [connectX, connectY] = at(area, 6315, 1710, 2220, 465);
    desktop.click(connectX, connectY);
    return start;
}

// While the fetch holds the GUI thread, the player leaves each of the three ways. Escape stops
// the fetch and leaves the start window as it was; "Exit Zandrel" and the close box end the
// program. No box, nothing started, nothing stored.
TEST(FirstMinuteOnTheDesktop, EscapeExitOrTheCloseBoxWhileConnectingToASilentServer) {
    if (const QString missing = Desktop::missing(); !missing.isEmpty())
        GTEST_SKIP() << "needs " << missing.toStdString() << " (scripts/setup.sh installs them)";
    Desktop desktop;
    ASSERT_TRUE(desktop.start()) << desktop.why().toStdString();
    test::X& x = desktop.x();

    enum class Way { Escape, Exit, CloseBox };
    struct Case {
        const char* name;
        Way way;
    };
    const Case cases[] = {
        {"Escape", Way::Escape}, {"Exit Zandrel", Way::Exit}, {"the close box", Way::CloseBox}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir app;
        makeGameFolder(app.path());
        const QStringList before = entries(app.path());
        SilentServer server;
        test::Child program;
        startProgram(desktop, program, app.path());
        const std::optional<xcb_window_t> start = connectTo(desktop, server.address());
        ASSERT_TRUE(start);
        ASSERT_TRUE(pollUntil([&] { return server.asked(); }, 10000));
        std::this_thread::sleep_for(std::chrono::milliseconds(400));  // as a player's hand

        const Clock::time_point asked = Clock::now();
        if (c.way == Way::Escape) desktop.key(QStringLiteral("Escape"));
        if (c.way == Way::Exit) {
            const auto [exitX, exitY] = at(*x.clientArea(*start), 7260, 30, 1575, 315);
            desktop.click(exitX, exitY);
        }
        if (c.way == Way::CloseBox) {
            const Rect frame = *x.outerFrame(*start);
            desktop.click(frame.x + frame.width - 11, frame.y + 10);
        }
        ASSERT_TRUE(pollUntil([&] { return server.closed(); }, 10000));
        const auto ms = [&](Clock::time_point t) {
            return static_cast<long long>(
                std::chrono::duration_cast<std::chrono::milliseconds>(t - asked).count());
        };
        std::printf("[ figures  ] %s: asked to the fetch stopped: %lld ms\n", c.name,
                    ms(server.closedAt()));
        if (c.way == Way::Escape) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1000));
            EXPECT_TRUE(x.viewable(*start));
            EXPECT_EQ(program.process.state(), QProcess::Running);
            for (const char* title : {"Server Info", "Zandrel", "Error!"}) {
                const std::optional<xcb_window_t> w = x.find(title);
                EXPECT_FALSE(w && x.viewable(*w)) << title << " is on screen";
            }
        } else {
            ASSERT_TRUE(program.process.waitForFinished(10000));
            std::printf("[ figures  ] %s: asked to the program ended: %lld ms\n", c.name,
                        ms(Clock::now()));
        }
        EXPECT_EQ(entries(app.path()), before);  // no settings stored, no game started
    }
}

// At the desktop's scale the server window may not fit the screen (at twice the scale on a
// 1280 x 1024 screen it would be 1584 x 1146): it is then drawn at the largest scale at which it
// fits, frame included, and its button strip is on the screen. At the plain scale it is as
// designed, and the start window, which fits at both, is as designed at both.
TEST(FirstMinuteOnTheDesktop, AServerWindowTooLargeForTheScreenIsDrawnAtTheLargestScaleThatFits) {
    if (const QString missing = Desktop::missing(); !missing.isEmpty())
        GTEST_SKIP() << "needs " << missing.toStdString() << " (scripts/setup.sh installs them)";
    Desktop desktop;
    ASSERT_TRUE(desktop.start()) << desktop.why().toStdString();
    test::X& x = desktop.x();
    test::TestHttpServer server;
    server.route(QStringLiteral("/connect.ini"),
                 test::HttpReply::ok("[Main]\r\nhtml=about:blank\r\nHaloIP=127.0.0.1:2302\r\n"
                                     "Target=canyon.map\r\nppf=0\r\nAdminEmail=a@example.org\r\n"));
    struct Case {
        const char* name;
        const char* scale;
        bool fits;
    };
    const Case cases[] = {{"twice the scale", "2", false}, {"the plain scale", "1", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const double scale = QByteArray(c.scale).toDouble();
        QTemporaryDir app;
        makeGameFolder(app.path());
        test::Child program;
        QProcessEnvironment env;
        env.insert(QStringLiteral("QT_SCALE_FACTOR"), QString::fromLatin1(c.scale));
        startProgram(desktop, program, app.path(), env);
        std::optional<xcb_window_t> start;
        ASSERT_TRUE(pollUntil(
            [&] { return (start = x.find("Welcome to Zandrel 1.1Final")) && x.viewable(*start); },
            20000));
        const Rect startArea = *x.clientArea(*start);
        EXPECT_EQ(startArea.width, qRound(590 * scale));
        EXPECT_EQ(startArea.height, qRound(155 * scale));
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        const auto [textX, textY] = std::pair{startArea.x + qRound((1350 + 4575 / 2) / 15 * scale),
                                              startArea.y + qRound((1620 + 435 / 2) / 15 * scale)};
        desktop.click(textX, textY);
        desktop.key(QStringLiteral("ctrl+a"));
        desktop.type(server.address());
        desktop.click(startArea.x + qRound((6315 + 1110) / 15 * scale),
                      startArea.y + qRound((1710 + 232) / 15 * scale));

        std::optional<xcb_window_t> window;
        ASSERT_TRUE(pollUntil(
            [&] { return (window = x.find("127.0.0.1:2302")) && x.viewable(*window); }, 20000));
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        const Rect area = *x.clientArea(*window);
        const Rect frame = *x.outerFrame(*window);
        std::printf("[ figures  ] %s: server window %d x %d, frame %d x %d at %d, %d\n", c.name,
                    area.width, area.height, frame.width, frame.height, frame.x, frame.y);
        if (c.fits) {
            EXPECT_EQ(area.width, 792);
            EXPECT_EQ(area.height, 573);
        } else {
            EXPECT_LT(area.width, 1584);
            // The largest scale that fits: one side of the frame (nearly) meets the screen's.
            EXPECT_GE(std::max(frame.width / 1280.0, frame.height / 1024.0), 0.97);
        }
        EXPECT_GE(frame.x, 0);
        EXPECT_GE(frame.y, 0);
        EXPECT_LE(frame.x + frame.width, 1280);
        EXPECT_LE(frame.y + frame.height, 1024);
        // The design's proportions are kept: the strip's buttons stay where it puts them.
        EXPECT_NEAR(double(area.width) / area.height, 792.0 / 573.0, 0.01);
    }
}

// The descendants of a process that run the web engine's helper program.
std::set<int> webEngineHelpersOf(int pid) {
    std::set<int> found;
    std::set<int> family{pid};
    for (bool grew = true; grew;) {
        grew = false;
        for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
            bool number = false;
            const int child = entry.toInt(&number);
            if (!number || family.count(child)) continue;
            QFile stat(QStringLiteral("/proc/%1/stat").arg(child));
            if (!stat.open(QIODevice::ReadOnly)) continue;
            const QByteArray text = stat.readAll();
            const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
            if (fields.size() < 2 || !family.count(fields[1].toInt())) continue;
            family.insert(child);
            grew = true;
            QFile command(QStringLiteral("/proc/%1/cmdline").arg(child));
            if (command.open(QIODevice::ReadOnly) &&
                command.readAll().contains("QtWebEngineProcess"))
                found.insert(child);
        }
    }
    return found;
}

bool alive(int pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly)) return false;
    const QByteArray text = stat.readAll();
    return text.mid(text.lastIndexOf(')') + 2, 1) != "Z";
}

// The road to the game with the web engine's page on screen first: the game gets only its
// standard streams, and when the program has ended, while the game plays on, none of the web
// engine's helper processes is left.
TEST(FirstMinuteOnTheDesktop, NothingOfTheProgramRunsOnWithTheGame) {
    if (const QString missing = Desktop::missing(); !missing.isEmpty())
        GTEST_SKIP() << "needs " << missing.toStdString() << " (scripts/setup.sh installs them)";
    Desktop desktop;
    ASSERT_TRUE(desktop.start()) << desktop.why().toStdString();
    test::X& x = desktop.x();
    QTemporaryDir app;
    makeGameFolder(app.path());
    QTemporaryDir wine;

    test::TestHttpServer server;
    server.route(QStringLiteral("/connect.ini"),
                 test::HttpReply::ok("[Main]\r\nhtml=" + server.url("/index.html").toUtf8() +
                                     "\r\nHaloIP=127.0.0.1:2302\r\nTarget=canyon.map\r\nppf=0\r\n"
                                     "AdminEmail=admin@example.org\r\n"));
    test::HttpReply page = test::HttpReply::ok("<html><body><h1>Welcome</h1></body></html>");
    page.contentType = "text/html";
    server.route(QStringLiteral("/index.html"), page);
    const std::string rar =
        rar::writeStored(rar::Format::Rar5, {{"glacier.map", std::string(70000, 'g')}});
    server.route(QStringLiteral("/zandrel.rar"),
                 test::HttpReply::ok(QByteArray(rar.data(), qsizetype(rar.size()))));

    test::Child program;
    QProcessEnvironment env;
    env.insert(QStringLiteral("WINEPREFIX"), wine.filePath(QStringLiteral("prefix")));
    startProgram(desktop, program, app.path(), env);
    ASSERT_TRUE(connectTo(desktop, server.address()));
    std::optional<xcb_window_t> serverWindow;
    ASSERT_TRUE(pollUntil(
        [&] { return (serverWindow = x.find("127.0.0.1:2302")) && x.viewable(*serverWindow); },
        20000));
    // The page is up when the web engine's helpers run.
    const int pid = static_cast<int>(program.process.processId());
    std::set<int> helpers;
    ASSERT_TRUE(pollUntil(
        [&] {
            helpers = webEngineHelpersOf(pid);
            return server.requestedPaths().contains(QStringLiteral("/index.html")) &&
                   !helpers.empty();
        },
        30000));
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    helpers = webEngineHelpersOf(pid);
    const auto [downloadX, downloadY] = at(*x.clientArea(*serverWindow), 9870, 8130, 1965, 435);
    desktop.click(downloadX, downloadY);

    const QString started = app.filePath(QStringLiteral("halo.exe.started"));
    ASSERT_TRUE(pollUntil([&] { return QFile::exists(started); }, 30000));
    ASSERT_TRUE(program.process.waitForFinished(15000));
    QElapsedTimer ended;
    ended.start();
    // The web engine's helpers end with the program, though the game plays on.
    const bool helpersGone = pollUntil(
        [&] {
            for (int helper : helpers)
                if (alive(helper)) return false;
            return true;
        },
        10000);
    std::printf("[ figures  ] %zu web engine helpers, all gone %lld ms after the program ended\n",
                helpers.size(), static_cast<long long>(ended.elapsed()));
    EXPECT_TRUE(helpersGone);

    QFile startedFile(started);
    ASSERT_TRUE(startedFile.open(QIODevice::ReadOnly));
    const QList<QByteArray> startedLine = startedFile.readAll().trimmed().split(' ');
    ASSERT_GE(startedLine.size(), 3);
    EXPECT_EQ(startedLine[0].toInt(), pid);  // started by the program itself, no one between
    EXPECT_EQ(startedLine[1], "-connect");
    EXPECT_EQ(startedLine[2], "127.0.0.1:2302");
    const int gamePid = [&] {
        for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
            QFile command(QStringLiteral("/proc/%1/cmdline").arg(entry));
            if (command.open(QIODevice::ReadOnly) &&
                command.readAll().contains(QFile::encodeName(app.filePath("halo.exe"))))
                return entry.toInt();
        }
        return 0;
    }();
    EXPECT_TRUE(gamePid > 0 && alive(gamePid)) << "the game plays on";

    // Its descriptors: the standard streams, and the shell's own hold on its script.
    QFile fds(app.filePath(QStringLiteral("halo.exe.fds")));
    ASSERT_TRUE(fds.open(QIODevice::ReadOnly));
    QStringList others;
    for (const QByteArray& line : fds.readAll().split('\n')) {
        const QList<QByteArray> words = line.simplified().split(' ');
        const qsizetype arrow = words.indexOf("->");
        if (arrow < 1) continue;
        const QByteArray fd = words[arrow - 1];
        const QByteArray target = words.mid(arrow + 1).join(' ');
        if (fd == "0" || fd == "1" || fd == "2") continue;
        if (target == QFile::encodeName(app.filePath(QStringLiteral("halo.exe")))) continue;
        others << QString::fromUtf8(fd + " -> " + target);
    }
    EXPECT_TRUE(others.isEmpty()) << others.join(QStringLiteral(", ")).toStdString();
    if (gamePid > 0) ::kill(gamePid, SIGTERM);
}

}  // namespace
}  // namespace zandrel
