// Fetching over https: certificates checked against the trusted authorities, the bundle that
// the environment names, redirects that may go up to https but never back down, and the address
// rule for what the player typed.
#include "base/error.h"
#include "boxes/recording_boxes.h"
#include "env_var.h"
#include "folders/folder_helpers.h"
#include "net/download_file.h"
#include "net/server_url.h"
#include "test_http_server.h"
#include "test_tls.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <optional>

namespace zandrel::test {

using namespace zandrel::net;

namespace {

const QString kFailurePrompt =
    QStringLiteral("An error has occured in the file transfer or write.  Please try again later.");
const QByteArray kOld = "[Main]\r\nhtml=http://old.example/\r\nHaloIP=10.0.0.1:2302\r\n";
const QByteArray kNew = "[Main]\r\nhtml=https://new.example/\r\nHaloIP=10.0.0.2:2302\r\n";

// A test authority that the program trusts through CURL_CA_BUNDLE (as a community with its own
// authority would set it), an https server with a certificate from it, a plain http server, and
// the application folder with an older settings file in it.
class HttpsTest : public ::testing::Test {
protected:
    HttpsTest()
        : bundlePath(work.filePath("community-ca.pem")),
          trustTestCa("CURL_CA_BUNDLE", written(ca, bundlePath)),
          https(QString(), ca.issue({"127.0.0.1", "localhost"})) {
        inet.setStallTimeoutMs(2000);
        QDir().mkpath(app());
        writeFile(settings(), kOld);
    }

    static QByteArray written(const TestCertificateAuthority& authority, const QString& path) {
        authority.writeBundle(path);
        return path.toLocal8Bit();
    }

    QString app() const { return work.filePath("app"); }
    QString settings() const { return app() + "/connect.ini"; }
    bool download(const QString& url) { return DownloadFile(inet, url, app(), boxes); }

    void expectOneFailureBox() const {
        ASSERT_EQ(boxes.boxes.size(), 1u);
        EXPECT_EQ(boxes.boxes[0].prompt, kFailurePrompt);
        EXPECT_EQ(boxes.boxes[0].icon, MsgIcon::Information);
    }
    // The failed fetch changed nothing: the old file byte for byte, and nothing beside it.
    void expectOldFileKept() const {
        EXPECT_EQ(readFile(settings()), kOld);
        EXPECT_EQ(folderEntries(app()), QStringList{"connect.ini"});
    }

    // The error that OpenURL raised for url, if any.
    std::optional<Error> openError(const QString& url) {
        try {
            Inet other;
            other.OpenURL(url, [](QByteArrayView) {});
        } catch (const Error& e) {
            return e;
        }
        return std::nullopt;
    }

