#pragma once

#include "base/error.h"

#include <QString>
#include <QUrl>

#include <cstdint>

// Which addresses the server window's web view shows, and how it hands on mail links. The view
// (src/windows/web_view.*) and zandrel-check both use these, so the checker refuses exactly
// what the program refuses.
namespace zandrel::server {

// Raised for an address the view will not show (E_INVALIDARG, as the Windows web control
// reports a bad argument).
inline constexpr std::int32_t kBadPageAddress =
    static_cast<std::int32_t>(ErrorNumber::InvalidArgument);

// The page address the view loads for address:
//  - "http://..." and "https://..." addresses with a host, and "about:blank";
//  - an address without a scheme ("host/page", "host:port/page"), taken as http, as a
//    browser's address box does.
// Throws Error (kBadPageAddress, with `source` as its source) for an empty address and for any
// other scheme (file:, javascript:, data:, ...), which would show local files or run code from
// a server's text.
QUrl pageAddress(const QString& address, const QString& source);

// The link handed to the mail program for a "mailto:" address (any case, spaces after the colon
// allowed), or an empty URL when the address is not a mail link. Of the link's header fields
// only to, cc, bcc, subject and body are kept, so a page cannot make the mail program attach
// local files.
QUrl mailLink(const QString& address);

// A mail link with every header field but to, cc, bcc, subject and body removed.
QUrl safeMailLink(QUrl link);

}  // namespace zandrel::server
