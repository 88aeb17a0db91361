#include "archive/libarchive_api.h"

#include "base/platform.h"

namespace zandrel::archive {

namespace {

LibarchiveApi load() {
    // Made once: a failed load throws and is tried again next time.
    static const platform::LoadedLibrary lib(
        platform::kArchiveLibrary, QStringLiteral("The archive library"), QStringLiteral("UnRar"));
    LibarchiveApi api;
#define ZANDREL_ARCHIVE(member) api.member = lib.function<decltype(api.member)>("archive_" #member)
    ZANDREL_ARCHIVE(read_new);
    ZANDREL_ARCHIVE(read_free);
    ZANDREL_ARCHIVE(read_support_format_rar);
    ZANDREL_ARCHIVE(read_support_format_rar5);
    ZANDREL_ARCHIVE(read_open_fd);
    ZANDREL_ARCHIVE(read_next_header);
    ZANDREL_ARCHIVE(read_data_block);
    ZANDREL_ARCHIVE(error_string);
    ZANDREL_ARCHIVE(entry_pathname);
    ZANDREL_ARCHIVE(entry_is_encrypted);
    ZANDREL_ARCHIVE(entry_hardlink);
    ZANDREL_ARCHIVE(entry_symlink);
    ZANDREL_ARCHIVE(entry_filetype);
    ZANDREL_ARCHIVE(entry_size_is_set);
    ZANDREL_ARCHIVE(entry_size);
#undef ZANDREL_ARCHIVE
    return api;
}

}  // namespace

const LibarchiveApi& libarchive() {
    static const LibarchiveApi api = load();  // a failed load throws and is tried again next time
    return api;
}

}  // namespace zandrel::archive
