// The map folder without a window: what is listed, and what a copy or a delete does to the
// files when it succeeds and when it fails.
#include "maps/map_folder.h"

#include "base/error.h"
#include "env_var.h"
#include "folders/folder_helpers.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <functional>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zandrel::maps {
namespace {

using test::folderEntries;
using test::readFile;

class MapFolderTest : public ::testing::Test {
protected:
    MapFolderTest() {
        QDir(dir.path()).mkpath(QStringLiteral("maps"));
        QDir(dir.path()).mkpath(QStringLiteral("backup"));
    }
    ~MapFolderTest() override {
        // Read-only files must not stop the temporary folder from being removed.
        for (const QString& sub : {QStringLiteral("maps"), QStringLiteral("backup")}) {
            for (const QString& f : QDir(path(sub)).entryList(QDir::Files | QDir::Hidden)) {
                QFile::setPermissions(path(sub) + QLatin1Char('/') + f,
                                      QFile::ReadOwner | QFile::WriteOwner);
            }
        }
    }

    QString path(const QString& relative) const { return dir.filePath(relative); }
    QString maps() const { return mapFolder(dir.path()); }
    QString backup() const { return backupFolder(dir.path()); }
    void write(const QString& relative, const QByteArray& bytes) const {
        test::writeFile(path(relative), bytes);
    }
    QByteArray read(const QString& relative) const { return readFile(path(relative)); }
    static QByteArray raw(const QString& p) { return QFile::encodeName(p); }

