#include "net/server_url.h"

namespace zandrel::net {

QString serverFileUrl(const QString& typed, const QString& file) {
    const bool hasScheme = typed.startsWith(QLatin1String("http://"), Qt::CaseInsensitive) ||
                           typed.startsWith(QLatin1String("https://"), Qt::CaseInsensitive);
    return (hasScheme ? typed : QStringLiteral("http://") + typed) + QLatin1Char('/') + file;
}

}  // namespace zandrel::net
