// The server information window on the real start window, the loopback server, a real web view
// and stand-in windows for the ones it leads on to.
#include "base/error.h"
#include "frame/form.h"
#include "frame/frame_fixture.h"
#include "http/test_http_server.h"
#include "windows/frm_backup.h"
#include "windows/frm_ppf_download.h"
#include "windows/frm_rar_download.h"
#include "windows/frm_splash.h"
#include "windows/frm_svr_info.h"
#include "windows/web_view.h"

#include <QGuiApplication>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include <gtest/gtest.h>

#include <ostream>

#include <functional>
#include <memory>

namespace zandrel::windows {

using namespace frame;
namespace {

const QString kFetchFailed =
    QStringLiteral("An error has occured in the file transfer or write.  Please try again later.");
const QString kMissingValue =
    QStringLiteral("Error Number: -2147219990\r\nError Description: Initialization File Error!");
const QString kReaderTitle = QStringLiteral("Initialization File Error");

struct Settings {
    QString html;
    QString haloIP = QStringLiteral("10.0.0.7:2302");
    QString target = QStringLiteral("bloodgulch.map");
    QString ppf = QStringLiteral("1");
    QString adminEmail = QStringLiteral("admin@example.org");
};

// A null value leaves its key out of the file.
QByteArray iniFile(const Settings& s) {
    QByteArray out = "; server settings\r\n[Other]\r\nhtml=http://wrong.example.org/\r\n[Main]\r\n";
    const std::pair<const char*, const QString*> keys[] = {{"html", &s.html},
                                                           {"HaloIP", &s.haloIP},
                                                           {"Target", &s.target},
                                                           {"ppf", &s.ppf},
                                                           {"AdminEmail", &s.adminEmail}};
    for (const auto& [key, value] : keys) {
        if (!value->isNull()) out += QByteArray(key) + '=' + value->toUtf8() + "\r\n";
    }
    return out;
}

test::HttpReply htmlReply(const QByteArray& html) {
    test::HttpReply r = test::HttpReply::ok(html);
    r.contentType = "text/html";
    return r;
}

// Stands in for the windows this one leads on to; notes whether frmSvrInfo was still on
// screen while it loaded.
template <class F>
class StandIn : public F {
public:
    StandIn(Registry& r, QStringList& log) : F(r), log_(log) {}
    void load() override {
        log_ << this->kind() + (this->reg().template isVisible<FrmSvrInfo>()
                                    ? QStringLiteral(" loaded beside frmSvrInfo")
                                    : QStringLiteral(" loaded alone"));
    }

private:
    QStringList& log_;
};

// Counts a widget's show and hide events that happen before the program ends (ending hides
// every window, which is not the flow hiding it).
class VisibilityLog : public QObject {
public:
    VisibilityLog(QWidget* w, Registry& r) : reg_(r) { w->installEventFilter(this); }
    int shows = 0;
    int hides = 0;

protected:
    bool eventFilter(QObject*, QEvent* e) override {
        if (!reg_.ended() && e->type() == QEvent::Show) ++shows;
        if (!reg_.ended() && e->type() == QEvent::Hide) ++hides;
        return false;
    }

private:
    Registry& reg_;
};

// The program's first two windows over a temporary application folder, the loopback server
// and stand-ins for frmPPFDownload, frmRarDownload and frmBackup.
class Rig : public test::FrameFixture {
public:
    Rig() {
        reg().define<FrmSplash>();
        reg().define<FrmSvrInfo>([this](Registry& r) {
            auto f = std::make_unique<FrmSvrInfo>(r);
            svr = f.get();
            svrLog = std::make_unique<VisibilityLog>(svr, r);
            return f;
        });
        standIn<FrmPPFDownload>();
        standIn<FrmRarDownload>();
        standIn<FrmBackup>();
        reg().start<FrmSplash>();
        splash = &reg().form<FrmSplash>();
        splashLog = std::make_unique<VisibilityLog>(splash, reg());
    }

    template <class F>
    void standIn() {
        reg().define<F>([this](Registry& r) { return std::make_unique<StandIn<F>>(r, standIns); });
    }

