#include "patch/ppf.h"

#include "base/hidden_characters.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

namespace zandrel::patch {

namespace {

constexpr std::string_view kBeginMarker = "@BEGIN_FILE_ID.DIZ";
constexpr std::string_view kEndMarker = "@END_FILE_ID.DIZ";
constexpr std::size_t kPpf3ShortHeader = 60;
constexpr std::size_t kLongHeader = 1084;  // with the 1024-byte validation block

[[noreturn]] void corrupt(const std::string& why) {
    throw PatchError(ErrorKind::Corrupt, "corrupt patch: " + why);
}

bool bytesAre(Bytes bytes, std::size_t at, std::string_view text) {
    return at <= bytes.size() && bytes.size() - at >= text.size() &&
           std::memcmp(bytes.data() + at, text.data(), text.size()) == 0;
}

std::string hex(std::uint64_t v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "0x%llX", static_cast<unsigned long long>(v));
    return buf;
}

std::string versionName(Version v) {
    return v == Version::Ppf1 ? "PPF1.0" : v == Version::Ppf2 ? "PPF2.0" : "PPF3.0";
}

std::string trimmedDescription(Bytes field) {
    std::string s(field.begin(), field.end());
    while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.pop_back();
    return s;
}

// Walks a candidate record area. Returns an empty string and fills count/maxEnd when the area
// is consumed exactly, else the reason it is not.
std::string walkRecords(const Patch& p, Bytes area, std::size_t& count, std::uint64_t& maxEnd) {
    const std::size_t offsetWidth = p.version == Version::Ppf3 ? 8 : 4;
    const std::size_t perByte = p.undoData ? 2 : 1;
    std::size_t pos = 0;
    count = 0;
    maxEnd = 0;
    while (pos < area.size()) {
        const std::size_t left = area.size() - pos;
        const std::string which = "record " + std::to_string(count + 1);
        if (left < offsetWidth + 1) {
            return which + " is truncated (" + std::to_string(left) + " bytes left of its " +
                   std::to_string(offsetWidth + 1) + "-byte header)";
        }
        const std::uint64_t offset = detail::readLe(area.data() + pos, int(offsetWidth));
        const std::size_t n = area[pos + offsetWidth];
        if (offset > std::uint64_t(INT64_MAX)) return which + " has a negative offset";
        if (left - offsetWidth - 1 < n * perByte) {
            return which + " (length " + std::to_string(n) +
                   ") runs past the end of the record area";
        }
        pos += offsetWidth + 1 + n * perByte;
        if (n > 0) maxEnd = std::max(maxEnd, offset + n);
        ++count;
    }
    return {};
}

}  // namespace

