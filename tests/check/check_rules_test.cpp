// The rules the checker shares with the program (which ppf values select the patch, which target
// names may be patched, which information pages the web view shows), the checker's own
// judgements of values, and its report's last line, exit status and JSON form.
#include "report.h"
#include "server/page_address.h"
#include "server/settings.h"
#include "value_checks.h"

#include "base/error.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

namespace zandrel::check {
namespace {

TEST(CheckRulesSettings, OnlyExactlyOneSelectsThePatch) {
    const struct {
        const char* value;
        bool ppf;
        bool clearlyRar;
    } cases[] = {
        {"1", true, false},     {"01", false, false}, {"1.0", false, false},  {"yes", false, false},
        {"true", false, false}, {"", false, false},   {"0", false, true},     {"rar", false, true},
        {"RAR", false, true},   {"No", false, true},  {"false", false, true}, {"off", false, true},
        {"1 ", false, false},  // the reader trims; a value that still has a blank is not "1"
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        EXPECT_EQ(server::isPpfUpdate(QString::fromUtf8(c.value)), c.ppf);
        EXPECT_EQ(ppfValueClearlyRar(QString::fromUtf8(c.value)), c.clearlyRar);
    }
}

TEST(CheckRulesSettings, PlainMapFileNames) {
    const struct {
        const char* name;
        bool plain;
    } cases[] = {
        {"canyon.map", true},
        {"Blood Gulch.map", true},
        {"map", true},
        {"", false},
        {".", false},
        {"..", false},
        {" . ", false},
        {"maps\\canyon.map", false},
        {"../canyon.map", false},
        {"C:canyon.map", false},
        {"can\"yon.map", false},
        {"canyon.map\n", false},
        {"canyon.map\x7f", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(server::isPlainMapFileName(QString::fromUtf8(c.name)), c.plain);
    }
}

TEST(CheckRulesSettings, InformationPageAddresses) {
    const struct {
        const char* address;
        const char* page;  // nullptr: refused
    } cases[] = {
        {"http://example.org/info.html", "http://example.org/info.html"},
        {"https://example.org/", "https://example.org/"},
        {"example.org:8080/info", "http://example.org:8080/info"},
        {"about:blank", "about:blank"},
        {"", nullptr},
        {"   ", nullptr},
        {"file:///etc/passwd", nullptr},
        {"javascript:alert(1)", nullptr},
        {"data:text/html,hi", nullptr},
        {"ftp://example.org/", nullptr},
        {"http://", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.address);
        if (c.page) {
            EXPECT_EQ(server::pageAddress(QString::fromUtf8(c.address), QStringLiteral("test")),
                      QUrl(QString::fromUtf8(c.page)));
        } else {
            try {
                server::pageAddress(QString::fromUtf8(c.address), QStringLiteral("test"));
                ADD_FAILURE() << "accepted";
            } catch (const Error& e) {
                EXPECT_TRUE(e.is(ErrorNumber::InvalidArgument)) << e.number();
                EXPECT_EQ(e.source(), QStringLiteral("test"));
            }
        }
    }
}

TEST(CheckRulesValues, MailAddresses) {
    const struct {
        const char* value;
        bool ok;
    } cases[] = {
        {"admin@example.org", true},
        {"first.last+zandrel@mail.example.co.uk", true},
        {"admin@example", false},
        {"admin", false},
        {"@example.org", false},
        {"admin@", false},
        {"a@b@example.org", false},
        {"the admin@example.org", false},
        {"mailto:admin@example.org", false},
        {"admin@example.org?attach=/etc/passwd", false},
        {"admin@-example.org", false},
        {"admin@example..org", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        const QString fault = mailAddressFault(QString::fromUtf8(c.value));
        EXPECT_EQ(fault.isEmpty(), c.ok) << fault.toStdString();
    }
}

TEST(CheckRulesValues, GameServerAddresses) {
    const struct {
        const char* value;
        bool ok;
        bool missingPort;
    } cases[] = {
        {"127.0.0.1:2302", true, false},
        {"halo.example.org:2305", true, false},
        {"[::1]:2302", true, false},
        {"127.0.0.1", false, true},
        {"halo.example.org", false, true},
        {"[::1]", false, true},
        {"::1", false, false},
        {"127.0.0.1:", false, false},
        {"127.0.0.1:0", false, false},
        {"127.0.0.1:65536", false, false},
        {"127.0.0.1:23o2", false, false},
        {":2302", false, false},
        {"127.0.0.1:2302 -console", false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        bool missingPort = true;
        const QString fault = gameAddressFault(QString::fromUtf8(c.value), &missingPort);
        EXPECT_EQ(fault.isEmpty(), c.ok) << fault.toStdString();
        EXPECT_EQ(missingPort, c.missingPort);
    }
}

TEST(CheckRulesValues, MapExtension) {
    EXPECT_TRUE(hasMapExtension(QStringLiteral("canyon.map")));
    EXPECT_TRUE(hasMapExtension(QStringLiteral("CANYON.MAP")));
    EXPECT_FALSE(hasMapExtension(QStringLiteral(".map")));
    EXPECT_FALSE(hasMapExtension(QStringLiteral("canyon.map.bak")));
}

TEST(CheckReport, LastLineAndExitStatusFollowTheWorstFinding) {
    Report report(QStringLiteral("example.org"));
    EXPECT_EQ(report.lastLine(), QStringLiteral("OK"));
    EXPECT_EQ(report.exitStatus(), kExitOk);
    report.info(QStringLiteral("keys"), QStringLiteral("key-value"), QStringLiteral("a = b"));
    report.warning(QStringLiteral("keys"), QStringLiteral("w"), QStringLiteral("odd"));
    EXPECT_EQ(report.lastLine(), QStringLiteral("OK, 1 warning"));
    EXPECT_EQ(report.exitStatus(), kExitOk);
    report.problem(QStringLiteral("update"), QStringLiteral("p"), QStringLiteral("bad"));
    report.warning(QStringLiteral("keys"), QStringLiteral("w"), QStringLiteral("odd too"));
    EXPECT_EQ(report.lastLine(), QStringLiteral("1 problem, 2 warnings"));
    EXPECT_EQ(report.exitStatus(), kExitProblems);
    report.problem(QStringLiteral("update"), QStringLiteral("p"), QStringLiteral("worse"));
    EXPECT_EQ(report.lastLine(), QStringLiteral("2 problems, 2 warnings"));
    report.setUnusable();
    EXPECT_EQ(report.exitStatus(), kExitUnusable);
}

// A server's text cannot break the one-line-per-finding form; JSON keeps it as it is.
TEST(CheckReport, ServerTextStaysOnItsLine) {
    Report report(QStringLiteral("example.org"));
    const QString hostile = QStringLiteral("a\r\nOK\n\x1b[2Jb\u202edesrever");
    report.info(QStringLiteral("keys"), QStringLiteral("key-value"), hostile,
                QJsonObject{{QStringLiteral("value"), hostile}});
    const QStringList lines = report.toText().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 2);
    EXPECT_EQ(lines[0], QStringLiteral("keys     info    a / OK / \\x1b[2Jb\\u202edesrever"));
    EXPECT_EQ(lines[1], QStringLiteral("OK"));
    const QJsonObject doc = QJsonDocument::fromJson(report.toJson()).object();
    const QJsonObject f = doc.value(QStringLiteral("findings")).toArray().at(0).toObject();
    EXPECT_EQ(f.value(QStringLiteral("text")).toString(), hostile);
    EXPECT_EQ(f.value(QStringLiteral("value")).toString(), hostile);
    EXPECT_EQ(f.value(QStringLiteral("step")).toString(), QStringLiteral("keys"));
    EXPECT_EQ(f.value(QStringLiteral("severity")).toString(), QStringLiteral("info"));
}

}  // namespace
}  // namespace zandrel::check
