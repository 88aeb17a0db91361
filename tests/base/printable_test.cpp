#include "base/printable.h"

#include <gtest/gtest.h>

namespace zandrel {
namespace {

// What a box or the checker shows of a server's or a tool's text.
TEST(Printable, HiddenCharactersAreShownEscapedAndEverythingElseAsItIs) {
    struct Case {
        const char* name;
        QString text;
        QString escaped;  // LineBreaks::Escape
        QString kept;     // LineBreaks::Keep
    };
    const QString tag = QString::fromUcs4(U"a\U000E0041b");
    const Case cases[] = {
        {"plain text and accents", QStringLiteral("for\u00eat.map \u00e9t\u00e9"),
         QStringLiteral("for\u00eat.map \u00e9t\u00e9"),
         QStringLiteral("for\u00eat.map \u00e9t\u00e9")},
        {"escape sequence and bell", QStringLiteral("a\x1b[2Jb\x07"),
         QStringLiteral("a\\x1b[2Jb\\x07"), QStringLiteral("a\\x1b[2Jb\\x07")},
        {"DEL and C1", QStringLiteral("a\x7f\u0085\u009bb"), QStringLiteral("a\\x7f\\x85\\x9bb"),
         QStringLiteral("a\\x7f\\x85\\x9bb")},
        {"right-to-left override", QStringLiteral("evil \u202edesrever"),
         QStringLiteral("evil \\u202edesrever"), QStringLiteral("evil \\u202edesrever")},
        {"isolates and marks",
         QStringLiteral("\u2066a\u2069\u2067b\u2068\u200e\u200f\u061c\u202a\u202b\u202c\u202d"),
         QStringLiteral(
             "\\u2066a\\u2069\\u2067b\\u2068\\u200e\\u200f\\u061c\\u202a\\u202b\\u202c\\u202d"),
         QStringLiteral(
             "\\u2066a\\u2069\\u2067b\\u2068\\u200e\\u200f\\u061c\\u202a\\u202b\\u202c\\u202d")},
        {"zero-width characters", QStringLiteral("a\u200bb\u200cc\u200dd\u2060e\ufefff"),
         QStringLiteral("a\\u200bb\\u200cc\\u200dd\\u2060e\\ufefff"),
         QStringLiteral("a\\u200bb\\u200cc\\u200dd\\u2060e\\ufefff")},
        {"line and paragraph separators", QStringLiteral("a\u2028b\u2029c"),
         QStringLiteral("a\\u2028b\\u2029c"), QStringLiteral("a\\u2028b\\u2029c")},
        {"tag character beyond the BMP", tag, QStringLiteral("a\\U000e0041b"),
         QStringLiteral("a\\U000e0041b")},
        {"a character beyond the BMP that shows", QString::fromUcs4(U"map \U0001F600"),
         QString::fromUcs4(U"map \U0001F600"), QString::fromUcs4(U"map \U0001F600")},
        {"lone surrogates",
         QString::fromUtf16(u"a\xd800"
                            u"b\xdc00"),
         QStringLiteral("a\\ud800b\\udc00"), QStringLiteral("a\\ud800b\\udc00")},
        {"line breaks and tab", QStringLiteral("one\r\ntwo\nthree\tfour"),
         QStringLiteral("one\\x0d\\x0atwo\\x0athree\\x09four"),
         QStringLiteral("one\r\ntwo\nthree\tfour")},
        {"a carriage return alone", QStringLiteral("ok\rforged"), QStringLiteral("ok\\x0dforged"),
         QStringLiteral("ok\\x0dforged")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(printable(c.text), c.escaped);
        EXPECT_EQ(printable(c.text, LineBreaks::Keep), c.kept);
    }
}

}  // namespace
}  // namespace zandrel
