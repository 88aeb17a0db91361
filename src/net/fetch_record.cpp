#include "net/fetch_record.h"

#include "base/files.h"

#include <QFile>
#include <QList>

#include <sys/stat.h>
#include <sys/xattr.h>

namespace zandrel::net {
namespace {

constexpr QByteArrayView kMagic = "zandrel-fetch 2";
constexpr std::size_t kMaxRecord = 4096;

// A value that is sent back in a request header must stay on its line.
bool fitsOnALine(QByteArrayView text) {
    return !text.contains('\n') && !text.contains('\r') && !text.contains('\0');
}

std::int64_t nanoseconds(const timespec& t) {
    return static_cast<std::int64_t>(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

QByteArray encode(const FetchRecord& r) {
    return kMagic.toByteArray() + '\n' + r.url.toUtf8() + '\n' + r.etag + '\n' +
           QByteArray::number(static_cast<qint64>(r.lastModified)) + '\n' +
           QByteArray::number(static_cast<qint64>(r.size)) + '\n' +
           QByteArray::number(static_cast<qint64>(r.mtimeNs)) + '\n' +
           QByteArray::number(static_cast<quint64>(r.inode));
}

std::optional<FetchRecord> decode(const QByteArray& text) {
    const QList<QByteArray> fields = text.split('\n');
    if (fields.size() != 7 || fields[0] != kMagic) return std::nullopt;
    FetchRecord r;
    bool timeOk = false, sizeOk = false, mtimeOk = false, inodeOk = false;
    r.url = QString::fromUtf8(fields[1]);
    r.etag = fields[2];
    r.lastModified = fields[3].toLongLong(&timeOk);
    r.size = fields[4].toLongLong(&sizeOk);
    r.mtimeNs = fields[5].toLongLong(&mtimeOk);
    r.inode = fields[6].toULongLong(&inodeOk);
    if (!timeOk || !sizeOk || !mtimeOk || !inodeOk || r.size < 0 || !fitsOnALine(r.etag))
        return std::nullopt;
    return r;
}

}  // namespace

std::int64_t usableLastModified(std::int64_t lastModified, std::int64_t now) {
    return lastModified > now ? -1 : lastModified;
}

void writeFetchRecord(int fd, const FetchRecord& record) {
    if (record.lastModified >= 0) {
        const timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(record.lastModified), 0}};
        ::futimens(fd, times);
    }
    if (record.etag.isEmpty() && record.lastModified < 0) return;  // nothing to ask with
    if (!fitsOnALine(record.etag) || !fitsOnALine(record.url.toUtf8())) return;
    struct stat st {};
    if (::fstat(fd, &st) != 0) return;
    FetchRecord kept = record;
    kept.size = st.st_size;
    kept.mtimeNs = nanoseconds(st.st_mtim);
    kept.inode = st.st_ino;
    const QByteArray value = encode(kept);
    if (static_cast<std::size_t>(value.size()) > kMaxRecord) return;
    ::fsetxattr(fd, kFetchRecordAttribute, value.constData(), static_cast<size_t>(value.size()), 0);
}

std::optional<FetchRecord> readFetchRecord(const QString& path, const QString& url) {
    // Never follows a final link, never waits on a FIFO: only a regular file counts.
    struct stat st {};
    files::Fd fd;
    try {
        fd = files::openRegular(QFile::encodeName(path).toStdString(), st);
    } catch (const files::FileError&) {
        return std::nullopt;
    }
    char buffer[kMaxRecord];
    const ssize_t n = ::fgetxattr(fd.get(), kFetchRecordAttribute, buffer, sizeof buffer);
    if (n <= 0) return std::nullopt;
    std::optional<FetchRecord> r = decode(QByteArray(buffer, static_cast<qsizetype>(n)));
    if (!r || r->url != url || r->size != st.st_size || r->mtimeNs != nanoseconds(st.st_mtim) ||
        r->inode != st.st_ino)
        return std::nullopt;
    return r;
}

}  // namespace zandrel::net
