// The About window: its widths, the mail hand-off, the community site in the web view, and
// "OK" with the mouse and the keyboard.
#include "frame/form.h"
#include "frame/frame_fixture.h"
#include "windows/frm_about.h"
#include "windows/frm_splash.h"

#include <QTest>

#include <gtest/gtest.h>

#include <ostream>

namespace zandrel::windows {

using namespace frame;
namespace {

const QString kEmail = FrmAbout::maintainerEmail();
const QUrl kSite(FrmAbout::communityUrl());

// Starts the program's start window; the About window opens from its "About Zandrel" button.
void startSplash(test::FrameFixture& f) {
    f.reg().define<FrmSplash>();
    f.reg().define<FrmAbout>();
    f.reg().start<FrmSplash>();
}

FrmAbout& openAbout(test::FrameFixture& f) {
    QTest::mouseClick(f.reg().form<FrmSplash>().cmdAbout, Qt::LeftButton);
    return f.reg().form<FrmAbout>();
}

class AboutTest : public ::testing::Test, public test::FrameFixture {
protected:
    AboutTest() { startSplash(*this); }
    FrmAbout& open() { return openAbout(*this); }
    static void clickBanner(FrmAbout& w) {
        QTest::mouseClick(w.Image1, Qt::LeftButton, {}, QPoint(20, 20));
    }
    // Where the web view sits, in the window's client area, and whether any of it shows.
    static bool browserShows(const FrmAbout& w) {
        return w.rect().intersects(w.browser->geometry());
    }
};

TEST_F(AboutTest, OpensNarrowWithTheWebViewOutOfSightAndTheFocusOnOk) {
    FrmAbout& w = open();
    EXPECT_TRUE(reg().isVisible<FrmAbout>());
    EXPECT_EQ(w.windowTitle(), QStringLiteral("About Zandrel"));
    EXPECT_EQ(w.size(), QSize(224, 269));
    EXPECT_EQ(w.outerWidthTwips(), FrmAbout::kNarrowTwips);
    EXPECT_EQ(w.browser->geometry(), QRect(224, 0, 443, 269));
    EXPECT_FALSE(browserShows(w));
    EXPECT_TRUE(w.browser->requestedUrl().isEmpty());
    EXPECT_EQ(w.focusWidget(), w.Command2);
    ASSERT_TRUE(kEmail.contains(QLatin1Char('@')));
    EXPECT_EQ(w.Command1->text(), kEmail);
    EXPECT_EQ(w.Command2->text(), QStringLiteral("OK"));
    EXPECT_EQ(w.Label1->text(), QStringLiteral("Zandrel"));
    EXPECT_EQ(w.Label2->text(), FrmAbout::creditLine());
    EXPECT_EQ(w.Label3->text(), QStringLiteral("Version 1.1 BETA2"));
    EXPECT_TRUE(w.Label6->text().contains(FrmAbout::communityName()));
    // The banner is stretched to its control: 224 x 42 pixels.
    EXPECT_EQ(w.Image1->size(), QSize(224, 42));
    EXPECT_TRUE(w.Image1->hasScaledContents());

    // Tab order: OK, the web view, the e-mail button.
    EXPECT_EQ(w.Command2->nextInFocusChain(), w.browser);
}

TEST_F(AboutTest, TheButtonsSetTheWidthKeepingTheLeftEdgeAndHeight) {
    enum Action { Mail, Banner };
    struct Case {
        const char* name;
        std::vector<Action> actions;
        int width;
        int mails;
        bool siteRequested;
    };
    const Case cases[] = {
        {"e-mail at the designed width", {Mail}, FrmAbout::kNarrowTwips, 1, false},
        {"banner", {Banner}, FrmAbout::kWideTwips, 0, true},
        {"banner twice", {Banner, Banner}, FrmAbout::kWideTwips, 0, true},
        {"e-mail after the banner", {Banner, Mail}, FrmAbout::kNarrowTwips, 1, true},
        {"banner after e-mail after banner", {Banner, Mail, Banner}, FrmAbout::kWideTwips, 1, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::FrameFixture f;
        startSplash(f);
        FrmAbout& w = openAbout(f);
        const QPoint topLeft = w.pos();
        const int height = w.height();

        for (Action a : c.actions) {
            if (a == Mail) {
                QTest::mouseClick(w.Command1, Qt::LeftButton);
            } else {
                clickBanner(w);
            }
            EXPECT_EQ(w.pos(), topLeft);
            EXPECT_EQ(w.height(), height);
        }

        EXPECT_EQ(w.outerWidthTwips(), c.width);
        EXPECT_EQ(browserShows(w), c.width == FrmAbout::kWideTwips);
        if (c.width == FrmAbout::kWideTwips) {
            // The whole web view shows, to the right of the designed area.
            EXPECT_EQ(w.browser->geometry().right(), w.rect().right());
        }
        EXPECT_EQ(f.mail.links.size(), static_cast<size_t>(c.mails));
        for (const QUrl& link : f.mail.links) {
            EXPECT_EQ(link, QUrl(QStringLiteral("mailto:") + kEmail));
        }
        // The page stays in the web view while the window is narrow.
        EXPECT_EQ(w.browser->requestedUrl(), c.siteRequested ? kSite : QUrl());
        EXPECT_TRUE(f.boxes.boxes.empty());
        EXPECT_FALSE(f.reg().ended());
    }
}

TEST_F(AboutTest, OkUnloadsAndTheNextShowIsNarrowAndEmpty) {
    FrmAbout& first = open();
    clickBanner(first);
    ASSERT_EQ(first.outerWidthTwips(), FrmAbout::kWideTwips);
    QTest::mouseClick(first.Command2, Qt::LeftButton);
    EXPECT_FALSE(reg().isLoaded<FrmAbout>());
    EXPECT_FALSE(reg().ended());
    EXPECT_TRUE(reg().isVisible<FrmSplash>());

    FrmAbout& again = open();
    EXPECT_TRUE(again.isVisible());
    EXPECT_EQ(again.outerWidthTwips(), FrmAbout::kNarrowTwips);
    EXPECT_TRUE(again.browser->requestedUrl().isEmpty());
    EXPECT_EQ(again.focusWidget(), again.Command2);
}

TEST_F(AboutTest, ShowingItWhileOpenKeepsItsWidthAndPage) {
    FrmAbout& w = open();
    clickBanner(w);
    open();
    EXPECT_EQ(&reg().form<FrmAbout>(), &w);
    EXPECT_EQ(w.outerWidthTwips(), FrmAbout::kWideTwips);
    EXPECT_EQ(w.browser->requestedUrl(), kSite);
}

struct KeyCase {
    const char* name;
    bool focusMail;  // else the focus stays on "OK"
    Qt::Key key;
    bool unloaded;
    size_t mails;
};
void PrintTo(const KeyCase& c, std::ostream* os) {
    *os << c.name;
}

class AboutKeyTest : public AboutTest, public ::testing::WithParamInterface<KeyCase> {};

TEST_P(AboutKeyTest, KeyboardPressesTheFocusedButtonAndEscPressesOk) {
    const KeyCase& c = GetParam();
    FrmAbout& w = open();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));  // Esc belongs to the active window
    QWidget* target = c.focusMail ? static_cast<QWidget*>(w.Command1) : w.Command2;
    target->setFocus();
    ASSERT_EQ(w.focusWidget(), target);

