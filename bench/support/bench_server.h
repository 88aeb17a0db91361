#pragma once

// Loopback servers a benchmark runs in a process of its own (this same executable started
// again in a server mode), so that serving takes no time from the client being measured.

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <functional>
#include <string>

namespace zandrel::bench {

// In the server process: announces the port on standard output, then answers each line read
// from standard input with `reply()` on a line of its own, until standard input closes.
int serveUntilStdinCloses(int port, const std::function<std::string()>& reply);

// Serves a folder over http, or over https with a PEM certificate and key, until standard
// input closes (the mode behind ServerProcess's "--serve"/"--serve-tls" arguments).
int serveFolder(const QString& root, const QString& certificatePem = {},
                const QString& keyPem = {});

// A server process of this benchmark: this executable started with `args`; it stops when its
// standard input closes.
class ServerProcess {
public:
    explicit ServerProcess(const QStringList& args);
    ~ServerProcess();
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    int port() const { return port_; }
    QString address() const { return QStringLiteral("127.0.0.1:%1").arg(port_); }
    // Sends a line to the server and returns its one-line answer.
    QByteArray ask(const QByteArray& line);

private:
    QProcess process_;
    int port_ = 0;
};

// True when the two files hold the same bytes.
bool sameContents(const QString& a, const QString& b);

}  // namespace zandrel::bench
