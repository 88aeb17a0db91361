#pragma once

#include "archive/header_pass.h"

#include <string>
#include <vector>

namespace zandrel::test {

// The update the commit tests install: `maps` maps replaced ("m<i>.map", present before), and
// new files in new folders, so that a move of every kind is among the ones a kill can stop.
inline std::vector<archive::PlannedEntry> commitLayout(int maps) {
    std::vector<archive::PlannedEntry> entries;
    entries.push_back({"extra", "extra", true, 0, false});
    for (int i = 0; i < maps; ++i) {
        const std::string name = "m" + std::to_string(i) + ".map";
        entries.push_back({name, name, false, 0, true});
        if (i % 50 == 0) {
            const std::string added = "extra/deeper/n" + std::to_string(i) + ".map";
            entries.push_back({added, added, false, 0, false});
        }
    }
    for (auto& e : entries) e.size = e.folder ? 0 : std::int64_t(("new " + e.path).size());
    return entries;
}

inline std::string oldBytes(const std::string& path) {
    return "old " + path;
}
inline std::string newBytes(const std::string& path) {
    return "new " + path;
}

}  // namespace zandrel::test
