#include "ini/creadini.h"

#include "boxes/recording_boxes.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <optional>

using zandrel::MsgIcon;
using zandrel::ini::CReadINI;
using zandrel::test::RecordingBoxes;

namespace {

const QString kMissingPrompt =
    QStringLiteral("Error Number: -2147219990\r\nError Description: Initialization File Error!");

class CReadINITest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        iniPath = dir.filePath(QStringLiteral("connect.ini"));
        reader.setININame(iniPath);
        reader.setSection(QStringLiteral("Main"));
    }

    void write(const QByteArray& content) {
        QFile file(iniPath);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ASSERT_EQ(file.write(content), content.size());
    }

    std::optional<QString> read(const char* key) {
        reader.setKey(QString::fromUtf8(key));
        return reader.ReadINISettings();
    }

    void expectMissingBoxes(std::size_t count) {
        ASSERT_EQ(boxes.boxes.size(), count);
        for (const auto& box : boxes.boxes) {
            EXPECT_EQ(box.prompt, kMissingPrompt);
            EXPECT_EQ(box.icon, MsgIcon::Critical);
            EXPECT_EQ(box.title, QStringLiteral("Initialization File Error"));
        }
    }

    QTemporaryDir dir;
    QString iniPath;
    RecordingBoxes boxes;
    CReadINI reader{boxes};
};

TEST_F(CReadINITest, ReadsValues) {
    const QString euros = QString(84, QChar(0x20AC));
    write(
        "[Main]\r\n"
        "html = http://server/info.html  \r\n"
        "spaced=\"  inside  \"\r\n"
        "tabbed=\"\tx\t\"\r\n"
        "long=" +
        QByteArray(300, 'a') +
        "\r\n"
        "euros=a" +
        QString(200, QChar(0x20AC)).toUtf8() +
        "\r\n"
        "utf8=Карта\r\n");
    struct Case {
        const char* key;
        QString expected;
    };
    const Case cases[] = {
        {"html", QStringLiteral("http://server/info.html")},
        {"spaced", QStringLiteral("inside")},  // spaces trimmed once more here
        {"tabbed", QStringLiteral("\tx\t")},   // only spaces are trimmed
        {"long", QString(254, QLatin1Char('a'))},
        // 1 + 84 * 3 = 253 bytes, then one byte of the 85th euro sign that is dropped.
        {"euros", QStringLiteral("a") + euros},
        {"utf8", QString::fromUtf8("Карта")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.key);
        EXPECT_EQ(read(c.key), std::optional<QString>(c.expected));
    }
    EXPECT_TRUE(boxes.boxes.empty());
}

// Administrators write this file on Windows, often in its code page: a value that is not UTF-8
// is read as Windows-1252 (and said to be), so "for\xEAt.map" names forêt.map, not a file with a
// replacement character in its name.
TEST_F(CReadINITest, ValuesThatAreNotUtf8AreReadAsWindows1252) {
    write(
        "[Main]\r\n"
        "latin1=for\xEAt.map\r\n"
        "cp1252=\x80 5 \x93quoted\x94 \x8A\x9F\x81\r\n"
        "utf8=for\xC3\xAAt.map\r\n"
        "mixed=for\xC3\xAAt \xEA\r\n"
        "overlong=\xC0\xAF\r\n"
        "surrogate=\xED\xA0\x80\r\n"
        "long=" +
        QByteArray(300, '\xE9') +
        "\r\n"
        "ascii=plain\r\n");
    struct Case {
        const char* key;
        QString expected;
        bool windows1252;
    };
    const Case cases[] = {
        {"latin1", QStringLiteral("for\u00EAt.map"), true},
        {"cp1252", QStringLiteral("\u20AC 5 \u201Cquoted\u201D \u0160\u0178\u0081"), true},
        {"utf8", QStringLiteral("for\u00EAt.map"), false},
        // One byte that is not UTF-8 makes the whole value Windows-1252, as Windows reads it.
        {"mixed", QStringLiteral("for\u00C3\u00AAt \u00EA"), true},
        {"overlong", QStringLiteral("\u00C0\u00AF"), true},
        {"surrogate", QStringLiteral("\u00ED\u00A0\u20AC"), true},
        // All 254 bytes: no "partial character" is dropped from a value that is not UTF-8.
        {"long", QString(254, QChar(0xE9)), true},
        {"ascii", QStringLiteral("plain"), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.key);
        EXPECT_EQ(read(c.key), std::optional<QString>(c.expected));
        EXPECT_EQ(reader.lastValueWasWindows1252(), c.windows1252);
    }
    read("missing");
    EXPECT_FALSE(reader.lastValueWasWindows1252());
}

TEST_F(CReadINITest, EachFailureShowsOneBoxAndGivesNoValue) {
    write("[Main]\r\nppf=\r\nblank=   \r\n[Other]\r\nHaloIP=1.2.3.4\r\n");
    struct Case {
        const char* name;
        const char* section;
        const char* key;
    };
    const Case cases[] = {
        {"key with nothing after =", "Main", "ppf"}, {"value of spaces", "Main", "blank"},
        {"missing key", "Main", "Target"},           {"key in another section", "Main", "HaloIP"},
        {"missing section", "Nowhere", "ppf"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        reader.setSection(QString::fromUtf8(c.section));
        EXPECT_EQ(read(c.key), std::nullopt);
    }
    expectMissingBoxes(std::size(cases));
}

TEST_F(CReadINITest, MissingFile) {
    EXPECT_EQ(read("html"), std::nullopt);
    reader.setININame(dir.path());  // a folder
    EXPECT_EQ(read("html"), std::nullopt);
    reader.setININame(QString());
    EXPECT_EQ(read("html"), std::nullopt);
    expectMissingBoxes(3);
}

TEST_F(CReadINITest, FiveMissingKeysThenAGoodRead) {
    write("[Main]\r\nAdminEmail=admin@example.org\r\n");
    for (const char* key : {"html", "HaloIP", "Target", "ppf", "Admin"}) {
        SCOPED_TRACE(key);
        EXPECT_EQ(read(key), std::nullopt);
    }
    expectMissingBoxes(5);
    EXPECT_EQ(read("AdminEmail"), std::optional<QString>(QStringLiteral("admin@example.org")));
    EXPECT_EQ(boxes.boxes.size(), 5u);
}

TEST_F(CReadINITest, EveryReadGoesToTheFile) {
    write("[Main]\r\nTarget=old.map\r\n");
    EXPECT_EQ(read("Target"), std::optional<QString>(QStringLiteral("old.map")));
    write("[Main]\r\nTarget=new.map\r\n");
    EXPECT_EQ(read("Target"), std::optional<QString>(QStringLiteral("new.map")));
    ASSERT_TRUE(QFile::remove(iniPath));
    EXPECT_EQ(read("Target"), std::nullopt);
    expectMissingBoxes(1);
}

}  // namespace
