#include "archive/entry_name.h"

namespace zandrel::archive {

std::optional<std::string> safeEntryPath(std::string_view name, std::string* why) {
    auto refuse = [why](const char* reason) -> std::optional<std::string> {
        if (why) *why = reason;
        return std::nullopt;
    };
    if (name.empty()) return refuse("the name is empty");
    // "./" elements are dropped below; a name many times the limit is refused at once.
    if (name.size() > 4 * kMaxPathBytes) return refuse("the name is too long");
    std::string n(name);
    for (char& c : n) {
        if (c == '\\') c = '/';
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            return refuse("the name holds a control character");
    }
    if (n.size() >= 2 && n[0] == '/' && n[1] == '/') return refuse("the name is a network path");
    if (n[0] == '/') return refuse("the name is an absolute path");
    if (n.find(':') != std::string::npos) {
        const bool drive = n.size() >= 2 && n[1] == ':' &&
                           ((n[0] >= 'A' && n[0] <= 'Z') || (n[0] >= 'a' && n[0] <= 'z'));
        return refuse(drive ? "the name starts with a drive letter" : "the name holds a \":\"");
    }

    std::string path;
    std::size_t depth = 0;
    std::size_t start = 0;
    while (start <= n.size()) {
        std::size_t end = n.find('/', start);
        if (end == std::string::npos) end = n.size();
        const std::string_view element(n.data() + start, end - start);
        if (element == "..") return refuse("the name holds a \"..\" element");
        if (element.size() > kMaxElementBytes) return refuse("a name in it is too long");
        if (!element.empty() && element != ".") {
            if (!path.empty()) {
                if (++depth > kMaxDepth) return refuse("it lies too many folders deep");
                path += '/';
            }
            path += element;
            if (path.size() > kMaxPathBytes) return refuse("the name is too long");
        }
        start = end + 1;
    }
    if (path.empty()) return refuse("the name names no file");
    return path;
}

}  // namespace zandrel::archive