    QTemporaryDir dir;
};

TEST_F(MapFolderTest, TheFoldersEndInASeparatorInsideTheApplicationFolder) {
    EXPECT_EQ(mapFolder(QStringLiteral("/games/halo")), QStringLiteral("/games/halo/maps/"));
    EXPECT_EQ(backupFolder(QStringLiteral("/games/halo")), QStringLiteral("/games/halo/backup/"));
}

TEST_F(MapFolderTest, ListsOnlyPlainFilesThatMatchWhateverTheirCase) {
    // A backslash is a separator to the game and to the paths built from a folder: such a name
    // could be neither backed up nor deleted. Our own temporary files are never listed.
    for (const char* name :
         {"a.map", "LEVEL.MAP", "Mixed.Map", "notes.txt", "a.map.bak", "map", ".hidden.map",
          "*.map", "back\\slash.map", "..\\up.map", ".zandrel-tmp-abc123.map"}) {
        write(QStringLiteral("maps/") + QString::fromLatin1(name), "x");
    }
    QFile::setPermissions(path(QStringLiteral("maps/a.map")), QFile::ReadOwner);  // read-only
    QDir(maps()).mkdir(QStringLiteral("folder.map"));
    ASSERT_EQ(symlink("a.map", raw(maps() + QStringLiteral("link.map")).constData()), 0);
    ASSERT_EQ(symlink("folder.map", raw(maps() + QStringLiteral("dirlink.map")).constData()), 0);
    ASSERT_EQ(mkfifo(raw(maps() + QStringLiteral("pipe.map")).constData(), 0600), 0);

    struct Case {
        const char* pattern;
        QStringList names;
    } cases[] = {
        {"*.map", {"*.map", "a.map", "LEVEL.MAP", "Mixed.Map"}},
        {"*.*", {"*.map", "a.map", "a.map.bak", "LEVEL.MAP", "map", "Mixed.Map", "notes.txt"}},
        {"?.MAP", {"*.map", "a.map"}},  // "*" is a character of a name too
        {"*.txt; *.bak", {"a.map.bak", "notes.txt"}},
        {"*.wad", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pattern);
        EXPECT_EQ(listFiles(maps(), QString::fromLatin1(c.pattern)), c.names);
    }
}

TEST_F(MapFolderTest, AFolderThatCannotBeReadIsAnErrorWithTheSystemsNumber) {
    write(QStringLiteral("file"), "x");
    const struct {
        const char* name;
        QString folder;
        int number;
    } cases[] = {
        {"missing", path(QStringLiteral("gone/")), ENOENT},
        {"a file", path(QStringLiteral("file/")), ENOTDIR},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        try {
            listFiles(c.folder, kMapPattern);
            ADD_FAILURE() << "listed";
        } catch (const Error& e) {
            EXPECT_EQ(e.number(), c.number);
            EXPECT_EQ(e.description(), QString::fromLocal8Bit(std::strerror(c.number)) +
                                           QStringLiteral(": ") + c.folder);
        }
    }
}

TEST_F(MapFolderTest, CopyReplacesTheOtherSidesFileAndDeleteRemovesExactlyOne) {
    write(QStringLiteral("maps/x.map"), "new map");
    write(QStringLiteral("backup/x.map"), "old backup");
    write(QStringLiteral("maps/x.map.bak"), "keep");
    copyMapFile(maps(), backup(), QStringLiteral("x.map"));
    EXPECT_EQ(read(QStringLiteral("backup/x.map")), QByteArray("new map"));

    deleteMapFile(maps(), QStringLiteral("x.map"));
    EXPECT_EQ(folderEntries(maps()), QStringList{QStringLiteral("x.map.bak")});
    EXPECT_EQ(folderEntries(backup()), QStringList{QStringLiteral("x.map")});
}

// Each failure leaves both folders exactly as they were.
TEST_F(MapFolderTest, AFailedCopyOrDeleteIsAnErrorAndChangesNothing) {
    write(QStringLiteral("maps/x.map"), "map");
    write(QStringLiteral("backup/ro.map"), "read-only backup");
    write(QStringLiteral("maps/ro.map"), "read-only map");
    QFile::setPermissions(path(QStringLiteral("backup/ro.map")), QFile::ReadOwner);
    QFile::setPermissions(path(QStringLiteral("maps/ro.map")), QFile::ReadOwner);
    write(QStringLiteral("outside.map"), "outside");
    ASSERT_EQ(symlink("../outside.map", raw(maps() + QStringLiteral("link.map")).constData()), 0);
    QDir(maps()).mkdir(QStringLiteral("dir.map"));

    const struct {
        const char* name;
        std::function<void()> act;
        int number;
    } cases[] = {
        {"copy of a missing map", [&] { copyMapFile(maps(), backup(), QStringLiteral("no.map")); },
         ENOENT},
        {"copy over a read-only copy",
         [&] { copyMapFile(maps(), backup(), QStringLiteral("ro.map")); }, EACCES},
        {"copy of a folder", [&] { copyMapFile(maps(), backup(), QStringLiteral("dir.map")); },
         EISDIR},
        {"copy of a link", [&] { copyMapFile(maps(), backup(), QStringLiteral("link.map")); },
         int(ErrorNumber::BadFileName)},
        {"copy into a missing folder",
         [&] { copyMapFile(maps(), path(QStringLiteral("gone/")), QStringLiteral("x.map")); },
         ENOENT},
        {"delete of a missing map", [&] { deleteMapFile(maps(), QStringLiteral("no.map")); },
         ENOENT},
        {"delete of a read-only map", [&] { deleteMapFile(maps(), QStringLiteral("ro.map")); },
         EACCES},
        {"delete of a folder", [&] { deleteMapFile(maps(), QStringLiteral("dir.map")); }, EISDIR},
        {"delete of a link", [&] { deleteMapFile(maps(), QStringLiteral("link.map")); },
         int(ErrorNumber::BadFileName)},
    };
    const QStringList mapsBefore = folderEntries(maps());
    const QStringList backupBefore = folderEntries(backup());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        try {
            c.act();
            ADD_FAILURE() << "no error";
        } catch (const Error& e) {
            EXPECT_EQ(e.number(), c.number) << e.what();
        }
        EXPECT_EQ(folderEntries(maps()), mapsBefore);
        EXPECT_EQ(folderEntries(backup()), backupBefore);
        EXPECT_EQ(read(QStringLiteral("maps/x.map")), QByteArray("map"));
        EXPECT_EQ(read(QStringLiteral("backup/ro.map")), QByteArray("read-only backup"));
        EXPECT_EQ(read(QStringLiteral("maps/ro.map")), QByteArray("read-only map"));
        EXPECT_EQ(read(QStringLiteral("outside.map")), QByteArray("outside"));
    }
}

TEST_F(MapFolderTest, NamesThatLeaveTheFolderAreRefused) {
    write(QStringLiteral("maps/a.map"), "a");
    write(QStringLiteral("outside.map"), "outside");
    for (const char* name : {"", ".", "..", "../outside.map", "sub/a.map", "..\\outside.map"}) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(canActOn(QString::fromLatin1(name)));
        EXPECT_THROW(copyMapFile(backup(), maps(), QString::fromLatin1(name)), Error);
        EXPECT_THROW(deleteMapFile(maps(), QString::fromLatin1(name)), Error);
    }
    EXPECT_FALSE(canActOn(QStringLiteral("a") + QChar(0) + QStringLiteral(".map")));
    EXPECT_EQ(read(QStringLiteral("outside.map")), QByteArray("outside"));
    EXPECT_EQ(read(QStringLiteral("maps/a.map")), QByteArray("a"));
    EXPECT_TRUE(folderEntries(backup()).isEmpty());
}

