// DownloadFile: what lands in the folder, and that a failure shows one box and leaves the folder
// exactly as it was.
#include "net/download_file.h"
#include "boxes/recording_boxes.h"
#include "folders/folder_helpers.h"
#include "net/server_url.h"
#include "test_http_server.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace zandrel::test {

using namespace zandrel::net;

namespace {

const QString kFailurePrompt =
    QStringLiteral("An error has occured in the file transfer or write.  Please try again later.");
const QByteArray kOldContents = "[Main]\r\nhtml=http://old.example/\r\nHaloIP=10.0.0.1:2302\r\n";

class DownloadFileTest : public ::testing::Test {
protected:
    DownloadFileTest() {
        inet.setStallTimeoutMs(300);
        inet.setRetryPolicy({5, 10});  // cuts are tried again: quickly here
    }

    QString folder() const { return dir.path(); }
    QString inFolder(const QString& name) const { return dir.filePath(name); }

    bool download(const QString& url) { return DownloadFile(inet, url, folder(), boxes); }

    // Exactly one failure box, as the player sees it.
    void expectOneFailureBox() const {
        ASSERT_EQ(boxes.boxes.size(), 1u);
        EXPECT_EQ(boxes.boxes[0].prompt, kFailurePrompt);
        EXPECT_EQ(boxes.boxes[0].icon, MsgIcon::Information);
        EXPECT_TRUE(boxes.boxes[0].title.isEmpty());
    }

