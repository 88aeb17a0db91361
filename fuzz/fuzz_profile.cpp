// Fuzzes the profile-file reader with arbitrary file bytes.
//
// Input: one byte choosing the section, one choosing the key, one choosing the buffer size
// (each from a small table; the last table entry takes a short name from the input instead),
// then the file's bytes. Checks, besides what ASan and UBSan see:
// - nothing is written outside the caller's buffer (it is allocated at its exact size);
// - the copy is NUL-terminated and its length is what the call returns;
// - the memory and stream readers agree;
// - the result is the one a plain, whole-file reading of the documented rules gives.

#include "ini/profile.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>

namespace {

const char* const kSections[] = {"Main", "main", " Main ", "", "Über", "a]b", "[x", "S;c"};
const char* const kKeys[] = {"k", "K", "HaloIP", " k ", "", "ключ", ";k", "a b"};
const std::size_t kSizes[] = {0, 1, 2, 3, 8, 255, 4096};

bool blank(char c) {
    return c == ' ' || c == '\t' || c == '\v';
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && blank(s.front())) s.remove_prefix(1);
    while (!s.empty() && blank(s.back())) s.remove_suffix(1);
    return s;
}

bool sameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

void appendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += char(cp);
    } else if (cp < 0x800) {
        out += char(0xC0 | (cp >> 6));
        out += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += char(0xE0 | (cp >> 12));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    } else {
        out += char(0xF0 | (cp >> 18));
        out += char(0x80 | ((cp >> 12) & 0x3F));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    }
}

// The whole file as UTF-8 text.
std::string decode(std::string_view bytes) {
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF") return std::string(bytes.substr(3));
    if (bytes.substr(0, 2) != "\xFF\xFE") return std::string(bytes);
    std::string out;
    std::optional<char16_t> high;
    for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
        const char16_t u = char16_t(std::uint8_t(bytes[i]) | (std::uint8_t(bytes[i + 1]) << 8));
        const bool isHigh = u >= 0xD800 && u <= 0xDBFF;
        const bool isLow = u >= 0xDC00 && u <= 0xDFFF;
        if (high && isLow) {
            appendUtf8(out, 0x10000 + ((char32_t(*high) - 0xD800) << 10) + (char32_t(u) - 0xDC00));
            high.reset();
            continue;
        }
        if (high) appendUtf8(out, 0xFFFD);
        high.reset();
        if (isHigh) {
            high = u;
        } else {
            appendUtf8(out, isLow ? 0xFFFD : char32_t(u));
        }
    }
    if (high) appendUtf8(out, 0xFFFD);
    return out;
}

// The value of the key, found by reading the whole text line by line.
std::optional<std::string> reference(std::string_view section, std::string_view key,
                                     std::string_view bytes) {
    section = trim(section);
    key = trim(key);
    const std::string text = decode(bytes);
    std::string_view rest = text;
    bool inSection = false;
    while (true) {
        const std::size_t end = rest.find_first_of("\r\n");
        std::string_view line = rest.substr(0, end);
        std::size_t lead = 0;
        while (lead < line.size() && blank(line[lead])) ++lead;
        line.remove_prefix(lead);
        if (!line.empty() && line[0] == '[') {
            if (inSection) return std::nullopt;
            const std::string_view name = line.substr(1, line.find(']', 1) - 1);
            if (sameName(trim(name), section)) inSection = true;
        } else if (inSection && !line.empty() && line[0] != ';') {
            const std::size_t eq = line.find('=');
            if (eq != std::string_view::npos && sameName(trim(line.substr(0, eq)), key)) {
                std::string_view value = line.substr(eq + 1);
                value = trim(value.substr(0, value.find('\0')));
                if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
                    value.back() == value.front()) {
                    value = value.substr(1, value.size() - 2);
                }
                return std::string(value);
            }
        }
        if (end == std::string_view::npos) return std::nullopt;
        rest.remove_prefix(end + 1);
    }
}

[[noreturn]] void fail(const char* what, std::string_view got, std::string_view want) {
    std::fprintf(stderr, "profile reader: %s\n  got  (%zu) \"%.*s\"\n  want (%zu) \"%.*s\"\n", what,
                 got.size(), int(got.size()), got.data(), want.size(), int(want.size()),
                 want.data());
    std::abort();
}

struct Result {
    std::size_t count = 0;
    std::string copy;  // the buffer's text up to its NUL
    bool operator==(const Result&) const = default;
};

std::string show(const Result& r) {
    return std::to_string(r.count) + " \"" + r.copy + "\"";
}

// Reads through `read` into a buffer of exactly `size` bytes and checks the result's shape.
template <class Read>
Result run(std::size_t size, Read read) {
    std::unique_ptr<char[]> buffer(new char[size]);
    std::memset(buffer.get(), '#', size);
    const std::size_t n = read(buffer.get(), size);
    if (size == 0) {
        if (n != 0) fail("a count with a zero-size buffer", std::to_string(n), "0");
        return {};
    }
    const void* nul = std::memchr(buffer.get(), '\0', size);
    if (nul == nullptr) fail("copy not terminated", std::string(buffer.get(), size), "");
    Result r{n, std::string(buffer.get())};
    if (n != 0 && r.copy.size() != n) fail("count is not the copy's length", r.copy, "");
    return r;
}

std::string pick(const char* const* table, std::size_t count, std::uint8_t choice,
                 std::string_view& data) {
    const std::size_t i = choice % (count + 1);
    if (i < count) return table[i];
    // A name from the input: its length, then its bytes.
    if (data.empty()) return {};
    const std::size_t n = std::min<std::size_t>(std::uint8_t(data[0]) % 16, data.size() - 1);
    std::string name(data.substr(1, n));
    data.remove_prefix(1 + n);
    return name;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t length) {
    if (length < 3) return 0;
    std::string_view data(reinterpret_cast<const char*>(bytes), length);
    const std::uint8_t sectionChoice = std::uint8_t(data[0]);
    const std::uint8_t keyChoice = std::uint8_t(data[1]);
    const std::size_t size = kSizes[std::uint8_t(data[2]) % std::size(kSizes)];
    data.remove_prefix(3);
    const std::string section = pick(kSections, std::size(kSections), sectionChoice, data);
    const std::string key = pick(kKeys, std::size(kKeys), keyChoice, data);
    const std::string_view file = data;
    const std::string_view def = "default value";

    const Result fromMemory = run(size, [&](char* buffer, std::size_t n) {
        return zandrel::ini::getPrivateProfileStringFromMemory(section, key, def, buffer, n, file);
    });
    std::istringstream stream{std::string(file)};
    const Result fromStream = run(size, [&](char* buffer, std::size_t n) {
        return zandrel::ini::getPrivateProfileStringFromStream(section, key, def, buffer, n,
                                                               stream);
    });
    if (!(fromMemory == fromStream)) {
        fail("memory and stream readers differ", show(fromMemory), show(fromStream));
    }

    if (size == 0) return 0;
    // Found: the value, cut to the buffer; else the default, cut the same way, and count 0.
    const std::optional<std::string> value = reference(section, key, file);
    const std::string copy =
        value ? value->substr(0, size - 1) : std::string(def.substr(0, size - 1));
    const Result want{value ? copy.size() : 0, copy};
    if (!(fromMemory == want)) {
        fail("value differs from a whole-file reading", show(fromMemory), show(want));
    }
    return 0;
}
