// The start window, driven with real mouse and key events.
#include "frame/form.h"
#include "frame/frame_fixture.h"
#include "windows/frm_about.h"
#include "windows/frm_backup.h"
#include "windows/frm_splash.h"
#include "windows/frm_svr_info.h"
#include "windows/program.h"

#include <QTest>

#include <gtest/gtest.h>

namespace zandrel::windows {

using namespace frame;
namespace {

// The next windows without their load handlers: the test counts how often one was loaded.
int nextLoads = 0;

template <class F>
class NextWindow : public F {
public:
    using F::F;
    void load() override { ++nextLoads; }
};

class SplashTest : public ::testing::Test, public test::FrameFixture {
protected:
    SplashTest() {
        reg().define<FrmSplash>();
        standIn<FrmSvrInfo>();
        standIn<FrmBackup>();
        standIn<FrmAbout>();
        nextLoads = 0;
        reg().start<FrmSplash>();
        splash = &reg().form<FrmSplash>();
    }
    template <class F>
    void standIn() {
        reg().define<F>([](Registry& r) { return std::make_unique<NextWindow<F>>(r); });
    }
    FrmSplash* splash;
};

TEST_F(SplashTest, StartsAloneWithTheFocusOnThePrompt) {
    EXPECT_TRUE(reg().isVisible<FrmSplash>());
    EXPECT_FALSE(reg().isLoaded<FrmSvrInfo>());
    EXPECT_FALSE(reg().isLoaded<FrmBackup>());
    EXPECT_FALSE(reg().isLoaded<FrmAbout>());
    EXPECT_EQ(splash->windowTitle(), QStringLiteral("Welcome to Zandrel 1.1Final"));
    EXPECT_EQ(splash->size(), QSize(590, 155));
    EXPECT_EQ(splash->focusWidget(), splash->Text1);
    EXPECT_EQ(splash->Text1->text(), QStringLiteral("Type a Zandrel address here"));
    EXPECT_EQ(splash->Text1->geometry(), QRect(90, 108, 305, 29));
}

TEST_F(SplashTest, PromptIsClearedOnlyWhileTheBoxHoldsItExactly) {
    struct Case {
        const char* name;
        QString text;
        bool byClick;
        QString expected;
    };
    const QString prompt = FrmSplash::kPrompt;
    const Case cases[] = {
        {"prompt, pointer moves over the box", prompt, false, ""},
        {"prompt, click", prompt, true, ""},
        {"other case is kept", "type a zandrel address here", false, "type a zandrel address here"},
        {"extra space is kept", prompt + " ", true, prompt + " "},
        {"an address is kept", "127.0.0.1:8801", true, "127.0.0.1:8801"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        splash->Text1->setText(c.text);
        if (c.byClick) {
            QTest::mouseClick(splash->Text1, Qt::LeftButton, {}, QPoint(10, 10));
        } else {
            QTest::mouseMove(splash->Text1, QPoint(10, 10));
            QTest::mouseMove(splash->Text1, QPoint(20, 12));
        }
        EXPECT_EQ(splash->Text1->text(), c.expected);
    }
}

TEST_F(SplashTest, TypedTextEqualToThePromptIsClearedLikeThePrompt) {
    splash->Text1->clear();
    QTest::keyClicks(splash->Text1, FrmSplash::kPrompt);
    ASSERT_EQ(splash->Text1->text(), FrmSplash::kPrompt);
    QTest::mouseMove(splash->Text1, QPoint(15, 10));
    EXPECT_EQ(splash->Text1->text(), QString());
}

TEST_F(SplashTest, TypingBeforeThePointerArrivesKeepsThePromptText) {
    QTest::keyClicks(splash->Text1, QStringLiteral("x"));
    QTest::mouseMove(splash->Text1, QPoint(15, 10));
    EXPECT_NE(splash->Text1->text(), FrmSplash::kPrompt);
    EXPECT_TRUE(splash->Text1->text().contains(FrmSplash::kPrompt));
}

TEST_F(SplashTest, OnlyTheConnectLabelConnectsAndOnlyWithTheMouse) {
    splash->Text1->setText(QStringLiteral("127.0.0.1:8801"));
    QTest::keyClick(splash->Text1, Qt::Key_Return);
    // The plate around the label does not react.
    const QPoint plateCorner = splash->imgConnect->mapTo(splash, QPoint(4, 4));
    ASSERT_FALSE(splash->cmdConnect->geometry().contains(plateCorner));
    QTest::mouseClick(splash->childAt(plateCorner), Qt::LeftButton, {}, QPoint(4, 4));
    EXPECT_EQ(nextLoads, 0);
    EXPECT_FALSE(reg().isLoaded<FrmSvrInfo>());

    QTest::mouseClick(splash->cmdConnect, Qt::LeftButton, {}, QPoint(10, 10));
    EXPECT_EQ(nextLoads, 1);
    EXPECT_TRUE(reg().isVisible<FrmSvrInfo>());
    EXPECT_FALSE(reg().isVisible<FrmSplash>());
    EXPECT_TRUE(reg().isLoaded<FrmSplash>());  // hidden, its text still readable
}

TEST_F(SplashTest, BackupAndAboutOpenBesideItAndExitEnds) {
    QTest::mouseClick(splash->cmdBackup, Qt::LeftButton);
    QTest::mouseClick(splash->cmdAbout, Qt::LeftButton);
    QTest::mouseClick(splash->cmdAbout, Qt::LeftButton);  // only to the front
    EXPECT_EQ(nextLoads, 2);
    EXPECT_TRUE(reg().isVisible<FrmSplash>());
    EXPECT_TRUE(reg().isVisible<FrmBackup>());
    EXPECT_TRUE(reg().isVisible<FrmAbout>());
    QTest::mouseClick(splash->cmdExit, Qt::LeftButton);
    EXPECT_TRUE(reg().ended());
    EXPECT_FALSE(reg().isVisible<FrmSplash>());
}

// Before the start window, a commit that a killed run left behind is finished; one whose journal
// cannot be followed moves nothing, and the player hears of it instead of finding out later.
TEST(ProgramStartTest, AnUpdateThatCannotBeFinishedIsSetAsideAndTold) {
    struct Case {
        const char* name;
        QString staging;  // empty: nothing left behind
        QByteArray journal;
        const char* shownName;  // as the box shows the staging folder
    };
    const QString plain = QStringLiteral(".zandrel-stage-1");
    const QString reversing =
        QStringLiteral(".zandrel-stage-") + QChar(0x202E) + QStringLiteral("1.map");
    const Case cases[] = {
        {"nothing left behind", {}, {}, nullptr},
        {"a journal without its end line", plain, "zandrel-journal 1\nF 0 1 a.map\n",
         ".zandrel-stage-1"},
        {"not a journal of ours", plain, "something else\n", ".zandrel-stage-1"},
        {"a folder name that turns text around", reversing, "zandrel-journal 1\n",
         ".zandrel-stage-\\u202e1.map"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::FrameFixture f;
        f.writeFile(QStringLiteral("maps/a.map"), "player's map");
        if (!c.staging.isEmpty()) {
            ASSERT_TRUE(QDir().mkpath(f.path(QStringLiteral("maps/") + c.staging)));
            f.writeFile(QStringLiteral("maps/") + c.staging + QStringLiteral("/0"), "new map");
            f.writeFile(QStringLiteral("maps/") + c.staging + QStringLiteral("/journal"),
                        c.journal);
        }
        finishInterruptedUpdates(f.reg());

        EXPECT_EQ(f.readFile(QStringLiteral("maps/a.map")), "player's map");
        ASSERT_EQ(f.boxes.boxes.size(), c.shownName ? 1u : 0u);
        if (!c.shownName) continue;
        const test::Box& box = f.boxes.boxes[0];
        EXPECT_EQ(box.icon, MsgIcon::Critical);
        EXPECT_TRUE(box.prompt.startsWith(QStringLiteral("A map update that was cut off")));
        EXPECT_TRUE(box.prompt.contains(QString::fromUtf8(c.shownName)))
            << box.prompt.toStdString();
        const QStringList setAside =
            QDir(f.path(QStringLiteral("maps")))
                .entryList(QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot)
                .filter(QStringLiteral(".zandrel-recover-"));
        EXPECT_EQ(setAside.size(), 1);
    }
}

}  // namespace
}  // namespace zandrel::windows
