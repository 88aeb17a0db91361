#include "server/page_address.h"

#include "base/error.h"

#include <QRegularExpression>
#include <QStringList>
#include <QUrlQuery>

namespace zandrel::server {

namespace {

const QString kMailto = QStringLiteral("mailto:");

}  // namespace

// Some mail programs act on attach=, attachment= and similar fields.
QUrl safeMailLink(QUrl link) {
    const QUrlQuery query(link);
    QUrlQuery kept;
    for (const auto& [key, value] : query.queryItems(QUrl::FullyEncoded)) {
        static const QStringList allowed{QStringLiteral("to"), QStringLiteral("cc"),
                                         QStringLiteral("bcc"), QStringLiteral("subject"),
                                         QStringLiteral("body")};
        if (allowed.contains(key.toLower())) kept.addQueryItem(key, value);
    }
    if (kept.isEmpty()) {
        link.setQuery(QString());  // a null query removes the "?" as well
    } else {
        link.setQuery(kept);
    }
    return link;
}

QUrl mailLink(const QString& address) {
    const QString text = address.trimmed();
    if (!text.startsWith(kMailto, Qt::CaseInsensitive)) return {};
    // "mailto: someone@example.org": the space after the colon is not part of the address.
    const QString rest = text.mid(kMailto.size()).trimmed();
    return safeMailLink(QUrl(kMailto + rest, QUrl::TolerantMode));
}

QUrl pageAddress(const QString& address, const QString& source) {
    const QString text = address.trimmed();
    if (text.isEmpty())
        throw Error(ErrorNumber::InvalidArgument,
                    QStringLiteral("The web view was given no address"), source);
    if (text.compare(QStringLiteral("about:blank"), Qt::CaseInsensitive) == 0) {
        return QUrl(QStringLiteral("about:blank"));
    }
    // A scheme is letters before a colon; "host:8080/page" names a port, not a scheme.
    static const QRegularExpression scheme(QStringLiteral("^([A-Za-z][A-Za-z0-9+.\\-]*):(?!\\d)"));
    const auto match = scheme.match(text);
    QUrl url;
    if (match.hasMatch()) {
        const QString name = match.captured(1).toLower();
        if (name != QLatin1String("http") && name != QLatin1String("https")) {
            throw Error(ErrorNumber::InvalidArgument,
                        QStringLiteral("The web view shows only http and https pages, not \"%1\"")
                            .arg(text),
                        source);
        }
        url = QUrl(text, QUrl::TolerantMode);
    } else {
        url = QUrl(QStringLiteral("http://") + text, QUrl::TolerantMode);
    }
    if (!url.isValid() || url.host().isEmpty()) {
        throw Error(ErrorNumber::InvalidArgument,
                    QStringLiteral("The web view cannot use the address \"%1\"").arg(text), source);
    }
    return url;
}

}  // namespace zandrel::server
