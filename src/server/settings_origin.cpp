#include "server/settings_origin.h"

#include "base/files.h"

#include <QFile>

#include <sys/stat.h>
#include <sys/xattr.h>

#include <optional>

namespace zandrel::server {

namespace {

constexpr std::size_t kMaxOrigin = 4096;

// Never follows a final link, never waits on a FIFO: only a regular file carries an origin.
std::optional<files::Fd> openSettings(const QString& file) {
    struct stat st {};
    try {
        return files::openRegular(QFile::encodeName(file).toStdString(), st);
    } catch (const files::FileError&) {
        return std::nullopt;
    }
}

}  // namespace

void keepSettingsOrigin(const QString& file, const QString& url) {
    const std::optional<files::Fd> fd = openSettings(file);
    const QByteArray value = url.toUtf8();
    if (!fd || value.isEmpty() || static_cast<std::size_t>(value.size()) > kMaxOrigin) return;
    ::fsetxattr(fd->get(), kSettingsOriginAttribute, value.constData(),
                static_cast<size_t>(value.size()), 0);
}

bool settingsCameFrom(const QString& file, const QString& url) {
    const std::optional<files::Fd> fd = openSettings(file);
    if (!fd) return false;
    char buffer[kMaxOrigin];
    const ssize_t n = ::fgetxattr(fd->get(), kSettingsOriginAttribute, buffer, sizeof buffer);
    return n > 0 && QByteArray(buffer, static_cast<qsizetype>(n)) == url.toUtf8();
}

QString settingsToRead(const QString& file, const QString& url, bool fetched) {
    if (fetched) keepSettingsOrigin(file, url);
    return fetched || settingsCameFrom(file, url) ? file : QString();
}

}  // namespace zandrel::server
