// Fuzzes the block-chain walk over RAR 4/5 headers with arbitrary bytes. Checks, besides what
// ASan and UBSan see:
// - no read outside the data, and every read asks for something;
// - the walk ends: at most two reads per block, and a block takes at least 7 bytes;
// - the memory reader and a reader that hands data out in small pieces agree;
// - a Complete verdict ends inside the data, and every cut shorter than its end block's end
//   (the end itself minus one, and a cut chosen by the input) is not Complete.

#include "archive/block_chain.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace {

using zandrel::archive::ChainResult;
using zandrel::archive::ReadAt;
using zandrel::archive::Verdict;
using zandrel::archive::walkBlockChain;

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "block chain: %s\n", what);
    std::abort();
}

// The data handed out at most `piece` bytes at a time, every read checked and counted.
ChainResult walkInPieces(std::string_view data, std::size_t piece, std::size_t& reads) {
    reads = 0;
    const ReadAt read = [&](std::int64_t offset, void* buffer, std::size_t n) -> std::int64_t {
        ++reads;
        if (offset < 0 || std::uint64_t(offset) > data.size() || n == 0)
            fail("read outside the data");
        if (n > data.size() - std::size_t(offset) && std::uint64_t(offset) != data.size())
            fail("read past the end of the data");
        const std::size_t give = std::min({n, piece, data.size() - std::size_t(offset)});
        std::memcpy(buffer, data.data() + offset, give);
        return std::int64_t(give);
    };
    return walkBlockChain(read, std::int64_t(data.size()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    const std::string_view data(reinterpret_cast<const char*>(bytes), size);
    const ChainResult whole = walkBlockChain(data);
    if (whole.detail.empty()) fail("a verdict without a reason");

    std::size_t reads = 0;
    const ChainResult pieces = walkInPieces(data, 3, reads);
    if (pieces.verdict != whole.verdict || pieces.offset != whole.offset || pieces.end != whole.end)
        fail("the two readers disagree");
    // Reads of at most 3 bytes: a block of at least 7 bytes takes at most 5 reads for its
    // start and its header's size / 3 + 1 more, so never more than two reads per byte.
    if (reads > 2 * size + 16) fail("too many reads");

    if (whole.verdict == Verdict::Complete) {
        if (whole.end <= 0 || std::uint64_t(whole.end) > size) fail("end outside the data");
        if (walkBlockChain(data.substr(0, std::size_t(whole.end) - 1)).verdict == Verdict::Complete)
            fail("a cut before the end block's end is complete");
        const std::size_t cut = size ? bytes[0] * std::size_t(whole.end) / 256 : 0;
        if (walkBlockChain(data.substr(0, cut)).verdict == Verdict::Complete)
            fail("a cut is complete");
    }
    return 0;
}
