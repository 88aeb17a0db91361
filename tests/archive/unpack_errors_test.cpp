// What an unpack reports when the disk or a folder refuses it: the first real error (the one
// mkdirat or the write gave), never the ENOENT of a step after it, and the map folder as it was.
#include "archive/unrar.h"
#include "base/error.h"
#include "files_tiny_disk.h"
#include "folders/folder_helpers.h"
#include "rar/rarwriter.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <map>
#include <optional>
#include <string>

namespace {

using zandrel::Error;
using zandrel::archive::UnRar;
using zandrel::rar::Format;
namespace test = zandrel::test;

// Every name below `root` with its contents ("folder" for a folder).
std::map<QString, QByteArray> snapshot(const QString& root) {
    std::map<QString, QByteArray> names;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString p = it.next();
        names[QDir(root).relativeFilePath(p)] =
            QFileInfo(p).isDir() ? QByteArray("folder") : test::readFile(p);
    }
    return names;
}

std::optional<Error> unpack(const QString& archive, const QString& maps) {
    UnRar unrar;
    try {
        unrar.ExtractArchive(archive, maps);
    } catch (const Error& e) {
        return e;
    }
    return std::nullopt;
}

void expectTheRealReason(const std::optional<Error>& error, std::initializer_list<int> numbers,
                         const QString& names) {
    ASSERT_TRUE(error.has_value());
    EXPECT_NE(error->number(), ENOENT) << error->what();
    EXPECT_FALSE(error->description().contains(QStringLiteral("No such file"))) << error->what();
    EXPECT_NE(std::find(numbers.begin(), numbers.end(), error->number()), numbers.end())
        << error->what();
    EXPECT_TRUE(error->description().contains(names)) << error->what();
}

// A folder of the map folder that the program may not write in (read-only; for root, which
// permissions do not stop, immutable): a new folder inside it, or a file into it.
TEST(UnpackErrors, AFolderWeMayNotWriteInIsNamedWithItsOwnReason) {
    struct Case {
        const char* name;
        const char* entry;
        const char* named;  // what the message names
    };
    const Case cases[] = {
        {"a new folder inside it", "locked/new/deep.map", "locked/new"},
        {"a file into it", "locked/into.map", "locked/into.map"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir tmp;
        const QString maps = tmp.filePath(QStringLiteral("maps"));
        ASSERT_TRUE(QDir().mkpath(maps + QStringLiteral("/locked")));
        test::writeFile(maps + QStringLiteral("/keep.map"), "keep");
        const QString archive = tmp.filePath(QStringLiteral("zandrel.rar"));
        const std::string bytes =
            zandrel::rar::writeStored(Format::Rar5, {{"fresh.map", "fresh"}, {c.entry, "x"}});
        test::writeFile(archive, QByteArray(bytes.data(), qsizetype(bytes.size())));
        const auto before = snapshot(maps);
        std::optional<Error> error;
        {
            test::ReadOnlyFolder locked(maps + QStringLiteral("/locked"));
            if (!locked.ok()) GTEST_SKIP() << "no way to make a folder unwritable here";
            error = unpack(archive, maps + QStringLiteral("/"));
        }
        expectTheRealReason(error, {EACCES, EPERM}, QString::fromUtf8(c.named));
        EXPECT_EQ(snapshot(maps), before);
    }
}

// A disk that runs out of room for names (inodes) at every step of an unpack into new
// sub-folders: each failure says the disk is full, and the map folder stays as it was, until
// there is room enough and the archive is unpacked.
TEST(UnpackErrors, ADiskThatFillsUpAtAnyStepIsReportedAsFull) {
    const std::string bytes = zandrel::rar::writeStored(
        Format::Rar4, {{"one/two/a.map", "a"}, {"one/b.map", "b"}, {"c.map", "c"}});
    bool sawAFolder = false;
    for (int room = 0;; ++room) {
        SCOPED_TRACE("room for " + std::to_string(room) + " names");
        ASSERT_LT(room, 64) << "never unpacked";
        test::TinyDisk disk(1 << 20, 1 << 10);
        if (disk.path().empty()) GTEST_SKIP() << disk.skipReason();
        const QString root = QString::fromStdString(disk.path());
        const QString maps = root + QStringLiteral("/maps");
        ASSERT_TRUE(QDir().mkpath(maps));
        test::writeFile(maps + QStringLiteral("/c.map"), "old c");
        const QString archive = root + QStringLiteral("/zandrel.rar");
        test::writeFile(archive, QByteArray(bytes.data(), qsizetype(bytes.size())));
        // Fill the disk's names, then give back `room` of them.
        const QString filler = root + QStringLiteral("/filler");
        ASSERT_TRUE(QDir().mkpath(filler));
        int made = 0;
        for (;; ++made) {
            const QByteArray name = QFile::encodeName(filler + QStringLiteral("/%1").arg(made));
            const int fd = ::open(name.constData(), O_CREAT | O_WRONLY | O_EXCL, 0600);
            if (fd < 0) break;
            ::close(fd);
        }
        ASSERT_EQ(errno, ENOSPC);
        for (int i = 0; i < room && i < made; ++i)
            ::unlink(QFile::encodeName(filler + QStringLiteral("/%1").arg(i)).constData());
        const auto before = snapshot(maps);

        const auto error = unpack(archive, maps + QStringLiteral("/"));
        if (!error) {
            EXPECT_EQ(test::readFile(maps + QStringLiteral("/one/two/a.map")), "a");
            EXPECT_EQ(test::readFile(maps + QStringLiteral("/c.map")), "c");
            break;
        }
        expectTheRealReason(error, {ENOSPC}, QString());
        EXPECT_EQ(snapshot(maps), before);
        sawAFolder = sawAFolder || error->description().contains(QStringLiteral("folder \"one"));
    }
    EXPECT_TRUE(sawAFolder) << "no step made a folder on a full disk";
}

}  // namespace
