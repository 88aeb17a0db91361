#include "raw_reply_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <stdexcept>
#include <thread>

namespace zandrel::test {

struct RawReplyServer::Impl {
    QByteArray reply;
    int listener = -1;
    int port = 0;
    std::atomic<bool> stopping{false};
    std::thread thread;

    // Reads the request up to its blank line (or 64 KiB, or a second of silence).
    static void readRequest(int fd) {
        QByteArray request;
        char buffer[4096];
        while (!request.contains("\r\n\r\n") && request.size() < 65536) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 1000) <= 0) return;
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0) return;
            request.append(buffer, n);
        }
    }

    void serve() {
        while (!stopping) {
            pollfd p{listener, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0) continue;
            const int fd = ::accept(listener, nullptr, nullptr);
            if (fd < 0) continue;
            readRequest(fd);
            qsizetype sent = 0;
            while (sent < reply.size()) {
                const ssize_t n = ::send(fd, reply.constData() + sent,
                                         static_cast<size_t>(reply.size() - sent), MSG_NOSIGNAL);
                if (n <= 0) break;
                sent += n;
            }
            ::shutdown(fd, SHUT_WR);
            ::close(fd);
        }
    }
};

RawReplyServer::RawReplyServer(QByteArray reply) : d(std::make_unique<Impl>()) {
    d->reply = std::move(reply);
    d->listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (d->listener < 0 || ::bind(d->listener, reinterpret_cast<sockaddr*>(&addr), len) != 0 ||
        ::listen(d->listener, 16) != 0 ||
        ::getsockname(d->listener, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        throw std::runtime_error("raw reply server: cannot listen on 127.0.0.1");
    d->port = ntohs(addr.sin_port);
    d->thread = std::thread([impl = d.get()] { impl->serve(); });
}

RawReplyServer::~RawReplyServer() {
    d->stopping = true;
    d->thread.join();
    ::close(d->listener);
}

int RawReplyServer::port() const {
    return d->port;
}

QByteArray RawReplyServer::url(const QByteArray& path) const {
    return "http://127.0.0.1:" + QByteArray::number(d->port) + path;
}

}  // namespace zandrel::test
