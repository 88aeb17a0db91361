#pragma once

#include "base/error.h"

#include <QString>

#include <functional>

#include <cstdint>
#include <string>
#include <vector>

namespace zandrel::archive {

struct Limits {
    std::int64_t maxEntries = 10000;
    std::int64_t maxTotalBytes = -1;  // below the destination's free space; negative: none
};

// One entry as the archive would be written.
struct PlannedEntry {
    std::string name;  // as stored in the archive (UTF-8)
    // Where it goes, relative to the destination, "/" between the elements. An element that
    // matches a name already in the destination but for letter case takes that name's
    // spelling: the game, under Wine, sees one name.
    std::string path;
    bool folder = false;
    std::int64_t size = 0;  // bytes of data (0 for folders)
    bool replaces = false;  // a file (or link) of that name is there now and is replaced
};

// A reason to refuse the archive: an ArchiveFailure, or the system's errno.
using Problem = Error;

struct Inspection {
    std::vector<PlannedEntry> entries;  // in the archive's order
    std::vector<Problem> problems;      // empty: the archive would be unpacked
    std::int64_t totalBytes = 0;
};

// The header pass over an archive, writing nothing: every entry it would write into
// `destinationFolder` and every reason it would refuse the archive (the same pass
// UnRar::ExtractArchive runs before it writes anything). The destination is only read, to
// resolve names against what is there; it need not exist (then nothing is resolved and the
// free space is not checked).
Inspection InspectArchive(const QString& archivePath, const QString& destinationFolder,
                          const Limits& limits = {});

// The same pass on an archive and a destination already open. With `stopAtFirst` it ends at
// the first problem. destFd may be -1 (no destination to resolve against). `cancelled`, when
// given, is asked after every header: true ends the pass with an ArchiveFailure::Cancelled problem.
Inspection inspectOpen(int archiveFd, std::int64_t archiveSize, const QString& archivePath,
                       int destFd, const QString& destination, const Limits& limits,
                       bool stopAtFirst, const std::function<bool()>& cancelled = {});

// Opens the archive through the file layer: without following a final link and without
// waiting (a FIFO is refused at once, never opened for a writer to come), a regular file only.
// Throws zandrel::Error.
int openArchive(const QString& archivePath, std::int64_t* size);

// Names of our own in a folder we write (the file layer's temporary files and staging
// folders) start with this; archive entries may not use it.
inline constexpr char kOwnPrefix[] = ".zandrel-";

}  // namespace zandrel::archive