// A copy that cannot be written out completely (here: the file size limit stands in for a full
// disk) must not leave a half-written file in place of the old backup.
TEST_F(MapFolderTest, ACopyCutShortLeavesTheOldCopyInPlace) {
    const QByteArray map(3 * 1024 * 1024, 'm');
    write(QStringLiteral("maps/x.map"), map);
    write(QStringLiteral("backup/x.map"), "old backup");
    try {
        test::FileSizeLimit limit(1024 * 1024);
        copyMapFile(maps(), backup(), QStringLiteral("x.map"));
        ADD_FAILURE() << "copied";
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), EFBIG);
    }
    EXPECT_EQ(read(QStringLiteral("backup/x.map")), QByteArray("old backup"));
    EXPECT_EQ(folderEntries(backup()), QStringList{QStringLiteral("x.map")});
    EXPECT_EQ(read(QStringLiteral("maps/x.map")), map);
}

// The game (or anything else) writes the map while it is copied: the copy is torn, so it fails,
// and the backup it would have replaced stays as it was.
TEST_F(MapFolderTest, AMapThatChangesWhileCopiedFailsAndKeepsTheOldBackup) {
    constexpr off_t kSize = 24 << 20;
    struct Case {
        const char* name;
        void (*change)(int fd, int round);
    } cases[] = {
        {"shrinks", [](int fd, int round) { (void)!ftruncate(fd, round % 2 ? kSize / 3 : kSize); }},
        {"grows", [](int fd, int round) { (void)!ftruncate(fd, round % 2 ? kSize * 2 : kSize); }},
        {"rewritten in place",
         [](int fd, int round) {
             const char b = static_cast<char>(round);
             (void)!pwrite(fd, &b, 1, kSize / 2);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        write(QStringLiteral("maps/x.map"), QByteArray(kSize, 'm'));
        write(QStringLiteral("backup/x.map"), "old backup");

        std::atomic<bool> stop{false};
        std::atomic<int> rounds{0};
        const QByteArray mapPath = raw(maps() + QStringLiteral("x.map"));
        std::thread writer([&] {
            const int fd = ::open(mapPath.constData(), O_WRONLY);
            for (int round = 0; !stop; ++round) {
                c.change(fd, round);
                ++rounds;
            }
            ::close(fd);
        });
        while (rounds == 0) std::this_thread::yield();
        // A copy that happens to run wholly between two changes is a good copy of one version;
        // the next attempt then tries again.
        QByteArray before;
        QString failure;
        for (int attempt = 0; attempt < 10 && failure.isEmpty(); ++attempt) {
            before = read(QStringLiteral("backup/x.map"));
            try {
                copyMapFile(maps(), backup(), QStringLiteral("x.map"));
                const qint64 size = QFileInfo(backup() + QStringLiteral("x.map")).size();
                EXPECT_TRUE(size == kSize / 3 || size == kSize || size == kSize * 2) << size;
            } catch (const Error& e) {
                failure = e.description();
            }
        }
        stop = true;
        writer.join();

        EXPECT_TRUE(failure.contains(QStringLiteral("changed while it was copied")))
            << failure.toStdString();
        EXPECT_EQ(read(QStringLiteral("backup/x.map")), before);
        EXPECT_EQ(folderEntries(backup()), QStringList{QStringLiteral("x.map")});
    }
}

TEST_F(MapFolderTest, ASparseMapGivesASparseCopyAndLeftoversOfAKilledCopyGo) {
    // 256 MiB with a little data at both ends: a dense copy would take 256 MiB of disk.
    const QByteArray map = raw(maps() + QStringLiteral("big.map"));
    {
        const int fd = ::open(map.constData(), O_WRONLY | O_CREAT, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(pwrite(fd, "head", 4, 0), 4);
        ASSERT_EQ(pwrite(fd, "tail", 4, (256 << 20) - 4), 4);
        ::close(fd);
    }
    // What a copy killed halfway leaves in the backup folder.
    write(QStringLiteral("backup/.zandrel-tmp-killed0000"), QByteArray(4096, 'k'));
    copyMapFile(maps(), backup(), QStringLiteral("big.map"));

    struct stat src {
    }, dst{};
    ASSERT_EQ(::stat(map.constData(), &src), 0);
    ASSERT_EQ(::stat(raw(backup() + QStringLiteral("big.map")).constData(), &dst), 0);
    EXPECT_EQ(dst.st_size, src.st_size);
    EXPECT_LE(dst.st_blocks, src.st_blocks + 64) << "the backup is dense";
    EXPECT_EQ(read(QStringLiteral("backup/big.map")), read(QStringLiteral("maps/big.map")));
    EXPECT_EQ(folderEntries(backup()), QStringList{QStringLiteral("big.map")});
}

// The original of a map goes to the backup folder once, before an update changes it; a
// backup of that name, the player's own, is never touched.
TEST_F(MapFolderTest, TheOriginalOfAMapIsKeptUnlessABackupOfThatNameExists) {
    struct Case {
        const char* name;
        const char* map;         // the map's name in maps/ (empty: not there)
        const char* backupName;  // a file already in backup/ (empty: none)
        const char* updated;     // the name the update changes
        bool kept;
    };
    const Case cases[] = {
        {"first update of a map", "a.map", "", "a.map", true},
        {"the player's own backup stays", "a.map", "a.map", "a.map", false},
        {"in another letter case too", "a.map", "A.MAP", "a.map", false},
        {"a backup of another map does not count", "a.map", "b.map", "a.map", true},
        {"a new map has no original", "", "", "a.map", false},
        {"a file that is not a map", "readme.txt", "", "readme.txt", false},
        {"a map in capitals", "B.MAP", "", "B.MAP", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(QDir(backup()).removeRecursively());
        ASSERT_TRUE(QDir(maps()).removeRecursively());
        QDir().mkpath(maps());
        QDir().mkpath(backup());
        if (*c.map) write(QStringLiteral("maps/") + QLatin1String(c.map), "stock");
        if (*c.backupName) write(QStringLiteral("backup/") + QLatin1String(c.backupName), "mine");

        EXPECT_EQ(keepOriginal(dir.path(), QLatin1String(c.updated)), c.kept);

        const QStringList before =
            *c.backupName ? QStringList{QLatin1String(c.backupName)} : QStringList();
        QStringList expected = before;
        if (c.kept) expected << QLatin1String(c.updated);
        expected.sort(Qt::CaseInsensitive);
        EXPECT_EQ(folderEntries(backup()), expected);
        if (c.kept) {
            EXPECT_EQ(readFile(backup() + QLatin1String(c.updated)), "stock");
        }
        if (*c.backupName) {
            EXPECT_EQ(readFile(backup() + QLatin1String(c.backupName)), "mine");
        }
    }
}

TEST_F(MapFolderTest, KeepingAnOriginalMakesTheBackupFolderAndReportsWhatStopsIt) {
    ASSERT_TRUE(QDir(backup()).removeRecursively());
    write(QStringLiteral("maps/a.map"), "stock");
    EXPECT_TRUE(keepOriginal(dir.path(), QStringLiteral("a.map")));
    EXPECT_EQ(read(QStringLiteral("backup/a.map")), "stock");

    // A backup folder that is a file: an error, and the map as it was.
    ASSERT_TRUE(QDir(backup()).removeRecursively());
    write(QStringLiteral("backup"), "not a folder");
    EXPECT_THROW(keepOriginal(dir.path(), QStringLiteral("a.map")), Error);
    EXPECT_EQ(read(QStringLiteral("maps/a.map")), "stock");
    EXPECT_THROW(keepOriginal(dir.path(), QStringLiteral("../a.map")), Error);
}

TEST_F(MapFolderTest, ThePatchFolderIsDriveCMadeWhenMissing) {
    const QString prefix = path(QStringLiteral("prefix"));
    {
        test::EnvVar wine("WINEPREFIX", QFile::encodeName(prefix));
        EXPECT_EQ(patchFolder(dir.path()), prefix + QStringLiteral("/drive_c"));
        EXPECT_TRUE(QFileInfo(prefix + QStringLiteral("/drive_c")).isDir());
    }
    // A folder that cannot be made is left to the fetch to report.
    write(QStringLiteral("blocked"), "a file where the prefix would be");
    test::EnvVar wine("WINEPREFIX", QFile::encodeName(path(QStringLiteral("blocked"))));
    EXPECT_EQ(patchFolder(dir.path()), path(QStringLiteral("blocked/drive_c")));
    EXPECT_EQ(read(QStringLiteral("blocked")), QByteArray("a file where the prefix would be"));
}

TEST_F(MapFolderTest, ThePatchFolderOfAGameInAPrefixIsThatPrefixsDriveC) {
    test::EnvVar unset("WINEPREFIX", QByteArray());
    EXPECT_EQ(patchFolder(path(QStringLiteral("pfx/drive_c/Games/Halo"))),
              path(QStringLiteral("pfx/drive_c")));
    EXPECT_TRUE(QFileInfo(path(QStringLiteral("pfx/drive_c"))).isDir());
}

}  // namespace
}  // namespace zandrel::maps
