#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include "test_tls.h"

#include <memory>
#include <utility>

namespace zandrel::test {

// What the server answers on one path. The defaults give "200, body, Content-Length".
struct HttpReply {
    int status = 200;
    QByteArray body;
    QByteArray contentType = "application/octet-stream";
    QList<std::pair<QByteArray, QByteArray>> headers;  // extra headers, e.g. Location

    int delayMs = 0;              // wait this long before sending anything at all
    qsizetype pieceSize = 0;      // > 0: send the body in pieces of this many bytes...
    int pauseMs = 0;              // ...pausing this long before each piece after the first
    qint64 announcedLength = -1;  // Content-Length to claim; above body.size() cuts it short
    // Answer a conditional request as a server that keeps its files' validators would: a bare
    // 304 when If-None-Match equals the ETag header given above, or If-Modified-Since equals
    // the Last-Modified one (compared as text).
    bool honoursConditions = false;

    static HttpReply ok(QByteArray body);
    static HttpReply error(int status, QByteArray body);
    static HttpReply redirect(const QString& location, int status = 302);
};

// An HTTP (or HTTPS) server on 127.0.0.1 with an ephemeral port, serving on background threads from
// construction to destruction. A request is answered by the route set for its exact path
// (query ignored) if there is one, else by the file of that path under the document root
// (streamed from disk, so files of any size), else with 404. Pauses end early when the server
// is destroyed, so a test never waits for a stalled reply to run out.
class TestHttpServer {
public:
    explicit TestHttpServer(const QString& documentRoot = QString());
    // The same over https, presenting the given certificate.
    TestHttpServer(const QString& documentRoot, const TlsIdentity& tls);
    ~TestHttpServer();
    TestHttpServer(const TestHttpServer&) = delete;
    TestHttpServer& operator=(const TestHttpServer&) = delete;

    int port() const;
    QString address() const;                 // "127.0.0.1:PORT"
    QString url(const QString& path) const;  // "http(s)://127.0.0.1:PORT" + path ("/x.ini")

    void setDocumentRoot(const QString& folder);
    void route(const QString& path, HttpReply reply);

    // Paths of the requests received so far, in order of arrival.
    QStringList requestedPaths() const;
    // The value of a request header (e.g. "If-None-Match") of each request so far, in order;
    // empty where a request did not send it.
    QList<QByteArray> requestHeaders(const QByteArray& name) const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

}  // namespace zandrel::test
