#include "net/fetch_record.h"

#include "base/files.h"

#include <QFile>
#include <QList>

#include <sys/stat.h>
#include <sys/xattr.h>

namespace zandrel::net {
namespace {

constexpr QByteArrayView kMagic = "zandrel-fetch 1";
constexpr std::size_t kMaxRecord = 4096;

// A value that is sent back in a request header must stay on its line.
bool fitsOnALine(QByteArrayView text) {
    return !text.contains('\n') && !text.contains('\r') && !text.contains('\0');
}

QByteArray encode(const FetchRecord& r) {
    return kMagic.toByteArray() + '\n' + r.url.toUtf8() + '\n' + r.etag + '\n' +
           QByteArray::number(static_cast<qint64>(r.lastModified)) + '\n' +
           QByteArray::number(static_cast<qint64>(r.size));
}

std::optional<FetchRecord> decode(const QByteArray& text) {
    const QList<QByteArray> fields = text.split('\n');
    if (fields.size() != 5 || fields[0] != kMagic) return std::nullopt;
    FetchRecord r;
    bool timeOk = false, sizeOk = false;
    r.url = QString::fromUtf8(fields[1]);
    r.etag = fields[2];
    r.lastModified = fields[3].toLongLong(&timeOk);
    r.size = fields[4].toLongLong(&sizeOk);
    if (!timeOk || !sizeOk || r.size < 0 || !fitsOnALine(r.etag)) return std::nullopt;
    return r;
}

}  // namespace

void writeFetchRecord(int fd, const FetchRecord& record) {
    if (record.lastModified >= 0) {
        const timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(record.lastModified), 0}};
        ::futimens(fd, times);
    }
    if (record.etag.isEmpty() && record.lastModified < 0) return;  // nothing to ask with
    if (!fitsOnALine(record.etag) || !fitsOnALine(record.url.toUtf8())) return;
    const QByteArray value = encode(record);
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
    if (!r || r->url != url || r->size != st.st_size) return std::nullopt;
    if (r->lastModified >= 0 && r->lastModified != st.st_mtim.tv_sec) return std::nullopt;
    return r;
}

}  // namespace zandrel::net
