#pragma once

#include <archive.h>
#include <archive_entry.h>

namespace zandrel::archive {

// The libarchive functions the archive reader uses. libarchive is loaded the first time an
// archive is read rather than with the program: it brings libraries of its own (XML, ACLs,
// compression, hashing) that the start window would otherwise wait for.
struct LibarchiveApi {
    decltype(&archive_read_new) read_new;
    decltype(&archive_read_free) read_free;
    decltype(&archive_read_support_format_rar) read_support_format_rar;
    decltype(&archive_read_support_format_rar5) read_support_format_rar5;
    decltype(&archive_read_open_fd) read_open_fd;
    decltype(&archive_read_next_header) read_next_header;
    decltype(&archive_read_data_block) read_data_block;
    decltype(&archive_error_string) error_string;
    decltype(&archive_entry_pathname) entry_pathname;
    decltype(&archive_entry_is_encrypted) entry_is_encrypted;
    decltype(&archive_entry_hardlink) entry_hardlink;
    decltype(&archive_entry_symlink) entry_symlink;
    decltype(&archive_entry_filetype) entry_filetype;
    decltype(&archive_entry_size_is_set) entry_size_is_set;
    decltype(&archive_entry_size) entry_size;
};

// Loads libarchive once; raises Error when the library cannot be loaded or lacks a function.
const LibarchiveApi& libarchive();

}  // namespace zandrel::archive
