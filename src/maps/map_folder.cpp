#include "maps/map_folder.h"

#include "base/error.h"
#include "base/files.h"
#include "base/platform.h"
#include "base/sha256.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zandrel::maps {

namespace {

const QString kSource = QStringLiteral("Maps");

// "*" any run of characters, "?" any one character; letter case does not count.
bool wildcardMatch(QStringView pattern, QStringView name) {
    qsizetype p = 0, n = 0, star = -1, resume = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == QLatin1Char('*')) {
            star = p++;
            resume = n;
        } else if (p < pattern.size() && (pattern[p] == QLatin1Char('?') ||
                                          pattern[p].toCaseFolded() == name[n].toCaseFolded())) {
            ++p;
            ++n;
        } else if (star >= 0) {
            p = star + 1;
            n = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == QLatin1Char('*')) ++p;
    return p == pattern.size();
}

bool matchesAny(const QStringList& patterns, const QString& name) {
    for (const QString& p : patterns) {
        // "*.*" is "every file" to a Windows user, also for names without a dot.
        if (p == QLatin1String("*.*") || wildcardMatch(p, name)) return true;
    }
    return false;
}

QStringList splitPatterns(const QString& pattern) {
    QStringList patterns;
    for (const QString& p : pattern.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        patterns << p.trimmed();
    }
    return patterns;
}

// A folder entry that may be listed: a regular file (a link is never listed, whatever it points
// to), not hidden, not ours, whose name survives the trip to text and back (else it could not be
// opened again) and can be acted on.
bool listable(DIR* dir, const char* raw, QString& name) {
    if (raw[0] == '.' || files::isOurs(raw)) return false;
    struct stat st;
    if (fstatat(dirfd(dir), raw, &st, AT_SYMLINK_NOFOLLOW) != 0) return false;  // gone meanwhile
    if (!S_ISREG(st.st_mode)) return false;
    name = QFile::decodeName(raw);
    return QFile::encodeName(name) == QByteArray(raw) && canActOn(name);
}

Error osError(int err, const QString& path) {
    return Error::fromErrno(err, kSource, path);
}

// Only regular files are copied or deleted: never a folder, a link or a device.
Error notRegular(const struct stat& st, const QString& path) {
    if (S_ISDIR(st.st_mode)) return osError(EISDIR, path);
    return Error(ErrorNumber::BadFileName, QStringLiteral("Not a regular file: ") + path, kSource);
}

// Windows refuses to overwrite or delete a read-only file; Linux would let the folder decide.
// A file without any write permission counts as read-only even for a user (root) whom the
// permission bits do not stop.
bool readOnly(const QByteArray& path, const struct stat& st) {
    return (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 || access(path.constData(), W_OK) != 0;
}

// The name comes from a listing, so it is one that can be acted on already; refuse anything
// that could lead out of the folder all the same.
void checkName(const QString& name) {
    if (!canActOn(name)) {
        throw Error(ErrorNumber::BadFileName, QStringLiteral("Bad file name or number: ") + name,
                    kSource);
    }
}

// The status of a file that must be a regular file.
struct stat regularFile(const QByteArray& raw, const QString& path) {
    struct stat st;
    if (lstat(raw.constData(), &st) != 0) throw osError(errno, path);
    if (!S_ISREG(st.st_mode)) throw notRegular(st, path);
    return st;
}

// A destination that a copy may replace: absent, or a regular file that is not read-only.
void checkReplaceable(const QByteArray& raw, const QString& path) {
    struct stat st;
    if (lstat(raw.constData(), &st) != 0) {
        if (errno != ENOENT) throw osError(errno, path);
        return;
    }
    if (!S_ISREG(st.st_mode)) throw notRegular(st, path);
    if (readOnly(raw, st)) throw osError(EACCES, path);
}

// The file layer's message names the file and what failed; its number is the errno behind it.
Error fileError(const files::FileError& e) {
    return Error::fromErrno(e.code(), kSource, QString::fromLocal8Bit(e.what()));
}

}  // namespace

QString mapFolder(const QString& appFolder) {
    return appFolder + platform::kSep + QStringLiteral("maps") + platform::kSep;
}

