#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace zandrel::archive {

// The path an archive entry may be written to, relative to the destination folder, with "/"
// between the elements and no empty or "." elements; or nothing, with the reason in `why`.
//
// Archive names come from Windows tools: "\" is read as a separator wherever it appears (RAR 5
// keeps it literally, RAR 4 is converted by libarchive). Refused: empty names, absolute names
// ("/x", "\x"), UNC names ("\\server\share"), drive letters ("C:\x", "C:x") and any other ":"
// (an NTFS stream name), ".." elements, and control characters.
std::optional<std::string> safeEntryPath(std::string_view name, std::string* why = nullptr);

}  // namespace zandrel::archive
