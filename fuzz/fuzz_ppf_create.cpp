// Fuzzes the PPF maker against the reader and applier: a patch made from two arbitrary files
// must parse, turn the original into the modified file, and (with undo data) back again.
//
// Input: one option byte (bit 0 undo data, bit 1 block check, bit 2 image type, bit 3 a
// FILE_ID.DIZ text), two bytes giving the original's length, then the original's bytes followed
// by the modified file's bytes; the first bytes of the modified file double as the description
// and the FILE_ID.DIZ text. With the block check both files start with the same filler, long
// enough to hold the validation block.

#include "patch/ppf.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using namespace zandrel::patch;

namespace {

[[noreturn]] void fail(const std::string& what) {
    std::fprintf(stderr, "ppf maker: %s\n", what.c_str());
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) return 0;
    const std::uint8_t flags = data[0];
    std::size_t split = data[1] | (std::size_t(data[2]) << 8);
    data += 3;
    size -= 3;
    split = std::min(split, size);
    std::vector<std::uint8_t> original(data, data + split);
    std::vector<std::uint8_t> modified(data + split, data + size);
    if (flags & 2) {
        // The block check needs an original that reaches past the validation block: both
        // files get the same filler in front, so the fuzzer's bytes stay the part that differs.
        std::vector<std::uint8_t> filler(kBinValidationOffset + kValidationSize);
        for (std::size_t i = 0; i < filler.size(); ++i) filler[i] = std::uint8_t(i * 13 + (i >> 9));
        original.insert(original.begin(), filler.begin(), filler.end());
        modified.insert(modified.begin(), filler.begin(), filler.end());
    }

    CreateOptions options;
    options.undoData = flags & 1;
    options.blockCheck = flags & 2;
    options.imageType = (flags & 4) ? 1 : 0;
    const std::string text(data + split, data + std::min(size, split + 80));
    options.description = text;
    if (flags & 8) options.fileId = text;

    std::vector<std::uint8_t> patchBytes;
    try {
        patchBytes = createPatch(original, modified, options);
    } catch (const PatchError& e) {
        // Only the documented refusals: a shorter modified file, an original too short for the
        // validation block.
        const std::uint64_t needed =
            (options.imageType ? kGiValidationOffset : kBinValidationOffset) + kValidationSize;
        if (e.kind() != ErrorKind::Refused || !(modified.size() < original.size() ||
                                                (options.blockCheck && original.size() < needed))) {
            fail(std::string("unexpected refusal: ") + e.what());
        }
        return 0;
    }

    Patch patch;
    try {
        patch = parsePatch(patchBytes);
    } catch (const PatchError& e) {
        fail(std::string("the maker's patch does not parse: ") + e.what());
    }
    if (patch.undoData != options.undoData || patch.blockCheck != options.blockCheck ||
        patch.fileId.has_value() != options.fileId.has_value() ||
        (patch.fileId && *patch.fileId != *options.fileId)) {
        fail("the patch's header or FILE_ID.DIZ text is not what was asked for");
    }
    patch.forEachRecord([](const Record& r) {
        if (r.data.size() > kMaxRecordLength) fail("record longer than a record can be");
        if (!r.data.empty() &&
            r.offset / kCreateChunk != (r.offset + r.data.size() - 1) / kCreateChunk) {
            fail("record crosses a chunk boundary");
        }
    });

    std::vector<std::uint8_t> image = original;
    try {
        applyToImage(image, patch);
    } catch (const PatchError& e) {
        fail(std::string("the maker's patch does not apply to its original: ") + e.what());
    }
    if (image != modified) fail("applying the patch does not give the modified file");

    if (options.undoData) {
        try {
            applyToImage(image, patch, {.direction = Direction::Undo});
        } catch (const PatchError& e) {
            fail(std::string("the maker's patch does not undo: ") + e.what());
        }
        // Undo cannot shorten: the grown part comes back as the zero fill it started from.
        original.resize(modified.size(), 0);
        if (image != original) fail("undoing the patch does not give the original back");
    }
    return 0;
}
