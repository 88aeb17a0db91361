#include "rar/rarwriter.h"

#include <array>
#include <fstream>
#include <ostream>
#include <stdexcept>
#include <vector>

namespace zandrel::rar {

namespace {

// Slicing-by-8 tables: the benchmark writes a gigabyte through this.
struct CrcTables {
    std::array<std::array<std::uint32_t, 256>, 8> t{};
    CrcTables() {
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[0][i] = c;
        }
        for (std::uint32_t i = 0; i < 256; ++i)
            for (int s = 1; s < 8; ++s) t[s][i] = (t[s - 1][i] >> 8) ^ t[0][t[s - 1][i] & 0xFF];
    }
};
const CrcTables& tables() {
    static const CrcTables instance;
    return instance;
}

// Fixed time stamps keep the output reproducible: 2004-06-01 12:00:00.
constexpr std::uint32_t kDosTime = ((2004 - 1980) << 25) | (6 << 21) | (1 << 16) | (12 << 11);
constexpr std::uint32_t kUnixTime = 1086091200;

constexpr std::uint32_t kModeFile = 0100644;
constexpr std::uint32_t kModeDir = 040755;
constexpr std::uint32_t kModeLink = 0120777;

void put16(std::string& s, std::uint32_t v) {
    s.push_back(char(v & 0xFF));
    s.push_back(char((v >> 8) & 0xFF));
}
void put32(std::string& s, std::uint32_t v) {
    put16(s, v & 0xFFFF);
    put16(s, v >> 16);
}
void putVint(std::string& s, std::uint64_t v) {
    while (v >= 0x80) {
        s.push_back(char((v & 0x7F) | 0x80));
        v >>= 7;
    }
    s.push_back(char(v));
}

// --- RAR 4.x: blocks of CRC16 (low half of the CRC-32 of the rest of the header), type,
// flags, size. ---

std::string rar4Block(std::uint8_t type, std::uint16_t flags, const std::string& body) {
    std::string rest;
    rest.push_back(char(type));
    put16(rest, flags);
    const std::size_t size = 7 + body.size();  // CRC, type, flags, size, body
    if (size > 0xFFFF) throw std::invalid_argument("RAR 4 header too large");
    put16(rest, std::uint32_t(size));
    rest += body;
    std::string block;
    put16(block, crc32(rest.data(), rest.size()) & 0xFFFF);
    return block + rest;
}

std::string rar4Start(const Options& options) {
    constexpr std::uint16_t kVolume = 0x01, kPassword = 0x80;
    std::string s("Rar!\x1A\x07\x00", 7);  // marker block
    // Main header: reserved fields only.
    const std::uint16_t flags =
        (options.headersEncrypted ? kPassword : 0) | (options.volume ? kVolume : 0);
    s += rar4Block(0x73, flags, std::string(6, '\0'));
    return s;
}

std::string rar4FileHeader(const FileHeader& h) {
    constexpr std::uint16_t kLongBlock = 0x8000, kDirectory = 0xE0, kLarge = 0x100,
                            kUnicode = 0x200;
    if (h.kind == Entry::Hardlink) throw std::invalid_argument("RAR 4 has no hard link entries");
    std::uint16_t flags = kLongBlock;
    if (h.encrypted) flags |= 0x04;
    if (h.split) flags |= 0x02;
    std::uint32_t mode = kModeFile;
    if (h.kind == Entry::Directory) {
        flags |= kDirectory;
        mode = kModeDir;
    } else if (h.kind == Entry::Symlink) {
        mode = kModeLink;
    }
    if (h.size > 0xFFFFFFFFull) flags |= kLarge;
    // Non-ASCII names: the Unicode flag with no zero byte in the name means UTF-8.
    for (unsigned char c : h.name)
        if (c >= 0x80) flags |= kUnicode;

    std::string body;
    put32(body, std::uint32_t(h.size));  // PACK_SIZE
    put32(body, std::uint32_t(h.size));  // UNP_SIZE
    body.push_back(char(3));             // HOST_OS: Unix, so ATTR is a file mode
    put32(body, h.crc);
    put32(body, kDosTime);
    body.push_back(char(29));    // version needed to extract: 2.9
    body.push_back(char(0x30));  // method: store
    if (h.name.size() > 0xFFFF) throw std::invalid_argument("RAR 4 name too long");
    put16(body, std::uint32_t(h.name.size()));
    put32(body, mode);
    if (flags & kLarge) {
        put32(body, std::uint32_t(h.size >> 32));
        put32(body, std::uint32_t(h.size >> 32));
    }
    body += h.name;
    return rar4Block(0x74, flags, body);
}

std::string rar4End(const Options& options) {
    return rar4Block(0x7B, 0x4000 | (options.nextVolume ? 0x0001 : 0), {});
}

// --- RAR 5.0: CRC-32, header size (vint), then type, flags and fields as vints. ---

std::string rar5Header(const std::string& fromType) {
    std::string sized;
    putVint(sized, fromType.size());
    sized += fromType;
    std::string out;
    put32(out, crc32(sized.data(), sized.size()));
    return out + sized;
}

std::string rar5Start(const Options& options) {
    std::string s("Rar!\x1A\x07\x01\x00", 8);
    if (options.headersEncrypted) {
        std::string e;
        putVint(e, 4);                 // archive encryption header
        putVint(e, 0);                 // header flags
        putVint(e, 0);                 // encryption version: AES-256
        putVint(e, 0);                 // encryption flags
        e.push_back(char(15));         // KDF count
        e += std::string(16, '\x5A');  // salt
        s += rar5Header(e);
    }
    std::string h;
    putVint(h, 1);                       // main archive header
    putVint(h, 0);                       // header flags
    putVint(h, options.volume ? 1 : 0);  // archive flags
    return s + rar5Header(h);
}

std::string rar5FileHeader(const FileHeader& h) {
    constexpr std::uint64_t kHasExtra = 0x1, kHasData = 0x2;
    constexpr std::uint64_t kFileDir = 0x1, kFileTime = 0x2, kFileCrc = 0x4;

    std::string extra;
    if (h.encrypted) {
        std::string record;
        putVint(record, 1);                 // file encryption
        putVint(record, 0);                 // version: AES-256
        putVint(record, 0);                 // flags
        record.push_back(char(15));         // KDF count
        record += std::string(16, '\x5A');  // salt
        record += std::string(16, '\xA5');  // initialisation vector
        putVint(extra, record.size());
        extra += record;
    }
    if (h.kind == Entry::Symlink || h.kind == Entry::Hardlink) {
        std::string record;
        putVint(record, 5);                                 // file system redirection
        putVint(record, h.kind == Entry::Symlink ? 1 : 4);  // Unix symlink / hard link
        putVint(record, 0);
        putVint(record, h.linkTarget.size());
        record += h.linkTarget;
        putVint(extra, record.size());
        extra += record;
    }
    // The data size is always written (libarchive refuses a file header without it), zero for
    // folders and links.
    const std::uint64_t dataSize = h.kind == Entry::File ? h.size : 0;

    std::string x;
    putVint(x, 2);  // file header
    putVint(x, (extra.empty() ? 0 : kHasExtra) | kHasData | (h.split ? 0x10 : 0));
    if (!extra.empty()) putVint(x, extra.size());
    putVint(x, dataSize);
    std::uint64_t fileFlags = kFileTime;
    if (h.kind == Entry::Directory) fileFlags |= kFileDir;
    if (h.kind == Entry::File) fileFlags |= kFileCrc;
    putVint(x, fileFlags);
    putVint(x, dataSize);  // unpacked size
    putVint(x, h.kind == Entry::Directory ? kModeDir
               : h.kind == Entry::Symlink ? kModeLink
                                          : kModeFile);
    put32(x, kUnixTime);
    if (fileFlags & kFileCrc) put32(x, h.crc);
    // Compression information: version 0, method 0 (store), smallest dictionary (128 KiB).
    putVint(x, 0);
    putVint(x, 1);  // host OS: Unix
    putVint(x, h.name.size());
    x += h.name;
    x += extra;
    return rar5Header(x);
}

std::string rar5End(const Options& options) {
    std::string h;
    putVint(h, 5);  // end of archive
    putVint(h, 0);
    if (options.endFlags) putVint(h, options.nextVolume ? 1 : 0);
    return rar5Header(h);
}

FileHeader headerFor(const Entry& e) {
    FileHeader h;
    h.name = e.name;
    h.kind = e.kind;
    h.linkTarget = e.linkTarget;
    h.encrypted = e.encrypted;
    h.split = e.split;
    if (e.kind == Entry::File) {
        h.size = e.data.size();
        h.crc = crc32(e.data.data(), e.data.size());
    }
    if (e.crcOverride) h.crc = *e.crcOverride;
    return h;
}

}  // namespace

