// Fetching again what is already here: the file keeps the server's Last-Modified as its time and
// its ETag, the next fetch of the same address asks whether it changed, and a 304 leaves it be.
#include "boxes/recording_boxes.h"
#include "folders/folder_helpers.h"
#include "net/download_file.h"
#include "net/fetch_record.h"
#include "test_http_server.h"

#include <QDateTime>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>

namespace zandrel::test {

using namespace zandrel::net;

namespace {

const QByteArray kV1 = "RAR! version 1 of the update";
const QByteArray kV2 = "RAR! version 2 of the update, longer";
const QByteArray kLastModified1 = "Tue, 03 Jun 2025 10:15:00 GMT";
const qint64 kEpoch1 = 1748945700;
const QByteArray kLastModified2 = "Wed, 04 Jun 2025 08:00:30 GMT";
const qint64 kEpoch2 = 1749024030;

HttpReply published(const QByteArray& body, const QByteArray& etag, const QByteArray& modified,
                    bool honours = true) {
    HttpReply r = HttpReply::ok(body);
    if (!etag.isEmpty()) r.headers.append({"ETag", etag});
    if (!modified.isEmpty()) r.headers.append({"Last-Modified", modified});
    r.honoursConditions = honours;
    return r;
}

struct FileState {
    ino_t inode = 0;
    qint64 mtime = 0;
};

FileState stateOf(const QString& path) {
    struct stat st {};
    ::stat(QFile::encodeName(path).constData(), &st);
    return {st.st_ino, static_cast<qint64>(st.st_mtim.tv_sec)};
}

// Gives the file the present time, as an editor or a copy would.
void touch(const QString& path) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    ASSERT_TRUE(f.setFileTime(QDateTime::currentDateTimeUtc(), QFileDevice::FileModificationTime));
}

// Changes one byte in place, as a hex editor would: same size, same inode.
void editInPlace(const QString& path) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    ASSERT_TRUE(f.seek(0));
    ASSERT_EQ(f.write("X", 1), 1);
}

// Puts other bytes of the same size in its place, with its modification time to the nanosecond,
// as a copy that keeps times would.
void replaceKeepingTime(const QString& path) {
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
    QByteArray bytes = readFile(path);
    bytes[0] = 'X';
    const QString copy = path + ".copy";
    writeFile(copy, bytes);
    const timespec times[2] = {st.st_atim, st.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(copy).constData(), times, 0), 0);
    ASSERT_EQ(::rename(QFile::encodeName(copy).constData(), QFile::encodeName(path).constData()),
              0);
}

// Whether files in folder can carry a user extended attribute (tmpfs before Linux 6.6 cannot).
bool keepsExtendedAttributes(const QString& folder) {
    const QString probe = folder + "/.xattr-probe";
    writeFile(probe, "x");
    const bool ok =
        ::setxattr(QFile::encodeName(probe).constData(), "user.zandrel.probe", "1", 1, 0) == 0;
    QFile::remove(probe);
    return ok;
}

class ConditionalFetch : public ::testing::Test {
protected:
    ConditionalFetch() { inet.setStallTimeoutMs(2000); }
    void SetUp() override {
        // Without them the record is not kept and every fetch is a plain one, by design.
        if (!keepsExtendedAttributes(dir.path()))
            GTEST_SKIP() << "the temporary folder's file system keeps no extended attributes";
    }

    QString file() const { return dir.filePath("zandrel.rar"); }
    bool download(const QString& path = QStringLiteral("/zandrel.rar")) {
        return DownloadFile(inet, server.url(path), dir.path(), boxes);
    }

    QTemporaryDir dir;
    TestHttpServer server;
    Inet inet;
    RecordingBoxes boxes;
};

