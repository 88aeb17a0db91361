// Fuzzes the PPF reader and both appliers with arbitrary patch bytes against a small image.
//
// Input: one option byte (bit 0 undo, bit 1 force, bits 2-3 the image), then the patch.
// Checks, besides what ASan and UBSan see:
// - a patch is either parsed or refused as corrupt, and a parsed one is self-consistent;
// - the in-memory applier and the file applier agree: the same error kind, or the same bytes;
// - on every failure the image file keeps its old bytes, and no temporary file is left beside
//   it (the file applier works in a temporary folder of its own);
// - both say "already applied" for the same patches, and then nothing was written.

#include "patch/ppf.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace zandrel::patch;

namespace {

// Large enough for a grown image to be checked byte by byte, small enough to stay fast.
constexpr std::uint64_t kMaxImageSize = 1 << 20;

[[noreturn]] void fail(const std::string& what) {
    std::fprintf(stderr, "ppf: %s\n", what.c_str());
    std::abort();
}

// The images a patch is tried on: empty, short (no validation block), and one that holds both
// validation windows (0x80A0 and 0x9320).
std::vector<std::uint8_t> image(int choice) {
    const std::size_t sizes[] = {0, 64, 0x9320 + kValidationSize + 16, 0x9320 + 100};
    std::vector<std::uint8_t> v(sizes[choice]);
    for (std::size_t i = 0; i < v.size(); ++i) v[i] = std::uint8_t(i * 7 + (i >> 8));
    return v;
}

// The folder the file applier works in: in memory where possible, since every commit syncs.
// Never destroyed, so that the exit handler that removes it still has its name.
const fs::path& folder() {
    static const fs::path* dir = [] {
        const fs::path base =
            fs::exists("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
        std::string pattern = (base / "zandrel-fuzz-ppf-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) fail("cannot make a temporary folder");
        auto* made = new fs::path(pattern);
        std::atexit([] {
            std::error_code ec;
            fs::remove_all(folder(), ec);
        });
        return made;
    }();
    return *dir;
}

void writeFile(const fs::path& path, const std::uint8_t* data, std::size_t size) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) fail("cannot write " + path.string());
    for (std::size_t done = 0; done < size;) {
        const ssize_t n = ::write(fd, data + done, size - done);
        if (n <= 0) fail("cannot write " + path.string());
        done += std::size_t(n);
    }
    ::close(fd);
}

std::vector<std::uint8_t> readFile(const fs::path& path) {
    std::vector<std::uint8_t> v(fs::file_size(path));
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || ::read(fd, v.data(), v.size()) != ssize_t(v.size())) {
        fail("cannot read " + path.string());
    }
    ::close(fd);
    return v;
}

// Everything parsePatch promises about a patch it accepted.
void checkParsed(const Patch& p, Bytes bytes) {
    if (p.description.size() > kDescriptionSize) fail("description longer than its field");
    if (p.blockCheck && p.validationBlock.size() != kValidationSize) fail("short validation block");
    const std::uint8_t* areaBegin = p.recordArea.data();
    const std::uint8_t* areaEnd = areaBegin + p.recordArea.size();
    if (areaBegin < bytes.data() || areaEnd > bytes.data() + bytes.size()) {
        fail("record area outside the patch");
    }
    std::size_t count = 0;
    std::uint64_t maxEnd = 0;
    p.forEachRecord([&](const Record& r) {
        ++count;
        for (const Bytes& s : {r.data, r.undo}) {
            if (!s.empty() && (s.data() < areaBegin || s.data() + s.size() > areaEnd)) {
                fail("record bytes outside the record area");
            }
        }
        if (p.undoData && r.undo.size() != r.data.size()) fail("undo bytes of another length");
        if (!r.data.empty()) maxEnd = std::max(maxEnd, r.offset + r.data.size());
    });
    if (count != p.recordCount) fail("record count differs from the records walked");
    if (maxEnd != p.maxEnd) fail("maxEnd differs from the records walked");

    // What the tool prints of the untrusted texts: never a control character.
    for (const std::string& text : {p.description, p.fileId.value_or(std::string())}) {
        for (const char c : printable(text)) {
            const auto u = static_cast<unsigned char>(c);
            if ((u < 0x20 && c != '\n' && c != '\t') || u == 0x7F) fail("control byte printed");
        }
    }
}

struct Result {
    std::optional<ErrorKind> error;
    bool alreadyApplied = false;
    std::vector<std::uint8_t> image;
};

std::string describe(const Result& o) {
    return o.error ? "error kind " + std::to_string(int(*o.error))
                   : "success, " + std::to_string(o.image.size()) + " bytes";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::uint8_t flags = data[0];
    const Bytes patchBytes(data + 1, size - 1);
    ApplyOptions options;
    options.direction = (flags & 1) ? Direction::Undo : Direction::Apply;
    options.force = (flags & 2) != 0;
    options.maxImageSize = kMaxImageSize;
    const std::vector<std::uint8_t> original = image((flags >> 2) & 3);

    std::optional<Patch> patch;
    try {
        patch = parsePatch(patchBytes);
    } catch (const PatchError& e) {
        if (e.kind() != ErrorKind::Corrupt) fail("parse failed with a kind other than Corrupt");
    }
    if (patch) checkParsed(*patch, patchBytes);

    Result memory{std::nullopt, false, original};
    try {
        memory.alreadyApplied =
            applyToImage(memory.image, patchBytes, options) == Outcome::AlreadyApplied;
    } catch (const PatchError& e) {
        memory.error = e.kind();
        if (memory.image != original) fail("in-memory image changed by a failed apply");
    }
    if (patch.has_value() == (memory.error == ErrorKind::Corrupt)) {
        fail("in-memory apply and parse disagree on the patch being corrupt");
    }

    const fs::path imagePath = folder() / "image.bin";
    const fs::path patchPath = folder() / "patch.ppf";
    writeFile(imagePath, original.data(), original.size());
    writeFile(patchPath, patchBytes.data(), patchBytes.size());
    struct stat before {};
    if (::stat(imagePath.c_str(), &before) != 0) fail("cannot stat the image");
    Result file;
    try {
        file.alreadyApplied = applyPatchFile(imagePath.string(), patchPath.string(), options) ==
                              Outcome::AlreadyApplied;
    } catch (const PatchError& e) {
        file.error = e.kind();
    }
    file.image = readFile(imagePath);
    if (file.error && file.image != original) fail("image file changed by a failed apply");
    if (file.error != memory.error || (!file.error && file.image != memory.image)) {
        fail("file applier (" + describe(file) + ") and in-memory applier (" + describe(memory) +
             ") differ");
    }
    std::size_t entries = 0;
    for (const auto& entry : fs::directory_iterator(folder())) {
        (void)entry;
        ++entries;
    }
    if (entries != 2) fail("the file applier left a file beside the image");
    if (file.alreadyApplied != memory.alreadyApplied) {
        fail("the appliers differ on the patch being applied already");
    }
    if (memory.alreadyApplied && memory.image != original) fail("already applied, yet changed");
    struct stat after {};
    if (file.alreadyApplied &&
        (::stat(imagePath.c_str(), &after) != 0 || after.st_ino != before.st_ino)) {
        fail("already applied, yet the image file was replaced");
    }
    return 0;
}