    QTest::keyClick(target, c.key);

    EXPECT_EQ(!reg().isLoaded<FrmAbout>(), c.unloaded);
    EXPECT_EQ(mail.links.size(), c.mails);
}

INSTANTIATE_TEST_SUITE_P(
    Keys, AboutKeyTest,
    ::testing::Values(KeyCase{"EnterOnOk", false, Qt::Key_Return, true, 0},
                      KeyCase{"SpaceOnOk", false, Qt::Key_Space, true, 0},
                      KeyCase{"EscOnOk", false, Qt::Key_Escape, true, 0},
                      KeyCase{"EscOnTheEmailButton", true, Qt::Key_Escape, true, 0},
                      KeyCase{"EnterOnTheEmailButton", true, Qt::Key_Return, false, 1}),
    [](const ::testing::TestParamInfo<KeyCase>& info) { return std::string(info.param.name); });

// Open About, close the start window with its close box, press "OK": nothing is left on
// screen, so the program ends.
TEST_F(AboutTest, OkOnTheLastWindowEndsTheProgram) {
    FrmAbout& w = open();
    reg().form<FrmSplash>().close();
    EXPECT_FALSE(reg().isLoaded<FrmSplash>());
    ASSERT_FALSE(reg().ended());  // About is still on screen
    QTest::mouseClick(w.Command2, Qt::LeftButton);
    EXPECT_FALSE(reg().isLoaded<FrmAbout>());
    EXPECT_TRUE(reg().ended());
}

TEST_F(AboutTest, TheCloseBoxUnloadsLikeOk) {
    FrmAbout& w = open();
    clickBanner(w);
    w.close();
    EXPECT_FALSE(reg().isLoaded<FrmAbout>());
    FrmAbout& again = open();
    EXPECT_EQ(again.outerWidthTwips(), FrmAbout::kNarrowTwips);
    EXPECT_TRUE(again.browser->requestedUrl().isEmpty());
}

}  // namespace
}  // namespace zandrel::windows