Patch parsePatch(Bytes b) {
    Patch p;
    if (bytesAre(b, 0, "PPF10")) {
        p.version = Version::Ppf1;
    } else if (bytesAre(b, 0, "PPF20")) {
        p.version = Version::Ppf2;
    } else if (bytesAre(b, 0, "PPF30")) {
        p.version = Version::Ppf3;
    } else {
        corrupt("not a PPF file (bad magic)");
    }
    if (b.size() < 56) corrupt("truncated header");
    const unsigned method = b[5];
    if (method != unsigned(p.version) - 1) {
        corrupt("encoding method " + std::to_string(method) + " does not match " +
                versionName(p.version));
    }
    p.description = trimmedDescription(b.subspan(6, kDescriptionSize));

    std::size_t start = 56;
    switch (p.version) {
        case Version::Ppf1:
            break;
        case Version::Ppf2:
            if (b.size() < kLongHeader) corrupt("truncated header");
            p.originalSize = std::uint32_t(detail::readLe(b.data() + 56, 4));
            p.blockCheck = true;
            start = kLongHeader;
            break;
        case Version::Ppf3:
            if (b.size() < kPpf3ShortHeader) corrupt("truncated header");
            p.imageType = b[56];
            p.blockCheck = b[57] != 0;
            p.undoData = b[58] != 0;
            start = kPpf3ShortHeader;
            if (p.blockCheck) {
                if (b.size() < kLongHeader) corrupt("truncated header");
                start = kLongHeader;
            }
            break;
    }
    if (p.blockCheck) {
        p.validationBlock = b.subspan(60, kValidationSize);
        p.validationOffset = p.imageType ? kGiValidationOffset : kBinValidationOffset;
    }

    // The FILE_ID.DIZ trailer: begin marker, text, end marker, text length (u32 in PPF2, u16
    // in PPF3; some makers write u32 in PPF3 too). It counts only when both markers stand
    // where the length says.
    std::size_t areaEnd = b.size();
    bool endMarkerSeen = false;
    if (p.version != Version::Ppf1) {
        const int widths[2] = {p.version == Version::Ppf2 ? 4 : 2,
                               p.version == Version::Ppf2 ? 2 : 4};
        for (int w : widths) {
            const std::size_t fixed = kBeginMarker.size() + kEndMarker.size() + std::size_t(w);
            if (b.size() - start < fixed) continue;
            const std::size_t endAt = b.size() - std::size_t(w) - kEndMarker.size();
            if (!bytesAre(b, endAt, kEndMarker)) continue;
            endMarkerSeen = true;
            const std::uint64_t len = detail::readLe(b.data() + endAt + kEndMarker.size(), w);
            if (len > b.size() - start - fixed) continue;
            const std::size_t beginAt = endAt - std::size_t(len) - kBeginMarker.size();
            if (!bytesAre(b, beginAt, kBeginMarker)) continue;
            p.fileId.emplace(
                reinterpret_cast<const char*>(b.data()) + beginAt + kBeginMarker.size(),
                std::size_t(len));
            p.fileIdLengthWidth = w;
            areaEnd = beginAt;
            break;
        }
    }

    p.recordArea = b.subspan(start, areaEnd - start);
    const std::string why = walkRecords(p, p.recordArea, p.recordCount, p.maxEnd);
    if (!why.empty()) {
        // Record bytes that merely look like an end marker are not a trailer; an end marker
        // whose length leads nowhere, over an area that does not parse, is a broken trailer.
        if (endMarkerSeen && !p.fileId) {
            corrupt("bad FILE_ID.DIZ trailer: its length does not lead to its begin marker");
        }
        corrupt(why);
    }
    return p;
}

std::string validationMismatch(const Patch& patch, std::uint64_t imageSize, Bytes window,
                               Direction direction) {
    if (patch.originalSize && imageSize != *patch.originalSize) {
        return "the image is " + std::to_string(imageSize) + " bytes, the patch was made for " +
               std::to_string(*patch.originalSize);
    }
    if (!patch.blockCheck) return {};
    const std::uint64_t vo = patch.validationOffset;
    if (window.size() < kValidationSize) {
        return "the image is too short to hold the validation block at " + hex(vo);
    }
    std::vector<std::uint8_t> expected(patch.validationBlock.begin(), patch.validationBlock.end());
    if (direction == Direction::Undo) {
        // A patched image holds the patch's own bytes wherever records touch the window.
        patch.forEachRecord([&](const Record& r) {
            const std::uint64_t from = std::max(r.offset, vo);
            const std::uint64_t to = std::min(r.offset + r.data.size(), vo + kValidationSize);
            if (from < to) {
                std::memcpy(expected.data() + (from - vo), r.data.data() + (from - r.offset),
                            to - from);
            }
        });
    }
    if (std::memcmp(expected.data(), window.data(), kValidationSize) != 0) {
        return "the validation block at " + hex(vo) + " does not match: this is not the " +
               std::string(direction == Direction::Undo ? "patched image" : "image") +
               " the patch was made for";
    }
    return {};
}

