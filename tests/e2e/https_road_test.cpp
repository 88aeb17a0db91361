// The RAR road end to end over https: a server reached by its typed https:// address (its
// information page still on plain http), a plain address whose files are redirected to https,
// and a second "Download and Apply" of an unchanged update that transfers no body. The game
// server's authority is a certificate authority made in the test, trusted as a community would
// trust its own: through CURL_CA_BUNDLE.
#include "frame/frame_fixture.h"
#include "frame/registry.h"
#include "http/test_http_server.h"
#include "http/test_tls.h"
#include "rar/rarwriter.h"
#include "windows/frm_splash.h"
#include "windows/frm_svr_info.h"
#include "windows/window_set.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <sys/xattr.h>

#include <functional>
#include <memory>

namespace zandrel::windows {
namespace {

using test::waitFor;

QByteArray mapBytes(const char* name, int version) {
    QByteArray bytes = "MAP " + QByteArray(name) + " v" + QByteArray::number(version) + "\n";
    for (int i = 0; bytes.size() < 30000; ++i) bytes.append(char((i * 31 + version) & 0xff));
    return bytes;
}

QByteArray archiveOf(const QByteArray& canyon, const QByteArray& glacier) {
    const std::string bytes = rar::writeStored(
        rar::Format::Rar5,
        {{"canyon.map", canyon.toStdString()}, {"glacier.map", glacier.toStdString()}});
    return QByteArray(bytes.data(), qsizetype(bytes.size()));
}

class HttpsRoad : public ::testing::Test, public test::FrameFixture {
protected:
    HttpsRoad()
        : oldBundle_(qgetenv("CURL_CA_BUNDLE")),
          hadBundle_(qEnvironmentVariableIsSet("CURL_CA_BUNDLE")),
          https_(QString(), ca_.issue({"127.0.0.1"})) {
        ca_.writeBundle(work_.filePath("community-ca.pem"));
        qputenv("CURL_CA_BUNDLE", work_.filePath("community-ca.pem").toLocal8Bit());
        makeStandIn(QStringLiteral("halo.exe"));
        writeFile(QStringLiteral("maps/canyon.map"), mapBytes("canyon", 1));

        test::HttpReply page = test::HttpReply::ok(
            "<html><head><title>Canyon over https</title></head><body>Welcome</body></html>");
        page.contentType = "text/html";
        page_.route(QStringLiteral("/index.html"), page);
        https_.route(QStringLiteral("/connect.ini"),
                     test::HttpReply::ok(QStringLiteral("[Main]\r\nhtml=%1\r\nHaloIP=10.1.2.3:2302"
                                                        "\r\nTarget=canyon.map\r\nppf=0\r\n"
                                                        "AdminEmail=admin@example.org\r\n")
                                             .arg(page_.url(QStringLiteral("/index.html")))
                                             .toUtf8()));
        test::HttpReply update = test::HttpReply::ok(archiveOf(canyon2_, glacier_));
        update.headers.append(std::pair<QByteArray, QByteArray>("ETag", "\"update-2\""));
        update.headers.append(
            std::pair<QByteArray, QByteArray>("Last-Modified", "Tue, 03 Jun 2025 10:15:00 GMT"));
        update.honoursConditions = true;
        https_.route(QStringLiteral("/zandrel.rar"), update);
    }
    ~HttpsRoad() override {
        if (hadBundle_)
            qputenv("CURL_CA_BUNDLE", oldBundle_);
        else
            qunsetenv("CURL_CA_BUNDLE");
    }

    // A new run of the program in the same game folder.
    void startProgram() {
        newRegistry();
        registerWindows(reg());
        reg().start<FrmSplash>();
    }

