// UnRar against real archives written by the stored-RAR writer.
#include "map_folder_fixture.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <archive.h>
#include <archive_entry.h>
#include <linux/fs.h>
#include <malloc.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <cerrno>
#include <map>
#include <optional>
#include <variant>

namespace {

using namespace zandrel::testing;

class UnRarFormatTest : public UnRarTest, public ::testing::WithParamInterface<Format> {};

TEST_P(UnRarFormatTest, ExtractsEveryEntryAndReportsRisingProgress) {
    {
        const Format format = GetParam();
        const std::string big = pattern(5 << 20, 1);  // several read blocks, many events
        putArchive(zandrel::rar::writeStored(format, {
                                                         {"bloodgulch.map", "new bloodgulch"},
                                                         {"big.map", big},
                                                         {"textures", "", Entry::Directory},
                                                         {"textures\\sky.bin", "sky"},
                                                         {"sub/deeper/x.map", "deep"},
                                                         {"empty.map", ""},
                                                     }));
        UnRar unrar;
        std::vector<int> events;
        const auto error = extract(unrar, &events);
        ASSERT_FALSE(error) << error->what();

        EXPECT_EQ(read("app/maps/bloodgulch.map"), "new bloodgulch");
        EXPECT_EQ(read("app/maps/big.map"), QByteArray::fromStdString(big));
        EXPECT_EQ(read("app/maps/textures/sky.bin"), "sky");
        EXPECT_EQ(read("app/maps/sub/deeper/x.map"), "deep");
        EXPECT_EQ(read("app/maps/empty.map"), "");
        EXPECT_EQ(read("app/maps/keep.map"), "keep me");
        EXPECT_EQ(read("outside/victim"), "victim");
        // Nothing else, in particular no staging folder left behind.
        EXPECT_EQ(
            QDir(maps()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
            QStringList({"big.map", "bloodgulch.map", "empty.map", "keep.map", "sub", "textures"}));

        ASSERT_GE(events.size(), 3u);
        EXPECT_EQ(events.front(), 0);
        EXPECT_EQ(events.back(), 100);
        for (std::size_t i = 1; i < events.size(); ++i) EXPECT_LT(events[i - 1], events[i]);
        for (std::size_t i = 0; i + 1 < events.size(); ++i) EXPECT_LE(events[i], 90);
    }
}

// RAR itself, and libarchive's test set, have archives whose end block leaves the
// end-of-archive flags out (RAR 5; RAR 4's end block has no such field). libarchive reads them,
// and so do we.
TEST_P(UnRarFormatTest, AnEndBlockWithoutItsFlagsEndsTheArchive) {
    putArchive(zandrel::rar::writeStored(
        GetParam(), {{"bloodgulch.map", "new bloodgulch"}, {"sub/new.map", "new"}},
        {.endFlags = false}));
    UnRar unrar;
    const auto error = extract(unrar);
    ASSERT_FALSE(error) << error->what();
    EXPECT_EQ(read("app/maps/bloodgulch.map"), "new bloodgulch");
    EXPECT_EQ(read("app/maps/sub/new.map"), "new");
}

INSTANTIATE_TEST_SUITE_P(Formats, UnRarFormatTest, ::testing::Values(Format::Rar4, Format::Rar5),
                         [](const auto& info) {
                             return info.param == Format::Rar4 ? "Rar4" : "Rar5";
                         });

TEST_F(UnRarTest, HostileAndBrokenArchivesChangeNothing) {
    const std::string abs = outside() + "/evil.map";
    const std::string good = "new bloodgulch";
    // Every archive starts with a good replacement and a good new file, so that a partial
    // extraction would show in the map folder.
    auto with = [&](Format f, std::vector<Entry> hostile) {
        std::vector<Entry> entries = {{"bloodgulch.map", good}, {"new.map", "new"}};
        entries.insert(entries.end(), hostile.begin(), hostile.end());
        return zandrel::rar::writeStored(f, entries);
    };
    auto tarArchive = [] {
        std::string out(4096, '\0');
        size_t used = 0;
        struct archive* a = archive_write_new();
        archive_write_set_format_ustar(a);
        archive_write_open_memory(a, out.data(), out.size(), &used);
        struct archive_entry* e = archive_entry_new();
        archive_entry_set_pathname(e, "bloodgulch.map");
        archive_entry_set_filetype(e, AE_IFREG);
        archive_entry_set_perm(e, 0644);
        archive_entry_set_size(e, 3);
        archive_write_header(a, e);
        archive_write_data(a, "tar", 3);
        archive_entry_free(e);
        archive_write_close(a);
        archive_write_free(a);
        out.resize(used);
        return out;
    };

    struct Case {
        std::string name;
        std::optional<std::string> archive;          // nullopt: no archive file at all
        std::variant<ArchiveFailure, int> expected;  // the kind, or the system's errno
        std::int64_t maxEntries = -1;
        std::int64_t maxBytes = -1;
    };
    std::vector<Case> cases;
    for (Format f : {Format::Rar4, Format::Rar5}) {
        const std::string n = std::string(formatName(f)) + ": ";
        const ArchiveFailure refused = ArchiveFailure::Refused,
                             broken = ArchiveFailure::NotAnArchive;
        cases.push_back({n + "absolute name", with(f, {{abs, "x"}}), refused});
        cases.push_back(
            {n + "drive letter and backslash", with(f, {{"C:\\evil.map", "x"}}), refused});
        cases.push_back({n + "drive letter, relative", with(f, {{"C:evil.map", "x"}}), refused});
        cases.push_back({n + "UNC name", with(f, {{"\\\\server\\share\\evil.map", "x"}}), refused});
        cases.push_back({n + "leading ..", with(f, {{"../outside/evil.map", "x"}}), refused});
        cases.push_back({n + ".. inside", with(f, {{"sub/../../outside/evil.map", "x"}}), refused});
        cases.push_back(
            {n + ".. with backslashes", with(f, {{"..\\outside\\evil.map", "x"}}), refused});
        cases.push_back({n + "backslash absolute", with(f, {{"\\tmp\\evil.map", "x"}}), refused});
        cases.push_back(
            {n + "symbolic link", with(f, {{"link", "", Entry::Symlink, outside()}}), refused});
        cases.push_back(
            {n + "symbolic link, then a file through it",
             with(f, {{"link", "", Entry::Symlink, "../../outside"}, {"link/evil.map", "x"}}),
             refused});
        if (f == Format::Rar5)
            cases.push_back({n + "hard link",
                             with(f, {{"hard", "", Entry::Hardlink, "../../outside/victim"}}),
                             refused});
        // libarchive reads a repeated name in RAR 4 as the continuation of a split entry.
        cases.push_back({n + "duplicate name", with(f, {{"new.map", "second"}}),
                         f == Format::Rar4 ? broken : refused});
        cases.push_back(
            {n + "duplicate after normalising", with(f, {{".\\new.map", "second"}}), refused});
        cases.push_back({n + "file and folder of one name",
                         with(f, {{"sub", "file"}, {"sub/x.map", "x"}}), refused});
        cases.push_back(
            {n + "file over a folder of the map folder", with(f, {{"textures", "file"}}), refused});
        cases.push_back({n + "folder over a file of the map folder",
                         with(f, {{"keep.map", "", Entry::Directory}}), refused});
        const std::string whole = with(f, {{"last.map", pattern(100000, 2)}});
        cases.push_back(
            {n + "truncated in the data", whole.substr(0, whole.size() - 50000), broken});
        cases.push_back(
            {n + "truncated in a header", whole.substr(0, whole.find("last.map") - 3), broken});
        const std::string end = zandrel::rar::archiveEnd(f);
        cases.push_back(
            {n + "no end-of-archive block", whole.substr(0, whole.size() - end.size()), broken});
        std::string damaged = whole;
        damaged[damaged.find("new.map")] = 'N';  // header checksum no longer matches
        cases.push_back({n + "damaged header", damaged, broken});
        cases.push_back(
            {n + "too many entries", with(f, {{"third.map", "3"}}), ArchiveFailure::Limit, 2});
        cases.push_back({n + "too many bytes", with(f, {{"big.map", pattern(1000, 3)}}),
                         ArchiveFailure::Limit, -1, 1000});
    }
    cases.push_back({"not an archive", std::string("this is not a RAR archive\n"),
                     ArchiveFailure::NotAnArchive});
    cases.push_back({"program stub before the archive (self-extracting)",
                     "MZ" + std::string(2000, '\0') +
                         zandrel::rar::writeStored(Format::Rar4, {{"bloodgulch.map", "sfx"}}),
                     ArchiveFailure::NotAnArchive});
    cases.push_back({"empty file", std::string(), ArchiveFailure::NotAnArchive});
    cases.push_back({"tar archive", tarArchive(), ArchiveFailure::NotAnArchive});
    cases.push_back({"missing archive", std::nullopt, ENOENT});

    QDir(maps()).mkdir(QStringLiteral("textures"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(archive());
        if (c.archive) putArchive(*c.archive);
        const auto before = snapshot();

        UnRar unrar;
        if (c.maxEntries >= 0) unrar.setMaxEntries(c.maxEntries);
        if (c.maxBytes >= 0) unrar.setMaxTotalBytes(c.maxBytes);
        std::vector<int> events;
        const auto error = extract(unrar, &events);
        EXPECT_TRUE(error.has_value());
        if (error) {
            if (const auto* kind = std::get_if<ArchiveFailure>(&c.expected)) {
                EXPECT_EQ(error->kind<ArchiveFailure>(), *kind) << error->what();
            } else {
                EXPECT_EQ(error->number(), std::get<int>(c.expected)) << error->what();
                EXPECT_EQ(error->kind<ArchiveFailure>(), std::nullopt);
            }
            EXPECT_FALSE(error->description().isEmpty());
        }
        EXPECT_EQ(snapshot(), before);
        for (int e : events) EXPECT_LE(e, 90);
    }
}

TEST_F(UnRarTest, MissingDestinationFolderIsAnError) {
    putArchive(zandrel::rar::writeStored(Format::Rar4, {{"a.map", "a"}}));
    UnRar unrar;
    try {
        unrar.ExtractArchive(archive(), path("app/nomaps/"));
        FAIL() << "no error";
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), ENOENT);
        EXPECT_TRUE(e.description().contains(QStringLiteral("nomaps"))) << e.what();
    }
    EXPECT_FALSE(QFileInfo::exists(path("app/nomaps")));
}

// Links already in the map folder are never followed: a linked map is replaced by the new
// file itself, and a linked folder is refused.
TEST_F(UnRarTest, LinksInTheMapFolderAreNotFollowed) {
    ASSERT_TRUE(QFile::link(path("outside/victim"), path("app/maps/linked.map")));
    putArchive(zandrel::rar::writeStored(Format::Rar5, {{"linked.map", "new linked"}}));
    UnRar unrar;
    const auto error = extract(unrar);
    ASSERT_FALSE(error) << error->what();
    EXPECT_FALSE(QFileInfo(path("app/maps/linked.map")).isSymLink());
    EXPECT_EQ(read("app/maps/linked.map"), "new linked");
    EXPECT_EQ(read("outside/victim"), "victim");

    ASSERT_TRUE(QFile::link(path("outside"), path("app/maps/linkdir")));
    putArchive(
        zandrel::rar::writeStored(Format::Rar5, {{"a.map", "a"}, {"linkdir/evil.map", "x"}}));
    const auto before = snapshot();
    const auto second = extract(unrar);
    ASSERT_TRUE(second.has_value());
    EXPECT_EQ(snapshot(), before);
}

// A failure while the files are being moved into place undoes the moves already made.
TEST_F(UnRarTest, FailureWhileMovingIntoPlaceRestoresTheMapFolder) {
    const QString locked = path("app/maps/locked");
    ASSERT_TRUE(QDir().mkdir(locked));
    put("app/maps/locked/inside.map", "inside");
    // A folder that cannot take new names: read-only for an ordinary user; root ignores
    // permissions, so it gets the immutable attribute (where the file system has one).
    bool immutable = false;
    if (::geteuid() != 0) {
        ASSERT_TRUE(QFile::setPermissions(locked, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    } else {
        const int fd = ::open(QFile::encodeName(locked).constData(), O_RDONLY | O_DIRECTORY);
        int flags = 0;
        if (fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
            flags |= FS_IMMUTABLE_FL;
            immutable = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
        }
        if (fd >= 0) ::close(fd);
        if (!immutable) GTEST_SKIP() << "no way to make a folder unwritable for root here";
    }
    putArchive(zandrel::rar::writeStored(Format::Rar4, {{"bloodgulch.map", "new bloodgulch"},
                                                        {"fresh/new.map", "new"},
                                                        {"locked/blocked.map", "blocked"}}));
    const auto before = snapshot();
    UnRar unrar;
    const auto error = extract(unrar);
    if (immutable) {
        const int fd = ::open(QFile::encodeName(locked).constData(), O_RDONLY | O_DIRECTORY);
        int flags = 0;
        ::ioctl(fd, FS_IOC_GETFLAGS, &flags);
        flags &= ~FS_IMMUTABLE_FL;
        ::ioctl(fd, FS_IOC_SETFLAGS, &flags);
        ::close(fd);
    } else {
        QFile::setPermissions(
            locked, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }
    ASSERT_TRUE(error.has_value());
    EXPECT_TRUE(error->description().contains(QStringLiteral("locked/blocked.map")))
        << error->what();
    EXPECT_EQ(snapshot(), before);
}

// A write that fails part-way (here: a file size limit, standing in for a full disk).
TEST_F(UnRarTest, WriteFailureChangesNothing) {
    putArchive(zandrel::rar::writeStored(
        Format::Rar5, {{"bloodgulch.map", "new bloodgulch"}, {"big.map", pattern(4 << 20, 4)}}));
    const auto before = snapshot();
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previous = ::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 1 << 20;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    UnRar unrar;
    const auto error = extract(unrar);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    ::signal(SIGXFSZ, previous);
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->number(), EFBIG) << error->what();
    EXPECT_EQ(snapshot(), before);
}

// The event handler runs inside the extraction: an exception from it abandons the extraction,
// and a second extraction started from it is refused.
TEST_F(UnRarTest, ProgressHandlerCanAbandonTheExtraction) {
    putArchive(zandrel::rar::writeStored(
        Format::Rar4, {{"bloodgulch.map", "new bloodgulch"}, {"big.map", pattern(3 << 20, 5)}}));
    const auto before = snapshot();
    UnRar unrar;
    std::optional<ArchiveFailure> nested;
    unrar.ExtractProgress = [&](std::int16_t percent) {
        try {
            unrar.ExtractArchive(archive(), maps());
        } catch (const Error& e) {
            nested = e.kind<ArchiveFailure>();
        }
        if (percent >= 30) throw std::runtime_error("stop");
    };
    EXPECT_THROW(unrar.ExtractArchive(archive(), maps()), std::runtime_error);
    EXPECT_EQ(nested, ArchiveFailure::Busy);
    EXPECT_EQ(snapshot(), before);

    // The same object extracts normally afterwards.
    unrar.ExtractProgress = nullptr;
    unrar.ExtractArchive(archive(), maps());
    EXPECT_EQ(read("app/maps/bloodgulch.map"), "new bloodgulch");
}

// A cancel at any point the extraction asks leaves the map folder as it was, no staging
// folder, and the cancelled kind of failure; the map folder is only touched after the last
// question.
TEST_F(UnRarTest, ACancelAtAnyQuestionLeavesTheMapFolderAsItWas) {
    putArchive(zandrel::rar::writeStored(Format::Rar5, {{"bloodgulch.map", "new bloodgulch"},
                                                        {"big.map", pattern(3 << 20, 7)},
                                                        {"sub", "", Entry::Directory},
                                                        {"sub/new.map", "new"},
                                                        {"empty.map", ""}}));
    const auto before = snapshot();
    int questions = 0;
    {
        UnRar counting;
        counting.ExtractCancelled = [&] { return ++questions < 0; };
        ASSERT_FALSE(extract(counting));
    }
    // One per header in each pass, one per block, one before moving in.
    EXPECT_GE(questions, 2 * 5 + 3 + 1);
    put("app/maps/bloodgulch.map", "old bloodgulch");
    for (int stopAt = 1; stopAt <= questions; ++stopAt) {
        SCOPED_TRACE(stopAt);
        ASSERT_TRUE(QDir(maps() + "sub").removeRecursively());
        QFile::remove(maps() + "big.map");
        QFile::remove(maps() + "empty.map");
        ASSERT_EQ(snapshot(), before);
        UnRar unrar;
        int asked = 0;
        unrar.ExtractCancelled = [&] { return ++asked == stopAt; };
        const auto error = extract(unrar);
        ASSERT_TRUE(error.has_value());
        EXPECT_TRUE(error->is(ArchiveFailure::Cancelled)) << error->what();
        EXPECT_EQ(snapshot(), before);
    }
}

// The windows keep the player's original map: they hear of each map an archive replaces, in the
// map folder itself, before any is replaced; what they throw stops the update.
TEST_F(UnRarTest, TheOriginalsAreNamedBeforeAnyIsReplaced) {
    ASSERT_TRUE(QDir().mkpath(maps() + "sub"));
    put("app/maps/sub/deep.map", "old deep");
    putArchive(zandrel::rar::writeStored(Format::Rar4, {{"bloodgulch.map", "new bloodgulch"},
                                                        {"KEEP.MAP", "new keep"},
                                                        {"sub/deep.map", "new deep"},
                                                        {"added.map", "added"}}));
    UnRar unrar;
    std::map<QString, QByteArray> named;  // each name with the map's bytes when it was named
    unrar.BeforeReplacing = [&](const QString& name) { named[name] = read("app/maps/" + name); };
    ASSERT_FALSE(extract(unrar));
    EXPECT_EQ(named, (std::map<QString, QByteArray>{{"bloodgulch.map", "old bloodgulch"},
                                                    {"keep.map", "keep me"}}));
    EXPECT_EQ(read("app/maps/keep.map"), "new keep");

    putArchive(zandrel::rar::writeStored(Format::Rar4, {{"bloodgulch.map", "newer"}}));
    const auto before = snapshot();
    unrar.BeforeReplacing = [](const QString&) { throw std::runtime_error("no room for it"); };
    EXPECT_THROW(unrar.ExtractArchive(archive(), maps()), std::runtime_error);
    EXPECT_EQ(snapshot(), before);
}

// An archive refused when it is opened (not RAR at all, or empty) must release libarchive's
// reader like any other failure: it holds over 100 KB, and every refused download would leave
// one behind. Measured with the allocator's own figures; the sanitizer build's leak checker
// sees the same fault.
TEST_F(UnRarTest, ArchivesRefusedOnOpeningReleaseTheReader) {
    auto inUse = [] {
        const struct mallinfo2 m = mallinfo2();
        return std::int64_t(m.uordblks + m.hblkhd);
    };
    for (const std::string& bytes : {std::string("this is not a RAR archive\n"), std::string()}) {
        SCOPED_TRACE(bytes.empty() ? "empty file" : "not RAR");
        putArchive(bytes);
        UnRar unrar;
        EXPECT_TRUE(extract(unrar).has_value());  // one-time allocations happen here
        const std::int64_t before = inUse();
        int failures = 0;
        for (int i = 0; i < 50; ++i) failures += extract(unrar).has_value();
        EXPECT_EQ(failures, 50);
        EXPECT_LT(inUse() - before, 1 << 20);
    }
}

}  // namespace
