// demo-server <document root> <port> [name] [--tls CERT KEY] [--redirect PATH URL]...
//             [--cut-first PATH]
// A static web server for the demo's game servers: serves the files under the document root on
// 127.0.0.1 only, nothing outside it (cpp-httplib refuses paths that climb out with ".."), and
// logs one line per request. With --tls it speaks https with the given certificate and key
// (PEM files); each --redirect answers PATH with a 302 to URL instead of a file. Files carry
// Last-Modified and an ETag, and a request that names the current ones is answered 304, as a
// well-kept web host does, so a second "Download and Apply" transfers no body. Files take
// "Range: bytes=N-" (Accept-Ranges: bytes), honouring If-Range. With --cut-first the first
// whole reply for PATH drops the connection halfway through its body, as a home link does, so
// the program's resume can be watched. Stops on SIGINT or SIGTERM.
#include <httplib.h>

#include <sys/stat.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Options {
    std::string root;
    int port = 0;
    std::string name = "demo server";
    std::string certificate, key;                  // both set: https
    std::map<std::string, std::string> redirects;  // path -> URL
    std::string cutFirst;                          // path whose first whole reply is cut
};

bool parse(int argc, char** argv, Options& o) {
    std::vector<std::string> positional;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--tls" && i + 2 < argc) {
            o.certificate = argv[++i];
            o.key = argv[++i];
        } else if (arg == "--redirect" && i + 2 < argc) {
            const std::string path = argv[++i];
            o.redirects[path] = argv[++i];
        } else if (arg == "--cut-first" && i + 1 < argc) {
            o.cutFirst = argv[++i];
        } else if (arg.rfind("--", 0) == 0) {
            return false;
        } else {
            positional.push_back(arg);
        }
    }
    if (positional.size() < 2 || positional.size() > 3) return false;
    o.root = positional[0];
    o.port = std::atoi(positional[1].c_str());
    if (positional.size() == 3) o.name = positional[2];
    return true;
}

// A file of the document root as its validators describe it; empty for anything else.
struct Validators {
    std::string lastModified;
    std::string etag;
};

