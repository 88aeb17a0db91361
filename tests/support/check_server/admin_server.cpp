#include "admin_server.h"

#include "patch/ppf.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QProcessEnvironment>

namespace zandrel::test {

QByteArray makePatch(const QByteArray& original, const QByteArray& modified,
                     const char* description) {
    patch::CreateOptions options;
    options.description = description;
    const auto bytes = [](const QByteArray& b) {
        return patch::Bytes(reinterpret_cast<const std::uint8_t*>(b.constData()), size_t(b.size()));
    };
    const std::vector<std::uint8_t> patch =
        patch::createPatch(bytes(original), bytes(modified), options);
    return QByteArray(reinterpret_cast<const char*>(patch.data()), qsizetype(patch.size()));
}

QByteArray rarArchive(const std::vector<rar::Entry>& entries, const rar::Options& options,
                      rar::Format format) {
    const std::string archive = rar::writeStored(format, entries, options);
    return QByteArray(archive.data(), qsizetype(archive.size()));
}

AdminServer::AdminServer() {
    keys_ = {{QStringLiteral("html"), http_.url(QStringLiteral("/index.html"))},
             {QStringLiteral("HaloIP"), QStringLiteral("127.0.0.1:2302")},
             {QStringLiteral("Target"), QStringLiteral("canyon.map")},
             {QStringLiteral("ppf"), QStringLiteral("0")},
             {QStringLiteral("AdminEmail"), QStringLiteral("admin@example.org")}};
    publishSettings();
    put(QStringLiteral("index.html"), "<html><body><h1>Welcome</h1></body></html>");
    const QByteArray canyon = editedMap(mapBytes("canyon", 1));
    put(QStringLiteral("zandrel.rar"),
        rarArchive({{.name = "canyon.map", .data = canyon.toStdString()},
                    {.name = "glacier.map", .data = mapBytes("glacier", 1).toStdString()}}));
}

void AdminServer::setKey(const QString& key, const QString& value) {
    for (auto& [k, v] : keys_) {
        if (k == key) {
            v = value;
            return;
        }
    }
    keys_.append({key, value});
}

void AdminServer::removeKey(const QString& key) {
    keys_.removeIf([&](const auto& kv) { return kv.first == key; });
}

void AdminServer::publishSettings(const QByteArray& extra) {
    QByteArray ini = "; published by the tests\r\n[Main]\r\n";
    for (const auto& [k, v] : keys_) ini += (k + QLatin1Char('=') + v).toUtf8() + "\r\n";
    put(QStringLiteral("connect.ini"), ini + extra);
}

void AdminServer::removeSettings() {
    remove(QStringLiteral("connect.ini"));
}

void AdminServer::put(const QString& name, const QByteArray& bytes) {
    files_.insert(name, bytes);
    serve(name);
}

void AdminServer::remove(const QString& name) {
    files_.remove(name);
    http_.route(QLatin1Char('/') + name, HttpReply::error(404, "Not Found"));
}

void AdminServer::setSendsValidators(bool sends) {
    validators_ = sends;
    for (const QString& name : files_.keys()) serve(name);
}

void AdminServer::serve(const QString& name) {
    const QByteArray& bytes = files_.value(name);
    HttpReply reply = HttpReply::ok(bytes);
    if (validators_) {
        reply.headers = {{"Last-Modified", "Wed, 09 Dec 2026 10:00:00 GMT"},
                         {"ETag", '"' + QByteArray::number(qHash(bytes), 16) + '"'}};
    }
    http_.route(QLatin1Char('/') + name, reply);
}

void AdminServer::moveToHttps(const QString& name) {
    if (!https_) {
        authority_ = std::make_unique<TestCertificateAuthority>();
        authority_->writeBundle(caBundle());
        https_ = std::make_unique<TestHttpServer>(QString(),
                                                  authority_->issue({QStringLiteral("127.0.0.1")}));
    }
    HttpReply reply = HttpReply::ok(files_.value(name));
    reply.headers = {{"ETag", "\"on-https\""}};
    https_->route(QLatin1Char('/') + name, reply);
    http_.route(QLatin1Char('/') + name, HttpReply::redirect(https_->url(QLatin1Char('/') + name)));
}

void AdminServer::makePpfServer() {
    setKey(QStringLiteral("ppf"), QStringLiteral("1"));
    setKey(QStringLiteral("Target"), QStringLiteral("ridge.map"));
    publishSettings();
    remove(QStringLiteral("zandrel.rar"));
    const QByteArray ridge = mapBytes("ridge", 1);
    put(QStringLiteral("zandrel.ppf"), makePatch(ridge, editedMap(ridge), "Ridge version 2"));
}

ToolRun runCheck(const QStringList& arguments, const QStringList& environment, int timeoutMs) {
    ToolRun run;
    QTemporaryDir box;
    QDir(box.path()).mkpath(QStringLiteral("tmp"));
    QDir(box.path()).mkpath(QStringLiteral("cwd"));
    QProcess tool;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("TMPDIR"), box.filePath(QStringLiteral("tmp")));
    // Only the system's authorities are trusted unless a test says otherwise.
    for (const char* name : {"CURL_CA_BUNDLE", "SSL_CERT_FILE", "SSL_CERT_DIR"})
        env.remove(QString::fromLatin1(name));
    for (const QString& setting : environment)
        env.insert(setting.section(QLatin1Char('='), 0, 0), setting.section(QLatin1Char('='), 1));
    tool.setProcessEnvironment(env);
    tool.setWorkingDirectory(box.filePath(QStringLiteral("cwd")));
    // Standard input stays an open pipe that never delivers: a tool that read it would hang.
    tool.start(QStringLiteral(ZANDREL_CHECK_TOOL), arguments);
    if (!tool.waitForFinished(timeoutMs)) {
        tool.kill();
        tool.waitForFinished();
        run.exitStatus = -2;
    } else if (tool.exitStatus() == QProcess::NormalExit) {
        run.exitStatus = tool.exitCode();
    }
    run.out = tool.readAllStandardOutput();
    run.err = tool.readAllStandardError();
    if (arguments.contains(QStringLiteral("--json")))
        run.json = QJsonDocument::fromJson(run.out).object();
    QDirIterator it(box.path(),
                    QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = QDir(box.path()).relativeFilePath(it.next());
        if (path != QLatin1String("tmp") && path != QLatin1String("cwd"))
            run.leftBehind.append(path);
    }
    return run;
}

QList<QJsonObject> findingsWithCode(const QJsonObject& report, const QString& code) {
    QList<QJsonObject> found;
    for (const QJsonValue& v : report.value(QStringLiteral("findings")).toArray()) {
        if (v.toObject().value(QStringLiteral("code")).toString() == code)
            found.append(v.toObject());
    }
    return found;
}

}  // namespace zandrel::test
