#include "test_http_server.h"

#include <QFile>
#include <QFileInfo>

#include <httplib.h>
#include <openssl/pem.h>

#include <chrono>
#include <condition_variable>
#include <csignal>
#include <map>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>
#include <vector>

namespace zandrel::test {

HttpReply HttpReply::ok(QByteArray body) {
    HttpReply r;
    r.body = std::move(body);
    return r;
}

HttpReply HttpReply::error(int status, QByteArray body) {
    HttpReply r;
    r.status = status;
    r.body = std::move(body);
    r.contentType = "text/html";
    return r;
}

HttpReply HttpReply::redirect(const QString& location, int status) {
    HttpReply r;
    r.status = status;
    r.headers.append({"Location", location.toUtf8()});
    return r;
}

namespace {

constexpr std::size_t kFileChunk = 256 * 1024;

// A path that stays inside the document root: no "..", no empty root.
bool isSafePath(const std::string& path) {
    return !path.empty() && path.front() == '/' && path.find("/../") == std::string::npos &&
           !path.ends_with("/..");
}

}  // namespace

struct TestHttpServer::Impl {
    std::unique_ptr<httplib::Server> server;
    std::thread thread;
    int port = 0;
    bool tls = false;

    mutable std::mutex mutex;
    std::condition_variable wake;
    bool stopping = false;
    QString root;
    std::map<std::string, HttpReply> routes;
    QStringList requested;
    std::vector<httplib::Headers> requestHeaders;

    // Waits ms milliseconds; false when the server is being destroyed meanwhile.
    bool pause(int ms) {
        std::unique_lock lock(mutex);
        return !wake.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stopping; });
    }

    void handle(const httplib::Request& req, httplib::Response& res) {
        std::optional<HttpReply> reply;
        QString folder;
        {
            std::lock_guard lock(mutex);
            requested.append(QString::fromStdString(req.path));
            requestHeaders.push_back(req.headers);
            if (auto it = routes.find(req.path); it != routes.end()) reply = it->second;
            folder = root;
        }
        if (reply && reply->honoursConditions && conditionHolds(*reply, req))
            res.status = 304;
        else if (reply)
            answer(*reply, res);
        else
            serveFile(folder, req.path, res);
    }

    static bool conditionHolds(const HttpReply& reply, const httplib::Request& req) {
        auto sent = [&reply](const char* name) {
            for (const auto& [key, value] : reply.headers)
                if (key.compare(name, Qt::CaseInsensitive) == 0) return value.toStdString();
            return std::string();
        };
        const std::string etag = sent("ETag"), lastModified = sent("Last-Modified");
        return (!etag.empty() && req.get_header_value("If-None-Match") == etag) ||
               (!lastModified.empty() && req.get_header_value("If-Modified-Since") == lastModified);
    }

    void answer(const HttpReply& reply, httplib::Response& res) {
        if (reply.delayMs > 0 && !pause(reply.delayMs)) return;
        res.status = reply.status;
        for (const auto& [name, value] : reply.headers)
            res.set_header(name.toStdString(), value.toStdString());
        const std::string type = reply.contentType.toStdString();
        if (reply.pieceSize <= 0 && reply.announcedLength < 0) {
            res.set_content(reply.body.toStdString(), type);
            return;
        }
        const auto length = static_cast<std::size_t>(
            reply.announcedLength >= 0 ? reply.announcedLength : reply.body.size());
        res.set_content_provider(
            length, type, [this, reply](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                if (offset >= static_cast<std::size_t>(reply.body.size()))
                    return false;  // announced more than there is: drop the connection
                if (offset > 0 && reply.pauseMs > 0 && !pause(reply.pauseMs)) return false;
                const qsizetype piece = reply.pieceSize > 0 ? reply.pieceSize : reply.body.size();
                const QByteArray part = reply.body.mid(static_cast<qsizetype>(offset), piece);
                return sink.write(part.constData(), static_cast<std::size_t>(part.size()));
            });
    }

    void serveFile(const QString& folder, const std::string& path, httplib::Response& res) {
        const QString file = folder + QString::fromStdString(path);
        if (folder.isEmpty() || !isSafePath(path) || !QFileInfo(file).isFile()) {
            res.status = 404;
            return;
        }
        auto in = std::make_shared<QFile>(file);
        if (!in->open(QIODevice::ReadOnly)) {
            res.status = 403;
            return;
        }
        res.status = 200;
        res.set_content_provider(
            static_cast<std::size_t>(in->size()), "application/octet-stream",
            [in](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                std::vector<char> buffer(std::min(length, kFileChunk));
                if (!in->seek(static_cast<qint64>(offset))) return false;
                const qint64 got = in->read(buffer.data(), static_cast<qint64>(buffer.size()));
                return got > 0 && sink.write(buffer.data(), static_cast<std::size_t>(got));
            });
    }
};

