// The demo's game servers pass the check: the demo's own server binary serving the web roots the
// demo build makes, started as scripts/demo-servers.sh starts it (the RAR server handing its
// update on to the https server of the demo's certificate authority), on ports of the test's own
// so that a running demo does not get in the way.
#include "admin_server.h"

#include <QFile>
#include <QProcess>
#include <QThread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace zandrel::test {
namespace {

const QString kDemo = QStringLiteral(ZANDREL_DEMO_DIR);

// A loopback port that nothing listens on now.
int freePort() {
    TestHttpServer probe;
    return probe.port();
}

bool listening(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    ::close(fd);
    return ok;
}

class DemoServers : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(QFile::exists(kDemo + QStringLiteral("/tls/ca.pem")));
        start(
            {kDemo + QStringLiteral("/servers/https"), QString::number(httpsPort),
             QStringLiteral("https server"), QStringLiteral("--tls"),
             kDemo + QStringLiteral("/tls/server.pem"), kDemo + QStringLiteral("/tls/server.key")},
            httpsPort);
        start({kDemo + QStringLiteral("/servers/rar"), QString::number(rarPort),
               QStringLiteral("RAR server"), QStringLiteral("--redirect"),
               QStringLiteral("/zandrel.rar"),
               QStringLiteral("https://127.0.0.1:%1/zandrel.rar").arg(httpsPort)},
              rarPort);
        start({kDemo + QStringLiteral("/servers/ppf"), QString::number(ppfPort),
               QStringLiteral("PPF server")},
              ppfPort);
    }
    void TearDown() override {
        for (auto& server : servers_) {
            server->terminate();
            server->waitForFinished(5000);
        }
    }

    void start(const QStringList& args, int port) {
        auto server = std::make_unique<QProcess>();
        server->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        server->start(QStringLiteral(ZANDREL_DEMO_SERVER), args);
        ASSERT_TRUE(server->waitForStarted()) << args.join(' ').toStdString();
        servers_.push_back(std::move(server));
        for (int i = 0; i < 100 && !listening(port); ++i) QThread::msleep(50);
        ASSERT_TRUE(listening(port)) << args.join(' ').toStdString();
    }

    // The demo's authority is trusted as scripts/demo-servers.sh has the program trust it.
    QStringList trustDemo() const {
        return {QStringLiteral("CURL_CA_BUNDLE=") + kDemo + QStringLiteral("/tls/ca.pem")};
    }

    const int httpsPort = freePort();
    const int rarPort = freePort();
    const int ppfPort = freePort();

private:
    std::vector<std::unique_ptr<QProcess>> servers_;
};

TEST_F(DemoServers, RarServerPasses) {
    const ToolRun run = runCheck(
        {QStringLiteral("--json"), QStringLiteral("127.0.0.1:%1").arg(rarPort)}, trustDemo());
    EXPECT_EQ(run.exitStatus, 0) << run.out.toStdString() << run.err.toStdString();
    EXPECT_EQ(run.json.value(QStringLiteral("problems")).toInt(), 0) << run.out.toStdString();
    EXPECT_EQ(findingsWithCode(run.json, QStringLiteral("archive-entry")).size(), 2);
    const auto fetched = findingsWithCode(run.json, QStringLiteral("update-fetched"));
    ASSERT_EQ(fetched.size(), 1);
    EXPECT_TRUE(fetched[0].value(QStringLiteral("tlsVerified")).toBool());
    // The demo publishes the keys of the update it built.
    EXPECT_EQ(findingsWithCode(run.json, QStringLiteral("update-keys-match")).size(), 1)
        << run.out.toStdString();
}

TEST_F(DemoServers, PpfServerPassesAndFitsTheSampleMap) {
    const QString map = kDemo + QStringLiteral("/work/samples/ridge.map");
    ASSERT_TRUE(QFile::exists(map));
    const ToolRun run = runCheck({QStringLiteral("--json"), QStringLiteral("--map"), map,
                                  QStringLiteral("127.0.0.1:%1").arg(ppfPort)},
                                 trustDemo());
    EXPECT_EQ(run.exitStatus, 0) << run.out.toStdString() << run.err.toStdString();
    EXPECT_EQ(run.json.value(QStringLiteral("problems")).toInt(), 0) << run.out.toStdString();
    EXPECT_EQ(findingsWithCode(run.json, QStringLiteral("patch-applies")).size(), 1);
    EXPECT_EQ(findingsWithCode(run.json, QStringLiteral("update-keys-match")).size(), 1)
        << run.out.toStdString();
}

TEST_F(DemoServers, HttpsServerTypedWithItsSchemePasses) {
    const ToolRun run =
        runCheck({QStringLiteral("--json"), QStringLiteral("https://127.0.0.1:%1").arg(httpsPort)},
                 trustDemo());
    EXPECT_EQ(run.exitStatus, 0) << run.out.toStdString() << run.err.toStdString();
    EXPECT_EQ(run.json.value(QStringLiteral("problems")).toInt(), 0) << run.out.toStdString();
    EXPECT_EQ(findingsWithCode(run.json, QStringLiteral("update-keys-match")).size(), 1)
        << run.out.toStdString();
}

}  // namespace
}  // namespace zandrel::test
