#pragma once

// Plain C++ with no Qt: the patch tool's own output filter uses it too.

namespace zandrel {

// A character that changes how the text around it looks without showing itself: control
// characters (C0, DEL, C1), and the Unicode format characters that reorder or hide text
// (bidirectional embeddings, overrides, isolates and marks; zero-width spaces and joiners; the
// byte order mark; line and paragraph separators; tag characters). Text from a server or a tool
// shows them escaped, so U+202E cannot turn "evil reversed" into "desrever live".
constexpr bool isHiddenCharacter(char32_t c) {
    struct Range {
        char32_t first;
        char32_t last;
    };
    constexpr Range kHidden[] = {
        {0x0000, 0x001F},    // C0 controls
        {0x007F, 0x009F},    // DEL and C1 controls
        {0x00AD, 0x00AD},    // soft hyphen
        {0x061C, 0x061C},    // Arabic letter mark
        {0x180E, 0x180E},    // Mongolian vowel separator
        {0x200B, 0x200F},    // zero-width space, non-joiner, joiner; LRM, RLM
        {0x2028, 0x2029},    // line and paragraph separators
        {0x202A, 0x202E},    // embeddings, pop, overrides
        {0x2060, 0x2064},    // word joiner, invisible operators
        {0x2066, 0x206F},    // isolates, deprecated format characters
        {0xFEFF, 0xFEFF},    // zero-width no-break space (byte order mark)
        {0xFFF9, 0xFFFB},    // interlinear annotation
        {0xE0001, 0xE0001},  // language tag
        {0xE0020, 0xE007F},  // tag characters
    };
    for (const Range& r : kHidden) {
        if (c >= r.first && c <= r.last) return true;
    }
    return false;
}

}  // namespace zandrel
