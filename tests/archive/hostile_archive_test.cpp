// The classes of hostile archives found by review, each as a table, through UnRar and through
// the header pass on its own (InspectArchive).
#include "archive/archive_reader.h"
#include "archive/entry_name.h"
#include "archive/header_pass.h"
#include "base/files.h"
#include "map_folder_fixture.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

#include <gtest/gtest.h>

namespace {

using namespace zandrel::testing;
using zandrel::archive::InspectArchive;
using zandrel::archive::kMaxDepth;
using zandrel::archive::kMaxElementBytes;
using zandrel::archive::kMaxPathBytes;

std::string nested(std::size_t depth, const std::string& leaf) {
    std::string name;
    for (std::size_t i = 0; i < depth; ++i) name += "d/";
    return name + leaf;
}

// Names at and past the limits: the limits themselves are written, one more is refused
// before anything is written, and a name thousands of folders deep is refused as cheaply.
TEST_F(UnRarTest, LongAndDeepNames) {
    struct Case {
        std::string name;
        std::string entry;
        bool accepted;
    };
    const std::string longest(kMaxElementBytes, 'n');
    std::string longestPath;
    while (longestPath.size() + 101 <= kMaxPathBytes) longestPath += std::string(100, 'p') + "/";
    longestPath += std::string(kMaxPathBytes - longestPath.size(), 'f');
    const Case cases[] = {
        {"element at the limit", longest, true},
        {"element one byte over", longest + "n", false},
        {"path at the limit", longestPath, true},
        {"path one byte over", longestPath + "f", false},
        {"depth at the limit", nested(kMaxDepth, "x.map"), true},
        {"depth one over", nested(kMaxDepth + 1, "x.map"), false},
        {"100,000 folders deep", nested(100000, "x.map"), false},
        {"100,000 folders deep with backslashes", std::string(200000, '\\') + "x", false},
        {"a name of a megabyte", std::string(1 << 20, 'x'), false},
    };
    for (Format f : {Format::Rar4, Format::Rar5}) {
        for (const Case& c : cases) {
            // RAR 4 keeps a name's length in 16 bits.
            if (f == Format::Rar4 && c.entry.size() > 60000) continue;
            SCOPED_TRACE(std::string(formatName(f)) + ": " + c.name);
            QDir(maps()).removeRecursively();
            QDir().mkpath(maps());
            putArchive(zandrel::rar::writeStored(f, {{"first.map", "1"}, {c.entry, "data"}}));
            const auto before = snapshot();
            UnRar unrar;
            const auto error = extract(unrar);
            EXPECT_EQ(!error, c.accepted) << (error ? error->what() : "accepted");
            if (c.accepted) {
                EXPECT_EQ(read("app/maps/" + QString::fromStdString(c.entry)), "data");
            } else {
                // libarchive itself refuses RAR 5 names over 8 KiB as damaged.
                const auto kind = error ? error->kind<ArchiveFailure>() : std::nullopt;
                EXPECT_TRUE(kind == ArchiveFailure::Refused ||
                            (c.entry.size() > 8192 && kind == ArchiveFailure::NotAnArchive))
                    << (error ? error->what() : "accepted");
                EXPECT_EQ(snapshot(), before);
            }
        }
    }
}

// Encryption is read from the headers in both formats, whatever libarchive says of it.
TEST_F(UnRarTest, EncryptedArchivesAreRefused) {
    Entry encrypted{"bloodgulch.map", "ciphertext, not a map"};
    encrypted.encrypted = true;
    struct Case {
        std::string name;
        std::vector<Entry> entries;
        zandrel::rar::Options options;
    };
    const Case cases[] = {
        {"encrypted entry", {{"new.map", "new"}, encrypted}, {}},
        {"encrypted headers", {{"new.map", "new"}}, {.headersEncrypted = true}},
    };
    for (Format f : {Format::Rar4, Format::Rar5}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(formatName(f)) + ": " + c.name);
            putArchive(zandrel::rar::writeStored(f, c.entries, c.options));
            const auto before = snapshot();
            UnRar unrar;
            const auto error = extract(unrar);
            EXPECT_TRUE(error.has_value());
            if (error) {
                EXPECT_TRUE(error->is(ArchiveFailure::Refused)) << error->what();
                EXPECT_TRUE(error->description().contains(QStringLiteral("encrypted")))
                    << error->what();
            }
            EXPECT_EQ(snapshot(), before);
            EXPECT_EQ(read("app/maps/bloodgulch.map"), "old bloodgulch");
        }
    }
}