    void serve(const Settings& s) {
        http.route(QStringLiteral("/connect.ini"), test::HttpReply::ok(iniFile(s)));
    }

    // Connect as the player does: the address in the box, a click on the Connect label.
    void connectTo(const QString& address) {
        splash->Text1->setText(address);
        QTest::mouseClick(splash->cmdConnect, Qt::LeftButton, {}, QPoint(10, 10));
    }
    void connect() { connectTo(http.address()); }
    // Back to the start window with the server window unloaded, as in a new run.
    void revisit() {
        reg().dispatch([this] {
            reg().show<FrmSplash>();
            reg().unload<FrmSvrInfo>();
        });
        boxes.boxes.clear();
    }

    test::TestHttpServer http;
    FrmSplash* splash = nullptr;
    FrmSvrInfo* svr = nullptr;
    QStringList standIns;
    std::unique_ptr<VisibilityLog> splashLog;
    std::unique_ptr<VisibilityLog> svrLog;
};

class SvrInfoTest : public ::testing::Test, public Rig {};

TEST_F(SvrInfoTest, FullConnectRoadShowsTheServersSettings) {
    // The address is used as typed, a folder path included.
    Settings s;
    s.html = http.url(QStringLiteral("/info.html"));
    http.route(QStringLiteral("/servers/a/connect.ini"), test::HttpReply::ok(iniFile(s)));
    http.route(QStringLiteral("/info.html"),
               htmlReply("<html><head><title>Welcome to our server</title></head></html>"));
    const QString address = http.address() + QStringLiteral("/servers/a");

    QTest::mouseMove(splash->Text1, QPoint(10, 10));  // clears the prompt
    QTest::keyClicks(splash->Text1, address);
    ASSERT_EQ(splash->Text1->text(), address);
    QTest::mouseClick(splash->cmdConnect, Qt::LeftButton, {}, QPoint(10, 10));

    ASSERT_NE(svr, nullptr);
    EXPECT_TRUE(boxes.boxes.empty()) << boxes.prompts().join(QStringLiteral(" | ")).toStdString();
    EXPECT_EQ(http.requestedPaths().value(0), QStringLiteral("/servers/a/connect.ini"));
    EXPECT_EQ(readFile(QStringLiteral("connect.ini")), iniFile(s));

    EXPECT_TRUE(reg().isVisible<FrmSvrInfo>());
    EXPECT_FALSE(reg().isVisible<FrmSplash>());
    EXPECT_TRUE(reg().isLoaded<FrmSplash>());
    EXPECT_EQ(svr->size(), QSize(792, 573));
    EXPECT_EQ(svr->focusWidget(), svr->cmdDownload);
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);  // the busy cursor is gone

    EXPECT_EQ(svr->windowTitle(), QStringLiteral("10.0.0.7:2302"));
    EXPECT_EQ(svr->txtMap->text(), QStringLiteral("bloodgulch.map"));
    EXPECT_EQ(svr->lblFormat->text(), QStringLiteral("Format of update is PPF"));
    EXPECT_EQ(svr->cmdEmail->text(), QStringLiteral("admin@example.org"));
    EXPECT_EQ(svr->browser->requestedUrl(), QUrl(s.html));
    EXPECT_EQ(svr->InfoPageUrl, s.html);
    EXPECT_EQ(svr->GameServerAddress, QStringLiteral("10.0.0.7:2302"));
    EXPECT_EQ(svr->TargetMap, QStringLiteral("bloodgulch.map"));
    EXPECT_TRUE(svr->IsPpfUpdate);
    EXPECT_EQ(svr->AdminEmail, QStringLiteral("admin@example.org"));

    // The page arrives in the real web view after the load.
    // Nothing has run the event loop since the load, so the page cannot have finished yet.
    QSignalSpy finished(svr->browser, &WebView::loadFinished);
    ASSERT_TRUE(finished.wait(60000));
    EXPECT_TRUE(finished.first().first().toBool());
    EXPECT_EQ(svr->browser->title(), QStringLiteral("Welcome to our server"));

