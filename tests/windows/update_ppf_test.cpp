// The PPF update: the patch fetched from a loopback server to drive C:, the patch tool started
// on the target map, the bar's fixed run and the game started through frmFinish.
#include "frame/form.h"
#include "frame/frame_fixture.h"
#include "http/test_http_server.h"
#include "windows/frm_finish.h"
#include "windows/frm_ppf_apply.h"
#include "windows/frm_ppf_download.h"
#include "windows/frm_splash.h"

#include <QApplication>
#include <QEvent>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include "update_stand_ins.h"

namespace zandrel {
namespace {

using test::ShowJournal;
using test::SvrInfoStandIn;

// Drive C: in a Wine prefix of the test's own, which does not exist yet.
struct WinePrefix {
    QTemporaryDir dir;
    QByteArray saved = qgetenv("WINEPREFIX");
    bool wasSet = qEnvironmentVariableIsSet("WINEPREFIX");
    WinePrefix() { qputenv("WINEPREFIX", (dir.path() + QStringLiteral("/prefix")).toLocal8Bit()); }
    ~WinePrefix() {
        if (wasSet) {
            qputenv("WINEPREFIX", saved);
        } else {
            qunsetenv("WINEPREFIX");
        }
    }
    QString driveC() const { return dir.path() + QStringLiteral("/prefix/drive_c"); }
};

const QByteArray kPatch = "PPF30 patch bytes from the server";

// The program from the server window on: the start window holds the loopback server's address,
// the server window's title the game server address and txtMap the target map.
class PpfRun : public test::FrameFixture {
public:
    static inline const QString kGameServer = QStringLiteral("10.0.0.9:2302");

    explicit PpfRun(const QString& target, bool withPatchTool = true) {
        reg().define(QStringLiteral("frmSplash"),
                     [](Registry& r) { return std::make_unique<FrmSplash>(r); });
        reg().define(QStringLiteral("frmSvrInfo"),
                     [](Registry& r) { return std::make_unique<SvrInfoStandIn>(r); });
        reg().define(QStringLiteral("frmPPFDownload"),
                     [](Registry& r) { return std::make_unique<FrmPPFDownload>(r); });
        reg().define(QStringLiteral("frmPPFApply"),
                     [](Registry& r) { return std::make_unique<FrmPPFApply>(r); });
        reg().define(QStringLiteral("frmFinish"),
                     [](Registry& r) { return std::make_unique<FrmFinish>(r); });
        makeStandIn(QStringLiteral("halo.exe"));
        if (withPatchTool) makeStandIn(QStringLiteral("ppf.exe"));
        server.route(QStringLiteral("/zandrel.ppf"), test::HttpReply::ok(kPatch));

        reg().start(QStringLiteral("frmSplash"));
        reg().form<FrmSplash>().Text1->setText(server.address());
        reg().dispatch([this] {
            reg().show(QStringLiteral("frmSvrInfo"));
            reg().hide(QStringLiteral("frmSplash"));
        });
        auto& svr = static_cast<SvrInfoStandIn&>(reg().reference(QStringLiteral("frmSvrInfo")));
        svr.setWindowTitle(kGameServer);
        svr.txtMap->setText(target);
    }

    // "Download and Apply" on a PPF update.
    void downloadAndApply() {
        reg().dispatch([this] {
            reg().show(QStringLiteral("frmPPFDownload"));
            reg().hide(QStringLiteral("frmSvrInfo"));
        });
    }

    FrmPPFApply& apply() { return reg().form<FrmPPFApply>(); }
    bool visible(const char* kind) const { return registry->isVisible(QString::fromLatin1(kind)); }
    bool loaded(const char* kind) const { return registry->isLoaded(QString::fromLatin1(kind)); }
    bool started(const char* exe) const {
        return QFile::exists(path(QString::fromLatin1(exe) + QStringLiteral(".args")));
    }

