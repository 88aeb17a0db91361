// Writes the seed archives of fuzz_unrar (and fuzz_block_chain) into the folder given: sound
// archives of both formats and the hostile and broken ones the unpacking component must refuse
// without a trace.
#include "rar/rarwriter.h"

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

using zandrel::rar::Entry;
using zandrel::rar::Format;

namespace {

void save(const std::string& folder, const std::string& name, const std::string& bytes) {
    std::ofstream out(folder + "/seed-" + name, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), std::streamsize(bytes.size()));
}

Entry file(std::string name, std::string data) {
    return Entry{.name = std::move(name), .data = std::move(data)};
}

Entry folder(std::string name) {
    return Entry{.name = std::move(name), .kind = Entry::Directory};
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_unrar_seeds <corpus folder>\n");
        return 2;
    }
    const std::string out = argv[1];
    struct Seed {
        const char* name;
        std::vector<Entry> entries;
    };
    Entry badCrc = file("crc.map", "damaged bytes");
    badCrc.crcOverride = 0x12345678;
    Entry encrypted = file("bloodgulch.map", "ciphertext");
    encrypted.encrypted = true;
    Entry split = file("part.map", "first half");
    split.split = true;
    std::string deep;
    for (int i = 0; i < 40; ++i) deep += "d/";
    const Seed seeds[] = {
        {"one-map", {file("beavercreek.map", "a map's bytes")}},
        {"replaces", {file("bloodgulch.map", "new bloodgulch"), file("sub/keep.map", "new")}},
        {"folders", {folder("a"), folder("a/b"), file("a/b/c.map", "c"), file("a\\d.map", "d")}},
        {"empty", {}},
        {"empty-file", {file("zero.map", "")}},
        {"dotdot", {file("..\\outside\\victim", "owned")}},
        {"dotdot-slash", {file("a/../../x", "owned")}},
        {"absolute", {file("/tmp/x", "owned")}},
        {"drive", {file("C:\\x.map", "owned")}},
        {"unc", {file("\\\\server\\share\\x", "owned")}},
        {"stream", {file("a.map:stream", "owned")}},
        {"symlink", {Entry{.name = "link", .kind = Entry::Symlink, .linkTarget = "/etc"}}},
        {"symlink-then-file",
         {Entry{.name = "d", .kind = Entry::Symlink, .linkTarget = ".."}, file("d/x", "owned")}},
        {"hardlink",
         {file("a.map", "a"),
          Entry{.name = "b.map", .kind = Entry::Hardlink, .linkTarget = "a.map"}}},
        {"duplicate", {file("x.map", "1"), file("X.map", "case differs"), file("x.map", "2")}},
        {"file-and-folder", {file("x", "1"), file("x/y", "2")}},
        {"folder-over-file", {folder("bloodgulch.map")}},
        {"file-over-folder", {file("sub", "a file where a folder is")}},
        {"staging-name", {file(".zandrel-unpack-00000000/x", "x")}},
        {"control-char", {file("a\x01.map", "x")}},
        {"bad-crc", {badCrc}},
        {"encrypted", {file("a.map", "a"), encrypted}},
        {"split", {split}},
        {"deep", {file(deep + "x.map", "deep")}},
        {"long-name", {file(std::string(300, 'n'), "long")}},
        {"case-duplicate", {file("a.map", "1"), file("A.MAP", "2")}},
        {"case-replaces", {file("BLOODGULCH.MAP", "new"), file("SUB/Keep.map", "new")}},
        {"own-prefix", {file(".zandrel-stage-1234/x", "x")}},
    };
    for (const Format format : {Format::Rar4, Format::Rar5}) {
        const std::string prefix = format == Format::Rar4 ? "rar4-" : "rar5-";
        for (const Seed& s : seeds) {
            if (format == Format::Rar4 && s.name == std::string("hardlink")) continue;
            std::vector<std::size_t> blocks;
            const std::string bytes = zandrel::rar::writeStored(format, s.entries, {}, &blocks);
            save(out, prefix + s.name, bytes);
            if (s.name == std::string("folders")) {
                // Cut in a header, in the data, and just before the end block.
                save(out, prefix + "truncated-header", bytes.substr(0, 30));
                save(out, prefix + "truncated-data", bytes.substr(0, bytes.size() - 12));
                save(out, prefix + "truncated-end", bytes.substr(0, bytes.size() - 7));
                // Cut at every block boundary: each looks like a shorter archive.
                for (std::size_t i = 0; i < blocks.size(); ++i)
                    save(out, prefix + "cut-at-block-" + std::to_string(i),
                         bytes.substr(0, blocks[i]));
                save(out, prefix + "no-end-block",
                     zandrel::rar::writeStored(format, s.entries, {.endBlock = false}));
                save(out, prefix + "headers-encrypted",
                     zandrel::rar::writeStored(format, s.entries, {.headersEncrypted = true}));
                save(out, prefix + "next-volume",
                     zandrel::rar::writeStored(format, s.entries, {.nextVolume = true}));
                save(out, prefix + "no-end-flags",
                     zandrel::rar::writeStored(format, s.entries, {.endFlags = false}));
                save(out, prefix + "volume-no-end-flags",
                     zandrel::rar::writeStored(format, s.entries,
                                               {.endFlags = false, .volume = true}));
            }
        }
    }
    save(out, "not-rar", "PK\x03\x04 a zip header");
    return 0;
}
