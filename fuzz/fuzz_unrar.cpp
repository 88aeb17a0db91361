// Fuzzes the unpacking component with arbitrary archive bytes, extracted into a temporary map
// folder. Checks, besides what ASan and UBSan see:
// - nothing outside the map folder changes (the archive's own folder, a sibling folder);
// - the map folder holds only folders and regular files, and no staging folder is left
//   (once the replaced files are freed);
// - a failed extraction leaves the map folder exactly as it was;
// - progress rises from 0 to at most 90, and reaches 100 only on success, as the last call.

#include "archive/unrar.h"
#include "base/error.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// Enough for the corpus; keeps a declared size of gigabytes from being written.
constexpr std::int64_t kMaxTotalBytes = 1 << 20;

[[noreturn]] void fail(const std::string& what) {
    std::fprintf(stderr, "unrar: %s\n", what.c_str());
    std::abort();
}

std::string readAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeAll(const fs::path& p, const std::string& bytes) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), std::streamsize(bytes.size()));
    if (!out.flush()) fail("cannot write " + p.string());
}

// Every name under `root` with what it is: a file's contents, a folder, a link, anything else.
using Snapshot = std::map<std::string, std::string>;
Snapshot snapshot(const fs::path& root) {
    Snapshot names;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator();
         ++it) {
        const fs::path rel = fs::relative(it->path(), root);
        const fs::file_status st = it->symlink_status();
        if (fs::is_symlink(st)) {
            names[rel] = "link:" + fs::read_symlink(it->path()).string();
        } else if (fs::is_directory(st)) {
            names[rel] = "folder";
        } else if (fs::is_regular_file(st)) {
            names[rel] = "file:" + readAll(it->path());
        } else {
            names[rel] = "special";
        }
    }
    return names;
}

// A game folder in memory where possible: app/zandrel.rar, app/maps/ with two maps, and a
// sibling outside/ that no extraction may touch.
struct Game {
    fs::path root, app, maps, archive;
    Snapshot outsideMaps;  // everything but the map folder, as it must stay
    Snapshot baseline;     // the map folder before each run

    Game() {
        const fs::path base =
            fs::exists("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
        std::string pattern = (base / "zandrel-fuzz-unrar-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) fail("cannot make a temporary folder");
        root = pattern;
        app = root / "app";
        maps = app / "maps";
        archive = app / "zandrel.rar";
        fs::create_directories(root / "outside");
        writeAll(root / "outside" / "victim", "victim");
        resetMaps();
        writeAll(archive, "");
        outsideMaps = outside();
    }
    ~Game() {
        std::error_code ec;
        fs::remove_all(root, ec);
    }

    void resetMaps() {
        fs::remove_all(maps);
        fs::create_directories(maps / "sub");
        writeAll(maps / "bloodgulch.map", "old bloodgulch");
        writeAll(maps / "sub" / "keep.map", "keep me");
        baseline = snapshot(maps);
    }

    // Everything but the map folder; the archive only by its name, as each input rewrites it.
    Snapshot outside() const {
        Snapshot s;
        for (const auto& entry : fs::directory_iterator(root)) {
            const std::string name = entry.path().filename();
            s[name] = entry.is_directory() ? "folder" : "other";
            if (name == "app" || !entry.is_directory()) continue;
            for (const auto& [below, what] : snapshot(entry.path())) s[name + "/" + below] = what;
        }
        for (const auto& entry : fs::directory_iterator(app)) {
            if (entry.path() == maps) continue;
            const bool archiveFile =
                entry.path() == archive && entry.is_regular_file() && !entry.is_symlink();
            s[fs::relative(entry.path(), root)] = archiveFile ? "the archive" : "something else";
        }
        return s;
    }
};

Game& game() {
    static Game* g = [] {
        auto* made = new Game;
        std::atexit([] { delete &game(); });
        return made;
    }();
    return *g;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Game& g = game();
    writeAll(g.archive, std::string(reinterpret_cast<const char*>(data), size));

    zandrel::archive::UnRar unrar;
    unrar.setMaxTotalBytes(kMaxTotalBytes);
    unrar.setMaxEntries(64);
    std::vector<int> events;
    unrar.ExtractProgress = [&](std::int16_t percent) { events.push_back(percent); };
    bool ok = true;
    try {
        unrar.ExtractArchive(QString::fromStdString(g.archive.string()),
                             QString::fromStdString(g.maps.string()));
    } catch (const zandrel::Error& e) {
        ok = false;
    }
    unrar.WaitForCleanup();  // the replaced files are freed off the caller's thread

    if (g.outside() != g.outsideMaps) fail("something outside the map folder changed");
    const Snapshot after = snapshot(g.maps);
    for (const auto& [name, what] : after) {
        if (what == "special" || what.rfind("link:", 0) == 0) {
            fail("the map folder holds something that is neither file nor folder: " + name);
        }
        // Names starting with ".zandrel-" are ours (archive entries may not use them): the
        // staging folder, and the file layer's temporary files.
        if (name.rfind(".zandrel-", 0) == 0) fail("a staging folder was left behind");
    }
    if (!ok && after != g.baseline) fail("a failed extraction changed the map folder");

    for (std::size_t i = 0; i < events.size(); ++i) {
        const bool last = i + 1 == events.size();
        if ((i > 0 && events[i] <= events[i - 1]) || events[i] < 0 ||
            (events[i] > 90 && !(ok && last && events[i] == 100))) {
            fail("progress out of order or out of range");
        }
    }
    if (ok && (events.empty() || events.back() != 100)) fail("success without progress 100");

    // Only a success may change the map folder; put it back for the next input.
    if (ok && after != g.baseline) g.resetMaps();
    return 0;
}
