#pragma once

#include "map_bytes.h"
#include "rar/rarwriter.h"
#include "test_http_server.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>
#include <utility>
#include <vector>

namespace zandrel::test {

// A PPF3.0 patch made by the patch library from two versions of a map.
QByteArray makePatch(const QByteArray& original, const QByteArray& modified,
                     const char* description);
QByteArray rarArchive(const std::vector<rar::Entry>& entries, const rar::Options& options = {},
                      rar::Format format = rar::Format::Rar5);

// A game server's web root as an administrator publishes it: connect.ini with the five keys, an
// information page and the update. Starts out as a good RAR server for canyon.map; tests break
// one thing at a time.
class AdminServer {
public:
    AdminServer();

    QString address() const { return http_.address(); }
    TestHttpServer& http() { return http_; }

    // Settings keys in file order; setting a key that is there replaces its value.
    void setKey(const QString& key, const QString& value);
    void removeKey(const QString& key);
    // Writes connect.ini from the keys (plus any extra raw text), or removes it.
    void publishSettings(const QByteArray& extra = {});
    void removeSettings();

    // Serves the file, with Last-Modified and ETag unless told otherwise; or a 404 for it.
    void put(const QString& name, const QByteArray& bytes);
    // The bytes served under that name (empty when none).
    QByteArray file(const QString& name) const { return files_.value(name); }
    void remove(const QString& name);
    void setSendsValidators(bool sends);

    // Moves the file to an https server of its own, whose certificate comes from an authority
    // made here, and redirects to it. The authority is trusted only by a tool run given
    // caBundle() (as CURL_CA_BUNDLE).
    void moveToHttps(const QString& name);
    QString caBundle() const { return tlsFolder_.filePath(QStringLiteral("ca.pem")); }

    // A PPF server: ppf=1, Target ridge.map, zandrel.ppf from version 1 to version 2 of it.
    void makePpfServer();

private:
    void serve(const QString& name);

    TestHttpServer http_;
    QTemporaryDir tlsFolder_;
    std::unique_ptr<TestCertificateAuthority> authority_;
    std::unique_ptr<TestHttpServer> https_;
    QList<std::pair<QString, QString>> keys_;
    QMap<QString, QByteArray> files_;
    bool validators_ = true;
};

// One run of the real tool, in a folder of its own with TMPDIR inside it.
struct ToolRun {
    int exitStatus = -1;
    QByteArray out;
    QByteArray err;
    QJsonObject json;        // when run with --json and the output parsed
    QStringList leftBehind;  // files in the run's temporary and working folders afterwards
};
// `environment` adds to the tool's environment ("NAME=value").
ToolRun runCheck(const QStringList& arguments, const QStringList& environment = {},
                 int timeoutMs = 60000);

// The findings of a JSON report with this code.
QList<QJsonObject> findingsWithCode(const QJsonObject& report, const QString& code);

}  // namespace zandrel::test
