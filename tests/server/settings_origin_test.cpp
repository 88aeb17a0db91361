// Which address the settings file came from: noted on the file by the fetch that stored it, and
// lost with the file whenever anything else puts a file in its place.
#include "server/settings_origin.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <functional>

namespace zandrel::server {
namespace {

const QString kUrl = QStringLiteral("http://127.0.0.1:8801/connect.ini");

bool write(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

TEST(SettingsOrigin, OnlyTheFileTheFetchFromThatAddressStoredStandsIn) {
    struct Case {
        const char* name;
        std::function<void(const QString& file, const QString& dir)> after;  // the visit's file
        QString url;
        bool standsIn;
    };
    const Case cases[] = {
        {"the same address", {}, kUrl, true},
        {"another address", {}, QStringLiteral("http://127.0.0.1:8899/connect.ini"), false},
        {"another folder of the host",
         {},
         QStringLiteral("http://127.0.0.1:8801/x/connect.ini"),
         false},
        {"replaced by another file",
         [](const QString& file, const QString& dir) {
             ASSERT_TRUE(write(dir + QStringLiteral("/new"), "[Main]\r\nHaloIP=1.2.3.4\r\n"));
             ASSERT_EQ(::rename(QFile::encodeName(dir + QStringLiteral("/new")).constData(),
                                QFile::encodeName(file).constData()),
                       0);
         },
         kUrl, false},
        {"gone", [](const QString& file, const QString&) { QFile::remove(file); }, kUrl, false},
        {"a link to the noted file in its place",
         [](const QString& file, const QString& dir) {
             const QString kept = dir + QStringLiteral("/kept.ini");
             ASSERT_TRUE(QFile::rename(file, kept));
             ASSERT_TRUE(QFile::link(kept, file));
         },
         kUrl, false},
        {"a FIFO in its place",
         [](const QString& file, const QString&) {
             QFile::remove(file);
             ASSERT_EQ(::mkfifo(QFile::encodeName(file).constData(), 0600), 0);
         },
         kUrl, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("connect.ini"));
        ASSERT_TRUE(write(file, "[Main]\r\nHaloIP=127.0.0.1:2302\r\n"));
        EXPECT_EQ(settingsToRead(file, kUrl, /*fetched=*/true), file);
        if (c.after) c.after(file, dir.path());
        EXPECT_EQ(settingsCameFrom(file, c.url), c.standsIn);
        // A failed fetch reads the file, or nothing: the empty name reads as a missing file.
        EXPECT_EQ(settingsToRead(file, c.url, /*fetched=*/false), c.standsIn ? file : QString());
    }
}

TEST(SettingsOrigin, AFileNoFetchStoredNeverStandsIn) {
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("connect.ini"));
    ASSERT_TRUE(write(file, "[Main]\r\nHaloIP=127.0.0.1:2302\r\n"));
    EXPECT_FALSE(settingsCameFrom(file, kUrl));
    EXPECT_EQ(settingsToRead(file, kUrl, /*fetched=*/false), QString());
    EXPECT_EQ(settingsToRead(file, kUrl, /*fetched=*/true), file);
}

}  // namespace
}  // namespace zandrel::server
