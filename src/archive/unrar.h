#pragma once

#include "archive/archive_failure.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>

namespace zandrel::archive {

// Unpacks a RAR archive (RAR 4.x or RAR 5.0, read by libarchive) into a folder.
//
// Two passes. The header pass (archive::inspectOpen, also behind archive::InspectArchive)
// writes nothing: it walks the archive's block chain and reads every entry's header, and
// refuses the whole archive for any of the reasons listed there. The data pass writes the
// entries into a staging folder inside the destination, which are moved over their targets
// only once every entry has been read in full (archive::StagedInstall). On any failure the
// destination is left as it was and ExtractArchive throws zandrel::Error.
//
// Refused (the whole archive, before anything is written): an archive that is not complete
// (no end-of-archive block, cut anywhere, one volume of several), encrypted entries or
// headers, names that would leave the destination (absolute, drive letter, UNC, "..", with "\"
// read as a separator), names beyond the length and depth limits of entry_name.h, symbolic and
// hard links, devices and other special entries, two entries of one name (letter case does not
// count: the game runs under Wine) and a name used both as a file and as a folder, more than
// maxEntries entries, more data than maxTotalBytes or the free space of the destination's file
// system. An entry that matches a name in the destination but for letter case replaces it
// under the existing name. The archive path must name a regular file: a FIFO, device or
// folder is refused at once.
//
// Checked by libarchive: the header checksums of both formats, the data checksum of
// compressed entries. Not checked: the data checksum of stored (uncompressed) entries, which
// libarchive 3.6 does not verify; a stored entry with damaged bytes but intact headers is
// written as it is. Short (truncated) entry data is always an error.
//
// The replaced files are freed after ExtractArchive returns, by a thread of this object (the
// next extraction and the destructor wait for it). Until then they sit in the locked staging
// folder of the file layer; a crash before they are freed leaves that folder unlocked, and the
// file layer's sweep removes it the next time a writer of ours creates anything in the
// destination (the next extraction does so first).
//
// Single-threaded use: ExtractProgress is called on the calling thread, from inside
// ExtractArchive.
class UnRar {
public:
    static constexpr std::int64_t kDefaultMaxEntries = 10000;

    UnRar();
    ~UnRar();
    UnRar(const UnRar&) = delete;
    UnRar& operator=(const UnRar&) = delete;

    // Percent done, 0 to 100, rising. Stays at 90 or below until every entry is in place; the
    // last call, 100, comes after the last file was moved into the destination. Exceptions
    // thrown by the handler abandon the extraction (before the final 100) and pass through.
    std::function<void(std::int16_t percent)> ExtractProgress;

    // Bytes written so far against the archive's total of entry data, called after every block
    // written (often: throttle what it does). Meant for painting progress; it may not call back
    // into this object. Exceptions abandon the extraction like those of ExtractProgress.
    std::function<void(std::int64_t written, std::int64_t total)> ExtractBytes;

    // Asked between steps of the extraction (after every entry's header in both passes, after
    // every block of data written, before anything in the destination changes): true abandons
    // the extraction, which throws zandrel::Error of kind ArchiveFailure::Cancelled, the
    // destination as it was and no staging folder left. A block is at most 1 MiB, so a cancel takes
    // effect within one block's decompression and write. Once files are being moved into place it
    // is no longer asked: the update is then finished. Safe to set from the calling thread only; it
    // may read an atomic flag that another thread sets.
    std::function<bool()> ExtractCancelled;

    // Called once every entry is staged and before anything in the destination changes, with
    // the name of each file directly in the destination that the archive replaces (its
    // existing spelling): the windows keep the player's original map. An exception abandons
    // the extraction, the destination as it was, and passes through.
    std::function<void(const QString& name)> BeforeReplacing;

    // The destination folder must exist; it may end with a separator. Throws zandrel::Error.
    void ExtractArchive(const QString& archivePath, const QString& destinationFolder);

    // Waits until the files replaced by the last extraction are freed.
    void WaitForCleanup();

    void setMaxEntries(std::int64_t entries) { maxEntries_ = entries; }
    // Lowers the byte limit below the free space of the destination (negative: no extra limit).
    void setMaxTotalBytes(std::int64_t bytes) { maxTotalBytes_ = bytes; }

private:
    class Cleanup;
    std::int64_t maxEntries_ = kDefaultMaxEntries;
    std::int64_t maxTotalBytes_ = -1;
    bool running_ = false;
    std::unique_ptr<Cleanup> cleanup_;
};

}  // namespace zandrel::archive