TEST_F(ConditionalFetch, UnchangedFileIsAnsweredWith304AndLeftUntouched) {
    server.route("/zandrel.rar", published(kV1, "\"v1\"", kLastModified1));
    ASSERT_TRUE(download());
    EXPECT_EQ(readFile(file()), kV1);
    const FileState first = stateOf(file());
    EXPECT_EQ(first.mtime, kEpoch1);  // the server's time, not the time of the fetch

    ASSERT_TRUE(download());
    EXPECT_TRUE(boxes.boxes.empty());
    EXPECT_TRUE(inet.LastFetch().notModified);
    EXPECT_EQ(inet.LastFetch().status, 304);
    EXPECT_EQ(inet.LastFetch().bodyBytes, 0);
    const FileState second = stateOf(file());
    EXPECT_EQ(second.inode, first.inode);  // not even rewritten with the same bytes
    EXPECT_EQ(second.mtime, kEpoch1);
    EXPECT_EQ(readFile(file()), kV1);
    EXPECT_EQ(folderEntries(dir.path()), QStringList{"zandrel.rar"});
    EXPECT_EQ(server.requestHeaders("If-None-Match"), (QList<QByteArray>{"", "\"v1\""}));
    EXPECT_EQ(server.requestHeaders("If-Modified-Since"), (QList<QByteArray>{"", kLastModified1}));
}

