#include "startup/join_link.h"

#include <QStringDecoder>
#include <QStringList>

#include <optional>

namespace zandrel::startup {

namespace {

// The first folder of the link that says the server is reached over https.
const QString kHttpsForm = QStringLiteral("https");

LinkAddress refused(const char* why) {
    return {QString(), QString::fromUtf8(why)};
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The text with its %XX escapes decoded as UTF-8; nothing for a broken escape or bytes that are
// not UTF-8.
std::optional<QString> decoded(const QString& text) {
    const QByteArray raw = text.toUtf8();
    QByteArray bytes;
    for (qsizetype i = 0; i < raw.size(); ++i) {
        if (raw[i] != '%') {
            bytes += raw[i];
            continue;
        }
        const int high = i + 2 < raw.size() ? hexValue(raw[i + 1]) : -1;
        const int low = i + 2 < raw.size() ? hexValue(raw[i + 2]) : -1;
        if (high < 0 || low < 0) return std::nullopt;
        bytes += static_cast<char>(high * 16 + low);
        i += 2;
    }
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString result = utf8.decode(bytes);
    if (utf8.hasError()) return std::nullopt;
    return result;
}

bool isAsciiLetterOrDigit(char32_t c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// A label of a host name: 1 to 63 letters, digits and "-", not at either end.
bool isHostLabel(QStringView label) {
    if (label.isEmpty() || label.size() > 63) return false;
    if (label.front() == u'-' || label.back() == u'-') return false;
    for (const QChar c : label) {
        if (!isAsciiLetterOrDigit(c.unicode()) && c != u'-') return false;
    }
    return true;
}

// A host name or an IPv4 address (its labels are digits).
bool isHostName(QStringView host) {
    if (host.size() > 253) return false;
    for (const QStringView label : host.split(u'.')) {
        if (!isHostLabel(label)) return false;
    }
    return true;
}

// A bracketed IPv6 address, by its characters; the transfer library reads the rest.
bool isBracketedIpv6(QStringView host) {
    if (host.size() < 4 || host.front() != u'[' || host.back() != u']') return false;
    const QStringView inner = host.mid(1, host.size() - 2);
    for (const QChar c : inner) {
        const bool hexDigit = c.unicode() < 0x80 && hexValue(static_cast<char>(c.unicode())) >= 0;
        if (!hexDigit && c != u':' && c != u'.') return false;
    }
    return inner.count(u':') >= 2;
}

bool isPort(QStringView port) {
    if (port.isEmpty() || port.size() > 5) return false;
    for (const QChar c : port) {
        if (c < u'0' || c > u'9') return false;
    }
    const int value = port.toInt();
    return value >= 1 && value <= 65535;
}

bool isPathCharacter(char32_t c) {
    static constexpr std::u32string_view kMarks = U"-._~/ +,=@:";
    if (isAsciiLetterOrDigit(c) || kMarks.find(c) != std::u32string_view::npos) return true;
    return c > 0x7f && QChar::isLetterOrNumber(c);
}

bool isFolderPath(QStringView path) {
    for (const char32_t c : path.toUcs4()) {
        if (!isPathCharacter(c)) return false;
    }
    return true;
}

// "HOST[:PORT]" checked; the reason it is not one, or nullptr.
const char* authorityProblem(QStringView authority) {
    if (authority.contains(u'@'))
        return "it holds user information (a name or a password before \"@\")";
    if (authority.isEmpty()) return "it names no server";
    const qsizetype colon = authority.lastIndexOf(u':');
    const bool hasPort = colon >= 0 && !authority.sliced(colon).contains(u']');
    const QStringView host = hasPort ? authority.first(colon) : authority;
    if (host.isEmpty()) return "it names no server";
    if (!isHostName(host) && !isBracketedIpv6(host))
        return "its server name holds a character that no host name has";
    if (hasPort && !isPort(authority.sliced(colon + 1)))
        return "its port is not a number from 1 to 65535";
    return nullptr;
}

// The address a player would type for "HOST[:PORT][/FOLDER...]", checked.
LinkAddress addressOf(QString rest, const QString& scheme) {
    while (rest.endsWith(u'/')) rest.chop(1);
    const qsizetype slash = rest.indexOf(u'/');
    const QString authority = slash < 0 ? rest : rest.left(slash);
    const QString path = slash < 0 ? QString() : rest.mid(slash);
    if (const char* problem = authorityProblem(authority)) return refused(problem);
    if (!isFolderPath(path))
        return refused("its folder path holds a character that Zandrel does not take from a link");
    return {scheme + authority + path, QString()};
}

}  // namespace

bool isLink(const QString& word) {
    return word.startsWith(kLinkScheme + u':', Qt::CaseInsensitive);
}

LinkAddress readLink(const QString& link) {
    if (link.size() > kMaxLinkLength) return refused("it is longer than 1,024 characters");
    const QString prefix = kLinkScheme + QStringLiteral("://");
    if (!link.startsWith(prefix, Qt::CaseInsensitive))
        return refused("it does not begin with zandrel://");
    const QString raw = link.mid(prefix.size());
    if (raw.contains(u'?') || raw.contains(u'#'))
        return refused("it holds a query or a fragment (\"?\" or \"#\"), which Zandrel would drop");
    const std::optional<QString> rest = decoded(raw);
    if (!rest)
        return refused(
            "it holds a broken escape (a \"%\" not followed by two hex digits) "
            "or text that is not UTF-8");
    const QString firstFolder = rest->section(u'/', 0, 0);
    if (firstFolder.compare(kHttpsForm, Qt::CaseInsensitive) == 0 && rest->contains(u'/'))
        return addressOf(rest->section(u'/', 1), QStringLiteral("https://"));
    return addressOf(*rest, QString());
}

}  // namespace zandrel::startup
