// One small update against loopback servers that fail on the way: what ends in the folder, what
// each server was asked and sent, what the box names. DownloadUpdate is the routine the download
// windows use; without a hash it fetches the server's own address only.
#include "boxes/recording_boxes.h"
#include "fault_server.h"
#include "folders/folder_helpers.h"
#include "net/download_file.h"

#include <QCryptographicHash>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <iostream>
#include <memory>
#include <vector>

namespace zandrel::test {

using namespace zandrel::net;

namespace {

const QByteArray kFile = randomBytes(256 * 1024);
// Another version of the update: the same size, every byte different.
const QByteArray kOther = [] {
    QByteArray other = kFile;
    for (char& c : other) c = static_cast<char>(c ^ 0x5a);
    return other;
}();
constexpr std::int64_t kHalf = 128 * 1024;
const QByteArray kDate = "Tue, 01 Dec 2026 10:00:00 GMT";
const QByteArray kOld = "the update an earlier run stored";
const QByteArray kFileSha256 = QCryptographicHash::hash(kFile, QCryptographicHash::Sha256);
const QByteArray kOtherSha256 = QCryptographicHash::hash(kOther, QCryptographicHash::Sha256);
QString shortHex(const QByteArray& sha256) {
    return QString::fromLatin1(sha256.toHex().left(12));
}

FaultReply whole(const QByteArray& body = kFile, const QByteArray& etag = "\"v1\"") {
    FaultReply r;
    r.body = body;
    r.etag = etag;
    return r;
}
FaultReply cut(FaultReply r) {
    r.cutAt = kHalf;
    return r;
}
FaultReply noRanges(FaultReply r) {
    r.ranges = false;
    return r;
}
FaultReply withValidators(QByteArray etag, QByteArray lastModified) {
    FaultReply r = whole(kFile, std::move(etag));
    r.lastModified = std::move(lastModified);
    return r;
}
// The body ends with the connection: nothing tells its length beforehand.
FaultReply lengthless(FaultReply r) {
    r.contentLength = QByteArray();
    return r;
}
FaultReply encoded(FaultReply r) {
    r.headers.append(std::pair<QByteArray, QByteArray>("Content-Encoding", "gzip"));
    return r;
}
FaultReply impossibleLength(FaultReply r) {
    r.contentLength = "9223372036854775808";
    return r;
}
FaultReply webPage() {
    FaultReply r = whole("<!DOCTYPE html><html><body>Log in first</body></html>");
    r.contentType = "text/html";
    return r;
}
FaultReply status(int code) {
    FaultReply r;
    r.status = code;
    return r;
}
FaultReply silent() {
    FaultReply r = whole();
    r.silentMs = 5000;
    return r;
}
FaultReply trickle() {
    FaultReply r = whole();
    r.pieceSize = 256;  // about 5 KB/s, under the test's floor of 16 KiB/s
    r.pauseMs = 50;
    return r;
}

struct Case {
    const char* name;
    QList<QList<FaultReply>> sources;  // the server's own address, then its mirrors
    bool hashed;                       // the settings give kFile's SHA-256
    QByteArray stored;                 // what ends in the folder; empty: nothing, one box
    QList<int> requests;               // asked of each source
    QList<QByteArray> ranges;          // the Range headers the first source got, in order
    double maxCost = 0;                // bytes all servers sent / the file's size; 0: any
    std::int64_t size = -1;            // the settings give this UpdateSize
    QStringList box = {};              // what the box names, besides the failure
};

TEST(TransferFaults, CutsTricklesSilenceAndMirrors) {
    const QByteArray rangeFromHalf = "bytes=" + QByteArray::number(kHalf) + "-";
    const Case cases[] = {
        {"cut at half, the server takes ranges: the rest only",
         {{cut(whole()), whole()}},
         false,
         kFile,
         {2},
         {"", rangeFromHalf},
         1.1},
        {"cut at half, no ranges: from the start",
         {{noRanges(cut(whole())), noRanges(whole())}},
         false,
         kFile,
         {2},
         {"", ""},
         1.6},
        {"the range answered with a 200: the part is dropped, the whole taken",
         {{cut(whole()), noRanges(whole())}},
         false,
         kFile,
         {2},
         {"", rangeFromHalf},
         1.6},
        {"the file changed between tries: If-Range gives the new one whole",
         {{cut(whole()), whole(kOther, "\"v2\"")}},
         false,
         kOther,
         {2},
         {"", rangeFromHalf},
         1.6},
        {"Last-Modified is the validator when there is no ETag",
         {{cut(withValidators("", kDate)), withValidators("", kDate)}},
         false,
         kFile,
         {2},
         {"", rangeFromHalf},
         1.1},
        {"a weak ETag alone cannot vouch for a part: from the start",
         {{cut(whole(kFile, "W/\"v1\"")), whole(kFile, "W/\"v1\"")}},
         false,
         kFile,
         {2},
         {"", ""},
         1.6},
        {"cut on every try: five more, then the box",
         {{noRanges(cut(whole()))}},
         false,
         {},
         {6},
         {"", "", "", "", "", ""},
         0},
        {"a trickle fails on the rate floor and is not tried again",
         {{trickle()}},
         false,
         {},
         {1},
         {""},
         0},
        {"a silent server fails on the stall time-out, not tried again",
         {{silent()}},
         false,
         {},
         {1},
         {""},
         0},
        {"mirrors after a 404, a silent one and other bytes",
         {{status(404)}, {silent()}, {whole(kOther)}, {whole()}},
         true,
         kFile,
         {1, 1, 1, 1},
         {""},
         0},
        {"a resume that gives other bytes is fetched whole once more",
         {{cut(whole()), whole(kOther), whole()}},
         true,
         kFile,
         {3},
         {"", rangeFromHalf, ""},
         0},
        {"without a hash the mirrors are not used",
         {{status(404)}, {whole()}},
         false,
         {},
         {1, 0},
         {""},
         0},
        {"every source fails",
         {{status(503)}, {whole(kOther)}, {trickle()}},
         true,
         {},
         {1, 1, 1},
         {""},
         0,
         -1,
         {"Expected: SHA-256 " + shortHex(kFileSha256),
          "262144 bytes, SHA-256 " + shortHex(kOtherSha256)}},
        {"a resumed transfer hashes the part it kept and the rest once: no second fetch",
         {{cut(whole()), whole()}},
         true,
         kFile,
         {2},
         {"", rangeFromHalf},
         1.1,
         kFile.size()},
        {"other bytes of the announced size: the box names both hashes",
         {{whole(kOther)}},
         true,
         {},
         {1},
         {""},
         0,
         kFile.size(),
         {"Expected: 262144 bytes, SHA-256 " + shortHex(kFileSha256),
          "262144 bytes, SHA-256 " + shortHex(kOtherSha256)}},
        {"a Content-Length above the size ends the reply before its body",
         {{whole()}},
         true,
         {},
         {1},
         {""},
         0,
         kHalf,
         {"Expected: 131072 bytes", "more than 131072 bytes"}},
        {"a stream without a length ends where it passes the size, without a hash too",
         {{lengthless(whole())}},
         false,
         {},
         {1},
         {""},
         0,
         kHalf,
         {"Expected: 131072 bytes", "more than 131072 bytes"}},
        {"fewer bytes than the size: refused, without a hash too",
         {{whole()}},
         false,
         {},
         {1},
         {""},
         0,
         kFile.size() + 1,
         {"Expected: 262145 bytes", "262144 bytes"}},
        {"replies that cannot be the file, then the update from a mirror",
         {{encoded(whole())}, {webPage()}, {impossibleLength(whole())}, {whole()}},
         true,
         kFile,
         {1, 1, 1, 1},
         {""},
         0},
        {"too long from the server, the update from a mirror",
         {{lengthless(whole(kFile + kOther))}, {whole()}},
         true,
         kFile,
         {1, 1},
         {""},
         0,
         kFile.size()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::unique_ptr<FaultServer>> servers;
        QStringList urls;
        for (const QList<FaultReply>& script : c.sources) {
            servers.push_back(std::make_unique<FaultServer>(script));
            urls.append(servers.back()->url(QStringLiteral("/update/zandrel.rar")));
        }
        QTemporaryDir dir;
        writeFile(dir.filePath("zandrel.rar"), kOld);
        RecordingBoxes boxes;
        Inet inet;
        inet.setStallTimeoutMs(300);
        inet.setMinimumRate(16 * 1024, 400);
        inet.setRetryPolicy({5, 10});
        const AnnouncedUpdate announced{c.hashed ? kFileSha256 : QByteArray(), c.size};

        const bool ok = DownloadUpdate(inet, urls, announced, dir.path(), boxes);

        if (c.size >= 0) {
            EXPECT_LE(inet.LastFetch().bodyBytes, c.size);
        }
        if (c.stored.isEmpty()) {
            // Nothing replaced, nothing else left behind.
            EXPECT_FALSE(ok);
            ASSERT_EQ(boxes.boxes.size(), 1u);
            EXPECT_EQ(folderEntries(dir.path()), QStringList{"zandrel.rar"});
            EXPECT_EQ(readFile(dir.filePath("zandrel.rar")), kOld);
            for (const QString& named : c.box)
                EXPECT_TRUE(boxes.boxes[0].prompt.contains(named))
                    << named.toStdString() << " in " << boxes.boxes[0].prompt.toStdString();
        } else {
            EXPECT_TRUE(ok);
            EXPECT_TRUE(boxes.boxes.empty());
            EXPECT_EQ(folderEntries(dir.path()), QStringList{"zandrel.rar"});
            EXPECT_TRUE(readFile(dir.filePath("zandrel.rar")) == c.stored);
        }
        std::int64_t sent = 0;
        for (std::size_t i = 0; i < servers.size(); ++i) {
            EXPECT_EQ(servers[i]->requests(), c.requests[static_cast<qsizetype>(i)])
                << "source " << i;
            sent += servers[i]->bytesSent();
        }
        EXPECT_EQ(servers[0]->ranges(), c.ranges);
        const double cost = static_cast<double>(sent) / static_cast<double>(kFile.size());
        if (c.maxCost > 0) {
            EXPECT_LE(cost, c.maxCost);
        }
        std::cout << "[ cost     ] " << c.name << ": " << sent << " bytes sent for " << kFile.size()
                  << " (" << cost << "x)\n";
    }
}

// If-Range carries the validator the whole reply gave: the strong ETag, else Last-Modified.
TEST(TransferFaults, IfRangeNamesTheVersionThePartCameFrom) {
    FaultServer etag({cut(withValidators("\"v7\"", kDate)), withValidators("\"v7\"", kDate)});
    FaultServer date({cut(withValidators("W/\"v7\"", kDate)), withValidators("W/\"v7\"", kDate)});
    for (FaultServer* server : {&etag, &date}) {
        QTemporaryDir dir;
        RecordingBoxes boxes;
        Inet inet;
        inet.setRetryPolicy({5, 10});
        EXPECT_TRUE(DownloadFile(inet, server->url("/zandrel.rar"), dir.path(), boxes));
    }
    EXPECT_EQ(etag.ifRanges(), (QList<QByteArray>{"", "\"v7\""}));
    EXPECT_EQ(date.ifRanges(), (QList<QByteArray>{"", kDate}));
}

}  // namespace
}  // namespace zandrel::test
