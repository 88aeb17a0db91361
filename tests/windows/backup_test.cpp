// The map backup window on real folders: listing, selection by mouse and keyboard, the four
// file actions, and what a failing file operation does to the program and to the files. What
// is listed and how a copy or delete fails in detail is the map folder's own test
// (tests/maps).
#include "base/error.h"
#include "frame/form.h"
#include "frame/frame_fixture.h"
#include "windows/frm_backup.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTest>

#include <gtest/gtest.h>

namespace zandrel::windows {

using namespace frame;
namespace {

const QString kNoFile = QStringLiteral("<<< No File Selected >>>");

// Records which windows were ever put on screen.
struct ShowSpy : QObject {
    QStringList shown;
    bool eventFilter(QObject* o, QEvent* e) override {
        if (e->type() == QEvent::Show && o->isWidgetType() &&
            static_cast<QWidget*>(o)->isWindow()) {
            shown << o->objectName();
        }
        return false;
    }
};

class BackupTest : public ::testing::Test, public test::FrameFixture {
protected:
    BackupTest() {
        reg().define<FrmBackup>();
        qApp->installEventFilter(&spy);
    }
    ~BackupTest() override {
        qApp->removeEventFilter(&spy);
        // Read-only files must not stop the temporary folder from being removed.
        for (const QString& sub : {QStringLiteral("maps"), QStringLiteral("backup")}) {
            QDir d(path(sub));
            for (const QString& f : d.entryList(QDir::Files | QDir::Hidden)) {
                QFile::setPermissions(d.filePath(f), QFile::ReadOwner | QFile::WriteOwner);
            }
        }
    }

    FrmBackup& open() {
        reg().start<FrmBackup>();
        return reg().form<FrmBackup>();
    }

    // Selects an entry with a real mouse click.
    static void click(FileList* list, const QString& name) {
        const auto found = list->findItems(name, Qt::MatchExactly | Qt::MatchCaseSensitive);
        ASSERT_EQ(found.size(), 1) << name.toStdString();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                          list->visualItemRect(found.first()).center());
    }

    QStringList filesIn(const QString& sub) const {
        return QDir(path(sub)).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
    }

    const test::Box& lastBox() const { return boxes.boxes.back(); }

