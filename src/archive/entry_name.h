#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace zandrel::archive {

// Limits on the names an archive may write. The game runs on Windows or under Wine, where a
// whole path (drive, game folder, "maps\" and the name) is at most 260 characters: no name it
// can open comes near these. They keep every name and every walk over its folders short.
constexpr std::size_t kMaxElementBytes = 255;  // one file or folder name, in UTF-8 bytes
constexpr std::size_t kMaxPathBytes = 1024;    // the whole name below the destination
constexpr std::size_t kMaxDepth = 32;          // folders above the entry

// The path an archive entry may be written to, relative to the destination folder, with "/"
// between the elements and no empty or "." elements; or nothing, with the reason in `why`.
//
// Archive names come from Windows tools: "\" is read as a separator wherever it appears (RAR 5
// keeps it literally, RAR 4 is converted by libarchive). Refused: empty names, absolute names
// ("/x", "\x"), UNC names ("\\server\share"), drive letters ("C:\x", "C:x") and any other ":"
// (an NTFS stream name), ".." elements, control characters, and names beyond the limits above
// (checked before the name is taken apart, so their cost is bounded too).
std::optional<std::string> safeEntryPath(std::string_view name, std::string* why = nullptr);

// The folder part and the last element of such a path ("" and the path when it has no "/").
inline std::string parentOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}
inline std::string leafOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace zandrel::archive