    QTemporaryDir work;
    TestCertificateAuthority ca;
    QString bundlePath;
    EnvVar trustTestCa;
    TestHttpServer https;
    TestHttpServer http;
    Inet inet;
    RecordingBoxes boxes;
};

TEST_F(HttpsTest, FetchesOverHttpsAndSaysItWasVerified) {
    https.route("/connect.ini", HttpReply::ok(kNew));
    ASSERT_TRUE(download(https.url("/connect.ini")));
    EXPECT_TRUE(boxes.boxes.empty());
    EXPECT_EQ(readFile(settings()), kNew);
    const FetchInfo& info = inet.LastFetch();
    EXPECT_TRUE(info.tls);
    EXPECT_TRUE(info.tlsVerified);
    EXPECT_EQ(info.status, 200);
    EXPECT_EQ(info.bodyBytes, kNew.size());
    EXPECT_EQ(info.finalUrl, https.url("/connect.ini"));
}

TEST_F(HttpsTest, RedirectsMayGoUpToHttpsButNeverBackDown) {
    https.route("/connect.ini", HttpReply::ok(kNew));
    https.route("/moved/connect.ini", HttpReply::redirect("/connect.ini", 301));
    https.route("/to-http/connect.ini", HttpReply::redirect(http.url("/connect.ini")));
    https.route("/to-ftp/connect.ini", HttpReply::redirect("ftp://127.0.0.1/connect.ini"));
    http.route("/connect.ini", HttpReply::ok(kNew));
    http.route("/up/connect.ini", HttpReply::redirect(https.url("/connect.ini"), 301));
    http.route("/up-via-https/connect.ini", HttpReply::redirect(https.url("/moved/connect.ini")));
    http.route("/up-and-down/connect.ini", HttpReply::redirect(https.url("/to-http/connect.ini")));

    struct Case {
        const char* name;
        QString url;
        bool stored;
        int redirects;  // followed before the reply that counted
    };
    const Case cases[] = {
        {"http to https", http.url("/up/connect.ini"), true, 1},
        {"http to https to https", http.url("/up-via-https/connect.ini"), true, 2},
        {"https to https", https.url("/moved/connect.ini"), true, 1},
        {"https to http", https.url("/to-http/connect.ini"), false, 0},
        {"http to https to http", http.url("/up-and-down/connect.ini"), false, 0},
        {"https to another scheme", https.url("/to-ftp/connect.ini"), false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(settings(), kOld);
        boxes.boxes.clear();
        EXPECT_EQ(download(c.url), c.stored);
        if (c.stored) {
            EXPECT_TRUE(boxes.boxes.empty());
            EXPECT_EQ(readFile(settings()), kNew);
            EXPECT_EQ(inet.LastFetch().redirects, c.redirects);
            EXPECT_TRUE(inet.LastFetch().tlsVerified);
        } else {
            expectOneFailureBox();
            expectOldFileKept();
        }
    }
    // The downgrade was refused before the plain http request went out.
    EXPECT_FALSE(http.requestedPaths().contains("/connect.ini"));
    const std::optional<Error> down = openError(https.url("/to-http/connect.ini"));
    ASSERT_TRUE(down);
    EXPECT_TRUE(down->is(TransferFailure::Downgrade)) << down->what();
}

// What a caller that reports on a fetch reads afterwards, on success and on failure.
TEST_F(HttpsTest, LastFetchTellsWhatHappened) {
    HttpReply file = HttpReply::ok(kNew);
    file.headers.append(std::pair<QByteArray, QByteArray>("ETag", "\"abc\""));
    file.headers.append(
        std::pair<QByteArray, QByteArray>("Last-Modified", "Tue, 03 Jun 2025 10:15:00 GMT"));
    https.route("/connect.ini", file);
    https.route("/gone/connect.ini", HttpReply::error(410, "<html>gone</html>"));
    http.route("/connect.ini", HttpReply::redirect(https.url("/connect.ini"), 301));

    ASSERT_TRUE(download(http.url("/connect.ini")));
    const FetchInfo ok = inet.LastFetch();
    EXPECT_EQ(ok.url, http.url("/connect.ini"));
    EXPECT_EQ(ok.finalUrl, https.url("/connect.ini"));
    EXPECT_EQ(ok.redirects, 1);
    EXPECT_EQ(ok.status, 200);
    EXPECT_EQ(ok.bodyBytes, kNew.size());
    EXPECT_EQ(ok.etag, "\"abc\"");
    EXPECT_EQ(ok.lastModifiedText, "Tue, 03 Jun 2025 10:15:00 GMT");
    EXPECT_EQ(ok.lastModified, 1748945700);
    EXPECT_TRUE(ok.tls && ok.tlsVerified && ok.complete);
    EXPECT_FALSE(ok.conditional || ok.notModified);

    EXPECT_FALSE(download(https.url("/gone/connect.ini")));
    const FetchInfo gone = inet.LastFetch();
    EXPECT_EQ(gone.status, 410);
    EXPECT_EQ(gone.bodyBytes, 0);  // the error page went nowhere
    EXPECT_TRUE(gone.etag.isEmpty() && gone.lastModified < 0);
    EXPECT_FALSE(gone.complete);
}

TEST_F(HttpsTest, CertificateThatCannotBeVerifiedFailsAndKeepsTheOldFile) {
    TestCertificateAuthority stranger(QStringLiteral("Someone Else's CA"));
    struct Case {
        const char* name;
        TlsIdentity identity;
    };
    const Case cases[] = {
        {"unknown authority", stranger.issue({"127.0.0.1"})},
        {"wrong host name", ca.issue({"games.example.org"})},
        {"expired", ca.issue({"127.0.0.1"}, -30, -1)},
        {"not yet valid", ca.issue({"127.0.0.1"}, 2, 30)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestHttpServer server(QString(), c.identity);
        server.route("/connect.ini", HttpReply::ok(kNew));
        boxes.boxes.clear();
        EXPECT_FALSE(download(server.url("/connect.ini")));
        expectOneFailureBox();
        expectOldFileKept();
        EXPECT_TRUE(server.requestedPaths().isEmpty());  // no request went over it
        const std::optional<Error> e = openError(server.url("/connect.ini"));
        ASSERT_TRUE(e);
        EXPECT_TRUE(e->is(TransferFailure::Certificate)) << e->what();
        EXPECT_TRUE(e->description().startsWith("The server's certificate could not be verified"))
            << e->what();
    }
}

TEST_F(HttpsTest, TrustsTheBundleTheEnvironmentNamesAsCurlDoes) {
    https.route("/connect.ini", HttpReply::ok(kNew));
    const QByteArray system = "/etc/ssl/certs/ca-certificates.crt";
    const QByteArray test = bundlePath.toLocal8Bit();
    struct Case {
        const char* name;
        QByteArray curlCaBundle;  // null: not set
        QByteArray sslCertFile;
        bool trusted;
    };
    const Case cases[] = {
        {"SSL_CERT_FILE alone", QByteArray(), test, true},
        {"CURL_CA_BUNDLE alone", test, QByteArray(), true},
        {"CURL_CA_BUNDLE before SSL_CERT_FILE", test, system, true},
        {"CURL_CA_BUNDLE names the system store", system, test, false},
        {"neither: the system store only", QByteArray(), QByteArray(), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EnvVar bundle("CURL_CA_BUNDLE", c.curlCaBundle);
        EnvVar file("SSL_CERT_FILE", c.sslCertFile);
        EnvVar dir("SSL_CERT_DIR", QByteArray());
        writeFile(settings(), kOld);
        boxes.boxes.clear();
        EXPECT_EQ(download(https.url("/connect.ini")), c.trusted);
        EXPECT_EQ(readFile(settings()), c.trusted ? kNew : kOld);
        EXPECT_EQ(boxes.boxes.size(), c.trusted ? 0u : 1u);
    }
}

TEST_F(HttpsTest, TypedHttpsAddressIsUsedAsItStands) {
    QTemporaryDir root;
    QDir(root.path()).mkpath("halo/ctf");
    writeFile(root.filePath("halo/ctf/connect.ini"), kNew);
    https.setDocumentRoot(root.path());
    const QString typed = https.url("/halo/ctf");
    ASSERT_TRUE(download(serverFileUrl(typed, "connect.ini")));
    EXPECT_EQ(readFile(settings()), kNew);
    EXPECT_EQ(https.requestedPaths(), QStringList{"/halo/ctf/connect.ini"});
}

// Proxies come from the environment as libcurl reads them: http_proxy for http addresses,
// unless no_proxy names the host.
TEST(EnvironmentProxy, HttpProxyCarriesTheRequestUnlessNoProxyNamesTheHost) {
    TestHttpServer proxy;
    const QString target = QStringLiteral("http://games.zandrel-test.invalid/connect.ini");
    proxy.route(target, HttpReply::ok(kNew));
    struct Case {
        const char* name;
        QByteArray noProxy;  // null: not set
        bool throughProxy;
    };
    const Case cases[] = {
        {"http_proxy", QByteArray(), true},
        {"no_proxy names another host", "example.org", true},
        {"no_proxy names the host", "games.zandrel-test.invalid", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EnvVar viaProxy("http_proxy", proxy.url(QString()).toLocal8Bit());
        EnvVar upper("HTTP_PROXY", QByteArray());
        EnvVar all("ALL_PROXY", QByteArray());
        EnvVar bypass("no_proxy", c.noProxy);
        EnvVar bypassUpper("NO_PROXY", QByteArray());
        QTemporaryDir folder;
        Inet inet;
        RecordingBoxes boxes;
        const qsizetype before = proxy.requestedPaths().size();
        EXPECT_EQ(DownloadFile(inet, target, folder.path(), boxes), c.throughProxy);
        EXPECT_EQ(proxy.requestedPaths().size(), before + (c.throughProxy ? 1 : 0));
        if (c.throughProxy) {
            EXPECT_EQ(readFile(folder.filePath("connect.ini")), kNew);
        }
    }
}

TEST(ServerFileUrl, SchemeIsAddedOnlyWhenTheAddressHasNoneAndThePathIsEncoded) {
    struct Case {
        const char* typed;
        const char* url;
    };
    const Case cases[] = {
        {"games.example.org", "http://games.example.org/connect.ini"},
        {"10.0.0.7:8080/halo", "http://10.0.0.7:8080/halo/connect.ini"},
        {"http://games.example.org", "http://games.example.org/connect.ini"},
        {"https://games.example.org/halo", "https://games.example.org/halo/connect.ini"},
        {"HTTPS://games.example.org", "HTTPS://games.example.org/connect.ini"},
        // Only a leading scheme counts: anything else is a host (or nonsense) as before.
        {"ftp://games.example.org", "http://ftp://games.example.org/connect.ini"},
        {"httpsgames.example.org", "http://httpsgames.example.org/connect.ini"},
        {"", "http:///connect.ini"},
        // What may not stand in a URL is percent-encoded as a browser does; the host is left
        // alone, an escape already there stays one, and a query stays a query.
        {"127.0.0.1:8801/halo maps", "http://127.0.0.1:8801/halo%20maps/connect.ini"},
        {"https://host/\"big\" <maps>/{1}`",
         "https://host/%22big%22%20%3Cmaps%3E/%7B1%7D%60/connect.ini"},
        {"host/cartes/for\xc3\xaat", "http://host/cartes/for%C3%AAt/connect.ini"},
        {"host/tab\there", "http://host/tab%09here/connect.ini"},
        {"host/halo%20maps", "http://host/halo%20maps/connect.ini"},
        {"host/get?server=1", "http://host/get?server=1/connect.ini"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        EXPECT_EQ(serverFileUrl(QString::fromUtf8(c.typed), "connect.ini"), c.url);
    }
}

}  // namespace
}  // namespace zandrel::test
