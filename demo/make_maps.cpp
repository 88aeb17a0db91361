// demo-maps <folder>
// Writes the demo's sample map files, all of our own making: small binary files with a text
// header that names the map and its version, then bytes from a fixed generator so every build
// makes the same files.
//   <folder>/samples/  canyon.map, harbor.map, ridge.map   the player's maps before any update
//   <folder>/rar/      canyon.map (version 2), glacier.map the RAR server's archive contents
//   <folder>/ppf/      ridge.map (version 2)               what the PPF server's patch makes
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

constexpr std::size_t kMapSize = 64 * 1024;  // large enough for the patch's validation block

std::string makeMap(const std::string& name, int version, std::uint32_t seed) {
    std::string bytes(kMapSize, '\0');
    std::uint32_t x = seed;
    for (auto& b : bytes) {
        // xorshift32: deterministic, no dependence on the standard library's engines
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<char>(x & 0xff);
    }
    const std::string header =
        "ZANDREL DEMO MAP\n" + name + "\nversion " + std::to_string(version) + "\n";
    bytes.replace(0, header.size(), header);
    return bytes;
}

// Version 2 of a map: a new header line and a few changed stretches, as a map edit would leave.
std::string editMap(std::string bytes, const std::string& name) {
    const std::string header = "ZANDREL DEMO MAP\n" + name + "\nversion 2\n";
    bytes.replace(0, header.size(), header);
    for (std::size_t at : {std::size_t{4096}, std::size_t{20000}, std::size_t{50000}}) {
        const std::string mark = "[edited by the server administrator]";
        bytes.replace(at, mark.size(), mark);
    }
    return bytes;
}

bool write(const std::filesystem::path& path, const std::string& bytes) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
        std::fprintf(stderr, "demo-maps: cannot write %s\n", path.c_str());
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: demo-maps <folder>\n");
        return 2;
    }
    const std::filesystem::path root = argv[1];
    const std::string canyon = makeMap("canyon", 1, 0x1234567u);
    const std::string harbor = makeMap("harbor", 1, 0x2468aceu);
    const std::string ridge = makeMap("ridge", 1, 0x13579bdu);
    bool ok = write(root / "samples" / "canyon.map", canyon) &&
              write(root / "samples" / "harbor.map", harbor) &&
              write(root / "samples" / "ridge.map", ridge) &&
              write(root / "rar" / "canyon.map", editMap(canyon, "canyon")) &&
              write(root / "rar" / "glacier.map", makeMap("glacier", 1, 0x0badf00du)) &&
              write(root / "ppf" / "ridge.map", editMap(ridge, "ridge"));
    return ok ? 0 : 1;
}