    WinePrefix wine;
    test::TestHttpServer server;
    ShowJournal journal;
};

TEST(UpdatePpf, FetchesToDriveCStartsThePatchToolAndAfter54TicksTheLaunchWindow) {
    PpfRun run(QStringLiteral("Blood Gulch.map"));
    ASSERT_FALSE(QFile::exists(run.wine.driveC()));
    run.downloadAndApply();

    EXPECT_EQ(run.server.requestedPaths(), QStringList{"/zandrel.ppf"});
    QFile patch(run.wine.driveC() + QStringLiteral("/zandrel.ppf"));
    ASSERT_TRUE(patch.open(QIODevice::ReadOnly));
    EXPECT_EQ(patch.readAll(), kPatch);
    EXPECT_TRUE(run.boxes.boxes.empty());

    // The target with its space arrives as one argument; the patch is named the Windows way.
    EXPECT_EQ(run.standInArgs(QStringLiteral("ppf.exe")),
              (QStringList{"a", run.appFolder() + QStringLiteral("/maps/Blood Gulch.map"),
                           "c:\\zandrel.ppf", "--end--"}));

    // The download window hid itself while loading: it never came on screen.
    EXPECT_TRUE(run.loaded("frmPPFDownload"));
    EXPECT_FALSE(run.visible("frmPPFDownload"));
    EXPECT_EQ(run.reg().form<FrmPPFDownload>().windowTitle(), QString());
    EXPECT_EQ(run.journal.shown, (QStringList{"frmSplash", "frmSvrInfo", "frmPPFApply"}));
    EXPECT_FALSE(run.visible("frmSvrInfo"));

    // 53 ticks: 45 + 53 * 20 = 1105, not yet past 1120.
    run.clock.advance(53 * 50);
    EXPECT_EQ(run.apply().shpProg->widthTwips(), 1105.0f);
    EXPECT_TRUE(run.visible("frmPPFApply"));
    EXPECT_FALSE(run.loaded("frmFinish"));
    // The 54th: 1125, the background's width.
    run.clock.advance(50);
    EXPECT_EQ(run.apply().shpProg->widthTwips(), 1125.0f);
    EXPECT_EQ(run.apply().shpProg->width(), run.apply().shpProgBack->width());
    EXPECT_TRUE(run.visible("frmFinish"));
    EXPECT_FALSE(run.visible("frmPPFApply"));
    EXPECT_FALSE(run.apply().tmrCheck->enabled());

    run.clock.advance(1499);
    EXPECT_FALSE(run.reg().ended());
    EXPECT_EQ(run.apply().shpProg->widthTwips(), 1125.0f);  // the bar stopped
    run.clock.advance(1);
    EXPECT_TRUE(run.reg().ended());
    EXPECT_EQ(run.standInArgs(QStringLiteral("halo.exe")),
              (QStringList{"-connect", PpfRun::kGameServer, "--end--"}));
    EXPECT_EQ(run.journal.shown,
              (QStringList{"frmSplash", "frmSvrInfo", "frmPPFApply", "frmFinish"}));
    QThread::msleep(150);
    EXPECT_EQ(run.standInArgs(QStringLiteral("ppf.exe")).count(QStringLiteral("--end--")), 1);
    EXPECT_EQ(run.standInArgs(QStringLiteral("halo.exe")).count(QStringLiteral("--end--")), 1);
    EXPECT_TRUE(run.boxes.boxes.empty());
}

TEST(UpdatePpf, ATargetThatIsNotAPlainFileNameIsNeverPatched) {
    struct Case {
        const char* name;
        QString target;
        bool withPatchTool;
    };
    const Case cases[] = {
        {"empty: the map folder itself", "", true},
        {"dot", ".", true},
        {"dot dot: the application folder", "..", true},
        {"dots and blanks, which Windows trims to dot dot", ".. ", true},
        {"three dots", "...", true},
        {"up and out", "../halo.exe", true},
        {"up and out, Windows separator", "..\\halo.exe", true},
        {"subfolder", "sub/bloodgulch.map", true},
        {"absolute", "/etc/passwd", true},
        {"drive", "c:\\windows\\system.ini", true},
        {"drive-relative", "c:boot.ini", true},
        {"quote ends the argument", "x.map\" \"c:\\boot.ini", true},
        {"control character", QStringLiteral("blood\tgulch.map"), true},
        {"plain name, but no patch tool", "bloodgulch.map", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PpfRun run(c.target, c.withPatchTool);
        run.downloadAndApply();
        ASSERT_EQ(run.boxes.boxes.size(), 1u);
        EXPECT_EQ(run.boxes.boxes[0].icon, MsgIcon::Critical);
        EXPECT_EQ(run.boxes.boxes[0].title, QStringLiteral("Zandrel"));
        EXPECT_TRUE(run.reg().ended());
        EXPECT_FALSE(run.visible("frmPPFApply"));
        run.clock.advance(10000);
        EXPECT_FALSE(run.loaded("frmFinish"));
        QThread::msleep(150);
        EXPECT_FALSE(run.started("ppf.exe"));
        EXPECT_FALSE(run.started("halo.exe"));
    }
}

}  // namespace
}  // namespace zandrel
