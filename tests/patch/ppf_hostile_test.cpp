// Corrupt and hostile patches through the real tool: the right exit status, one line that says
// why, and the image as it was whenever the tool fails.

#include "patch/ppf.h"
#include "ppf_test_util.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <functional>

#include <gtest/gtest.h>

namespace zandrel::patch::testing {
namespace {

constexpr std::size_t kImageSize = 48 * 1024;  // holds the BIN validation window

ByteVector original() {
    return randomBytes(kImageSize, 3);
}
ByteVector binBlock() {
    return blockAt(original(), kBinValidationOffset);
}
const std::vector<RawRecord> kOneRecord{{0x10, {1, 2, 3}, {}}};

ByteVector withTail(ByteVector patch, std::initializer_list<std::uint8_t> tail) {
    patch.insert(patch.end(), tail.begin(), tail.end());
    return patch;
}
ByteVector withText(ByteVector patch, const std::string& text) {
    // Byte by byte: GCC 12's -Warray-bounds misreads a range insert into an empty vector here.
    patch.reserve(patch.size() + text.size());
    for (const char c : text) patch.push_back(static_cast<std::uint8_t>(c));
    return patch;
}

// Reads n bytes at offset without loading a (possibly huge, sparse) file.
ByteVector bytesAt(const QString& path, std::uint64_t offset, std::size_t n) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly) || !f.seek(qint64(offset))) return {};
    const QByteArray b = f.read(qint64(n));
    return ByteVector(b.begin(), b.end());
}

using Check = std::function<void(const QString& image)>;

Check grewTo(std::uint64_t offset, ByteVector bytes) {
    return [=](const QString& image) {
        EXPECT_EQ(QFileInfo(image).size(), qint64(offset + bytes.size()));
        EXPECT_EQ(bytesAt(image, offset, bytes.size()), bytes);
        const ByteVector start = original();
        EXPECT_EQ(bytesAt(image, 0, 64), ByteVector(start.begin(), start.begin() + 64));
        EXPECT_EQ(bytesAt(image, kImageSize, 4096), ByteVector(4096, 0)) << "zero fill";
        EXPECT_EQ(bytesAt(image, offset - 4096, 4096), ByteVector(4096, 0)) << "zero fill";
    };
}

struct Case {
    const char* name;
    std::function<ByteVector()> patch;
    int exitCode;
    const char* message;  // in the one line on standard error; empty on success
    Check check;          // what the image must be afterwards; none: as it was
    std::function<ByteVector()> image = original;
    QStringList options = {};
    const char* command = "a";
    std::uint64_t fileSizeLimit = 0;
};

const int kCorrupt = int(ErrorKind::Corrupt), kValidation = int(ErrorKind::Validation);

