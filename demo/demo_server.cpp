// demo-server <document root> <port> [name]
// A static web server for the demo's game servers: serves the files under the document root on
// 127.0.0.1 only, nothing outside it (cpp-httplib refuses paths that climb out with ".."), and
// logs one line per request. Stops on SIGINT or SIGTERM.
#include <httplib.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

int main(int argc, char** argv) {
    if (argc < 3 || argc > 4) {
        std::fprintf(stderr, "usage: demo-server <document root> <port> [name]\n");
        return 2;
    }
    const std::string root = argv[1];
    const int port = std::atoi(argv[2]);
    const std::string name = argc == 4 ? argv[3] : "demo server";
    if (!std::filesystem::is_directory(root) || port <= 0 || port > 65535) {
        std::fprintf(stderr, "%s: no folder %s or bad port %s\n", name.c_str(), root.c_str(),
                     argv[2]);
        return 2;
    }

    // Signals go to one waiting thread, which stops the server from outside the handler.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    httplib::Server server;
    // SO_REUSEADDR only: cpp-httplib's default also sets SO_REUSEPORT, which would let a second
    // server bind a port that is already in use.
    server.set_socket_options([](socket_t sock) {
        int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof(yes));
    });
    if (!server.set_mount_point("/", root)) {
        std::fprintf(stderr, "%s: cannot serve %s\n", name.c_str(), root.c_str());
        return 1;
    }
    server.set_file_extension_and_mimetype_mapping("ini", "text/plain");
    server.set_file_extension_and_mimetype_mapping("ppf", "application/octet-stream");
    server.set_file_extension_and_mimetype_mapping("rar", "application/vnd.rar");
    server.set_logger([&name](const httplib::Request& req, const httplib::Response& res) {
        std::fprintf(stderr, "[%s] %s %s -> %d\n", name.c_str(), req.method.c_str(),
                     req.path.c_str(), res.status);
    });
    if (!server.bind_to_port("127.0.0.1", port)) {
        std::fprintf(stderr, "%s: cannot listen on 127.0.0.1:%d (is the port in use?)\n",
                     name.c_str(), port);
        return 1;
    }
    std::thread stopper([&] {
        int signal = 0;
        sigwait(&stopSignals, &signal);
        server.stop();
    });
    stopper.detach();
    const bool ok = server.listen_after_bind();
    return ok ? 0 : 1;
}
