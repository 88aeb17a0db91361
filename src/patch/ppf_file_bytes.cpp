#include "base/files.h"
#include "patch/ppf.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <new>

#include <sys/stat.h>

namespace zandrel::patch {

FileBytes::FileBytes(const std::string& path) {
    try {
        // A link given on the command line is followed; the file it names is then opened
        // without following anything, and must be a regular file (never a FIFO to wait on).
        char* real = ::realpath(path.c_str(), nullptr);
        if (!real) files::fail(errno, "cannot open patch", path);
        const std::string target(real);
        std::free(real);
        struct stat st {};
        const files::Fd fd = files::openRegular(target, st);
        const std::uint64_t size = std::uint64_t(st.st_size);
        if (size > kMaxPatchSize) {
            throw PatchError(ErrorKind::Refused, "patch " + path + " is larger than " +
                                                     std::to_string(kMaxPatchSize) + " bytes");
        }
        data_.resize(std::size_t(size));
        // One byte more than measured: a file that grew meanwhile shows up too.
        std::uint8_t extra = 0;
        if (files::readAt(fd.get(), data_.data(), data_.size(), 0, path) != data_.size() ||
            files::readAt(fd.get(), &extra, 1, size, path) != 0) {
            throw PatchError(ErrorKind::Io,
                             "cannot read patch " + path + ": it changed while it was read");
        }
    } catch (const files::FileError& e) {
        throw PatchError(ErrorKind::Io, e.what());
    } catch (const std::bad_alloc&) {
        throw PatchError(ErrorKind::Io, "not enough memory to read patch " + path);
    }
}

}  // namespace zandrel::patch
