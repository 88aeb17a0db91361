#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>

namespace zandrel::net {

// Where a fetched file came from and what the server said about it, kept with the file as an
// extended attribute so that the next fetch of the same address into the same place can ask
// the server whether it changed. The record also holds the file's own state as it was stored
// (its modification time to the nanosecond, its size, its inode): a file changed in any way
// since, even in place at the same size, or replaced by anything else, no longer matches it,
// and the next fetch is a plain one again.
struct FetchRecord {
    QString url;
    QByteArray etag;                 // empty when the server sent none
    std::int64_t lastModified = -1;  // the server's Last-Modified, seconds since the epoch
    std::int64_t size = -1;          // bytes stored
    std::int64_t mtimeNs = -1;       // the file's modification time as stored, in nanoseconds
    std::uint64_t inode = 0;         // ...and its inode
};

inline constexpr char kFetchRecordAttribute[] = "user.zandrel.fetch";

// The server's Last-Modified as far as it can be trusted: -1 for a time later than now (a
// server whose clock or files are in the future), which would keep a later change from being
// asked about.
std::int64_t usableLastModified(std::int64_t lastModified, std::int64_t now);

// Sets the open file's modification time to the record's Last-Modified (when known) and keeps
// the record on it, with the file's own state as it then is (when it holds anything to ask
// with). A file system without extended attributes keeps no record, which only costs the next
// fetch its condition; never throws. Nothing may write to the file afterwards.
void writeFetchRecord(int fd, const FetchRecord& record);

// The record of the regular file at path, provided it came from url and still is exactly as it
// was stored: the same modification time, size and inode.
std::optional<FetchRecord> readFetchRecord(const QString& path, const QString& url);

}  // namespace zandrel::net