    // The target map is the server's: the player cannot edit it.
    QTest::mouseClick(svr->txtMap, Qt::LeftButton);
    QTest::keyClicks(svr->txtMap, QStringLiteral("x"));
    EXPECT_FALSE(svr->txtMap->isEnabled());
    EXPECT_EQ(svr->txtMap->text(), QStringLiteral("bloodgulch.map"));
}

struct ValuesCase {
    const char* name;
    std::function<void(Settings&)> change;  // to a file with all five keys
    bool ppf;
    int readerBoxes;
    QString title;
};
void PrintTo(const ValuesCase& c, std::ostream* os) {
    *os << c.name;
}

class SvrInfoValues : public ::testing::TestWithParam<ValuesCase> {};

TEST_P(SvrInfoValues, UpdateFormatAndMissingKeys) {
    const ValuesCase& c = GetParam();
    Settings settings;
    settings.html = QStringLiteral("about:blank");
    if (c.change) c.change(settings);
    Rig rig;
    rig.serve(settings);
    rig.connect();
    ASSERT_NE(rig.svr, nullptr);
    ASSERT_TRUE(rig.reg().isVisible<FrmSvrInfo>());
    ASSERT_EQ(rig.boxes.boxes.size(), static_cast<size_t>(c.readerBoxes));
    for (const auto& box : rig.boxes.boxes) {
        EXPECT_EQ(box.prompt, kMissingValue);
        EXPECT_EQ(box.title, kReaderTitle);
    }
    EXPECT_EQ(rig.svr->IsPpfUpdate, c.ppf);
    EXPECT_EQ(rig.svr->lblFormat->text(), c.ppf ? QStringLiteral("Format of update is PPF")
                                                : QStringLiteral("Format of update is RAR"));
    EXPECT_EQ(rig.svr->windowTitle(), c.title);
    EXPECT_EQ(rig.svr->GameServerAddress, c.title);
    EXPECT_EQ(rig.svr->txtMap->text(), QStringLiteral("bloodgulch.map"));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SvrInfoValues,
    ::testing::Values(
        ValuesCase{"Ppf1", {}, true, 0, "10.0.0.7:2302"},
        ValuesCase{"Ppf1WithSpacesAround", [](Settings& s) { s.ppf = "   1  "; }, true, 0,
                   "10.0.0.7:2302"},
        ValuesCase{"Ppf01", [](Settings& s) { s.ppf = "01"; }, false, 0, "10.0.0.7:2302"},
        ValuesCase{"Ppf1Point0", [](Settings& s) { s.ppf = "1.0"; }, false, 0, "10.0.0.7:2302"},
        ValuesCase{"PpfYes", [](Settings& s) { s.ppf = "yes"; }, false, 0, "10.0.0.7:2302"},
        ValuesCase{"PpfMissing", [](Settings& s) { s.ppf = QString(); }, false, 1, "10.0.0.7:2302"},
        ValuesCase{"PpfEmpty", [](Settings& s) { s.ppf = ""; }, false, 1, "10.0.0.7:2302"},
        ValuesCase{"HaloIPMissing", [](Settings& s) { s.haloIP = QString(); }, true, 1, ""}),
    [](const ::testing::TestParamInfo<ValuesCase>& info) { return std::string(info.param.name); });

// The copy a visit to this very address left stands in for its failed fetch.
TEST_F(SvrInfoTest, FailedFetchFallsBackOnTheCopyFromAnEarlierRun) {
    Settings old;
    old.html = QStringLiteral("about:blank");
    old.haloIP = QStringLiteral("192.168.1.5:2302");
    old.target = QStringLiteral("dangercanyon.map");
    old.ppf = QStringLiteral("0");
    old.adminEmail = QStringLiteral("old@example.org");
    serve(old);
    connect();
    ASSERT_TRUE(reg().isVisible<FrmSvrInfo>());
    revisit();
    auto gone = test::HttpReply::error(404, "gone");
    gone.delayMs = 200;  // long enough for the window to be kept painted meanwhile
    http.route(QStringLiteral("/connect.ini"), gone);
    // The fetch keeps the windows painted, which runs Qt's timers: this one samples the cursor.
    bool busyDuringFetch = false;
    QTimer sampler;
    sampler.setInterval(0);
    QObject::connect(&sampler, &QTimer::timeout,
                     [&] { busyDuringFetch |= QGuiApplication::overrideCursor() != nullptr; });
    sampler.start();
    bool busyOverBox = true;
    boxes.onShow = [&](const test::Box&) {
        sampler.stop();
        busyOverBox = QGuiApplication::overrideCursor() != nullptr;
    };

    connect();

    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].prompt, kFetchFailed);
    EXPECT_EQ(boxes.boxes[0].title, QStringLiteral("Zandrel"));
    EXPECT_TRUE(busyDuringFetch);
    EXPECT_FALSE(busyOverBox) << "the failure box is read with the ordinary cursor";
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    EXPECT_EQ(readFile(QStringLiteral("connect.ini")), iniFile(old));
    ASSERT_TRUE(reg().isVisible<FrmSvrInfo>());
    EXPECT_EQ(svr->windowTitle(), QStringLiteral("192.168.1.5:2302"));
    EXPECT_EQ(svr->txtMap->text(), QStringLiteral("dangercanyon.map"));
    EXPECT_EQ(svr->lblFormat->text(), QStringLiteral("Format of update is RAR"));
    EXPECT_EQ(svr->cmdEmail->text(), QStringLiteral("old@example.org"));
    EXPECT_EQ(svr->browser->requestedUrl(), QUrl(QStringLiteral("about:blank")));
}

