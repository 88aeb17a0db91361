#pragma once

#include "archive/archive_failure.h"
#include "base/error.h"

#include <QString>

#include <cstdint>
#include <memory>
#include <string>

struct archive;
struct archive_entry;

namespace zandrel::archive {

// An unpacking failure of the given kind, and the same thrown.
Error failure(ArchiveFailure kind, const QString& description);
[[noreturn]] void fail(ArchiveFailure kind, const QString& description);
// The text of a cancelled extraction.
QString cancelledText();
// An errno value as our error (Error::fromErrno): what failed, with the system's reason.
Error errnoError(int err, const QString& what);
[[noreturn]] void failErrno(int err, const QString& what);
QString text(const std::string& s);

// One entry's header as libarchive reads it.
struct EntryHeader {
    enum Kind { File, Folder, Symlink, Hardlink, Other };
    std::string name;  // UTF-8, as stored
    Kind kind = Other;
    std::int64_t size = -1;  // File: bytes of data; -1 when unknown
    bool encrypted = false;  // as far as libarchive tells
};

// One pass over a RAR 4.x or 5.0 archive open on `fd`, with libarchive's RAR readers only.
// Names come in UTF-8 whatever the program's locale. Throws zandrel::Error
// (ArchiveFailure::NotAnArchive) when the archive cannot be read.
class ArchiveReader {
public:
    ArchiveReader(int fd, const QString& archivePath);
    ~ArchiveReader();
    ArchiveReader(const ArchiveReader&) = delete;
    ArchiveReader& operator=(const ArchiveReader&) = delete;

    // The next entry's header, or false at the end of the archive. A warning (for example a
    // name that cannot be converted) is a failure: such a name cannot be checked.
    bool next(EntryHeader& header);

    // The next piece of the current entry's data; false at its end. `offset` is where the
    // piece belongs in the entry.
    bool readBlock(const void*& data, std::size_t& size, std::int64_t& offset);

    [[noreturn]] void failArchive();

private:
    class Utf8Locale;
    struct Free {
        void operator()(::archive* a) const;
    };
    QString path_;
    std::unique_ptr<Utf8Locale> locale_;
    // Owned by a member, not freed by our destructor: the constructor throws when the file is
    // not a RAR archive, and the reader must be released then too.
    std::unique_ptr<::archive, Free> archive_;
};

}  // namespace zandrel::archive
