#include "base/files.h"
#include "patch/ppf.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zandrel::patch {

namespace {

// The patched copy is made front to back, one window at a time: a stretch no record touches is
// copied by the kernel (holes kept), a window with records is read from the image into one
// buffer, patched there and written with one pwrite. So the records cost no page fault and no
// system call each, and every byte of the image passes through memory once, as in a plain copy.
// Where the copy could share the image's blocks (a clone), only the patched windows are written.
constexpr std::uint64_t kWindow = 1 << 20;

class WindowWriter {
public:
    WindowWriter(int in, std::uint64_t inSize, const std::string& inPath, int out,
                 std::uint64_t outSize, const std::string& outPath,
                 const volatile std::sig_atomic_t* stop)
        : in_(in),
          inSize_(inSize),
          inPath_(inPath),
          out_(out),
          outSize_(outSize),
          outPath_(outPath),
          stop_(stop) {
        cloned_ = files::cloneData(in_, out_, inSize_, outPath_);
        ::posix_fadvise(in_, 0, 0, POSIX_FADV_SEQUENTIAL);
    }

    // The bytes of window `index`, valid until the next call; windows come in ascending order.
    std::uint8_t* window(std::uint64_t index) {
        if (index == index_) return buffer_.data();
        flush();
        const std::uint64_t base = index * kWindow;
        copyUpTo(base);
        checkStop();
        index_ = index;
        const std::size_t len = std::size_t(std::min(kWindow, outSize_ - base));
        buffer_.resize(len);
        const std::size_t fromImage =
            base < inSize_ ? std::size_t(std::min<std::uint64_t>(len, inSize_ - base)) : 0;
        if (files::readAt(in_, buffer_.data(), fromImage, base, inPath_) != fromImage) {
            throw files::FileError(EIO, "cannot read " + inPath_ + ": it got shorter");
        }
        std::fill(buffer_.begin() + std::ptrdiff_t(fromImage), buffer_.end(), 0);
        release(base, base + fromImage);
        return buffer_.data();
    }

    // Writes the last window and copies the rest; the copy then has its final size.
    void finish() {
        flush();
        copyUpTo(outSize_);
        struct stat st {};
        if (::fstat(in_, &st) != 0) files::fail(errno, "cannot read", inPath_);
        if (std::uint64_t(st.st_size) < inSize_) {
            throw files::FileError(EIO, "cannot read " + inPath_ + ": it got shorter");
        }
        if (::ftruncate(out_, off_t(outSize_)) != 0) files::fail(errno, "cannot grow", outPath_);
    }

private:
    void flush() {
        if (index_ == kNone) return;
        const std::uint64_t base = index_ * kWindow;
        files::writeAllAt(out_, buffer_.data(), buffer_.size(), base, outPath_);
        startWriteback(base, base + buffer_.size());
        done_ = base + buffer_.size();
        index_ = kNone;
    }

    void checkStop() const {
        if (stop_ && *stop_) {
            throw PatchError(ErrorKind::Stopped, "stopped: the image was left as it was");
        }
    }

    // Copies the image's bytes from where the last window ended up to `end`, in steps that a
    // stop can come between.
    void copyUpTo(std::uint64_t end) {
        const std::uint64_t to = std::min(end, inSize_);
        while (!cloned_ && done_ < to) {
            checkStop();
            const std::uint64_t step = std::min(to, done_ + kCopyStep);
            files::copyDataRange(in_, out_, done_, step, inPath_, outPath_);
            startWriteback(done_, step);
            release(done_, step);
            done_ = step;
        }
        done_ = std::max(done_, end);
    }

    // Starts writing a finished stretch to disk now, so that the flush before the rename has
    // little left to wait for. Stretches are finished in order and not touched again.
    void startWriteback(std::uint64_t from, std::uint64_t to) {
        ::sync_file_range(out_, off_t(from), off_t(to - from), SYNC_FILE_RANGE_WRITE);
    }

    // The image's cached pages are of no more use once copied: it is about to be replaced.
    // Dropped as the copy goes, they make room for the copy's own pages, so that the apply
    // takes no more memory than a copy over the image would, and closing the old image at the
    // end has nothing left to drop.
    void release(std::uint64_t from, std::uint64_t to) {
        if (to > from) ::posix_fadvise(in_, off_t(from), off_t(to - from), POSIX_FADV_DONTNEED);
    }

    static constexpr std::uint64_t kNone = UINT64_MAX;
    static constexpr std::uint64_t kCopyStep = 64 * kWindow;
    int in_;
    std::uint64_t inSize_;
    const std::string& inPath_;
    int out_;
    std::uint64_t outSize_;
    const std::string& outPath_;
    const volatile std::sig_atomic_t* stop_;
    bool cloned_ = false;
    std::uint64_t done_ = 0;  // everything before this is in the copy
    std::uint64_t index_ = kNone;
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
    // order and each is filled once. Any other order is sorted by window first, keeping file
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

// Exact figures: rounded ones could read "needs 1 MiB, has 1 MiB free".
std::string noRoom(std::uint64_t needed, std::uint64_t free) {
    return "the disk is full: the patched image needs " + std::to_string(needed) +
           " bytes, the disk has " + std::to_string(free) + " bytes free (" +
           std::to_string(needed - free) + " bytes short)";
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
            throw PatchError(ErrorKind::Refused, noRoom(finalSize, free));
        }
    }

    files::ReplaceFile out(image.path, files::Sync::Yes);
    // Owner first: changing it clears set-id bits that the mode then restores. Only a
    // privileged caller can give the file away; everyone else keeps their own ownership.
    if (::fchown(out.fd(), image.st.st_uid, image.st.st_gid) != 0) errno = 0;
    if (::fchmod(out.fd(), image.st.st_mode & 07777) != 0) {
        files::fail(errno, "cannot write", out.tempPath());
    }
    WindowWriter writer(image.fd.get(), size, image.path, out.fd(), finalSize, out.tempPath(),
                        options.stop);
    writeRecords(writer, patch, undo);
    writer.finish();
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
