// The RAR update: the archive fetched from a loopback server, unpacked into the map folder by
// the real unpacker, the bar, and the game started through frmFinish.
#include "frame/form.h"
#include "frame/frame_fixture.h"
#include "http/test_http_server.h"
#include "rar/rarwriter.h"
#include "windows/frm_finish.h"
#include "windows/frm_rar_download.h"
#include "windows/frm_rar_unpack.h"
#include "windows/frm_splash.h"

#include <QApplication>
#include <QDirIterator>
#include <QEvent>
#include <QFile>
#include <QThread>

#include <gtest/gtest.h>

#include "update_stand_ins.h"

#include <map>
#include <optional>

namespace zandrel {
namespace {

using test::ShowJournal;
using test::SvrInfoStandIn;

using rar::Entry;
using rar::Format;

QByteArray bytes(const std::string& s) {
    return QByteArray(s.data(), qsizetype(s.size()));
}

// Every file and folder under a folder, with the contents of the files.
std::map<QString, QByteArray> snapshot(const QString& folder) {
    std::map<QString, QByteArray> out;
    QDirIterator it(folder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString p = it.next();
        QFile f(p);
        out[p.mid(folder.size())] = it.fileInfo().isDir()         ? QByteArray("<dir>")
                                    : f.open(QIODevice::ReadOnly) ? f.readAll()
                                                                  : QByteArray("<unreadable>");
    }
    return out;
}

// The program from the server window on: the start window holds the loopback server's address,
// the server window's title the game server address.
class RarRun : public test::FrameFixture {
public:
    static inline const QString kGameServer = QStringLiteral("10.1.2.3:2302");

    RarRun() {
        reg().define(QStringLiteral("frmSplash"),
                     [](Registry& r) { return std::make_unique<FrmSplash>(r); });
        reg().define(QStringLiteral("frmSvrInfo"),
                     [](Registry& r) { return std::make_unique<SvrInfoStandIn>(r); });
        reg().define(QStringLiteral("frmRarDownload"),
                     [](Registry& r) { return std::make_unique<FrmRarDownload>(r); });
        reg().define(QStringLiteral("frmRarUnpack"),
                     [](Registry& r) { return std::make_unique<FrmRarUnpack>(r); });
        reg().define(QStringLiteral("frmFinish"),
                     [](Registry& r) { return std::make_unique<FrmFinish>(r); });
        makeStandIn(QStringLiteral("halo.exe"));
        writeFile(QStringLiteral("maps/bloodgulch.map"), "old bloodgulch");
        writeFile(QStringLiteral("maps/keep.map"), "keep me");

        reg().start(QStringLiteral("frmSplash"));
        reg().form<FrmSplash>().Text1->setText(server.address());
        reg().dispatch([this] {
            reg().show(QStringLiteral("frmSvrInfo"));
            reg().hide(QStringLiteral("frmSplash"));
        });
        reg().reference(QStringLiteral("frmSvrInfo")).setWindowTitle(kGameServer);
    }

    // "Download and Apply" on a RAR update.
    void downloadAndApply() {
        reg().dispatch([this] {
            reg().show(QStringLiteral("frmRarDownload"));
            reg().hide(QStringLiteral("frmSvrInfo"));
        });
    }

    FrmRarUnpack& unpack() { return reg().form<FrmRarUnpack>(); }
    bool visible(const char* kind) const { return registry->isVisible(QString::fromLatin1(kind)); }
    bool loaded(const char* kind) const { return registry->isLoaded(QString::fromLatin1(kind)); }
    bool gameStarted() const { return QFile::exists(path(QStringLiteral("halo.exe.args"))); }
    // Everything in the application folder but the fetched archive.
    std::map<QString, QByteArray> appFiles() const {
        auto files = snapshot(appFolder());
        files.erase(QStringLiteral("/zandrel.rar"));
        return files;
    }

