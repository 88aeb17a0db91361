// Make a patch -> apply it -> the image equals the modified file -> undo it -> the image
// equals the original, through the real tool, over versions and flags.

#include "patch/ppf.h"
#include "ppf_test_util.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace zandrel::patch::testing {
namespace {

constexpr std::size_t kOriginalSize = (1 << 20) + (1 << 18);  // crosses one 1 MiB boundary
const std::string kDescription = "Map update for the Example server, version 3, with a long tail";

// Changes spread so that records cross 255 bytes, the 1 MiB boundary and both validation
// windows, plus single bytes a few apart.
ByteVector modifiedFrom(const ByteVector& original, bool grow) {
    ByteVector m = original;
    auto flip = [&](std::size_t from, std::size_t n) {
        for (std::size_t i = from; i < from + n; ++i) m[i] ^= 0x5A;
    };
    flip(0x100, 3);
    flip(0x8100, 4);  // inside the GI validation window
    flip(0x9400, 2);  // inside the BIN validation window
    flip(0x20000, 600);
    flip(0xFFF80, 256);
    for (std::size_t i = 0x120000; i < 0x120000 + 100; i += 6) flip(i, 1);
    if (grow) {
        const ByteVector tail = randomBytes(100, 7);
        m.insert(m.end(), tail.begin(), tail.end());
        m.resize(m.size() + 4900, 0);  // ends in bytes equal to the zero fill
    }
    return m;
}

enum class Maker { Ours, Ppf1, Ppf2, Ppf3U32Trailer };

struct Case {
    const char* name;
    Maker maker;
    bool undo;
    bool blockCheck;
    int imageType;
    bool fileId;
    bool grow;
};

const Case kCases[] = {
    {"ppf3", Maker::Ours, false, true, 0, false, false},
    {"ppf3 undo", Maker::Ours, true, true, 0, false, false},
    {"ppf3 undo, no block check", Maker::Ours, true, false, 0, false, false},
    {"ppf3 undo, GI", Maker::Ours, true, true, 1, false, false},
    {"ppf3 GI, no block check, FILE_ID", Maker::Ours, false, false, 1, true, false},
    {"ppf3 undo, FILE_ID", Maker::Ours, true, true, 0, true, false},
    {"ppf3 grows", Maker::Ours, false, true, 0, false, true},
    {"ppf3 undo, grows, no block check", Maker::Ours, true, false, 0, true, true},
    {"ppf1", Maker::Ppf1, false, false, 0, false, false},
    {"ppf1 grows", Maker::Ppf1, false, false, 0, false, true},
    {"ppf2", Maker::Ppf2, false, true, 0, false, false},
    {"ppf2 FILE_ID", Maker::Ppf2, false, true, 0, true, false},
    {"ppf3 from another maker, u32 FILE_ID length", Maker::Ppf3U32Trailer, true, true, 0, true,
     false},
};

TEST(PpfRoundTrip, MakeApplyUndo) {
    const ByteVector original = randomBytes(kOriginalSize, 1);
    const std::string dizText = "Example server map pack\r\nby the admins\r\n";
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        const QString orig = dir.filePath("original.map"), mod = dir.filePath("modified.map"),
                      patch = dir.filePath("zandrel.ppf"), image = dir.filePath("image.map"),
                      diz = dir.filePath("file_id.diz");
        const ByteVector modified = modifiedFrom(original, c.grow);
        writeFile(orig, original);
        writeFile(mod, modified);
        writeFile(diz, ByteVector(dizText.begin(), dizText.end()));
        const std::uint64_t vo = c.imageType ? kGiValidationOffset : kBinValidationOffset;
        const std::optional<Trailer> trailer =
            c.fileId ? std::optional<Trailer>({dizText, 4}) : std::nullopt;

        std::string version = "PPF3.0";
        switch (c.maker) {
            case Maker::Ours: {
                QStringList args{"c"};
                if (c.undo) args << "-u";
                if (!c.blockCheck) args << "-x";
                args << "-i" << QString::number(c.imageType) << "-d"
                     << QString::fromStdString(kDescription);
                if (c.fileId) args << "-f" << diz;
                const ToolResult made = runTool(args << orig << mod << patch);
                ASSERT_EQ(made.exitCode, 0) << made.err;
                break;
            }
            case Maker::Ppf1:
                version = "PPF1.0";
                writeFile(patch, writePpf1(kDescription, diffRecords(original, modified)));
                break;
            case Maker::Ppf2:
                version = "PPF2.0";
                writeFile(patch, writePpf2(kDescription, std::uint32_t(original.size()),
                                           blockAt(original, vo), diffRecords(original, modified),
                                           trailer));
                break;
            case Maker::Ppf3U32Trailer:
                writeFile(patch, writePpf3(kDescription, 0, blockAt(original, vo), true,
                                           diffRecords(original, modified), trailer));
                break;
        }

        // What the patch says about itself.
        const ByteVector patchBytes = readFile(patch);
        const Patch parsed = parsePatch(patchBytes);
        EXPECT_EQ(parsed.description, kDescription.substr(0, 50));
        EXPECT_EQ(parsed.undoData, c.undo);
        EXPECT_EQ(parsed.blockCheck, c.blockCheck);
        EXPECT_EQ(parsed.fileId.has_value(), c.fileId);
        if (c.maker == Maker::Ours) {
            EXPECT_EQ(parsed.imageType, c.imageType);
            EXPECT_EQ(parsed.fileIdLengthWidth, c.fileId ? 2 : 0);
            parsed.forEachRecord([&](const Record& r) {
                ASSERT_GE(r.data.size(), 1u);
                ASSERT_LE(r.data.size(), kMaxRecordLength);
                EXPECT_EQ(r.offset / kCreateChunk, (r.offset + r.data.size() - 1) / kCreateChunk)
                    << "record at " << r.offset << " crosses a 1 MiB boundary";
            });
        }
        const ToolResult shown = runTool({"s", patch});
        ASSERT_EQ(shown.exitCode, 0) << shown.err;
        EXPECT_NE(shown.out.find("Version:       " + version), std::string::npos) << shown.out;
        EXPECT_NE(shown.out.find("Records:       " + std::to_string(parsed.recordCount)),
                  std::string::npos);
        if (c.fileId) {
            EXPECT_NE(shown.out.find("Example server map pack\nby the admins\n"), std::string::npos)
                << shown.out;
        }

        writeFile(image, original);
        QFile::setPermissions(image, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup);
        const ToolResult applied = runTool({"a", image, patch});
        ASSERT_TRUE(applied.finished);
        ASSERT_EQ(applied.exitCode, 0) << applied.err;
        EXPECT_TRUE(applied.err.empty()) << applied.err;
        EXPECT_EQ(readFile(image), modified);
        EXPECT_EQ(QFile::permissions(image), QFile::ReadOwner | QFile::WriteOwner |
                                                 QFile::ReadUser | QFile::WriteUser |
                                                 QFile::ReadGroup);

        const ToolResult undone = runTool({"u", image, patch});
        if (c.undo) {
            ASSERT_EQ(undone.exitCode, 0) << undone.err;
            // Nothing shortens an image: a grown one keeps its length, zero past the original.
            ByteVector expected = original;
            expected.resize(modified.size(), 0);
            EXPECT_EQ(readFile(image), expected);
        } else {
            EXPECT_EQ(undone.exitCode, int(ErrorKind::Refused));
            EXPECT_NE(undone.err.find("no undo data"), std::string::npos) << undone.err;
            EXPECT_EQ(readFile(image), modified);
        }
        EXPECT_TRUE(leftoverTemporaries(dir.path()).isEmpty());
    }
}

}  // namespace
}  // namespace zandrel::patch::testing
