#include "net/download_file.h"

#include "base/error.h"
#include "base/files.h"
#include "base/platform.h"
#include "base/printable.h"
#include "base/sha256.h"
#include "net/fetch_record.h"
#include "net/transfer_retry.h"

#include <QDateTime>
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
    Sha256 hash;
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

// What one source gave instead of the announced update. Thrown out of the fetch of that source,
// never out of this unit: it becomes the box that names it.
struct OtherBytes {
    QString url;
    std::int64_t size = -1;  // what arrived; with tooLong, the bound it went past
    QByteArray sha256;       // empty when the transfer was ended before its end
    bool tooLong = false;
};

bool matches(const AnnouncedUpdate& announced, std::int64_t size, const QByteArray& sha256) {
    return (announced.size < 0 || size == announced.size) &&
           (announced.sha256.isEmpty() || sha256 == announced.sha256);
}

// The destination's replacement: a temporary file of ours beside it (the file layer's), renamed
// over it only once the whole body is in it and dropped without a trace otherwise. It is made on
// the first byte (or at the end, for an empty body), so a reply that stores nothing leaves the
// folder alone. It is not synced to disk before the rename: a download can be fetched again.
// It holds the bytes of a cut transfer between tries, and only it: the destination never does.
// Held to an announced update, it hashes the bytes as they come and refuses any past its size.
class PartFile : public PartSink {
public:
    PartFile(const QString& path, const AnnouncedUpdate& announced)
        : path_(path), native_(QFile::encodeName(path)), limit_(announced.size) {
        const QFileInfo dest(path);
        if (dest.isDir() || (dest.exists() && !dest.isWritable()))
            throw Error::fromErrnoDescribed(EACCES, QStringLiteral("Cannot replace %1").arg(path),
                                            kSource);
        if (!announced.sha256.isEmpty()) hash_.emplace();
    }

    void announced(std::int64_t resourceLength) override {
        if (limit_ >= 0 && resourceLength > limit_) throw OtherBytes{{}, limit_, {}, true};
    }

