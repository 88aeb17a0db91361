// The settings file read into one value: the five keys with the reader's box for each missing or
// empty one, and the optional keys read quietly as absent, valid or malformed.
#include "server/settings_reader.h"
#include "server/settings.h"

#include "boxes/recording_boxes.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace zandrel::server {
namespace {

const QString kMissingPrompt =
    QStringLiteral("Error Number: -2147219990\r\nError Description: Initialization File Error!");

const QByteArray kFiveKeys =
    "[Main]\r\nhtml=http://example.org/info.html\r\nHaloIP=10.0.0.7:2302\r\n"
    "Target=ridge.map\r\nppf=1\r\nAdminEmail=admin@example.org\r\n";

class SettingsFile : public ::testing::Test {
protected:
    // Writes connect.ini (a null text: no file) and reads it.
    Settings read(const QByteArray& text) {
        const QString path = settingsFilePath(dir.path());
        QFile::remove(path);
        if (!text.isNull()) {
            QFile f(path);
            EXPECT_TRUE(f.open(QIODevice::WriteOnly));
            f.write(text);
        }
        return readSettings(path);
    }

    QTemporaryDir dir;
};

TEST_F(SettingsFile, FiveKeysWithTheReadersBoxForEachMissingOrEmptyOne) {
    struct Case {
        const char* name;
        QByteArray text;
        QStringList values;  // html, HaloIP, Target, ppf, AdminEmail; "-" for a missing key
        bool ppfUpdate;
    };
    const Case cases[] = {
        {"all five",
         kFiveKeys,
         {"http://example.org/info.html", "10.0.0.7:2302", "ridge.map", "1", "admin@example.org"},
         true},
        {"any order, other sections and comments, spaces trimmed",
         "; ours\n[Other]\nHaloIP=wrong\n[main]\nAdminEmail = a@b.org \nppf=  1  \n"
         "Target=Blood Gulch.map\nHaloIP=1.2.3.4:2302\nhtml=about:blank\nMirror1=x\n",
         {"about:blank", "1.2.3.4:2302", "Blood Gulch.map", "1", "a@b.org"},
         true},
        {"a missing key and an empty one",
         "[Main]\nhtml=about:blank\nTarget=ridge.map\nppf=\nAdminEmail=a@b.org\n",
         {"about:blank", "-", "ridge.map", "-", "a@b.org"},
         false},
        {"ppf other than exactly 1", "[Main]\nppf=01\n", {"-", "-", "-", "01", "-"}, false},
        {"no [Main] section", "[Server]\nhtml=about:blank\n", {"-", "-", "-", "-", "-"}, false},
        {"no file", QByteArray(), {"-", "-", "-", "-", "-"}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Settings s = read(c.text);
        const KeyValue* keys[] = {&s.html, &s.haloIP, &s.target, &s.ppf, &s.adminEmail};
        for (int i = 0; i < 5; ++i) {
            SCOPED_TRACE(i);
            const bool missing = c.values[i] == QLatin1String("-");
            EXPECT_EQ(keys[i]->found, !missing);
            EXPECT_EQ(keys[i]->text, missing ? QString() : c.values[i]);
            // What the player is shown for the key, through the same boxes a window uses.
            test::RecordingBoxes shown;
            keys[i]->tellPlayer(shown);
            ASSERT_EQ(shown.boxes.size(), missing ? 1u : 0u);
            if (missing) {
                EXPECT_EQ(shown.boxes[0].prompt, kMissingPrompt);
                EXPECT_EQ(shown.boxes[0].icon, MsgIcon::Critical);
                EXPECT_EQ(shown.boxes[0].title, QStringLiteral("Initialization File Error"));
            }
        }
        EXPECT_EQ(s.ppfUpdate(), c.ppfUpdate);
        // The optional keys make no box, present or not.
        EXPECT_EQ(s.updateSha256.state,
                  c.text.contains("UpdateSHA256") ? Announced::Valid : Announced::Absent);
        EXPECT_EQ(s.mirrors[0].state,
                  c.text.contains("Mirror1") ? Announced::Malformed : Announced::Absent);
    }
}

// One optional key's value as a line of the file, and what it reads as.
struct OptionalCase {
    const char* name;
    QByteArray line;  // appended to the five keys
    Announced state;
    QString raw;  // as read
};

QString hex64(char digit) {
    return QString(64, QLatin1Char(digit));
}

TEST_F(SettingsFile, UpdateHash) {
    const QString mixed = QStringLiteral("0123456789abcdefABCDEF") + QString(42, QLatin1Char('0'));
    const OptionalCase cases[] = {
        {"absent", "", Announced::Absent, {}},
        {"empty", "UpdateSHA256=\r\n", Announced::Absent, {}},
        {"lower case", "UpdateSHA256=" + hex64('a').toLatin1() + "\r\n", Announced::Valid,
         hex64('a')},
        {"mixed case, spaces around", "UpdateSHA256=  " + mixed.toLatin1() + " \r\n",
         Announced::Valid, mixed},
        {"63 digits", "UpdateSHA256=" + hex64('1').left(63).toLatin1() + "\r\n",
         Announced::Malformed, hex64('1').left(63)},
        {"65 digits", "UpdateSHA256=" + hex64('1').toLatin1() + "1\r\n", Announced::Malformed,
         hex64('1') + QLatin1Char('1')},
        {"not hex", "UpdateSHA256=" + hex64('g').toLatin1() + "\r\n", Announced::Malformed,
         hex64('g')},
        {"with a prefix", "UpdateSHA256=sha256:" + hex64('1').toLatin1() + "\r\n",
         Announced::Malformed, QStringLiteral("sha256:") + hex64('1')},
    };
    for (const OptionalCase& c : cases) {
        SCOPED_TRACE(c.name);
        const Settings s = read(kFiveKeys + c.line);
        EXPECT_EQ(s.updateSha256.state, c.state);
        EXPECT_EQ(s.updateSha256.raw, c.raw);
        if (c.state == Announced::Valid) {
            EXPECT_EQ(s.updateSha256.value, QByteArray::fromHex(c.raw.toLatin1()));
            EXPECT_EQ(s.updateSha256.value.size(), 32);
        }
    }
    EXPECT_EQ(read(kFiveKeys + "UpdateSHA256=" + mixed.toLatin1()).updateSha256.value.toHex(),
              mixed.toLower().toLatin1());
}

TEST_F(SettingsFile, UpdateSize) {
    const struct {
        OptionalCase c;
        std::int64_t bytes;
    } cases[] = {
        {{"absent", "", Announced::Absent, {}}, 0},
        {{"bytes", "UpdateSize=131173\r\n", Announced::Valid, "131173"}, 131173},
        {{"zero", "UpdateSize=0\r\n", Announced::Valid, "0"}, 0},
        {{"largest", "UpdateSize=9223372036854775807\r\n", Announced::Valid, "9223372036854775807"},
         INT64_MAX},
        {{"too large", "UpdateSize=9223372036854775808\r\n", Announced::Malformed,
          "9223372036854775808"},
         0},
        {{"negative", "UpdateSize=-1\r\n", Announced::Malformed, "-1"}, 0},
        {{"signed", "UpdateSize=+5\r\n", Announced::Malformed, "+5"}, 0},
        {{"with a unit", "UpdateSize=12 MB\r\n", Announced::Malformed, "12 MB"}, 0},
        {{"hexadecimal", "UpdateSize=0x10\r\n", Announced::Malformed, "0x10"}, 0},
        {{"a tab inside", "UpdateSize=1\t2\r\n", Announced::Malformed, "1\t2"}, 0},
    };
    for (const auto& [c, bytes] : cases) {
        SCOPED_TRACE(c.name);
        const Settings s = read(kFiveKeys + c.line);
        EXPECT_EQ(s.updateSize.state, c.state);
        EXPECT_EQ(s.updateSize.raw, c.raw);
        EXPECT_EQ(s.updateSize.value, bytes);
    }
}

TEST_F(SettingsFile, Mirrors) {
    const QString longAddress =
        QStringLiteral("https://mirror.example.org/") + QString(240, QLatin1Char('a'));
    const OptionalCase cases[] = {
        {"absent", "", Announced::Absent, {}},
        {"https", "Mirror1=https://mirror.example.org/halo/zandrel.rar\r\n", Announced::Valid,
         "https://mirror.example.org/halo/zandrel.rar"},
        {"http with a port", "Mirror1=HTTP://10.0.0.9:8080/zandrel.ppf\r\n", Announced::Valid,
         "HTTP://10.0.0.9:8080/zandrel.ppf"},
        {"no scheme", "Mirror1=mirror.example.org/zandrel.rar\r\n", Announced::Malformed,
         "mirror.example.org/zandrel.rar"},
        {"another scheme", "Mirror1=ftp://mirror.example.org/zandrel.rar\r\n", Announced::Malformed,
         "ftp://mirror.example.org/zandrel.rar"},
        {"a local file", "Mirror1=file:///etc/passwd\r\n", Announced::Malformed,
         "file:///etc/passwd"},
        {"no host", "Mirror1=http:///zandrel.rar\r\n", Announced::Malformed, "http:///zandrel.rar"},
        // The reader gives the first 254 bytes of it: another address, not this one.
        {"longer than the reader reads", "Mirror1=" + longAddress.toLatin1() + "\r\n",
         Announced::Malformed, longAddress.left(254)},
    };
    for (const OptionalCase& c : cases) {
        SCOPED_TRACE(c.name);
        const Settings s = read(kFiveKeys + c.line);
        EXPECT_EQ(s.mirrors[0].state, c.state);
        EXPECT_EQ(s.mirrors[0].raw, c.raw);
        if (c.state == Announced::Valid) {
            EXPECT_EQ(s.mirrors[0].value, QUrl(c.raw));
        }
    }
}

TEST_F(SettingsFile, MirrorsByNumberOneToNine) {
    const Settings s = read(kFiveKeys +
                            "Mirror0=http://zero.example.org/u\r\n"
                            "Mirror3=http://three.example.org/u\r\n"
                            "Mirror9=nine\r\n"
                            "Mirror10=http://ten.example.org/u\r\n");
    for (int i = 0; i < kMirrorCount; ++i) {
        SCOPED_TRACE(mirrorKey(i + 1).toStdString());
        const Announced expected = i == 2   ? Announced::Valid
                                   : i == 8 ? Announced::Malformed
                                            : Announced::Absent;
        EXPECT_EQ(s.mirrors[i].state, expected);
    }
    EXPECT_EQ(s.mirrors[2].value.host(), QStringLiteral("three.example.org"));
}

// Malformed optional values are ignored and listed, so that the player is told once, in one box
// (and the checker once, a line each); valid and absent ones are not listed.
TEST_F(SettingsFile, MalformedOptionalValuesMakeOneBox) {
    const Settings s = read(kFiveKeys +
                            "UpdateSHA256=zz\r\n"
                            "UpdateSize=12 MB\r\n"
                            "Mirror1=http://one.example.org/u\r\n"
                            "Mirror2=nowhere\r\n"
                            "Mirror4=http://evil\xE2\x80\xAEtxt.exe\r\n");
    QStringList keys;
    for (const SettingsProblem& p : s.problems) keys << p.key;
    // A host name with a right-to-left override in it is no address either.
    EXPECT_EQ(keys, (QStringList{"UpdateSHA256", "UpdateSize", "Mirror2", "Mirror4"}));
    EXPECT_EQ(s.problems[1].raw, QStringLiteral("12 MB"));
    EXPECT_EQ(s.updateSha256.state, Announced::Malformed);
    EXPECT_EQ(s.mirrors[0].state, Announced::Valid);

    test::RecordingBoxes shown;
    s.tellPlayerAboutProblems(shown);
    ASSERT_EQ(shown.boxes.size(), 1u);
    EXPECT_EQ(shown.boxes[0].icon, MsgIcon::Information);
    const QStringList lines = shown.boxes[0].prompt.split(QStringLiteral("\r\n"));
    ASSERT_EQ(lines.size(), 5);
    EXPECT_EQ(lines[1], QStringLiteral("UpdateSHA256=zz is not a SHA-256 of 64 hexadecimal digits; "
                                       "it is ignored"));
    EXPECT_TRUE(lines[3].startsWith(QStringLiteral("Mirror2=nowhere is not")))
        << lines[3].toStdString();
    EXPECT_TRUE(lines[4].startsWith(QStringLiteral("Mirror4=http://evil\\u202etxt.exe is not")))
        << lines[4].toStdString();

    // A value from the server is shown escaped: a right-to-left override cannot turn the line.
    const Settings evil = read(kFiveKeys +
                               "UpdateSize=1\xE2\x80\xAE"
                               "2\r\n");
    ASSERT_EQ(evil.problems.size(), 1);
    EXPECT_FALSE(evil.problems[0].text.contains(QChar(0x202E)));
    EXPECT_TRUE(evil.problems[0].text.contains(QStringLiteral("\\u202e")))
        << evil.problems[0].text.toStdString();

    test::RecordingBoxes none;
    read(kFiveKeys + "UpdateSize=5\r\n").tellPlayerAboutProblems(none);
    EXPECT_TRUE(none.boxes.empty());
}

// A value written in the Windows code page reads as the administrator meant it, and the keys
// read so are named (the checker warns about them).
TEST_F(SettingsFile, ValuesNotInUtf8AreReadAsWindows1252AndNamed) {
    const Settings s = read(
        "[Main]\r\nhtml=about:blank\r\nHaloIP=h:1\r\nTarget=for\xEAt.map\r\nppf=1\r\n"
        "AdminEmail=ren\xC3\xA9@example.org\r\nMirror2=http://m.example.org/caf\xE9.ppf\r\n");
    EXPECT_EQ(s.target.text, QStringLiteral("for\u00EAt.map"));
    EXPECT_EQ(s.adminEmail.text, QStringLiteral("ren\u00E9@example.org"));
    EXPECT_EQ(s.mirrors[1].raw, QStringLiteral("http://m.example.org/caf\u00E9.ppf"));
    using Values = QList<std::pair<QString, QString>>;
    EXPECT_EQ(s.windows1252Values(),
              (Values{{"Target", s.target.text}, {"Mirror2", s.mirrors[1].raw}}));
    EXPECT_TRUE(read(kFiveKeys).windows1252Values().isEmpty());
}

}  // namespace
}  // namespace zandrel::server
