// A link as the desktop hands it over, through the program itself on a desktop of the test's
// own (Xvfb, openbox): the start window comes up with the link's address in its address box
// (read back through the clipboard, as the player's keys copy it), and nothing is fetched; a
// hostile link gets a box and no start window.
#include "desktop/desktop.h"

#include <QDir>
#include <QFile>
#include <QTcpServer>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

using zandrel::test::Desktop;

const char* const kStartWindow = "Welcome to Zandrel 1.1Final";

class LinkOnTheDesktop : public ::testing::Test {
protected:
    void SetUp() override {
        const QString missing =
            Desktop::missing({QStringLiteral("Xvfb"), QStringLiteral("openbox"),
                              QStringLiteral("xdotool"), QStringLiteral("xclip")});
        if (!missing.isEmpty())
            GTEST_SKIP() << "needs " << missing.toStdString()
                         << " (scripts/setup.sh installs them)";
        ASSERT_TRUE(desktop_.start()) << desktop_.why().toStdString();
        QFile(game_.filePath(QStringLiteral("halo.exe"))).open(QIODevice::WriteOnly);
        QDir(game_.path()).mkpath(QStringLiteral("maps"));
    }

    void start(const QString& link) {
        QProcessEnvironment env = desktop_.environment();
        env.insert(QStringLiteral("QTWEBENGINE_DISABLE_SANDBOX"), QStringLiteral("1"));
        // The exit status is the program's own: in the sanitizer build, LeakSanitizer would
        // change it for what the toolkit keeps until the process ends.
        env.insert(QStringLiteral("ASAN_OPTIONS"),
                   env.value(QStringLiteral("ASAN_OPTIONS")) + QStringLiteral(":detect_leaks=0"));
        program_.process.setProcessEnvironment(env);
        program_.process.start(QStringLiteral(ZANDREL_PROGRAM),
                               {QStringLiteral("--game-folder"), game_.path(), link});
        ASSERT_TRUE(program_.process.waitForStarted(10000));
    }

    bool windowUp(const char* title) {
        return zandrel::test::pollUntil([&] { return desktop_.x().find(title).has_value(); },
                                        30000);
    }

    QString clipboard() const {
        QProcess xclip;
        xclip.setProcessEnvironment(desktop_.environment());
        xclip.start(QStringLiteral("xclip"), {QStringLiteral("-o"), QStringLiteral("-selection"),
                                              QStringLiteral("clipboard")});
        xclip.waitForFinished(10000);
        return QString::fromUtf8(xclip.readAllStandardOutput());
    }

    Desktop desktop_;
    QTemporaryDir game_;
    zandrel::test::Child program_;
};

TEST_F(LinkOnTheDesktop, TheStartWindowShowsTheLinksAddressAndFetchesNothing) {
    QTcpServer server;  // the linked server: nothing may connect before the player does
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost));
    const QString address = QStringLiteral("127.0.0.1:%1/halo maps").arg(server.serverPort());
    start(QStringLiteral("zandrel://127.0.0.1:%1/halo%20maps").arg(server.serverPort()));
    ASSERT_TRUE(windowUp(kStartWindow));
    QString typed;
    zandrel::test::pollUntil(
        [&] {
            desktop_.key(QStringLiteral("ctrl+a"));
            desktop_.key(QStringLiteral("ctrl+c"));
            typed = clipboard();
            return typed == address;
        },
        10000);
    EXPECT_EQ(typed, address);
    EXPECT_FALSE(server.waitForNewConnection(500));
    EXPECT_EQ(program_.process.state(), QProcess::Running);
}

TEST_F(LinkOnTheDesktop, AHostileLinkIsABoxAndNoStartWindow) {
    start(QStringLiteral("zandrel://--game-folder=/"));
    ASSERT_TRUE(windowUp("Zandrel"));
    EXPECT_FALSE(desktop_.x().find(kStartWindow).has_value());
    desktop_.key(QStringLiteral("Return"));
    ASSERT_TRUE(program_.process.waitForFinished(10000));
    EXPECT_EQ(program_.process.exitCode(), 2);
    EXPECT_FALSE(desktop_.x().find(kStartWindow).has_value());
}

}  // namespace