    // Over https the body comes one TLS record (16 KiB) at a time: gathered into larger writes,
    // it costs the disk side a sixteenth of the system calls.
    void append(QByteArrayView chunk) override {
        if (limit_ >= 0 && held_ + chunk.size() > limit_) throw OtherBytes{{}, limit_, {}, true};
        open();
        if (hash_) hash_->addData(chunk);
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

    // Of the bytes held, taken as they came; empty when no hash was announced.
    QByteArray sha256() const { return hash_ ? hash_->result() : QByteArray(); }

    void restart() override {
        pending_.clear();
        if (hash_) hash_->reset();
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
    std::int64_t limit_;
    std::optional<Sha256> hash_;
    std::optional<files::ReplaceFile> file_;
    std::vector<char> pending_;
    std::int64_t held_ = 0;
};

// The file in place, as what arrived: a 304 confirmed it.
OtherBytes confirmedFile(const QString& path) {
    const QByteArray native = QFile::encodeName(path);
    OtherBytes file;
    const int fd = ::open(native.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return file;
    const auto closer = qScopeGuard([fd] { ::close(fd); });
    struct stat st {};
    if (::fstat(fd, &st) == 0) file.size = st.st_size;
    file.sha256 = sha256Of(fd, native.toStdString());
    return file;
}

std::int64_t now() {
    return QDateTime::currentSecsSinceEpoch();
}

// What to ask with when the file in place came from url and is unchanged since.
FetchConditions heldConditions(const QString& path, const QString& url) {
    FetchConditions conditions;
    if (const std::optional<FetchRecord> held = readFetchRecord(path, url)) {
        conditions.etag = held->etag;
        conditions.lastModified = usableLastModified(held->lastModified, now());
    }
    return conditions;
}

// One source into path, held to what is announced (nothing, for a file of its own). When the
// file there came from the same url (ownAddress) and the server says it has not changed since,
// it stays as it is. A mismatch after a resumed transfer may be the seam of two versions of the
// file: it is fetched once more, whole. Throws OtherBytes for bytes other than announced.
void fetchChecked(Inet& inet, const QString& url, const QString& path,
                  const AnnouncedUpdate& announced, bool ownAddress) {
    try {
        PartFile file(path, announced);
        bool resumed = false;
        fetchWithRetries(inet, url, file,
                         ownAddress ? heldConditions(path, url) : FetchConditions{}, &resumed);
        if (inet.LastFetch().notModified) {
            const OtherBytes held = confirmedFile(path);
            if (!matches(announced, held.size, held.sha256)) throw held;
            return;
        }
        if (!matches(announced, file.size(), file.sha256()) && resumed) {
            file.restart();
            fetchWithRetries(inet, url, file, {}, &resumed);
        }
        if (!matches(announced, file.size(), file.sha256()))
            throw OtherBytes{{}, file.size(), file.sha256()};
        const FetchInfo& got = inet.LastFetch();
        file.commit(
            FetchRecord{url, got.etag, usableLastModified(got.lastModified, now()), file.size()});
    } catch (OtherBytes& other) {
        other.url = url;
        throw;
    }
}

bool namesAFile(const QString& name) {
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..");
}

// Enough of a hash to tell two apart.
QString shortHex(const QByteArray& sha256) {
    return QString::fromLatin1(sha256.toHex().left(12)) + QStringLiteral("...");
}

QString described(std::int64_t size, const QByteArray& sha256) {
    QStringList parts;
    if (size >= 0) parts.append(QStringLiteral("%1 bytes").arg(size));
    if (!sha256.isEmpty()) parts.append(QStringLiteral("SHA-256 ") + shortHex(sha256));
    return parts.join(QStringLiteral(", "));
}

// The box for sources that gave other bytes than announced: what was expected, what arrived and
// from where, one source after the other.
QString otherBytesPrompt(const AnnouncedUpdate& announced, const std::vector<OtherBytes>& others) {
    QStringList lines{
        QStringLiteral("The map update that arrived is not the one the server announces, so it "
                       "was not kept."),
        QString(), QStringLiteral("Expected: ") + described(announced.size, announced.sha256)};
    for (const OtherBytes& other : others) {
        lines.append(QStringLiteral("Arrived: ") +
                     (other.tooLong ? QStringLiteral("more than %1 bytes (the transfer was ended "
                                                     "there)")
                                          .arg(other.size)
                                    : described(other.size, other.sha256)));
        lines.append(QStringLiteral("    from ") + printable(other.url, LineBreaks::Escape));
    }
    return lines.join(QStringLiteral("\r\n"));
}

}  // namespace

bool DownloadUpdate(Inet& inet, const QStringList& sources, const AnnouncedUpdate& announced,
                    const QString& folder, MessageBoxes& boxes) {
    if (sources.isEmpty() || inet.StillExecuting()) return false;
    const QString name = localFileName(sources.first());
    if (!namesAFile(name)) {
        boxes.show(kFailurePrompt, MsgIcon::Information);
        return false;
    }
    const QString path = folder + platform::kSep + name;
    // Without a hash nothing vouches for a mirror's bytes.
    const qsizetype count = announced.sha256.isEmpty() ? 1 : sources.size();
    std::vector<OtherBytes> others;
    for (qsizetype i = 0; i < count; ++i) {
        Inet::Stage stage;
        stage.source = static_cast<int>(i);
        inet.setStage(stage);
        try {
            fetchChecked(inet, sources[i], path, announced, i == 0);
            return true;
        } catch (const OtherBytes& other) {
            others.push_back(other);
        } catch (const Error& e) {
            if (e.is(TransferFailure::Cancelled)) return false;
            if (!isSourceFailure(e)) break;
        } catch (const std::exception&) {
            break;
        }
    }
    boxes.show(others.empty() ? kFailurePrompt : otherBytesPrompt(announced, others),
               MsgIcon::Information);
    return false;
}

bool DownloadFile(Inet& Inet1, const QString& url, const QString& folder, MessageBoxes& boxes) {
    if (Inet1.StillExecuting()) return false;
    Inet1.setStage({});
    const QString name = localFileName(url);
    if (!namesAFile(name)) {
        boxes.show(kFailurePrompt, MsgIcon::Information);
        return false;
    }
    try {
        fetchChecked(Inet1, url, folder + platform::kSep + name, {}, true);
        return true;
    } catch (const Error& e) {
        if (!e.is(TransferFailure::Cancelled)) boxes.show(kFailurePrompt, MsgIcon::Information);
        return false;
    } catch (const std::exception&) {
        boxes.show(kFailurePrompt, MsgIcon::Information);
        return false;
    }
}

}  // namespace zandrel::net
