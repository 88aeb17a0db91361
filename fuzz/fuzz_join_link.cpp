// Fuzzes the reading of "zandrel:" links with arbitrary text.
//
// Input: one byte choosing whether "zandrel://" is put before the rest (so that the fuzzer
// spends its time past the scheme), then the link's bytes as UTF-8. Checks, besides what ASan
// and UBSan see:
// - a refused link gives no address and says why; an accepted one gives an address and no
//   reason;
// - an accepted address is never an option (no leading "-"), holds no user information and no
//   character a shell, a launcher or a URL would read specially (quotes, ";", "$", "`", "\",
//   "?", "#", "%", "<", ">", "|", "&", "*"), no control, hidden or line-break character, and is
//   no longer than the link;
// - the link made again from an accepted address reads back to the same address.

#include "base/hidden_characters.h"
#include "startup/join_link.h"

#include <QString>

#include <cstdint>
#include <cstdlib>

namespace {

using zandrel::startup::readLink;

void require(bool condition) {
    if (!condition) std::abort();
}

bool isSpecial(QChar c) {
    static const QString kSpecial = QStringLiteral("\"';$`\\?#%<>|&*");
    return c.unicode() < 0x20 || c.unicode() == 0x7f || kSpecial.contains(c) ||
           zandrel::isHiddenCharacter(c.unicode());
}

// The link a server would write for an address: its https form, or the address as it is.
QString linkFor(const QString& address) {
    const QString https = QStringLiteral("https://");
    return address.startsWith(https)
               ? QStringLiteral("zandrel://https/") + address.mid(https.size())
               : QStringLiteral("zandrel://") + address;
}

void checkAccepted(const QString& link, const QString& address) {
    require(!address.isEmpty() && address.size() <= link.size());
    require(!address.startsWith(u'-'));
    const QString https = QStringLiteral("https://");
    const QString host =
        (address.startsWith(https) ? address.mid(https.size()) : address).section(u'/', 0, 0);
    require(!host.contains(u'@') && !host.isEmpty());
    for (const QChar c : address) require(!isSpecial(c));
    const auto again = readLink(linkFor(address));
    require(again.accepted() && again.address == address);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const QString rest = QString::fromUtf8(reinterpret_cast<const char*>(data + 1),
                                           static_cast<qsizetype>(size - 1));
    const QString link = (data[0] & 1) ? QStringLiteral("zandrel://") + rest : rest;
    const auto read = readLink(link);
    if (read.accepted()) {
        checkAccepted(link, read.address);
    } else {
        require(read.address.isEmpty() && !read.refusal.isEmpty());
    }
    return 0;
}
