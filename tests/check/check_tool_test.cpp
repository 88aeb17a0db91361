// zandrel-check run as a process against loopback servers: the good servers pass with every
// step shown, each broken server gives its finding and exit status, the JSON form parses back,
// the command line is checked, and nothing is written outside the tool's temporary folder.
#include "admin_server.h"

#include <QJsonArray>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>

namespace zandrel::test {
namespace {

std::string str(const QByteArray& b) {
    return b.toStdString();
}

// The text's finding lines and its last line, without the lines to paste (an empty line, a
// heading, the lines, an empty line).
QList<QByteArray> findingLines(const QByteArray& text) {
    QList<QByteArray> lines;
    bool inBlock = false;
    for (const QByteArray& line : text.trimmed().split('\n')) {
        if (line.isEmpty()) {
            inBlock = !inBlock;
            continue;
        }
        if (!inBlock) lines.append(line);
    }
    return lines;
}

QStringList stepsOf(const QByteArray& text) {
    QStringList steps;
    for (const QByteArray& line : findingLines(text)) {
        const QString step = QString::fromUtf8(line).section(QLatin1Char(' '), 0, 0);
        if (!step.isEmpty() && !steps.contains(step)) steps.append(step);
    }
    return steps;
}

// A player's copy of ridge.map (version 1) and of another map, for --map.
class PlayerMaps {
public:
    PlayerMaps() {
        put(QStringLiteral("ridge.map"), mapBytes("ridge", 1));
        put(QStringLiteral("harbor.map"), mapBytes("harbor", 1));
        put(QStringLiteral("patched/ridge.map"), editedMap(mapBytes("ridge", 1)));
    }
    QString path(const QString& name) const { return dir_.filePath(name); }

private:
    void put(const QString& name, const QByteArray& bytes) {
        QDir(dir_.path()).mkpath(QFileInfo(dir_.filePath(name)).path());
        QFile f(dir_.filePath(name));
        if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size()) qFatal("cannot write");
    }
    QTemporaryDir dir_;
};

TEST(CheckToolGoodServers, RarServerPassesWithEveryStepShown) {
    AdminServer server;
    const ToolRun run = runCheck({server.address()});
    EXPECT_EQ(run.exitStatus, 0) << str(run.out) << str(run.err);
    const QString out = QString::fromUtf8(run.out);
    EXPECT_EQ(stepsOf(run.out), (QStringList{"settings", "keys", "update", "OK"})) << str(run.out);
    EXPECT_TRUE(
        out.contains(QStringLiteral("fetching http://%1/connect.ini").arg(server.address())));
    EXPECT_TRUE(out.contains(QStringLiteral("HaloIP = \"127.0.0.1:2302\"")));
    EXPECT_TRUE(out.contains(QStringLiteral("Format of update is RAR")));
    EXPECT_TRUE(
        out.contains(QStringLiteral("fetching http://%1/zandrel.rar").arg(server.address())));
    EXPECT_TRUE(out.contains(QStringLiteral("maps/canyon.map (65537 bytes)"))) << str(run.out);
    EXPECT_TRUE(out.contains(QStringLiteral("maps/glacier.map (65536 bytes)")));
    EXPECT_TRUE(out.endsWith(QStringLiteral("\nOK\n"))) << str(run.out);
    EXPECT_TRUE(run.leftBehind.isEmpty()) << run.leftBehind.join(' ').toStdString();
    // The RAR server's patch is never asked for.
    EXPECT_FALSE(server.http().requestedPaths().contains(QStringLiteral("/zandrel.ppf")));
}

TEST(CheckToolGoodServers, PpfServerPassesAndThePatchFitsTheMap) {
    AdminServer server;
    server.makePpfServer();
    PlayerMaps maps;
    const ToolRun run =
        runCheck({QStringLiteral("--map"), maps.path("ridge.map"), server.address()});
    EXPECT_EQ(run.exitStatus, 0) << str(run.out) << str(run.err);
    const QString out = QString::fromUtf8(run.out);
    EXPECT_EQ(stepsOf(run.out), (QStringList{"settings", "keys", "update", "OK"})) << str(run.out);
    EXPECT_TRUE(out.contains(QStringLiteral("Format of update is PPF")));
    EXPECT_TRUE(out.contains(QStringLiteral("PPF3.0 patch \"Ridge version 2\""))) << str(run.out);
    EXPECT_TRUE(out.contains(QStringLiteral("the patch applies to \"ridge.map\""))) << str(run.out);
    EXPECT_FALSE(server.http().requestedPaths().contains(QStringLiteral("/zandrel.rar")));
    // The player's map is tried on a copy, never changed.
    QFile map(maps.path("ridge.map"));
    ASSERT_TRUE(map.open(QIODevice::ReadOnly));
    EXPECT_EQ(map.readAll(), mapBytes("ridge", 1));
    EXPECT_TRUE(run.leftBehind.isEmpty()) << run.leftBehind.join(' ').toStdString();
}

TEST(CheckToolGoodServers, PpfServerWithoutMapSaysWhatWasNotTried) {
    AdminServer server;
    server.makePpfServer();
    const ToolRun run = runCheck({QStringLiteral("--json"), server.address()});
    EXPECT_EQ(run.exitStatus, 0) << str(run.out);
    EXPECT_EQ(findingsWithCode(run.json, QStringLiteral("patch-not-tried")).size(), 1);
    const auto description = findingsWithCode(run.json, QStringLiteral("patch-description"));
    ASSERT_EQ(description.size(), 1);
    EXPECT_EQ(description[0].value(QStringLiteral("description")).toString(),
              QStringLiteral("Ridge version 2"));
}

// An update handed on to https is fine when its certificate can be verified, as the program
// verifies it (here against the authority given in CURL_CA_BUNDLE).
TEST(CheckToolGoodServers, UpdateRedirectedToTrustedHttpsPasses) {
    AdminServer server;
    server.moveToHttps(QStringLiteral("zandrel.rar"));
    const ToolRun run = runCheck({QStringLiteral("--json"), server.address()},
                                 {QStringLiteral("CURL_CA_BUNDLE=") + server.caBundle()});
    EXPECT_EQ(run.exitStatus, 0) << str(run.out) << str(run.err);
    const auto fetched = findingsWithCode(run.json, QStringLiteral("update-fetched"));
    ASSERT_EQ(fetched.size(), 1) << str(run.out);
    EXPECT_EQ(fetched[0].value(QStringLiteral("redirects")).toInt(), 1);
    EXPECT_TRUE(fetched[0].value(QStringLiteral("finalUrl")).toString().startsWith("https://"));
    EXPECT_TRUE(fetched[0].value(QStringLiteral("tlsVerified")).toBool());
    EXPECT_TRUE(fetched[0]
                    .value(QStringLiteral("text"))
                    .toString()
                    .contains(QStringLiteral(
                        "after 1 redirect, https with a verified certificate, ETag \"on-https\"")))
        << str(run.out);
    EXPECT_EQ(findingsWithCode(run.json, QStringLiteral("archive-entry")).size(), 2);
}

// The JSON form holds the same findings as the text form, in the same order.
TEST(CheckToolJson, ParsesBackWithTheSameFindingsAsTheText) {
    AdminServer server;
    server.setKey(QStringLiteral("HaloIP"), QStringLiteral("127.0.0.1"));
    server.publishSettings();
    const ToolRun text = runCheck({server.address()});
    const ToolRun json = runCheck({QStringLiteral("--json"), server.address()});
    ASSERT_FALSE(json.json.isEmpty()) << str(json.out);
    EXPECT_EQ(json.exitStatus, text.exitStatus);
    EXPECT_EQ(json.json.value(QStringLiteral("exitStatus")).toInt(), json.exitStatus);
    EXPECT_EQ(json.json.value(QStringLiteral("address")).toString(), server.address());
    EXPECT_EQ(json.json.value(QStringLiteral("result")).toString(),
              QStringLiteral("OK, 1 warning"));
    EXPECT_EQ(json.json.value(QStringLiteral("warnings")).toInt(), 1);
    EXPECT_EQ(json.json.value(QStringLiteral("problems")).toInt(), 0);

    const QList<QByteArray> lines = findingLines(text.out);
    const QJsonArray findings = json.json.value(QStringLiteral("findings")).toArray();
    ASSERT_EQ(lines.size(), findings.size() + 1) << str(text.out);
    for (qsizetype i = 0; i < findings.size(); ++i) {
        const QJsonObject f = findings[i].toObject();
        SCOPED_TRACE(str(lines[i]));
        const QStringList parts = QString::fromUtf8(lines[i]).simplified().split(QLatin1Char(' '));
        ASSERT_GE(parts.size(), 3);
        EXPECT_EQ(parts[0], f.value(QStringLiteral("step")).toString());
        EXPECT_EQ(parts[1], f.value(QStringLiteral("severity")).toString());
        EXPECT_TRUE(
            QString::fromUtf8(lines[i]).endsWith(f.value(QStringLiteral("text")).toString()));
    }
    EXPECT_EQ(QString::fromUtf8(lines.last()), QStringLiteral("OK, 1 warning"));
}

// ---- broken servers, one fault each ----

enum class Sev { Info, Warning, Problem };

struct Broken {
    const char* name;
    std::function<void(AdminServer&)> breakIt;
    const char* code;  // the finding that names the fault
    Sev severity;
    int exitStatus;
    const char* map = nullptr;   // --map, from PlayerMaps
    const char* says = nullptr;  // in the finding's text
};

// Rows are named in test output by their name, not their bytes.
void PrintTo(const Broken& c, std::ostream* os) {
    *os << c.name;
}

void setKey(AdminServer& s, const char* key, const char* value) {
    s.setKey(QString::fromUtf8(key), QString::fromUtf8(value));
    s.publishSettings();
}
void removeKey(AdminServer& s, const char* key) {
    s.removeKey(QString::fromUtf8(key));
    s.publishSettings();
}
void archive(AdminServer& s, std::vector<rar::Entry> entries) {
    s.put(QStringLiteral("zandrel.rar"), rarArchive(entries));
}
rar::Entry file(const char* name) {
    return {.name = name, .data = "map bytes"};
}

const Broken kBroken[] = {
    {"NoSettingsFile", [](AdminServer& s) { s.removeSettings(); }, "settings-fetch-failed",
     Sev::Problem, 1, nullptr, "404"},
    {"HtmlMissing", [](AdminServer& s) { removeKey(s, "html"); }, "key-missing", Sev::Problem, 1},
    {"HtmlOnLocalFile", [](AdminServer& s) { setKey(s, "html", "file:///etc/passwd"); },
     "html-refused", Sev::Problem, 1, nullptr, "\"Error!\""},
    {"HtmlJavascript", [](AdminServer& s) { setKey(s, "html", "javascript:alert(1)"); },
     "html-refused", Sev::Problem, 1},
    {"HtmlMailLink", [](AdminServer& s) { setKey(s, "html", "mailto:admin@example.org"); },
     "html-mail-link", Sev::Warning, 0},
    {"HaloIPMissing", [](AdminServer& s) { removeKey(s, "HaloIP"); }, "key-missing", Sev::Problem,
     1},
    {"HaloIPWithoutPort", [](AdminServer& s) { setKey(s, "HaloIP", "127.0.0.1"); },
     "haloip-no-port", Sev::Warning, 0},
    {"HaloIPBadPort", [](AdminServer& s) { setKey(s, "HaloIP", "127.0.0.1:99999"); }, "haloip-bad",
     Sev::Warning, 0},
    {"TargetEmpty", [](AdminServer& s) { setKey(s, "Target", ""); }, "key-missing", Sev::Problem,
     1},
    {"TargetWithFolderOnRarServer", [](AdminServer& s) { setKey(s, "Target", "maps\\canyon.map"); },
     "target-not-plain", Sev::Warning, 0},
    {"TargetWithFolderOnPpfServer",
     [](AdminServer& s) {
         s.makePpfServer();
         setKey(s, "Target", "..\\halo.exe");
     },
     "target-not-plain", Sev::Problem, 1},
    {"TargetNotAMap", [](AdminServer& s) { setKey(s, "Target", "canyon.txt"); }, "target-not-map",
     Sev::Warning, 0},
    {"PpfZeroOne", [](AdminServer& s) { setKey(s, "ppf", "01"); }, "ppf-unclear", Sev::Warning, 0},
    {"PpfYesOnPatchServer",
     [](AdminServer& s) {
         s.makePpfServer();
         setKey(s, "ppf", "yes");
     },
     "update-fetch-failed", Sev::Problem, 1},
    {"PpfMissing", [](AdminServer& s) { removeKey(s, "ppf"); }, "key-missing", Sev::Problem, 1},
    {"AdminEmailNotAnAddress", [](AdminServer& s) { setKey(s, "AdminEmail", "the admin"); },
     "email-invalid", Sev::Warning, 0},
    {"AdminEmailWithMailto",
     [](AdminServer& s) { setKey(s, "AdminEmail", "mailto:admin@example.org"); }, "email-invalid",
     Sev::Warning, 0},
    {"AdminEmailMissing", [](AdminServer& s) { removeKey(s, "AdminEmail"); }, "key-missing",
     Sev::Problem, 1},
    {"NoLastModifiedOrETag", [](AdminServer& s) { s.setSendsValidators(false); }, "no-validator",
     Sev::Warning, 0},
    {"SettingsRedirectedToUntrustedHttps",
     [](AdminServer& s) { s.moveToHttps(QStringLiteral("connect.ini")); }, "settings-fetch-failed",
     Sev::Problem, 1, nullptr, "certificate could not be verified"},
    {"UpdateRedirectedToUntrustedHttps",
     [](AdminServer& s) { s.moveToHttps(QStringLiteral("zandrel.rar")); }, "update-fetch-failed",
     Sev::Problem, 1, nullptr, "certificate could not be verified"},
    {"ArchiveMissing", [](AdminServer& s) { s.remove(QStringLiteral("zandrel.rar")); },
     "update-fetch-failed", Sev::Problem, 1},
    {"ArchiveNotRar",
     [](AdminServer& s) { s.put(QStringLiteral("zandrel.rar"), "<html>404</html>"); },
     "archive-refused", Sev::Problem, 1},
    {"ArchiveTruncated",
     [](AdminServer& s) {
         s.put(QStringLiteral("zandrel.rar"), rarArchive({file("canyon.map")}).chopped(10));
     },
     "archive-refused", Sev::Problem, 1},
    {"ArchiveParentFolder", [](AdminServer& s) { archive(s, {file("..\\halo.exe")}); },
     "archive-refused", Sev::Problem, 1, nullptr, "halo.exe"},
    {"ArchiveAbsoluteName", [](AdminServer& s) { archive(s, {file("/etc/canyon.map")}); },
     "archive-refused", Sev::Problem, 1},
    {"ArchiveDriveLetter", [](AdminServer& s) { archive(s, {file("C:\\canyon.map")}); },
     "archive-refused", Sev::Problem, 1},
    {"ArchiveSymbolicLink",
     [](AdminServer& s) {
         archive(
             s, {{.name = "canyon.map", .kind = rar::Entry::Symlink, .linkTarget = "/etc/passwd"}});
     },
     "archive-refused", Sev::Problem, 1},
    {"ArchiveHardLink",
     [](AdminServer& s) {
         archive(s, {file("a.map"),
                     {.name = "canyon.map", .kind = rar::Entry::Hardlink, .linkTarget = "a.map"}});
     },
     "archive-refused", Sev::Problem, 1},
    {"ArchiveSameNameTwice",
     [](AdminServer& s) {
         archive(s, {file("canyon.map"), file("canyon.map")});
     },
     "archive-refused", Sev::Problem, 1},
    {"ArchiveEncryptedEntry",
     [](AdminServer& s) { archive(s, {{.name = "canyon.map", .data = "x", .encrypted = true}}); },
     "archive-refused", Sev::Problem, 1, nullptr, "encrypted"},
    {"ArchiveEncryptedHeaders",
     [](AdminServer& s) {
         s.put(QStringLiteral("zandrel.rar"),
               rarArchive({file("canyon.map")}, {.headersEncrypted = true}));
     },
     "archive-refused", Sev::Problem, 1, nullptr, "encrypted"},
    {"ArchiveWithoutEndBlock",
     [](AdminServer& s) {
         s.put(QStringLiteral("zandrel.rar"),
               rarArchive({file("canyon.map")}, {.endBlock = false}));
     },
     "archive-refused", Sev::Problem, 1},
    {"ArchiveOneVolumeOfSeveral",
     [](AdminServer& s) {
         s.put(QStringLiteral("zandrel.rar"),
               rarArchive({file("canyon.map")}, {.nextVolume = true}));
     },
     "archive-refused", Sev::Problem, 1},
    {"ArchiveSameNameInOtherCase",
     [](AdminServer& s) {
         archive(s, {file("canyon.map"), file("CANYON.MAP")});
     },
     "archive-refused", Sev::Problem, 1},
    {"ArchiveNameTooLong",
     [](AdminServer& s) { archive(s, {file((std::string(300, 'n') + ".map").c_str())}); },
     "archive-refused", Sev::Problem, 1},
    {"ArchiveTooDeep",
     [](AdminServer& s) {
         std::string name;
         for (int i = 0; i < 40; ++i) name += "d/";
         archive(s, {file((name + "canyon.map").c_str())});
     },
     "archive-refused", Sev::Problem, 1},
    {"ArchiveWithoutTarget", [](AdminServer& s) { archive(s, {file("glacier.map")}); },
     "archive-no-target", Sev::Warning, 0},
    {"PatchMissing",
     [](AdminServer& s) {
         s.makePpfServer();
         s.remove(QStringLiteral("zandrel.ppf"));
     },
     "update-fetch-failed", Sev::Problem, 1},
    {"PatchCorrupt",
     [](AdminServer& s) {
         s.makePpfServer();
         s.put(QStringLiteral("zandrel.ppf"), "PPF30 not really a patch");
     },
     "patch-corrupt", Sev::Problem, 1},
    {"PatchForAnotherMap", [](AdminServer& s) { s.makePpfServer(); }, "patch-does-not-fit",
     Sev::Problem, 1, "harbor.map", "validation"},
    {"PatchAlreadyApplied", [](AdminServer& s) { s.makePpfServer(); }, "patch-already-applied",
     Sev::Info, 0, "patched/ridge.map"},
};

class CheckToolBrokenServers : public ::testing::TestWithParam<Broken> {};

TEST_P(CheckToolBrokenServers, ReportsTheFaultWithItsExitStatus) {
    const Broken& c = GetParam();
    AdminServer server;
    c.breakIt(server);
    PlayerMaps maps;
    QStringList args{QStringLiteral("--json")};
    if (c.map) args << QStringLiteral("--map") << maps.path(QString::fromUtf8(c.map));
    args << server.address();
    const ToolRun run = runCheck(args);

    EXPECT_EQ(run.exitStatus, c.exitStatus) << str(run.out) << str(run.err);
    ASSERT_FALSE(run.json.isEmpty()) << str(run.out);
    EXPECT_EQ(run.json.value(QStringLiteral("exitStatus")).toInt(), run.exitStatus);
    const auto found = findingsWithCode(run.json, QString::fromUtf8(c.code));
    ASSERT_FALSE(found.isEmpty()) << c.code << " not in " << str(run.out);
    const char* severity = c.severity == Sev::Problem   ? "problem"
                           : c.severity == Sev::Warning ? "warning"
                                                        : "info";
    EXPECT_EQ(found[0].value(QStringLiteral("severity")).toString(), QLatin1String(severity));
    if (c.says) {
        EXPECT_TRUE(
            found[0].value(QStringLiteral("text")).toString().contains(QString::fromUtf8(c.says)))
            << str(run.out);
    }
    // Whatever the server sent, the tool wrote only into its own temporary folder, and removed it.
    EXPECT_TRUE(run.leftBehind.isEmpty()) << run.leftBehind.join(' ').toStdString();
    EXPECT_TRUE(run.err.isEmpty()) << str(run.err);
}

INSTANTIATE_TEST_SUITE_P(OneFaultEach, CheckToolBrokenServers, ::testing::ValuesIn(kBroken),
                         [](const auto& info) { return std::string(info.param.name); });

// A missing key shows players the reader's box: the finding quotes it.
// The header pass names every reason to refuse an archive, not only the first, and every entry.
TEST(CheckToolArchive, EveryReasonToRefuseIsListed) {
    AdminServer server;
    archive(server, {file("canyon.map"),
                     file("..\\halo.exe"),
                     {.name = "link.map", .kind = rar::Entry::Symlink, .linkTarget = "/etc"}});
    const ToolRun run = runCheck({QStringLiteral("--json"), server.address()});
    EXPECT_EQ(run.exitStatus, 1) << str(run.out);
    const auto refused = findingsWithCode(run.json, QStringLiteral("archive-refused"));
    ASSERT_EQ(refused.size(), 2) << str(run.out);
    EXPECT_TRUE(refused[0].value(QStringLiteral("text")).toString().contains("halo.exe"));
    EXPECT_TRUE(refused[1].value(QStringLiteral("text")).toString().contains("link.map"));
    EXPECT_EQ(run.json.value(QStringLiteral("result")).toString(), QStringLiteral("2 problems"));
    EXPECT_TRUE(run.leftBehind.isEmpty()) << run.leftBehind.join(' ').toStdString();
}

TEST(CheckToolKeys, MissingKeyQuotesTheBoxPlayersSee) {
    AdminServer server;
    server.removeKey(QStringLiteral("HaloIP"));
    server.publishSettings();
    const ToolRun run = runCheck({QStringLiteral("--json"), server.address()});
    const auto found = findingsWithCode(run.json, QStringLiteral("key-missing"));
    ASSERT_EQ(found.size(), 1) << str(run.out);
    EXPECT_EQ(found[0].value(QStringLiteral("key")).toString(), QStringLiteral("HaloIP"));
    EXPECT_TRUE(found[0]
                    .value(QStringLiteral("text"))
                    .toString()
                    .contains(QStringLiteral(
                        "\"Initialization File Error\": Error Number: -2147219990\r\nError "
                        "Description: Initialization File Error!")))
        << str(run.out);
}

// Values are read as the program reads them: trimmed of spaces, cut at 254 bytes, first key wins.
TEST(CheckToolKeys, ValuesAreReadAsTheProgramReadsThem) {
    AdminServer server;
    server.setKey(QStringLiteral("ppf"), QStringLiteral("  1  "));
    server.makePpfServer();
    server.setKey(QStringLiteral("ppf"), QStringLiteral("  1  "));
    server.setKey(QStringLiteral("AdminEmail"), QString(300, QLatin1Char('a')) + "@example.org");
    server.publishSettings("HaloIP=10.0.0.1:2302\r\n");
    const ToolRun run = runCheck({QStringLiteral("--json"), server.address()});
    const auto values = findingsWithCode(run.json, QStringLiteral("key-value"));
    QMap<QString, QString> read;
    for (const auto& v : values)
        read[v.value(QStringLiteral("key")).toString()] =
            v.value(QStringLiteral("value")).toString();
    EXPECT_EQ(read.value(QStringLiteral("ppf")), QStringLiteral("1"));
    EXPECT_EQ(read.value(QStringLiteral("AdminEmail")), QString(254, QLatin1Char('a')));
    EXPECT_EQ(read.value(QStringLiteral("HaloIP")), QStringLiteral("127.0.0.1:2302"));
    const auto format = findingsWithCode(run.json, QStringLiteral("update-format"));
    ASSERT_EQ(format.size(), 1);
    EXPECT_EQ(format[0].value(QStringLiteral("format")).toString(), QStringLiteral("ppf"));
    // The cut address has no "@" left: a warning, as players' mail would go nowhere.
    EXPECT_EQ(findingsWithCode(run.json, QStringLiteral("email-invalid")).size(), 1);
}

TEST(CheckToolReach, UnreachableServerExitsWithTwo) {
    QString address;
    {
        TestHttpServer gone;
        address = gone.address();
    }  // nothing listens there now
    const ToolRun run = runCheck({QStringLiteral("--json"), address});
    EXPECT_EQ(run.exitStatus, 2) << str(run.out);
    EXPECT_EQ(findingsWithCode(run.json, QStringLiteral("settings-unreachable")).size(), 1);
    EXPECT_EQ(run.json.value(QStringLiteral("result")).toString(), QStringLiteral("1 problem"));
}

// A trickling update fails on the rate floor once: one request, one finding, no second fetch to
// learn why (the time-out already said it).
TEST(CheckToolReach, TricklingUpdateIsReportedOnceWithoutASecondFetch) {
    AdminServer server;
    HttpReply slow = HttpReply::ok(QByteArray(1 << 20, 'x'));
    slow.pieceSize = 1024;  // about 10 KB/s
    slow.pauseMs = 100;
    server.http().route(QStringLiteral("/zandrel.rar"), slow);
    const ToolRun run = runCheck({QStringLiteral("--json"), QStringLiteral("--min-rate"),
                                  QStringLiteral("65536/0.5"), server.address()});
    EXPECT_EQ(run.exitStatus, 1) << str(run.out);
    const auto found = findingsWithCode(run.json, QStringLiteral("update-fetch-failed"));
    ASSERT_EQ(found.size(), 1) << str(run.out);
    EXPECT_TRUE(
        found[0].value(QStringLiteral("text")).toString().contains("Fewer than 65536 bytes"))
        << str(run.out);
    EXPECT_EQ(server.http().requestedPaths().count(QStringLiteral("/zandrel.rar")), 1);
}

// A large update reports its progress on standard error; standard output holds the report only.
TEST(CheckToolProgress, LargeUpdateShowsProgressOnStandardError) {
    AdminServer server;
    archive(server, {{.name = "canyon.map", .data = std::string(12 << 20, 'm')}});
    const ToolRun run = runCheck({server.address()});
    EXPECT_EQ(run.exitStatus, 0) << str(run.out) << str(run.err);
    EXPECT_TRUE(run.err.contains("zandrel-check: zandrel.rar: ")) << str(run.err);
    EXPECT_TRUE(run.err.contains("(100%)")) << str(run.err);
    EXPECT_TRUE(run.err.contains("zandrel-check: unpacking zandrel.rar: ")) << str(run.err);
    EXPECT_FALSE(run.out.contains("MiB")) << str(run.out);
}

struct Usage {
    const char* name;
    QStringList args;
    int exitStatus;
    const char* says;  // on standard error, or standard output for --help
};

TEST(CheckToolUsage, CommandLineIsChecked) {
    const Usage cases[] = {
        {"no address", {}, 2, "no address given"},
        {"two addresses", {"a.example.org", "b.example.org"}, 2, "one address at a time"},
        {"unknown option", {"--fast", "a.example.org"}, 2, "unknown option --fast"},
        {"map without file", {"a.example.org", "--map"}, 2, "--map takes a file"},
        {"map with an empty name", {"--map=", "a.example.org"}, 2, "--map takes a file"},
        {"map not there",
         {"--map", "/nonexistent/ridge.map", "a.example.org"},
         2,
         "is not a readable file"},
        {"rate that is not BYTES/SECONDS",
         {"--min-rate", "fast", "a.example.org"},
         2,
         "--min-rate takes BYTES/SECONDS"},
        {"help",
         {"--help"},
         0,
         "Usage: zandrel-check [--map FILE] [--min-rate BYTES/SECONDS] [--json] ADDRESS"},
    };
    for (const Usage& c : cases) {
        SCOPED_TRACE(c.name);
        const ToolRun run = runCheck(c.args);
        EXPECT_EQ(run.exitStatus, c.exitStatus);
        EXPECT_TRUE((c.exitStatus == 0 ? run.out : run.err).contains(c.says))
            << str(run.out) << str(run.err);
    }
}

}  // namespace
}  // namespace zandrel::test
