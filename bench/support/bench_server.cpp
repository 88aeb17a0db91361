#include "bench_server.h"

#include "test_http_server.h"
#include "test_tls.h"

#include <QCoreApplication>
#include <QFile>

#include <iostream>

namespace zandrel::bench {
namespace {

QByteArray contents(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) qFatal("cannot read %s", qPrintable(path));
    return file.readAll();
}

}  // namespace

int serveUntilStdinCloses(int port, const std::function<std::string()>& reply) {
    std::cout << port << std::endl;
    std::string line;
    while (std::getline(std::cin, line)) std::cout << reply() << std::endl;
    return 0;
}

int serveFolder(const QString& root, const QString& certificatePem, const QString& keyPem) {
    const test::TlsIdentity tls =
        certificatePem.isEmpty() ? test::TlsIdentity{}
                                 : test::TlsIdentity{contents(certificatePem), contents(keyPem)};
    test::TestHttpServer server(root, tls);
    return serveUntilStdinCloses(server.port(), [] { return std::string(); });
}

ServerProcess::ServerProcess(const QStringList& args) {
    process_.start(QCoreApplication::applicationFilePath(), args);
    if (!process_.waitForReadyRead(10000)) qFatal("server did not start");
    port_ = process_.readLine().trimmed().toInt();
}

ServerProcess::~ServerProcess() {
    process_.closeWriteChannel();
    process_.waitForFinished(10000);
}

QByteArray ServerProcess::ask(const QByteArray& line) {
    process_.write(line + '\n');
    while (!process_.canReadLine())
        if (!process_.waitForReadyRead(10000)) qFatal("server did not answer");
    return process_.readLine().trimmed();
}

bool sameContents(const QString& a, const QString& b) {
    QFile fa(a), fb(b);
    if (!fa.open(QIODevice::ReadOnly) || !fb.open(QIODevice::ReadOnly)) return false;
    if (fa.size() != fb.size()) return false;
    while (!fa.atEnd())
        if (fa.read(1 << 20) != fb.read(1 << 20)) return false;
    return true;
}

}  // namespace zandrel::bench
