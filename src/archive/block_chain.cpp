#include "archive/block_chain.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

namespace zandrel::archive {

namespace {

constexpr char kRar4Signature[] = "Rar!\x1A\x07\x00";      // 7 bytes
constexpr char kRar5Signature[] = "Rar!\x1A\x07\x01\x00";  // 8 bytes
constexpr char kRar14Signature[] = "RE~^";

// RAR 5 headers are at most 2 MiB; a larger size field is a damaged header.
constexpr std::uint64_t kRar5MaxHeader = 2 << 20;

std::uint32_t le16(const unsigned char* p) {
    return p[0] | (std::uint32_t(p[1]) << 8);
}
std::uint32_t le32(const unsigned char* p) {
    return le16(p) | (le16(p + 2) << 16);
}

// Reads exactly `n` bytes at `offset`, or fewer when the data ends; -1 on a read error.
class Source {
public:
    Source(const ReadAt& read, std::int64_t size) : read_(read), size_(size) {}
    std::int64_t size() const { return size_; }
    // The bytes [offset, offset + n) clipped to the data, in `out`.
    bool get(std::int64_t offset, std::size_t n, std::vector<unsigned char>& out) {
        if (offset < 0 || offset > size_) return false;
        const std::int64_t available = size_ - offset;
        if (std::int64_t(n) > available) n = std::size_t(available);
        out.resize(n);
        std::size_t have = 0;
        while (have < n) {
            const std::int64_t got =
                read_(offset + std::int64_t(have), out.data() + have, n - have);
            if (got < 0) return false;
            if (got == 0) break;
            have += std::size_t(got);
        }
        out.resize(have);
        return true;
    }

private:
    const ReadAt& read_;
    std::int64_t size_;
};

ChainResult result(Verdict v, bool rar5, std::int64_t offset, const char* detail) {
    ChainResult r;
    r.verdict = v;
    r.rar5 = rar5;
    r.offset = offset;
    r.detail = detail;
    return r;
}

ChainResult readError(bool rar5, std::int64_t offset) {
    return result(Verdict::Truncated, rar5, offset, "it cannot be read");
}

ChainResult walkRar4(Source& src) {
    constexpr unsigned kMain = 0x73, kFile = 0x74, kService = 0x7A, kEnd = 0x7B;
    constexpr unsigned kMainVolume = 0x0001, kMainPassword = 0x0080;
    constexpr unsigned kSplitBefore = 0x01, kSplitAfter = 0x02, kPassword = 0x04, kLarge = 0x100,
                       kLongBlock = 0x8000, kNextVolume = 0x0001;
    (void)kMainVolume;
    std::vector<unsigned char> h;
    std::int64_t pos = 7;  // after the marker block
    for (;;) {
        if (pos >= src.size())
            return result(Verdict::Truncated, false, pos,
                          "it ends before its end-of-archive block");
        if (!src.get(pos, 7, h)) return readError(false, pos);
        if (h.size() < 7) return result(Verdict::Truncated, false, pos, "a header is cut short");
        const unsigned type = h[2], flags = le16(&h[3]), headerSize = le16(&h[5]);
        if (headerSize < 7) return result(Verdict::Damaged, false, pos, "a header is damaged");
        if (!src.get(pos, headerSize, h)) return readError(false, pos);
        if (h.size() < headerSize)
            return result(Verdict::Truncated, false, pos, "a header is cut short");

        std::uint64_t dataSize = 0;
        if (type == kFile || type == kService) {
            if (headerSize < 32) return result(Verdict::Damaged, false, pos, "a header is damaged");
            dataSize = le32(&h[7]);
            if (flags & kLarge) {
                if (headerSize < 40)
                    return result(Verdict::Damaged, false, pos, "a header is damaged");
                dataSize |= std::uint64_t(le32(&h[32])) << 32;
            }
            if (flags & kPassword)
                return result(Verdict::Encrypted, false, pos, "an entry is encrypted");
            if (flags & (kSplitBefore | kSplitAfter))
                return result(Verdict::Split, false, pos, "an entry continues in another volume");
        } else if (flags & kLongBlock) {
            if (headerSize < 11) return result(Verdict::Damaged, false, pos, "a header is damaged");
            dataSize = le32(&h[7]);
        }
        if (type == kMain && (flags & kMainPassword))
            return result(Verdict::Encrypted, false, pos, "its headers are encrypted");

        const std::int64_t dataStart = pos + headerSize;
        if (dataSize > std::uint64_t(src.size() - dataStart))
            return result(Verdict::Truncated, false, pos, "a block runs past the end of the file");
        const std::int64_t next = dataStart + std::int64_t(dataSize);
        if (type == kEnd) {
            if (flags & kNextVolume)
                return result(Verdict::Split, false, pos, "another volume follows it");
            ChainResult r = result(Verdict::Complete, false, pos, "complete");
            r.end = next;
            return r;
        }
        pos = next;
    }
}

// A RAR 5 variable-length number inside [p, end): at most 10 bytes of 7 bits.
bool vint(const unsigned char*& p, const unsigned char* end, std::uint64_t& value) {
    value = 0;
    for (int shift = 0; shift < 70 && p < end; shift += 7) {
        const unsigned char b = *p++;
        if (shift == 63 && (b & 0x7E)) return false;  // more than 64 bits
        value |= std::uint64_t(b & 0x7F) << shift;
        if (!(b & 0x80)) return true;
    }
    return false;
}

ChainResult walkRar5(Source& src) {
    constexpr std::uint64_t kMain = 1, kFile = 2, kService = 3, kEncryption = 4, kEnd = 5;
    constexpr std::uint64_t kHasExtra = 0x1, kHasData = 0x2, kSplitBefore = 0x8, kSplitAfter = 0x10;
    constexpr std::uint64_t kEncryptionRecord = 1, kNotLastVolume = 0x1, kArchiveVolume = 0x1;
    bool volume = false;  // the main header's word: one volume of a set
    std::vector<unsigned char> h;
    std::int64_t pos = 8;  // after the signature
    for (;;) {
        if (pos >= src.size())
            return result(Verdict::Truncated, true, pos, "it ends before its end-of-archive block");
        // CRC-32, then the header size in at most 3 bytes (2 MiB); a few more are read so
        // that a longer (damaged) size field is seen as such.
        if (!src.get(pos, 4 + 10, h)) return readError(true, pos);
        const unsigned char* p = h.data() + std::min<std::size_t>(4, h.size());
        const unsigned char* const sizeEnd = h.data() + h.size();
        std::uint64_t headerSize = 0;
        if (!vint(p, sizeEnd, headerSize)) {
            if (h.size() < 4 + 10 && p == sizeEnd)
                return result(Verdict::Truncated, true, pos, "a header is cut short");
            return result(Verdict::Damaged, true, pos, "a header is damaged");
        }
        if (headerSize < 2 || headerSize > kRar5MaxHeader)
            return result(Verdict::Damaged, true, pos, "a header is damaged");
        const std::int64_t headerStart = pos + (p - h.data());
        if (std::int64_t(headerSize) > src.size() - headerStart)
            return result(Verdict::Truncated, true, pos, "a header is cut short");
        const std::int64_t headerEnd = headerStart + std::int64_t(headerSize);
        if (!src.get(headerStart, std::size_t(headerSize), h)) return readError(true, pos);
        if (h.size() < headerSize)
            return result(Verdict::Truncated, true, pos, "a header is cut short");

        p = h.data();
        const unsigned char* const end = h.data() + h.size();
        std::uint64_t type = 0, flags = 0, extraSize = 0, dataSize = 0;
        if (!vint(p, end, type) || !vint(p, end, flags) ||
            ((flags & kHasExtra) && !vint(p, end, extraSize)) ||
            ((flags & kHasData) && !vint(p, end, dataSize)) || extraSize > std::uint64_t(end - p))
            return result(Verdict::Damaged, true, pos, "a header is damaged");

        // The type's own fields lie between the common ones and the extra area.
        const unsigned char* const fieldsEnd = end - extraSize;
        if (type == kEncryption)
            return result(Verdict::Encrypted, true, pos, "its headers are encrypted");
        if (type == kMain) {
            std::uint64_t archiveFlags = 0;
            if (p != fieldsEnd && !vint(p, fieldsEnd, archiveFlags))
                return result(Verdict::Damaged, true, pos, "a header is damaged");
            volume = (archiveFlags & kArchiveVolume) != 0;
        }
        if (type == kFile || type == kService) {
            if (flags & (kSplitBefore | kSplitAfter))
                return result(Verdict::Split, true, pos, "an entry continues in another volume");
            // The extra area closes the header: records of size, type, data.
            const unsigned char* r = end - extraSize;
            while (r < end) {
                std::uint64_t recordSize = 0, recordType = 0;
                if (!vint(r, end, recordSize) || recordSize == 0 ||
                    recordSize > std::uint64_t(end - r))
                    return result(Verdict::Damaged, true, pos, "a header is damaged");
                const unsigned char* const recordEnd = r + recordSize;
                if (!vint(r, recordEnd, recordType))
                    return result(Verdict::Damaged, true, pos, "a header is damaged");
                if (recordType == kEncryptionRecord)
                    return result(Verdict::Encrypted, true, pos, "an entry is encrypted");
                r = recordEnd;
            }
        }
        if (dataSize > std::uint64_t(src.size() - headerEnd))
            return result(Verdict::Truncated, true, pos, "a block runs past the end of the file");
        const std::int64_t next = headerEnd + std::int64_t(dataSize);
        if (type == kEnd) {
            // Some writers leave the end-of-archive flags out (a header of type and flags
            // only), and readers take that as an archive that ends here. Whether another volume
            // follows is then the main header's word.
            std::uint64_t endFlags = volume ? kNotLastVolume : 0;
            if (p != fieldsEnd && !vint(p, fieldsEnd, endFlags))
                return result(Verdict::Damaged, true, pos, "a header is damaged");
            if (endFlags & kNotLastVolume)
                return result(Verdict::Split, true, pos, "another volume follows it");
            ChainResult c = result(Verdict::Complete, true, pos, "complete");
            c.end = next;
            return c;
        }
        pos = next;
    }
}

}  // namespace

ChainResult walkBlockChain(const ReadAt& read, std::int64_t size) {
    Source src(read, size < 0 ? 0 : size);
    std::vector<unsigned char> start;
    if (!src.get(0, 8, start)) return readError(false, 0);
    if (start.size() >= 8 && std::memcmp(start.data(), kRar5Signature, 8) == 0)
        return walkRar5(src);
    if (start.size() >= 7 && std::memcmp(start.data(), kRar4Signature, 7) == 0)
        return walkRar4(src);
    if (start.size() >= 4 && std::memcmp(start.data(), kRar14Signature, 4) == 0)
        return result(Verdict::NotRar, false, 0, "it is in the RAR 1.4 format, which is not read");
    return result(Verdict::NotRar, false, 0, "it does not start with a RAR signature");
}

ChainResult walkBlockChain(std::string_view bytes) {
    const ReadAt read = [bytes](std::int64_t offset, void* buffer, std::size_t size) {
        if (offset < 0 || std::uint64_t(offset) >= bytes.size()) return std::int64_t(0);
        const std::size_t n = std::min(size, bytes.size() - std::size_t(offset));
        std::memcpy(buffer, bytes.data() + offset, n);
        return std::int64_t(n);
    };
    return walkBlockChain(read, std::int64_t(bytes.size()));
}

ChainResult walkBlockChain(int fd, std::int64_t size) {
    const ReadAt read = [fd](std::int64_t offset, void* buffer, std::size_t n) {
        for (;;) {
            const ssize_t got = ::pread(fd, buffer, n, off_t(offset));
            if (got >= 0) return std::int64_t(got);
            if (errno != EINTR) return std::int64_t(-1);
        }
    };
    return walkBlockChain(read, size);
}

const char* verdictName(Verdict v) {
    switch (v) {
        case Verdict::Complete:
            return "complete";
        case Verdict::Truncated:
            return "truncated";
        case Verdict::Encrypted:
            return "encrypted";
        case Verdict::Split:
            return "split";
        case Verdict::NotRar:
            return "not RAR";
        case Verdict::Damaged:
            return "damaged";
    }
    return "?";
}

}  // namespace zandrel::archive
