#include "base/files.h"
#include "patch/ppf.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <functional>

#include <sys/stat.h>

namespace zandrel::patch {

namespace {

std::string hex(std::uint64_t v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "0x%llX", static_cast<unsigned long long>(v));
    return buf;
}

// Cuts to at most n bytes without splitting a UTF-8 sequence.
std::string cutText(const std::string& text, std::size_t n) {
    if (text.size() <= n) return text;
    std::size_t cut = n;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    return text.substr(0, cut);
}

void checkInputs(std::uint64_t originalSize, std::uint64_t modifiedSize,
                 const CreateOptions& options) {
    if (modifiedSize < originalSize) {
        throw PatchError(ErrorKind::Refused, "the modified file (" + std::to_string(modifiedSize) +
                                                 " bytes) is shorter than the original (" +
                                                 std::to_string(originalSize) +
                                                 " bytes): a PPF patch cannot shorten a file");
    }
    if (options.blockCheck) {
        const std::uint64_t vo = options.imageType ? kGiValidationOffset : kBinValidationOffset;
        if (originalSize < vo + kValidationSize) {
            throw PatchError(ErrorKind::Refused,
                             "the original is too short to hold the validation block at " +
                                 hex(vo) + " (it needs " + std::to_string(vo + kValidationSize) +
                                 " bytes): make the patch without the block check (-x)");
        }
    }
    if (options.fileId && options.fileId->size() > kMaxFileIdSize) {
        throw PatchError(ErrorKind::Refused, "the FILE_ID.DIZ text is longer than " +
                                                 std::to_string(kMaxFileIdSize) + " bytes");
    }
}

// Writes a PPF3 patch to a byte sink as the two inputs are fed to it chunk by chunk.
class Builder {
public:
    using Sink = std::function<void(const std::uint8_t*, std::size_t)>;

    Builder(const CreateOptions& options, Sink sink) : options_(options), sink_(std::move(sink)) {
        buffer_.reserve(kFlushAt + 1024);
    }

    void header(Bytes validationBlock) {
        put("PPF30", 5);
        putByte(2);
        std::string description = cutText(options_.description, kDescriptionSize);
        description.resize(kDescriptionSize, ' ');
        put(description.data(), description.size());
        putByte(options_.imageType);
        putByte(options_.blockCheck ? 1 : 0);
        putByte(options_.undoData ? 1 : 0);
        putByte(0);
        if (options_.blockCheck) put(validationBlock.data(), validationBlock.size());
    }

    // One chunk of both files at `base`. `original` may be shorter than `modified` (the part
    // past the original's end), and bytes missing from it count as zero: that is what the
    // applier fills a gap with. No record leaves the chunk.
    void chunk(std::uint64_t base, Bytes original, Bytes modified) {
        const std::size_t n = modified.size();
        auto orig = [&](std::size_t i) -> std::uint8_t {
            return i < original.size() ? original[i] : 0;
        };
        auto differs = [&](std::size_t i) { return modified[i] != orig(i); };
        // Equal bytes cheaper to carry inside a record than to start a new one (9-byte header).
        const std::size_t maxGap = options_.undoData ? 4 : 8;
        // Where both files have bytes, equal stretches are skipped a word at a time.
        const std::size_t common = std::min(n, original.size());
        std::size_t i = 0;
        while (i < n) {
            while (i + 8 <= common && std::memcmp(&modified[i], &original[i], 8) == 0) i += 8;
            if (i >= n) break;
            if (!differs(i)) {
                ++i;
                continue;
            }
            const std::size_t start = i;
            std::size_t end = i + 1;
            for (;;) {
                std::size_t j = end;
                while (j < n && j - end < maxGap && !differs(j)) ++j;
                if (j < n && differs(j) && j + 1 - start <= kMaxRecordLength) {
                    end = j + 1;
                    while (end < n && end - start < kMaxRecordLength && differs(end)) ++end;
                    continue;
                }
                break;
            }
            std::uint8_t undo[kMaxRecordLength];
            for (std::size_t k = start; k < end; ++k) undo[k - start] = orig(k);
            record(base + start, modified.data() + start, undo, end - start);
            i = end;
        }
    }

    // The image grows only as far as the last record reaches: when the modified file ends in
    // bytes equal to the zero fill, one record still has to reach its last byte.
    void finish(std::uint64_t modifiedSize, std::uint64_t originalSize, std::uint8_t lastByte) {
        if (modifiedSize > originalSize && reached_ < modifiedSize) {
            const std::uint8_t zero = 0;
            record(modifiedSize - 1, &lastByte, &zero, 1);
        }
        if (options_.fileId) {
            const std::string& text = *options_.fileId;
            put("@BEGIN_FILE_ID.DIZ", 18);
            put(text.data(), text.size());
            put("@END_FILE_ID.DIZ", 16);
            putByte(std::uint8_t(text.size()));
            putByte(std::uint8_t(text.size() >> 8));
        }
        flush();
    }

private:
    static constexpr std::size_t kFlushAt = 1 << 20;

