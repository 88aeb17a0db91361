#include "archive/staged_install.h"

#include "archive/archive_reader.h"
#include "archive/entry_name.h"
#include "archive/install_journal.h"
#include "base/files.h"

#include <QFile>

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace zandrel::archive {

namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

bool unsupported(int err) {
    return err == EINVAL || err == ENOSYS || err == EOPNOTSUPP;
}

}  // namespace

StagedInstall::StagedInstall(int destFd, const QString& destination)
    : destFd_(destFd), destination_(destination) {
    // A commit an earlier process left half made is finished before the sweep below could
    // take its staging folder (and with it the replaced files) away.
    recoverInstalls(destination);
    try {
        staging_ =
            std::make_unique<files::StagingFolder>(QFile::encodeName(destination).toStdString());
    } catch (const files::FileError& e) {
        failErrno(e.code(), QStringLiteral("Cannot create a folder in \"%1\"").arg(destination));
    }
    stagingFd_ = staging_->fd();
}

StagedInstall::~StagedInstall() {
    if (!committed_) rollback();
    closeFolders();
    // staging_, if still ours, is removed with what it holds.
}

int StagedInstall::createStaged(std::size_t index, const QString& what) {
    const int fd = ::openat(stagingFd_, std::to_string(index).c_str(),
                            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) failErrno(errno, what);
    return fd;
}

// One element of a folder path, opened below `parent`; with `create`, made first when missing
// (and recorded for the undo). -1 on failure, with the reason in `err`: when the folder could
// not be made (a full disk, a folder we may not write in), the reason mkdirat gave, not the
// ENOENT of the open before it.
int StagedInstall::openElement(int parent, const std::string& part, const std::string& sofar,
                               bool create, int& err, bool& making) {
    making = false;
    int fd = ::openat(parent, part.c_str(), kFolderFlags);
    err = fd < 0 ? errno : 0;
    if (fd >= 0 || err != ENOENT || !create) return fd;
    making = true;
    if (::mkdirat(parent, part.c_str(), 0755) == 0) {
        undo_.push_back({Undo::Folder, parentOf(sofar), part, {}});
    } else if (errno != EEXIST) {  // EEXIST: made meanwhile, and opened below
        err = errno;
        return -1;
    }
    fd = ::openat(parent, part.c_str(), kFolderFlags);
    err = fd < 0 ? errno : 0;
    return fd;
}

// Opens the folder at `path` one element at a time, never through a link; with `create`,
// missing folders are made. Only the last few folders opened stay open: no descriptor is held
// per folder.
int StagedInstall::openFolder(const std::string& path, bool create) {
    if (create) {
        for (std::size_t i = 0; i < open_.size(); ++i) {
            if (open_[i].first != path) continue;
            std::rotate(open_.begin(), open_.begin() + std::ptrdiff_t(i),
                        open_.begin() + std::ptrdiff_t(i) + 1);
            return open_.front().second;
        }
    }
    int fd = ::dup(destFd_);
    int err = fd < 0 ? errno : 0;
    bool making = false;
    std::string sofar;
    std::size_t start = 0;
    while (fd >= 0 && !path.empty() && start <= path.size()) {
        std::size_t slash = path.find('/', start);
        if (slash == std::string::npos) slash = path.size();
        const std::string part = path.substr(start, slash - start);
        sofar = sofar.empty() ? part : sofar + "/" + part;
        const int next = openElement(fd, part, sofar, create, err, making);
        ::close(fd);
        fd = next;
        start = slash + 1;
    }
    if (fd < 0) {
        if (!create) return -1;
        const QString what = making ? QStringLiteral("Cannot create the folder \"%1\" in \"%2\"")
                                    : QStringLiteral("Cannot open the folder \"%1\" in \"%2\"");
        failErrno(err, what.arg(text(sofar), destination_));
    }
    if (create) {
        if (open_.size() == kOpenFolders) {
            ::close(open_.back().second);
            open_.pop_back();
        }
        open_.insert(open_.begin(), {path, fd});
    }
    return fd;
}

