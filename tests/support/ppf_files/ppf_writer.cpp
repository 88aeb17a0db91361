#include "ppf_writer.h"

#include <algorithm>

namespace zandrel::patch::testing {

namespace {

void putLe(ByteVector& out, std::uint64_t v, int width) {
    for (int i = 0; i < width; ++i) out.push_back(std::uint8_t(v >> (8 * i)));
}

void putText(ByteVector& out, const std::string& text) {
    out.insert(out.end(), text.begin(), text.end());
}

void header(ByteVector& out, const char* magic, std::uint8_t method,
            const std::string& description) {
    putText(out, magic);
    out.push_back(method);
    std::string d = description.substr(0, 50);
    d.resize(50, ' ');
    putText(out, d);
}

void records(ByteVector& out, const std::vector<RawRecord>& recs, int offsetWidth, bool undo) {
    for (const RawRecord& r : recs) {
        putLe(out, r.offset, offsetWidth);
        out.push_back(std::uint8_t(r.data.size()));
        out.insert(out.end(), r.data.begin(), r.data.end());
        if (undo) out.insert(out.end(), r.undo.begin(), r.undo.end());
    }
}

void trailer(ByteVector& out, const std::optional<Trailer>& t) {
    if (!t) return;
    putText(out, "@BEGIN_FILE_ID.DIZ");
    putText(out, t->text);
    putText(out, "@END_FILE_ID.DIZ");
    putLe(out, t->text.size(), t->lengthWidth);
}

}  // namespace

ByteVector writePpf1(const std::string& description, const std::vector<RawRecord>& recs) {
    ByteVector out;
    header(out, "PPF10", 0, description);
    records(out, recs, 4, false);
    return out;
}

ByteVector writePpf2(const std::string& description, std::uint32_t originalSize,
                     std::span<const std::uint8_t> block, const std::vector<RawRecord>& recs,
                     const std::optional<Trailer>& t) {
    ByteVector out;
    header(out, "PPF20", 1, description);
    putLe(out, originalSize, 4);
    out.insert(out.end(), block.begin(), block.end());
    records(out, recs, 4, false);
    trailer(out, t);
    return out;
}

ByteVector writePpf3(const std::string& description, std::uint8_t imageType,
                     std::span<const std::uint8_t> block, bool undo,
                     const std::vector<RawRecord>& recs, const std::optional<Trailer>& t) {
    ByteVector out;
    header(out, "PPF30", 2, description);
    out.push_back(imageType);
    out.push_back(block.empty() ? 0 : 1);
    out.push_back(undo ? 1 : 0);
    out.push_back(0);
    out.insert(out.end(), block.begin(), block.end());
    records(out, recs, 8, undo);
    trailer(out, t);
    return out;
}

std::vector<RawRecord> diffRecords(std::span<const std::uint8_t> original,
                                   std::span<const std::uint8_t> modified) {
    auto orig = [&](std::size_t i) -> std::uint8_t {
        return i < original.size() ? original[i] : 0;
    };
    std::vector<RawRecord> out;
    for (std::size_t i = 0; i < modified.size();) {
        if (modified[i] == orig(i)) {
            ++i;
            continue;
        }
        RawRecord r;
        r.offset = i;
        while (i < modified.size() && modified[i] != orig(i) && r.data.size() < 255) {
            r.data.push_back(modified[i]);
            r.undo.push_back(orig(i));
            ++i;
        }
        out.push_back(std::move(r));
    }
    const bool reachesEnd =
        !out.empty() && out.back().offset + out.back().data.size() == modified.size();
    if (modified.size() > original.size() && !reachesEnd) {
        out.push_back({modified.size() - 1, {modified.back()}, {0}});
    }
    return out;
}

ByteVector blockAt(std::span<const std::uint8_t> data, std::uint64_t offset) {
    ByteVector b(1024, 0);
    for (std::size_t i = 0; i < b.size() && offset + i < data.size(); ++i) b[i] = data[offset + i];
    return b;
}

}  // namespace zandrel::patch::testing