bool alreadyApplied(const Patch& patch, Bytes image) {
    return detail::alreadyApplied(patch, image.size(), [&](std::uint64_t offset, Bytes bytes) {
        return std::memcmp(image.data() + offset, bytes.data(), bytes.size()) == 0;
    });
}

Outcome applyToImage(std::vector<std::uint8_t>& image, const Patch& patch,
                     const ApplyOptions& options) {
    if (options.direction == Direction::Undo && !patch.undoData) {
        throw PatchError(ErrorKind::Refused, "cannot undo: the patch holds no undo data");
    }
    if (options.direction == Direction::Apply && alreadyApplied(patch, image)) {
        return Outcome::AlreadyApplied;
    }
    const std::uint64_t vo = patch.validationOffset;
    const Bytes window =
        vo < image.size()
            ? Bytes(image).subspan(vo, std::min<std::uint64_t>(kValidationSize, image.size() - vo))
            : Bytes();
    const std::string mismatch = validationMismatch(patch, image.size(), window, options.direction);
    if (!mismatch.empty() && !options.force) {
        throw PatchError(ErrorKind::Validation, "validation failed: " + mismatch);
    }
    const std::uint64_t finalSize = std::max<std::uint64_t>(image.size(), patch.maxEnd);
    if (finalSize > options.maxImageSize || finalSize > image.max_size()) {
        throw PatchError(ErrorKind::Refused, "the patch would grow the image to " +
                                                 std::to_string(finalSize) + " bytes");
    }
    try {
        image.resize(finalSize);
    } catch (const std::bad_alloc&) {
        throw PatchError(ErrorKind::Refused, "not enough memory to grow the image to " +
                                                 std::to_string(finalSize) + " bytes");
    }
    const bool undo = options.direction == Direction::Undo;
    patch.forEachRecord([&](const Record& r) {
        const Bytes src = undo ? r.undo : r.data;
        if (!src.empty()) std::memcpy(image.data() + r.offset, src.data(), src.size());
    });
    return Outcome::Applied;
}

Outcome applyToImage(std::vector<std::uint8_t>& image, Bytes patchBytes,
                     const ApplyOptions& options) {
    return applyToImage(image, parsePatch(patchBytes), options);
}

std::string printable(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    for (std::size_t i = 0; i < n;) {
        const unsigned c = s[i];
        if (c == '\r' && i + 1 < n && s[i + 1] == '\n') {
            ++i;
            continue;
        }
        if (c < 0x80) {
            out += (c >= 0x20 && c != 0x7F) || c == '\n' || c == '\t' ? char(c) : '?';
            ++i;
            continue;
        }
        // One UTF-8 sequence: its length from the lead byte, then continuation bytes; no
        // overlong forms, surrogates or C1 controls. A character that reorders or hides text
        // (a bidirectional control, a zero-width character) is one '?'.
        const std::size_t len = c >= 0xC2 && c <= 0xDF   ? 2
                                : c >= 0xE0 && c <= 0xEF ? 3
                                : c >= 0xF0 && c <= 0xF4 ? 4
                                                         : 0;
        bool ok = len != 0 && i + len <= n;
        std::uint32_t cp = len == 2 ? c & 0x1F : len == 3 ? c & 0x0F : c & 0x07;
        for (std::size_t k = 1; ok && k < len; ++k) {
            ok = (s[i + k] & 0xC0) == 0x80;
            cp = (cp << 6) | (s[i + k] & 0x3F);
        }
        if (ok) {
            ok = !(len == 3 && cp < 0x800) && !(len == 4 && (cp < 0x10000 || cp > 0x10FFFF)) &&
                 !(cp >= 0xD800 && cp <= 0xDFFF) && !(cp >= 0x80 && cp <= 0x9F);
        }
        if (ok) {
            if (isHiddenCharacter(cp)) {
                out += '?';
            } else {
                out.append(text.substr(i, len));
            }
            i += len;
        } else {
            out += '?';
            ++i;
        }
    }
    return out;
}

}  // namespace zandrel::patch
