#include "base/files.h"
#include "patch/ppf.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>

#include <sys/mman.h>
#include <sys/stat.h>

namespace zandrel::ppf {

MappedFile::MappedFile(const std::string& path) {
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
        if (size == 0) return;
        if (size > SIZE_MAX) throw PatchError(ErrorKind::Io, "patch " + path + " is too large");
        void* p = ::mmap(nullptr, std::size_t(size), PROT_READ, MAP_PRIVATE, fd.get(), 0);
        if (p == MAP_FAILED) files::fail(errno, "cannot read patch", path);
        ::madvise(p, std::size_t(size), MADV_SEQUENTIAL);
        data_ = static_cast<const std::uint8_t*>(p);
        size_ = std::size_t(size);
    } catch (const files::FileError& e) {
        throw PatchError(ErrorKind::Io, e.what());
    }
}

MappedFile::~MappedFile() {
    if (data_) ::munmap(const_cast<std::uint8_t*>(data_), size_);
}

}  // namespace zandrel::ppf
