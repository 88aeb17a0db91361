#include "archive/header_pass.h"

#include "archive/archive_reader.h"
#include "archive/block_chain.h"
#include "archive/entry_name.h"
#include "base/error.h"
#include "base/files.h"

#include <QFile>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <limits>
#include <map>
#include <optional>
#include <set>

namespace zandrel::archive {

namespace {

std::string fold(const std::string& s) {
    return QString::fromUtf8(s.data(), qsizetype(s.size())).toCaseFolded().toStdString();
}

std::vector<std::string> split(const std::string& path) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t slash = path.find('/', start);
        parts.push_back(path.substr(start, slash - start));
        if (slash == std::string::npos) return parts;
        start = slash + 1;
    }
}

// The names already in the destination, read one folder at a time (each folder opened, read
// and closed again: no descriptor is held per folder), never through a symbolic link.
class ExistingNames {
public:
    struct Name {
        std::string name;
        enum Kind { File, Folder, Other } kind;
    };
    using Listing = std::map<std::string, std::vector<Name>>;  // folded name -> names

    explicit ExistingNames(int destFd) : destFd_(destFd) {}

    // The folder at `path` (exact spelling, "" the destination), or nullptr when not there.
    // A folder that is there but cannot be read sets `error`.
    const Listing* list(const std::string& path, std::optional<Problem>* error) {
        if (auto found = listings_.find(path); found != listings_.end()) return &found->second;
        if (destFd_ < 0) return nullptr;
        int fd = ::dup(destFd_);
        if (fd >= 0 && !path.empty()) {
            for (const std::string& part : split(path)) {
                const int next =
                    ::openat(fd, part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
                ::close(fd);
                fd = next;
                if (fd < 0) break;
            }
        }
        DIR* dir = fd >= 0 ? ::fdopendir(fd) : nullptr;
        if (!dir) {
            const int err = errno;
            if (fd >= 0) ::close(fd);
            if (err != ENOENT) {
                *error = errnoError(
                    err, QStringLiteral("Cannot read the folder \"%1\"").arg(text(path)));
            }
            return nullptr;
        }
        Listing& listing = listings_[path];
        while (dirent* d = ::readdir(dir)) {
            const std::string name = d->d_name;
            if (name == "." || name == "..") continue;
            unsigned char type = d->d_type;
            if (type == DT_UNKNOWN) {
                struct stat st;
                if (::fstatat(::dirfd(dir), d->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
                type = S_ISDIR(st.st_mode)   ? DT_DIR
                       : S_ISREG(st.st_mode) ? DT_REG
                       : S_ISLNK(st.st_mode) ? DT_LNK
                                             : DT_FIFO;
            }
            const Name::Kind kind = type == DT_DIR                       ? Name::Folder
                                    : (type == DT_REG || type == DT_LNK) ? Name::File
                                                                         : Name::Other;
            listing[fold(name)].push_back({name, kind});
        }
        ::closedir(dir);
        return &listing;
    }

private:
    int destFd_;
    std::map<std::string, Listing> listings_;
};

// Collects the problems and the plan of one archive.
class Pass {
public:
    Pass(const QString& archivePath, int destFd, const QString& destination, bool stopAtFirst)
        : archivePath_(archivePath),
          destination_(destination),
          existing_(destFd),
          stopAtFirst_(stopAtFirst) {}

    Inspection result;

    // False when the pass should end here.
    bool problem(ArchiveFailure kind, const QString& text) { return problem(failure(kind, text)); }
    bool problem(const Error& e) {
        result.problems.push_back(e);
        return !stopAtFirst_;
    }
    bool refuse(const std::string& name, const QString& reason) {
        return problem(
            ArchiveFailure::Refused,
            QStringLiteral("The archive entry \"%1\" was refused: %2.").arg(text(name), reason));
    }

    // Checks one entry and adds it to the plan. False when the pass should end.
    bool add(const EntryHeader& h) {
        switch (h.kind) {
            case EntryHeader::Hardlink:
                return refuse(h.name, QStringLiteral("it is a hard link"));
            case EntryHeader::Symlink:
                return refuse(h.name, QStringLiteral("it is a symbolic link"));
            case EntryHeader::Other:
                return refuse(h.name, QStringLiteral("it is neither a file nor a folder"));
            case EntryHeader::File:
            case EntryHeader::Folder:
                break;
        }
        if (h.encrypted) return refuse(h.name, QStringLiteral("it is encrypted"));
        std::string why;
        const std::optional<std::string> path = safeEntryPath(h.name, &why);
        if (!path) return refuse(h.name, text(why));
        if (path->rfind(kOwnPrefix, 0) == 0)
            return refuse(h.name, QStringLiteral("the name is one Zandrel keeps for itself"));
        PlannedEntry p;
        p.name = h.name;
        p.folder = h.kind == EntryHeader::Folder;
        if (!p.folder) {
            if (h.size < 0) return refuse(h.name, QStringLiteral("its size is unknown"));
            p.size = h.size;
        }

        // Names are compared as the game sees them: letter case does not count. Two entries
        // for one name would leave it to the order of the archive which one the game gets; a
        // name used both as a file and as a folder cannot be written at all.
        const std::vector<std::string> parts = split(*path);
        std::string folded, actual;
        for (std::size_t i = 0; i < parts.size(); ++i) {
            const bool last = i + 1 == parts.size();
            const bool wantFolder = !last || p.folder;
            const std::string parentActual = actual;
            folded += (i ? "/" : "") + fold(parts[i]);
            std::string spelling = parts[i];
            if (auto f = files_.find(folded); f != files_.end()) {
                if (wantFolder)
                    return refuse(h.name, QStringLiteral("\"%1\" is also a file in the archive")
                                              .arg(text(f->second)));
                return refuse(h.name, QStringLiteral("the archive holds it twice"));
            }
            if (auto f = folders_.find(folded); f != folders_.end()) {
                if (!wantFolder)
                    return refuse(h.name, QStringLiteral("it is also a folder in the archive"));
                actual = f->second;  // settled by an earlier entry
                continue;
            }
            if (const auto clash = matchExisting(parentActual, wantFolder, spelling, p.replaces))
                return clash->is(ArchiveFailure::Refused) ? refuse(h.name, clash->description())
                                                          : problem(*clash);
            if (wantFolder && !existingFolder_) newFolders_.insert(join(parentActual, spelling));
            actual = join(parentActual, spelling);
            if (wantFolder)
                folders_[folded] = actual;
            else
                files_[folded] = actual;
        }
        p.path = actual;

        if (std::int64_t(result.entries.size()) >= maxEntries_) {
            problem(ArchiveFailure::Limit,
                    QStringLiteral("The archive holds more than %1 entries.").arg(maxEntries_));
            return false;
        }
        if (p.size > maxBytes_ - result.totalBytes) {
            problem(ArchiveFailure::Limit,
                    QStringLiteral("The archive holds more data than %1.").arg(limitText_));
            return false;
        }
        result.totalBytes += p.size;
        result.entries.push_back(std::move(p));
        return true;
    }

    void setLimits(std::int64_t maxEntries, std::int64_t maxBytes, const QString& limitText) {
        maxEntries_ = maxEntries;
        maxBytes_ = maxBytes;
        limitText_ = limitText;
    }

private:
    static std::string join(const std::string& folder, const std::string& name) {
        return folder.empty() ? name : folder + "/" + name;
    }

    // Looks `name` up in the destination's folder `parent` (spelled as on disk), letter case
    // not counting: an existing name gives `name` its spelling. A name of the wrong kind (a
    // file where a folder goes, a folder or a special file where a file goes) is a problem;
    // so is a folder holding several names that match but none exactly. Sets `replaces` for an
    // existing file, existingFolder_ for an existing folder.
    std::optional<Problem> matchExisting(const std::string& parent, bool wantFolder,
                                         std::string& name, bool& replaces) {
        existingFolder_ = false;
        // A folder that this archive creates has nothing in it yet.
        if (!parent.empty() && newFolders_.count(parent)) return std::nullopt;
        std::optional<Problem> error;
        const ExistingNames::Listing* listing = existing_.list(parent, &error);
        if (error) return error;
        if (!listing) return std::nullopt;
        const auto found = listing->find(fold(name));
        if (found == listing->end()) return std::nullopt;
        const std::vector<ExistingNames::Name>& names = found->second;
        const auto exact =
            std::find_if(names.begin(), names.end(), [&](const auto& n) { return n.name == name; });
        if (exact == names.end() && names.size() > 1)
            return failure(ArchiveFailure::Refused,
                           QStringLiteral("\"%1\" holds several names that differ from it only "
                                          "in letter case")
                               .arg(where(parent)));
        const ExistingNames::Name& there = exact != names.end() ? *exact : names.front();
        name = there.name;
        const QString shown = text(join(parent, name));
        if (wantFolder && there.kind != ExistingNames::Name::Folder)
            return failure(
                ArchiveFailure::Refused,
                QStringLiteral("\"%1\" in \"%2\" is not a folder").arg(shown, destination_));
        if (!wantFolder && there.kind != ExistingNames::Name::File)
            return failure(
                ArchiveFailure::Refused,
                QStringLiteral("\"%1\" in \"%2\" is not a file").arg(shown, destination_));
        if (wantFolder)
            existingFolder_ = true;
        else
            replaces = true;
        return std::nullopt;
    }

    QString where(const std::string& folder) const {
        return folder.empty() ? destination_ : destination_ + QLatin1Char('/') + text(folder);
    }

    QString archivePath_;
    QString destination_;
    ExistingNames existing_;
    bool stopAtFirst_;
    std::map<std::string, std::string> files_, folders_;  // folded path -> path as written
    std::set<std::string> newFolders_;                    // folders the archive creates
    bool existingFolder_ = false;                         // set by matchExisting
    std::int64_t maxEntries_ = 0;
    std::int64_t maxBytes_ = 0;
    QString limitText_;
};

}  // namespace

int openArchive(const QString& archivePath, std::int64_t* size) {
    struct stat st {};
    try {
        files::Fd fd = files::openRegular(QFile::encodeName(archivePath).toStdString(), st);
        *size = st.st_size;
        return fd.release();
    } catch (const files::FileError& e) {
        // Anything but a regular file (a FIFO, a device, a folder, a link) is no archive.
        const bool notAFile = e.code() == EINVAL || e.code() == EISDIR || e.code() == ELOOP;
        if (notAFile)
            fail(ArchiveFailure::NotAnArchive,
                 QStringLiteral("The archive \"%1\" is not a file.").arg(archivePath));
        failErrno(e.code(), QStringLiteral("The archive \"%1\" cannot be opened").arg(archivePath));
    }
}

Inspection inspectOpen(int archiveFd, std::int64_t archiveSize, const QString& archivePath,
                       int destFd, const QString& destination, const Limits& limits,
                       bool stopAtFirst, const std::function<bool()>& cancelled) {
    Pass pass(archivePath, destFd, destination, stopAtFirst);

    // What the archive may write: no more than the destination's file system has free.
    std::int64_t maxBytes = std::numeric_limits<std::int64_t>::max();
    QString limitText = QStringLiteral("can be written");
    struct statvfs fs;
    if (destFd >= 0) {
        if (::fstatvfs(destFd, &fs) != 0) {
            const Error e =
                errnoError(errno, QStringLiteral("Cannot examine \"%1\"").arg(destination));
            pass.problem(e);
            return std::move(pass.result);
        }
        maxBytes = std::int64_t(std::min<unsigned long long>(
            static_cast<unsigned long long>(fs.f_bavail) * fs.f_frsize,
            static_cast<unsigned long long>(std::numeric_limits<std::int64_t>::max())));
        limitText = QStringLiteral("the %1 bytes free in \"%2\"").arg(maxBytes).arg(destination);
    }
    if (limits.maxTotalBytes >= 0 && limits.maxTotalBytes < maxBytes) {
        maxBytes = limits.maxTotalBytes;
        limitText = QStringLiteral("the limit of %1 bytes").arg(limits.maxTotalBytes);
    }
    pass.setLimits(limits.maxEntries, maxBytes, limitText);

    // The block chain first: an encrypted or cut archive is named as such, whatever libarchive
    // would make of it.
    const ChainResult chain = walkBlockChain(archiveFd, archiveSize);
    bool readEntries = true;
    switch (chain.verdict) {
        case Verdict::Complete:
            break;
        case Verdict::Encrypted:
            readEntries = pass.problem(ArchiveFailure::Refused,
                                       QStringLiteral("The archive \"%1\" was refused: %2.")
                                           .arg(archivePath, QString::fromStdString(chain.detail)));
            break;
        case Verdict::Truncated:
        case Verdict::Split:
            readEntries = pass.problem(ArchiveFailure::NotAnArchive,
                                       QStringLiteral("The archive \"%1\" is incomplete: %2.")
                                           .arg(archivePath, QString::fromStdString(chain.detail)));
            break;
        case Verdict::NotRar:
        case Verdict::Damaged:
            readEntries =
                pass.problem(ArchiveFailure::NotAnArchive,
                             QStringLiteral("The archive \"%1\" is not a plain RAR archive: %2.")
                                 .arg(archivePath, QString::fromStdString(chain.detail)));
            break;
    }
    if (!readEntries) return std::move(pass.result);

    try {
        ArchiveReader reader(archiveFd, archivePath);
        EntryHeader header;
        while (reader.next(header)) {
            if (cancelled && cancelled()) fail(ArchiveFailure::Cancelled, cancelledText());
            if (!pass.add(header)) break;
        }
    } catch (const Error& e) {
        pass.problem(e);
    }
    return std::move(pass.result);
}

Inspection InspectArchive(const QString& archivePath, const QString& destinationFolder,
                          const Limits& limits) {
    QString destination = destinationFolder;
    while (destination.size() > 1 && destination.endsWith(QLatin1Char('/'))) destination.chop(1);
    std::int64_t size = 0;
    int archiveFd = -1;
    try {
        archiveFd = openArchive(archivePath, &size);
    } catch (const Error& e) {
        Inspection failed;
        failed.problems.push_back(e);
        return failed;
    }
    const int destFd =
        ::open(QFile::encodeName(destination).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    Inspection result =
        inspectOpen(archiveFd, size, archivePath, destFd, destination, limits, false);
    if (destFd >= 0) ::close(destFd);
    ::close(archiveFd);
    return result;
}

}  // namespace zandrel::archive