// Only settings fetched from this server now vouch for an update file by its hash: an earlier
// run's copy (perhaps another server's) never does.
TEST_F(SvrInfoTest, OnlySettingsFetchedNowAnnounceTheUpdatesHash) {
    Settings s;
    s.html = QStringLiteral("about:blank");
    const QByteArray keys = "UpdateSHA256=" + QByteArray(64, 'a') + "\r\nUpdateSize=12\r\n";
    http.route(QStringLiteral("/connect.ini"), test::HttpReply::ok(iniFile(s) + keys));
    connect();
    ASSERT_TRUE(reg().isVisible<FrmSvrInfo>());
    EXPECT_EQ(svr->UpdateSha256.state, server::Announced::Valid);
    EXPECT_EQ(svr->UpdateSha256.value, QByteArray(32, char(0xaa)));
    EXPECT_EQ(svr->UpdateSize.value, 12);

    revisit();
    http.route(QStringLiteral("/connect.ini"), test::HttpReply::error(404, "gone"));
    connect();
    ASSERT_TRUE(reg().isVisible<FrmSvrInfo>());
    EXPECT_EQ(svr->windowTitle(), s.haloIP);  // the earlier copy
    EXPECT_EQ(svr->UpdateSha256.state, server::Announced::Absent);
    EXPECT_EQ(svr->UpdateSize.state, server::Announced::Absent);
}

// The settings could not be used: report, start the game with the typed address, end.
// A malformed optional key gets one box naming it, and the window works as if it were absent.
TEST_F(SvrInfoTest, AMalformedUpdateHashIsToldOnceAndIgnored) {
    Settings s;
    s.html = QStringLiteral("about:blank");
    http.route(QStringLiteral("/connect.ini"),
               test::HttpReply::ok(iniFile(s) + "UpdateSHA256=not-a-digest\r\nUpdateSize=12\r\n"));
    connect();
    ASSERT_TRUE(reg().isVisible<FrmSvrInfo>());
    ASSERT_EQ(boxes.boxes.size(), 1u) << boxes.prompts().join(" | ").toStdString();
    EXPECT_TRUE(boxes.boxes[0].prompt.startsWith(
        QStringLiteral("The server's settings file has values this program cannot use:")));
    EXPECT_TRUE(boxes.boxes[0].prompt.contains(QStringLiteral("UpdateSHA256")));
    EXPECT_FALSE(boxes.boxes[0].prompt.contains(QStringLiteral("UpdateSize")));
    EXPECT_NE(svr->UpdateSha256.state, server::Announced::Valid);
    EXPECT_EQ(svr->UpdateSize.value, 12);
    EXPECT_EQ(svr->windowTitle(), QStringLiteral("10.0.0.7:2302"));
    EXPECT_EQ(svr->txtMap->text(), QStringLiteral("bloodgulch.map"));
    EXPECT_TRUE(svr->IsPpfUpdate);
}

