#pragma once

// The file layer every writer of the program goes through: the download, the unpacking, the
// patch tool and the backups. Plain C++ and POSIX, no Qt, so that the patch tool and the fuzz
// targets link it as it is. Failures are FileError (errno + a message naming the file); the
// Qt layers turn them into zandrel::Error.
//
// Files of our own in a folder we write carry the prefix ".zandrel-": temporary files
// (".zandrel-tmp-…", ReplaceFile) and staging folders (".zandrel-stage-…", StagingFolder).
// While a process of ours uses one it holds a lock (flock) on it; the next writer of that
// folder removes those whose owner is gone (kill -9, power loss). Listings never show them, nor
// the unpacking's older unlocked ".zandrel-unpack-…" folders, which are therefore not swept.

#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>

#include <sys/stat.h>

namespace zandrel::files {

class FileError : public std::runtime_error {
public:
    FileError(int code, const std::string& message) : std::runtime_error(message), code_(code) {}
    // The errno value behind the failure.
    int code() const noexcept { return code_; }

private:
    int code_;
};

// The text for an errno value: "the disk is full" for ENOSPC and EDQUOT, so that a full disk
// is never reported as whatever call happened to notice it; strerror otherwise.
std::string describe(int err);
// Throws FileError(err, "<what> <path>: <describe(err)>").
[[noreturn]] void fail(int err, const std::string& what, const std::string& path);

// An owned file descriptor.
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
    // Closes now and reports a failed close (the last chance to hear of a failed write).
    void close(const std::string& path);

private:
    int fd_ = -1;
};

// Opens an existing regular file for reading. A final symbolic link is not followed and the
// open never blocks; fstat then has to show a regular file before a byte is read, so a FIFO,
// a device, a folder or a socket is refused at once. `st` receives the file's status.
Fd openRegular(const std::string& path, struct stat& st);

// Writes all n bytes, retrying short writes and EINTR. `path` only names the file in errors.
void writeAll(int fd, const void* data, std::size_t n, const std::string& path);
void writeAllAt(int fd, const void* data, std::size_t n, std::uint64_t offset,
                const std::string& path);
// Reads up to n bytes at offset; fewer only at the end of the file.
std::size_t readAt(int fd, void* data, std::size_t n, std::uint64_t offset,
                   const std::string& path);

// Whether a replaced file is flushed to disk before the rename (and the folder after it).
// The patch tool and the backups sync: they replace the player's only copy of a map, so after
// a crash the map must hold either its old or its new bytes. A download and the unpacking do
// not: what they write can be fetched or unpacked again, and flushing hundreds of megabytes
// would cost the player seconds for nothing.
enum class Sync { No, Yes };

// A temporary file beside `target`, renamed over it by commit(). Until then the target keeps
// its old bytes; a ReplaceFile destroyed without commit (any failure) removes its temporary
// file. Creating one first sweeps the folder's leftovers.
class ReplaceFile {
public:
    ReplaceFile(const std::string& target, Sync sync);
    ~ReplaceFile();
    ReplaceFile(const ReplaceFile&) = delete;
    ReplaceFile& operator=(const ReplaceFile&) = delete;
    int fd() const { return fd_.get(); }
    const std::string& tempPath() const { return temp_; }
    const std::string& target() const { return target_; }
    void commit();

private:
    std::string target_;
    std::string temp_;
    Sync sync_;
    Fd fd_;
    bool committed_ = false;
};

// Replaces `target` with `bytes`, atomically as ReplaceFile does.
void replaceWith(const std::string& target, std::span<const std::uint8_t> bytes, Sync sync);

// Makes the empty file `out` share all `size` bytes of `in` (a clone, where the file system
// can): true when it did; false leaves `out` empty.
bool cloneData(int in, int out, std::uint64_t size, const std::string& outPath);
// Copies the bytes [from, to) of `in` to the same offsets of `out`, with the kernel's copy where
// it can; holes stay holes (and `out` does not grow for a trailing one).
void copyDataRange(int in, int out, std::uint64_t from, std::uint64_t to, const std::string& inPath,
                   const std::string& outPath);
// Copies the first `size` bytes of `in` into the empty file `out` and gives `out` that size.
// Holes stay holes, so a sparse file gives a sparse copy. A source that ends early is a
// failure ("changed while it was copied").
void copyData(int in, int out, std::uint64_t size, const std::string& inPath,
              const std::string& outPath);

// Copies a regular file over `to` (atomically, as ReplaceFile), keeping its permission bits,
// its modification time and its holes. The source's size and modification time are taken
// before and after: a source that changed while it was copied is a failure and `to` keeps its
// old bytes.
void copyFile(const std::string& from, const std::string& to, Sync sync);

// Whether a folder entry is one of our temporary files or staging folders: never listed.
bool isOurs(std::string_view name);
// Removes our leftovers from `folder` whose owner is gone. Failures are ignored: a leftover
// that stays is hidden all the same and swept next time.
void sweep(const std::string& folder);

// A staging folder of ours inside `parent` (".zandrel-stage-…"), locked while it exists and
// removed with everything in it when destroyed. Creating one first sweeps `parent`.
class StagingFolder {
public:
    explicit StagingFolder(const std::string& parent);
    ~StagingFolder();
    StagingFolder(const StagingFolder&) = delete;
    StagingFolder& operator=(const StagingFolder&) = delete;
    const std::string& path() const { return path_; }
    int fd() const { return fd_.get(); }

private:
    std::string path_;
    Fd fd_;
};

// Removes a folder and everything below it without recursion and with one descriptor open at a
// time; symbolic links inside are removed, never followed.
void removeTree(const std::string& path);

// Bytes an unprivileged writer may still use on the file system that holds `folder`.
std::uint64_t freeBytes(const std::string& folder);

// The folder part of a path ("." for a bare name).
std::string folderOf(const std::string& path);

}  // namespace zandrel::files
