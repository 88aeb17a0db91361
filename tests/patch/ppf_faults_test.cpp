// What the tool does with files that are not what they seem and with a disk that is too
// small: special files, a full disk, a patch asking for a huge image, a closed standard
// output, a read-only map; and a patch that is already applied.

#include "base/files.h"
#include "files_tiny_disk.h"
#include "patch/ppf.h"
#include "ppf_test_util.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include <csignal>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zandrel::patch::testing {
namespace {

constexpr std::size_t kImageSize = 48 * 1024;  // holds the BIN validation window

struct Folder {
    QTemporaryDir dir;
    QString path(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }
};

void expectOneLine(const ToolResult& r, const char* message) {
    EXPECT_EQ(r.err.rfind("ppf: ", 0), 0u) << r.err;
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << "one line: " << r.err;
    EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
}

TEST(PpfFaults, SpecialFilesAreRefusedAtOnce) {
    Folder f;
    const ByteVector image = randomBytes(kImageSize, 1);
    writeFile(f.path("map.map"), image);
    writeFile(f.path("p.ppf"), writePpf3("x", 0, {}, false, {{0x10, {1, 2, 3}, {}}}));
    ASSERT_EQ(::mkfifo(f.path("fifo").toLocal8Bit().constData(), 0600), 0);

    struct Case {
        const char* name;
        QStringList args;
    } cases[] = {
        // Nobody writes to the FIFO: a tool that opened it blocking would never end.
        {"FIFO as the image", {"a", f.path("fifo"), f.path("p.ppf")}},
        {"FIFO as the patch", {"a", f.path("map.map"), f.path("fifo")}},
        {"FIFO as the patch to show", {"s", f.path("fifo")}},
        {"FIFO as the original", {"c", "-x", f.path("fifo"), f.path("map.map"), f.path("o.ppf")}},
        {"device as the patch", {"a", f.path("map.map"), "/dev/zero"}},
        {"device as the image", {"a", "/dev/null", f.path("p.ppf")}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ToolResult r = runTool(c.args);
        EXPECT_TRUE(r.finished) << "the tool waited on a special file";
        EXPECT_EQ(r.exitCode, int(ErrorKind::Io)) << r.err;
        expectOneLine(r, "not a regular file");
        EXPECT_EQ(readFile(f.path("map.map")), image);
        EXPECT_FALSE(QFile::exists(f.path("o.ppf")));
    }
    EXPECT_TRUE(leftoverTemporaries(f.dir.path()).isEmpty());
}

// A patch that would grow the image past the documented limit, or past the free space, is
// refused before a byte is written; a disk that fills up while the patched copy is written
// is reported as full (the pre-fault of a mapped window said "Bad address" here once).
TEST(PpfFaults, ResultsTooLargeForTheLimitOrTheDiskAreRefused) {
    Folder f;
    const ByteVector image = randomBytes(kImageSize, 2);
    struct Case {
        const char* name;
        std::uint64_t offset;
        const char* message;
    } cases[] = {
        {"1 KiB patch asking for 1 TiB", std::uint64_t(1) << 40, "more than the 4294967296 bytes"},
        {"just past 4 GiB", kImageSizeLimit, "more than the 4294967296 bytes"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(f.path("map.map"), image);
        std::vector<RawRecord> records;
        for (int i = 0; i < 60; ++i) records.push_back({c.offset + i * 16u, ByteVector(16, 7), {}});
        writeFile(f.path("p.ppf"), writePpf3("x", 0, {}, false, records));
        const ToolResult r = runTool({"a", f.path("map.map"), f.path("p.ppf")});
        EXPECT_TRUE(r.finished);
        EXPECT_EQ(r.exitCode, int(ErrorKind::Refused)) << r.err;
        expectOneLine(r, c.message);
        EXPECT_EQ(readFile(f.path("map.map")), image);
        EXPECT_TRUE(leftoverTemporaries(f.dir.path()).isEmpty());
    }
}

TEST(PpfFaults, AFullDiskIsReportedAsFullAndKeepsTheMap) {
    test::TinyDisk disk(512 << 10);
    if (disk.path().empty()) GTEST_SKIP() << disk.skipReason();
    const QString folder = QString::fromStdString(disk.path());
    const QString map = folder + "/map.map", patch = folder + "/p.ppf";
    const ByteVector image = randomBytes(16 << 10, 3);
    // One record per page up to 700 KiB: the patched copy needs every page of it.
    std::vector<RawRecord> records;
    for (std::uint64_t at = 0; at < (700u << 10); at += 4096) records.push_back({at, {1, 2}, {}});
    const ByteVector patchBytes = writePpf3("x", 0, {}, false, records);

    writeFile(map, image);
    writeFile(patch, patchBytes);
    // Told in advance: the result is larger than the free space.
    const ToolResult r = runTool({"a", map, patch});
    ASSERT_TRUE(r.finished);
    EXPECT_EQ(r.exitCode, int(ErrorKind::Refused)) << r.err;
    expectOneLine(r, "the disk is full: the patched image needs 712706 bytes, the disk has ");
    EXPECT_EQ(readFile(map), image);
    EXPECT_TRUE(leftoverTemporaries(folder).isEmpty());

    // Found out while writing: the same with the advance check off, in the library.
    try {
        ApplyOptions options;
        options.checkFreeSpace = false;
        applyToFile(map.toStdString(), Bytes(patchBytes), options);
        ADD_FAILURE() << "applied";
    } catch (const PatchError& e) {
        EXPECT_EQ(e.kind(), ErrorKind::Io);
        EXPECT_NE(std::string(e.what()).find("the disk is full"), std::string::npos) << e.what();
        EXPECT_EQ(std::string(e.what()).find("Bad address"), std::string::npos) << e.what();
    }
    EXPECT_EQ(readFile(map), image);
    EXPECT_TRUE(leftoverTemporaries(folder).isEmpty());
}

// The refusal gives exact figures, so that "needs" is visibly more than "free" even when the
// two differ by a byte.
TEST(PpfFaults, AFullDiskRefusalShowsTheShortfall) {
    test::TinyDisk disk(2 << 20);
    if (disk.path().empty()) GTEST_SKIP() << disk.skipReason();
    const QString folder = QString::fromStdString(disk.path());
    const QString map = folder + "/map.map", patch = folder + "/p.ppf";
    writeFile(map, randomBytes(16 << 10, 4));
    // Every patch below has this size: the free space measured stays the free space.
    const std::size_t patchSize = writePpf3("x", 0, {}, false, {{0, {9}, {}}}).size();
    writeFile(patch, ByteVector(patchSize, 0));
    const std::uint64_t free = files::freeBytes(folder.toStdString());
    struct Case {
        const char* name;
        std::uint64_t short_;
    } cases[] = {{"one byte short", 1}, {"one page short", 4096}, {"1 MiB short", 1 << 20}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // One byte at the end of a result of free + short_ bytes.
        const ByteVector patchBytes =
            writePpf3("x", 0, {}, false, {{free + c.short_ - 1, {9}, {}}});
        ASSERT_EQ(patchBytes.size(), patchSize);
        writeFile(patch, patchBytes);
        ASSERT_EQ(files::freeBytes(folder.toStdString()), free);
        const ToolResult r = runTool({"a", map, patch});
        EXPECT_EQ(r.exitCode, int(ErrorKind::Refused)) << r.err;
        const std::string expected = "needs " + std::to_string(free + c.short_) +
                                     " bytes, the disk has " + std::to_string(free) +
                                     " bytes free (" + std::to_string(c.short_) + " bytes short)";
        expectOneLine(r, expected.c_str());
        EXPECT_TRUE(leftoverTemporaries(folder).isEmpty());
    }
}

// A tool killed while it writes the patched copy leaves the map with its old bytes. A stop
// signal lets it remove its temporary file and end by that signal; after SIGKILL the file is
// left behind, and the next run sweeps it and applies the patch.
TEST(PpfFaults, KilledMidApplyTheMapKeepsItsOldBytes) {
    constexpr std::size_t kSize = 64 << 20;  // long enough to be caught halfway
    ByteVector image(kSize);
    for (std::size_t i = 0; i < kSize; ++i) image[i] = std::uint8_t(i * 2654435761u >> 13);
    std::vector<RawRecord> records;
    ByteVector modified = image;
    for (std::uint64_t at = 0; at < kSize; at += 64 << 10) {
        records.push_back({at, ByteVector(16, 0xA5), {}});
        std::fill_n(modified.begin() + std::ptrdiff_t(at), 16, 0xA5);
    }
    const ByteVector patchBytes = writePpf3("x", 0, {}, false, records);

    struct Case {
        const char* name;
        int signal;
    } cases[] = {{"SIGTERM", SIGTERM}, {"SIGINT", SIGINT}, {"SIGKILL", SIGKILL}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Folder f;
        const QString map = f.path("map.map"), patch = f.path("p.ppf");
        writeFile(map, image);
        writeFile(patch, patchBytes);
        QProcess tool;
        tool.start(QStringLiteral(PPF_TOOL), {"a", map, patch});
        ASSERT_TRUE(tool.waitForStarted(10000));
        // Halfway: the temporary copy has its first window.
        bool caught = false;
        for (int i = 0; i < 20000 && !caught && tool.state() == QProcess::Running; ++i) {
            for (const QString& name : leftoverTemporaries(f.dir.path())) {
                caught = caught || QFileInfo(f.dir.filePath(name)).size() >= (1 << 20);
            }
            if (!caught) ::usleep(200);
        }
        ASSERT_TRUE(caught) << "the tool ended before it was caught writing";
        ::kill(pid_t(tool.processId()), c.signal);
        ASSERT_TRUE(tool.waitForFinished(30000));
        EXPECT_EQ(tool.exitStatus(), QProcess::CrashExit)
            << "the tool finished before the signal: " << tool.exitCode();
        EXPECT_TRUE(readFile(map) == image) << "the map changed";
        if (c.signal != SIGKILL) {
            EXPECT_NE(tool.readAllStandardError().indexOf("stopped"), -1);
            EXPECT_TRUE(leftoverTemporaries(f.dir.path()).isEmpty());
        }
        const ToolResult again = runTool({"a", map, patch});
        EXPECT_EQ(again.exitCode, 0) << again.err;
        EXPECT_TRUE(readFile(map) == modified);
        EXPECT_TRUE(leftoverTemporaries(f.dir.path()).isEmpty());
    }
}

TEST(PpfFaults, StandardOutputThatCannotBeWrittenStillGivesTheErrorLine) {
    Folder f;
    writeFile(f.path("p.ppf"), writePpf3("x", 0, {}, false, {{0x10, {1, 2, 3}, {}}}));
    struct Case {
        const char* name;
        ToolEnvironment::Output output;
        QStringList args;
        const char* message;
    } cases[] = {
        {"show, closed",
         ToolEnvironment::Output::Closed,
         {"s", f.path("p.ppf")},
         "Bad file descriptor"},
        {"help, closed", ToolEnvironment::Output::Closed, {"--help"}, "Bad file descriptor"},
        {"show, broken pipe",
         ToolEnvironment::Output::BrokenPipe,
         {"s", f.path("p.ppf")},
         "Broken pipe"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ToolEnvironment env;
        env.output = c.output;
        const ToolResult r = runTool(c.args, env);
        EXPECT_TRUE(r.finished);
        EXPECT_EQ(r.exitCode, int(ErrorKind::Io)) << r.err;
        expectOneLine(r, "cannot write to standard output");
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    }
}

// Another program cuts the patch short and writes it back again and again while the tool
// reads it: the tool fails cleanly or applies what it read as a whole patch, and is never
// killed by it (a mapped patch that shrinks kills its reader with SIGBUS).
TEST(PpfFaults, APatchCutWhileInUseNeverKillsTheTool) {
    Folder f;
    const ByteVector original = randomBytes(8 << 20, 6);
    ByteVector modified = original;
    for (std::size_t i = 0; i < modified.size(); i += 40) modified[i] ^= 0x5A;
    CreateOptions options;
    options.blockCheck = false;
    const ByteVector patch = createPatch(original, modified, options);
    const QString map = f.path("map.map"), patchPath = f.path("p.ppf");
    writeFile(patchPath, patch);

    std::atomic<bool> stop{false};
    std::atomic<int> rounds{0};
    std::thread cutter([&] {
        const int fd = ::open(patchPath.toLocal8Bit().constData(), O_WRONLY);
        const std::size_t half = patch.size() / 2;
        while (!stop) {
            if (::ftruncate(fd, off_t(half)) != 0) break;
            // Written back by pwrite alone: a reader sees the right bytes or none.
            if (::pwrite(fd, patch.data() + half, patch.size() - half, off_t(half)) < 0) break;
            ++rounds;
        }
        ::close(fd);
    });
    while (rounds == 0) std::this_thread::yield();
    for (int run = 0; run < 6; ++run) {
        SCOPED_TRACE(run);
        writeFile(map, original);
        const ToolResult r = runTool({"a", map, patchPath});
        EXPECT_TRUE(r.finished);
        EXPECT_GE(r.exitCode, 0) << "killed: " << r.err;
        const ByteVector after = readFile(map);
        if (r.exitCode != 0) {
            EXPECT_TRUE(after == original) << r.err;
        } else {
            // The whole patch, or a prefix of it that was itself a whole patch (read while cut
            // at a record boundary): patched up to some point, original after it.
            EXPECT_EQ(after.size(), original.size());
            const auto cut = std::mismatch(after.begin(), after.end(), modified.begin()).first;
            EXPECT_TRUE(std::equal(cut, after.end(), original.begin() + (cut - after.begin())));
        }
    }
    stop = true;
    cutter.join();
    EXPECT_TRUE(leftoverTemporaries(f.dir.path()).isEmpty());
}

TEST(PpfFaults, ReadOnlyMapIsRefusedForEveryone) {
    Folder f;
    const ByteVector image = randomBytes(kImageSize, 4);
    writeFile(f.path("map.map"), image);
    writeFile(f.path("p.ppf"), writePpf3("x", 0, {}, false, {{0x10, {1, 2, 3}, {}}}));
    ASSERT_EQ(::chmod(f.path("map.map").toLocal8Bit().constData(), 0444), 0);
    const ToolResult r = runTool({"a", f.path("map.map"), f.path("p.ppf")});
    ASSERT_TRUE(r.finished);
    EXPECT_EQ(r.exitCode, int(ErrorKind::Io)) << r.err;
    expectOneLine(r, "it is read-only");
    EXPECT_EQ(readFile(f.path("map.map")), image);
    EXPECT_TRUE(leftoverTemporaries(f.dir.path()).isEmpty());
}

// ---- already applied ----

struct Pair {
    ByteVector original;
    ByteVector modified;
};

Pair changedAt(std::initializer_list<std::uint64_t> offsets, std::size_t grownTo = 0) {
    Pair p{randomBytes(kImageSize, 5), {}};
    p.modified = p.original;
    if (grownTo) p.modified.resize(grownTo, 0x5A);
    for (const std::uint64_t at : offsets) p.modified[at] ^= 0xFF;
    return p;
}

// Each row gives the map's bytes before and the patch; the tool runs on them. `already`: the
// tool says so, exits 0 and leaves the very file in place; otherwise it applies.
TEST(PpfAlreadyApplied, NothingIsWrittenWhenTheMapCarriesThePatch) {
    const Pair plain = changedAt({0x100, 0x101, 0x5000});
    // Changes inside the validation window: a second run fails validation unless it sees
    // the patch standing first.
    const Pair inWindow = changedAt({kBinValidationOffset + 10, kBinValidationOffset + 900});
    const Pair grown = changedAt({0x20}, kImageSize + 5000);
    CreateOptions check;  // block check on
    ByteVector halfway = plain.original;
    halfway[0x100] = plain.modified[0x100];
    halfway[0x101] = plain.modified[0x101];
    // An earlier record's bytes are overwritten by a later one: only the later ones count.
    const ByteVector overlap =
        writePpf3("x", 0, {}, false, {{0x200, {9, 9, 9, 9}, {}}, {0x201, {1, 2}, {}}});
    ByteVector overlapDone = plain.original;
    overlapDone[0x200] = 9;
    overlapDone[0x201] = 1;
    overlapDone[0x202] = 2;
    overlapDone[0x203] = 9;
    ByteVector overlapEarlierOnly = overlapDone;
    overlapEarlierOnly[0x201] = overlapEarlierOnly[0x202] = 9;

    struct Case {
        const char* name;
        ByteVector before;
        ByteVector patch;
        bool already;
        ByteVector after;
    } cases[] = {
        {"applied before", plain.modified, createPatch(plain.original, plain.modified, check), true,
         plain.modified},
        {"applied before, patch inside the validation window", inWindow.modified,
         createPatch(inWindow.original, inWindow.modified, check), true, inWindow.modified},
        {"applied before, PPF2 inside the validation window", inWindow.modified,
         writePpf2("x", kImageSize, blockAt(inWindow.original, kBinValidationOffset),
                   diffRecords(inWindow.original, inWindow.modified)),
         true, inWindow.modified},
        {"applied before, grown", grown.modified,
         createPatch(grown.original, grown.modified, check), true, grown.modified},
        {"overlapping records, last writer stands", overlapDone, overlap, true, overlapDone},
        {"overlapping records, only the overwritten one stands", overlapEarlierOnly, overlap, false,
         overlapDone},
        {"fresh map", plain.original, createPatch(plain.original, plain.modified, check), false,
         plain.modified},
        {"half of it stands", halfway, createPatch(plain.original, plain.modified, check), false,
         plain.modified},
        {"grown map cut back", plain.original, createPatch(grown.original, grown.modified, check),
         false, grown.modified},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Folder f;
        const QString map = f.path("map.map"), patch = f.path("p.ppf");
        writeFile(map, c.before);
        writeFile(patch, c.patch);
        struct stat before {};
        EXPECT_EQ(::stat(map.toLocal8Bit().constData(), &before), 0);
        const ToolResult r = runTool({"a", map, patch});
        EXPECT_TRUE(r.finished);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.out.find("already applied") != std::string::npos, c.already) << r.out;
        EXPECT_EQ(readFile(map), c.after);
        struct stat after {};
        EXPECT_EQ(::stat(map.toLocal8Bit().constData(), &after), 0);
        EXPECT_EQ(after.st_ino == before.st_ino, c.already) << "replaced: " << !c.already;
        EXPECT_TRUE(leftoverTemporaries(f.dir.path()).isEmpty());

        ByteVector inMemory = c.before;
        EXPECT_EQ(applyToImage(inMemory, Bytes(c.patch)) == Outcome::AlreadyApplied, c.already);
        EXPECT_EQ(inMemory, c.after);
    }
}

// What the check tool asks: would this patch apply, is it in, or does it not fit; the map is
// never touched.
TEST(PpfFit, TellsWhetherAPatchAppliesWithoutWriting) {
    const Pair inWindow = changedAt({kBinValidationOffset + 10, 0x40});
    const ByteVector patchBytes = createPatch(inWindow.original, inWindow.modified);
    const Patch patch = parsePatch(patchBytes);
    ByteVector otherMap = inWindow.original;
    otherMap[kBinValidationOffset + 500] ^= 1;
    const ByteVector huge = writePpf3("x", 0, {}, false, {{std::uint64_t(1) << 40, {1}, {}}});
    const Patch hugePatch = parsePatch(huge);

    struct Case {
        const char* name;
        ByteVector map;
        const Patch* patch;
        Fit fit;
        const char* why;
    } cases[] = {
        {"the map it was made for", inWindow.original, &patch, Fit::Applies, ""},
        {"already applied", inWindow.modified, &patch, Fit::AlreadyApplied, ""},
        {"another map", otherMap, &patch, Fit::DoesNotFit, "validation failed"},
        {"result too large", inWindow.original, &hugePatch, Fit::DoesNotFit, "more than the"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Folder f;
        const QString map = f.path("map.map");
        writeFile(map, c.map);
        const FitReport report = checkFit(map.toStdString(), *c.patch);
        EXPECT_EQ(report.fit, c.fit);
        EXPECT_NE(report.why.find(c.why), std::string::npos) << report.why;
        EXPECT_EQ(readFile(map), c.map);
        EXPECT_EQ(QFileInfo(map).size(), qint64(c.map.size()));
    }
    Folder f;
    EXPECT_THROW(checkFit(f.path("none.map").toStdString(), patch), PatchError);
}

}  // namespace
}  // namespace zandrel::patch::testing