// An archive is complete only with its end block: cut at any block boundary (where the
// remaining chain looks like a shorter archive), inside a header or inside data, it is refused.
TEST_F(UnRarTest, ArchivesCutAnywhereAreRefused) {
    for (Format f : {Format::Rar4, Format::Rar5}) {
        std::vector<std::size_t> blocks;
        const std::string whole = zandrel::rar::writeStored(
            f, {{"bloodgulch.map", "new bloodgulch"}, {"new.map", pattern(5000, 7)}}, {}, &blocks);
        std::vector<std::size_t> cuts = blocks;
        for (std::size_t b : blocks) cuts.insert(cuts.end(), {b + 1, b + 5, b + 20});
        cuts.push_back(whole.size() - 1);
        for (std::size_t cut : cuts) {
            if (cut >= whole.size()) continue;
            SCOPED_TRACE(std::string(formatName(f)) + ", cut at " + std::to_string(cut));
            putArchive(whole.substr(0, cut));
            const auto before = snapshot();
            UnRar unrar;
            const auto error = extract(unrar);
            EXPECT_TRUE(error.has_value());
            if (error) {
                EXPECT_TRUE(error->is(ArchiveFailure::NotAnArchive)) << error->what();
            }
            EXPECT_EQ(snapshot(), before);
        }
    }
}

// Thousands of folders with a descriptor limit far below their number: folders are opened one
// at a time.
TEST_F(UnRarTest, ThousandsOfFoldersWithFewDescriptors) {
    std::vector<Entry> entries;
    for (int i = 0; i < 3000; ++i) entries.push_back({"f" + std::to_string(i) + "/x.map", "x"});
    putArchive(zandrel::rar::writeStored(Format::Rar5, entries));
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    rlimit few = saved;
    few.rlim_cur = 64;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &few), 0);
    UnRar unrar;
    const auto error = extract(unrar);
    ::setrlimit(RLIMIT_NOFILE, &saved);
    ASSERT_FALSE(error) << error->what();
    EXPECT_EQ(read("app/maps/f0/x.map"), "x");
    EXPECT_EQ(read("app/maps/f2999/x.map"), "x");
}

// Letter case does not make two names: the game, under Wine, sees one.
TEST_F(UnRarTest, NamesDifferingInCaseAreOneName) {
    QDir(maps()).mkdir(QStringLiteral("sub"));
    put("app/maps/sub/keep.map", "old keep");
    struct Case {
        std::string name;
        std::vector<Entry> entries;
        std::map<QString, QByteArray> expected;  // empty: refused, nothing changed
    };
    const Case cases[] = {
        {"replaces the existing name",
         {{"BLOODGULCH.MAP", "new bloodgulch"}},
         {{"bloodgulch.map", "new bloodgulch"}}},
        {"in an existing folder of another case",
         {{"SUB\\Keep.Map", "new keep"}},
         {{"sub/keep.map", "new keep"}}},
        {"a new folder spelt two ways is one folder",
         {{"Textures/a.bin", "a"}, {"TEXTURES/b.bin", "b"}},
         {{"Textures/a.bin", "a"}, {"Textures/b.bin", "b"}}},
        {"two files", {{"x.map", "1"}, {"X.MAP", "2"}}, {}},
        {"a file and a folder", {{"x", "1"}, {"X/y.map", "2"}}, {}},
        {"a file over an existing folder of another case", {{"SUB", "file"}}, {}},
    };
    for (Format f : {Format::Rar4, Format::Rar5}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(formatName(f)) + ": " + c.name);
            put("app/maps/bloodgulch.map", "old bloodgulch");
            put("app/maps/sub/keep.map", "old keep");
            QDir(path("app/maps/Textures")).removeRecursively();
            putArchive(zandrel::rar::writeStored(f, c.entries));
            const auto before = snapshot();
            UnRar unrar;
            const auto error = extract(unrar);
            if (c.expected.empty()) {
                EXPECT_TRUE(error.has_value());
                EXPECT_EQ(snapshot(), before);
                continue;
            }
            EXPECT_FALSE(error) << error->what();
            auto expected = before;
            for (const auto& [name, bytes] : c.expected) {
                expected["app/maps/" + name] = bytes;
                for (QString folder = QFileInfo(name).path(); folder != ".";
                     folder = QFileInfo(folder).path())
                    expected["app/maps/" + folder] = "folder";
            }
            EXPECT_EQ(snapshot(), expected);
        }
    }
}

