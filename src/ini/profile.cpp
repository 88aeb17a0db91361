#include "ini/profile.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <vector>

namespace zandrel::ini {
namespace {

// Input is taken in pieces of this size; nothing else grows with the file.
constexpr std::size_t kChunk = 64 * 1024;

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\v';
}

char asciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool sameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return asciiLower(x) == asciiLower(y);
           });
}

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
    return s;
}

// Copies as much of `text` as fits, NUL-terminated; returns the bytes copied.
std::size_t put(std::string_view text, char* buffer, std::size_t size) {
    if (buffer == nullptr || size == 0) return 0;
    const std::size_t n = std::min(text.size(), size - 1);
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
    return n;
}

// One field of a line (a name or a value), seen byte by byte: keeps only its first `cap` bytes
// after the leading blanks, and its length without trailing blanks. That is all a name
// comparison or a cut value needs, however long the field is.
class Field {
public:
    void reset(std::size_t cap) {
        kept_.clear();
        cap_ = cap;
        length_ = 0;
        trimmedLength_ = 0;
        last_ = '\0';
    }

    void add(char c) {
        if (length_ == 0 && isBlank(c)) return;
        if (kept_.size() < cap_) kept_.push_back(c);
        ++length_;
        if (!isBlank(c)) {
            trimmedLength_ = length_;
            last_ = c;
        }
    }

    // Length of the trimmed field.
    std::uint64_t length() const { return trimmedLength_; }
    // Its first min(length(), cap) bytes.
    std::string_view kept() const {
        return std::string_view(kept_).substr(
            0, static_cast<std::size_t>(std::min<std::uint64_t>(trimmedLength_, kept_.size())));
    }
    // Its last byte (meaningful when length() > 0).
    char last() const { return last_; }

    bool is(std::string_view name) const {
        return length() == name.size() && sameName(kept(), name);
    }

private:
    std::string kept_;
    std::size_t cap_ = 0;
    std::uint64_t length_ = 0;
    std::uint64_t trimmedLength_ = 0;
    char last_ = '\0';
};

// Looks for one key in the first section of one name, fed the file as UTF-8 text in pieces of
// any size. Stops as soon as the outcome is known.
class Search {
public:
    Search(std::string_view section, std::string_view key, std::size_t valueCap)
        : section_(trimmed(section)), key_(trimmed(key)), valueCap_(valueCap) {}

    // Returns false once the rest of the file is not needed.
    bool feed(std::string_view text) {
        for (const char c : text) {
            if (done_) return false;
            if (c == '\r' || c == '\n') {
                endLine();
                continue;
            }
            switch (line_) {
                case Line::Start:
                    if (isBlank(c)) break;
                    if (c == '[') {
                        // A second header ends the wanted section: later ones of its name don't
                        // count.
                        if (inSection_) {
                            done_ = true;
                            break;
                        }
                        line_ = Line::HeaderName;
                        name_.reset(section_.size());
                    } else if (c == ';' || !inSection_) {
                        line_ = Line::Ignored;
                    } else {
                        line_ = Line::KeyName;
                        name_.reset(key_.size());
                        keyNameByte(c);
                    }
                    break;
                case Line::HeaderName:
                    if (c == ']') {
                        line_ = Line::Ignored;
                        enterIfWanted();
                    } else {
                        name_.add(c);
                    }
                    break;
                case Line::KeyName:
                    keyNameByte(c);
                    break;
                case Line::Value:
                    if (c == '\0') {
                        line_ = Line::ValueEnd;
                    } else {
                        value_.add(c);
                    }
                    break;
                case Line::ValueEnd:
                case Line::Ignored:
                    break;
            }
        }
        return !done_;
    }

    // The end of the file ends its last line.
    void finish() {
        if (!done_) endLine();
        done_ = true;
    }

    bool found() const { return found_; }

    // The value as it is to be copied: quotes removed, at most valueCap - 1 bytes.
    std::string_view value() const {
        const std::string_view kept = value_.kept();
        std::uint64_t length = value_.length();
        std::size_t from = 0;
        const char first = kept.empty() ? '\0' : kept.front();
        if (length >= 2 && (first == '"' || first == '\'') && value_.last() == first) {
            from = 1;
            length -= 2;
        }
        const std::size_t n =
            static_cast<std::size_t>(std::min<std::uint64_t>(length, kept.size() - from));
        return kept.substr(from, n);
    }

private:
    enum class Line { Start, HeaderName, KeyName, Value, ValueEnd, Ignored };

    void keyNameByte(char c) {
        if (c != '=') {
            name_.add(c);
        } else if (name_.is(key_)) {
            line_ = Line::Value;
            value_.reset(valueCap_);
        } else {
            line_ = Line::Ignored;
        }
    }

    void enterIfWanted() {
        if (name_.is(section_)) inSection_ = true;
    }

    void endLine() {
        if (line_ == Line::HeaderName) enterIfWanted();  // a header without "]"
        if (line_ == Line::Value || line_ == Line::ValueEnd) {
            found_ = true;
            done_ = true;
        }
        line_ = Line::Start;
    }

