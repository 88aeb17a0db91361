#include "archive/unrar.h"

#include "archive/entry_name.h"
#include "base/error.h"

#include <QFile>

#include <archive.h>
#include <archive_entry.h>
#include <dirent.h>
#include <fcntl.h>
#include <locale.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace zandrel {

namespace {

const QString kSource = QStringLiteral("UnRar");

// libarchive reads the file in blocks of this size and hands stored data on in pieces of up to
// this size, which we write as they come.
constexpr std::size_t kReadBlock = 1 << 20;

QString text(const std::string& s) {
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

[[noreturn]] void fail(std::int32_t number, const QString& description) {
    throw Error(number, description, kSource);
}

[[noreturn]] void failErrno(int err, const QString& what) {
    fail(err, QStringLiteral("%1: %2").arg(what, QString::fromLocal8Bit(std::strerror(err))));
}

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    int get() const { return fd_; }
    // Closes now and reports the result: a delayed write error can surface here.
    int close() {
        const int rc = ::close(fd_);
        fd_ = -1;
        return rc;
    }

private:
    int fd_;
};

// libarchive gives names in the multibyte form of the thread's locale. For the extraction the
// thread uses UTF-8, so that names do not depend on the locale the program was started in.
class Utf8Locale {
public:
    Utf8Locale() : locale_(newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t(0))) {
        if (locale_) previous_ = uselocale(locale_);
    }
    Utf8Locale(const Utf8Locale&) = delete;
    Utf8Locale& operator=(const Utf8Locale&) = delete;
    ~Utf8Locale() {
        if (locale_) {
            uselocale(previous_);
            freelocale(locale_);
        }
    }

private:
    locale_t locale_;
    locale_t previous_ = locale_t(0);
};

struct Planned {
    std::string path;  // relative to the destination, "/"-separated
    bool directory = false;
    std::int64_t size = 0;
};

// One pass over the archive with the RAR readers only.
class Reader {
public:
    Reader(int fd, const QString& archivePath) : path_(archivePath) {
        if (::lseek(fd, 0, SEEK_SET) != 0)
            failErrno(errno, QStringLiteral("The archive \"%1\" cannot be read").arg(path_));
        archive_.reset(archive_read_new());
        if (!archive_) fail(ENOMEM, QStringLiteral("Out of memory"));
        archive_read_support_format_rar(archive_.get());
        archive_read_support_format_rar5(archive_.get());
        if (archive_read_open_fd(archive_.get(), fd, kReadBlock) != ARCHIVE_OK) failArchive();
    }
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;

    // The next entry, or nullptr at the end of the archive. A warning (for example a name
    // that cannot be converted) is a failure: such a name cannot be checked.
    archive_entry* next() {
        archive_entry* entry = nullptr;
        const int rc = archive_read_next_header(archive_.get(), &entry);
        if (rc == ARCHIVE_EOF) return nullptr;
        if (rc != ARCHIVE_OK) failArchive();
        return entry;
    }

    ::archive* get() { return archive_.get(); }

    [[noreturn]] void failArchive() {
        const char* reason = archive_error_string(archive_.get());
        fail(UnRar::kErrorArchive,
             QStringLiteral("The archive \"%1\" cannot be read: %2")
                 .arg(path_, reason ? QString::fromUtf8(reason) : QStringLiteral("unknown error")));
    }

private:
    QString path_;
    // Owned by a member, not freed by a destructor of ours: the constructor throws when the
    // file is not a RAR archive, and the reader must be released then too.
    struct Free {
        void operator()(::archive* a) const { archive_read_free(a); }
    };
    std::unique_ptr<::archive, Free> archive_;
};

[[noreturn]] void refuse(const QString& name, const QString& reason) {
    fail(UnRar::kErrorRefused,
         QStringLiteral("The archive entry \"%1\" was refused: %2.").arg(name, reason));
}