struct FailureCase {
    const char* name;
    bool serveFile;
    QString html;             // of the served file (none: no html key)
    QStringList boxesBefore;  // before "Error!"
    QString description;
};
void PrintTo(const FailureCase& c, std::ostream* os) {
    *os << c.name;
}

class SvrInfoFailure : public ::testing::TestWithParam<FailureCase> {};

TEST_P(SvrInfoFailure, ReportsLaunchesTheGameDirectlyAndEnds) {
    const FailureCase& c = GetParam();
    Settings settings;
    settings.html = c.html;
    Rig rig;
    rig.makeStandIn(QStringLiteral("halo.exe"));
    if (c.serveFile) rig.serve(settings);
    rig.connect();

    const QStringList expectedPrompts =
        c.boxesBefore +
        QStringList{QStringLiteral("Error!"),
                    QStringLiteral("Launching Halo and connecting to ") + rig.http.address()};
    QStringList seen = rig.boxes.prompts();
    ASSERT_EQ(seen.size(), expectedPrompts.size()) << seen.join(" | ").toStdString();
    const auto& report = rig.boxes.boxes[c.boxesBefore.size()];
    EXPECT_EQ(report.title, QStringLiteral("Error!"));
    EXPECT_EQ(report.icon, MsgIcon::None);
    const QStringList lines = report.prompt.split(QStringLiteral("\r\n"));
    ASSERT_EQ(lines.size(), 10);
    const QStringList expectedLines{
        QStringLiteral("Error Number: -2147024809"),
        QStringLiteral("Error Description: ") + c.description,
        QString(),
        QStringLiteral("Cause: Server settings file not found. This might be because:"),
        QStringLiteral("        >  The server does not have a Zandrel configuration file"),
        QStringLiteral("        >  The Server is offline"),
        QStringLiteral("         or"),
        QStringLiteral("        >  Your firewall is blocking Zandrel packets (port 80)"),
        QString(),
    };
    for (int i = 0; i < 9; ++i) EXPECT_EQ(lines[i], expectedLines[i]) << "line " << i + 1;
    EXPECT_TRUE(lines[9].startsWith(QStringLiteral("If you think this is a bug, report it to ")));
    EXPECT_TRUE(lines[9].contains(QLatin1Char('@')));
    EXPECT_FALSE(report.prompt.endsWith(QStringLiteral("\n")));
    for (int i = 0; i < c.boxesBefore.size(); ++i) EXPECT_EQ(seen[i], c.boxesBefore[i]);
    const auto& notice = rig.boxes.boxes.back();
    EXPECT_EQ(notice.prompt, expectedPrompts.back());
    EXPECT_EQ(notice.title, QStringLiteral("Zandrel"));
    EXPECT_EQ(notice.icon, MsgIcon::None);

    EXPECT_EQ(
        rig.standInArgs(QStringLiteral("halo.exe")),
        (QStringList{QStringLiteral("-connect"), rig.http.address(), QStringLiteral("--end--")}));
    EXPECT_TRUE(rig.reg().ended());
    ASSERT_NE(rig.svr, nullptr);
    EXPECT_EQ(rig.svrLog->shows, 0);
    EXPECT_FALSE(rig.svr->displayedOnce);
    EXPECT_EQ(rig.splashLog->hides, 0);  // Connect never went on to hide the start window
    EXPECT_TRUE(rig.standIns.isEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SvrInfoFailure,
    ::testing::Values(
        FailureCase{"NoCopyAndAFailedFetch",
                    false,
                    QString(),
                    {kFetchFailed, kMissingValue},
                    "The web view was given no address"},
        FailureCase{"FileWithoutHtml",
                    true,
                    QString(),
                    {kMissingValue},
                    "The web view was given no address"},
        FailureCase{"HtmlNamingALocalFile",
                    true,
                    QStringLiteral("file:///etc/passwd"),
                    {},
                    "The web view shows only http and https pages, not \"file:///etc/passwd\""}),
    [](const ::testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.name); });

