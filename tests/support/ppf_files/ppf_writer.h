#pragma once

// Writes PPF files byte by byte for tests: PPF1.0 and PPF2.0 (our maker writes PPF3.0 only)
// and raw PPF3.0 with whatever header, records and trailer a case needs, sound or not.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace zandrel::patch::testing {

using ByteVector = std::vector<std::uint8_t>;

struct RawRecord {
    std::uint64_t offset = 0;
    ByteVector data;
    ByteVector undo;  // written only when the patch has undo data
};

struct Trailer {
    std::string text;
    int lengthWidth = 2;  // 2 or 4
};

ByteVector writePpf1(const std::string& description, const std::vector<RawRecord>& records);
ByteVector writePpf2(const std::string& description, std::uint32_t originalSize,
                     std::span<const std::uint8_t> block, const std::vector<RawRecord>& records,
                     const std::optional<Trailer>& trailer = std::nullopt);
// `block` empty = block check off.
ByteVector writePpf3(const std::string& description, std::uint8_t imageType,
                     std::span<const std::uint8_t> block, bool undo,
                     const std::vector<RawRecord>& records,
                     const std::optional<Trailer>& trailer = std::nullopt);

// Records that turn `original` into `modified`: each run of differing bytes, cut at 255 bytes;
// undo bytes from the original (zero past its end). A longer modified file gets a record that
// reaches its last byte.
std::vector<RawRecord> diffRecords(std::span<const std::uint8_t> original,
                                   std::span<const std::uint8_t> modified);

// The 1024 bytes at `offset`, zero where `data` ends first.
ByteVector blockAt(std::span<const std::uint8_t> data, std::uint64_t offset);

}  // namespace zandrel::patch::testing
