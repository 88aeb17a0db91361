#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>

namespace zandrel::net {

// Where a fetched file came from and what the server said about it, kept with the file as an
// extended attribute so that the next fetch of the same address into the same place can ask
// the server whether it changed. The attribute goes with the file's contents: a file replaced
// by anything else loses it, and the next fetch is a plain one again.
struct FetchRecord {
    QString url;
    QByteArray etag;                 // empty when the server sent none
    std::int64_t lastModified = -1;  // the server's Last-Modified, seconds since the epoch
    std::int64_t size = -1;          // bytes stored
};

inline constexpr char kFetchRecordAttribute[] = "user.zandrel.fetch";

// Sets the open file's modification time to the record's Last-Modified (when known) and keeps
// the record on it (when it holds anything to ask with). A file system without extended
// attributes keeps no record, which only costs the next fetch its condition; never throws.
void writeFetchRecord(int fd, const FetchRecord& record);

// The record of the regular file at path, provided it came from url and still is as it was
// stored: the same size and, when the server sent a Last-Modified, that modification time.
std::optional<FetchRecord> readFetchRecord(const QString& path, const QString& url);

}  // namespace zandrel::net
