// rarwrite [--rar4|--rar5] <out.rar> <file>...
// Writes a stored RAR archive holding each file under its base name (RAR 4.x by default).
#include "rar/rarwriter.h"

#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    using zandrel::rar::Format;
    Format format = Format::Rar4;
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--rar4") {
            format = Format::Rar4;
        } else if (a == "--rar5") {
            format = Format::Rar5;
        } else {
            args.push_back(a);
        }
    }
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: rarwrite [--rar4|--rar5] <out.rar> <file>...\n");
        return 2;
    }
    const std::filesystem::path out = args[0];
    std::vector<zandrel::rar::SourceFile> files;
    for (std::size_t i = 1; i < args.size(); ++i)
        files.push_back({std::filesystem::path(args[i]).filename().string(), args[i]});

    // Written beside the target and renamed, so a failed run leaves no half archive behind.
    const std::filesystem::path partial = out.string() + ".part";
    try {
        std::ofstream stream(partial, std::ios::binary | std::ios::trunc);
        if (!stream) throw std::runtime_error("cannot create " + partial.string());
        zandrel::rar::writeStoredFiles(format, files, stream);
        stream.close();
        if (!stream) throw std::runtime_error("cannot write " + partial.string());
        std::filesystem::rename(partial, out);
    } catch (const std::exception& e) {
        std::error_code ignored;
        std::filesystem::remove(partial, ignored);
        std::fprintf(stderr, "rarwrite: %s\n", e.what());
        return 1;
    }
    return 0;
}