TEST_F(SvrInfoTest, FailedLaunchInTheFailurePathIsReportedAndEnds) {
    // No halo.exe in the application folder.
    connect();
    ASSERT_EQ(boxes.boxes.size(), 5u) << boxes.prompts().join(" | ").toStdString();
    EXPECT_EQ(boxes.boxes[2].title, QStringLiteral("Error!"));
    EXPECT_TRUE(
        boxes.boxes[3].prompt.startsWith(QStringLiteral("Launching Halo and connecting to ")));
    const auto& report = boxes.boxes[4];
    EXPECT_EQ(report.title, QStringLiteral("Zandrel"));
    EXPECT_EQ(report.icon, MsgIcon::Critical);
    EXPECT_TRUE(report.prompt.contains(QString::number(ENOENT))) << report.prompt.toStdString();
    EXPECT_TRUE(reg().ended());
    EXPECT_EQ(svrLog->shows, 0);
    EXPECT_EQ(splashLog->hides, 0);
}

TEST_F(SvrInfoTest, EmailAdminHandsTheAddressToTheMailProgramAndKeepsThePage) {
    Settings s;
    s.html = http.url(QStringLiteral("/info.html"));
    http.route(QStringLiteral("/info.html"),
               htmlReply("<html><head><title>Server page</title></head></html>"));
    serve(s);
    connect();
    ASSERT_TRUE(reg().isVisible<FrmSvrInfo>());
    // Nothing has run the event loop since the load, so the page cannot have finished yet.
    QSignalSpy finished(svr->browser, &WebView::loadFinished);
    ASSERT_TRUE(finished.wait(60000));
    const QUrl page = svr->browser->url();

    QTest::mouseClick(svr->cmdEmail, Qt::LeftButton);

    ASSERT_EQ(mail.links.size(), 1u);
    EXPECT_EQ(mail.links[0], QUrl(QStringLiteral("mailto:admin@example.org")));
    QTest::qWait(200);
    EXPECT_EQ(svr->browser->url(), page);
    EXPECT_EQ(svr->browser->requestedUrl(), QUrl(s.html));
    EXPECT_EQ(svr->browser->title(), QStringLiteral("Server page"));
    EXPECT_TRUE(reg().isVisible<FrmSvrInfo>());
    EXPECT_TRUE(boxes.boxes.empty());
}

