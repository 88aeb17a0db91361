#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace zandrel::archive {

// The block chain of a RAR archive (4.x or 5.0), walked by the block sizes in the headers
// alone, without libarchive. It answers what libarchive does not tell reliably:
//
// - Complete: the chain starts at the signature at offset 0, every block lies inside the
//   file, and it ends with an end-of-archive block that does not announce a further volume.
//   A chain that ends anywhere else (at a block boundary, inside a header, inside data) is
//   Truncated. RAR 4 archives made before RAR 2.9 (or with end blocks switched off) have no
//   end block: they are Truncated too, since from the bytes they cannot be told apart from
//   a newer archive cut at a block boundary.
// - Encrypted: RAR 4 encrypted headers (main header flag) or an encrypted file or service
//   block (file header flag); RAR 5 archive encryption header or a file or service header
//   with an encryption record in its extra area.
// - Split: an entry continued from or into another volume.
// - NotRar: no RAR signature at offset 0 (also a self-extracting program around an
//   archive), or the RAR 1.4 signature.
// - Damaged: a header whose own fields are impossible (shorter than its fixed part, a
//   field running past the header's end, an over-long number).
//
// Invariants (checked by fuzz_block_chain): no read outside [0, size); the walk ends, every
// block moving it forward by at least 7 bytes; the same bytes give the same verdict through
// every reader; and when the verdict is Complete, every cut of the bytes shorter than
// `end` is not Complete.
enum class Verdict { Complete, Truncated, Encrypted, Split, NotRar, Damaged };

struct ChainResult {
    Verdict verdict = Verdict::NotRar;
    bool rar5 = false;
    std::int64_t offset = 0;  // where the walk stopped: the block in question
    std::int64_t end = 0;     // Complete: the first byte after the end-of-archive block
    std::string detail;       // one short phrase for an error message
};

// Reads up to `size` bytes at `offset` into `buffer`, returns how many it read (fewer only at
// the end of the data), or -1 on a read error.
using ReadAt = std::function<std::int64_t(std::int64_t offset, void* buffer, std::size_t size)>;

ChainResult walkBlockChain(const ReadAt& read, std::int64_t size);
ChainResult walkBlockChain(std::string_view bytes);
// The file open on `fd`, of `size` bytes, read with pread.
ChainResult walkBlockChain(int fd, std::int64_t size);

const char* verdictName(Verdict v);

}  // namespace zandrel::archive
