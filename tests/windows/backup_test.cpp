// The map backup window on real folders: listing, selection by mouse and keyboard, the four
// file actions, and what a failing file operation does to the program and to the files.
#include "base/error.h"
#include "frame/form.h"
#include "frame/frame_fixture.h"
#include "windows/frm_backup.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTest>

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <thread>

#include <fcntl.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

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

TEST_F(BackupTest, ListsOnlyPlainMapFilesWhateverTheirCase) {
    // A backslash is a separator to the game and to the paths the window builds: such a name
    // could be neither backed up nor deleted. Our own temporary files are never shown.
    for (const char* name :
         {"a.map", "LEVEL.MAP", "Mixed.Map", "notes.txt", "a.map.bak", "map", ".hidden.map",
          "*.map", "back\\slash.map", "..\\up.map", ".zandrel-tmp-abc123.map"}) {
        writeFile(QStringLiteral("maps/") + QString::fromLatin1(name), "x");
    }
    QFile::setPermissions(path(QStringLiteral("maps/a.map")), QFile::ReadOwner);  // read-only
    QDir(path(QStringLiteral("maps"))).mkdir(QStringLiteral("folder.map"));
    ASSERT_EQ(symlink("a.map", path(QStringLiteral("maps/link.map")).toLocal8Bit().constData()), 0);
    ASSERT_EQ(
        symlink("folder.map", path(QStringLiteral("maps/dirlink.map")).toLocal8Bit().constData()),
        0);
    ASSERT_EQ(mkfifo(path(QStringLiteral("maps/pipe.map")).toLocal8Bit().constData(), 0600), 0);

    FrmBackup& w = open();
    EXPECT_EQ(w.CurrentFile->names(),
              QStringList({QStringLiteral("*.map"), QStringLiteral("a.map"),
                           QStringLiteral("LEVEL.MAP"), QStringLiteral("Mixed.Map")}));
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

// A copy that cannot be written out completely (here: the file size limit stands in for a
// full disk) must not leave a half-written file in place of the old backup.
TEST_F(BackupTest, ACopyCutShortLeavesTheOldCopyInPlace) {
    const QByteArray map(3 * 1024 * 1024, 'm');
    writeFile(QStringLiteral("maps/x.map"), map);
    writeFile(QStringLiteral("backup/x.map"), "old backup");
    FrmBackup& w = open();
    click(w.CurrentFile, QStringLiteral("x.map"));

    struct rlimit saved;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);  // write() fails with EFBIG instead
    struct rlimit small = saved;
    small.rlim_cur = 1024 * 1024;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    QTest::mouseClick(w.cmdBackup, Qt::LeftButton);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_TRUE(boxes.boxes[0].prompt.contains(QString::number(EFBIG)));
    EXPECT_TRUE(reg().ended());
    EXPECT_EQ(readFile(QStringLiteral("backup/x.map")), QByteArray("old backup"));
    EXPECT_EQ(filesIn(QStringLiteral("backup")), QStringList{QStringLiteral("x.map")});
    EXPECT_EQ(readFile(QStringLiteral("maps/x.map")), map);
}