    std::string_view section_;
    std::string_view key_;
    std::size_t valueCap_;
    Line line_ = Line::Start;
    Field name_;
    Field value_;
    bool inSection_ = false;
    bool found_ = false;
    bool done_ = false;
};

// Hands the file's bytes to the search as UTF-8: a UTF-8 mark is dropped, a file that starts
// with FF FE is UTF-16LE and converted. Holds at most one converted piece at a time.
class Decoder {
public:
    explicit Decoder(Search& search) : search_(search) {}

    bool feed(std::string_view bytes) {
        if (mode_ == Mode::Unknown) {
            const std::size_t take = std::min(bytes.size(), 3 - head_.size());
            head_.append(bytes.substr(0, take));
            bytes.remove_prefix(take);
            if (head_.size() < 3) return true;
            if (!decideMode()) return false;
        }
        return pass(bytes);
    }

    void finish() {
        if (mode_ == Mode::Unknown && !decideMode()) return;
        if (mode_ == Mode::Utf16 && high_ != 0) {
            out_.clear();
            appendUtf8(0xFFFD);
            if (!search_.feed(out_)) return;
        }
        search_.finish();
    }

private:
    enum class Mode { Unknown, Utf8, Utf16 };

    // Chooses the mode from the first bytes and passes on what follows the mark.
    bool decideMode() {
        std::string_view head = head_;
        if (head.substr(0, 3) == "\xEF\xBB\xBF") {
            mode_ = Mode::Utf8;
            head.remove_prefix(3);
        } else if (head.substr(0, 2) == "\xFF\xFE") {
            mode_ = Mode::Utf16;
            head.remove_prefix(2);
        } else {
            mode_ = Mode::Utf8;
        }
        return pass(head);
    }

    bool pass(std::string_view bytes) {
        if (bytes.empty()) return true;
        if (mode_ == Mode::Utf8) return search_.feed(bytes);
        out_.clear();
        for (const char b : bytes) {
            if (!haveLow_) {
                low_ = static_cast<unsigned char>(b);
                haveLow_ = true;
                continue;
            }
            haveLow_ = false;
            unit(static_cast<char16_t>(low_ | (static_cast<unsigned char>(b) << 8)));
        }
        return search_.feed(out_);
    }

    // One UTF-16 code unit; a surrogate without its partner becomes U+FFFD.
    void unit(char16_t u) {
        const bool isHigh = u >= 0xD800 && u <= 0xDBFF;
        const bool isLow = u >= 0xDC00 && u <= 0xDFFF;
        if (high_ != 0) {
            const char16_t high = high_;
            high_ = 0;
            if (isLow) {
                appendUtf8(0x10000 + ((char32_t{high} - 0xD800) << 10) + (char32_t{u} - 0xDC00));
                return;
            }
            appendUtf8(0xFFFD);
        }
        if (isHigh) {
            high_ = u;
        } else {
            appendUtf8(isLow ? 0xFFFD : char32_t{u});
        }
    }

    void appendUtf8(char32_t cp) {
        if (cp < 0x80) {
            out_.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out_.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out_.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out_.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out_.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out_.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out_.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out_.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out_.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out_.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }

    Search& search_;
    Mode mode_ = Mode::Unknown;
    std::string head_;
    std::string out_;
    unsigned char low_ = 0;
    bool haveLow_ = false;
    char16_t high_ = 0;
};

std::size_t answer(const Search& search, std::string_view def, char* buffer, std::size_t size) {
    if (search.found()) return put(search.value(), buffer, size);
    put(def, buffer, size);
    return 0;
}

}  // namespace

std::size_t getPrivateProfileStringFromStream(std::string_view section, std::string_view key,
                                              std::string_view def, char* buffer, std::size_t size,
                                              std::istream& in) {
    Search search(section, key, size);
    Decoder decoder(search);
    std::vector<char> chunk(kChunk);
    bool more = true;
    while (more && in) {
        in.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
        const auto n = in.gcount();
        if (n <= 0) break;
        more = decoder.feed(std::string_view(chunk.data(), static_cast<std::size_t>(n)));
    }
    if (more) decoder.finish();
    return answer(search, def, buffer, size);
}

std::size_t getPrivateProfileStringFromMemory(std::string_view section, std::string_view key,
                                              std::string_view def, char* buffer, std::size_t size,
                                              std::string_view bytes) {
    Search search(section, key, size);
    Decoder decoder(search);
    bool more = true;
    // In pieces, so that a UTF-16 file is never converted whole.
    for (std::size_t at = 0; more && at < bytes.size(); at += kChunk) {
        more = decoder.feed(bytes.substr(at, kChunk));
    }
    if (more) decoder.finish();
    return answer(search, def, buffer, size);
}

std::size_t getPrivateProfileString(std::string_view section, std::string_view key,
                                    std::string_view def, char* buffer, std::size_t size,
                                    const std::string& fileName) {
    // Opening a pipe would wait for a writer and a device may never end: only regular files.
    std::error_code ec;
    if (!fileName.empty() && std::filesystem::is_regular_file(fileName, ec)) {
        std::ifstream in(fileName, std::ios::binary);
        if (in) return getPrivateProfileStringFromStream(section, key, def, buffer, size, in);
    }
    put(def, buffer, size);
    return 0;
}

}  // namespace zandrel::ini
