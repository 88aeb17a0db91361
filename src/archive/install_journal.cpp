#include "archive/install_journal.h"

#include "archive/archive_reader.h"
#include "archive/entry_name.h"
#include "base/files.h"

#include <QFile>

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>

namespace zandrel::archive {

namespace {

constexpr std::string_view kHeader = "zandrel-journal 1";
constexpr std::string_view kEnd = "end";
constexpr char kJournalTemp[] = "journal.new";
constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
constexpr std::string_view kRecoverPrefix = ".zandrel-recover-";

bool plainNumber(std::string_view s) {
    if (s.empty() || s.size() > 20) return false;
    for (char c : s)
        if (c < '0' || c > '9') return false;
    return true;
}

// A path below the destination that recovery may move a file to: the form StagedInstall
// writes, and never one of our own staging folders or temporary files.
bool acceptablePath(std::string_view path, std::string* why) {
    auto refuse = [why](const char* reason) {
        if (why) *why = reason;
        return false;
    };
    if (path.empty() || path.size() > kMaxPathBytes) return refuse("a path of a wrong length");
    // StagedInstall writes names as UTF-8; any other byte sequence names no file it staged.
    const QByteArrayView bytes(path.data(), qsizetype(path.size()));
    if (QString::fromUtf8(bytes).toUtf8() != bytes) return refuse("a path that is not UTF-8");
    std::size_t depth = 0;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t slash = path.find('/', start);
        if (slash == std::string_view::npos) slash = path.size();
        const std::string_view part = path.substr(start, slash - start);
        if (part.empty() || part == "." || part == "..") return refuse("a path element . or ..");
        if (part.size() > kMaxElementBytes) return refuse("a path element too long");
        // Every name of ours starts so (staging, unpacking, temporary and set-aside folders).
        if (part.starts_with(".zandrel-")) return refuse("a path into a folder of ours");
        for (unsigned char c : part)
            if (c < 0x20 || c == 0x7f) return refuse("a control character in a path");
        if (++depth > kMaxDepth + 1) return refuse("a path too deep");
        start = slash + 1;
    }
    return true;
}

std::optional<JournalEntry> parseLine(std::string_view line, std::string* why) {
    JournalEntry e;
    if (line.starts_with("D ")) {
        e.folder = true;
        e.path = std::string(line.substr(2));
    } else if (line.starts_with("F ")) {
        line.remove_prefix(2);
        const auto first = line.find(' ');
        const auto second = first == std::string_view::npos ? first : line.find(' ', first + 1);
        if (second == std::string_view::npos) {
            if (why) *why = "a file line without its fields";
            return std::nullopt;
        }
        const std::string_view staged = line.substr(0, first);
        const std::string_view inode = line.substr(first + 1, second - first - 1);
        const auto [end, ec] = std::from_chars(inode.data(), inode.data() + inode.size(), e.inode);
        if (!plainNumber(staged) || !plainNumber(inode) || ec != std::errc() ||
            end != inode.data() + inode.size()) {
            if (why) *why = "a staged name or inode that is not a number";
            return std::nullopt;
        }
        e.staged = std::string(staged);
        e.path = std::string(line.substr(second + 1));
    } else {
        if (why) *why = "a line of an unknown kind";
        return std::nullopt;
    }
    if (!acceptablePath(e.path, why)) return std::nullopt;
    return e;
}

// Opens `path` below `root` one element at a time, never through a link, making missing
// folders. -1 with errno set on failure.
int openBelow(int root, const std::string& path) {
    int fd = ::dup(root);
    std::size_t start = 0;
    while (fd >= 0 && !path.empty() && start <= path.size()) {
        std::size_t slash = path.find('/', start);
        if (slash == std::string::npos) slash = path.size();
        const std::string part = path.substr(start, slash - start);
        int next = ::openat(fd, part.c_str(), kFolderFlags);
        if (next < 0 && errno == ENOENT &&
            (::mkdirat(fd, part.c_str(), 0755) == 0 || errno == EEXIST))
            next = ::openat(fd, part.c_str(), kFolderFlags);
        const int err = errno;
        ::close(fd);
        errno = err;
        fd = next;
        start = slash + 1;
    }
    return fd;
}

std::string makeFolder(int destFd, const std::string& path) {
    files::Fd made(openBelow(destFd, path));
    return made.get() < 0 ? files::describe(errno) : std::string();
}

bool isStagedFile(const struct stat& st, const struct stat& staging, std::uint64_t inode) {
    return S_ISREG(st.st_mode) && st.st_dev == staging.st_dev && st.st_ino == inode;
}

// Makes one file's move, unless it was made already. Empty on success, else the reason.
std::string rollForward(int destFd, int stagingFd, const struct stat& staging,
                        const JournalEntry& e) {
    files::Fd parent(openBelow(destFd, parentOf(e.path)));
    if (parent.get() < 0) return files::describe(errno);
    const std::string leaf = leafOf(e.path);
    struct stat target {};
    const bool present = ::fstatat(parent.get(), leaf.c_str(), &target, AT_SYMLINK_NOFOLLOW) == 0;
    if (present && isStagedFile(target, staging, e.inode)) return {};  // moved already
    struct stat st {};
    if (::fstatat(stagingFd, e.staged.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
        !isStagedFile(st, staging, e.inode))
        return "the new file is missing";
    // Only a file or a link is ever replaced: a folder in its place stays as it is.
    if (present && S_ISDIR(target.st_mode)) return "a folder is in the way";
    const unsigned flags = present ? RENAME_EXCHANGE : RENAME_NOREPLACE;
    if (::renameat2(stagingFd, e.staged.c_str(), parent.get(), leaf.c_str(), flags) == 0) return {};
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) return files::describe(errno);
    // A file system without these renames: the replaced file goes aside first.
    const std::string aside = "old-" + e.staged;
    if (present && ::renameat(parent.get(), leaf.c_str(), stagingFd, aside.c_str()) != 0)
        return files::describe(errno);
    if (::renameat(stagingFd, e.staged.c_str(), parent.get(), leaf.c_str()) != 0)
        return files::describe(errno);
    return {};
}

// The journal of one staging folder, when it has one of ours; empty with no problem when it has
// none.
std::optional<std::vector<JournalEntry>> readJournal(int stagingFd, std::string& problem) {
    struct stat st {};
    files::Fd fd(::openat(stagingFd, kJournalName, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (fd.get() < 0) {
        if (errno != ENOENT) problem = files::describe(errno);
        return std::nullopt;
    }
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) ||
        std::uint64_t(st.st_size) > kMaxJournalBytes) {
        problem = "the journal is not one of ours";
        return std::nullopt;
    }
    std::string text(std::size_t(st.st_size), '\0');
    try {
        if (files::readAt(fd.get(), text.data(), text.size(), 0, kJournalName) != text.size()) {
            problem = "the journal changed while it was read";
            return std::nullopt;
        }
    } catch (const files::FileError& e) {
        problem = e.what();
        return std::nullopt;
    }
    std::string why;
    auto entries = parseJournal(text, &why);
    if (!entries) problem = "the journal is damaged: " + why;
    return entries;
}

// Finishes the commit recorded in one staging folder: true when there was one and it is done.
// A folder without a journal is left to the sweep; a problem is named in `problem`.
bool recoverFolder(int destFd, const std::string& folderPath, int stagingFd, std::string& problem) {
    const auto entries = readJournal(stagingFd, problem);
    if (!entries) return false;
    struct stat staging {};
    if (::fstat(stagingFd, &staging) != 0) {
        problem = files::describe(errno);
        return false;
    }
    for (const JournalEntry& e : *entries) {
        const std::string failed =
            e.folder ? makeFolder(destFd, e.path) : rollForward(destFd, stagingFd, staging, e);
        if (!failed.empty()) {
            problem = e.path + ": " + failed;
            return false;
        }
    }
    // Every file is in place: the staging folder holds only the replaced files.
    ::unlinkat(stagingFd, kJournalName, 0);
    files::removeTree(folderPath);
    return true;
}

// A staging folder whose journal could not be followed keeps it and every file in it: renamed
// out of the sweep's way (still hidden from the listings), and tried again at the next start.
void setAside(int destFd, const std::string& name) {
    if (name.starts_with(kRecoverPrefix)) return;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string aside = std::string(kRecoverPrefix) + std::to_string(::getpid()) + "-" +
                                  std::to_string(attempt);
        if (::renameat2(destFd, name.c_str(), destFd, aside.c_str(), RENAME_NOREPLACE) == 0 ||
            errno != EEXIST)
            return;
    }
}

}  // namespace

