#pragma once

#include <QByteArray>
#include <QList>

#include <cstdint>
#include <memory>
#include <optional>
#include <utility>

namespace zandrel::test {

// How a FaultServer answers one request: the file it serves and what goes wrong on the way.
struct FaultReply {
    QByteArray body;          // the file
    int status = 200;         // anything else: this status with a short page instead of the file
    QByteArray etag;          // sent as ETag when not empty
    QByteArray lastModified;  // sent as Last-Modified when not empty
    // Says Accept-Ranges: bytes and answers "Range: bytes=N-" with a 206 from N, unless an
    // If-Range names another validator than the ones above; false: always the whole file.
    bool ranges = true;
    std::int64_t cutAt = -1;  // drops the connection once the file's bytes up to here are sent
    int pieceSize = 0;        // > 0: sends the body this many bytes at a time...
    int pauseMs = 0;          // ...waiting this long before each piece after the first
    int silentMs = 0;         // sends nothing for this long before answering
    // Content-Length as sent: the body's own length when unset; an empty value sends none (the
    // body then ends with the connection); anything else is sent as it is.
    std::optional<QByteArray> contentLength;
    QByteArray contentType = "application/octet-stream";
    QList<std::pair<QByteArray, QByteArray>> headers;  // more headers, e.g. Content-Encoding
};

// An HTTP server on 127.0.0.1 (ephemeral port) for transfer faults: one connection at a time,
// one request per connection, answered by the script's replies in order (the last one again for
// every later request), whatever the path. It counts every byte it sends, headers included.
class FaultServer {
public:
    explicit FaultServer(QList<FaultReply> script);
    ~FaultServer();
    FaultServer(const FaultServer&) = delete;
    FaultServer& operator=(const FaultServer&) = delete;

    QString url(const QString& path) const;  // "http://127.0.0.1:PORT" + path
    std::int64_t bytesSent() const;
    int requests() const;
    // Each request's Range and If-Range header ("" where it sent none).
    QList<QByteArray> ranges() const;
    QList<QByteArray> ifRanges() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

}  // namespace zandrel::test
