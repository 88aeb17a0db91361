#include "net/download_file.h"

#include "base/error.h"
#include "base/files.h"
#include "base/platform.h"
#include "net/fetch_record.h"

#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

#include <cerrno>
#include <optional>
#include <vector>

namespace zandrel {
namespace {

const QString kSource = QStringLiteral("DownloadFile");
const QString kFailurePrompt =
    QStringLiteral("An error has occured in the file transfer or write.  Please try again later.");

// The text after the URL's last "/"; empty when the URL has none or ends in one.
QString localFileName(const QString& url) {
    const qsizetype slash = url.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? QString() : url.mid(slash + 1);
}

// The destination's replacement: a temporary file of ours beside it (the file layer's), renamed
// over it only once the whole body is in it and dropped without a trace otherwise. It is made on
// the first byte (or at the end, for an empty body), so a reply that stores nothing leaves the
// folder alone. It is not synced to disk before the rename: a download can be fetched again.
class PartFile {
public:
    explicit PartFile(const QString& path) : path_(path), native_(QFile::encodeName(path)) {
        const QFileInfo dest(path);
        if (dest.isDir() || (dest.exists() && !dest.isWritable()))
            throw Error(EACCES, QStringLiteral("Cannot replace %1").arg(path), kSource);
    }

    // Over https the body comes one TLS record (16 KiB) at a time: gathered into larger writes,
    // it costs the disk side a sixteenth of the system calls.
    void write(QByteArrayView chunk) {
        open();
        if (pending_.size() + static_cast<std::size_t>(chunk.size()) > kWriteSize) flush();
        if (static_cast<std::size_t>(chunk.size()) >= kWriteSize) {
            files::writeAll(file_->fd(), chunk.data(), static_cast<std::size_t>(chunk.size()),
                            file_->tempPath());
            return;
        }
        pending_.insert(pending_.end(), chunk.begin(), chunk.end());
    }

    // Puts the file in the destination's place, with the permissions of the file it replaces
    // (readable by all for a new one), carrying what the server said about it.
    void commit(const FetchRecord& record) {
        open();
        flush();
        struct stat old {};
        const mode_t mode = ::stat(native_.constData(), &old) == 0 ? (old.st_mode & 07777) : 0644;
        if (::fchmod(file_->fd(), mode) != 0)
            files::fail(errno, "cannot set the permissions of", file_->tempPath());
        writeFetchRecord(file_->fd(), record);
        file_->commit();
    }

private:
    static constexpr std::size_t kWriteSize = 256 * 1024;

    void open() {
        if (!file_) file_.emplace(native_.toStdString(), files::Sync::No);
    }

    void flush() {
        files::writeAll(file_->fd(), pending_.data(), pending_.size(), file_->tempPath());
        pending_.clear();
    }

    QString path_;
    QByteArray native_;
    std::optional<files::ReplaceFile> file_;
    std::vector<char> pending_;
};

// Fetches url into path; when the file there came from the same url and the server says it has
// not changed since, the file stays as it is.
void fetchInto(Inet& inet, const QString& url, const QString& path) {
    PartFile file(path);
    const std::optional<FetchRecord> held = readFetchRecord(path, url);
    FetchConditions conditions;
    if (held) {
        conditions.etag = held->etag;
        conditions.lastModified = held->lastModified;
    }
    inet.OpenURL(
        url, [&file](QByteArrayView chunk) { file.write(chunk); }, conditions);
    const FetchInfo& got = inet.LastFetch();
    if (got.notModified) return;
    file.commit(FetchRecord{url, got.etag, got.lastModified, got.bodyBytes});
}

}  // namespace

bool DownloadFile(Inet& Inet1, const QString& url, const QString& folder, MessageBoxes& boxes) {
    if (Inet1.StillExecuting()) return false;
    try {
        const QString name = localFileName(url);
        if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
            throw Error(0, QStringLiteral("The address names no file: %1").arg(url), kSource);
        fetchInto(Inet1, url, folder + platform::kSep + name);
        return true;
    } catch (const Error& e) {
        if (e.number() != kInetCancelled) boxes.show(kFailurePrompt, MsgIcon::Information);
        return false;
    } catch (const std::exception&) {
        boxes.show(kFailurePrompt, MsgIcon::Information);
        return false;
    }
}

}  // namespace zandrel