std::string formatJournal(const std::vector<JournalEntry>& entries) {
    std::string out(kHeader);
    out += '\n';
    for (const JournalEntry& e : entries) {
        if (e.folder)
            out += "D " + e.path + '\n';
        else
            out += "F " + e.staged + ' ' + std::to_string(e.inode) + ' ' + e.path + '\n';
    }
    out += kEnd;
    out += '\n';
    return out;
}

std::optional<std::vector<JournalEntry>> parseJournal(std::string_view text, std::string* why) {
    auto refuse = [why](const char* reason) {
        if (why) *why = reason;
        return std::nullopt;
    };
    if (text.size() > kMaxJournalBytes) return refuse("too large");
    if (!text.starts_with(kHeader) || text.size() == kHeader.size() || text[kHeader.size()] != '\n')
        return refuse("no journal header");
    text.remove_prefix(kHeader.size() + 1);
    std::vector<JournalEntry> entries;
    while (!text.empty()) {
        const auto nl = text.find('\n');
        if (nl == std::string_view::npos) break;
        const std::string_view line = text.substr(0, nl);
        text.remove_prefix(nl + 1);
        if (line == kEnd) {
            if (!text.empty()) return refuse("lines after the end");
            return entries;
        }
        auto e = parseLine(line, why);
        if (!e) return std::nullopt;
        entries.push_back(std::move(*e));
    }
    return refuse("no end line");
}

