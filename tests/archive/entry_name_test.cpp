#include "archive/entry_name.h"

#include <gtest/gtest.h>

namespace {

TEST(SafeEntryPath, AcceptsRelativeNamesAndRefusesEscapes) {
    struct Case {
        const char* name;
        const char* expected;  // nullptr: refused
    };
    const Case cases[] = {
        {"bloodgulch.map", "bloodgulch.map"},
        {"sub/x.map", "sub/x.map"},
        {"sub\\x.map", "sub/x.map"},
        {"./a//b/./c.map", "a/b/c.map"},
        {"dir/", "dir"},
        {"...map", "...map"},
        {"a..b/..c", "a..b/..c"},
        {"", nullptr},
        {".", nullptr},
        {"./", nullptr},
        {"/etc/passwd", nullptr},
        {"\\windows\\x.map", nullptr},
        {"\\\\server\\share\\x.map", nullptr},
        {"//server/share/x.map", nullptr},
        {"C:\\x.map", nullptr},
        {"C:x.map", nullptr},
        {"c:/x.map", nullptr},
        {"x.map:stream", nullptr},
        {"..", nullptr},
        {"../x.map", nullptr},
        {"..\\x.map", nullptr},
        {"sub/../x.map", nullptr},
        {"sub\\..\\..\\x.map", nullptr},
        {"sub/..", nullptr},
        {"a\nb.map", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string why;
        const auto path = zandrel::archive::safeEntryPath(c.name, &why);
        if (c.expected) {
            ASSERT_TRUE(path.has_value()) << why;
            EXPECT_EQ(*path, c.expected);
        } else {
            EXPECT_FALSE(path.has_value()) << *path;
            EXPECT_FALSE(why.empty());
        }
    }
}

}  // namespace
