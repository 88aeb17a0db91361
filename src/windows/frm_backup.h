#pragma once

#include "frame/form.h"
#include "windows/file_list.h"

#include <optional>

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

    // The name a side's selection label holds; none after telling the player, in the action's
    // own message, to select a file first.
    void showSelected(frame::Label* selection, const QString& name);
    std::optional<QString> selectedOrTell(const frame::Label* selection, const QString& message);
    void refreshLists();
};

}  // namespace zandrel::windows