QString backupFolder(const QString& appFolder) {
    return appFolder + platform::kSep + QStringLiteral("backup") + platform::kSep;
}

bool canActOn(const QString& name) {
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..") &&
           !name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\')) &&
           !name.contains(QChar(0));
}

QStringList listFiles(const QString& folder, const QString& pattern) {
    const QStringList patterns = splitPatterns(pattern);
    DIR* dir = opendir(QFile::encodeName(folder).constData());
    if (!dir) throw osError(errno, folder);
    struct Closer {
        DIR* d;
        ~Closer() { closedir(d); }
    } closer{dir};

    QStringList names;
    errno = 0;
    while (const dirent* entry = readdir(dir)) {
        QString name;
        if (listable(dir, entry->d_name, name) && matchesAny(patterns, name)) names << name;
        errno = 0;
    }
    if (errno != 0) throw osError(errno, folder);

    std::sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
        const int c = a.compare(b, Qt::CaseInsensitive);
        return c != 0 ? c < 0 : a < b;
    });
    return names;
}

void copyMapFile(const QString& fromFolder, const QString& toFolder, const QString& name) {
    checkName(name);
    const QString from = fromFolder + name;
    const QString to = toFolder + name;
    const QByteArray src = QFile::encodeName(from);
    const QByteArray dst = QFile::encodeName(to);
    regularFile(src, from);
    checkReplaceable(dst, to);
    // The copy replaces the player's only other copy of the map: it is synced, it keeps holes,
    // and a map that changes while it is copied (the game writing it) fails the copy and keeps
    // the old one. The file layer opens the source again without following links.
    try {
        files::copyFile(src.toStdString(), dst.toStdString(), files::Sync::Yes);
    } catch (const files::FileError& e) {
        throw fileError(e);
    }
}

void deleteMapFile(const QString& folder, const QString& name) {
    checkName(name);
    const QString path = folder + name;
    const QByteArray raw = QFile::encodeName(path);
    const struct stat st = regularFile(raw, path);
    if (readOnly(raw, st)) throw osError(EACCES, path);
    if (::unlink(raw.constData()) != 0) throw osError(errno, path);
    // The folder was written: leftovers of a killed copy go too.
    files::sweep(QFile::encodeName(folder).toStdString());
}

namespace {

// Whether `folder` holds `name` in any letter case, as anything: the game sees one name.
bool holdsName(const QString& folder, const QString& name) {
    DIR* dir = opendir(QFile::encodeName(folder).constData());
    if (!dir) throw osError(errno, folder);
    bool found = false;
    while (const dirent* entry = readdir(dir)) {
        if (QFile::decodeName(entry->d_name).compare(name, Qt::CaseInsensitive) == 0) found = true;
    }
    closedir(dir);
    return found;
}

}  // namespace

bool keepOriginal(const QString& appFolder, const QString& name) {
    checkName(name);
    if (!wildcardMatch(kMapPattern, name)) return false;
    const QString maps = mapFolder(appFolder);
    const QString backups = backupFolder(appFolder);
    struct stat st;
    if (lstat(QFile::encodeName(maps + name).constData(), &st) != 0) {
        if (errno == ENOENT) return false;
        throw osError(errno, maps + name);
    }
    if (!S_ISREG(st.st_mode)) return false;
    if (mkdir(QFile::encodeName(backups).constData(), 0755) != 0 && errno != EEXIST)
        throw osError(errno, backups);
    if (holdsName(backups, name)) return false;
    copyMapFile(maps, backups, name);
    return true;
}

bool hasDigest(const QString& file, const QByteArray& sha256, std::int64_t size) {
    QFile in(file);
    const QFileInfo info(file);
    if (!info.isFile() || (size >= 0 && info.size() != size)) return false;
    if (!in.open(QIODevice::ReadOnly)) return false;
    return sha256Of(in) == sha256;
}

void removeLeftovers(const QString& folder) {
    files::sweep(QFile::encodeName(folder).toStdString());
}

QString patchFolder(const QString& appFolder) {
    const QString driveC = platform::driveCFolder(appFolder);
    QDir().mkpath(driveC);
    return driveC;
}

}  // namespace zandrel::maps
