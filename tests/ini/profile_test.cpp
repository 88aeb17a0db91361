#include "ini/profile.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

using namespace std::string_literals;
using zandrel::ini::getPrivateProfileString;
using zandrel::ini::getPrivateProfileStringFromMemory;
using zandrel::ini::getPrivateProfileStringFromStream;

namespace {

struct Result {
    std::string text;
    std::size_t count;
};

Result readMemory(const std::string& content, std::string_view section, std::string_view key,
                  std::string_view def = "", std::size_t size = 255) {
    std::string buffer(size + 1, '#');  // one guard byte past the end
    const std::size_t count =
        getPrivateProfileStringFromMemory(section, key, def, buffer.data(), size, content);
    EXPECT_EQ(buffer[size], '#') << "wrote past the buffer";
    return {size == 0 ? "" : std::string(buffer.c_str()), count};
}

// Little-endian UTF-16 with the FF FE mark.
std::string utf16le(std::u16string_view text) {
    std::string bytes = "\xFF\xFE";
    for (char16_t u : text) {
        bytes.push_back(static_cast<char>(u & 0xFF));
        bytes.push_back(static_cast<char>(u >> 8));
    }
    return bytes;
}

const std::string kDuplicates = "x=1\r\n[Main]\r\nx=2\r\n[Main]\r\ny=3\r\n";

TEST(ProfileString, ReadsValuesAsTheFormatRulesSay) {
    struct Case {
        const char* name;
        std::string content;
        const char* section;
        const char* key;
        std::string expected;
        std::size_t count;
    };
    const Case cases[] = {
        // The worked examples.
        {"spaces around name and value, name case", "[Main]\r\nHaloIP = 1.2.3.4:2302  \r\n", "Main",
         "haloip", "1.2.3.4:2302", 12},
        {"quotes, section case", "[main]\r\nTarget=\"my map.map\"\r\n", "Main", "Target",
         "my map.map", 10},
        {"empty value", "[Main]\r\nppf=\r\n", "Main", "ppf", "", 0},
        {"lines before the first section and duplicate section", kDuplicates, "Main", "x", "2", 1},
        {"second section of the same name is never searched", kDuplicates, "Main", "y", "", 0},
        {"header without ]", "[Main\r\nhtml=http://a/\r\n", "Main", "html", "http://a/", 9},
        {"comment line is no key", "[Main]\r\n;html=a\r\n", "Main", ";html", "", 0},
        {"300 characters", "[Main]\r\nk=" + std::string(300, 'a') + "\r\n", "Main", "k",
         std::string(254, 'a'), 254},

        // Encodings and line ends.
        {"UTF-8 mark skipped", "\xEF\xBB\xBF[Main]\r\nk=v\r\n", "Main", "k", "v", 1},
        {"UTF-16LE", utf16le(u"[Main]\r\nk=\u00e9\u20ac\U0001F600 x\r\n"), "Main", "k",
         "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80 x", 11},
        {"UTF-16LE lone surrogate", utf16le(u"[Main]\nk=a\xD800z\n"), "Main", "k", "a\xEF\xBF\xBDz",
         5},
        {"UTF-16LE odd last byte", utf16le(u"[Main]\nk=ab") + "\x41", "Main", "k", "ab", 2},
        {"FF FE only in the middle is text", "[Main]\nk=\xFF\xFEv\n", "Main", "k", "\xFF\xFEv", 3},
        {"CR-only line ends", "[Main]\rk=v\rj=w", "Main", "j", "w", 1},
        {"LF-only, no final line end", "[Main]\nk=v", "Main", "k", "v", 1},
        {"UTF-8 names", "[Über]\nключ = значение\n", "Über", "ключ", "значение", 16},
        {"case folding is ASCII only", "[ÜBER]\nk=v\n", "über", "k", "", 0},

        // Sections.
        {"blanks inside brackets", "[ \tMain \v]\nk=v\n", "Main", "k", "v", 1},
        {"name ends at the first ]", "[Main]x]\nk=v\n", "Main", "k", "v", 1},
        {"text after ] ignored", "[Main] ; [Other]\nk=v\n", "Main", "k", "v", 1},
        {"indented header", "  [Main]\nk=v\n", "Main", "k", "v", 1},
        {"longer section name", "[Mainly]\nk=v\n", "Main", "k", "", 0},
        {"shorter section name", "[Mai]\nk=v\n", "Main", "k", "", 0},
        {"key only in another section", "[Main]\na=1\n[Other]\nk=2\n", "Main", "k", "", 0},
        {"unreachable with section \"\"", "k=v\n[Other]\n", "", "k", "", 0},
        {"caller's names lose blanks", "[Main]\nk=v\n", " Main ", "\tk ", "v", 1},

        // Key lines.
        {"value keeps its case and inner =", "[Main]\nKEY=A=b\n", "Main", "key", "A=b", 3},
        {"blanks: space, tab, vertical tab", "[Main]\n\t k \v=\v\t v w \t\n", "Main", "k", "v w",
         3},
        {"first duplicate key wins", "[Main]\nk=1\nk=2\n", "Main", "k", "1", 1},
        {"line without = is no key", "[Main]\nk\nk=v\n", "Main", "k", "v", 1},
        {"line without = only", "[Main]\nk\n", "Main", "k", "", 0},
        {"longer key name", "[Main]\nkey=v\n", "Main", "ke", "", 0},
        {"# is text", "[Main]\n#k=v\n", "Main", "#k", "v", 1},
        {"; inside a value is text", "[Main]\nk=a ;b\n", "Main", "k", "a ;b", 4},
        {"indented comment", "[Main]\n  ;k=v\nk=w\n", "Main", "k", "w", 1},

        // Quotes.
        {"single quotes", "[Main]\nk='v w'\n", "Main", "k", "v w", 3},
        {"spaces inside quotes stay", "[Main]\nk=\" v \"\n", "Main", "k", " v ", 3},
        {"only one pair removed", "[Main]\nk=\"\"v\"\"\n", "Main", "k", "\"v\"", 3},
        {"mixed quotes stay", "[Main]\nk=\"v'\n", "Main", "k", "\"v'", 3},
        {"lone quote stays", "[Main]\nk=\"\n", "Main", "k", "\"", 1},
        {"empty quotes", "[Main]\nk=\"\"\n", "Main", "k", "", 0},
        {"quotes around a long value", "[Main]\nk=\"" + std::string(300, 'q') + "\"\n", "Main", "k",
         std::string(254, 'q'), 254},
        {"opening quote only, long value", "[Main]\nk=\"" + std::string(300, 'q') + "\n", "Main",
         "k", "\"" + std::string(253, 'q'), 254},

        // NUL and junk.
        {"value ends at NUL", "[Main]\nk=ab\0cd\nj=w\n"s, "Main", "k", "ab", 2},
        {"line after a NUL still read", "[Main]\nk=ab\0cd\nj=w\n"s, "Main", "j", "w", 1},
        {"value starting with NUL", "[Main]\nk=\0x\n"s, "Main", "k", "", 0},
        {"NUL in a header name", "[Ma\0in]\nk=v\n"s, "Main", "k", "", 0},
        {"binary junk around", "\x01\x7F\xFF[\x80\0=\n\0\0\0\r[Main]\n\xC0=\xFE\nk=v\n\xFF\xFF"s,
         "Main", "k", "v", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Result r = readMemory(c.content, c.section, c.key);
        EXPECT_EQ(r.text, c.expected);
        EXPECT_EQ(r.count, c.count);
    }
}

TEST(ProfileString, DefaultAndBufferSizes) {
    struct Case {
        const char* name;
        std::string content;
        const char* key;
        const char* def;
        std::size_t size;
        std::string expected;
        std::size_t count;
    };
    const std::string file = "[Main]\nk=abcdef\nq=\"abcdef\"\ne=\n";
    const Case cases[] = {
        {"missing key gives the default", file, "x", "dflt", 255, "dflt", 0},
        {"empty value gives \"\", not the default", file, "e", "dflt", 255, "", 0},
        {"default cut to the buffer", file, "x", "dflt", 3, "df", 0},
        {"value cut to size - 1", file, "k", "", 4, "abc", 3},
        {"quoted value cut after the quotes go", file, "q", "", 4, "abc", 3},
        {"exact fit", file, "k", "", 7, "abcdef", 6},
        {"size 1", file, "k", "", 1, "", 0},
        {"size 0 writes nothing", file, "k", "dflt", 0, "", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Result r = readMemory(c.content, "Main", c.key, c.def, c.size);
        EXPECT_EQ(r.text, c.expected);
        EXPECT_EQ(r.count, c.count);
    }
}

// Pieces of 64 KiB are decoded one at a time: a surrogate pair and a line may straddle two.
TEST(ProfileString, Utf16AcrossPieces) {
    std::u16string text = u"[Main]\r\npad=";
    const std::size_t pairAt = 65536 / 2 - 1 - 1;  // in units after the 2-byte mark
    text.append(pairAt - text.size() - 4, u'p');
    text += u"\r\nk=";
    text += u"\U0001F600";
    ASSERT_EQ(text.size(), pairAt + 2);
    text += u" end\r\n";
    const std::string bytes = utf16le(text);
    const Result r = readMemory(bytes, "Main", "k");
    EXPECT_EQ(r.text, "\xF0\x9F\x98\x80 end");

    std::istringstream in(bytes);
    std::array<char, 255> buffer{};
    EXPECT_EQ(getPrivateProfileStringFromStream("Main", "k", "", buffer.data(), buffer.size(), in),
              8u);
    EXPECT_STREQ(buffer.data(), "\xF0\x9F\x98\x80 end");
}

TEST(ProfileString, Files) {
    const auto dir = std::filesystem::temp_directory_path() /
                     ("zandrel-profile-" + std::to_string(std::random_device{}()));
    std::filesystem::create_directories(dir);
    const std::string ini = (dir / "my file.ini").string();
    std::ofstream(ini, std::ios::binary) << "[Main]\r\nk = v\r\n";

    std::array<char, 255> buffer{};
    EXPECT_EQ(getPrivateProfileString("Main", "k", "d", buffer.data(), buffer.size(), ini), 1u);
    EXPECT_STREQ(buffer.data(), "v");

    struct Case {
        const char* name;
        std::string file;
    };
    const Case missing[] = {
        {"missing file", (dir / "none.ini").string()},
        {"folder", dir.string()},
        {"empty name", ""},
        {"device", "/dev/zero"},
    };
    for (const Case& c : missing) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(getPrivateProfileString("Main", "k", "d", buffer.data(), buffer.size(), c.file),
                  0u);
        EXPECT_STREQ(buffer.data(), "d");
    }
    std::filesystem::remove_all(dir);
}

// Produces prefix, then `count` copies of one byte, then suffix, without holding them.
class GeneratedFile : public std::streambuf {
public:
    GeneratedFile(std::string prefix, char fill, std::size_t count, std::string suffix)
        : prefix_(std::move(prefix)), suffix_(std::move(suffix)), left_(count) {
        block_.assign(1 << 16, fill);
        setg(prefix_.data(), prefix_.data(), prefix_.data() + prefix_.size());
    }

protected:
    int_type underflow() override {
        if (left_ > 0) {
            const std::size_t n = std::min(left_, block_.size());
            left_ -= n;
            setg(block_.data(), block_.data(), block_.data() + n);
        } else if (!suffixGiven_) {
            suffixGiven_ = true;
            setg(suffix_.data(), suffix_.data(), suffix_.data() + suffix_.size());
        } else {
            return traits_type::eof();
        }
        if (gptr() == egptr()) return underflow();
        return traits_type::to_int_type(*gptr());
    }

private:
    std::string prefix_;
    std::string suffix_;
    std::string block_;
    std::size_t left_;
    bool suffixGiven_ = false;
};

long peakKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// A line far longer than any buffer is read through, never held.
TEST(ProfileString, HugeLinesKeepMemoryBounded) {
    constexpr std::size_t kLine = std::size_t{32} << 20;
    const long before = peakKiB();
    struct Case {
        const char* name;
        std::string prefix;
        char fill;
        std::string suffix;
        const char* key;
        std::string expected;
    };
    const Case cases[] = {
        {"huge value", "[Main]\nk=\"", 'a', "\"\nj=w\n", "k", std::string(254, 'a')},
        {"huge blank run inside a value", "[Main]\nk=x", ' ', "y\n", "k",
         "x" + std::string(253, ' ')},
        {"huge key name", "[Main]\nk", 'k', "=v\nj=w", "j", "w"},
        {"huge header name", "[Main", ' ', "\nj=w", "j", "w"},
        {"huge junk without line end", "[Main]\n", '\xFE', "", "j", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        GeneratedFile file(c.prefix, c.fill, kLine, c.suffix);
        std::istream in(&file);
        std::array<char, 255> buffer{};
        const std::size_t count =
            getPrivateProfileStringFromStream("Main", c.key, "", buffer.data(), buffer.size(), in);
        EXPECT_EQ(std::string(buffer.data()), c.expected);
        EXPECT_EQ(count, c.expected.size());
    }
    // Holding any of those lines would take 32 MiB.
    EXPECT_LT(peakKiB() - before, 16 * 1024);
}

}  // namespace