// What an entry asks to be written, after every check that needs only the entry itself.
Planned classify(archive_entry* entry) {
    const char* raw = archive_entry_pathname(entry);
    if (!raw) fail(UnRar::kErrorArchive, QStringLiteral("An archive entry has no readable name."));
    const QString name = QString::fromUtf8(raw);
    if (archive_entry_is_encrypted(entry)) refuse(name, QStringLiteral("it is encrypted"));
    if (archive_entry_hardlink(entry)) refuse(name, QStringLiteral("it is a hard link"));
    if (archive_entry_symlink(entry) || archive_entry_filetype(entry) == AE_IFLNK)
        refuse(name, QStringLiteral("it is a symbolic link"));

    Planned p;
    switch (archive_entry_filetype(entry)) {
        case AE_IFREG:
            break;
        case AE_IFDIR:
            p.directory = true;
            break;
        default:
            refuse(name, QStringLiteral("it is neither a file nor a folder"));
    }
    std::string why;
    std::optional<std::string> path = archive::safeEntryPath(raw, &why);
    if (!path) refuse(name, text(why));
    p.path = std::move(*path);
    if (!p.directory) {
        if (!archive_entry_size_is_set(entry) || archive_entry_size(entry) < 0)
            refuse(name, QStringLiteral("its size is unknown"));
        p.size = archive_entry_size(entry);
    }
    return p;
}

// libarchive ends a RAR 5 archive quietly at a header cut short, and either format at a cut
// between two blocks, as if the archive ended there: a truncated download would lose its last
// entries without an error. So the chain of blocks is walked once more here, by their sizes
// alone (libarchive has verified the header checksums), and must fit in the file and end with
// an end-of-archive block. RAR 4 archives written before RAR 3.0 have no such block; for them
// the chain may end exactly at the end of the file.
enum class Ending { Complete, Truncated, Unsupported };

std::uint32_t le16(const unsigned char* p) {
    return p[0] | (std::uint32_t(p[1]) << 8);
}
std::uint32_t le32(const unsigned char* p) {
    return le16(p) | (le16(p + 2) << 16);
}

Ending rar4Ending(int fd, std::int64_t fileSize) {
    std::int64_t pos = 7;  // after the marker block
    for (;;) {
        if (pos == fileSize) return Ending::Complete;
        unsigned char h[36];
        const ssize_t n = ::pread(fd, h, sizeof h, pos);
        if (n < 7) return Ending::Truncated;
        const unsigned type = h[2], flags = le16(h + 3), headerSize = le16(h + 5);
        if (headerSize < 7) return Ending::Truncated;
        std::uint64_t dataSize = 0;
        if (type == 0x74 || type == 0x7A || (flags & 0x8000)) {  // file, service, long block
            if (n < 11) return Ending::Truncated;
            dataSize = le32(h + 7);
            if ((type == 0x74 || type == 0x7A) && (flags & 0x100)) {  // 64-bit sizes
                if (n < 36) return Ending::Truncated;
                dataSize |= std::uint64_t(le32(h + 32)) << 32;
            }
        }
        if (dataSize > std::uint64_t(fileSize) ||
            pos + headerSize + std::int64_t(dataSize) > fileSize)
            return Ending::Truncated;
        if (type == 0x7B) return Ending::Complete;
        pos += headerSize + std::int64_t(dataSize);
    }
}

Ending rar5Ending(int fd, std::int64_t fileSize) {
    std::int64_t pos = 8;  // after the signature
    for (;;) {
        unsigned char h[64];
        const ssize_t n = ::pread(fd, h, sizeof h, pos);
        if (n < 0) return Ending::Truncated;
        std::size_t at = 4;  // after the header CRC
        auto vint = [&](std::uint64_t& value) {
            value = 0;
            for (int shift = 0; shift < 64; shift += 7) {
                if (at >= std::size_t(n)) return false;
                const unsigned char b = h[at++];
                value |= std::uint64_t(b & 0x7F) << shift;
                if (!(b & 0x80)) return true;
            }
            return false;
        };
        std::uint64_t headerSize = 0, type = 0, flags = 0, extraSize = 0, dataSize = 0;
        if (!vint(headerSize)) return Ending::Truncated;
        const std::size_t bodyStart = at;
        if (!vint(type) || !vint(flags)) return Ending::Truncated;
        if ((flags & 0x1) && !vint(extraSize)) return Ending::Truncated;
        if ((flags & 0x2) && !vint(dataSize)) return Ending::Truncated;
        if (at - bodyStart > headerSize || headerSize > std::uint64_t(fileSize) ||
            dataSize > std::uint64_t(fileSize))
            return Ending::Truncated;
        const std::int64_t next =
            pos + std::int64_t(bodyStart + headerSize) + std::int64_t(dataSize);
        if (next > fileSize) return Ending::Truncated;
        if (type == 5) return Ending::Complete;
        pos = next;
    }
}