void writeJournal(int stagingFd, const std::vector<JournalEntry>& entries, const QString& what) {
    const std::string text = formatJournal(entries);
    files::Fd fd(::openat(stagingFd, kJournalTemp,
                          O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (fd.get() < 0) failErrno(errno, what);
    try {
        files::writeAll(fd.get(), text.data(), text.size(), kJournalTemp);
    } catch (const files::FileError& e) {
        failErrno(e.code(), what);
    }
    if (::fsync(fd.get()) != 0) failErrno(errno, what);
    if (::close(fd.release()) != 0) failErrno(errno, what);
    if (::renameat(stagingFd, kJournalTemp, stagingFd, kJournalName) != 0) failErrno(errno, what);
    if (::fsync(stagingFd) != 0) failErrno(errno, what);
}

Recovery recoverInstalls(const QString& destination) {
    Recovery result;
    const std::string dest = QFile::encodeName(destination).toStdString();
    files::Fd destFd(::open(dest.c_str(), kFolderFlags));
    if (destFd.get() < 0) return result;  // no map folder yet: nothing was ever unpacked
    std::vector<std::string> names;
    if (DIR* dir = ::fdopendir(::dup(destFd.get()))) {
        while (const dirent* d = ::readdir(dir))
            if (files::isOurs(d->d_name) || std::string_view(d->d_name).starts_with(kRecoverPrefix))
                names.emplace_back(d->d_name);
        ::closedir(dir);
    }
    for (const std::string& name : names) {
        files::Fd staging(::openat(destFd.get(), name.c_str(), kFolderFlags));
        // Locked: the folder of a running extraction, which finishes or undoes it itself.
        if (staging.get() < 0 || ::flock(staging.get(), LOCK_EX | LOCK_NB) != 0) continue;
        std::string problem;
        if (recoverFolder(destFd.get(), dest + "/" + name, staging.get(), problem)) {
            ++result.finished;
        } else if (!problem.empty()) {
            result.problems << QStringLiteral("%1: %2").arg(text(name), text(problem));
            setAside(destFd.get(), name);
        }
    }
    files::sweep(dest);
    return result;
}

}  // namespace zandrel::archive
