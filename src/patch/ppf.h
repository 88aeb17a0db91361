#pragma once

// PPF1.0 / PPF2.0 / PPF3.0 patches: reading, applying, undoing and making them.
// Plain C++ on purpose (no Qt): the parser and the in-memory applier are fuzzed directly.

#include <algorithm>
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <map>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace zandrel::patch {

using Bytes = std::span<const std::uint8_t>;

// What went wrong, coarse enough for a command line's exit status.
enum class ErrorKind {
    Io = 1,          // a file could not be read or written (missing, no permission, disk full)
    Usage = 2,       // the caller asked for something malformed
    Corrupt = 3,     // the patch is not a well-formed PPF file
    Validation = 4,  // the image is not the one the patch was made for
    Refused = 5,     // well-formed, but cannot do this (no undo data, shortening, too large)
    Stopped = 6,     // the caller stopped the file applier; nothing was changed
};

class PatchError : public std::runtime_error {
public:
    PatchError(ErrorKind kind, const std::string& message)
        : std::runtime_error(message), kind_(kind) {}
    ErrorKind kind() const { return kind_; }

private:
    ErrorKind kind_;
};

enum class Version : std::uint8_t { Ppf1 = 1, Ppf2 = 2, Ppf3 = 3 };

inline constexpr std::size_t kDescriptionSize = 50;
inline constexpr std::size_t kValidationSize = 1024;
inline constexpr std::uint64_t kBinValidationOffset = 0x9320;
inline constexpr std::uint64_t kGiValidationOffset = 0x80A0;
inline constexpr std::size_t kMaxFileIdSize = 3072;
inline constexpr std::size_t kMaxRecordLength = 255;
// The maker never lets a record cross a multiple of this.
inline constexpr std::uint64_t kCreateChunk = 1 << 20;
// The largest image a patch may produce. No real map comes near it; a patch that asks for
// more (a few bytes at a huge offset) is refused before anything is written.
inline constexpr std::uint64_t kImageSizeLimit = std::uint64_t(4) << 30;
// The largest patch file read. A patch holds at most its image's changed bytes twice (undo
// data) plus 9 bytes per record; real ones are a few megabytes.
inline constexpr std::uint64_t kMaxPatchSize = std::uint64_t(1) << 30;

struct Record {
    std::uint64_t offset = 0;
    Bytes data;  // the new bytes
    Bytes undo;  // the original bytes (PPF3 with undo data), else empty
};

// A parsed patch. The spans point into the buffer given to parsePatch, which must outlive it.
struct Patch {
    Version version = Version::Ppf3;
    std::string description;     // the stored 50 bytes, trailing blanks and NULs removed
    std::uint8_t imageType = 0;  // PPF3: 0 = BIN, non-zero = GI
    bool blockCheck = false;     // a 1024-byte validation block is stored (PPF2 always)
    bool undoData = false;       // PPF3: every record carries the original bytes
    std::optional<std::uint32_t> originalSize;  // PPF2: the size the image must have
    std::uint64_t validationOffset = 0;
    Bytes validationBlock;              // kValidationSize bytes, or empty
    std::optional<std::string> fileId;  // FILE_ID.DIZ text, when the patch has the trailer
    int fileIdLengthWidth = 0;          // 2 or 4: width of the trailer's length field
    Bytes recordArea;
    std::size_t recordCount = 0;
    std::uint64_t maxEnd = 0;  // highest offset + length over all records

    // Calls f(const Record&) for every record in file order. The area was checked by
    // parsePatch, so this cannot fail.
    template <class F>
    void forEachRecord(F&& f) const;
};

// Parses and checks a whole patch held in memory: header, validation data, every record (the
// record area must be consumed exactly) and the FILE_ID.DIZ trailer. Throws PatchError(Corrupt).
Patch parsePatch(Bytes bytes);

enum class Direction { Apply, Undo };

struct ApplyOptions {
    Direction direction = Direction::Apply;
    bool force = false;  // go on after a validation mismatch
    // Refuse (PatchError Refused) to make an image larger than this; a fuzzer sets it low.
    std::uint64_t maxImageSize = kImageSizeLimit;
    // The file applier refuses, before writing, a result larger than the free space of the
    // image's disk. Off only where the caller wants to meet a disk that fills up meanwhile.
    bool checkFreeSpace = true;
    // Set (from a signal handler, say) to stop the file applier: it then throws
    // PatchError(Stopped) at the next window, removing its temporary file; the image keeps its
    // old bytes. Once the patched copy is complete it is put in place regardless.
    const volatile std::sig_atomic_t* stop = nullptr;
};

enum class Outcome {
    Applied,
    AlreadyApplied,  // every byte the patch writes stands in the image already: nothing written
};

// Whether applying the patch would change nothing: the image reaches as far as the records do
// and every record's bytes (where no later record overwrites them) stand in it already. False
// for a patch that writes no bytes. Looked at before the validation block, which a patch
// touching the validation area changes.
bool alreadyApplied(const Patch& patch, Bytes image);

namespace detail {
// The same over an image that is not in memory: `same(offset, bytes)` says whether the image
// holds `bytes` at `offset` (offset + size never beyond imageSize).
template <class Same>
bool alreadyApplied(const Patch& patch, std::uint64_t imageSize, Same&& same);
}  // namespace detail

// Checks an image against the patch's validation data. `window` holds the image bytes at
// patch.validationOffset (fewer than kValidationSize when the image is shorter). Returns an
// empty string when it matches, else why not.
std::string validationMismatch(const Patch& patch, std::uint64_t imageSize, Bytes window,
                               Direction direction);

// Applies or undoes a patch on an image held in memory (the fuzzing entry point and the
// reference the file applier is tested against). Throws PatchError.
Outcome applyToImage(std::vector<std::uint8_t>& image, const Patch& patch,
                     const ApplyOptions& options = {});
Outcome applyToImage(std::vector<std::uint8_t>& image, Bytes patchBytes,
                     const ApplyOptions& options = {});

// Applies or undoes a patch on an image file, atomically: the result is built in a temporary
// file beside the image, flushed, and renamed over it; on any failure the image is untouched.
// The image's permissions are kept; a symbolic link is followed and stays a link. An image
// whose permission bits allow no writing is read-only (the player's choice) and refused, also
// for root. A result larger than maxImageSize or than the disk's free space is refused before
// anything is written.
Outcome applyToFile(const std::string& imagePath, const Patch& patch,
                    const ApplyOptions& options = {});
// The same with the patch held in memory (parsed first; nothing is written if it is corrupt).
Outcome applyToFile(const std::string& imagePath, Bytes patchBytes,
                    const ApplyOptions& options = {});
// The same with the patch read from a file.
Outcome applyPatchFile(const std::string& imagePath, const std::string& patchPath,
                       const ApplyOptions& options = {});

// What applying a patch to an image file would do, found without writing anything.
enum class Fit {
    Applies,         // the image is the one the patch was made for
    AlreadyApplied,  // applying would change nothing
    DoesNotFit,      // validation fails, or the result would be too large
};
struct FitReport {
    Fit fit = Fit::DoesNotFit;
    std::string why;  // for DoesNotFit
};
// Throws PatchError(Io) when the image cannot be read.
FitReport checkFit(const std::string& imagePath, const Patch& patch);

struct CreateOptions {
    bool undoData = false;
    bool blockCheck = true;
    std::uint8_t imageType = 0;
    std::string description;            // cut to 50 bytes
    std::optional<std::string> fileId;  // at most kMaxFileIdSize bytes
};

// Makes a PPF3 patch that turns `original` into `modified`. Throws PatchError (Refused when
// the modified file is shorter or the original too short to give the validation block).
std::vector<std::uint8_t> createPatch(Bytes original, Bytes modified,
                                      const CreateOptions& options = {});
// The same from files, writing the patch file atomically.
void createPatchFile(const std::string& originalPath, const std::string& modifiedPath,
                     const std::string& patchPath, const CreateOptions& options = {});

// A copy of untrusted text that is safe to print on a terminal: invalid UTF-8 and control
// characters (other than newline and tab) and characters that reorder or hide text (bidirectional
// controls, zero-width characters) become '?', CR LF becomes LF.
std::string printable(std::string_view text);

// A whole file read into memory (an empty file gives an empty view). Read, not mapped: a
// mapped file that another program cuts short kills the reader when it touches the lost pages.
// A file that changes size while it is read is an error (PatchError Io).
class FileBytes {
public:
    explicit FileBytes(const std::string& path);
    Bytes bytes() const { return data_; }

private:
    std::vector<std::uint8_t> data_;
};

// ---- implementation of the template ----

namespace detail {
inline std::uint64_t readLe(const std::uint8_t* p, int width) {
    std::uint64_t v = 0;
    for (int i = width - 1; i >= 0; --i) v = (v << 8) | p[i];
    return v;
}
}  // namespace detail

template <class Same>
bool detail::alreadyApplied(const Patch& patch, std::uint64_t imageSize, Same&& same) {
    if (patch.maxEnd == 0 || patch.maxEnd > imageSize) return false;
    // The last record's bytes are all its own, and an image the patch is still to be applied to
    // mostly differs there: told so without gathering every record first.
    Record last{};
    patch.forEachRecord([&](const Record& r) {
        if (!r.data.empty()) last = r;
    });
    if (!last.data.empty() && !same(last.offset, last.data)) return false;
    struct Span {
        std::uint64_t offset;
        Bytes data;
    };
    std::vector<Span> records;
    records.reserve(patch.recordCount);
    patch.forEachRecord([&](const Record& r) {
        if (!r.data.empty()) records.push_back({r.offset, r.data});
    });
    // Last record first: a byte is the last writer's. `covered` holds the disjoint ranges
    // that later records own, as start -> end.
    std::map<std::uint64_t, std::uint64_t> covered;
    for (auto r = records.rbegin(); r != records.rend(); ++r) {
        std::uint64_t from = r->offset;
        const std::uint64_t to = r->offset + r->data.size();
        auto it = covered.upper_bound(from);
        if (it != covered.begin() && std::prev(it)->second > from) --it;
        while (from < to) {
            const std::uint64_t gapEnd = it == covered.end() ? to : std::min(to, it->first);
            if (from < gapEnd && !same(from, r->data.subspan(std::size_t(from - r->offset),
                                                             std::size_t(gapEnd - from)))) {
                return false;
            }
            if (it == covered.end()) break;
            from = std::max(from, it->second);
            ++it;
        }
        // Merge [offset, to) into the covered ranges.
        std::uint64_t start = r->offset, end = to;
        auto first = covered.upper_bound(start);
        if (first != covered.begin() && std::prev(first)->second >= start) --first;
        auto last = first;
        while (last != covered.end() && last->first <= end) {
            start = std::min(start, last->first);
            end = std::max(end, last->second);
            ++last;
        }
        covered.erase(first, last);
        covered.emplace(start, end);
    }
    return true;
}

template <class F>
void Patch::forEachRecord(F&& f) const {
    const int offsetWidth = version == Version::Ppf3 ? 8 : 4;
    const std::uint8_t* p = recordArea.data();
    const std::uint8_t* end = p + recordArea.size();
    while (p < end) {
        Record r;
        r.offset = detail::readLe(p, offsetWidth);
        const std::size_t n = p[offsetWidth];
        p += offsetWidth + 1;
        r.data = Bytes(p, n);
        p += n;
        if (undoData) {
            r.undo = Bytes(p, n);
            p += n;
        }
        f(static_cast<const Record&>(r));
    }
}

}  // namespace zandrel::patch
