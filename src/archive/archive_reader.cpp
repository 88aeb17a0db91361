#include "archive/archive_reader.h"

#include "archive/libarchive_api.h"
#include "base/error.h"

#include <locale.h>
#include <unistd.h>

#include <cerrno>

namespace zandrel::archive {

namespace {

const QString kSource = QStringLiteral("UnRar");

// libarchive reads the file in blocks of this size and hands stored data on in pieces of up to
// this size, which are written as they come.
constexpr std::size_t kReadBlock = 1 << 20;

}  // namespace

Error failure(ArchiveFailure kind, const QString& description) {
    return Error(kind, description, kSource);
}

void fail(ArchiveFailure kind, const QString& description) {
    throw failure(kind, description);
}

QString cancelledText() {
    return QStringLiteral("The unpacking was cancelled: the map folder is as it was.");
}

Error errnoError(int err, const QString& what) {
    return Error::fromErrno(err, kSource, what);
}

void failErrno(int err, const QString& what) {
    throw errnoError(err, what);
}

QString text(const std::string& s) {
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

// libarchive gives names in the multibyte form of the thread's locale. While a reader exists
// the thread uses UTF-8, so that names do not depend on the locale the program was started in.
class ArchiveReader::Utf8Locale {
public:
    Utf8Locale() : locale_(newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t(0))) {
        if (locale_) previous_ = uselocale(locale_);
    }
    Utf8Locale(const Utf8Locale&) = delete;
    Utf8Locale& operator=(const Utf8Locale&) = delete;
    ~Utf8Locale() {
        if (locale_) {
            uselocale(previous_);
            freelocale(locale_);
        }
    }

private:
    locale_t locale_;
    locale_t previous_ = locale_t(0);
};

void ArchiveReader::Free::operator()(::archive* a) const {
    libarchive().read_free(a);
}

ArchiveReader::ArchiveReader(int fd, const QString& archivePath)
    : path_(archivePath), locale_(std::make_unique<Utf8Locale>()) {
    if (::lseek(fd, 0, SEEK_SET) != 0)
        failErrno(errno, QStringLiteral("The archive \"%1\" cannot be read").arg(path_));
    const LibarchiveApi& la = libarchive();
    archive_.reset(la.read_new());
    if (!archive_) throw Error::outOfMemory(kSource);
    la.read_support_format_rar(archive_.get());
    la.read_support_format_rar5(archive_.get());
    if (la.read_open_fd(archive_.get(), fd, kReadBlock) != ARCHIVE_OK) failArchive();
}

ArchiveReader::~ArchiveReader() {
    archive_.reset();  // before the locale it was made in
}

bool ArchiveReader::next(EntryHeader& header) {
    const LibarchiveApi& la = libarchive();
    archive_entry* entry = nullptr;
    const int rc = la.read_next_header(archive_.get(), &entry);
    if (rc == ARCHIVE_EOF) return false;
    if (rc != ARCHIVE_OK) failArchive();
    const char* name = la.entry_pathname(entry);
    if (!name)
        fail(ArchiveFailure::NotAnArchive,
             QStringLiteral("An archive entry has no readable name."));
    header = EntryHeader{};
    header.name = name;
    header.encrypted = la.entry_is_encrypted(entry);
    if (la.entry_hardlink(entry))
        header.kind = EntryHeader::Hardlink;
    else if (la.entry_symlink(entry) || la.entry_filetype(entry) == AE_IFLNK)
        header.kind = EntryHeader::Symlink;
    else if (la.entry_filetype(entry) == AE_IFREG)
        header.kind = EntryHeader::File;
    else if (la.entry_filetype(entry) == AE_IFDIR)
        header.kind = EntryHeader::Folder;
    if (la.entry_size_is_set(entry)) header.size = la.entry_size(entry);
    return true;
}

bool ArchiveReader::readBlock(const void*& data, std::size_t& size, std::int64_t& offset) {
    la_int64_t at = 0;
    const int rc = libarchive().read_data_block(archive_.get(), &data, &size, &at);
    if (rc == ARCHIVE_EOF) return false;
    if (rc != ARCHIVE_OK) failArchive();
    offset = at;
    return true;
}

void ArchiveReader::failArchive() {
    const char* reason = libarchive().error_string(archive_.get());
    fail(ArchiveFailure::NotAnArchive,
         QStringLiteral("The archive \"%1\" cannot be read: %2")
             .arg(path_, reason ? QString::fromUtf8(reason) : QStringLiteral("unknown error")));
}

}  // namespace zandrel::archive
