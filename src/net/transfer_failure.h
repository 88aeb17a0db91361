#pragma once

#include <cstdint>

namespace zandrel::net {

// Why a request failed: the kind carried by the Error that Inet throws (error.kind<
// TransferFailure>()). A new kind is one line here and its number in shownNumber.
enum class TransferFailure {
    RefusedStatus,    // a reply whose status is not the resource's; detail: the status
    Transport,        // the transfer library failed; detail: its code (CURLcode)
    Busy,             // a request is already running on this Inet
    Certificate,      // the server's certificate (authority, host name, dates) was not verified
    Downgrade,        // a redirect from https to http, handing the rest to anyone on the way
    IncompleteReply,  // the reply ended before its header block did (a status line, then close)
    Cancelled,        // Inet::cancel: the player's own choice, not a failure to report
    TooSlow,  // slower than the minimum rate over the rate window: a trickle instead of silence
    // A reply that could be the file but cannot be: none of its body reaches the caller.
    ImpossibleLength,  // a Content-Length no reply can have (past 2^63 - 1, two different ones)
    UnaskedEncoding,   // a Content-Encoding we never asked for: the bytes are not the file's own
    WebPage,           // an HTML page (a portal, an error page sent with 200) instead of the file
};

// The number a message box shows for a transfer failure, as players and servers' admins have
// always seen it: the refused status itself, 20000 + the library's code, 3000x for the rest.
constexpr std::int32_t shownNumber(TransferFailure kind, std::int32_t detail) {
    switch (kind) {
        case TransferFailure::RefusedStatus:
            return detail;
        case TransferFailure::Transport:
            return 20000 + detail;
        case TransferFailure::Busy:
            return 30000;
        case TransferFailure::Certificate:
            return 30001;
        case TransferFailure::Downgrade:
            return 30002;
        case TransferFailure::IncompleteReply:
            return 30003;
        case TransferFailure::Cancelled:
            return 30004;
        case TransferFailure::TooSlow:
            return 30005;
        case TransferFailure::ImpossibleLength:
            return 30006;
        case TransferFailure::UnaskedEncoding:
            return 30007;
        case TransferFailure::WebPage:
            return 30008;
    }
    return 20000 + detail;
}

}  // namespace zandrel::net
