#include "update_digest.h"

#include "base/sha256.h"
#include "server/settings.h"

#include <QFile>

namespace zandrel::check {

std::optional<Digest> digestOfFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    const std::optional<QByteArray> sha256 = sha256Of(file);
    if (!sha256 || file.error() != QFileDevice::NoError) return std::nullopt;
    return Digest{*sha256, file.size()};
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
