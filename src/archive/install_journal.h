#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zandrel::archive {

// The record that makes a commit of StagedInstall recoverable. Before the first file is moved
// into the destination, the staging folder gets a file "journal" (written under another name,
// flushed, then renamed, so that it is either whole or absent) listing every move of the
// commit; it is removed once the last move is made. A process killed between the two leaves
// the journal behind, and recoverInstalls() finishes the commit: every new file was complete
// in the staging folder before the first move, so rolling forward gives the whole update,
// while rolling back would need the replaced files, which the staging folder holds under the
// same names as the staged ones.
//
// Each file's move is recognised by the staged file's inode number, which a rename keeps: the
// file in place carries it once moved, the staged name carries it before. No move needs a
// write to the journal, so the commit costs one flushed file, whatever the number of files.
struct JournalEntry {
    bool folder = false;
    std::string staged;       // the file's name in the staging folder (files only)
    std::uint64_t inode = 0;  // the staged file's inode number (files only)
    std::string path;         // relative to the destination, "/" between the elements
};

constexpr char kJournalName[] = "journal";
// A journal larger than this is not one of ours: its lines are a path of at most kMaxPathBytes
// and two numbers, one per entry of an archive (ten thousand by default).
constexpr std::size_t kMaxJournalBytes = 16 << 20;

std::string formatJournal(const std::vector<JournalEntry>& entries);

// The journal read back; nothing when it is not one we wrote (truncated, a line out of form,
// a path that is absolute, has "..", "." or empty elements, control characters, or names our
// own staging folders and temporary files, a staged name that is not a plain number). It comes
// from disk: whatever it says, recovery only moves files between the staging folder and the
// destination below it.
std::optional<std::vector<JournalEntry>> parseJournal(std::string_view text,
                                                      std::string* why = nullptr);

// Writes the journal into the staging folder and flushes it and the folder. Throws
// zandrel::Error.
void writeJournal(int stagingFd, const std::vector<JournalEntry>& entries, const QString& what);

// What recoverInstalls did.
struct Recovery {
    int finished = 0;      // commits rolled forward
    QStringList problems;  // journals that could not be followed, left where they are
};

// Finishes the commits that a killed process of ours left in `destination` (see above), then
// removes its other leftovers (files::sweep). Staging folders still in use by a running
// process (locked) are left alone. Failures are collected, never thrown: the destination is
// at worst left as it was found.
Recovery recoverInstalls(const QString& destination);

}  // namespace zandrel::archive
