#include "patch/file_io.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zandrel::ppf {

namespace detail {

void ioError(const std::string& what, const std::string& path, int err) {
    throw PatchError(ErrorKind::Io, what + " " + path + ": " + std::strerror(err));
}

Fd::~Fd() {
    if (fd_ >= 0) ::close(fd_);
}

Fd& Fd::operator=(Fd&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = other.release();
    }
    return *this;
}

int Fd::release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

Fd openRegular(const std::string& path, const std::string& what, std::uint64_t& size,
               unsigned& mode) {
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) ioError("cannot open " + what, path, errno);
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) ioError("cannot read " + what, path, errno);
    if (!S_ISREG(st.st_mode)) {
        throw PatchError(ErrorKind::Io, "cannot open " + what + " " + path + ": not a file");
    }
    size = std::uint64_t(st.st_size);
    mode = st.st_mode;
    return fd;
}

std::size_t readAt(int fd, void* buf, std::size_t n, std::uint64_t off, const std::string& path) {
    std::size_t done = 0;
    while (done < n) {
        const ssize_t r = ::pread(fd, static_cast<char*>(buf) + done, n - done, off_t(off + done));
        if (r < 0) {
            if (errno == EINTR) continue;
            ioError("cannot read", path, errno);
        }
        if (r == 0) break;
        done += std::size_t(r);
    }
    return done;
}

void writeAt(int fd, const void* buf, std::size_t n, std::uint64_t off, const std::string& path) {
    std::size_t done = 0;
    while (done < n) {
        const ssize_t r =
            ::pwrite(fd, static_cast<const char*>(buf) + done, n - done, off_t(off + done));
        if (r < 0) {
            if (errno == EINTR) continue;
            ioError("cannot write", path, errno);
        }
        done += std::size_t(r);
    }
}

namespace {

std::string folderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

TempFile::TempFile(const std::string& target) : target_(target) {
    const auto slash = target.rfind('/');
    std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    // Room for the prefix and suffix within the usual 255-byte name limit.
    if (base.size() > 200) base.resize(200);
    const std::string folder = folderOf(target);
    std::string pattern = (folder == "/" ? "" : folder) + "/." + base + ".ppf-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) ioError("cannot create a temporary file in", folder, errno);
    fd_ = Fd(fd);
    path_ = name.data();
}

TempFile::~TempFile() {
    if (!committed_) ::unlink(path_.c_str());
}

void TempFile::commit() {
    if (::fsync(fd_.get()) != 0) ioError("cannot write", path_, errno);
    if (::close(fd_.release()) != 0) ioError("cannot write", path_, errno);
    if (::rename(path_.c_str(), target_.c_str()) != 0) ioError("cannot replace", target_, errno);
    committed_ = true;
    // Makes the rename itself durable; the data is already on disk, so a failure here is not
    // worth failing for.
    const int dir = ::open(folderOf(target_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
}

void copyContents(int in, int out, std::uint64_t size, const std::string& inPath,
                  const std::string& outPath) {
    if (size == 0) return;
    if (::ioctl(out, FICLONE, in) == 0) {
        // A clone takes the whole source; make sure it holds what was measured.
        struct stat st {};
        if (::fstat(out, &st) == 0 && std::uint64_t(st.st_size) == size) return;
        if (::ftruncate(out, 0) != 0) ioError("cannot write", outPath, errno);
    }
    std::uint64_t done = 0;
    while (done < size) {
        loff_t inOff = loff_t(done), outOff = loff_t(done);
        const std::size_t want = std::size_t(std::min<std::uint64_t>(size - done, 1u << 30));
        const ssize_t n = ::copy_file_range(in, &inOff, out, &outOff, want, 0);
        if (n > 0) {
            done += std::uint64_t(n);
            continue;
        }
        if (n == 0) {
            throw PatchError(ErrorKind::Io, "cannot read " + inPath + ": the file got shorter");
        }
        if (errno == EINTR) continue;
        if (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP ||
            errno == EBADF || errno == EPERM) {
            break;  // not between these files: copy by hand below
        }
        ioError("cannot copy to", outPath, errno);
    }
    std::vector<std::uint8_t> buf;
    while (done < size) {
        if (buf.empty()) buf.resize(1 << 20);
        const std::size_t want = std::size_t(std::min<std::uint64_t>(size - done, buf.size()));
        const std::size_t got = readAt(in, buf.data(), want, done, inPath);
        if (got != want) {
            throw PatchError(ErrorKind::Io, "cannot read " + inPath + ": the file got shorter");
        }
        writeAt(out, buf.data(), got, done, outPath);
        done += got;
    }
}

}  // namespace detail

MappedFile::MappedFile(const std::string& path) {
    std::uint64_t size = 0;
    unsigned mode = 0;
    detail::Fd fd = detail::openRegular(path, "patch", size, mode);
    if (size == 0) return;
    if (size > SIZE_MAX) throw PatchError(ErrorKind::Io, "patch " + path + " is too large");
    void* p = ::mmap(nullptr, std::size_t(size), PROT_READ, MAP_PRIVATE, fd.get(), 0);
    if (p == MAP_FAILED) detail::ioError("cannot read patch", path, errno);
    ::madvise(p, std::size_t(size), MADV_SEQUENTIAL);
    data_ = static_cast<const std::uint8_t*>(p);
    size_ = std::size_t(size);
}

MappedFile::~MappedFile() {
    if (data_) ::munmap(const_cast<std::uint8_t*>(data_), size_);
}

}  // namespace zandrel::ppf
