#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

// Writes stored (method "store", no compression) RAR archives in the 4.x and 5.0 formats.
// Names are written exactly as given: no separator conversion and no checks, so tests can
// build hostile archives ("..", "C:\x", "\\server\share") with it.
namespace zandrel::rar {

enum class Format { Rar4, Rar5 };

struct Entry {
    enum Kind { File, Directory, Symlink, Hardlink };

    std::string name = {};
    std::string data = {};  // File only
    Kind kind = File;
    std::string linkTarget = {};  // Symlink, Hardlink (Hardlink: RAR 5.0 only)
    // A data checksum to write instead of the right one (broken-archive fixtures).
    std::optional<std::uint32_t> crcOverride = {};
};

// CRC-32 (IEEE 802.3, as zlib), continued from `crc`.
std::uint32_t crc32(const void* data, std::size_t size, std::uint32_t crc = 0);

// The whole archive in memory.
std::string writeStored(Format format, const std::vector<Entry>& entries);

// Pieces for writing large archives as a stream: the start (signature and main header), one
// header per entry followed by that entry's `size` bytes of data, the end-of-archive block.
std::string archiveStart(Format format);
struct FileHeader {
    std::string name;
    Entry::Kind kind = Entry::File;
    std::uint64_t size = 0;  // bytes of data that follow the header
    std::uint32_t crc = 0;   // CRC-32 of those bytes
    std::string linkTarget;
};
std::string fileHeader(Format format, const FileHeader& header);
std::string archiveEnd(Format format);

// Streams files from disk into `out`, each under the given entry name, reading each file twice
// (checksum, then copy) so that the size of the files does not matter. Throws
// std::runtime_error naming the file that cannot be read.
struct SourceFile {
    std::string name;  // entry name
    std::string path;  // file to store
};
void writeStoredFiles(Format format, const std::vector<SourceFile>& files, std::ostream& out);

}  // namespace zandrel::rar
