#pragma once

#include <cstddef>
#include <istream>
#include <string>
#include <string_view>

// Reads one value from a Windows-style profile (INI) file, the way the Windows profile-string
// function does, with these choices of ours:
// - file bytes are UTF-8 (a leading EF BB BF mark is skipped); a file that starts with FF FE is
//   UTF-16LE and is converted to UTF-8; names are compared case-insensitively (ASCII only);
// - CR LF, LF and CR each end a line; space, tab and vertical tab count as blanks;
// - "[name]" starts a section (a missing "]" is tolerated, text after it is ignored); only the
//   first section of a name is searched; lines before the first section are unreachable;
// - a line whose first non-blank character is ";" is a comment; a key line is split at its
//   first "="; the first occurrence of a key wins; a line without "=" is no key;
// - the value is cut at its first NUL byte, trimmed, and loses one pair of matching quotes
//   (" or ') around it;
// - the input is read in chunks and never held whole: memory stays bounded however long the
//   file or any of its lines is (about the buffer size plus the lengths of the names).
namespace zandrel::ini {

// Copies the value of `key` in `section` of the file into `buffer` and returns the number of
// bytes copied, without the terminating NUL. A value longer than size - 1 bytes is cut to its
// first size - 1 bytes. When the file, the section or the key does not exist, `def` is copied
// (cut the same way) and 0 is returned; an empty value also returns 0. The caller's names lose
// leading and trailing blanks. With size 0 nothing is written. A file name is used exactly as
// given; anything but a regular file (a folder, a pipe, a device) counts as missing.
std::size_t getPrivateProfileString(std::string_view section, std::string_view key,
                                    std::string_view def, char* buffer, std::size_t size,
                                    const std::string& fileName);

// The same, reading the file's bytes from a stream (from its current position to its end).
std::size_t getPrivateProfileStringFromStream(std::string_view section, std::string_view key,
                                              std::string_view def, char* buffer, std::size_t size,
                                              std::istream& in);

// The same, with the file's bytes in memory.
std::size_t getPrivateProfileStringFromMemory(std::string_view section, std::string_view key,
                                              std::string_view def, char* buffer, std::size_t size,
                                              std::string_view bytes);

}  // namespace zandrel::ini