std::uint32_t crc32(const void* data, std::size_t size, std::uint32_t crc) {
    const auto& t = tables().t;
    auto p = static_cast<const unsigned char*>(data);
    crc = ~crc;
    while (size >= 8) {
        const std::uint32_t a = crc ^ (std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 |
                                       std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24);
        crc = t[7][a & 0xFF] ^ t[6][(a >> 8) & 0xFF] ^ t[5][(a >> 16) & 0xFF] ^ t[4][a >> 24] ^
              t[3][p[4]] ^ t[2][p[5]] ^ t[1][p[6]] ^ t[0][p[7]];
        p += 8;
        size -= 8;
    }
    while (size--) crc = t[0][(crc ^ *p++) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

std::string archiveStart(Format format, const Options& options) {
    return format == Format::Rar4 ? rar4Start(options) : rar5Start(options);
}

std::string fileHeader(Format format, const FileHeader& header) {
    if (format == Format::Rar5) return rar5FileHeader(header);
    if (header.kind != Entry::Symlink) return rar4FileHeader(header);
    FileHeader link = header;
    link.size = header.linkTarget.size();
    link.crc = crc32(header.linkTarget.data(), header.linkTarget.size());
    return rar4FileHeader(link);
}

std::string archiveEnd(Format format, const Options& options) {
    return format == Format::Rar4 ? rar4End(options) : rar5End(options);
}

std::string writeStored(Format format, const std::vector<Entry>& entries, const Options& options,
                        std::vector<std::size_t>* blockStarts) {
    std::string out = archiveStart(format, options);
    if (blockStarts) {
        blockStarts->clear();
        blockStarts->push_back(format == Format::Rar4 ? 7 : 8);
        // RAR 5: the archive encryption header comes before the main header.
        if (options.headersEncrypted && format == Format::Rar5)
            blockStarts->push_back(out.size() - archiveStart(format).size() + 8);
    }
    for (const Entry& e : entries) {
        if (blockStarts) blockStarts->push_back(out.size());
        out += fileHeader(format, headerFor(e));
        if (e.kind == Entry::File) out += e.data;
        // A RAR 4 symbolic link keeps its target as the entry's data.
        if (e.kind == Entry::Symlink && format == Format::Rar4) out += e.linkTarget;
    }
    if (!options.endBlock) return out;
    if (blockStarts) blockStarts->push_back(out.size());
    return out + archiveEnd(format, options);
}

void writeStoredFiles(Format format, const std::vector<SourceFile>& files, std::ostream& out) {
    std::vector<char> buffer(1 << 20);
    out << archiveStart(format);
    for (const SourceFile& f : files) {
        std::ifstream in(f.path, std::ios::binary);
        if (!in) throw std::runtime_error("cannot read " + f.path);
        FileHeader h;
        h.name = f.name;
        while (in.read(buffer.data(), std::streamsize(buffer.size())) || in.gcount() > 0) {
            h.crc = crc32(buffer.data(), std::size_t(in.gcount()), h.crc);
            h.size += std::uint64_t(in.gcount());
        }
        if (in.bad()) throw std::runtime_error("cannot read " + f.path);
        out << fileHeader(format, h);
        in.clear();
        in.seekg(0);
        std::uint64_t copied = 0;
        while (in.read(buffer.data(), std::streamsize(buffer.size())) || in.gcount() > 0) {
            out.write(buffer.data(), in.gcount());
            copied += std::uint64_t(in.gcount());
        }
        // The header already promised h.size bytes: a file that changed meanwhile is an error.
        if (in.bad() || copied != h.size) throw std::runtime_error("cannot read " + f.path);
    }
    out << archiveEnd(format);
    if (!out) throw std::runtime_error("cannot write the archive");
}

}  // namespace zandrel::rar