    ShowSpy spy;
};

TEST_F(BackupTest, OpensWithBothFoldersListedAndTheFocusOnTheBackupList) {
    writeFile(QStringLiteral("maps/bloodgulch.map"), "m1");
    writeFile(QStringLiteral("maps/LEVEL.MAP"), "m2");
    writeFile(QStringLiteral("backup/beavercreek.map"), "b1");
    FrmBackup& w = open();

    EXPECT_TRUE(reg().isVisible<FrmBackup>());
    EXPECT_EQ(w.windowTitle(), QStringLiteral("Map Backups"));
    EXPECT_EQ(w.size(), QSize(400, 462));
    EXPECT_EQ(w.focusWidget(), w.BackupFile);
    EXPECT_EQ(w.CurrentFile->names(),
              QStringList({QStringLiteral("bloodgulch.map"), QStringLiteral("LEVEL.MAP")}));
    EXPECT_EQ(w.BackupFile->names(), QStringList{QStringLiteral("beavercreek.map")});
    EXPECT_EQ(w.lblCurrentFile->text(), kNoFile);
    EXPECT_EQ(w.lblBackupFile->text(), kNoFile);
    EXPECT_EQ(w.fraCurrent->title(), QStringLiteral("  Current File  "));
    EXPECT_EQ(w.fraBackup->title(), QStringLiteral("  Current File  "));
    EXPECT_EQ(w.BackupFile->geometry(), QRect(4, 62, 183, 266));
    EXPECT_EQ(w.CurrentFile->geometry(), QRect(212, 62, 183, 266));

    // Tab order: left list, right list, then the buttons left to right, "Finished" last.
    const QWidget* expected[] = {w.CurrentFile,      w.cmdRestore, w.cmdBackupDelete, w.cmdBackup,
                                 w.cmdCurrentDelete, w.cmdClose,   w.BackupFile};
    const QWidget* at = w.BackupFile;
    for (const QWidget* next : expected) {
        at = at->nextInFocusChain();
        while (at->focusPolicy() == Qt::NoFocus) at = at->nextInFocusChain();
        EXPECT_EQ(at, next) << at->objectName().toStdString();
    }
}

TEST_F(BackupTest, MissingFolderEndsTheProgramBeforeTheWindowIsShown) {
    for (const char* missing : {"backup", "maps"}) {
        SCOPED_TRACE(missing);
        test::FrameFixture f;
        f.reg().define<FrmBackup>();
        ASSERT_TRUE(QDir(f.path(QString::fromLatin1(missing))).removeRecursively());
        spy.shown.clear();

        f.reg().start<FrmBackup>();

        EXPECT_TRUE(f.reg().ended());
        ASSERT_EQ(f.boxes.boxes.size(), 1u);
        EXPECT_EQ(f.boxes.boxes[0].title, QStringLiteral("Zandrel"));
        EXPECT_EQ(f.boxes.boxes[0].icon, MsgIcon::Critical);
        EXPECT_TRUE(f.boxes.boxes[0].prompt.contains(QString::number(ENOENT)));
        EXPECT_TRUE(f.boxes.boxes[0].prompt.contains(QStringLiteral("No such file or directory")));
        EXPECT_FALSE(spy.shown.contains(QStringLiteral("frmBackup")));
        EXPECT_FALSE(QFileInfo::exists(f.path(QString::fromLatin1(missing))));
    }
}

TEST_F(BackupTest, SelectingByMouseAndArrowKeysFillsTheSideLabel) {
    writeFile(QStringLiteral("maps/a.map"), "1");
    writeFile(QStringLiteral("maps/b.map"), "2");
    writeFile(QStringLiteral("maps/c.map"), "3");
    writeFile(QStringLiteral("backup/z.map"), "4");
    FrmBackup& w = open();

    click(w.CurrentFile, QStringLiteral("b.map"));
    EXPECT_EQ(w.lblCurrentFile->text(), QStringLiteral("b.map"));
    QTest::keyClick(w.CurrentFile, Qt::Key_Down);
    EXPECT_EQ(w.lblCurrentFile->text(), QStringLiteral("c.map"));
    QTest::keyClick(w.CurrentFile, Qt::Key_Up);
    QTest::keyClick(w.CurrentFile, Qt::Key_Up);
    EXPECT_EQ(w.lblCurrentFile->text(), QStringLiteral("a.map"));
    EXPECT_EQ(w.lblBackupFile->text(), kNoFile);  // the other side is untouched

    // The left list has the focus from the start; the first arrow press selects its first entry.
    QTest::keyClick(w.BackupFile, Qt::Key_Down);
    EXPECT_EQ(w.lblBackupFile->text(), QStringLiteral("z.map"));
    EXPECT_EQ(w.lblCurrentFile->text(), QStringLiteral("a.map"));
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(BackupTest, EveryActionWithoutASelectionOnlyShowsItsMessage) {
    FrmBackup& w = open();
    ASSERT_TRUE(w.CurrentFile->names().isEmpty());
    ASSERT_TRUE(w.BackupFile->names().isEmpty());

    for (Button* b : {w.cmdBackup, w.cmdRestore, w.cmdCurrentDelete, w.cmdBackupDelete}) {
        QTest::mouseClick(b, Qt::LeftButton);
    }
    EXPECT_EQ(boxes.prompts(),
              QStringList({QStringLiteral("You must select a file to backup first!"),
                           QStringLiteral("You must select a file to restore first!"),
                           QStringLiteral("You must select a file to delete first!"),
                           QStringLiteral("You must select a file to delete first!")}));
    for (const auto& b : boxes.boxes) {
        EXPECT_EQ(b.title, QStringLiteral("Info:"));
        EXPECT_EQ(b.icon, MsgIcon::None);
    }
    EXPECT_FALSE(reg().ended());
    EXPECT_TRUE(filesIn(QStringLiteral("maps")).isEmpty());
    EXPECT_TRUE(filesIn(QStringLiteral("backup")).isEmpty());
}

TEST_F(BackupTest, CopiesReplaceTheOtherSidesFileWithoutAPrompt) {
    // Larger than one copy buffer, with bytes of every value.
    QByteArray big;
    for (int i = 0; i < 3 * 1024 * 1024 + 17; ++i) big.append(static_cast<char>(i * 7));
    struct Case {
        const char* name;
        bool backup;  // else restore
        const char* from;
        const char* to;
    };
    const Case cases[] = {
        {"backup over an older copy", true, "maps", "backup"},
        {"restore over the current map", false, "backup", "maps"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::FrameFixture f;
        f.reg().define<FrmBackup>();
        const QString from = QString::fromLatin1(c.from) + QStringLiteral("/x.map");
        const QString to = QString::fromLatin1(c.to) + QStringLiteral("/x.map");
        f.writeFile(from, big);
        f.writeFile(to, "old content");
        f.reg().start<FrmBackup>();
        FrmBackup& w = f.reg().form<FrmBackup>();

        click(c.backup ? w.CurrentFile : w.BackupFile, QStringLiteral("x.map"));
        QTest::mouseClick(c.backup ? w.cmdBackup : w.cmdRestore, Qt::LeftButton);

        EXPECT_TRUE(f.boxes.boxes.empty());
        EXPECT_EQ(f.readFile(to), big);
        EXPECT_EQ(f.readFile(from), big);
        EXPECT_EQ(QDir(f.path(QString::fromLatin1(c.to))).entryList(QDir::Files | QDir::Hidden),
                  QStringList{QStringLiteral("x.map")});  // no temporary file left behind
        EXPECT_EQ(w.lblCurrentFile->text(), kNoFile);
        EXPECT_EQ(w.lblBackupFile->text(), kNoFile);
        EXPECT_FALSE(f.reg().ended());
    }
}

// A map's name may come from a server's archive: the list and the label show its hidden
// characters escaped, and the commands act on the file of that name.
TEST_F(BackupTest, ANameWithHiddenCharactersShowsEscapedAndIsTheFileActedOn) {
    const QString name = QStringLiteral("evil\u202Epam.map");
    const QString shown = QStringLiteral("evil\\u202epam.map");
    writeFile(QStringLiteral("maps/") + name, "the map");
    writeFile(QStringLiteral("maps/plain.map"), "another");
    FrmBackup& w = open();
    EXPECT_EQ(w.CurrentFile->names(), (QStringList{name, QStringLiteral("plain.map")}));

    click(w.CurrentFile, shown);
    EXPECT_EQ(w.lblCurrentFile->text(), shown);
    QTest::mouseClick(w.cmdBackup, Qt::LeftButton);
    EXPECT_TRUE(boxes.boxes.empty());
    EXPECT_EQ(filesIn(QStringLiteral("backup")), QStringList{name});
    EXPECT_EQ(readFile(QStringLiteral("backup/") + name), QByteArray("the map"));
    EXPECT_EQ(w.BackupFile->item(0)->text(), shown);

    click(w.BackupFile, shown);
    QTest::mouseClick(w.cmdBackupDelete, Qt::LeftButton);
    EXPECT_TRUE(filesIn(QStringLiteral("backup")).isEmpty());
    EXPECT_FALSE(reg().ended());
}

TEST_F(BackupTest, BackupKeepsTheOtherSidesSelectionAndRestoreUsesIt) {
    writeFile(QStringLiteral("maps/new.map"), "new map");
    writeFile(QStringLiteral("maps/old.map"), "current old");
    writeFile(QStringLiteral("backup/old.map"), "saved old");
    FrmBackup& w = open();

    click(w.CurrentFile, QStringLiteral("new.map"));
    click(w.BackupFile, QStringLiteral("old.map"));
    QTest::mouseClick(w.cmdBackup, Qt::LeftButton);

    EXPECT_EQ(readFile(QStringLiteral("backup/new.map")), QByteArray("new map"));
    EXPECT_EQ(w.BackupFile->names(),
              QStringList({QStringLiteral("new.map"), QStringLiteral("old.map")}));
    EXPECT_EQ(w.lblCurrentFile->text(), kNoFile);
    EXPECT_EQ(w.lblBackupFile->text(), QStringLiteral("old.map"));

    // Whatever the refreshed list highlights, the label's name is restored.
    w.BackupFile->setCurrentRow(0);
    QTest::mouseClick(w.cmdRestore, Qt::LeftButton);
    EXPECT_EQ(readFile(QStringLiteral("maps/old.map")), QByteArray("saved old"));
    EXPECT_EQ(readFile(QStringLiteral("maps/new.map")), QByteArray("new map"));
    EXPECT_EQ(w.lblBackupFile->text(), kNoFile);
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(BackupTest, TheSecondPressForOneSelectionAsksForASelection) {
    writeFile(QStringLiteral("maps/a.map"), "a");
    FrmBackup& w = open();
    click(w.CurrentFile, QStringLiteral("a.map"));
    QTest::mouseClick(w.cmdBackup, Qt::LeftButton);
    QTest::mouseClick(w.cmdBackup, Qt::LeftButton);
    EXPECT_EQ(readFile(QStringLiteral("backup/a.map")), QByteArray("a"));
    EXPECT_EQ(boxes.prompts(),
              QStringList{QStringLiteral("You must select a file to backup first!")});
}

TEST_F(BackupTest, DeleteRemovesExactlyTheNamedFileOnItsOwnSide) {
    for (const char* name :
         {"maps/a.map", "maps/b.map", "maps/*.map", "backup/a.map", "backup/b.map"}) {
        writeFile(QString::fromLatin1(name), "x");
    }
    FrmBackup& w = open();

    // A name with a wildcard in it is a name, not a pattern.
    click(w.CurrentFile, QStringLiteral("*.map"));
    click(w.BackupFile, QStringLiteral("b.map"));
    QTest::mouseClick(w.cmdCurrentDelete, Qt::LeftButton);
    EXPECT_EQ(filesIn(QStringLiteral("maps")),
              QStringList({QStringLiteral("a.map"), QStringLiteral("b.map")}));
    EXPECT_EQ(w.CurrentFile->names(),
              QStringList({QStringLiteral("a.map"), QStringLiteral("b.map")}));
    EXPECT_EQ(w.lblCurrentFile->text(), kNoFile);
    EXPECT_EQ(w.lblBackupFile->text(), QStringLiteral("b.map"));

    QTest::mouseClick(w.cmdBackupDelete, Qt::LeftButton);
    EXPECT_EQ(filesIn(QStringLiteral("backup")), QStringList{QStringLiteral("a.map")});
    EXPECT_EQ(w.BackupFile->names(), QStringList{QStringLiteral("a.map")});
    EXPECT_EQ(filesIn(QStringLiteral("maps")),
              QStringList({QStringLiteral("a.map"), QStringLiteral("b.map")}));
    EXPECT_EQ(w.lblBackupFile->text(), kNoFile);
    EXPECT_TRUE(boxes.boxes.empty());
}

// A failing file operation is reported as an error and ends the program; what was on disk
// before stays as it was.
TEST_F(BackupTest, AFailedOperationEndsTheProgramAndLeavesTheFilesAsTheyWere) {
    struct Case {
        const char* name;
        bool selectMap;  // select x.map on the map side, else on the backup side
        Button* FrmBackup::*button;
        std::function<void(test::FrameFixture&)> after;  // what happens after the selection
        int number;
        const char* text;
    };
    const auto removeMap = [](test::FrameFixture& f) {
        QFile::remove(f.path(QStringLiteral("maps/x.map")));
    };
    const auto removeBackup = [](test::FrameFixture& f) {
        QFile::remove(f.path(QStringLiteral("backup/x.map")));
    };
    const auto readOnlyBackup = [](test::FrameFixture& f) {
        QFile::setPermissions(f.path(QStringLiteral("backup/x.map")),
                              QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
    };
    const auto readOnlyMap = [](test::FrameFixture& f) {
        QFile::setPermissions(f.path(QStringLiteral("maps/x.map")), QFile::ReadOwner);
    };
    const Case cases[] = {
        {"backup of a map removed meanwhile", true, &FrmBackup::cmdBackup, removeMap, ENOENT,
         "No such file or directory"},
        {"restore of a backup removed meanwhile", false, &FrmBackup::cmdRestore, removeBackup,
         ENOENT, "No such file or directory"},
        {"delete of a map removed meanwhile", true, &FrmBackup::cmdCurrentDelete, removeMap, ENOENT,
         "No such file or directory"},
        {"delete of a backup removed meanwhile", false, &FrmBackup::cmdBackupDelete, removeBackup,
         ENOENT, "No such file or directory"},
        {"backup over a read-only copy", true, &FrmBackup::cmdBackup, readOnlyBackup, EACCES,
         "Permission denied"},
        {"restore over a read-only map", false, &FrmBackup::cmdRestore, readOnlyMap, EACCES,
         "Permission denied"},
        {"delete of a read-only map", true, &FrmBackup::cmdCurrentDelete, readOnlyMap, EACCES,
         "Permission denied"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::FrameFixture f;
        f.reg().define<FrmBackup>();
        f.writeFile(QStringLiteral("maps/x.map"), "map content");
        f.writeFile(QStringLiteral("backup/x.map"), "backup content");
        f.writeFile(QStringLiteral("maps/other.map"), "other");
        f.reg().start<FrmBackup>();
        FrmBackup& w = f.reg().form<FrmBackup>();
        click(c.selectMap ? w.CurrentFile : w.BackupFile, QStringLiteral("x.map"));
        c.after(f);
        const QByteArray mapBefore = f.readFile(QStringLiteral("maps/x.map"));
        const QByteArray backupBefore = f.readFile(QStringLiteral("backup/x.map"));
        const QStringList mapsBefore =
            QDir(f.path(QStringLiteral("maps"))).entryList(QDir::Files | QDir::Hidden);
        const QStringList backupsBefore =
            QDir(f.path(QStringLiteral("backup"))).entryList(QDir::Files | QDir::Hidden);

        QTest::mouseClick(w.*(c.button), Qt::LeftButton);

        EXPECT_EQ(f.boxes.boxes.size(), 1u);
        if (!f.boxes.boxes.empty()) {
            const test::Box& report = f.boxes.boxes[0];
            EXPECT_EQ(report.title, QStringLiteral("Zandrel"));
            EXPECT_EQ(report.icon, MsgIcon::Critical);
            EXPECT_TRUE(report.prompt.contains(QString::number(c.number)))
                << report.prompt.toStdString();
            EXPECT_TRUE(report.prompt.contains(QString::fromLatin1(c.text)))
                << report.prompt.toStdString();
        }
        EXPECT_TRUE(f.reg().ended());
        EXPECT_FALSE(w.isVisible());
        EXPECT_EQ(f.readFile(QStringLiteral("maps/x.map")), mapBefore);
        EXPECT_EQ(f.readFile(QStringLiteral("backup/x.map")), backupBefore);
        EXPECT_EQ(f.readFile(QStringLiteral("maps/other.map")), QByteArray("other"));
        EXPECT_EQ(QDir(f.path(QStringLiteral("maps"))).entryList(QDir::Files | QDir::Hidden),
                  mapsBefore);
        EXPECT_EQ(QDir(f.path(QStringLiteral("backup"))).entryList(QDir::Files | QDir::Hidden),
                  backupsBefore);
        for (const QString& sub : {QStringLiteral("maps"), QStringLiteral("backup")}) {
            for (const QString& file : QDir(f.path(sub)).entryList(QDir::Files)) {
                QFile::setPermissions(f.path(sub + QLatin1Char('/') + file),
                                      QFile::ReadOwner | QFile::WriteOwner);
            }
        }
    }
}

TEST_F(BackupTest, FinishedShowsTheRestartNoticeThenEnds) {
    FrmBackup& w = open();
    QTest::mouseClick(w.cmdClose, Qt::LeftButton);
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].prompt,
              QStringLiteral("Zandrel must be restarted for changes to have an effect"));
    EXPECT_EQ(boxes.boxes[0].title, QStringLiteral("Restart required"));
    EXPECT_EQ(boxes.boxes[0].icon, MsgIcon::None);
    EXPECT_TRUE(reg().ended());
    EXPECT_FALSE(w.isVisible());
}

TEST_F(BackupTest, ShowingAgainKeepsTheSelectionsAndTheCloseBoxUnloads) {
    writeFile(QStringLiteral("maps/a.map"), "a");
    FrmBackup& w = open();
    click(w.CurrentFile, QStringLiteral("a.map"));
    reg().dispatch([this] { reg().show<FrmBackup>(); });
    EXPECT_EQ(&reg().form<FrmBackup>(), &w);
    EXPECT_EQ(w.lblCurrentFile->text(), QStringLiteral("a.map"));

    // The only window closes: it is unloaded and the program ends.
    w.close();
    EXPECT_FALSE(reg().isLoaded<FrmBackup>());
    EXPECT_TRUE(reg().ended());
    EXPECT_TRUE(boxes.boxes.empty());  // no restart notice
}

}  // namespace
}  // namespace zandrel::windows