void StagedInstall::place(const PlannedEntry& e, const std::string& staged) {
    const std::string folder = parentOf(e.path);
    const std::string leaf = leafOf(e.path);
    const int parent = openFolder(folder, true);
    const QString what =
        QStringLiteral("Cannot write \"%1\" in \"%2\"").arg(text(e.path), destination_);
    // One rename either way: a replaced file is swapped into the staging folder, a new name
    // is taken only if it is still free. The plan may be stale (the folder changed since the
    // header pass): then the other kind of move is tried.
    for (int attempt = 0; attempt < 2; ++attempt) {
        const bool exchange = e.replaces != (attempt == 1);
        const unsigned flags = exchange ? RENAME_EXCHANGE : RENAME_NOREPLACE;
        if (::renameat2(stagingFd_, staged.c_str(), parent, leaf.c_str(), flags) == 0) {
            undo_.push_back({exchange ? Undo::Exchanged : Undo::Created, folder, leaf, staged});
            return;
        }
        const int err = errno;
        if (unsupported(err)) break;
        if (err != (exchange ? ENOENT : EEXIST)) failErrno(err, what);
    }
    // A file system without these renames: the replaced file is moved aside first.
    const std::string aside = "old-" + staged;
    const bool replacing = ::renameat(parent, leaf.c_str(), stagingFd_, aside.c_str()) == 0;
    if (!replacing && errno != ENOENT) failErrno(errno, what);
    if (replacing) undo_.push_back({Undo::MovedAside, folder, leaf, aside});
    if (::renameat(stagingFd_, staged.c_str(), parent, leaf.c_str()) != 0) failErrno(errno, what);
    if (!replacing) undo_.push_back({Undo::Created, folder, leaf, staged});
}

// The journal of the moves commit() is about to make, on disk before the first of them.
void StagedInstall::journal(const std::vector<PlannedEntry>& entries) {
    const QString what = QStringLiteral("Cannot write in \"%1\"").arg(destination_);
    std::vector<JournalEntry> moves;
    moves.reserve(entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        JournalEntry j{entries[i].folder, {}, 0, entries[i].path};
        if (!j.folder) {
            j.staged = std::to_string(i);
            struct stat st {};
            if (::fstatat(stagingFd_, j.staged.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
                failErrno(errno, what);
            j.inode = st.st_ino;
        }
        moves.push_back(std::move(j));
    }
    writeJournal(stagingFd_, moves, what);
    journalled_ = true;
}

void StagedInstall::commit(const std::vector<PlannedEntry>& entries) {
    journal(entries);
    std::size_t move = 0;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (beforeMove) beforeMove(move++);
        if (entries[i].folder)
            openFolder(entries[i].path, true);
        else
            place(entries[i], std::to_string(i));
    }
    if (beforeMove) beforeMove(move);
    ::unlinkat(stagingFd_, kJournalName, 0);
    journalled_ = false;
    committed_ = true;
}

std::unique_ptr<files::StagingFolder> StagedInstall::release() {
    return std::move(staging_);
}

void StagedInstall::closeFolders() {
    for (const auto& [path, fd] : open_) ::close(fd);
    open_.clear();
}

void StagedInstall::rollback() {
    closeFolders();
    for (auto u = undo_.rbegin(); u != undo_.rend(); ++u) {
        const int parent = openFolder(u->folder, false);
        if (parent < 0) continue;
        switch (u->kind) {
            case Undo::Created:
                ::unlinkat(parent, u->leaf.c_str(), 0);
                break;
            case Undo::Exchanged:
                ::renameat2(stagingFd_, u->staged.c_str(), parent, u->leaf.c_str(),
                            RENAME_EXCHANGE);
                break;
            case Undo::MovedAside:
                ::renameat(stagingFd_, u->staged.c_str(), parent, u->leaf.c_str());
                break;
            case Undo::Folder:
                ::unlinkat(parent, u->leaf.c_str(), AT_REMOVEDIR);
                break;
        }
        ::close(parent);
    }
    undo_.clear();
    if (journalled_) ::unlinkat(stagingFd_, kJournalName, 0);
}

}  // namespace zandrel::archive