namespace {

struct X509Free {
    void operator()(X509* c) const { X509_free(c); }
};
struct KeyFree {
    void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};

std::unique_ptr<httplib::Server> tlsServer(const TlsIdentity& tls) {
    BIO* certBio = BIO_new_mem_buf(tls.certificatePem.constData(),
                                   static_cast<int>(tls.certificatePem.size()));
    std::unique_ptr<X509, X509Free> cert(PEM_read_bio_X509(certBio, nullptr, nullptr, nullptr));
    BIO_free(certBio);
    BIO* keyBio =
        BIO_new_mem_buf(tls.privateKeyPem.constData(), static_cast<int>(tls.privateKeyPem.size()));
    std::unique_ptr<EVP_PKEY, KeyFree> key(
        PEM_read_bio_PrivateKey(keyBio, nullptr, nullptr, nullptr));
    BIO_free(keyBio);
    if (!cert || !key) throw std::runtime_error("test HTTPS server: unreadable certificate or key");
    // The server's TLS context takes its own references.
    auto server = std::make_unique<httplib::SSLServer>(cert.get(), key.get());
    if (!server->is_valid()) throw std::runtime_error("test HTTPS server: bad certificate");
    return server;
}

}  // namespace

TestHttpServer::TestHttpServer(const QString& documentRoot)
    : TestHttpServer(documentRoot, TlsIdentity{}) {}

TestHttpServer::TestHttpServer(const QString& documentRoot, const TlsIdentity& tls)
    : d(std::make_unique<Impl>()) {
    // A client that hangs up mid-reply must not end the test process.
    std::signal(SIGPIPE, SIG_IGN);
    d->root = documentRoot;
    d->tls = !tls.certificatePem.isEmpty();
    d->server = d->tls ? tlsServer(tls) : std::make_unique<httplib::Server>();
    d->server->Get("(.*)", [impl = d.get()](const httplib::Request& req, httplib::Response& res) {
        impl->handle(req, res);
    });
    d->server->set_keep_alive_timeout(1);  // bounds how long stop() waits for idle connections
    d->port = d->server->bind_to_any_port("127.0.0.1");
    if (d->port <= 0) throw std::runtime_error("test HTTP server: cannot bind 127.0.0.1");
    d->thread = std::thread([impl = d.get()] { impl->server->listen_after_bind(); });
    // The socket already listens; wait for the accept loop so that stop() cannot miss it.
    while (!d->server->is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

TestHttpServer::~TestHttpServer() {
    {
        std::lock_guard lock(d->mutex);
        d->stopping = true;
    }
    d->wake.notify_all();
    d->server->stop();
    d->thread.join();
}

int TestHttpServer::port() const {
    return d->port;
}

QString TestHttpServer::address() const {
    return QStringLiteral("127.0.0.1:%1").arg(d->port);
}

QString TestHttpServer::url(const QString& path) const {
    return (d->tls ? QStringLiteral("https://") : QStringLiteral("http://")) + address() + path;
}

void TestHttpServer::setDocumentRoot(const QString& folder) {
    std::lock_guard lock(d->mutex);
    d->root = folder;
}

void TestHttpServer::route(const QString& path, HttpReply reply) {
    std::lock_guard lock(d->mutex);
    d->routes[path.toStdString()] = std::move(reply);
}

QStringList TestHttpServer::requestedPaths() const {
    std::lock_guard lock(d->mutex);
    return d->requested;
}

}  // namespace zandrel::test

namespace zandrel::test {

QList<QByteArray> TestHttpServer::requestHeaders(const QByteArray& name) const {
    std::lock_guard lock(d->mutex);
    QList<QByteArray> values;
    for (const httplib::Headers& headers : d->requestHeaders) {
        // httplib keeps header names as sent; HTTP compares them without case.
        QByteArray value;
        for (const auto& [key, text] : headers)
            if (QByteArray::fromStdString(key).compare(name, Qt::CaseInsensitive) == 0)
                value = QByteArray::fromStdString(text);
        values.append(value);
    }
    return values;
}

}  // namespace zandrel::test