    test::TestHttpServer server;
    ShowJournal journal;
};

TEST(UpdateRar, FetchesUnpacksIntoTheMapFolderAndStartsTheGameOnce) {
    RarRun run;
    const std::string archive = rar::writeStored(
        Format::Rar5, {{"bloodgulch.map", "new bloodgulch"}, {"beavercreek.map", "new creek"}});
    run.server.route(QStringLiteral("/zandrel.rar"), test::HttpReply::ok(bytes(archive)));

    run.downloadAndApply();
    EXPECT_EQ(run.server.requestedPaths(), QStringList{"/zandrel.rar"});
    EXPECT_EQ(run.readFile(QStringLiteral("zandrel.rar")), bytes(archive));
    // The unpack window comes up first, the download window in front of it.
    EXPECT_EQ(run.journal.shown,
              (QStringList{"frmSplash", "frmSvrInfo", "frmRarUnpack", "frmRarDownload"}));
    EXPECT_EQ(run.reg().form<FrmRarDownload>().windowTitle(),
              QStringLiteral("Downloading, please wait..."));
    EXPECT_FALSE(run.visible("frmSvrInfo"));
    EXPECT_TRUE(run.boxes.boxes.empty());

    // The first tick only changes the caption.
    EXPECT_EQ(run.unpack().lbltime->text(), QStringLiteral("please wait..."));
    run.clock.advance(1023);
    EXPECT_EQ(run.unpack().lbltime->text(), QStringLiteral("please wait..."));
    run.clock.advance(1);
    EXPECT_EQ(run.unpack().lbltime->text(), QStringLiteral("Unpacking..."));
    EXPECT_EQ(run.readFile(QStringLiteral("maps/bloodgulch.map")), QByteArray("old bloodgulch"));
    EXPECT_FALSE(run.loaded("frmFinish"));

    // The second one unpacks: all of it is in place when the launch window comes up.
    run.clock.advance(1024);
    EXPECT_EQ(run.readFile(QStringLiteral("maps/bloodgulch.map")), QByteArray("new bloodgulch"));
    EXPECT_EQ(run.readFile(QStringLiteral("maps/beavercreek.map")), QByteArray("new creek"));
    EXPECT_EQ(run.readFile(QStringLiteral("maps/keep.map")), QByteArray("keep me"));
    EXPECT_EQ(run.unpack().shpBar->widthTwips(), 3225.0f);
    EXPECT_TRUE(run.visible("frmFinish"));
    EXPECT_FALSE(run.visible("frmRarUnpack"));
    EXPECT_TRUE(run.visible("frmRarDownload"));  // never hidden
    EXPECT_EQ(run.journal.shown.count(QStringLiteral("frmFinish")), 1);

    // Later ticks do not unpack the archive again over what the player has since.
    run.writeFile(QStringLiteral("maps/beavercreek.map"), "edited by the player");
    run.clock.advance(1024);
    EXPECT_EQ(run.readFile(QStringLiteral("maps/beavercreek.map")),
              QByteArray("edited by the player"));
    EXPECT_FALSE(run.reg().ended());
    EXPECT_FALSE(run.gameStarted());

    // frmFinish was loaded at 2048 ms.
    run.clock.advance(2048 + 1499 - run.clock.now());
    EXPECT_FALSE(run.reg().ended());
    EXPECT_TRUE(run.visible("frmRarDownload"));
    run.clock.advance(1);
    EXPECT_TRUE(run.reg().ended());
    EXPECT_EQ(run.standInArgs(QStringLiteral("halo.exe")),
              (QStringList{"-connect", RarRun::kGameServer, "--end--"}));
    QThread::msleep(150);
    EXPECT_EQ(run.standInArgs(QStringLiteral("halo.exe")).count(QStringLiteral("--end--")), 1);
    EXPECT_TRUE(run.boxes.boxes.empty());
}

TEST(UpdateRar, TheBarFollowsTheProgressAndAbove90TheLaunchWindowComes) {
    RarRun run;
    run.reg().dispatch([&] { run.reg().show(QStringLiteral("frmRarUnpack")); });
    struct Case {
        std::int16_t percent;
        float width;  // twips
        int pixels;
        bool launchWindow;
    };
    const Case cases[] = {
        {0, 0.0f, 0, false},       {50, 1612.5f, 108, false}, {90, 2902.5f, 194, false},
        {91, 2934.75f, 196, true}, {100, 3225.0f, 215, true}, {120, 3870.0f, 258, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.percent);
        // Raised as the component raises it: nested in a running handler.
        run.reg().dispatch([&] { run.unpack().UnRar.ExtractProgress(c.percent); });
        EXPECT_EQ(run.unpack().shpBar->widthTwips(), c.width);
        EXPECT_EQ(run.unpack().shpBar->width(), c.pixels);
        EXPECT_EQ(run.visible("frmFinish"), c.launchWindow);
        EXPECT_EQ(run.visible("frmRarUnpack"), !c.launchWindow);
    }
    // 100 percent is exactly the background; 120 reaches past it.
    EXPECT_EQ(run.unpack().shpProgressBack->width(), 215);
    EXPECT_EQ(run.journal.shown.count(QStringLiteral("frmFinish")), 1);
    EXPECT_FALSE(run.reg().ended());
}

TEST(UpdateRar, AHostileOrBrokenArchiveIsReportedAndNothingIsStarted) {
    const std::string good = rar::writeStored(
        Format::Rar4, {{"bloodgulch.map", "new bloodgulch"}, {"beavercreek.map", "new creek"}});
    const QString fetchFailed = QStringLiteral(
        "An error has occured in the file transfer or write.  Please try again later.");
    struct Case {
        const char* name;
        std::optional<std::string> archive;  // none: the server has no archive
        QStringList promptsBeforeReport;
    };
    const Case cases[] = {
        {"escaping entry",
         rar::writeStored(Format::Rar5,
                          {{"bloodgulch.map", "new bloodgulch"}, {"../escaped.map", "escaped"}}),
         {}},
        {"escaping entry, Windows separators",
         rar::writeStored(Format::Rar4,
                          {{"bloodgulch.map", "new bloodgulch"}, {"..\\escaped.map", "escaped"}}),
         {}},
        {"truncated archive", good.substr(0, good.size() - 20), {}},
        {"missing archive", std::nullopt, {fetchFailed}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RarRun run;
        if (c.archive) {
            run.server.route(QStringLiteral("/zandrel.rar"),
                             test::HttpReply::ok(bytes(*c.archive)));
        }
        run.downloadAndApply();
        const auto before = run.appFiles();
        run.clock.advance(2048);

        EXPECT_EQ(run.appFiles(), before);
        EXPECT_FALSE(QFile::exists(run.path(QStringLiteral("../escaped.map"))));
        ASSERT_EQ(run.boxes.boxes.size(), std::size_t(c.promptsBeforeReport.size() + 1));
        for (qsizetype i = 0; i < c.promptsBeforeReport.size(); ++i) {
            EXPECT_EQ(run.boxes.boxes[i].prompt, c.promptsBeforeReport[i]);
        }
        const test::Box& report = run.boxes.boxes.back();
        EXPECT_EQ(report.icon, MsgIcon::Critical);
        EXPECT_EQ(report.title, QStringLiteral("Zandrel"));
        EXPECT_TRUE(report.prompt.startsWith(QStringLiteral("Error ")))
            << report.prompt.toStdString();
        EXPECT_TRUE(run.reg().ended());
        EXPECT_FALSE(run.loaded("frmFinish"));
        run.clock.advance(5000);
        QThread::msleep(150);
        EXPECT_FALSE(run.gameStarted());
    }
}

}  // namespace
}  // namespace zandrel