    void record(std::uint64_t offset, const std::uint8_t* data, const std::uint8_t* undo,
                std::size_t n) {
        for (int b = 0; b < 8; ++b) putByte(std::uint8_t(offset >> (8 * b)));
        putByte(std::uint8_t(n));
        put(data, n);
        if (options_.undoData) put(undo, n);
        reached_ = std::max(reached_, offset + n);
        if (buffer_.size() >= kFlushAt) flush();
    }

    void put(const void* p, std::size_t n) {
        const auto* b = static_cast<const std::uint8_t*>(p);
        buffer_.insert(buffer_.end(), b, b + n);
    }
    void putByte(std::uint8_t b) { buffer_.push_back(b); }
    void flush() {
        if (!buffer_.empty()) sink_(buffer_.data(), buffer_.size());
        buffer_.clear();
    }

    const CreateOptions& options_;
    Sink sink_;
    std::vector<std::uint8_t> buffer_;
    std::uint64_t reached_ = 0;
};

Bytes validationSource(Bytes original, const CreateOptions& options) {
    if (!options.blockCheck) return {};
    const std::uint64_t vo = options.imageType ? kGiValidationOffset : kBinValidationOffset;
    return original.subspan(vo, kValidationSize);
}

}  // namespace

std::vector<std::uint8_t> createPatch(Bytes original, Bytes modified,
                                      const CreateOptions& options) {
    checkInputs(original.size(), modified.size(), options);
    std::vector<std::uint8_t> out;
    Builder builder(options,
                    [&](const std::uint8_t* p, std::size_t n) { out.insert(out.end(), p, p + n); });
    builder.header(validationSource(original, options));
    for (std::uint64_t base = 0; base < modified.size(); base += kCreateChunk) {
        const std::size_t n =
            std::size_t(std::min<std::uint64_t>(kCreateChunk, modified.size() - base));
        const Bytes o =
            base < original.size()
                ? original.subspan(base, std::min<std::size_t>(n, original.size() - base))
                : Bytes();
        builder.chunk(base, o, modified.subspan(base, n));
    }
    builder.finish(modified.size(), original.size(), modified.empty() ? 0 : modified.back());
    return out;
}

namespace {

files::Fd openInput(const std::string& path, const std::string& what, std::uint64_t& size) {
    // A link given on the command line is followed; what it names must be a regular file.
    char* real = ::realpath(path.c_str(), nullptr);
    if (!real) files::fail(errno, "cannot open " + what, path);
    const std::string target(real);
    std::free(real);
    struct stat st {};
    files::Fd fd = files::openRegular(target, st);
    size = std::uint64_t(st.st_size);
    return fd;
}

void createFile(const std::string& originalPath, const std::string& modifiedPath,
                const std::string& patchPath, const CreateOptions& options) {
    std::uint64_t originalSize = 0, modifiedSize = 0;
    const files::Fd original = openInput(originalPath, "original", originalSize);
    const files::Fd modified = openInput(modifiedPath, "modified file", modifiedSize);
    checkInputs(originalSize, modifiedSize, options);

    std::vector<std::uint8_t> block;
    if (options.blockCheck) {
        block.resize(kValidationSize);
        const std::uint64_t vo = options.imageType ? kGiValidationOffset : kBinValidationOffset;
        if (files::readAt(original.get(), block.data(), block.size(), vo, originalPath) !=
            block.size()) {
            throw PatchError(ErrorKind::Io,
                             "cannot read " + originalPath + ": the file got shorter");
        }
    }

    // A patch can be made again from its files: it is not synced.
    files::ReplaceFile out(patchPath, files::Sync::No);
    const mode_t mask = ::umask(0);
    ::umask(mask);
    if (::fchmod(out.fd(), 0666 & ~mask) != 0) files::fail(errno, "cannot write", out.tempPath());
    Builder builder(options, [&](const std::uint8_t* p, std::size_t n) {
        files::writeAll(out.fd(), p, n, out.tempPath());
    });
    builder.header(block);

    std::vector<std::uint8_t> a(kCreateChunk), b(kCreateChunk);
    std::uint8_t lastByte = 0;
    for (std::uint64_t base = 0; base < modifiedSize; base += kCreateChunk) {
        const std::size_t n =
            std::size_t(std::min<std::uint64_t>(kCreateChunk, modifiedSize - base));
        const std::size_t wantOriginal =
            base < originalSize ? std::size_t(std::min<std::uint64_t>(n, originalSize - base)) : 0;
        if (files::readAt(original.get(), a.data(), wantOriginal, base, originalPath) !=
                wantOriginal ||
            files::readAt(modified.get(), b.data(), n, base, modifiedPath) != n) {
            throw PatchError(ErrorKind::Io, "cannot read the files: one of them got shorter");
        }
        builder.chunk(base, Bytes(a.data(), wantOriginal), Bytes(b.data(), n));
        lastByte = b[n - 1];
    }
    builder.finish(modifiedSize, originalSize, lastByte);
    out.commit();
}

}  // namespace

void createPatchFile(const std::string& originalPath, const std::string& modifiedPath,
                     const std::string& patchPath, const CreateOptions& options) {
    try {
        createFile(originalPath, modifiedPath, patchPath, options);
    } catch (const files::FileError& e) {
        throw PatchError(ErrorKind::Io, e.what());
    }
}

}  // namespace zandrel::patch
