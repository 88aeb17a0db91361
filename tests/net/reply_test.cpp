// What counts as a stored reply: only a complete 200 or 203, its header block ended and its body
// as long as the headers said. Replies written byte for byte by a raw server, including ones that
// no proper server would send.
#include "base/error.h"
#include "boxes/recording_boxes.h"
#include "folders/folder_helpers.h"
#include "net/download_file.h"
#include "raw_reply_server.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace zandrel::test {

using namespace zandrel::net;

namespace {

const QByteArray kOld = "[Main]\r\nhtml=http://old.example/\r\n";

struct Case {
    const char* name;
    QByteArray reply;
    bool stored;
    QByteArray body = {};  // what is stored, when it is
};

class ReplyTest : public ::testing::TestWithParam<Case> {};

TEST_P(ReplyTest, OnlyACompleteWholeFileIsStored) {
    const Case& c = GetParam();
    RawReplyServer server(c.reply);
    QTemporaryDir folder;
    writeFile(folder.filePath("connect.ini"), kOld);
    Inet inet;
    inet.setStallTimeoutMs(2000);
    inet.setRetryPolicy({5, 10});  // a cut is tried again: quickly here
    RecordingBoxes boxes;
    const bool stored = DownloadFile(inet, server.url("/connect.ini"), folder.path(), boxes);
    EXPECT_EQ(stored, c.stored);
    EXPECT_EQ(boxes.boxes.size(), c.stored ? 0u : 1u);
    EXPECT_EQ(readFile(folder.filePath("connect.ini")), c.stored ? c.body : kOld);
    EXPECT_EQ(folderEntries(folder.path()), QStringList{"connect.ini"});
}

const QByteArray kBody = "[Main]\r\nppf=1\r\n";  // 15 bytes

INSTANTIATE_TEST_SUITE_P(
    Replies, ReplyTest,
    ::testing::Values(
        Case{"StatusLineThenClose", "HTTP/1.1 200 OK\r\n", false},
        Case{"StatusLineWithoutItsEnd", "HTTP/1.1 200 OK", false},
        Case{"PartOfAHeader", "HTTP/1.1 200 OK\r\nContent-Type: text/pl", false},
        Case{"HeadersWithoutTheBlankLine", "HTTP/1.1 200 OK\r\nContent-Length: 15\r\n", false},
        Case{"BodyShorterThanAnnounced", "HTTP/1.1 200 OK\r\nContent-Length: 40\r\n\r\n" + kBody,
             false},
        Case{"ChunkedWithoutTheLastChunk",
             "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nf\r\n" + kBody + "\r\n", false},
        Case{"NoContent204", "HTTP/1.1 204 No Content\r\n\r\n", false},
        Case{"ResetContent205", "HTTP/1.1 205 Reset Content\r\nContent-Length: 0\r\n\r\n", false},
        Case{"PartialContent206",
             "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 0-14/900\r\n"
             "Content-Length: 15\r\n\r\n" +
                 kBody,
             false},
        Case{"NotModifiedUnasked", "HTTP/1.1 304 Not Modified\r\n\r\n", false},
        Case{"Accepted202", "HTTP/1.1 202 Accepted\r\nContent-Length: 15\r\n\r\n" + kBody, false},
        Case{"Ok200", "HTTP/1.1 200 OK\r\nContent-Length: 15\r\n\r\n" + kBody, true, kBody},
        Case{"NonAuthoritative203",
             "HTTP/1.1 203 Non-Authoritative Information\r\nContent-Length: 15\r\n\r\n" + kBody,
             true, kBody},
        Case{"ChunkedComplete",
             "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nf\r\n" + kBody + "\r\n0\r\n\r\n",
             true, kBody},
        // Without a length or chunks the body ends where the connection does, as HTTP says.
        Case{"BodyToTheClose", "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + kBody, true, kBody},
        Case{"EmptyOk", "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n", true, ""}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

TEST(ReplyError, CutHeadersAreNamedAsSuch) {
    RawReplyServer server("HTTP/1.1 200 OK\r\nContent-Length: 15\r\n");
    Inet inet;
    try {
        inet.OpenURL(server.url("/connect.ini"), [](QByteArrayView) {});
        FAIL() << "no error raised";
    } catch (const Error& e) {
        EXPECT_TRUE(e.is(TransferFailure::IncompleteReply)) << e.what();
    }
    EXPECT_FALSE(inet.LastFetch().complete);
}

}  // namespace
}  // namespace zandrel::test
