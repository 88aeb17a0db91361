#pragma once

#include <QString>

// A "zandrel:" link from a web page, a chat or a forum post, read into the address a player
// would type into the start window. Widget-free.
namespace zandrel::startup {

// The link's scheme, as the desktop hands it to the program.
inline const QString kLinkScheme = QStringLiteral("zandrel");

// Links are short; one longer than this is refused whole.
inline constexpr qsizetype kMaxLinkLength = 1024;

struct LinkAddress {
    QString address;  // what the start window's address box is given; empty when refused
    QString refusal;  // why the link was refused, in the player's words; empty when accepted
    bool accepted() const { return refusal.isEmpty(); }
};

// Whether a command-line word is a link for us: the whole word starts with "zandrel:" (the
// scheme in any case). Nothing else on a command line is ever read as a link.
bool isLink(const QString& word);

// Reads a link:
//   zandrel://HOST[:PORT][/FOLDER...]          ->  HOST[:PORT][/FOLDER...]  (plain http)
//   zandrel://https/HOST[:PORT][/FOLDER...]    ->  https://HOST[:PORT][/FOLDER...]
// Escapes (%20) are decoded first; what is left must be a host name (letters, digits, "-" and
// "."), an IPv4 address or a bracketed IPv6 address, an optional port of 1 to 65535, and a
// folder path of letters, digits, spaces and -._~/+,=@: only. Trailing "/" are dropped. Refused:
// more than kMaxLinkLength characters, another scheme, user information ("user:pass@"), a query
// or fragment (they would be dropped), a broken escape or UTF-8, and every other character
// (quotes, ";", "$", "`", "\", control characters, line breaks...).
LinkAddress readLink(const QString& link);

}  // namespace zandrel::startup