const Case kCases[] = {
    {"bad magic", [] { return withText({}, std::string("PPF40") + std::string(100, ' ')); },
     kCorrupt, "bad magic", nullptr},
    {"empty file", [] { return ByteVector{}; }, kCorrupt, "bad magic", nullptr},
    {"truncated header",
     [] {
         const ByteVector p = writePpf3("x", 0, {}, false, kOneRecord);
         return ByteVector(p.begin(), p.begin() + 40);
     },
     kCorrupt, "truncated header", nullptr},
    {"truncated validation block",
     [] {
         const ByteVector p = writePpf3("x", 0, binBlock(), false, {});
         return ByteVector(p.begin(), p.begin() + 600);
     },
     kCorrupt, "truncated header", nullptr},
    {"encoding method does not match the magic",
     [] {
         ByteVector p = writePpf3("x", 0, {}, false, kOneRecord);
         p[5] = 0;
         return p;
     },
     kCorrupt, "encoding method 0", nullptr},
    {"truncated record",
     [] {
         return withTail(writePpf3("x", 0, {}, false, kOneRecord), {0x20, 0, 0, 0, 0, 0});
     },
     kCorrupt, "record 2 is truncated", nullptr},
    {"record length past the end of the area",
     [] {
         return withTail(writePpf3("x", 0, {}, false, kOneRecord),
                         {0x20, 0, 0, 0, 0, 0, 0, 0, 10, 1, 2, 3});
     },
     kCorrupt, "record 2 (length 10) runs past the end", nullptr},
    {"undo bytes missing from the last record",
     [] {
         ByteVector p = writePpf3("x", 0, {}, true, {{0x10, {1, 2, 3}, {4, 5, 6}}});
         p.pop_back();
         return p;
     },
     kCorrupt, "runs past the end", nullptr},
    {"PPF1 record past the end",
     [] {
         return withTail(writePpf1("x", {}), {0, 1, 0, 0, 200, 7});
     },
     kCorrupt, "runs past the end", nullptr},
    {"FILE_ID length points outside the file",
     [] {
         ByteVector p = writePpf3("x", 0, {}, false, kOneRecord, Trailer{"hello", 2});
         p[p.size() - 2] = 0x60;  // 0xEA60 = 60000
         p[p.size() - 1] = 0xEA;
         return p;
     },
     kCorrupt, "bad FILE_ID.DIZ trailer", nullptr},
    {"FILE_ID u32 length points before the records",
     [] {
         ByteVector p = writePpf2("x", kImageSize, binBlock(), kOneRecord, Trailer{"hi", 4});
         p[p.size() - 1] = 0x40;
         return p;
     },
     kCorrupt, "bad FILE_ID.DIZ trailer", nullptr},
    {"negative PPF3 offset",
     [] {
         return writePpf3("x", 0, {}, false, {{~std::uint64_t(0) - 15, {1}, {}}});
     },
     kCorrupt, "negative offset", nullptr},
    {"no records",
     [] {
         return writePpf3("x", 0, binBlock(), false, {}, Trailer{"nothing to do", 2});
     },
     0, "", nullptr},
    {"zero-length record far away changes nothing",
     [] {
         return writePpf3("x", 0, {}, false, {{std::uint64_t(1) << 40, {}, {}}});
     },
     0, "", nullptr},
    {"validation block mismatch", [] { return writePpf3("x", 0, binBlock(), false, kOneRecord); },
     kValidation, "validation block at 0x9320 does not match", nullptr,
     [] {
         ByteVector i = original();
         i[kBinValidationOffset + 100] ^= 1;
         return i;
     }},
    {"validation block mismatch, forced",
     [] { return writePpf3("x", 0, binBlock(), false, kOneRecord); },
     0,
     "",
     [](const QString& image) {
         EXPECT_EQ(bytesAt(image, 0x10, 3), (ByteVector{1, 2, 3}));
     },
     [] {
         ByteVector i = original();
         i[kBinValidationOffset + 100] ^= 1;
         return i;
     },
     {"--force"}},
    {"image too short for the validation block",
     [] { return writePpf3("x", 0, binBlock(), false, kOneRecord); }, kValidation, "too short",
     nullptr, [] { return randomBytes(20000, 3); }},
    {"PPF2 size mismatch", [] { return writePpf2("x", kImageSize + 1, binBlock(), kOneRecord); },
     kValidation, "the image is 49152 bytes, the patch was made for 49153", nullptr},
    {"PPF2 validation block mismatch",
     [] { return writePpf2("x", kImageSize, ByteVector(1024, 0xEE), kOneRecord); }, kValidation,
     "does not match", nullptr},
    {"PPF1 offset at 2^31 is unsigned",
     [] {
         return writePpf1("x", {{0x80000010, {9, 8, 7}, {}}});
     },
     0, "", grewTo(0x80000010, {9, 8, 7})},
    {"PPF2 offset above 2^31 is unsigned",
     [] {
         return writePpf2("x", kImageSize, binBlock(), {{0x9000000F, {5, 6}, {}}});
     },
     0, "", grewTo(0x9000000F, {5, 6})},
    {"offset far past the end grows with zeros",
     [] {
         return writePpf3("x", 0, {}, false, {{kImageSize + (3 << 20), {4, 4}, {}}});
     },
     0, "", grewTo(kImageSize + (3 << 20), {4, 4})},
    {"undo without undo data",
     [] { return writePpf3("x", 0, {}, false, kOneRecord); },
     int(ErrorKind::Refused),
     "no undo data",
     nullptr,
     original,
     {},
     "u"},
    {"disk full while writing the patched copy",
     [] { return writePpf3("x", 0, {}, false, kOneRecord); },
     int(ErrorKind::Io),
     "File too large",
     nullptr,
     original,
     {},
     "a",
     32 * 1024},
};

TEST(PpfHostile, FailsCleanlyOrAppliesSoundly) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        const QString image = dir.filePath("map.map"), patch = dir.filePath("zandrel.ppf");
        const ByteVector before = c.image();
        writeFile(image, before);
        writeFile(patch, c.patch());

        ToolEnvironment env;
        env.fileSizeLimit = c.fileSizeLimit;
        const ToolResult r = runTool(QStringList{c.command} << c.options << image << patch, env);
        ASSERT_TRUE(r.finished) << "the tool hung";
        EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
        if (c.exitCode == 0) {
            EXPECT_EQ(r.err, "");
        } else {
            EXPECT_EQ(r.err.rfind("ppf: ", 0), 0u) << r.err;
            EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << "one line: " << r.err;
            EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        }
        if (c.check) {
            c.check(image);
        } else {
            EXPECT_EQ(readFile(image), before) << "the image changed";
        }
        EXPECT_TRUE(leftoverTemporaries(dir.path()).isEmpty())
            << leftoverTemporaries(dir.path()).join(" ").toStdString();
    }
}

}  // namespace
}  // namespace zandrel::patch::testing