// Only a regular file is read as the archive: anything else is refused at once (a FIFO with no
// writer would otherwise block the opening for ever).
TEST_F(UnRarTest, ArchivePathThatIsNotAFileIsRefusedAtOnce) {
    const QString fifo = path("app/fifo.rar");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0644), 0);
    ASSERT_TRUE(QDir().mkdir(path("app/folder.rar")));
    ASSERT_TRUE(QFile::link(fifo, path("app/link.rar")));
    const auto before = snapshot();
    for (const QString& p :
         {fifo, path("app/folder.rar"), QStringLiteral("/dev/zero"), path("app/link.rar")}) {
        SCOPED_TRACE(p.toStdString());
        UnRar unrar;
        try {
            unrar.ExtractArchive(p, maps());
            ADD_FAILURE() << "no error";
        } catch (const Error& e) {
            EXPECT_FALSE(e.description().isEmpty());
        }
        const auto inspection = InspectArchive(p, maps());
        EXPECT_FALSE(inspection.problems.empty());
    }
    EXPECT_EQ(snapshot(), before);
}

// The header pass on its own lists what would be written and every reason to refuse, and
// writes nothing.
TEST_F(UnRarTest, InspectionListsEntriesAndEveryProblem) {
    putArchive(zandrel::rar::writeStored(
        Format::Rar5,
        {{"BLOODGULCH.MAP", "new"}, {"maps2", "", Entry::Directory}, {"maps2/a.map", "aaaa"}}));
    const auto unchanged = snapshot();
    auto good = InspectArchive(archive(), maps());
    EXPECT_TRUE(good.problems.empty());
    ASSERT_EQ(good.entries.size(), 3u);
    EXPECT_EQ(good.entries[0].path, "bloodgulch.map");
    EXPECT_TRUE(good.entries[0].replaces);
    EXPECT_EQ(good.entries[0].size, 3);
    EXPECT_TRUE(good.entries[1].folder);
    EXPECT_EQ(good.entries[2].path, "maps2/a.map");
    EXPECT_FALSE(good.entries[2].replaces);
    EXPECT_EQ(good.totalBytes, 7);
    EXPECT_EQ(snapshot(), unchanged);

    Entry secret{"secret.map", "x"};
    secret.encrypted = true;
    putArchive(zandrel::rar::writeStored(Format::Rar5, {{"ok.map", "ok"},
                                                        {"../escape.map", "x"},
                                                        {"link", "", Entry::Symlink, "/etc"},
                                                        {"OK.MAP", "again"},
                                                        secret}));
    const auto before = snapshot();
    const auto bad = InspectArchive(archive(), maps());
    QStringList texts;
    for (const auto& p : bad.problems) texts << p.description();
    EXPECT_EQ(bad.problems.size(), 4u) << texts.join('\n').toStdString();
    const QString all = texts.join('\n');
    for (const char* word : {"encrypted", "\"..\"", "symbolic link", "twice"})
        EXPECT_TRUE(all.contains(QLatin1String(word))) << word << " in\n" << all.toStdString();
    // The extraction refuses it for the first of them.
    UnRar unrar;
    const auto error = extract(unrar);
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->description(), bad.problems[0].description());
    EXPECT_EQ(snapshot(), before);
}

}  // namespace

namespace {

// Killed while the replaced files wait to be freed (or at any other point of an extraction):
// the staging folder is left unlocked, and the next extraction into the folder removes it.
TEST_F(UnRarTest, StagingFolderOfAKilledExtractionIsSweptByTheNext) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        auto* staging = new zandrel::files::StagingFolder(QFile::encodeName(maps()).toStdString());
        const std::string replaced = staging->path() + "/0";
        FILE* f = std::fopen(replaced.c_str(), "w");
        if (f) std::fputs("a replaced map", f);
        if (f) std::fclose(f);
        ::_exit(0);  // no destructor runs, as after kill -9
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    QStringList hidden = QDir(maps()).entryList(QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot);
    ASSERT_EQ(hidden.filter(QStringLiteral(".zandrel-")).size(), 1)
        << hidden.join(' ').toStdString();

    putArchive(zandrel::rar::writeStored(Format::Rar5, {{"bloodgulch.map", "new bloodgulch"}}));
    UnRar unrar;
    const auto error = extract(unrar);
    ASSERT_FALSE(error) << error->what();
    hidden = QDir(maps()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    EXPECT_EQ(hidden, QStringList({"bloodgulch.map", "keep.map"}));
    EXPECT_EQ(read("app/maps/bloodgulch.map"), "new bloodgulch");
}

}  // namespace