Validators validatorsOf(const std::string& root, const std::string& path) {
    if (path.empty() || path[0] != '/' || path.find("..") != std::string::npos) return {};
    struct stat st {};
    if (::stat((root + path).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return {};
    char date[64];
    std::tm tm{};
    ::gmtime_r(&st.st_mtime, &tm);
    std::strftime(date, sizeof date, "%a, %d %b %Y %H:%M:%S GMT", &tm);
    return {date, "\"" + std::to_string(st.st_size) + "-" + std::to_string(st.st_mtim.tv_sec) +
                      "-" + std::to_string(st.st_mtim.tv_nsec) + "\""};
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (!parse(argc, argv, o)) {
        std::fprintf(stderr,
                     "usage: demo-server <document root> <port> [name] [--tls CERT KEY] "
                     "[--redirect PATH URL]... [--cut-first PATH]\n");
        return 2;
    }
    if (!std::filesystem::is_directory(o.root) || o.port <= 0 || o.port > 65535) {
        std::fprintf(stderr, "%s: no folder %s or bad port %d\n", o.name.c_str(), o.root.c_str(),
                     o.port);
        return 2;
    }

    // Signals go to one waiting thread, which stops the server from outside the handler.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    std::unique_ptr<httplib::Server> server;
    if (!o.certificate.empty()) {
        auto tls = std::make_unique<httplib::SSLServer>(o.certificate.c_str(), o.key.c_str());
        if (!tls->is_valid()) {
            std::fprintf(stderr, "%s: cannot use the certificate %s with the key %s\n",
                         o.name.c_str(), o.certificate.c_str(), o.key.c_str());
            return 1;
        }
        server = std::move(tls);
    } else {
        server = std::make_unique<httplib::Server>();
    }
    // SO_REUSEADDR only: cpp-httplib's default also sets SO_REUSEPORT, which would let a second
    // server bind a port that is already in use.
    server->set_socket_options([](socket_t sock) {
        int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof(yes));
    });
    // Redirects are answered before the files are looked at; then a conditional request for a
    // file that has not changed gets 304 and no body.
    std::atomic<bool> cut{false};
    server->set_pre_routing_handler([&o, &cut](const httplib::Request& req,
                                               httplib::Response& res) {
        const auto it = o.redirects.find(req.path);
        if (it != o.redirects.end()) {
            res.set_redirect(it->second, 302);
            return httplib::Server::HandlerResponse::Handled;
        }
        const Validators v = validatorsOf(o.root, req.path);
        if (v.etag.empty()) return httplib::Server::HandlerResponse::Unhandled;
        // A part of another version of the file is no use to the client: If-Range that names
        // other validators gets the whole file. cpp-httplib applies the ranges it parsed to
        // whatever is answered, so they are dropped here (the request is the server's own).
        const bool otherVersion = req.has_header("If-Range") &&
                                  req.get_header_value("If-Range") != v.etag &&
                                  req.get_header_value("If-Range") != v.lastModified;
        if (otherVersion) const_cast<httplib::Request&>(req).ranges.clear();
        const bool cutThis = req.path == o.cutFirst && req.ranges.empty() && !cut.exchange(true);
        if (otherVersion || cutThis) {
            std::ifstream in(o.root + req.path, std::ios::binary);
            auto body = std::make_shared<std::string>(std::istreambuf_iterator<char>(in),
                                                      std::istreambuf_iterator<char>());
            // The link goes down halfway through a cut reply.
            const std::size_t end = cutThis ? body->size() / 2 : body->size();
            res.status = 200;
            res.set_content_provider(
                body->size(), "application/octet-stream",
                [body, end](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                    if (offset >= end) return false;
                    return sink.write(body->data() + offset, end - offset);
                });
            if (cutThis)
                std::fprintf(stderr, "[%s] %s: this first reply is cut at half\n", o.name.c_str(),
                             req.path.c_str());
            return httplib::Server::HandlerResponse::Handled;
        }
        const bool unchanged =
            req.has_header("If-None-Match")
                ? req.get_header_value("If-None-Match") == v.etag
                : req.has_header("If-Modified-Since") &&
                      req.get_header_value("If-Modified-Since") == v.lastModified;
        if (!unchanged) return httplib::Server::HandlerResponse::Unhandled;
        res.status = 304;
        res.set_header("ETag", v.etag);
        res.set_header("Last-Modified", v.lastModified);
        return httplib::Server::HandlerResponse::Handled;
    });
    server->set_post_routing_handler([&o](const httplib::Request& req, httplib::Response& res) {
        if (res.status != 200 && res.status != 206 && res.status != -1) return;
        const Validators v = validatorsOf(o.root, req.path);
        if (v.etag.empty()) return;
        res.set_header("ETag", v.etag);
        res.set_header("Last-Modified", v.lastModified);
        res.set_header("Accept-Ranges", "bytes");
    });
    if (!server->set_mount_point("/", o.root)) {
        std::fprintf(stderr, "%s: cannot serve %s\n", o.name.c_str(), o.root.c_str());
        return 1;
    }
    server->set_file_extension_and_mimetype_mapping("ini", "text/plain");
    server->set_file_extension_and_mimetype_mapping("ppf", "application/octet-stream");
    server->set_file_extension_and_mimetype_mapping("rar", "application/vnd.rar");
    server->set_logger([&o](const httplib::Request& req, const httplib::Response& res) {
        std::fprintf(stderr, "[%s] %s %s -> %d\n", o.name.c_str(), req.method.c_str(),
                     req.path.c_str(), res.status);
    });
    if (!server->bind_to_port("127.0.0.1", o.port)) {
        std::fprintf(stderr, "%s: cannot listen on 127.0.0.1:%d (is the port in use?)\n",
                     o.name.c_str(), o.port);
        return 1;
    }
    std::thread stopper([&] {
        int signal = 0;
        sigwait(&stopSignals, &signal);
        server->stop();
    });
    stopper.detach();
    const bool ok = server->listen_after_bind();
    return ok ? 0 : 1;
}