// The game (or anything else) writes the map while it is copied: the copy is torn, so it
// fails, and the backup it would have replaced stays as it was.
TEST_F(BackupTest, AMapThatChangesWhileCopiedFailsAndKeepsTheOldBackup) {
    constexpr off_t kSize = 24 << 20;
    struct Case {
        const char* name;
        void (*change)(int fd, int round);
    } cases[] = {
        {"shrinks", [](int fd, int round) { (void)!ftruncate(fd, round % 2 ? kSize / 3 : kSize); }},
        {"grows", [](int fd, int round) { (void)!ftruncate(fd, round % 2 ? kSize * 2 : kSize); }},
        {"rewritten in place",
         [](int fd, int round) {
             const char b = char(round);
             (void)!pwrite(fd, &b, 1, kSize / 2);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::FrameFixture f;
        f.reg().define<FrmBackup>();
        f.writeFile(QStringLiteral("maps/x.map"), QByteArray(kSize, 'm'));
        f.writeFile(QStringLiteral("backup/x.map"), "old backup");
        f.reg().start<FrmBackup>();
        FrmBackup& w = f.reg().form<FrmBackup>();

        std::atomic<bool> stop{false};
        std::atomic<int> rounds{0};
        const QByteArray map = QFile::encodeName(f.path(QStringLiteral("maps/x.map")));
        std::thread writer([&] {
            const int fd = ::open(map.constData(), O_WRONLY);
            for (int round = 0; !stop; ++round) {
                c.change(fd, round);
                ++rounds;
            }
            ::close(fd);
        });
        while (rounds == 0) std::this_thread::yield();
        // A copy that happens to run wholly between two changes is a good copy of one version;
        // the window then goes on, and the next press tries again.
        QByteArray before;
        for (int attempt = 0; attempt < 10 && f.boxes.boxes.empty(); ++attempt) {
            before = f.readFile(QStringLiteral("backup/x.map"));
            click(w.CurrentFile, QStringLiteral("x.map"));
            QTest::mouseClick(w.cmdBackup, Qt::LeftButton);
            if (f.boxes.boxes.empty()) {
                const qint64 size = QFileInfo(f.path(QStringLiteral("backup/x.map"))).size();
                EXPECT_TRUE(size == kSize / 3 || size == kSize || size == kSize * 2) << size;
            }
        }
        stop = true;
        writer.join();

        EXPECT_EQ(f.boxes.boxes.size(), 1u);
        if (!f.boxes.boxes.empty()) {
            EXPECT_EQ(f.boxes.boxes[0].icon, MsgIcon::Critical);
            EXPECT_TRUE(
                f.boxes.boxes[0].prompt.contains(QStringLiteral("changed while it was copied")))
                << f.boxes.boxes[0].prompt.toStdString();
        }
        EXPECT_TRUE(f.reg().ended());
        EXPECT_EQ(f.readFile(QStringLiteral("backup/x.map")), before);
        EXPECT_EQ(QDir(f.path(QStringLiteral("backup")))
                      .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                  QStringList{QStringLiteral("x.map")});
    }
}

TEST_F(BackupTest, ASparseMapGivesASparseCopyAndLeftoversOfAKilledCopyGo) {
    // 256 MiB with a little data at both ends: a dense copy would take 256 MiB of disk.
    const QByteArray map = QFile::encodeName(path(QStringLiteral("maps/big.map")));
    {
        const int fd = ::open(map.constData(), O_WRONLY | O_CREAT, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(pwrite(fd, "head", 4, 0), 4);
        ASSERT_EQ(pwrite(fd, "tail", 4, (256 << 20) - 4), 4);
        ::close(fd);
    }
    // What a copy killed halfway leaves in the backup folder.
    writeFile(QStringLiteral("backup/.zandrel-tmp-killed0000"), QByteArray(4096, 'k'));
    FrmBackup& w = open();
    click(w.CurrentFile, QStringLiteral("big.map"));
    QTest::mouseClick(w.cmdBackup, Qt::LeftButton);

    EXPECT_TRUE(boxes.boxes.empty());
    struct stat src {
    }, dst{};
    ASSERT_EQ(::stat(map.constData(), &src), 0);
    ASSERT_EQ(::stat(QFile::encodeName(path(QStringLiteral("backup/big.map"))).constData(), &dst),
              0);
    EXPECT_EQ(dst.st_size, src.st_size);
    EXPECT_LE(dst.st_blocks, src.st_blocks + 64) << "the backup is dense";
    EXPECT_EQ(readFile(QStringLiteral("backup/big.map")), readFile(QStringLiteral("maps/big.map")));
    EXPECT_EQ(filesIn(QStringLiteral("backup")), QStringList{QStringLiteral("big.map")});
    EXPECT_EQ(w.BackupFile->names(), QStringList{QStringLiteral("big.map")});
}

TEST_F(BackupTest, FileOperationsRefuseNamesThatLeaveTheFolder) {
    writeFile(QStringLiteral("maps/a.map"), "a");
    writeFile(QStringLiteral("outside.map"), "outside");
    const QString maps = path(QStringLiteral("maps")) + QLatin1Char('/');
    const QString backup = path(QStringLiteral("backup")) + QLatin1Char('/');
    for (const char* name : {"", ".", "..", "../outside.map", "sub/a.map", "..\\outside.map"}) {
        SCOPED_TRACE(name);
        EXPECT_THROW(copyMapFile(backup, maps, QString::fromLatin1(name)), Error);
        EXPECT_THROW(deleteMapFile(maps, QString::fromLatin1(name)), Error);
    }
    // A folder is never deleted or copied, even when its name looks like a map.
    QDir(path(QStringLiteral("maps"))).mkdir(QStringLiteral("dir.map"));
    EXPECT_THROW(deleteMapFile(maps, QStringLiteral("dir.map")), Error);
    EXPECT_THROW(copyMapFile(maps, backup, QStringLiteral("dir.map")), Error);
    EXPECT_EQ(readFile(QStringLiteral("outside.map")), QByteArray("outside"));
    EXPECT_EQ(readFile(QStringLiteral("maps/a.map")), QByteArray("a"));
    EXPECT_TRUE(QFileInfo(path(QStringLiteral("maps/dir.map"))).isDir());
    EXPECT_TRUE(filesIn(QStringLiteral("backup")).isEmpty());
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