Ending archiveEnding(int fd, std::int64_t fileSize) {
    unsigned char signature[8] = {};
    if (::pread(fd, signature, sizeof signature, 0) != ssize_t(sizeof signature))
        return Ending::Truncated;
    if (std::memcmp(signature, "Rar!\x1A\x07\x01\x00", 8) == 0) return rar5Ending(fd, fileSize);
    if (std::memcmp(signature, "Rar!\x1A\x07\x00", 7) == 0) return rar4Ending(fd, fileSize);
    return Ending::Unsupported;  // e.g. a self-extracting program around the archive
}

std::string parentOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}
std::string leafOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The entries of the archive, checked together: names, duplicates, count and size.
struct Plan {
    std::vector<Planned> entries;
    std::set<std::string> topLevel;
    std::int64_t totalBytes = 0;
};

Plan makePlan(Reader& reader, std::int64_t maxEntries, std::int64_t maxBytes,
              const QString& byteLimitText) {
    Plan plan;
    std::set<std::string> files, folders;
    while (archive_entry* entry = reader.next()) {
        if (std::int64_t(plan.entries.size()) >= maxEntries)
            fail(UnRar::kErrorLimit,
                 QStringLiteral("The archive holds more than %1 entries.").arg(maxEntries));
        Planned p = classify(entry);
        const QString name = text(p.path);

        // Two entries for one name would leave it to the order of the archive which one the
        // game gets; a name used both as a file and as a folder cannot be written at all.
        for (std::string parent = parentOf(p.path); !parent.empty(); parent = parentOf(parent)) {
            if (files.count(parent))
                refuse(name,
                       QStringLiteral("\"%1\" is also a file in the archive").arg(text(parent)));
            folders.insert(parent);
        }
        if (p.directory) {
            if (files.count(p.path))
                refuse(name, QStringLiteral("it is also a file in the archive"));
            folders.insert(p.path);
        } else {
            if (files.count(p.path)) refuse(name, QStringLiteral("the archive holds it twice"));
            if (folders.count(p.path))
                refuse(name, QStringLiteral("it is also a folder in the archive"));
            files.insert(p.path);
        }
        plan.topLevel.insert(p.path.substr(0, p.path.find('/')));

        if (p.size > maxBytes - plan.totalBytes)
            fail(UnRar::kErrorLimit,
                 QStringLiteral("The archive holds more data than %1.").arg(byteLimitText));
        plan.totalBytes += p.size;
        plan.entries.push_back(std::move(p));
    }
    return plan;
}

// A folder of our own inside the destination that receives the entries' data, one file per
// entry named by its number, and keeps the replaced files until the end. Removed with all it
// holds when the extraction ends, whatever the outcome.
class Staging {
public:
    Staging(int destFd, const std::set<std::string>& reserved, const QString& destination)
        : destFd_(destFd) {
        std::random_device random;
        for (int attempt = 0;; ++attempt) {
            char buf[32];
            std::snprintf(buf, sizeof buf, ".zandrel-unpack-%08x", unsigned(random()));
            name_ = buf;
            if (reserved.count(name_)) continue;
            if (::mkdirat(destFd_, name_.c_str(), 0700) == 0) break;
            if (errno != EEXIST || attempt > 100)
                failErrno(errno,
                          QStringLiteral("Cannot create a folder in \"%1\"").arg(destination));
        }
        fd_ = ::openat(destFd_, name_.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd_ < 0) {
            const int err = errno;
            ::unlinkat(destFd_, name_.c_str(), AT_REMOVEDIR);
            failErrno(err, QStringLiteral("Cannot open a folder in \"%1\"").arg(destination));
        }
    }
    Staging(const Staging&) = delete;
    Staging& operator=(const Staging&) = delete;
    ~Staging() {
        // Only regular files of our own are in here.
        if (DIR* dir = ::fdopendir(::dup(fd_))) {
            std::vector<std::string> names;
            while (dirent* d = ::readdir(dir))
                if (std::strcmp(d->d_name, ".") != 0 && std::strcmp(d->d_name, "..") != 0)
                    names.emplace_back(d->d_name);
            ::closedir(dir);
            for (const std::string& n : names) ::unlinkat(fd_, n.c_str(), 0);
        }
        ::close(fd_);
        ::unlinkat(destFd_, name_.c_str(), AT_REMOVEDIR);
    }
    int fd() const { return fd_; }

private:
    int destFd_;
    int fd_ = -1;
    std::string name_;
};

