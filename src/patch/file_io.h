#pragma once

// File helpers shared by the file applier and the file maker (POSIX).

#include "patch/ppf.h"

#include <cstdint>
#include <string>

namespace zandrel::ppf::detail {

[[noreturn]] void ioError(const std::string& what, const std::string& path, int err);

class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd();
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    Fd(Fd&& other) noexcept : fd_(other.release()) {}
    Fd& operator=(Fd&& other) noexcept;
    int get() const { return fd_; }
    int release();

private:
    int fd_ = -1;
};

// Opens an existing regular file for reading; fills size and mode.
Fd openRegular(const std::string& path, const std::string& what, std::uint64_t& size,
               unsigned& mode);

// Reads up to n bytes at off; fewer only at the end of the file.
std::size_t readAt(int fd, void* buf, std::size_t n, std::uint64_t off, const std::string& path);
void writeAt(int fd, const void* buf, std::size_t n, std::uint64_t off, const std::string& path);

// A hidden temporary file in the target's folder. Removed when destroyed, unless commit() has
// renamed it over the target.
class TempFile {
public:
    explicit TempFile(const std::string& target);
    ~TempFile();
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    int fd() const { return fd_.get(); }
    const std::string& path() const { return path_; }
    // Flushes the data to disk, renames the file over the target and flushes the folder, so
    // that after a crash the target holds either the old or the new contents.
    void commit();

private:
    std::string target_;
    std::string path_;
    Fd fd_;
    bool committed_ = false;
};

// Copies the first `size` bytes of `in` to `out` (both at offset 0) with the kernel's copy
// routines: a reflink clone where the file system shares blocks, else copy_file_range, else
// plain reads and writes.
void copyContents(int in, int out, std::uint64_t size, const std::string& inPath,
                  const std::string& outPath);

}  // namespace zandrel::ppf::detail
