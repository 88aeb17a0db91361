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
        Case{"EmptyOk", "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n", true, ""},
        // A length no reply can have, then a body and the close: not the whole file.
        Case{"LengthPast63Bits",
             "HTTP/1.1 200 OK\r\nContent-Length: 9223372036854775808\r\n\r\n" + kBody, false},
        Case{"LengthJustUnder63Bits",
             "HTTP/1.1 200 OK\r\nContent-Length: 9223372036854775807\r\n\r\n" + kBody, false},
        Case{"TwoLengths",
             "HTTP/1.1 200 OK\r\nContent-Length: 15\r\nContent-Length: 16\r\n\r\n" + kBody, false},
        // We ask for no coding: bytes in one are not the file's own.
        Case{"UnaskedGzip",
             "HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\nContent-Length: 15\r\n\r\n" + kBody,
             false},
        Case{"UnaskedDeflate",
             "HTTP/1.1 200 OK\r\nContent-Encoding: deflate\r\nConnection: close\r\n\r\n" + kBody,
             false},
        Case{"IdentityIsNoCoding",
             "HTTP/1.1 200 OK\r\nContent-Encoding: identity\r\nContent-Length: 15\r\n\r\n" + kBody,
             true, kBody},
        // A captive portal or an error page sent with a 200 is not the settings file.
        Case{"WebPage",
             "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: 36\r\n"
             "\r\n<!DOCTYPE html><title>Log in</title>",
             false},
        Case{"WebPageAfterABomAndSpace",
             "HTTP/1.1 200 OK\r\nContent-Type: TEXT/HTML\r\nConnection: close\r\n\r\n"
             "\xEF\xBB\xBF \r\n<html><body>Welcome to the hotel network</body></html>",
             false},
        // The type alone does not make a page: a settings file served with the wrong type is
        // still the settings file.
        Case{"SettingsSentAsHtml",
             "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 15\r\n\r\n" + kBody,
             true, kBody},
        Case{"MarkupOfAnotherType",
             "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 6\r\n\r\n<Main>", true,
             "<Main>"}),
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

// A reply refused for what it is says so, and nothing of its body reaches the caller.
TEST(ReplyError, RepliesThatCannotBeTheFileAreNamed) {
    struct Refused {
        const char* name;
        QByteArray reply;
        TransferFailure kind;
        QString said;
    };
    const Refused cases[] = {
        {"a length past 63 bits",
         "HTTP/1.1 200 OK\r\nContent-Length: 9223372036854775808\r\n\r\n" + QByteArray(103, 'x'),
         TransferFailure::ImpossibleLength, "9223372036854775808"},
        {"gzip", "HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\nContent-Length: 15\r\n\r\n" + kBody,
         TransferFailure::UnaskedEncoding, "gzip"},
        {"a web page",
         "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 13\r\n\r\n<html></html>",
         TransferFailure::WebPage, "text/html"},
    };
    for (const Refused& c : cases) {
        SCOPED_TRACE(c.name);
        RawReplyServer server(c.reply);
        Inet inet;
        std::int64_t reached = 0;
        try {
            inet.OpenURL(server.url("/connect.ini"),
                         [&](QByteArrayView chunk) { reached += chunk.size(); });
            ADD_FAILURE() << "no error raised";
        } catch (const Error& e) {
            EXPECT_TRUE(e.is(c.kind)) << e.what();
            EXPECT_TRUE(e.description().contains(c.said)) << e.what();
        }
        EXPECT_EQ(reached, 0);
        EXPECT_FALSE(inet.LastFetch().complete);
    }
}

}  // namespace
}  // namespace zandrel::test
