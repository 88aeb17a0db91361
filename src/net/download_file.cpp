#include "net/download_file.h"

#include "base/error.h"
#include "base/files.h"
#include "base/platform.h"
#include "net/fetch_record.h"
#include "net/transfer_retry.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QScopeGuard>

#include <cerrno>
#include <optional>
#include <vector>

namespace zandrel::net {
namespace {

const QString kSource = QStringLiteral("DownloadFile");
const QString kFailurePrompt =
    QStringLiteral("An error has occured in the file transfer or write.  Please try again later.");

// The text after the URL's last "/"; empty when the URL has none or ends in one.
QString localFileName(const QString& url) {
    const qsizetype slash = url.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? QString() : url.mid(slash + 1);
}

// The SHA-256 of what the open file descriptor holds, read from its start.
QByteArray sha256Of(int fd, const std::string& path) {
    QCryptographicHash hash(QCryptographicHash::Sha256);
    std::vector<char> buffer(256 * 1024);
    for (off_t at = 0;;) {
        const ssize_t n = ::pread(fd, buffer.data(), buffer.size(), at);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) files::fail(errno, "cannot read", path);
        if (n == 0) break;
        hash.addData(QByteArrayView(buffer.data(), n));
        at += n;
    }
    return hash.result();
}

// The destination's replacement: a temporary file of ours beside it (the file layer's), renamed
// over it only once the whole body is in it and dropped without a trace otherwise. It is made on
// the first byte (or at the end, for an empty body), so a reply that stores nothing leaves the
// folder alone. It is not synced to disk before the rename: a download can be fetched again.
// It holds the bytes of a cut transfer between tries, and only it: the destination never does.
class PartFile : public PartSink {
public:
    explicit PartFile(const QString& path) : path_(path), native_(QFile::encodeName(path)) {
        const QFileInfo dest(path);
        if (dest.isDir() || (dest.exists() && !dest.isWritable()))
            throw Error(EACCES, QStringLiteral("Cannot replace %1").arg(path), kSource);
    }

    // Over https the body comes one TLS record (16 KiB) at a time: gathered into larger writes,
    // it costs the disk side a sixteenth of the system calls.
    void append(QByteArrayView chunk) override {
        open();
        held_ += chunk.size();
        if (pending_.size() + static_cast<std::size_t>(chunk.size()) > kWriteSize) flush();
        if (static_cast<std::size_t>(chunk.size()) >= kWriteSize) {
            files::writeAll(file_->fd(), chunk.data(), static_cast<std::size_t>(chunk.size()),
                            file_->tempPath());
            return;
        }
        pending_.insert(pending_.end(), chunk.begin(), chunk.end());
    }

    std::int64_t size() const override { return held_; }

    QByteArray sha256() {
        open();
        flush();
        return sha256Of(file_->fd(), file_->tempPath());
    }

    void restart() override {
        pending_.clear();
        if (!file_ || held_ == 0) return;
        if (::ftruncate(file_->fd(), 0) != 0 || ::lseek(file_->fd(), 0, SEEK_SET) != 0)
            files::fail(errno, "cannot empty", file_->tempPath());
        held_ = 0;
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
    std::int64_t held_ = 0;
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
    fetchWithRetries(inet, url, file, conditions);
    const FetchInfo& got = inet.LastFetch();
    if (got.notModified) return;
    file.commit(FetchRecord{url, got.etag, got.lastModified, file.size()});
}

// The file in place, when it has this SHA-256.
bool holdsHash(const QString& path, const QByteArray& sha256) {
    const QByteArray native = QFile::encodeName(path);
    const int fd = ::open(native.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const auto closer = qScopeGuard([fd] { ::close(fd); });
    return sha256Of(fd, native.toStdString()) == sha256;
}

// One source of the update into path, checked against sha256. A mismatch after a resumed
// transfer may be the seam of two versions of the file: it is fetched once more, whole.
void fetchChecked(Inet& inet, const QString& url, const QString& path, const QByteArray& sha256,
                  bool ownAddress) {
    PartFile file(path);
    FetchConditions conditions;
    if (const std::optional<FetchRecord> held =
            ownAddress ? readFetchRecord(path, url) : std::nullopt) {
        conditions.etag = held->etag;
        conditions.lastModified = held->lastModified;
    }
    bool resumed = false;
    fetchWithRetries(inet, url, file, conditions, &resumed);
    const Error mismatch(0, QStringLiteral("The file from %1 is not the announced one").arg(url),
                         kSource);
    if (inet.LastFetch().notModified) {
        if (!holdsHash(path, sha256)) throw mismatch;
        return;
    }
    if (file.sha256() != sha256 && resumed) {
        file.restart();
        fetchWithRetries(inet, url, file, {}, &resumed);
    }
    if (file.sha256() != sha256) throw mismatch;
    const FetchInfo& got = inet.LastFetch();
    file.commit(FetchRecord{url, got.etag, got.lastModified, file.size()});
}

}  // namespace

bool DownloadUpdate(Inet& inet, const QStringList& sources, const QByteArray& sha256,
                    const QString& folder, MessageBoxes& boxes) {
    if (sources.isEmpty()) return false;
    if (sha256.isEmpty()) return DownloadFile(inet, sources.first(), folder, boxes);
    if (inet.StillExecuting()) return false;
    const QString name = localFileName(sources.first());
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..")) {
        boxes.show(kFailurePrompt, MsgIcon::Information);
        return false;
    }
    const QString path = folder + platform::kSep + name;
    for (int i = 0; i < sources.size(); ++i) {
        Inet::Stage stage;
        stage.source = i;
        inet.setStage(stage);
        try {
            fetchChecked(inet, sources[i], path, sha256, i == 0);
            return true;
        } catch (const Error& e) {
            if (e.number() == kInetCancelled) return false;
            // A mismatch (number 0) or a failure of the source: on to the next one.
            const bool nextSource =
                isSourceFailure(e) || (e.number() == 0 && e.source() == kSource);
            if (!nextSource) break;
        } catch (const std::exception&) {
            break;
        }
    }
    boxes.show(kFailurePrompt, MsgIcon::Information);
    return false;
}

bool DownloadFile(Inet& Inet1, const QString& url, const QString& folder, MessageBoxes& boxes) {
    if (Inet1.StillExecuting()) return false;
    Inet1.setStage({});
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

}  // namespace zandrel::net
