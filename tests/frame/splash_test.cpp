// The start window, driven with real mouse and key events.
#include "frame/form.h"
#include "frame/frame_fixture.h"
#include "windows/frm_splash.h"

#include <QTest>

#include <gtest/gtest.h>

namespace zandrel::windows {

using namespace frame;
namespace {

// Stands in for the next window: records that it was loaded.
class NextWindow : public Form {
public:
    static inline int loads = 0;
    NextWindow(Registry& r, const char* kind) : Form(r, kind, design(kind)) {}
    void load() override { ++loads; }
    static Design design(const char* kind) {
        Design d;
        d.title = QString::fromLatin1(kind);
        d.clientWidth = d.clientHeight = 1500;
        return d;
    }
};

class SplashTest : public ::testing::Test, public test::FrameFixture {
protected:
    SplashTest() {
        reg().define(QStringLiteral("frmSplash"),
                     [](Registry& r) { return std::make_unique<FrmSplash>(r); });
        for (const char* kind : {"frmSvrInfo", "frmBackup", "frmAbout"}) {
            reg().define(QString::fromLatin1(kind),
                         [kind](Registry& r) { return std::make_unique<NextWindow>(r, kind); });
        }
        NextWindow::loads = 0;
        reg().start(QStringLiteral("frmSplash"));
        splash = &reg().form<FrmSplash>();
    }
    FrmSplash* splash;
};

TEST_F(SplashTest, StartsAloneWithTheFocusOnThePrompt) {
    EXPECT_TRUE(reg().isVisible(QStringLiteral("frmSplash")));
    for (const char* kind : {"frmSvrInfo", "frmBackup", "frmAbout"}) {
        EXPECT_FALSE(reg().isLoaded(QString::fromLatin1(kind))) << kind;
    }
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
    EXPECT_EQ(NextWindow::loads, 0);
    EXPECT_FALSE(reg().isLoaded(QStringLiteral("frmSvrInfo")));

    QTest::mouseClick(splash->cmdConnect, Qt::LeftButton, {}, QPoint(10, 10));
    EXPECT_EQ(NextWindow::loads, 1);
    EXPECT_TRUE(reg().isVisible(QStringLiteral("frmSvrInfo")));
    EXPECT_FALSE(reg().isVisible(QStringLiteral("frmSplash")));
    EXPECT_TRUE(reg().isLoaded(QStringLiteral("frmSplash")));  // hidden, its text still readable
}

TEST_F(SplashTest, BackupAndAboutOpenBesideItAndExitEnds) {
    QTest::mouseClick(splash->cmdBackup, Qt::LeftButton);
    QTest::mouseClick(splash->cmdAbout, Qt::LeftButton);
    QTest::mouseClick(splash->cmdAbout, Qt::LeftButton);  // only to the front
    EXPECT_EQ(NextWindow::loads, 2);
    EXPECT_TRUE(reg().isVisible(QStringLiteral("frmSplash")));
    EXPECT_TRUE(reg().isVisible(QStringLiteral("frmBackup")));
    EXPECT_TRUE(reg().isVisible(QStringLiteral("frmAbout")));
    QTest::mouseClick(splash->cmdExit, Qt::LeftButton);
    EXPECT_TRUE(reg().ended());
    EXPECT_FALSE(reg().isVisible(QStringLiteral("frmSplash")));
}

}  // namespace
}  // namespace zandrel::windows
