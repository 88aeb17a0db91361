#include "value_checks.h"

#include <QRegularExpression>
#include <QStringList>

namespace zandrel::check {

bool ppfValueClearlyRar(const QString& value) {
    static const QStringList rar{QStringLiteral("0"), QStringLiteral("rar"), QStringLiteral("no"),
                                 QStringLiteral("false"), QStringLiteral("off")};
    return rar.contains(value, Qt::CaseInsensitive);
}

QString mailAddressFault(const QString& value) {
    if (value.startsWith(QStringLiteral("mailto:"), Qt::CaseInsensitive))
        return QStringLiteral("it starts with \"mailto:\"; the program adds that itself");
    for (const QChar c : value) {
        if (c.isSpace() || c.category() == QChar::Other_Control)
            return QStringLiteral("it holds blanks or control characters");
    }
    const qsizetype at = value.indexOf(QLatin1Char('@'));
    if (at < 0 || at != value.lastIndexOf(QLatin1Char('@')))
        return QStringLiteral("an address has exactly one \"@\"");
    const QString local = value.left(at);
    const QString domain = value.mid(at + 1);
    static const QRegularExpression localPart(
        QStringLiteral("^[A-Za-z0-9!#$%'*+/=^_`{|}~.\\-\\x{80}-\\x{10FFFF}]+$"));
    if (local.isEmpty() || !localPart.match(local).hasMatch())
        return QStringLiteral(
            "the part before \"@\" is empty or holds characters a mail link "
            "cannot carry");
    static const QRegularExpression domainName(QStringLiteral(
        "^([A-Za-z0-9\\x{80}-\\x{10FFFF}]([A-Za-z0-9\\-\\x{80}-\\x{10FFFF}]*[A-Za-z0-9\\x{80}-"
        "\\x{10FFFF}])?\\.)+[A-Za-z\\x{80}-\\x{10FFFF}]{2,}$"));
    if (!domainName.match(domain).hasMatch())
        return QStringLiteral("\"%1\" is not a mail domain (like example.org)").arg(domain);
    return {};
}

QString gameAddressFault(const QString& value, bool* missingPort) {
    if (missingPort) *missingPort = false;
    for (const QChar c : value) {
        if (c.isSpace() || c.category() == QChar::Other_Control)
            return QStringLiteral(
                "it holds blanks or control characters, which split the "
                "game's command line");
    }
    // "[v6 address]:port" or "host:port"; a bare IPv6 address has colons of its own.
    QString host = value;
    QString port;
    if (value.startsWith(QLatin1Char('['))) {
        const qsizetype close = value.indexOf(QLatin1Char(']'));
        if (close < 0) return QStringLiteral("the \"[\" has no \"]\"");
        host = value.mid(1, close - 1);
        const QString rest = value.mid(close + 1);
        if (rest.isEmpty()) {
            if (missingPort) *missingPort = true;
            return QStringLiteral("no port is given (add \":2302\", or the port the server uses)");
        }
        if (!rest.startsWith(QLatin1Char(':'))) return QStringLiteral("text follows the \"]\"");
        port = rest.mid(1);
    } else {
        const qsizetype colon = value.lastIndexOf(QLatin1Char(':'));
        if (colon < 0 || value.count(QLatin1Char(':')) > 1) {
            if (value.count(QLatin1Char(':')) > 1)
                return QStringLiteral("an IPv6 address is written in brackets: [address]:port");
            if (missingPort) *missingPort = true;
            return QStringLiteral("no port is given (add \":2302\", or the port the server uses)");
        }
        host = value.left(colon);
        port = value.mid(colon + 1);
    }
    if (host.isEmpty()) return QStringLiteral("no host is given before the port");
    static const QRegularExpression digits(QStringLiteral("^[0-9]{1,5}$"));
    if (!digits.match(port).hasMatch() || port.toInt() < 1 || port.toInt() > 65535)
        return QStringLiteral("\"%1\" is not a port (1 to 65535)").arg(port);
    return {};
}

bool hasMapExtension(const QString& name) {
    return name.endsWith(QStringLiteral(".map"), Qt::CaseInsensitive) && name.size() > 4;
}

}  // namespace zandrel::check
