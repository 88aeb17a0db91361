#pragma once

#include <cstdint>

namespace zandrel::archive {

// Why an unpacking failed, when the operating system did not say (those errors carry errno):
// the kind carried by the Error that UnRar and the header pass throw (error.kind<
// ArchiveFailure>()). A new kind is one line here and its number in shownNumber.
enum class ArchiveFailure {
    NotAnArchive,  // missing data, damaged, not RAR
    Refused,       // an entry that may not be written
    Limit,         // too many entries or bytes
    Busy,          // called again from a progress handler
    Cancelled,     // the caller asked to stop
};

// The number a message box shows for an unpacking failure, as players have always seen it.
constexpr std::int32_t shownNumber(ArchiveFailure kind, std::int32_t) {
    switch (kind) {
        case ArchiveFailure::NotAnArchive:
            return 30001;
        case ArchiveFailure::Refused:
            return 30002;
        case ArchiveFailure::Limit:
            return 30003;
        case ArchiveFailure::Busy:
            return 30004;
        case ArchiveFailure::Cancelled:
            return 30005;
    }
    return 30001;
}

}  // namespace zandrel::archive
