#pragma once

#include "frame/form.h"
#include "windows/file_list.h"

namespace zandrel::windows {

// The map backup window: the backup folder's maps on the left, the map folder's on the right,
// each side with its selection label and its actions.
class FrmBackup : public frame::Form {
    Q_OBJECT
public:
    static constexpr const char* kKind = "frmBackup";
    static inline const QString kNoFile = QStringLiteral("<<< No File Selected >>>");

    explicit FrmBackup(frame::Registry& registry);

    void load() override;

    frame::Button* cmdClose;
    frame::Button* cmdCurrentDelete;
    QGroupBox* fraCurrent;
    frame::Label* lblCurrentFile;
    frame::Button* cmdBackup;
    frame::Button* cmdBackupDelete;
    QGroupBox* fraBackup;
    frame::Label* lblBackupFile;
    frame::Button* cmdRestore;
    FileList* CurrentFile;
    FileList* BackupFile;
    frame::Line* Sererator;
    frame::Label* Label3;
    frame::Label* Label2;
    frame::Label* Label1;
    frame::Image* Image1;

    // Folder paths with a trailing separator; a file's path is the folder plus its bare name.
    QString mapFolder() const;
    QString backupFolder() const;

private:
    void CurrentFile_Click();
    void BackupFile_Click();
    void cmdBackup_Click();
    void cmdRestore_Click();
    void cmdCurrentDelete_Click();
    void cmdBackupDelete_Click();
    void cmdClose_Click();
};

// The file operations behind the window's buttons. `name` is a bare file name; anything that
// could reach outside the folder (a separator, "." or "..") is refused. Both raise
// zandrel::Error on failure, with the operating system's number and text where it has one.

// Copies fromFolder + name over toFolder + name. The copy is written to a temporary file in the
// destination folder and renamed over the destination only once complete, so a failed copy
// leaves the destination as it was. A read-only destination is refused, as Windows refuses it.
void copyMapFile(const QString& fromFolder, const QString& toFolder, const QString& name);

// Deletes exactly folder + name, which must be a regular file that is not read-only.
void deleteMapFile(const QString& folder, const QString& name);

}  // namespace zandrel::windows
