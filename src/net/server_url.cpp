#include "net/server_url.h"

#include <QByteArray>

namespace zandrel::net {
namespace {

// The bytes a browser percent-encodes in an address's path: controls, the space, non-ASCII
// (as UTF-8) and the few marks that may not stand in a URL. "%", "?" and "#" keep their
// meaning: an escape, the query, the fragment.
bool escapedInPath(unsigned char c) {
    static constexpr QByteArrayView kMarks = "\"<>`{}";
    return c <= 0x20 || c >= 0x7f || kMarks.contains(static_cast<char>(c));
}

QString encodedPath(const QString& path) {
    QByteArray out;
    for (const char byte : path.toUtf8()) {
        const auto c = static_cast<unsigned char>(byte);
        if (escapedInPath(c)) {
            out += '%' + QByteArray::number(c, 16).toUpper().rightJustified(2, '0');
        } else {
            out += byte;
        }
    }
    return QString::fromLatin1(out);
}

// The address with its path (from the first "/" after the host) percent-encoded; the scheme
// and the host are the transfer library's to read.
QString encodedAddress(const QString& address, qsizetype hostStart) {
    const qsizetype pathStart = address.indexOf(QLatin1Char('/'), hostStart);
    if (pathStart < 0) return address;
    return address.left(pathStart) + encodedPath(address.mid(pathStart));
}

}  // namespace

QString serverFileUrl(const QString& typed, const QString& file) {
    const bool hasScheme = typed.startsWith(QLatin1String("http://"), Qt::CaseInsensitive) ||
                           typed.startsWith(QLatin1String("https://"), Qt::CaseInsensitive);
    const QString address =
        (hasScheme ? typed : QStringLiteral("http://") + typed) + QLatin1Char('/') + file;
    return encodedAddress(address, address.indexOf(QLatin1String("://")) + 3);
}

}  // namespace zandrel::net