// What the window shows of the server's values is what the later windows use: the launch the
// address in the title, the patch the map in txtMap, the mail the address on the button. Hidden
// characters show escaped, as the message boxes show them, and nothing is taken for markup (Qt
// drops "[*]" from a title and "&" from a caption).
TEST_F(SvrInfoTest, WhatTheWindowShowsIsWhatIsUsed) {
    struct Case {
        const char* name;
        QString value;  // given to HaloIP, Target and AdminEmail alike
        QString shown;
    };
    const Case cases[] = {
        {"right-to-left override", QStringLiteral("admin@\u202Egro.elpmaxe"),
         QStringLiteral("admin@\\u202egro.elpmaxe")},
        {"zero-width space", QStringLiteral("ridge\u200B.map"), QStringLiteral("ridge\\u200b.map")},
        {"isolate and pop", QStringLiteral("10.0.0.7\u2066:2302\u2069"),
         QStringLiteral("10.0.0.7\\u2066:2302\\u2069")},
        {"zero-width no-break space", QStringLiteral("10.0.0.7\uFEFF:2302"),
         QStringLiteral("10.0.0.7\\ufeff:2302")},
        {"ampersand", QStringLiteral("a&b@example.org"), QStringLiteral("a&b@example.org")},
        {"modified mark", QStringLiteral("10.0.0.7:2302[*]"), QStringLiteral("10.0.0.7:2302[*]")},
        {"plain", QStringLiteral("10.0.0.7:2302"), QStringLiteral("10.0.0.7:2302")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        revisit();
        mail.links.clear();
        Settings s;
        s.html = QStringLiteral("about:blank");
        s.haloIP = s.target = s.adminEmail = c.value;
        serve(s);
        connect();
        ASSERT_TRUE(reg().isVisible<FrmSvrInfo>());
        EXPECT_EQ(svr->windowHandle()->title(), c.shown);
        EXPECT_EQ(svr->gameServerAddress(), c.shown);
        EXPECT_EQ(svr->txtMap->displayText(), c.shown);
        EXPECT_EQ(svr->targetMap(), c.shown);
        EXPECT_EQ(QString(svr->cmdEmail->text()).replace(QStringLiteral("&&"), QStringLiteral("&")),
                  c.shown);
        QTest::mouseClick(svr->cmdEmail, Qt::LeftButton);
        ASSERT_EQ(mail.links.size(), 1u);
        EXPECT_EQ(mail.links[0].path(), c.shown);
        EXPECT_EQ(svr->GameServerAddress, c.value);  // the value as read
    }
}

template <class F>
bool visible(Registry& r) {
    return r.isVisible<F>();
}
template <class F>
bool loaded(Registry& r) {
    return r.isLoaded<F>();
}

struct ButtonCase {
    const char* name;
    QString ppf;
    QString shown;
    bool (*shownIsVisible)(Registry&);
    bool (*otherIsLoaded)(Registry&);
};
void PrintTo(const ButtonCase& c, std::ostream* os) {
    *os << c.name;
}

class SvrInfoButtons : public ::testing::TestWithParam<ButtonCase> {};

TEST_P(SvrInfoButtons, DownloadAndApplyShowsTheServersUpdatePathThenHides) {
    const ButtonCase& c = GetParam();
    Rig rig;
    Settings s;
    s.html = QStringLiteral("about:blank");
    s.ppf = c.ppf;
    rig.serve(s);
    rig.connect();
    ASSERT_TRUE(rig.reg().isVisible<FrmSvrInfo>());

    QTest::mouseClick(rig.svr->cmdDownload, Qt::LeftButton);

    // Loaded while this window was still on screen; hidden only afterwards.
    EXPECT_EQ(rig.standIns, QStringList{c.shown + QStringLiteral(" loaded beside frmSvrInfo")});
    EXPECT_TRUE(c.shownIsVisible(rig.reg()));
    EXPECT_FALSE(c.otherIsLoaded(rig.reg()));
    EXPECT_FALSE(rig.reg().isVisible<FrmSvrInfo>());
    EXPECT_TRUE(rig.reg().isLoaded<FrmSvrInfo>());  // read back later
    EXPECT_EQ(rig.svr->windowTitle(), QStringLiteral("10.0.0.7:2302"));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SvrInfoButtons,
    ::testing::Values(ButtonCase{"PpfServer", "1", "frmPPFDownload", visible<FrmPPFDownload>,
                                 loaded<FrmRarDownload>},
                      ButtonCase{"RarServer", "0", "frmRarDownload", visible<FrmRarDownload>,
                                 loaded<FrmPPFDownload>}),
    [](const ::testing::TestParamInfo<ButtonCase>& info) { return std::string(info.param.name); });

TEST_F(SvrInfoTest, MapBackupsShowsTheBackupsThenHides) {
    Settings s;
    s.html = QStringLiteral("about:blank");
    serve(s);
    connect();
    ASSERT_TRUE(reg().isVisible<FrmSvrInfo>());

    QTest::mouseClick(svr->cmdBackups, Qt::LeftButton);
    EXPECT_EQ(standIns, QStringList{QStringLiteral("frmBackup loaded beside frmSvrInfo")});
    EXPECT_TRUE(reg().isVisible<FrmBackup>());
    EXPECT_FALSE(reg().isVisible<FrmSvrInfo>());
    EXPECT_FALSE(reg().isLoaded<FrmRarDownload>());
    EXPECT_FALSE(reg().isLoaded<FrmPPFDownload>());
}

TEST_F(SvrInfoTest, CancelEndsTheProgram) {
    Settings s;
    s.html = QStringLiteral("about:blank");
    serve(s);
    connect();
    ASSERT_TRUE(reg().isVisible<FrmSvrInfo>());
    QTest::mouseClick(svr->cmdCancel, Qt::LeftButton);
    EXPECT_TRUE(reg().ended());
    EXPECT_FALSE(svr->isVisible());
    EXPECT_TRUE(standIns.isEmpty());
    EXPECT_TRUE(boxes.boxes.empty());
}

}  // namespace
}  // namespace zandrel::windows
