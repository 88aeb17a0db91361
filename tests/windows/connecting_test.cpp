// The start window while Connect's fetch holds the GUI thread, against a server that accepts the
// connection and never answers: the line that says which address is being reached, and the
// player's three ways out (Escape, "Exit Zandrel", the close box).
#include "frame/frame_fixture.h"
#include "http/test_http_server.h"
#include "windows/frm_splash.h"
#include "windows/frm_svr_info.h"
#include "windows/window_set.h"

#include <QDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <optional>

namespace zandrel::windows {

using namespace frame;
namespace {

class ConnectingTest : public ::testing::Test, public test::FrameFixture {
protected:
    ConnectingTest() {
        registerWindows(reg());
        makeStandIn(QStringLiteral("halo.exe"));
        silent.delayMs = 60000;  // accepts, and says nothing for longer than any test runs
        reg().start<FrmSplash>();
        splash = &reg().form<FrmSplash>();
    }

    // Connect as the player does; `during` (if any) runs once the fetch holds the GUI thread (the
    // server has the request), as the player's hand would.
    void connectWhile(const std::function<void()>& during = {}) {
        splash->Text1->setText(http.address());
        bool ran = false;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (ran || http.requestedPaths().isEmpty()) return;
            ran = true;
            lineDuringFetch = splash->lblConnecting->isVisible()
                                  ? std::optional(splash->lblConnecting->text())
                                  : std::nullopt;
            readOnlyDuringFetch = splash->Text1->isReadOnly();
            if (during) during();
        });
        poll.start(10);
        QTest::mouseClick(splash->cmdConnect, Qt::LeftButton, {}, QPoint(10, 10));
        if (during) {
            EXPECT_TRUE(ran);
        }
    }

    QStringList appFolderEntries() const {
        return QDir(appFolder()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    }

    test::TestHttpServer http;
    test::HttpReply silent = test::HttpReply::ok("[Main]\r\n");
    FrmSplash* splash = nullptr;
    std::optional<QString> lineDuringFetch;
    bool readOnlyDuringFetch = false;
};

TEST_F(ConnectingTest, TheLineNamesTheAddressWhileTheFetchHoldsAndGoesAfter) {
    EXPECT_FALSE(splash->lblConnecting->isVisible());
    test::HttpReply slow = test::HttpReply::ok(
        "[Main]\r\nhtml=about:blank\r\nHaloIP=1.2.3.4:2302\r\nTarget=a.map\r\nppf=0\r\n"
        "AdminEmail=a@b.c\r\n");
    slow.delayMs = 300;
    http.route(QStringLiteral("/connect.ini"), slow);
    connectWhile([] {});
    ASSERT_TRUE(lineDuringFetch.has_value());
    EXPECT_EQ(*lineDuringFetch,
              QStringLiteral("Connecting to %1\u2026\nPress Escape to stop.").arg(http.address()));
    EXPECT_TRUE(readOnlyDuringFetch);
    ASSERT_TRUE(reg().isVisible<FrmSvrInfo>());
    EXPECT_FALSE(splash->lblConnecting->isVisible());
    EXPECT_FALSE(splash->Text1->isReadOnly());
}

// A fetch that fails on its own goes on as before; its box is read without the line.
TEST_F(ConnectingTest, AFailedFetchsBoxComesAfterTheLineIsGone) {
    test::HttpReply none = test::HttpReply::error(404, "none");
    none.delayMs = 300;
    http.route(QStringLiteral("/connect.ini"), none);
    std::optional<bool> lineOverBox;
    boxes.onShow = [&](const test::Box&) {
        if (!lineOverBox) lineOverBox = splash->lblConnecting->isVisible();
    };
    connectWhile([] {});
    ASSERT_TRUE(lineOverBox.has_value());
    EXPECT_FALSE(*lineOverBox);
    EXPECT_TRUE(reg().ended());
    EXPECT_EQ(boxes.boxes.size(), 4u);  // the failed fetch, the reader, "Error!", the launch
    EXPECT_EQ(standInArgs(QStringLiteral("halo.exe")),
              (QStringList{QStringLiteral("-connect"), http.address(), QStringLiteral("--end--")}));
}

// Each way out ends the fetch at once: no box, nothing started, no file stored; Escape leaves the
// start window as it was, the other two end the program (the start window was the only one).
TEST_F(ConnectingTest, EscapeExitAndTheCloseBoxStopTheFetch) {
    struct Case {
        const char* name;
        std::function<void(FrmSplash&)> player;
        bool ends;
    };
    const Case cases[] = {
        {"Escape", [](FrmSplash& s) { QTest::keyClick(&s, Qt::Key_Escape); }, false},
        {"Exit Zandrel", [](FrmSplash& s) { QTest::mouseClick(s.cmdExit, Qt::LeftButton); }, true},
        {"the close box", [](FrmSplash& s) { s.close(); }, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(path(QStringLiteral("connect.ini")));
        newRegistry();
        registerWindows(reg());
        reg().start<FrmSplash>();
        splash = &reg().form<FrmSplash>();
        http.route(QStringLiteral("/connect.ini"), silent);
        connectWhile([&] { c.player(*splash); });

        EXPECT_TRUE(boxes.boxes.empty()) << boxes.prompts().join(" | ").toStdString();
        EXPECT_EQ(reg().ended(), c.ends);
        if (!c.ends) {
            EXPECT_FALSE(reg().isLoaded<FrmSvrInfo>());
        }
        EXPECT_FALSE(QFile::exists(path(QStringLiteral("halo.exe.args"))));
        EXPECT_EQ(appFolderEntries(),
                  (QStringList{QStringLiteral("backup"), QStringLiteral("halo.exe"),
                               QStringLiteral("maps")}));
        if (c.ends) continue;
        EXPECT_TRUE(reg().isVisible<FrmSplash>());
        EXPECT_EQ(splash->Text1->text(), http.address());
        EXPECT_FALSE(splash->Text1->isReadOnly());
        EXPECT_FALSE(splash->lblConnecting->isVisible());

        // The start window works as before: Escape does nothing now, and Connect connects.
        QTest::keyClick(splash, Qt::Key_Escape);
        EXPECT_TRUE(reg().isVisible<FrmSplash>());
        http.route(QStringLiteral("/connect.ini"),
                   test::HttpReply::ok("[Main]\r\nhtml=about:blank\r\nHaloIP=1.2.3.4:2302\r\n"
                                       "Target=a.map\r\nppf=0\r\nAdminEmail=a@b.c\r\n"));
        connectWhile();
        ASSERT_TRUE(reg().isVisible<FrmSvrInfo>());
        EXPECT_EQ(reg().form<FrmSvrInfo>().windowTitle(), QStringLiteral("1.2.3.4:2302"));
        EXPECT_FALSE(reg().isVisible<FrmSplash>());
        EXPECT_TRUE(boxes.boxes.empty());
    }
}

}  // namespace
}  // namespace zandrel::windows
