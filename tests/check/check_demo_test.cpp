// The demo's two game servers pass the check: their web roots, as the demo build makes them,
// served on loopback (on a port of the test's own, so a running demo does not get in the way).
#include "admin_server.h"

#include <QFile>

#include <gtest/gtest.h>

namespace zandrel::test {
namespace {

const QString kDemo = QStringLiteral(ZANDREL_DEMO_DIR);

TEST(CheckDemo, RarServerPasses) {
    TestHttpServer server(kDemo + QStringLiteral("/servers/rar"));
    const ToolRun run = runCheck({QStringLiteral("--json"), server.address()});
    EXPECT_EQ(run.exitStatus, 0) << run.out.toStdString() << run.err.toStdString();
    EXPECT_EQ(run.json.value(QStringLiteral("result")).toString(), QStringLiteral("OK"));
    EXPECT_EQ(findingsWithCode(run.json, QStringLiteral("archive-entry")).size(), 2);
}

TEST(CheckDemo, PpfServerPassesAndFitsTheSampleMap) {
    TestHttpServer server(kDemo + QStringLiteral("/servers/ppf"));
    const QString map = kDemo + QStringLiteral("/work/samples/ridge.map");
    ASSERT_TRUE(QFile::exists(map));
    const ToolRun run =
        runCheck({QStringLiteral("--json"), QStringLiteral("--map"), map, server.address()});
    EXPECT_EQ(run.exitStatus, 0) << run.out.toStdString() << run.err.toStdString();
    EXPECT_EQ(run.json.value(QStringLiteral("result")).toString(), QStringLiteral("OK"));
    EXPECT_EQ(findingsWithCode(run.json, QStringLiteral("patch-applies")).size(), 1);
}

}  // namespace
}  // namespace zandrel::test
