#pragma once

#include "archive/header_pass.h"

#include <QString>

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace zandrel::files {
class StagingFolder;
}

namespace zandrel::archive {

// The install half of an extraction: the entries' data is written into a staging folder of
// the file layer inside the destination (one file per entry, named by its number), and moved
// into place only when all of it is there.
//
// Moving in is one rename per file: a replaced file is swapped with the staged one
// (RENAME_EXCHANGE), so that it ends up in the staging folder under the staged name, and every
// step can be undone. On any failure the steps are undone, last first, and the staging folder
// is removed: the destination is as it was. After commit() the staging folder holds only the
// replaced files; release() hands it over, to be destroyed (and its files freed) later. The
// staging folder stays locked until then.
//
// A process killed during commit() leaves a journal (install_journal.h), and the next
// recoverInstalls() on the destination finishes the commit: the update is all old or all new.
// The program runs it at its start, and every StagedInstall does before it sweeps.
class StagedInstall {
public:
    // Sweeps what an earlier, killed writer left in the destination, then makes the staging
    // folder. Throws zandrel::Error.
    StagedInstall(int destFd, const QString& destination);
    ~StagedInstall();
    StagedInstall(const StagedInstall&) = delete;
    StagedInstall& operator=(const StagedInstall&) = delete;

    // A new file in the staging folder for entry `index`, open for writing.
    int createStaged(std::size_t index, const QString& what);

    // Moves every staged file to its planned path, creating folders as needed, after writing
    // the journal. Throws zandrel::Error after undoing every step already made.
    void commit(const std::vector<PlannedEntry>& entries);

    // Called before each move of commit() with its number (from 0), and once more after the
    // last, before the journal is removed: lets a test stop the process at any of them.
    std::function<void(std::size_t move)> beforeMove;

    // After commit(): the staging folder, now the caller's; destroying it frees the replaced
    // files.
    std::unique_ptr<files::StagingFolder> release();

private:
    struct Undo {
        enum Kind { Created, Exchanged, MovedAside, Folder } kind;
        std::string folder;  // parent folder, relative to the destination
        std::string leaf;
        std::string staged;  // name in the staging folder
    };
    int openFolder(const std::string& path, bool create);
    int openElement(int parent, const std::string& part, const std::string& sofar, bool create,
                    int& err, bool& making);
    void place(const PlannedEntry& entry, const std::string& staged);
    void rollback();
    void journal(const std::vector<PlannedEntry>& entries);

    int destFd_;
    QString destination_;
    std::unique_ptr<files::StagingFolder> staging_;
    int stagingFd_ = -1;
    void closeFolders();
    // The folders held open while moving in, most recent first: a few, however many folders
    // the archive has.
    static constexpr std::size_t kOpenFolders = 16;
    std::vector<std::pair<std::string, int>> open_;
    std::vector<Undo> undo_;
    bool committed_ = false;
    bool journalled_ = false;
};

}  // namespace zandrel::archive
