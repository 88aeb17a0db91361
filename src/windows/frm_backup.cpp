#include "frm_backup.h"

#include "frame/shown_text.h"

#include "maps/map_folder.h"

namespace zandrel::windows {

namespace {

constexpr char kSelectedName[] = "selectedName";

}  // namespace

using namespace frame;

namespace {

Design backupDesign() {
    Design d;
    d.title = QStringLiteral("Map Backups");
    d.clientWidth = 6000;
    d.clientHeight = 6930;
    d.border = Border::FixedSingle;
    d.inTaskBar = true;
    d.position = FirstPosition::CentreScreen;
    d.background = kBlack;
    d.programIcon = false;
    return d;
}

void styleFrame(QGroupBox* frame) {
    QPalette pal = frame->palette();
    pal.setColor(QPalette::Window, kBlack);
    pal.setColor(QPalette::WindowText, kWhite);
    frame->setPalette(pal);
    frame->setAutoFillBackground(true);
}

}  // namespace

FrmBackup::FrmBackup(Registry& registry) : Form(registry, kKind, backupDesign()) {
    // Controls front to back.
    cmdClose = addButton("cmdClose", QStringLiteral("Finished"), {1980, 6540, 2085, 345}, 13);
    cmdCurrentDelete = addButton("cmdCurrentDelete", QStringLiteral("Delete Selected File"),
                                 {3180, 6060, 2745, 345}, 12);
    fraCurrent =
        addFrame("fraCurrent", QStringLiteral("  Current File  "), {3180, 4980, 2715, 585}, 10);
    lblCurrentFile = addLabel("lblCurrentFile", kNoFile, {120, 270, 2475, 225}, fraCurrent);
    cmdBackup =
        addButton("cmdBackup", QStringLiteral("Backup Selected File"), {3180, 5670, 2745, 345}, 9);
    cmdBackupDelete = addButton("cmdBackupDelete", QStringLiteral("Delete Selected File"),
                                {90, 6060, 2745, 345}, 8);
    fraBackup = addFrame("fraBackup", QStringLiteral("  Current File  "), {90, 4980, 2715, 585}, 6);
    lblBackupFile = addLabel("lblBackupFile", kNoFile, {120, 270, 2475, 225}, fraBackup);
    cmdRestore =
        addButton("cmdRestore", QStringLiteral("Restore Selected File"), {90, 5670, 2745, 345}, 5);
    CurrentFile = place(new FileList(this), "CurrentFile", {3180, 930, 2745, 3990}, 3);
    BackupFile = place(new FileList(this), "BackupFile", {60, 930, 2745, 3990}, 1);
    Sererator = addLine("Sererator", 3000, 570, 3000, 6420, kWhite);
    Label3 = addLabel("Label3", QStringLiteral("Current Files:"), {3180, 660, 2745, 255});
    Label2 = addLabel("Label2", QStringLiteral("Backed Up Files:"), {60, 660, 2745, 255});
    Label1 = addLabel("Label1", QStringLiteral("Map Backups"), {2010, 60, 2415, 495});
    Image1 = addImage("Image1", QStringLiteral(":/backup.png"), {0, 0, 2370, 1185});

    styleFrame(fraCurrent);
    styleFrame(fraBackup);
    for (Label* l : {lblCurrentFile, lblBackupFile}) {
        l->setColours(kWhite, kBlack, /*transparent=*/false);
        l->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    }
    for (Label* l : {Label3, Label2}) {
        l->setColours(kWhite, kBlack, /*transparent=*/true);
        l->setFont(designFont(QStringLiteral("MS Sans Serif"), 8.25, true));
    }
    Label1->setColours(kWhite, kBlack, /*transparent=*/true);
    Label1->setFont(designFont(QStringLiteral("MS Sans Serif"), 18, true));

    connect(CurrentFile, &FileList::clicked, this, handler([this] { CurrentFile_Click(); }));
    connect(BackupFile, &FileList::clicked, this, handler([this] { BackupFile_Click(); }));
    connect(cmdBackup, &Button::clicked, this, handler([this] { cmdBackup_Click(); }));
    connect(cmdRestore, &Button::clicked, this, handler([this] { cmdRestore_Click(); }));
    connect(cmdCurrentDelete, &Button::clicked, this,
            handler([this] { cmdCurrentDelete_Click(); }));
    connect(cmdBackupDelete, &Button::clicked, this, handler([this] { cmdBackupDelete_Click(); }));
    connect(cmdClose, &Button::clicked, this, handler([this] { cmdClose_Click(); }));
}

QString FrmBackup::mapFolder() const {
    return maps::mapFolder(reg().appFolder());
}

QString FrmBackup::backupFolder() const {
    return maps::backupFolder(reg().appFolder());
}

// Neither folder is created here: a missing one ends the load with an error.
void FrmBackup::load() {
    BackupFile->setPath(backupFolder());
    BackupFile->setPattern(maps::kMapPattern);
    CurrentFile->setPath(mapFolder());
    CurrentFile->setPattern(maps::kMapPattern);
}

void FrmBackup::CurrentFile_Click() {
    showSelected(lblCurrentFile, CurrentFile->fileName());
}

void FrmBackup::BackupFile_Click() {
    showSelected(lblBackupFile, BackupFile->fileName());
}

// A map's name may come from a server's archive: the label shows it escaped, as the list does,
// and keeps the name itself for the command that acts on the file.
void FrmBackup::showSelected(Label* selection, const QString& name) {
    selection->setText(shownText(name));
    selection->setProperty(kSelectedName, name);
}

std::optional<QString> FrmBackup::selectedOrTell(const Label* selection, const QString& message) {
    if (selection->text() != kNoFile) return selection->property(kSelectedName).toString();
    reg().msgBox(message, MsgIcon::None, QStringLiteral("Info:"));
    return std::nullopt;
}

void FrmBackup::refreshLists() {
    CurrentFile->refresh();
    BackupFile->refresh();
}

void FrmBackup::cmdBackup_Click() {
    const auto name =
        selectedOrTell(lblCurrentFile, QStringLiteral("You must select a file to backup first!"));
    if (!name) return;
    maps::copyMapFile(mapFolder(), backupFolder(), *name);
    refreshLists();
    lblCurrentFile->setText(kNoFile);
}

void FrmBackup::cmdRestore_Click() {
    const auto name =
        selectedOrTell(lblBackupFile, QStringLiteral("You must select a file to restore first!"));
    if (!name) return;
    maps::copyMapFile(backupFolder(), mapFolder(), *name);
    refreshLists();
    lblBackupFile->setText(kNoFile);
}

// A delete resets its label before the lists are read again; a copy does so after.
void FrmBackup::cmdCurrentDelete_Click() {
    const auto name =
        selectedOrTell(lblCurrentFile, QStringLiteral("You must select a file to delete first!"));
    if (!name) return;
    maps::deleteMapFile(mapFolder(), *name);
    lblCurrentFile->setText(kNoFile);
    refreshLists();
}

void FrmBackup::cmdBackupDelete_Click() {
    const auto name =
        selectedOrTell(lblBackupFile, QStringLiteral("You must select a file to delete first!"));
    if (!name) return;
    maps::deleteMapFile(backupFolder(), *name);
    lblBackupFile->setText(kNoFile);
    refreshLists();
}

void FrmBackup::cmdClose_Click() {
    reg().msgBox(QStringLiteral("Zandrel must be restarted for changes to have an effect"),
                 MsgIcon::None, QStringLiteral("Restart required"));
    reg().end();
}

}  // namespace zandrel::windows
