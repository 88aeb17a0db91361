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
    // Marked as encrypted (RAR 4: the header flag; RAR 5: an encryption record). The data is
    // written as given: only the headers matter to the fixtures.
    bool encrypted = false;
    // Marked as continued in the next volume.
    bool split = false;
};

// Archive-level choices for fixtures of archives that are incomplete or encrypted as a whole.
struct Options {
    bool endBlock = true;           // false: no end-of-archive block (as RAR before 2.9)
    bool nextVolume = false;        // the end block announces another volume
    bool headersEncrypted = false;  // RAR 4: main header flag; RAR 5: archive encryption header
    // RAR 5: false leaves the end-of-archive flags field out of the end block (a header of type
    // and flags only), as some writers do. RAR 4's end block has no such field.
    bool endFlags = true;
    bool volume = false;  // the main header marks the archive as one volume of a set
};

// CRC-32 (IEEE 802.3, as zlib), continued from `crc`.
std::uint32_t crc32(const void* data, std::size_t size, std::uint32_t crc = 0);

// The whole archive in memory. `blockStarts` receives the offset of every block after the
// signature (main header, each entry's header, end block), for fixtures cut at a boundary.
std::string writeStored(Format format, const std::vector<Entry>& entries,
                        const Options& options = {},
                        std::vector<std::size_t>* blockStarts = nullptr);

// Pieces for writing large archives as a stream: the start (signature and main header), one
// header per entry followed by that entry's `size` bytes of data, the end-of-archive block.
std::string archiveStart(Format format, const Options& options = {});
struct FileHeader {
    std::string name;
    Entry::Kind kind = Entry::File;
    std::uint64_t size = 0;  // bytes of data that follow the header
    std::uint32_t crc = 0;   // CRC-32 of those bytes
    std::string linkTarget;
    bool encrypted = false;
    bool split = false;
};
std::string fileHeader(Format format, const FileHeader& header);
std::string archiveEnd(Format format, const Options& options = {});

// Streams files from disk into `out`, each under the given entry name, reading each file twice
// (checksum, then copy) so that the size of the files does not matter. Throws
// std::runtime_error naming the file that cannot be read.
struct SourceFile {
    std::string name;  // entry name
    std::string path;  // file to store
};
void writeStoredFiles(Format format, const std::vector<SourceFile>& files, std::ostream& out);

}  // namespace zandrel::rar