TEST_F(ConditionalFetch, WhatTheServerChangedOrWillNotCompareIsFetchedAgain) {
    struct Case {
        const char* name;
        HttpReply second;
        qint64 mtime;
    };
    const Case cases[] = {
        {"changed: new ETag and time", published(kV2, "\"v2\"", kLastModified2), kEpoch2},
        {"server ignores the conditions", published(kV2, "\"v1\"", kLastModified1, false), kEpoch1},
        {"server sends no validators any more", published(kV2, "", "", false), -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(file());
        boxes.boxes.clear();
        server.route("/zandrel.rar", published(kV1, "\"v1\"", kLastModified1));
        ASSERT_TRUE(download());
        server.route("/zandrel.rar", c.second);
        EXPECT_TRUE(download());
        EXPECT_TRUE(boxes.boxes.empty());
        EXPECT_FALSE(inet.LastFetch().notModified);
        EXPECT_EQ(readFile(file()), kV2);
        if (c.mtime >= 0) {
            EXPECT_EQ(stateOf(file()).mtime, c.mtime);
        }
        EXPECT_EQ(folderEntries(dir.path()), QStringList{"zandrel.rar"});
    }
}

// A condition is only asked for a file that is what the same address gave: never for a file
// of the same name from another server, or one changed since.
TEST_F(ConditionalFetch, AsksOnlyAboutTheFileThatSameAddressGave) {
    TestHttpServer other;
    struct Case {
        const char* name;
        std::function<void()> meanwhile;
        QString url;
        QByteArray lastModified = kLastModified1;  // empty: the server sends an ETag only
    };
    const Case cases[] = {
        {"another server's file of that name", [] {}, other.url("/zandrel.rar")},
        {"the file was written over", [this] { writeFile(file(), kV1 + "!"); },
         server.url("/zandrel.rar")},
        {"the file was touched", [this] { touch(file()); }, server.url("/zandrel.rar")},
        {"edited in place at the same size, ETag only", [this] { editInPlace(file()); },
         server.url("/zandrel.rar"), ""},
        {"replaced by a copy of the same size and time, ETag only",
         [this] { replaceKeepingTime(file()); }, server.url("/zandrel.rar"), ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(file());
        server.route("/zandrel.rar", published(kV1, "\"v1\"", c.lastModified));
        other.route("/zandrel.rar", published(kV2, "\"v1\"", kLastModified1));
        ASSERT_TRUE(download());
        c.meanwhile();
        const qsizetype asked = other.requestHeaders("If-None-Match").size() +
                                server.requestHeaders("If-None-Match").size();
        ASSERT_TRUE(DownloadFile(inet, c.url, dir.path(), boxes));
        EXPECT_FALSE(inet.LastFetch().conditional);
        EXPECT_FALSE(inet.LastFetch().notModified);
        EXPECT_EQ(other.requestHeaders("If-None-Match").size() +
                      server.requestHeaders("If-None-Match").size(),
                  asked + 1);
        EXPECT_TRUE(boxes.boxes.empty());
    }
}

// The record lies on disk like any file: one that does not hold up is ignored, and nothing from
// it reaches a request header.
TEST_F(ConditionalFetch, ARecordThatDoesNotHoldUpIsIgnored) {
    const QByteArray url = server.url("/zandrel.rar").toUtf8();
    const QByteArray size = QByteArray::number(kV1.size());
    struct Case {
        const char* name;
        QByteArray record;  // "STATE" stands for the file's own time and inode
    };
    const Case cases[] = {
        {"not a record", "hello"},
        {"a header smuggled in the ETag",
         "zandrel-fetch 2\n" + url + "\n\"v1\"\rX-Injected: 1\n-1\n" + size + "\nSTATE"},
        {"a line too many",
         "zandrel-fetch 2\n" + url + "\n\"v1\"\nX-Injected: 1\n-1\n" + size + "\nSTATE"},
        {"another size", "zandrel-fetch 2\n" + url + "\n\"v1\"\n-1\n9999\nSTATE"},
        {"a time that is not a number",
         "zandrel-fetch 2\n" + url + "\n\"v1\"\nsoon\n" + size + "\nSTATE"},
        {"another inode", "zandrel-fetch 2\n" + url + "\n\"v1\"\n-1\n" + size + "\nOTHER"},
        {"a record of the earlier kind, without the file's state",
         "zandrel-fetch 1\n" + url + "\n\"v1\"\n-1\n" + size},
    };
    server.route("/zandrel.rar", published(kV2, "\"v1\"", "", true));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(file(), kV1);
        struct stat st {};
        ASSERT_EQ(::stat(QFile::encodeName(file()).constData(), &st), 0);
        const QByteArray time =
            QByteArray::number(qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec);
        QByteArray record = c.record;
        record.replace("STATE", time + "\n" + QByteArray::number(quint64(st.st_ino)));
        record.replace("OTHER", time + "\n" + QByteArray::number(quint64(st.st_ino) + 1));
        ASSERT_EQ(::setxattr(QFile::encodeName(file()).constData(), kFetchRecordAttribute,
                             record.constData(), size_t(record.size()), 0),
                  0);
        const qsizetype before = server.requestHeaders("If-None-Match").size();
        EXPECT_TRUE(download());
        EXPECT_FALSE(inet.LastFetch().conditional);
        EXPECT_EQ(readFile(file()), kV2);
        ASSERT_EQ(server.requestHeaders("If-None-Match").size(), before + 1);
        EXPECT_EQ(server.requestHeaders("If-None-Match").last(), "");
        EXPECT_EQ(server.requestHeaders("X-Injected").last(), "");
    }
}

TEST_F(ConditionalFetch, LastModifiedAloneIsAskedWithIfModifiedSince) {
    server.route("/connect.ini", published("[Main]\r\n", "", kLastModified2));
    ASSERT_TRUE(download("/connect.ini"));
    ASSERT_TRUE(download("/connect.ini"));
    EXPECT_TRUE(inet.LastFetch().notModified);
    EXPECT_EQ(server.requestHeaders("If-Modified-Since").value(1), kLastModified2);
    EXPECT_EQ(server.requestHeaders("If-None-Match").value(1), "");
}

// A server whose files are dated in the future: the date is neither the file's time nor asked
// with, so the server's next change is fetched; its ETag still serves.
TEST_F(ConditionalFetch, ALastModifiedFromTheFutureIsNeitherTheFileTimeNorAskedWith) {
    const QByteArray future = "Tue, 01 Jan 2030 00:00:00 GMT";
    for (const QByteArray& etag : {QByteArray("\"v1\""), QByteArray()}) {
        SCOPED_TRACE(etag.isEmpty() ? "Last-Modified only" : "with an ETag");
        QFile::remove(file());
        server.route("/zandrel.rar", published(kV1, etag, future));
        const qint64 before = QDateTime::currentSecsSinceEpoch();
        ASSERT_TRUE(download());
        const qint64 mtime = stateOf(file()).mtime;
        EXPECT_GE(mtime, before - 1);
        EXPECT_LE(mtime, QDateTime::currentSecsSinceEpoch() + 1);

        server.route("/zandrel.rar", published(kV2, etag, future));
        ASSERT_TRUE(download());
        EXPECT_EQ(server.requestHeaders("If-Modified-Since").last(), "");
        EXPECT_EQ(server.requestHeaders("If-None-Match").last(), etag);
        EXPECT_EQ(readFile(file()), etag.isEmpty() ? kV2 : kV1);
    }
}

TEST_F(ConditionalFetch, A304ToAPlainRequestIsAFailure) {
    writeFile(file(), kV1);  // a file of ours, but no record of where it came from
    HttpReply notModified;
    notModified.status = 304;
    server.route("/zandrel.rar", notModified);
    EXPECT_FALSE(download());
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(readFile(file()), kV1);
}

}  // namespace
}  // namespace zandrel::test
