#pragma once

#include <QByteArray>

#include <memory>

namespace zandrel::test {

// A server on 127.0.0.1 that answers every request with the same bytes, exactly as given, and
// then closes the connection: for replies no proper HTTP server would send (a status line and
// nothing else, half a header, a body shorter than announced).
class RawReplyServer {
public:
    explicit RawReplyServer(QByteArray reply);
    ~RawReplyServer();
    RawReplyServer(const RawReplyServer&) = delete;
    RawReplyServer& operator=(const RawReplyServer&) = delete;

    int port() const;
    QByteArray url(const QByteArray& path) const;  // "http://127.0.0.1:PORT" + path

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

}  // namespace zandrel::test
