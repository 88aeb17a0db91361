#include "base/files.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <random>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace zandrel::files {

namespace {

constexpr std::string_view kTempPrefix = ".zandrel-tmp-";
constexpr std::string_view kStagePrefix = ".zandrel-stage-";
// The unpacking's own staging folders, named before this layer existed. Hidden from listings
// but never swept: they carry no lock, so a live one cannot be told from a dead one.
constexpr std::string_view kUnpackPrefix = ".zandrel-unpack-";

std::string randomSuffix() {
    static std::mt19937_64 gen{std::random_device{}()};
    static const char digits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    std::string s;
    for (int i = 0; i < 12; ++i) s += digits[gen() % 36];
    return s;
}

std::string joined(const std::string& folder, std::string_view name) {
    if (folder.empty()) return std::string(name);
    return folder.back() == '/' ? folder + std::string(name) : folder + "/" + std::string(name);
}

// Opens the folder itself; the last component of `folder` may not be a link.
Fd openFolder(const std::string& folder) {
    return Fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

void syncFolder(const std::string& folder) {
    // Makes a rename durable. The data is on disk already, so a failure here loses nothing
    // that was there before and is not reported.
    Fd dir = openFolder(folder);
    if (dir.get() >= 0) ::fsync(dir.get());
}

// Copies [from, to) at the same offsets, with the kernel's copy where it can.
void copyRange(int in, int out, std::uint64_t from, std::uint64_t to, const std::string& inPath,
               const std::string& outPath, bool& kernelCopy, std::vector<char>& buf) {
    std::uint64_t done = from;
    while (kernelCopy && done < to) {
        loff_t inOff = loff_t(done), outOff = loff_t(done);
        const std::size_t want = std::size_t(std::min<std::uint64_t>(to - done, 1u << 30));
        const ssize_t n = ::copy_file_range(in, &inOff, out, &outOff, want, 0);
        if (n > 0) {
            done += std::uint64_t(n);
        } else if (n == 0) {
            throw FileError(EIO, "cannot copy " + inPath + ": it changed while it was copied");
        } else if (errno == EINTR) {
            continue;
        } else if (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP ||
                   errno == EBADF || errno == EPERM) {
            kernelCopy = false;  // not between these files: copy by hand below
        } else {
            fail(errno, "cannot copy to", outPath);
        }
    }
    while (done < to) {
        if (buf.empty()) buf.resize(1 << 20);
        const std::size_t want = std::size_t(std::min<std::uint64_t>(to - done, buf.size()));
        const std::size_t got = readAt(in, buf.data(), want, done, inPath);
        if (got != want) {
            throw FileError(EIO, "cannot copy " + inPath + ": it changed while it was copied");
        }
        writeAllAt(out, buf.data(), got, done, outPath);
        done += got;
    }
}

bool sameVersion(const struct stat& a, const struct stat& b) {
    return a.st_size == b.st_size && a.st_mtim.tv_sec == b.st_mtim.tv_sec &&
           a.st_mtim.tv_nsec == b.st_mtim.tv_nsec && a.st_ino == b.st_ino && a.st_dev == b.st_dev;
}

// Takes the lock that marks a file or folder of ours as in use.
bool lockNow(int fd) {
    int r;
    do {
        r = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (r != 0 && errno == EINTR);
    return r == 0;
}

}  // namespace

std::string describe(int err) {
    if (err == ENOSPC || err == EDQUOT) return "the disk is full";
    return std::strerror(err);
}

void fail(int err, const std::string& what, const std::string& path) {
    throw FileError(err, what + " " + path + ": " + describe(err));
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

void Fd::close(const std::string& path) {
    // Linux releases the descriptor even when close fails, so it is never retried.
    if (fd_ >= 0 && ::close(release()) != 0 && errno != EINTR) fail(errno, "cannot write", path);
}

Fd openRegular(const std::string& path, struct stat& st) {
    Fd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (fd.get() < 0) {
        if (errno == ELOOP) {
            throw FileError(ELOOP, "cannot open " + path + ": it is a symbolic link");
        }
        fail(errno, "cannot open", path);
    }
    if (::fstat(fd.get(), &st) != 0) fail(errno, "cannot read", path);
    if (S_ISDIR(st.st_mode)) fail(EISDIR, "cannot open", path);
    if (!S_ISREG(st.st_mode)) {
        throw FileError(EINVAL, "cannot open " + path + ": not a regular file");
    }
    // Reads of a regular file never block anyway; clear the flag all the same.
    const int flags = ::fcntl(fd.get(), F_GETFL);
    if (flags >= 0) ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK);
    return fd;
}

namespace {

// Hands n bytes to one write call after another until all are written, retrying EINTR; a call
// that writes nothing is an I/O error rather than a loop forever.
template <class WriteSome>
void writeLoop(const void* data, std::size_t n, const std::string& path, WriteSome writeSome) {
    const char* p = static_cast<const char*>(data);
    std::uint64_t done = 0;
    while (n > 0) {
        const ssize_t r = writeSome(p, n, done);
        if (r < 0) {
            if (errno == EINTR) continue;
            fail(errno, "cannot write", path);
        }
        if (r == 0) fail(EIO, "cannot write", path);
        p += r;
        n -= std::size_t(r);
        done += std::uint64_t(r);
    }
}

}  // namespace

void writeAll(int fd, const void* data, std::size_t n, const std::string& path) {
    writeLoop(data, n, path, [fd](const char* p, std::size_t left, std::uint64_t) {
        return ::write(fd, p, left);
    });
}

void writeAllAt(int fd, const void* data, std::size_t n, std::uint64_t offset,
                const std::string& path) {
    writeLoop(data, n, path, [fd, offset](const char* p, std::size_t left, std::uint64_t done) {
        return ::pwrite(fd, p, left, off_t(offset + done));
    });
}

std::size_t readAt(int fd, void* data, std::size_t n, std::uint64_t offset,
                   const std::string& path) {
    std::size_t done = 0;
    while (done < n) {
        const ssize_t r =
            ::pread(fd, static_cast<char*>(data) + done, n - done, off_t(offset + done));
        if (r < 0) {
            if (errno == EINTR) continue;
            fail(errno, "cannot read", path);
        }
        if (r == 0) break;
        done += std::size_t(r);
    }
    return done;
}

std::string folderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

ReplaceFile::ReplaceFile(const std::string& target, Sync sync) : target_(target), sync_(sync) {
    const std::string folder = folderOf(target);
    sweep(folder);
    for (int attempt = 0;; ++attempt) {
        temp_ = joined(folder, std::string(kTempPrefix) + randomSuffix());
        fd_ = Fd(::open(temp_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (fd_.get() >= 0) break;
        if (errno != EEXIST || attempt > 100) {
            fail(errno, "cannot create a temporary file in", folder);
        }
    }
    // Marks the file as in use, so that a sweep by another process of ours leaves it alone.
    lockNow(fd_.get());
}

ReplaceFile::~ReplaceFile() {
    if (!committed_) ::unlink(temp_.c_str());
}

void ReplaceFile::commit() {
    if (sync_ == Sync::Yes && ::fsync(fd_.get()) != 0) fail(errno, "cannot write", temp_);
    fd_.close(temp_);
    if (::rename(temp_.c_str(), target_.c_str()) != 0) fail(errno, "cannot replace", target_);
    committed_ = true;
    if (sync_ == Sync::Yes) syncFolder(folderOf(target_));
}

void replaceWith(const std::string& target, std::span<const std::uint8_t> bytes, Sync sync) {
    ReplaceFile out(target, sync);
    writeAll(out.fd(), bytes.data(), bytes.size(), out.tempPath());
    out.commit();
}

bool cloneData(int in, int out, std::uint64_t size, const std::string& outPath) {
    if (size == 0 || ::ioctl(out, FICLONE, in) != 0) return false;
    // A clone shares the blocks (holes included) but takes the whole source as it is now.
    struct stat st {};
    if (::fstat(out, &st) == 0 && std::uint64_t(st.st_size) == size) return true;
    if (::ftruncate(out, 0) != 0) fail(errno, "cannot write", outPath);
    return false;
}

void copyDataRange(int in, int out, std::uint64_t from, std::uint64_t to, const std::string& inPath,
                   const std::string& outPath) {
    bool kernelCopy = true;
    std::vector<char> buf;
    std::uint64_t at = from;
    while (at < to) {
        off_t data = ::lseek(in, off_t(at), SEEK_DATA);
        off_t hole = 0;
        if (data < 0) {
            if (errno == ENXIO) break;  // only a hole up to the end
            // No hole support here: all of it is data.
            data = off_t(at);
            hole = off_t(to);
        } else {
            hole = ::lseek(in, data, SEEK_HOLE);
            if (hole < 0) hole = off_t(to);
        }
        if (std::uint64_t(data) >= to) break;
        const std::uint64_t end = std::min<std::uint64_t>(std::uint64_t(hole), to);
        copyRange(in, out, std::uint64_t(data), end, inPath, outPath, kernelCopy, buf);
        at = end;
    }
}

void copyData(int in, int out, std::uint64_t size, const std::string& inPath,
              const std::string& outPath) {
    if (size > std::uint64_t(INT64_MAX)) fail(EFBIG, "cannot copy", inPath);
    if (cloneData(in, out, size, outPath)) return;
    copyDataRange(in, out, 0, size, inPath, outPath);
    // A hole up to `size` is only a hole if the source still reaches that far.
    struct stat st {};
    if (::fstat(in, &st) != 0) fail(errno, "cannot read", inPath);
    if (std::uint64_t(st.st_size) < size) {
        throw FileError(EIO, "cannot copy " + inPath + ": it changed while it was copied");
    }
    // The size, with the trailing hole if there is one.
    if (::ftruncate(out, off_t(size)) != 0) fail(errno, "cannot write", outPath);
}

void copyFile(const std::string& from, const std::string& to, Sync sync) {
    struct stat before {};
    Fd in = openRegular(from, before);
    ReplaceFile out(to, sync);
    copyData(in.get(), out.fd(), std::uint64_t(before.st_size), from, out.tempPath());
    // As a Windows copy does: the source's permissions (a read-only map gives a read-only
    // copy) and its modification time.
    if (::fchmod(out.fd(), before.st_mode & 0777) != 0) fail(errno, "cannot write", to);
    const struct timespec times[2] = {before.st_atim, before.st_mtim};
    ::futimens(out.fd(), times);  // a copy with the current time is still a good copy
    struct stat after {};
    if (::fstat(in.get(), &after) != 0) fail(errno, "cannot read", from);
    if (!sameVersion(before, after)) {
        throw FileError(EIO, "cannot copy " + from + ": it changed while it was copied");
    }
    out.commit();
}

bool isOurs(std::string_view name) {
    return name.starts_with(kTempPrefix) || name.starts_with(kStagePrefix) ||
           name.starts_with(kUnpackPrefix);
}

void sweep(const std::string& folder) {
    Fd dirFd = openFolder(folder);
    if (dirFd.get() < 0) return;
    DIR* dir = ::fdopendir(::dup(dirFd.get()));
    if (!dir) return;
    std::vector<std::string> names;
    while (const dirent* d = ::readdir(dir)) {
        if (isOurs(d->d_name)) names.emplace_back(d->d_name);
    }
    ::closedir(dir);
    for (const std::string& name : names) {
        Fd fd(::openat(dirFd.get(), name.c_str(),
                       O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
        struct stat st {};
        if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0) continue;
        // A lock we get is a lock nobody holds: the process that made the entry is gone.
        if (!lockNow(fd.get())) continue;
        if (S_ISDIR(st.st_mode) && std::string_view(name).starts_with(kStagePrefix)) {
            removeTree(joined(folder, name));
        } else if (S_ISREG(st.st_mode) && std::string_view(name).starts_with(kTempPrefix)) {
            ::unlinkat(dirFd.get(), name.c_str(), 0);
        }
    }
}

StagingFolder::StagingFolder(const std::string& parent) {
    sweep(parent);
    for (int attempt = 0;; ++attempt) {
        path_ = joined(parent, std::string(kStagePrefix) + randomSuffix());
        if (::mkdir(path_.c_str(), 0700) == 0) break;
        if (errno != EEXIST || attempt > 100) fail(errno, "cannot create a folder in", parent);
    }
    fd_ = Fd(::open(path_.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (fd_.get() < 0) {
        const int err = errno;
        ::rmdir(path_.c_str());
        fail(err, "cannot open", path_);
    }
    lockNow(fd_.get());
}

StagingFolder::~StagingFolder() {
    removeTree(path_);
}

void removeTree(const std::string& root) {
    // Depth first by path: descend into the first sub-folder found, remove files on the way,
    // remove a folder once it is empty, then look at its parent again. A folder that cannot
    // be removed ends the attempt (it would be found again and again).
    std::vector<std::string> stack{root};
    while (!stack.empty()) {
        const std::string top = stack.back();
        const int fd = ::open(top.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        DIR* dir = fd >= 0 ? ::fdopendir(fd) : nullptr;
        if (fd >= 0 && !dir) ::close(fd);
        if (!dir) {
            if (::rmdir(top.c_str()) != 0 && ::unlink(top.c_str()) != 0) return;
            stack.pop_back();
            continue;
        }
        std::string sub;
        while (const dirent* d = ::readdir(dir)) {
            if (std::strcmp(d->d_name, ".") == 0 || std::strcmp(d->d_name, "..") == 0) continue;
            struct stat st {};
            if (::fstatat(::dirfd(dir), d->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
            if (S_ISDIR(st.st_mode)) {
                sub = d->d_name;
                break;
            }
            ::unlinkat(::dirfd(dir), d->d_name, 0);
        }
        ::closedir(dir);
        if (!sub.empty()) {
            stack.push_back(joined(top, sub));
        } else {
            if (::rmdir(top.c_str()) != 0) return;
            stack.pop_back();
        }
    }
}

std::uint64_t freeBytes(const std::string& folder) {
    struct statvfs vfs {};
    if (::statvfs(folder.c_str(), &vfs) != 0) fail(errno, "cannot read the free space of", folder);
    return std::uint64_t(vfs.f_bavail) * std::uint64_t(vfs.f_frsize);
}

}  // namespace zandrel::files
