// zandrel-check and the keys an administrator publishes beside the update: the two lines it
// computes from the update it fetched, a connect.ini whose keys do not match what is served, the
// mirrors it fetches one by one, and replies whose headers cannot be right.
#include "admin_server.h"

#include <QCryptographicHash>
#include <QJsonArray>

#include <gtest/gtest.h>

namespace zandrel::test {
namespace {

std::string str(const QByteArray& b) {
    return b.toStdString();
}

QByteArray sha256Hex(const QByteArray& bytes) {
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
}

QStringList codesOf(const QJsonObject& report, const QString& step) {
    QStringList codes;
    for (const QJsonValue& f : report.value(QStringLiteral("findings")).toArray())
        if (f.toObject().value(QStringLiteral("step")).toString() == step)
            codes << f.toObject().value(QStringLiteral("code")).toString();
    return codes;
}

// An administrator's round: the checker prints the two lines; pasted into connect.ini they pass;
// a new update uploaded without new keys (or keys uploaded before the update finished) is a
// problem that names both hashes and both sizes.
TEST(CheckToolUpdateKeys, PrintsTheLinesToPasteAndHoldsTheServedUpdateToThem) {
    AdminServer server;
    const QByteArray rar = server.file(QStringLiteral("zandrel.rar"));
    ASSERT_FALSE(rar.isEmpty());
    const QByteArray hashLine = "UpdateSHA256=" + sha256Hex(rar);
    const QByteArray sizeLine = "UpdateSize=" + QByteArray::number(rar.size());

    const ToolRun first = runCheck({server.address()});
    EXPECT_EQ(first.exitStatus, 0) << str(first.out);
    const QList<QByteArray> lines = first.out.split('\n');
    const qsizetype at = lines.indexOf(hashLine);
    ASSERT_GE(at, 0) << str(first.out);
    EXPECT_EQ(lines.value(at + 1), sizeLine) << str(first.out);
    EXPECT_TRUE(first.out.endsWith("\nOK\n")) << str(first.out);

    server.publishSettings(hashLine + "\r\n" + sizeLine + "\r\n");
    const ToolRun pasted = runCheck({QStringLiteral("--json"), server.address()});
    EXPECT_EQ(pasted.exitStatus, 0) << str(pasted.out);
    EXPECT_EQ(findingsWithCode(pasted.json, QStringLiteral("update-keys-match")).size(), 1)
        << str(pasted.out);
    EXPECT_EQ(pasted.json.value(QStringLiteral("linesToPaste")).toArray().toVariantList(),
              (QVariantList{QString::fromLatin1(hashLine), QString::fromLatin1(sizeLine)}));

    // The archive is replaced; connect.ini still names the old one.
    const QByteArray newer = rarArchive({{.name = "canyon.map", .data = "a newer canyon"}});
    server.put(QStringLiteral("zandrel.rar"), newer);
    const ToolRun stale = runCheck({QStringLiteral("--json"), server.address()});
    EXPECT_EQ(stale.exitStatus, 1) << str(stale.out);
    const auto hash = findingsWithCode(stale.json, QStringLiteral("update-hash-mismatch"));
    const auto size = findingsWithCode(stale.json, QStringLiteral("update-size-mismatch"));
    ASSERT_EQ(hash.size(), 1) << str(stale.out);
    ASSERT_EQ(size.size(), 1) << str(stale.out);
    EXPECT_EQ(hash[0].value(QStringLiteral("severity")).toString(), QStringLiteral("problem"));
    const QString text = hash[0].value(QStringLiteral("text")).toString();
    EXPECT_TRUE(text.contains(QString::fromLatin1(sha256Hex(rar).left(12)))) << str(stale.out);
    EXPECT_TRUE(text.contains(QString::fromLatin1(sha256Hex(newer).left(12)))) << str(stale.out);
    EXPECT_EQ(size[0].value(QStringLiteral("announced")).toDouble(), double(rar.size()));
    EXPECT_EQ(size[0].value(QStringLiteral("served")).toDouble(), double(newer.size()));
    EXPECT_EQ(findingsWithCode(stale.json, QStringLiteral("update-keys-match")).size(), 0);
    EXPECT_TRUE(stale.leftBehind.isEmpty()) << stale.leftBehind.join(' ').toStdString();
}

// Every mirror is fetched once and weighed against the announced hash; one that serves other
// bytes, answers 404 or cannot be reached is a problem of its own, named by its key.
TEST(CheckToolMirrors, EachMirrorIsFetchedAndWeighedAgainstTheHash) {
    AdminServer server;
    const QByteArray rar = server.file(QStringLiteral("zandrel.rar"));
    TestHttpServer mirrors;
    mirrors.route(QStringLiteral("/same/zandrel.rar"), HttpReply::ok(rar));
    mirrors.route(QStringLiteral("/other/zandrel.rar"), HttpReply::ok(rar.chopped(1) + "!"));
    mirrors.route(QStringLiteral("/halo maps/zandrel.rar"), HttpReply::ok(rar));
    int closedPort = 0;
    {
        const TestHttpServer gone;
        closedPort = gone.port();
    }
    server.publishSettings("UpdateSHA256=" + sha256Hex(rar).toUpper() +
                           "\r\n"
                           "Mirror1=" +
                           mirrors.url(QStringLiteral("/same/zandrel.rar")).toUtf8() +
                           "\r\n"
                           "Mirror2=" +
                           mirrors.url(QStringLiteral("/other/zandrel.rar")).toUtf8() +
                           "\r\n"
                           "Mirror3=" +
                           mirrors.url(QStringLiteral("/missing/zandrel.rar")).toUtf8() +
                           "\r\n"
                           "Mirror5=http://127.0.0.1:" +
                           QByteArray::number(closedPort) +
                           "/zandrel.rar\r\n"
                           "Mirror6=" +
                           mirrors.url(QStringLiteral("/halo maps/zandrel.rar")).toUtf8() + "\r\n");
    const ToolRun run = runCheck({QStringLiteral("--json"), server.address()});
    EXPECT_EQ(run.exitStatus, 1) << str(run.out);
    EXPECT_EQ(
        codesOf(run.json, QStringLiteral("mirrors")),
        (QStringList{"mirror-ok", "mirror-differs", "mirror-failed", "mirror-failed", "mirror-ok"}))
        << str(run.out);
    const auto differs = findingsWithCode(run.json, QStringLiteral("mirror-differs"));
    ASSERT_EQ(differs.size(), 1);
    EXPECT_EQ(differs[0].value(QStringLiteral("key")).toString(), QStringLiteral("Mirror2"));
    const auto failed = findingsWithCode(run.json, QStringLiteral("mirror-failed"));
    ASSERT_EQ(failed.size(), 2);
    EXPECT_TRUE(failed[0].value(QStringLiteral("text")).toString().contains(QStringLiteral("404")))
        << str(run.out);
    EXPECT_EQ(failed[1].value(QStringLiteral("key")).toString(), QStringLiteral("Mirror5"));
    EXPECT_EQ(findingsWithCode(run.json, QStringLiteral("update-keys-match")).size(), 1);
    // Each mirror was asked once; the address with a space was sent encoded, as a browser does.
    EXPECT_EQ(mirrors.requestedPaths().count(QStringLiteral("/same/zandrel.rar")), 1);
    EXPECT_EQ(mirrors.requestedPaths().count(QStringLiteral("/other/zandrel.rar")), 1);
    EXPECT_EQ(mirrors.requestedPaths().count(QStringLiteral("/halo maps/zandrel.rar")), 1)
        << mirrors.requestedPaths().join(' ').toStdString();
    EXPECT_TRUE(run.leftBehind.isEmpty()) << run.leftBehind.join(' ').toStdString();
}

// Without mirrors nothing is fetched for them and the step does not appear.
TEST(CheckToolMirrors, NoMirrorsNoStep) {
    AdminServer server;
    const ToolRun run = runCheck({QStringLiteral("--json"), server.address()});
    EXPECT_EQ(run.exitStatus, 0) << str(run.out);
    EXPECT_TRUE(codesOf(run.json, QStringLiteral("mirrors")).isEmpty()) << str(run.out);
}

// Settings values and reply headers that cannot be right, one each: the finding, its severity
// and the exit status.
TEST(CheckToolKeys, ValuesAndHeadersThatCannotBeRight) {
    struct Case {
        const char* name;
        std::function<void(AdminServer&)> setUp;
        const char* code;
        const char* severity;
        int exitStatus;
        const char* says;
    };
    const auto withHeader = [](AdminServer& s, const char* file, QByteArray header,
                               QByteArray value) {
        HttpReply reply = HttpReply::ok(s.file(QString::fromLatin1(file)));
        reply.headers = {{header, value}, {"ETag", "\"e\""}};
        s.http().route(QLatin1Char('/') + QString::fromLatin1(file), reply);
    };
    const Case cases[] = {
        {"a malformed hash and size",
         [](AdminServer& s) { s.publishSettings("UpdateSHA256=12ab\r\nUpdateSize=12 MB\r\n"); },
         "key-malformed", "warning", 0, "UpdateSHA256=12ab is not"},
        {"a Target in Windows-1252",
         [](AdminServer& s) {
             s.removeKey(QStringLiteral("Target"));
             s.publishSettings("Target=for\xEAt.map\r\n");
         },
         "key-not-utf8", "warning", 0,
         "Target is not UTF-8: the program reads it in "
         "Windows-1252, as \"for\u00EAt.map\""},
        {"mirrors without a hash",
         [](AdminServer& s) {
             s.publishSettings("Mirror1=" + s.http().url(QStringLiteral("/zandrel.rar")).toUtf8() +
                               "\r\n");
         },
         "mirrors-unused", "warning", 0, "no valid UpdateSHA256"},
        {"an update sent gzip-encoded unasked",
         [&](AdminServer& s) { withHeader(s, "zandrel.rar", "Content-Encoding", "gzip"); },
         "unasked-encoding", "problem", 1, "\"Content-Encoding: gzip\""},
        {"settings sent deflate-encoded unasked",
         [&](AdminServer& s) { withHeader(s, "connect.ini", "Content-Encoding", "deflate"); },
         "unasked-encoding", "problem", 1, "connect.ini"},
        {"settings answered with a web page",
         [](AdminServer& s) {
             test::HttpReply page = test::HttpReply::ok("<html><body>Log in first</body></html>");
             page.contentType = "text/html";
             s.http().route(QStringLiteral("/connect.ini"), page);
         },
         "settings-fetch-failed", "problem", 1, "sent a web page (text/html) instead of the file"},
        {"an update dated in the future",
         [&](AdminServer& s) {
             withHeader(s, "zandrel.rar", "Last-Modified", "Mon, 01 Jul 2030 10:00:00 GMT");
         },
         "last-modified-future", "warning", 0, "Mon, 01 Jul 2030 10:00:00 GMT"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AdminServer server;
        c.setUp(server);
        const ToolRun run = runCheck({QStringLiteral("--json"), server.address()});
        const auto found = findingsWithCode(run.json, QString::fromLatin1(c.code));
        ASSERT_FALSE(found.isEmpty()) << str(run.out);
        EXPECT_EQ(found[0].value(QStringLiteral("severity")).toString(), QLatin1String(c.severity));
        EXPECT_TRUE(
            found[0].value(QStringLiteral("text")).toString().contains(QString::fromUtf8(c.says)))
            << str(run.out);
        EXPECT_EQ(run.exitStatus, c.exitStatus) << str(run.out);
    }
}

}  // namespace
}  // namespace zandrel::test
