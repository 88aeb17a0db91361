#include "update_digest.h"

#include "server/settings.h"

#include <QCryptographicHash>
#include <QFile>

namespace zandrel::check {

std::optional<Digest> digestOfFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!hash.addData(&file) || file.error() != QFileDevice::NoError) return std::nullopt;
    return Digest{hash.result(), file.size()};
}

QStringList keyLines(const Digest& digest) {
    return {
        server::kKeyUpdateSha256 + QLatin1Char('=') + QString::fromLatin1(digest.sha256.toHex()),
        server::kKeyUpdateSize + QLatin1Char('=') + QString::number(digest.size)};
}

QString shortHex(const QByteArray& sha256) {
    return QString::fromLatin1(sha256.toHex().left(12)) + QStringLiteral("...");
}

}  // namespace zandrel::check