// Moves the staged files over their targets. Nothing is followed through a symbolic link: the
// folders on the way are opened one element at a time with O_NOFOLLOW. Each step is recorded
// and undone, last first, unless finish() is reached.
class Commit {
public:
    Commit(int destFd, int stagingFd, const QString& destination)
        : destFd_(destFd), stagingFd_(stagingFd), destination_(destination) {}
    Commit(const Commit&) = delete;
    Commit& operator=(const Commit&) = delete;
    ~Commit() {
        if (!finished_) rollback();
        for (auto& [path, fd] : folders_) ::close(fd);
    }

    // Everything that can be known before the first move: the destination has no folder where
    // a file goes and no file (or link) where a folder goes.
    void check(const std::vector<Planned>& entries) {
        std::map<std::string, bool> exists;  // folder path -> is there
        auto folderState = [&](const std::string& path) {
            if (path.empty()) return true;
            auto found = exists.find(path);
            if (found != exists.end()) return found->second;
            bool present = false;
            const std::string parent = parentOf(path);
            struct stat st;
            if (parent.empty() || exists[parent]) {
                if (::fstatat(destFd_, path.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
                    if (!S_ISDIR(st.st_mode))
                        fail(UnRar::kErrorRefused,
                             QStringLiteral("\"%1\" in \"%2\" is not a folder.")
                                 .arg(text(path), destination_));
                    present = true;
                } else if (errno != ENOENT) {
                    failErrno(errno, QStringLiteral("Cannot examine \"%1\" in \"%2\"")
                                         .arg(text(path), destination_));
                }
            }
            return exists[path] = present;
        };
        for (const Planned& p : entries) {
            std::vector<std::string> chain;
            for (std::string f = p.directory ? p.path : parentOf(p.path); !f.empty();
                 f = parentOf(f))
                chain.push_back(f);
            std::for_each(chain.rbegin(), chain.rend(), folderState);
            if (p.directory || !folderState(parentOf(p.path))) continue;
            struct stat st;
            if (::fstatat(destFd_, p.path.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
                if (!S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode))
                    fail(UnRar::kErrorRefused, QStringLiteral("\"%1\" in \"%2\" is not a file.")
                                                   .arg(text(p.path), destination_));
            } else if (errno != ENOENT) {
                failErrno(errno, QStringLiteral("Cannot examine \"%1\" in \"%2\"")
                                     .arg(text(p.path), destination_));
            }
        }
    }

    void place(std::size_t index, const Planned& p) {
        if (p.directory) {
            openFolder(p.path);
            return;
        }
        const int parent = openFolder(parentOf(p.path));
        const std::string leaf = leafOf(p.path);
        const std::string staged = std::to_string(index);
        const QString what =
            QStringLiteral("Cannot write \"%1\" in \"%2\"").arg(text(p.path), destination_);
        struct stat st;
        const bool replacing = ::fstatat(parent, leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
        if (!replacing && errno != ENOENT) failErrno(errno, what);
        if (replacing) {
            // Keep the replaced file for the undo: a second name for it where the file system
            // allows one, else the file itself moved aside.
            const std::string saved = "old-" + staged;
            if (::linkat(parent, leaf.c_str(), stagingFd_, saved.c_str(), 0) != 0 &&
                ::renameat(parent, leaf.c_str(), stagingFd_, saved.c_str()) != 0)
                failErrno(errno, what);
            undo_.push_back({Undo::Replaced, parent, leaf, saved});
        }
        if (::renameat(stagingFd_, staged.c_str(), parent, leaf.c_str()) != 0)
            failErrno(errno, what);
        if (!replacing) undo_.push_back({Undo::Created, parent, leaf, {}});
    }

    void finish() { finished_ = true; }

private:
    struct Undo {
        enum Kind { Created, Replaced, Folder } kind;
        int parentFd;
        std::string leaf;
        std::string saved;
    };

    int openFolder(const std::string& path) {
        if (path.empty()) return destFd_;
        if (auto found = folders_.find(path); found != folders_.end()) return found->second;
        const int parent = openFolder(parentOf(path));
        const std::string leaf = leafOf(path);
        constexpr int kFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
        int fd = ::openat(parent, leaf.c_str(), kFlags);
        if (fd < 0 && errno == ENOENT) {
            if (::mkdirat(parent, leaf.c_str(), 0755) == 0)
                undo_.push_back({Undo::Folder, parent, leaf, {}});
            else if (errno != EEXIST)
                failErrno(errno, QStringLiteral("Cannot create the folder \"%1\" in \"%2\"")
                                     .arg(text(path), destination_));
            fd = ::openat(parent, leaf.c_str(), kFlags);
        }
        if (fd < 0)
            failErrno(errno, QStringLiteral("Cannot open the folder \"%1\" in \"%2\"")
                                 .arg(text(path), destination_));
        folders_[path] = fd;
        return fd;
    }

    void rollback() {
        for (auto u = undo_.rbegin(); u != undo_.rend(); ++u) {
            switch (u->kind) {
                case Undo::Created:
                    ::unlinkat(u->parentFd, u->leaf.c_str(), 0);
                    break;
                case Undo::Replaced:
                    ::renameat(stagingFd_, u->saved.c_str(), u->parentFd, u->leaf.c_str());
                    break;
                case Undo::Folder:
                    ::unlinkat(u->parentFd, u->leaf.c_str(), AT_REMOVEDIR);
                    break;
            }
        }
    }

    int destFd_;
    int stagingFd_;
    QString destination_;
    std::map<std::string, int> folders_;
    std::vector<Undo> undo_;
    bool finished_ = false;
};

class Progress {
public:
    Progress(const std::function<void(std::int16_t)>& handler,
             const std::function<void(std::int64_t, std::int64_t)>& bytesHandler,
             std::int64_t total)
        : handler_(handler), bytesHandler_(bytesHandler), total_(total) {}

    // Up to 90 while data is written: above 90 the caller may take the extraction as done.
    void written(std::int64_t bytes) {
        if (bytesHandler_) bytesHandler_(bytes, total_);
        report(total_ > 0 ? std::int16_t(std::min<std::int64_t>(90, bytes * 100 / total_)) : 0);
    }
    void done() { report(100); }

private:
    void report(std::int16_t percent) {
        if (percent <= last_) return;
        last_ = percent;
        if (handler_) handler_(percent);
    }

    const std::function<void(std::int16_t)>& handler_;
    const std::function<void(std::int64_t, std::int64_t)>& bytesHandler_;
    std::int64_t total_;
    std::int16_t last_ = -1;
};

void writeAll(int fd, const void* data, std::size_t size, const QString& what) {
    auto p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            failErrno(errno, what);
        }
        p += n;
        size -= std::size_t(n);
    }
}

}  // namespace