    QTemporaryDir dir;
    TestHttpServer server;
    Inet inet;
    RecordingBoxes boxes;
};

TEST_F(DownloadFileTest, StoresTheBodyUnderTheTextAfterTheLastSlash) {
    struct Case {
        const char* name;
        QString path;  // on the server; the URL is the server's address + this
        QString stored;
    };
    const Case cases[] = {
        {"settings file", "/connect.ini", "connect.ini"},
        {"letters, dots and case kept", "/Zandrel.v2.RAR", "Zandrel.v2.RAR"},
        {"address with a folder of its own", "/halo/server1/zandrel.ppf", "zandrel.ppf"},
        {"slash inside the query", "/get?file=maps/bloodgulch.map", "bloodgulch.map"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir target;
        boxes.boxes.clear();
        const QByteArray body = "body of " + c.path.toUtf8();
        server.route(c.path.section('?', 0, 0), HttpReply::ok(body));
        EXPECT_TRUE(DownloadFile(inet, server.url(c.path), target.path(), boxes));
        EXPECT_TRUE(boxes.boxes.empty());
        EXPECT_EQ(folderEntries(target.path()), QStringList{c.stored});
        EXPECT_EQ(readFile(target.filePath(c.stored)), body);
        // A new file is readable by all, as any other file the program leaves behind.
        EXPECT_TRUE(QFile::permissions(target.filePath(c.stored)) & QFileDevice::ReadOther);
    }
}

// A folder name with a space or a letter beyond ASCII, as an administrator may type it: the
// request carries it percent-encoded, the server finds the file, and it is stored by its name.
TEST_F(DownloadFileTest, AnAddressWithASpaceOrAnAccentReachesItsFolder) {
    for (const QString& folderName : {QStringLiteral("halo maps"), QStringLiteral("for\u00eat")}) {
        SCOPED_TRACE(folderName.toStdString());
        const QString path = QLatin1Char('/') + folderName + QStringLiteral("/connect.ini");
        server.route(path, HttpReply::ok("[Main]\r\n"));
        const QString url = serverFileUrl(server.address() + QLatin1Char('/') + folderName,
                                          QStringLiteral("connect.ini"));
        EXPECT_TRUE(download(url)) << url.toStdString();
        EXPECT_TRUE(boxes.boxes.empty());
        EXPECT_EQ(server.requestedPaths().last(), path);
        EXPECT_EQ(readFile(inFolder("connect.ini")), "[Main]\r\n");
    }
}

TEST_F(DownloadFileTest, LargeFileFromDiskArrivesIntact) {
    QTemporaryDir docroot;
    const QByteArray body = randomBytes(5 * 1024 * 1024 + 3);
    writeFile(docroot.filePath("zandrel.rar"), body);
    server.setDocumentRoot(docroot.path());
    EXPECT_TRUE(download(server.url("/zandrel.rar")));
    EXPECT_EQ(readFile(inFolder("zandrel.rar")), body);
    EXPECT_EQ(folderEntries(folder()), QStringList{"zandrel.rar"});

    // In small pieces, as a TLS connection hands them over: gathered into larger writes, the
    // bytes keep their order and the last partial batch is not lost.
    HttpReply pieces = HttpReply::ok(randomBytes(1024 * 1024 + 5));
    pieces.pieceSize = 1000;
    server.route("/pieces.rar", pieces);
    EXPECT_TRUE(download(server.url("/pieces.rar")));
    EXPECT_EQ(readFile(inFolder("pieces.rar")), pieces.body);
}

TEST_F(DownloadFileTest, ReplacesAnOlderLongerFileExactly) {
    const QFileDevice::Permissions kept =
        QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup;
    writeFile(inFolder("connect.ini"), kOldContents + QByteArray(4096, ';'));
    QFile::setPermissions(inFolder("connect.ini"), kept);
    server.route("/connect.ini", HttpReply::ok("[Main]\r\nppf=1\r\n"));
    EXPECT_TRUE(download(server.url("/connect.ini")));
    EXPECT_EQ(readFile(inFolder("connect.ini")), "[Main]\r\nppf=1\r\n");
    EXPECT_EQ(folderEntries(folder()), QStringList{"connect.ini"});
    EXPECT_EQ(QFile::permissions(inFolder("connect.ini")) & 0x7077, kept);
}

// An empty 200 reply is what the server holds, so it is stored as an empty file.
TEST_F(DownloadFileTest, EmptyReplyIsStoredAsAnEmptyFile) {
    writeFile(inFolder("connect.ini"), kOldContents);
    server.route("/connect.ini", HttpReply::ok(""));
    EXPECT_TRUE(download(server.url("/connect.ini")));
    EXPECT_TRUE(boxes.boxes.empty());
    EXPECT_EQ(readFile(inFolder("connect.ini")), "");
}

TEST_F(DownloadFileTest, FolderWithTrailingSeparatorStillNamesTheFile) {
    server.route("/zandrel.ppf", HttpReply::ok("PPF30"));
    EXPECT_TRUE(DownloadFile(inet, server.url("/zandrel.ppf"), folder() + "/", boxes));
    EXPECT_EQ(readFile(inFolder("zandrel.ppf")), "PPF30");
}

TEST_F(DownloadFileTest, FollowsARedirectAndKeepsTheRequestedName) {
    server.route("/connect.ini", HttpReply::redirect("/servers/a/settings.txt"));
    server.route("/servers/a/settings.txt", HttpReply::ok("[Main]\r\n"));
    EXPECT_TRUE(download(server.url("/connect.ini")));
    EXPECT_EQ(folderEntries(folder()), QStringList{"connect.ini"});
    EXPECT_EQ(readFile(inFolder("connect.ini")), "[Main]\r\n");
}

TEST_F(DownloadFileTest, TransferFailureLeavesTheOldFileAndOneBox) {
    HttpReply cut = HttpReply::ok(QByteArray(600, 'n'));
    cut.announcedLength = 2000;
    HttpReply silent = HttpReply::ok("too late");
    silent.delayMs = 5000;
    HttpReply stalls = HttpReply::ok(QByteArray(64 * 1024, 's'));
    stalls.pieceSize = 16 * 1024;
    stalls.pauseMs = 5000;
    int refusedPort = 0;
    {
        TestHttpServer gone;
        refusedPort = gone.port();
    }

    struct Case {
        const char* name;
        HttpReply reply;
        bool refused = false;
    };
    const Case cases[] = {
        {"404 with a page", HttpReply::error(404, "<html><body>404 Not Found</body></html>")},
        {"500 with a page", HttpReply::error(500, "<html><body>Server error</body></html>")},
        {"connection refused", {}, true},
        {"server never answers", silent},
        {"server stalls mid-body", stalls},
        {"body cut short", cut},
        {"redirect to another scheme", HttpReply::redirect("file:///etc/passwd")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        boxes.boxes.clear();
        writeFile(inFolder("connect.ini"), kOldContents);
        server.route("/connect.ini", c.reply);
        const QString url = c.refused
                                ? QStringLiteral("http://127.0.0.1:%1/connect.ini").arg(refusedPort)
                                : server.url("/connect.ini");
        EXPECT_FALSE(download(url));
        expectOneFailureBox();
        EXPECT_EQ(readFile(inFolder("connect.ini")), kOldContents);
        EXPECT_EQ(folderEntries(folder()), QStringList{"connect.ini"});
    }
}

TEST_F(DownloadFileTest, UrlThatNamesNoFileFailsWithoutARequest) {
    const QString cases[] = {
        server.address(),  // no "/" at all
        server.url("/"),   // ends in "/"
        server.url("/maps/"),
        server.url("/maps/.."),
    };
    for (const QString& url : cases) {
        SCOPED_TRACE(url.toStdString());
        boxes.boxes.clear();
        EXPECT_FALSE(download(url));
        expectOneFailureBox();
    }
    EXPECT_TRUE(folderEntries(folder()).isEmpty());
    EXPECT_TRUE(server.requestedPaths().isEmpty());
}

TEST_F(DownloadFileTest, DestinationThatCannotBeWrittenFails) {
    server.route("/connect.ini", HttpReply::ok("[Main]\r\n"));

    SCOPED_TRACE("missing folder");
    EXPECT_FALSE(DownloadFile(inet, server.url("/connect.ini"), inFolder("absent"), boxes));
    expectOneFailureBox();
    EXPECT_FALSE(QFileInfo::exists(inFolder("absent")));

    SCOPED_TRACE("the name is a folder");
    boxes.boxes.clear();
    ASSERT_TRUE(QDir(folder()).mkdir("connect.ini"));
    EXPECT_FALSE(download(server.url("/connect.ini")));
    expectOneFailureBox();
    EXPECT_TRUE(QFileInfo(inFolder("connect.ini")).isDir());
    EXPECT_EQ(folderEntries(folder()), QStringList{"connect.ini"});
}

TEST_F(DownloadFileTest, ReadOnlyFolderFailsAndKeepsTheOldFile) {
    writeFile(inFolder("connect.ini"), kOldContents);
    server.route("/connect.ini", HttpReply::ok("[Main]\r\n"));
    ReadOnlyFolder readOnly(folder());
    if (!readOnly.ok()) GTEST_SKIP() << "cannot make a folder read-only here";
    EXPECT_FALSE(download(server.url("/connect.ini")));
    expectOneFailureBox();
    EXPECT_EQ(readFile(inFolder("connect.ini")), kOldContents);
    EXPECT_EQ(folderEntries(folder()), QStringList{"connect.ini"});
}

TEST_F(DownloadFileTest, DiskFullMidWayKeepsTheOldFileAndLeavesNoTemporary) {
    writeFile(inFolder("zandrel.rar"), kOldContents);
    server.route("/zandrel.rar", HttpReply::ok(randomBytes(4 * 1024 * 1024)));
    bool stored = true;
    {
        FileSizeLimit full(1024 * 1024);
        stored = download(server.url("/zandrel.rar"));
    }
    EXPECT_FALSE(stored);
    expectOneFailureBox();
    EXPECT_EQ(readFile(inFolder("zandrel.rar")), kOldContents);
    EXPECT_EQ(folderEntries(folder()), QStringList{"zandrel.rar"});
}

TEST_F(DownloadFileTest, BusyComponentGivesFalseSilentlyAndTouchesNothing) {
    HttpReply slow = HttpReply::ok("[Main]\r\nppf=0\r\n");
    slow.pieceSize = 4;
    slow.pauseMs = 100;
    server.route("/connect.ini", slow);
    server.route("/zandrel.rar", HttpReply::ok("RAR!"));
    QTemporaryDir other;
    writeFile(other.filePath("zandrel.rar"), kOldContents);

    std::optional<bool> inner;
    inet.setIdleHook([&] {
        if (!inner) inner = DownloadFile(inet, server.url("/zandrel.rar"), other.path(), boxes);
    });
    EXPECT_TRUE(download(server.url("/connect.ini")));

    ASSERT_TRUE(inner.has_value());
    EXPECT_FALSE(*inner);
    EXPECT_TRUE(boxes.boxes.empty());
    EXPECT_EQ(readFile(other.filePath("zandrel.rar")), kOldContents);
    EXPECT_EQ(folderEntries(other.path()), QStringList{"zandrel.rar"});
    EXPECT_EQ(server.requestedPaths(), QStringList{"/connect.ini"});
    EXPECT_EQ(readFile(inFolder("connect.ini")), "[Main]\r\nppf=0\r\n");
}

// The player's cancel, asked from the idle hook once bytes have arrived: the transfer ends,
// nothing of it stays, no box is shown, and the same component fetches again afterwards.
TEST_F(DownloadFileTest, ACancelledTransferLeavesTheOldFileAndNoBox) {
    writeFile(inFolder("zandrel.rar"), kOldContents);
    const QByteArray body = randomBytes(64 * 1024);
    HttpReply slow = HttpReply::ok(body);
    slow.pieceSize = 4 * 1024;
    slow.pauseMs = 50;
    server.route("/zandrel.rar", slow);
    std::int64_t receivedAtCancel = -1;
    inet.setIdleHook([&] {
        if (receivedAtCancel < 0 && inet.BytesReceived() > 0) {
            receivedAtCancel = inet.BytesReceived();
            inet.cancel();
        }
    });
    EXPECT_FALSE(download(server.url("/zandrel.rar")));
    EXPECT_GT(receivedAtCancel, 0);
    EXPECT_LT(inet.BytesReceived(), body.size());
    EXPECT_TRUE(boxes.boxes.empty());
    EXPECT_FALSE(inet.LastFetch().complete);
    EXPECT_EQ(readFile(inFolder("zandrel.rar")), kOldContents);
    EXPECT_EQ(folderEntries(folder()), QStringList{"zandrel.rar"});

    // A cancel asked while nothing runs is not kept for the next request.
    inet.setIdleHook({});
    inet.cancel();
    server.route("/zandrel.rar", HttpReply::ok(body));
    EXPECT_TRUE(download(server.url("/zandrel.rar")));
    EXPECT_EQ(readFile(inFolder("zandrel.rar")), body);
}

}  // namespace
}  // namespace zandrel::test
