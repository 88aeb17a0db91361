// The library without the tool: the file applier against the in-memory one, the parser on
// every cut of a patch, links and permissions.

#include "patch/ppf.h"
#include "ppf_test_util.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <random>

#include <sys/stat.h>

#include <gtest/gtest.h>

namespace zandrel::patch::testing {
namespace {

// The file applier patches 1 MiB windows, copies the stretches between them as they are, and
// reorders records that do not run front to back; whatever the order, overlap, growth or holes
// in the image, it must give what plain in-memory writes give, and keep the image's holes.
TEST(PpfLibrary, FileApplierMatchesInMemoryApplier) {
    constexpr std::size_t kSize = 9 << 20;
    constexpr std::uint64_t kWindow = 1 << 20;
    struct Case {
        const char* name;
        std::uint32_t seed;
        int records;  // besides those at the window boundaries
        bool sorted;
        Direction direction;
        bool sparseImage;  // data only in the first and last 64 KiB, holes between
    };
    const Case cases[] = {
        {"front to back", 1, 3000, true, Direction::Apply, false},
        {"shuffled", 2, 3000, false, Direction::Apply, false},
        {"shuffled, undo", 3, 3000, false, Direction::Undo, false},
        {"front to back, undo", 4, 3000, true, Direction::Undo, false},
        {"few records, untouched windows between", 5, 0, true, Direction::Apply, false},
        {"few records, shuffled, sparse image", 6, 0, false, Direction::Apply, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::mt19937 rng(c.seed);
        ByteVector image = randomBytes(kSize, 11);
        if (c.sparseImage) std::fill(image.begin() + (64 << 10), image.end() - (64 << 10), 0);
        std::vector<RawRecord> records;
        auto add = [&](std::uint64_t offset, std::size_t n) {
            records.push_back({offset, randomBytes(n, rng()), randomBytes(n, rng())});
        };
        for (int i = 0; i < c.records; ++i) add(rng() % (kSize + (1 << 20)), 1 + rng() % 255);
        for (std::uint64_t w : {1, 4, 8}) {  // across window boundaries
            add(w * kWindow - 10, 50);
            add(w * kWindow - 30, 40);
        }
        add(kSize + (kWindow / 2), 100);  // the image grows, with a gap that reads as zeros
        add(0, 255);
        add(100, 255);  // overlaps the one before: the later one wins
        if (c.sorted) {
            std::stable_sort(records.begin(), records.end(),
                             [](auto& a, auto& b) { return a.offset < b.offset; });
        } else {
            std::shuffle(records.begin(), records.end(), rng);
        }
        const ByteVector patchBytes = writePpf3("", 0, {}, true, records);
        const Patch patch = parsePatch(patchBytes);
        ASSERT_EQ(patch.recordCount, records.size());

        ByteVector expected = image;
        applyToImage(expected, patch, {.direction = c.direction});
        ASSERT_GT(expected.size(), kSize);

        QTemporaryDir dir;
        const QString path = dir.filePath("image.bin");
        if (c.sparseImage) {
            QFile f(path);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            ASSERT_TRUE(f.resize(qint64(kSize)));
            f.write(reinterpret_cast<const char*>(image.data()), 64 << 10);
            f.seek(qint64(kSize - (64 << 10)));
            f.write(reinterpret_cast<const char*>(image.data() + kSize - (64 << 10)), 64 << 10);
        } else {
            writeFile(path, image);
        }
        applyToFile(path.toStdString(), patch, {.direction = c.direction});
        EXPECT_TRUE(readFile(path) == expected);
        if (c.sparseImage) {
            struct stat st {};
            ASSERT_EQ(::stat(path.toLocal8Bit().constData(), &st), 0);
            // Five patched windows and the two ends at most: the holes between stayed holes.
            EXPECT_LT(std::uint64_t(st.st_blocks) * 512, 7 * kWindow);
        }
    }
}

TEST(PpfLibrary, EveryCutOfAPatchParsesOrIsCorrupt) {
    const ByteVector full = writePpf3("cut me", 0, ByteVector(1024, 7), true,
                                      {{5, {1, 2, 3}, {4, 5, 6}},
                                       {1000, {9}, {8}},
                                       {70000, ByteVector(255, 1), ByteVector(255, 2)}},
                                      Trailer{"text", 2});
    std::size_t parsed = 0;
    for (std::size_t n = 0; n <= full.size(); ++n) {
        const ByteVector cut(full.begin(), full.begin() + std::ptrdiff_t(n));
        try {
            const Patch p = parsePatch(cut);
            ++parsed;
            EXPECT_FALSE(p.fileId.has_value() && n < full.size());
        } catch (const PatchError& e) {
            EXPECT_EQ(e.kind(), ErrorKind::Corrupt) << n;
        }
    }
    // Whole records only: no records, one, two, three, and the full patch with its trailer.
    EXPECT_EQ(parsed, 5u);
}

TEST(PpfLibrary, KeepsLinksAndPermissions) {
    QTemporaryDir dir;
    const ByteVector original = randomBytes(4096, 1);
    ByteVector modified = original;
    modified[10] ^= 1;
    const QString target = dir.filePath("real.map"), link = dir.filePath("link.map");
    writeFile(target, original);
    const auto perms = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser |
                       QFile::ReadOther;
    QFile::setPermissions(target, perms);
    ASSERT_TRUE(QFile::link(target, link));

    CreateOptions options;
    options.blockCheck = false;
    const ByteVector patch = createPatch(original, modified, options);
    applyToFile(link.toStdString(), Bytes(patch));
    EXPECT_TRUE(QFileInfo(link).isSymLink());
    EXPECT_EQ(readFile(target), modified);
    EXPECT_EQ(QFile::permissions(target), perms);
}

TEST(PpfLibrary, InMemoryApplierRefusesGrowthPastItsLimit) {
    ByteVector image(100, 0);
    const ByteVector patch = writePpf3("", 0, {}, false, {{std::uint64_t(1) << 62, {1}, {}}});
    try {
        applyToImage(image, patch, {.maxImageSize = 1 << 20});
        FAIL() << "no error";
    } catch (const PatchError& e) {
        EXPECT_EQ(e.kind(), ErrorKind::Refused);
    }
    EXPECT_EQ(image.size(), 100u);
}

}  // namespace
}  // namespace zandrel::patch::testing
