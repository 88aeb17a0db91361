#include "fault_server.h"

#include <QString>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace zandrel::test {
namespace {

QByteArray headerValue(const QByteArray& request, const QByteArray& name) {
    for (const QByteArray& line : request.split('\n')) {
        const qsizetype colon = line.indexOf(':');
        if (colon > 0 && line.first(colon).trimmed().compare(name, Qt::CaseInsensitive) == 0)
            return line.mid(colon + 1).trimmed();
    }
    return {};
}

// The start of "bytes=N-", or -1.
std::int64_t rangeStart(const QByteArray& range) {
    if (!range.startsWith("bytes=") || !range.endsWith('-')) return -1;
    bool ok = false;
    const std::int64_t from = range.mid(6, range.size() - 7).toLongLong(&ok);
    return ok ? from : -1;
}

}  // namespace

struct FaultServer::Impl {
    QList<FaultReply> script;
    int listener = -1;
    int port = 0;
    std::atomic<bool> stopping{false};
    std::thread thread;
    mutable std::mutex mutex;
    std::int64_t sent = 0;
    QList<QByteArray> rangeHeaders, ifRangeHeaders;

    // Waits ms milliseconds; false when the server is being destroyed meanwhile.
    bool pause(int ms) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (std::chrono::steady_clock::now() < end) {
            if (stopping) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return !stopping;
    }

    static QByteArray readRequest(int fd) {
        QByteArray request;
        char buffer[4096];
        while (!request.contains("\r\n\r\n") && request.size() < 65536) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 1000) <= 0) break;
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0) break;
            request.append(buffer, n);
        }
        return request;
    }

    bool send(int fd, QByteArrayView bytes) {
        qsizetype done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::send(fd, bytes.data() + done,
                                     static_cast<size_t>(bytes.size() - done), MSG_NOSIGNAL);
            if (n <= 0) return false;
            done += n;
            std::lock_guard lock(mutex);
            sent += n;
        }
        return true;
    }

    void answer(int fd, const FaultReply& reply, const QByteArray& request) {
        const QByteArray range = headerValue(request, "Range");
        const QByteArray ifRange = headerValue(request, "If-Range");
        {
            std::lock_guard lock(mutex);
            rangeHeaders.append(range);
            ifRangeHeaders.append(ifRange);
        }
        if (reply.silentMs > 0 && !pause(reply.silentMs)) return;
        if (reply.status != 200) {
            const QByteArray page = "<html>" + QByteArray::number(reply.status) + "</html>";
            send(fd, "HTTP/1.1 " + QByteArray::number(reply.status) +
                         " Refused\r\nContent-Type: text/html\r\nContent-Length: " +
                         QByteArray::number(page.size()) + "\r\nConnection: close\r\n\r\n" + page);
            return;
        }
        const std::int64_t size = reply.body.size();
        std::int64_t from = reply.ranges ? rangeStart(range) : -1;
        if (!ifRange.isEmpty() && ifRange != reply.etag && ifRange != reply.lastModified) from = -1;
        if (from >= size) from = -1;
        QByteArray head = from >= 0 ? "HTTP/1.1 206 Partial Content\r\n" : "HTTP/1.1 200 OK\r\n";
        head += "Content-Type: " + reply.contentType + "\r\nConnection: close\r\n";
        const QByteArray length = reply.contentLength.value_or(
            QByteArray::number(size - std::max<std::int64_t>(from, 0)));
        if (!length.isEmpty()) head += "Content-Length: " + length + "\r\n";
        for (const auto& [name, value] : reply.headers) head += name + ": " + value + "\r\n";
        if (from >= 0)
            head += "Content-Range: bytes " + QByteArray::number(from) + "-" +
                    QByteArray::number(size - 1) + "/" + QByteArray::number(size) + "\r\n";
        if (reply.ranges) head += "Accept-Ranges: bytes\r\n";
        if (!reply.etag.isEmpty()) head += "ETag: " + reply.etag + "\r\n";
        if (!reply.lastModified.isEmpty()) head += "Last-Modified: " + reply.lastModified + "\r\n";
        if (!send(fd, head + "\r\n")) return;
        const std::int64_t end = reply.cutAt >= 0 ? std::min(reply.cutAt, size) : size;
        const std::int64_t piece = reply.pieceSize > 0 ? reply.pieceSize : size;
        for (std::int64_t at = std::max<std::int64_t>(from, 0); at < end; at += piece) {
            if (at > std::max<std::int64_t>(from, 0) && reply.pauseMs > 0 && !pause(reply.pauseMs))
                return;
            const std::int64_t n = std::min(piece, end - at);
            if (!send(fd, QByteArrayView(reply.body).sliced(at, n))) return;
        }
    }

    void serve() {
        int served = 0;
        while (!stopping) {
            pollfd p{listener, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0) continue;
            const int fd = ::accept(listener, nullptr, nullptr);
            if (fd < 0) continue;
            const QByteArray request = readRequest(fd);
            const FaultReply& reply = script[std::min<qsizetype>(served++, script.size() - 1)];
            answer(fd, reply, request);
            ::shutdown(fd, SHUT_RDWR);
            ::close(fd);
        }
    }
};

FaultServer::FaultServer(QList<FaultReply> script) : d(std::make_unique<Impl>()) {
    if (script.isEmpty()) throw std::invalid_argument("fault server: empty script");
    d->script = std::move(script);
    d->listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (d->listener < 0 || ::bind(d->listener, reinterpret_cast<sockaddr*>(&addr), len) != 0 ||
        ::listen(d->listener, 16) != 0 ||
        ::getsockname(d->listener, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        throw std::runtime_error("fault server: cannot listen on 127.0.0.1");
    d->port = ntohs(addr.sin_port);
    d->thread = std::thread([impl = d.get()] { impl->serve(); });
}

FaultServer::~FaultServer() {
    d->stopping = true;
    d->thread.join();
    ::close(d->listener);
}

QString FaultServer::url(const QString& path) const {
    return QStringLiteral("http://127.0.0.1:%1").arg(d->port) + path;
}

std::int64_t FaultServer::bytesSent() const {
    std::lock_guard lock(d->mutex);
    return d->sent;
}

int FaultServer::requests() const {
    std::lock_guard lock(d->mutex);
    return static_cast<int>(d->rangeHeaders.size());
}

QList<QByteArray> FaultServer::ranges() const {
    std::lock_guard lock(d->mutex);
    return d->rangeHeaders;
}

QList<QByteArray> FaultServer::ifRanges() const {
    std::lock_guard lock(d->mutex);
    return d->ifRangeHeaders;
}

}  // namespace zandrel::test