    // Types the address, Connect, waits for the page, "Download and Apply", unpacks, launches.
    void takeTheRarRoad(const QString& address) {
        auto& splash = reg().form<FrmSplash>();
        QTest::mouseMove(splash.Text1, QPoint(5, 5));
        QTest::mouseMove(splash.Text1, QPoint(12, 12));
        QTest::keyClicks(splash.Text1, address);
        QTest::mouseClick(splash.cmdConnect, Qt::LeftButton, {}, QPoint(10, 10));
        ASSERT_TRUE(reg().isVisible<FrmSvrInfo>())
            << boxes.prompts().join(QStringLiteral(" | ")).toStdString();
        auto& info = reg().form<FrmSvrInfo>();
        EXPECT_EQ(info.windowTitle(), QStringLiteral("10.1.2.3:2302"));
        // The page on plain http shows, though the settings came over https.
        EXPECT_TRUE(waitFor([&] { return info.browser->title() == "Canyon over https"; }, 60000))
            << info.browser->title().toStdString();
        QTest::mouseClick(info.cmdDownload, Qt::LeftButton);
        clock.advance(1024);  // "Unpacking..."
        clock.advance(1024);  // unpacks, shows frmFinish
        ASSERT_TRUE(reg().isVisible<FrmFinish>())
            << boxes.prompts().join(QStringLiteral(" | ")).toStdString();
        clock.advance(1500);
        EXPECT_TRUE(reg().ended());
        EXPECT_TRUE(boxes.boxes.empty())
            << boxes.prompts().join(QStringLiteral(" | ")).toStdString();
        EXPECT_EQ(readFile(QStringLiteral("maps/canyon.map")), canyon2_);
        EXPECT_EQ(readFile(QStringLiteral("maps/glacier.map")), glacier_);
        EXPECT_EQ(standInArgs(QStringLiteral("halo.exe")),
                  (QStringList{QStringLiteral("-connect"), QStringLiteral("10.1.2.3:2302"),
                               QStringLiteral("--end--")}));
    }

    const QByteArray canyon2_ = mapBytes("canyon", 2);
    const QByteArray glacier_ = mapBytes("glacier", 1);
    QTemporaryDir work_;
    QByteArray oldBundle_;
    bool hadBundle_;
    test::TestCertificateAuthority ca_;
    test::TestHttpServer https_;
    test::TestHttpServer page_;  // the information page, on plain http
};

TEST_F(HttpsRoad, TypedHttpsAddressTakesTheWholeRoad) {
    startProgram();
    takeTheRarRoad(https_.url(QString()));
    EXPECT_EQ(https_.requestedPaths(),
              (QStringList{QStringLiteral("/connect.ini"), QStringLiteral("/zandrel.rar")}));
}

TEST_F(HttpsRoad, PlainAddressRedirectedToHttpsTakesTheWholeRoad) {
    test::TestHttpServer http;
    http.route(QStringLiteral("/connect.ini"),
               test::HttpReply::redirect(https_.url(QStringLiteral("/connect.ini")), 301));
    http.route(QStringLiteral("/zandrel.rar"),
               test::HttpReply::redirect(https_.url(QStringLiteral("/zandrel.rar")), 301));
    startProgram();
    takeTheRarRoad(http.address());
    EXPECT_EQ(https_.requestedPaths(),
              (QStringList{QStringLiteral("/connect.ini"), QStringLiteral("/zandrel.rar")}));
}

TEST_F(HttpsRoad, SecondDownloadOfAnUnchangedUpdateTransfersNoBody) {
    // The fetch record is an extended attribute; without them every fetch is a plain one.
    const QByteArray probe = QFile::encodeName(path(QStringLiteral("maps/canyon.map")));
    if (::setxattr(probe.constData(), "user.zandrel.probe", "1", 1, 0) != 0)
        GTEST_SKIP() << "the temporary folder's file system keeps no extended attributes";
    ::removexattr(probe.constData(), "user.zandrel.probe");
    startProgram();
    takeTheRarRoad(https_.url(QString()));
    writeFile(QStringLiteral("maps/canyon.map"), mapBytes("canyon", 1));  // the player's old map
    QFile::remove(path(QStringLiteral("maps/glacier.map")));
    QFile::remove(path(QStringLiteral("halo.exe.args")));
    const QByteArray held = readFile(QStringLiteral("zandrel.rar"));

    startProgram();
    takeTheRarRoad(https_.url(QString()));
    // The server was asked whether its update changed and answered 304: the archive held from
    // the first run was unpacked again.
    EXPECT_EQ(https_.requestHeaders("If-None-Match").last(), "\"update-2\"");
    EXPECT_EQ(readFile(QStringLiteral("zandrel.rar")), held);
}

}  // namespace
}  // namespace zandrel::windows