void UnRar::ExtractArchive(const QString& archivePath, const QString& destinationFolder) {
    if (running_) fail(kErrorBusy, QStringLiteral("An extraction is already running."));
    running_ = true;
    struct Reset {
        bool& flag;
        ~Reset() { flag = false; }
    } reset{running_};
    Utf8Locale utf8;

    QString destination = destinationFolder;
    while (destination.size() > 1 && destination.endsWith(QLatin1Char('/'))) destination.chop(1);

    Fd archiveFd(::open(QFile::encodeName(archivePath).constData(), O_RDONLY | O_CLOEXEC));
    if (archiveFd.get() < 0)
        failErrno(errno, QStringLiteral("The archive \"%1\" cannot be opened").arg(archivePath));
    struct stat st;
    if (::fstat(archiveFd.get(), &st) != 0)
        failErrno(errno, QStringLiteral("The archive \"%1\" cannot be opened").arg(archivePath));
    if (!S_ISREG(st.st_mode))
        fail(kErrorArchive, QStringLiteral("The archive \"%1\" is not a file.").arg(archivePath));

    Fd destFd(
        ::open(QFile::encodeName(destination).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (destFd.get() < 0)
        failErrno(
            errno,
            QStringLiteral("The destination folder \"%1\" cannot be opened").arg(destination));

    // What the archive may write: no more than the destination's file system has free.
    struct statvfs fs;
    if (::fstatvfs(destFd.get(), &fs) != 0)
        failErrno(errno, QStringLiteral("Cannot examine \"%1\"").arg(destination));
    const std::int64_t freeBytes = std::int64_t(
        std::min<unsigned long long>((unsigned long long)fs.f_bavail * fs.f_frsize,
                                     (unsigned long long)std::numeric_limits<std::int64_t>::max()));
    std::int64_t maxBytes = freeBytes;
    QString limitText =
        QStringLiteral("the %1 bytes free in \"%2\"").arg(freeBytes).arg(destination);
    if (maxTotalBytes_ >= 0 && maxTotalBytes_ < freeBytes) {
        maxBytes = maxTotalBytes_;
        limitText = QStringLiteral("the limit of %1 bytes").arg(maxTotalBytes_);
    }

    // First pass: headers only, so that every name is checked and the total is known before
    // anything is written.
    Plan plan;
    {
        Reader reader(archiveFd.get(), archivePath);
        plan = makePlan(reader, maxEntries_, maxBytes, limitText);
    }
    switch (archiveEnding(archiveFd.get(), std::int64_t(st.st_size))) {
        case Ending::Complete:
            break;
        case Ending::Truncated:
            fail(kErrorArchive,
                 QStringLiteral("The archive \"%1\" is incomplete.").arg(archivePath));
        case Ending::Unsupported:
            fail(kErrorArchive,
                 QStringLiteral("The archive \"%1\" is not a plain RAR archive.").arg(archivePath));
    }

    Progress progress(ExtractProgress, ExtractBytes, plan.totalBytes);
    {
        Staging staging(destFd.get(), plan.topLevel, destination);
        progress.written(0);

        // Second pass: the data, into the staging folder.
        Reader reader(archiveFd.get(), archivePath);
        std::int64_t done = 0;
        std::size_t index = 0;
        while (archive_entry* entry = reader.next()) {
            const Planned p = classify(entry);
            if (index >= plan.entries.size() || p.path != plan.entries[index].path ||
                p.directory != plan.entries[index].directory || p.size != plan.entries[index].size)
                fail(kErrorArchive, QStringLiteral("The archive \"%1\" changed while it was read.")
                                        .arg(archivePath));
            const std::string staged = std::to_string(index++);
            if (p.directory) continue;

            const QString what =
                QStringLiteral("Cannot write \"%1\" in \"%2\"").arg(text(p.path), destination);
            Fd out(::openat(staging.fd(), staged.c_str(),
                            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
            if (out.get() < 0) failErrno(errno, what);
            std::int64_t written = 0;
            for (;;) {
                const void* block = nullptr;
                std::size_t size = 0;
                la_int64_t offset = 0;
                const int rc = archive_read_data_block(reader.get(), &block, &size, &offset);
                if (rc == ARCHIVE_EOF) break;
                if (rc != ARCHIVE_OK) reader.failArchive();
                // RAR data is contiguous; a gap or excess would be a damaged archive.
                if (offset != written || std::int64_t(size) > p.size - written)
                    fail(kErrorArchive,
                         QStringLiteral("The archive entry \"%1\" is damaged.").arg(text(p.path)));
                writeAll(out.get(), block, size, what);
                written += std::int64_t(size);
                done += std::int64_t(size);
                progress.written(done);
            }
            if (written != p.size)
                fail(kErrorArchive,
                     QStringLiteral("The archive entry \"%1\" is incomplete.").arg(text(p.path)));
            if (out.close() != 0) failErrno(errno, what);
        }
        if (index != plan.entries.size())
            fail(kErrorArchive,
                 QStringLiteral("The archive \"%1\" changed while it was read.").arg(archivePath));

        Commit commit(destFd.get(), staging.fd(), destination);
        commit.check(plan.entries);
        for (std::size_t i = 0; i < plan.entries.size(); ++i) commit.place(i, plan.entries[i]);
        commit.finish();
    }
    progress.done();
}

}  // namespace zandrel
