// The game launch window, and the look the five update windows share.
#include "frame/form.h"
#include "frame/frame_fixture.h"
#include "windows/frm_finish.h"
#include "windows/frm_ppf_apply.h"
#include "windows/frm_ppf_download.h"
#include "windows/frm_rar_download.h"
#include "windows/frm_rar_unpack.h"

#include <QFile>
#include <QThread>

#include <gtest/gtest.h>

#include "update_stand_ins.h"

namespace zandrel::windows {

using namespace frame;
namespace {

using test::SvrInfoStandIn;

// frmFinish over a visible server window whose title is the game server address.
struct FinishRun : test::FrameFixture {
    explicit FinishRun(const QString& address, bool withGame = true) {
        reg().define<FrmSvrInfo>([](Registry& r) { return std::make_unique<SvrInfoStandIn>(r); });
        reg().define<FrmFinish>();
        reg().start<FrmSvrInfo>();
        reg().form<FrmSvrInfo>().setWindowTitle(address);
        if (withGame) makeStandIn(QStringLiteral("halo.exe"));
    }
    void showFinish() {
        reg().dispatch([this] { reg().show<FrmFinish>(); });
    }
    bool gameStarted() const { return QFile::exists(path(QStringLiteral("halo.exe.args"))); }
    // The game's arguments; waits for the one launch and then a little longer, so that a
    // second launch would be seen too.
    QStringList gameArgs() const {
        standInArgs(QStringLiteral("halo.exe"));
        QThread::msleep(150);
        return standInArgs(QStringLiteral("halo.exe"));
    }
};

TEST(UpdateFinish, StartsTheGameOnce1500msAfterItsLoadWithTheTitleUnaltered) {
    struct Case {
        const char* name;
        QString title;
        QStringList args;  // as the game receives them
    };
    const Case cases[] = {
        {"address and port", "10.0.0.7:2302", {"-connect", "10.0.0.7:2302", "--end--"}},
        {"spaces",
         "Blood Gulch 10.0.0.7:2302",
         {"-connect", "Blood", "Gulch", "10.0.0.7:2302", "--end--"}},
        {"empty title", "", {"-connect", "--end--"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FinishRun run(c.title);
        run.showFinish();
        EXPECT_TRUE(run.reg().isVisible<FrmFinish>());
        run.clock.advance(1499);
        EXPECT_FALSE(run.reg().ended());
        EXPECT_FALSE(run.gameStarted());
        run.clock.advance(1);
        EXPECT_TRUE(run.reg().ended());
        EXPECT_EQ(run.gameArgs(), c.args);
        EXPECT_TRUE(run.boxes.boxes.empty());
    }
}

TEST(UpdateFinish, ASecondShowOnlyBringsItToTheFront) {
    FinishRun run(QStringLiteral("10.0.0.7:2302"));
    run.showFinish();
    run.clock.advance(1000);
    run.showFinish();  // as each later progress event above 90 percent does
    run.clock.advance(499);
    EXPECT_FALSE(run.reg().ended());
    run.clock.advance(1);  // still the first load's 1500 ms
    EXPECT_TRUE(run.reg().ended());
    EXPECT_EQ(run.gameArgs(), (QStringList{"-connect", "10.0.0.7:2302", "--end--"}));
}

TEST(UpdateFinish, ClosedBeforeItsTickItStartsNothing) {
    FinishRun run(QStringLiteral("10.0.0.7:2302"));
    run.showFinish();
    run.clock.advance(1000);
    run.reg().form<FrmFinish>().close();
    run.clock.advance(5000);
    EXPECT_FALSE(run.reg().isLoaded<FrmFinish>());
    EXPECT_FALSE(run.reg().ended());
    EXPECT_TRUE(run.reg().isVisible<FrmSvrInfo>());
    QThread::msleep(150);
    EXPECT_FALSE(run.gameStarted());
}

TEST(UpdateFinish, ATickDueWhileAHandlerRunsComesAfterIt) {
    FinishRun run(QStringLiteral("10.0.0.7:2302"));
    bool endedInside = true;
    run.reg().dispatch([&] {
        run.reg().show<FrmFinish>();
        run.clock.advance(4000);  // a long extraction holds the GUI thread
        endedInside = run.reg().ended();
    });
    EXPECT_FALSE(endedInside);
    EXPECT_TRUE(run.reg().ended());
    EXPECT_EQ(run.gameArgs(), (QStringList{"-connect", "10.0.0.7:2302", "--end--"}));
}

TEST(UpdateFinish, AGameThatCannotBeStartedIsReportedAndEndsTheProgram) {
    FinishRun run(QStringLiteral("10.0.0.7:2302"), /*withGame=*/false);
    run.showFinish();
    run.clock.advance(1500);
    ASSERT_EQ(run.boxes.boxes.size(), 1u);
    EXPECT_EQ(run.boxes.boxes[0].icon, MsgIcon::Critical);
    EXPECT_EQ(run.boxes.boxes[0].title, QStringLiteral("Zandrel"));
    EXPECT_TRUE(run.boxes.boxes[0].prompt.contains(QStringLiteral("halo.exe")));
    EXPECT_TRUE(run.reg().ended());
}

// The names of a window's controls from the backmost to the frontmost.
QStringList backToFront(const QWidget& w) {
    QStringList names;
    for (QObject* o : w.children()) {
        if (o->isWidgetType()) names << o->objectName();
    }
    return names;
}

TEST(UpdateLook, FiveWindowsShareTheFrameLogoAndStatusLabel) {
    test::FrameFixture f;
    struct Case {
        const char* kind;
        std::function<std::unique_ptr<ProgressWindow>(Registry&)> make;
        QSize client;  // pixels
        FirstPosition position;
        QPoint logo;  // pixels
        QString status;
        int statusTop;  // pixels
        QStringList backToFront;
    };
    const Case cases[] = {
        {"frmRarDownload",
         [](Registry& r) { return std::make_unique<FrmRarDownload>(r); },
         {316, 154},
         FirstPosition::CentreScreen,
         {0, 0},
         "Downloading archive...",
         128,
         {"frmRarDownload", "lblTransfer", "shpTransfer", "lblPleaseWait", "cmdCancel"}},
        {"frmRarUnpack",
         [](Registry& r) { return std::make_unique<FrmRarUnpack>(r); },
         {315, 152},
         FirstPosition::CentreScreen,
         {-2, -2},
         "Unpacking...",
         104,
         {"frmRarDownload", "shpProgressBack", "lbltime", "lblPleaseWait", "shpBar"}},
        {"frmPPFDownload",
         [](Registry& r) { return std::make_unique<FrmPPFDownload>(r); },
         {312, 153},
         FirstPosition::SystemDefault,
         {0, 0},
         "Downloading PPF...",
         128,
         {"frmRarDownload", "lblTransfer", "shpTransfer", "lblPleaseWait", "cmdCancel"}},
        {"frmPPFApply",
         [](Registry& r) { return std::make_unique<FrmPPFApply>(r); },
         {314, 155},
         FirstPosition::SystemDefault,
         {0, 0},
         "Applying PPF...",
         128,
         {"frmRarDownload", "lblPleaseWait", "cmdCancel", "shpProgBack", "shpProg", "Label1"}},
        {"frmFinish",
         [](Registry& r) { return std::make_unique<FrmFinish>(r); },
         {312, 154},
         FirstPosition::CentreScreen,
         {2, 0},
         "Launching Halo...",
         128,
         {"frmRarDownload", "lblPleaseWait"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.kind);
        auto w = c.make(f.reg());
        w->finishDesign();
        EXPECT_EQ(w->objectName(), QString::fromLatin1(c.kind));
        EXPECT_EQ(w->windowTitle(), QStringLiteral("Form1"));
        EXPECT_EQ(w->size(), c.client);
        EXPECT_EQ(w->minimumSize(), w->maximumSize());  // not resizable
        EXPECT_EQ(w->design().border, Border::FixedDialog);
        EXPECT_FALSE(w->design().inTaskBar);
        EXPECT_FALSE(w->design().background.has_value());  // the system face colour
        EXPECT_EQ(w->design().position, c.position);

        ASSERT_NE(w->frmRarDownload, nullptr);
        EXPECT_EQ(w->frmRarDownload->geometry(), QRect(c.logo, QSize(316, 157)));
        EXPECT_EQ(w->frmRarDownload->pixmap().size(), QSize(316, 157));
        EXPECT_FALSE(w->frmRarDownload->hasScaledContents());

        ASSERT_NE(w->lblPleaseWait, nullptr);
        EXPECT_EQ(w->lblPleaseWait->text(), c.status);
        EXPECT_EQ(w->lblPleaseWait->geometry(), QRect(4, c.statusTop, 309, 27));
        EXPECT_TRUE(w->lblPleaseWait->alignment() & Qt::AlignRight);
        EXPECT_TRUE(w->lblPleaseWait->font().bold());
        EXPECT_EQ(w->lblPleaseWait->font().pixelSize(), 18);
        EXPECT_EQ(w->lblPleaseWait->palette().color(QPalette::WindowText), QColor(Qt::white));
        EXPECT_FALSE(w->lblPleaseWait->autoFillBackground());  // the logo shows through

        EXPECT_EQ(backToFront(*w), c.backToFront);
    }
}

TEST(UpdateLook, TheDownloadWindowsProgressFillsTheStripBetweenFlagAndLabel) {
    test::FrameFixture f;
    const std::unique_ptr<DownloadWindow> windows[] = {std::make_unique<FrmRarDownload>(f.reg()),
                                                       std::make_unique<FrmPPFDownload>(f.reg())};
    for (const auto& w : windows) {
        SCOPED_TRACE(w->objectName().toStdString());
        ASSERT_NE(w->shpTransfer, nullptr);
        ASSERT_NE(w->lblTransfer, nullptr);
        // Inside the window, clear of the status label, and the bar as wide as the unpack bar.
        EXPECT_EQ(w->shpTransfer->geometry(), QRect(96, 100, 215, 13));
        EXPECT_EQ(w->lblTransfer->geometry(), QRect(96, 114, 215, 13));
        EXPECT_TRUE(w->rect().contains(w->shpTransfer->geometry()));
        EXPECT_FALSE(w->lblTransfer->geometry().intersects(w->lblPleaseWait->geometry()));
        EXPECT_EQ(w->lblTransfer->text(), QString());
        EXPECT_EQ(w->shpTransfer->fraction(), 0.0);
        // Designed texts as they were.
        EXPECT_EQ(w->windowTitle(), QStringLiteral("Form1"));
    }
}

}  // namespace
}  // namespace zandrel::windows
