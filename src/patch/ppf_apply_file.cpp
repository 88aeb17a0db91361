#include "base/files.h"
#include "patch/ppf.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zandrel::patch {

namespace {

#ifndef MADV_POPULATE_WRITE
#define MADV_POPULATE_WRITE 23
#endif

// Records are written through one window of the output file at a time, mapped and pre-faulted
// in one call, so a patch with hundreds of thousands of small records costs a few system calls
// per window instead of one per record. Where the kernel cannot pre-fault (a write fault on a
// full disk would then kill the process), or the pre-fault fails, the window is a buffer read
// and written back instead: a pre-fault that finds the disk full says only "Bad address",
// while the write then fails with the real cause.
constexpr std::uint64_t kWindow = 4 << 20;

class WindowWriter {
public:
    WindowWriter(int fd, std::uint64_t fileSize, const std::string& path)
        : fd_(fd), size_(fileSize), path_(path) {}
    ~WindowWriter() {
        if (map_) ::munmap(map_, len_);
    }

    // The bytes of window `index`, valid until the next call.
    std::uint8_t* window(std::uint64_t index) {
        if (index == index_) return map_ ? map_ : buffer_.data();
        flush();
        index_ = index;
        const std::uint64_t base = index * kWindow;
        len_ = std::size_t(std::min(kWindow, size_ - base));
        if (mapping_) {
            void* p = ::mmap(nullptr, len_, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, off_t(base));
            if (p != MAP_FAILED) {
                if (::madvise(p, len_, MADV_POPULATE_WRITE) == 0) {
                    map_ = static_cast<std::uint8_t*>(p);
                    return map_;
                }
                ::munmap(p, len_);
            }
            mapping_ = false;
        }
        buffer_.resize(len_);
        if (files::readAt(fd_, buffer_.data(), len_, base, path_) != len_) {
            throw files::FileError(EIO, "cannot read " + path_ + ": the file got shorter");
        }
        return buffer_.data();
    }

    void flush() {
        if (index_ == kNone) return;
        if (map_) {
            ::munmap(map_, len_);
            map_ = nullptr;
        } else {
            files::writeAllAt(fd_, buffer_.data(), len_, index_ * kWindow, path_);
        }
        // Start writing the finished window to disk now, so that the flush before the rename
        // has little left to wait for. Windows are visited in order and not touched again.
        ::sync_file_range(fd_, off_t(index_ * kWindow), off_t(len_), SYNC_FILE_RANGE_WRITE);
        index_ = kNone;
    }

private:
    static constexpr std::uint64_t kNone = UINT64_MAX;
    int fd_;
    std::uint64_t size_;
    std::string path_;
    bool mapping_ = true;
    std::uint64_t index_ = kNone;
    std::uint8_t* map_ = nullptr;
    std::size_t len_ = 0;
    std::vector<std::uint8_t> buffer_;
};

// Copies the part of a record that falls into window `index`.
void writePiece(WindowWriter& out, std::uint64_t index, std::uint64_t offset, Bytes src) {
    const std::uint64_t base = index * kWindow;
    const std::uint64_t from = std::max(offset, base);
    const std::uint64_t to = std::min(offset + src.size(), base + kWindow);
    std::memcpy(out.window(index) + (from - base), src.data() + (from - offset), to - from);
}

void writeRecords(WindowWriter& out, const Patch& patch, bool undo) {
    // Patches from makers run through the image front to back: then the windows are visited in
    // order and each is opened once. Any other order is sorted by window first, keeping file
    // order within a window, so that a later record still wins where records overlap.
    bool ordered = true;
    std::uint64_t reached = 0;
    patch.forEachRecord([&](const Record& r) {
        if (r.data.empty()) return;
        if (r.offset / kWindow < reached) ordered = false;
        reached = std::max(reached, (r.offset + r.data.size() - 1) / kWindow);
    });

    if (ordered) {
        patch.forEachRecord([&](const Record& r) {
            const Bytes src = undo ? r.undo : r.data;
            if (src.empty()) return;
            const std::uint64_t last = (r.offset + src.size() - 1) / kWindow;
            for (std::uint64_t w = r.offset / kWindow; w <= last; ++w) {
                writePiece(out, w, r.offset, src);
            }
        });
        return;
    }

    struct Piece {
        std::uint64_t window;
        const std::uint8_t* record;  // the record's data bytes; order in the area = file order
        std::uint64_t offset;
        std::uint8_t length;
    };
    std::vector<Piece> pieces;
    pieces.reserve(patch.recordCount);
    patch.forEachRecord([&](const Record& r) {
        const Bytes src = undo ? r.undo : r.data;
        if (src.empty()) return;
        const std::uint64_t last = (r.offset + src.size() - 1) / kWindow;
        for (std::uint64_t w = r.offset / kWindow; w <= last; ++w) {
            pieces.push_back({w, src.data(), r.offset, std::uint8_t(src.size())});
        }
    });
    std::sort(pieces.begin(), pieces.end(), [](const Piece& a, const Piece& b) {
        return a.window != b.window ? a.window < b.window : a.record < b.record;
    });
    for (const Piece& p : pieces) writePiece(out, p.window, p.offset, Bytes(p.record, p.length));
}

std::string resolved(const std::string& path) {
    char* real = ::realpath(path.c_str(), nullptr);
    if (!real) files::fail(errno, "cannot open image", path);
    std::string s(real);
    std::free(real);
    return s;
}

std::string mib(std::uint64_t bytes) {
    return std::to_string((bytes + (1 << 20) - 1) >> 20) + " MiB";
}

// The image as the applier sees it: opened once, read with pread only.
struct Image {
    std::string path;  // the file a link names
    files::Fd fd;
    struct stat st {};

