// The block-chain walk over archives written by the stored-RAR writer, whole and cut.
#include "archive/block_chain.h"

#include "rar/rarwriter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using zandrel::archive::Verdict;
using zandrel::archive::verdictName;
using zandrel::archive::walkBlockChain;
using zandrel::rar::Entry;
using zandrel::rar::Format;
using zandrel::rar::Options;

const char* formatName(Format f) {
    return f == Format::Rar4 ? "RAR 4" : "RAR 5";
}

std::vector<Entry> sampleEntries() {
    return {{"bloodgulch.map", std::string(3000, 'b')},
            {"textures", "", Entry::Directory},
            {"textures\\sky.bin", "sky"},
            {"empty.map", ""}};
}

TEST(BlockChain, EveryCutOfACompleteArchiveIsTruncated) {
    for (Format f : {Format::Rar4, Format::Rar5}) {
        SCOPED_TRACE(formatName(f));
        std::vector<std::size_t> blocks;
        const std::string whole = zandrel::rar::writeStored(f, sampleEntries(), {}, &blocks);
        const auto full = walkBlockChain(whole);
        EXPECT_EQ(full.verdict, Verdict::Complete) << full.detail;
        EXPECT_EQ(full.end, std::int64_t(whole.size()));

        // At every block boundary (the classic fault: a cut there looks like a shorter archive),
        // a byte either side of it, and every byte of the headers and the data besides.
        for (std::size_t cut = 0; cut < whole.size(); ++cut) {
            const auto r = walkBlockChain(std::string_view(whole).substr(0, cut));
            const bool boundary = std::find(blocks.begin(), blocks.end(), cut) != blocks.end();
            EXPECT_NE(r.verdict, Verdict::Complete)
                << "cut at " << cut << (boundary ? " (block boundary)" : "");
            if (cut >= 8) {
                EXPECT_EQ(r.verdict, Verdict::Truncated)
                    << "cut at " << cut << ": " << verdictName(r.verdict) << ", " << r.detail;
            }
        }
        // Bytes after the end block are not part of the chain.
        EXPECT_EQ(walkBlockChain(whole + "trailing").verdict, Verdict::Complete);
    }
}

TEST(BlockChain, VerdictsOfWholeArchives) {
    struct Case {
        std::string name;
        std::string bytes;
        Verdict expected;
    };
    std::vector<Case> cases;
    for (Format f : {Format::Rar4, Format::Rar5}) {
        const std::string n = std::string(formatName(f)) + ": ";
        Entry encrypted{"secret.map", "ciphertext"};
        encrypted.encrypted = true;
        Entry split{"part.map", "first half"};
        split.split = true;
        cases.push_back(
            {n + "plain", zandrel::rar::writeStored(f, sampleEntries()), Verdict::Complete});
        cases.push_back({n + "no entries", zandrel::rar::writeStored(f, {}), Verdict::Complete});
        cases.push_back({n + "an encrypted entry after a plain one",
                         zandrel::rar::writeStored(f, {{"a.map", "a"}, encrypted}),
                         Verdict::Encrypted});
        cases.push_back({n + "encrypted headers",
                         zandrel::rar::writeStored(f, sampleEntries(), {.headersEncrypted = true}),
                         Verdict::Encrypted});
        // RAR before 2.9 wrote no end block; such an archive is indistinguishable from one cut
        // at a block boundary, and is refused like it.
        cases.push_back({n + "no end block",
                         zandrel::rar::writeStored(f, sampleEntries(), {.endBlock = false}),
                         Verdict::Truncated});
        cases.push_back({n + "end block announces another volume",
                         zandrel::rar::writeStored(f, sampleEntries(), {.nextVolume = true}),
                         Verdict::Split});
        // Some writers leave RAR 5's end-of-archive flags out; RAR 4's end block has no such
        // field, and its row shows the same archive.
        cases.push_back({n + "end block without its end-of-archive flags",
                         zandrel::rar::writeStored(f, sampleEntries(), {.endFlags = false}),
                         Verdict::Complete});
        cases.push_back({n + "entry continued in the next volume",
                         zandrel::rar::writeStored(f, {split}), Verdict::Split});
        cases.push_back({n + "signature only",
                         zandrel::rar::archiveStart(f).substr(0, f == Format::Rar4 ? 7 : 8),
                         Verdict::Truncated});
    }
    // Without the end block's flags, only the main header tells that another volume follows.
    cases.push_back({"RAR 5: a volume's end block without its end-of-archive flags",
                     zandrel::rar::writeStored(Format::Rar5, sampleEntries(),
                                               {.endFlags = false, .volume = true}),
                     Verdict::Split});
    // A RAR 4 header whose size field is below its fixed part.
    std::string tiny = zandrel::rar::writeStored(Format::Rar4, sampleEntries());
    tiny[7 + 5] = 3;
    tiny[7 + 6] = 0;
    cases.push_back({"RAR 4: header size below 7", tiny, Verdict::Damaged});
    // A RAR 5 header size of more than 2 MiB.
    std::string huge = zandrel::rar::writeStored(Format::Rar5, sampleEntries());
    huge.replace(8 + 4, 1, "\xFF\xFF\xFF\x7F");
    cases.push_back({"RAR 5: header size over 2 MiB", huge, Verdict::Damaged});
    cases.push_back(
        {"RAR 5: ten-byte size field",
         std::string("Rar!\x1A\x07\x01\x00", 8) + "CRC!" + std::string(10, '\xFF') + "rest",
         Verdict::Damaged});
    cases.push_back({"empty file", "", Verdict::NotRar});
    cases.push_back({"text", "this is not a RAR archive", Verdict::NotRar});
    cases.push_back({"RAR 1.4", std::string("RE~^\x07\x00\x00", 7) + "old", Verdict::NotRar});
    cases.push_back(
        {"self-extracting stub before the archive",
         "MZ" + std::string(100, '\0') + zandrel::rar::writeStored(Format::Rar4, sampleEntries()),
         Verdict::NotRar});

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto r = walkBlockChain(c.bytes);
        EXPECT_EQ(r.verdict, c.expected)
            << verdictName(r.verdict) << " (" << r.detail << ") at " << r.offset;
        EXPECT_FALSE(r.detail.empty());
    }
}

// The descriptor reader and the memory reader walk the same chain.
TEST(BlockChain, FileAndMemoryAgree) {
    const std::string whole = zandrel::rar::writeStored(Format::Rar5, sampleEntries());
    FILE* f = std::tmpfile();
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(std::fwrite(whole.data(), 1, whole.size(), f), whole.size());
    std::fflush(f);
    for (std::size_t cut : {whole.size(), whole.size() - 1, std::size_t(40)}) {
        SCOPED_TRACE(cut);
        const auto fromFile = walkBlockChain(fileno(f), std::int64_t(cut));
        const auto fromMemory = walkBlockChain(std::string_view(whole).substr(0, cut));
        EXPECT_EQ(fromFile.verdict, fromMemory.verdict);
        EXPECT_EQ(fromFile.offset, fromMemory.offset);
    }
    std::fclose(f);
}

}  // namespace