    explicit Image(const std::string& given) : path(resolved(given)) {
        fd = files::openRegular(path, st);
    }
    std::uint64_t size() const { return std::uint64_t(st.st_size); }

    bool holds(std::uint64_t offset, Bytes bytes) const {
        std::uint8_t buf[kMaxRecordLength];
        return files::readAt(fd.get(), buf, bytes.size(), offset, path) == bytes.size() &&
               std::memcmp(buf, bytes.data(), bytes.size()) == 0;
    }
    bool carries(const Patch& patch) const {
        return detail::alreadyApplied(patch, size(), [this](std::uint64_t offset, Bytes bytes) {
            return holds(offset, bytes);
        });
    }
    std::string mismatch(const Patch& patch, Direction direction) const {
        std::vector<std::uint8_t> window;
        if (patch.blockCheck && patch.validationOffset < size()) {
            window.resize(std::size_t(
                std::min<std::uint64_t>(kValidationSize, size() - patch.validationOffset)));
            window.resize(files::readAt(fd.get(), window.data(), window.size(),
                                        patch.validationOffset, path));
        }
        return validationMismatch(patch, size(), window, direction);
    }
};

std::string tooLarge(std::uint64_t finalSize, const ApplyOptions& options) {
    if (finalSize <= options.maxImageSize && finalSize <= std::uint64_t(INT64_MAX)) return {};
    return "the patch would make the image " + std::to_string(finalSize) +
           " bytes long, more than the " + std::to_string(options.maxImageSize) +
           " bytes an image may have";
}

Outcome apply(const std::string& imagePath, const Patch& patch, const ApplyOptions& options) {
    const bool undo = options.direction == Direction::Undo;
    if (undo && !patch.undoData) {
        throw PatchError(ErrorKind::Refused, "cannot undo: the patch holds no undo data");
    }
    // A link stays a link: the file it names is the one replaced.
    const Image image(imagePath);
    if (!undo && image.carries(patch)) return Outcome::AlreadyApplied;

    // The permission bits decide, not access(): root may write anything, but a map the player
    // made read-only stays as it is.
    if ((image.st.st_mode & 0222) == 0 || ::access(image.path.c_str(), W_OK) != 0) {
        throw PatchError(ErrorKind::Io, "cannot write image " + imagePath + ": it is read-only");
    }
    const std::string mismatch = image.mismatch(patch, options.direction);
    if (!mismatch.empty() && !options.force) {
        throw PatchError(ErrorKind::Validation, "validation failed: " + mismatch);
    }
    if (patch.recordCount == 0) return Outcome::Applied;

    const std::uint64_t size = image.size();
    const std::uint64_t finalSize = std::max(size, patch.maxEnd);
    if (const std::string why = tooLarge(finalSize, options); !why.empty()) {
        throw PatchError(ErrorKind::Refused, why);
    }
    const std::string folder = files::folderOf(image.path);
    if (options.checkFreeSpace) {
        // The patched copy is written whole beside the image before it replaces it.
        const std::uint64_t free = files::freeBytes(folder);
        if (finalSize > free) {
            throw PatchError(ErrorKind::Refused, "the disk is full: the patched image needs " +
                                                     mib(finalSize) + ", the disk has " +
                                                     mib(free) + " free");
        }
    }

    files::ReplaceFile out(image.path, files::Sync::Yes);
    // Owner first: changing it clears set-id bits that the mode then restores. Only a
    // privileged caller can give the file away; everyone else keeps their own ownership.
    if (::fchown(out.fd(), image.st.st_uid, image.st.st_gid) != 0) errno = 0;
    if (::fchmod(out.fd(), image.st.st_mode & 07777) != 0) {
        files::fail(errno, "cannot write", out.tempPath());
    }
    files::copyData(image.fd.get(), out.fd(), size, image.path, out.tempPath());
    if (finalSize > size && ::ftruncate(out.fd(), off_t(finalSize)) != 0) {
        files::fail(errno, "cannot grow", out.tempPath());
    }
    {
        WindowWriter writer(out.fd(), finalSize, out.tempPath());
        writeRecords(writer, patch, undo);
        writer.flush();
    }
    out.commit();
    return Outcome::Applied;
}

}  // namespace

Outcome applyToFile(const std::string& imagePath, const Patch& patch, const ApplyOptions& options) {
    try {
        return apply(imagePath, patch, options);
    } catch (const files::FileError& e) {
        throw PatchError(ErrorKind::Io, e.what());
    }
}

Outcome applyToFile(const std::string& imagePath, Bytes patchBytes, const ApplyOptions& options) {
    return applyToFile(imagePath, parsePatch(patchBytes), options);
}

Outcome applyPatchFile(const std::string& imagePath, const std::string& patchPath,
                       const ApplyOptions& options) {
    const FileBytes file(patchPath);
    return applyToFile(imagePath, file.bytes(), options);
}

FitReport checkFit(const std::string& imagePath, const Patch& patch) {
    try {
        const Image image(imagePath);
        if (image.carries(patch)) return {Fit::AlreadyApplied, {}};
        if (std::string why = image.mismatch(patch, Direction::Apply); !why.empty()) {
            return {Fit::DoesNotFit, "validation failed: " + why};
        }
        if (std::string why = tooLarge(std::max(image.size(), patch.maxEnd), {}); !why.empty()) {
            return {Fit::DoesNotFit, why};
        }
        return {Fit::Applies, {}};
    } catch (const files::FileError& e) {
        throw PatchError(ErrorKind::Io, e.what());
    }
}

}  // namespace zandrel::patch
