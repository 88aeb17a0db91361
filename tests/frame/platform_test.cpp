// Launching real (stand-in) programs, Windows argument splitting and the drive-C: folder.
#include "base/platform.h"
#include "base/error.h"
#include "frame/frame_fixture.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

namespace zandrel {
namespace {

using platform::splitWindowsArguments;

TEST(SplitWindowsArguments, FollowsTheWindowsRuntimeRules) {
    struct Case {
        const char* name;
        const char* text;
        QStringList expected;
    };
    const Case cases[] = {
        {"plain", "-connect 1.2.3.4:2302", {"-connect", "1.2.3.4:2302"}},
        {"nothing after -connect", "-connect ", {"-connect"}},
        {"runs of blanks and tabs", "  a \t b  ", {"a", "b"}},
        {"quoted with spaces",
         R"(a "/x/my maps/a b.map" "c:\zandrel.ppf")",
         {"a", "/x/my maps/a b.map", R"(c:\zandrel.ppf)"}},
        {"empty quotes give an empty argument", R"(a "" b)", {"a", "", "b"}},
        {"backslashes not before a quote are literal", R"(c:\a\\b)", {R"(c:\a\\b)"}},
        {"2n backslashes and a quote", R"("a\\" b)", {R"(a\)", "b"}},
        {"2n+1 backslashes and a quote", R"(a\"b)", {R"(a"b)"}},
        {"doubled quote inside quotes", R"("a""b" c)", {R"(a"b)", "c"}},
        {"quote in the middle joins", R"(ab"c d"e)", {"abc de"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(splitWindowsArguments(QString::fromUtf8(c.text)), c.expected);
    }
}

TEST(DriveC, IsTheWinePrefixDriveC) {
    const QByteArray old = qgetenv("WINEPREFIX");
    qputenv("WINEPREFIX", "/tmp/some prefix/");
    EXPECT_EQ(platform::driveCFolder(), QStringLiteral("/tmp/some prefix/drive_c"));
    EXPECT_EQ(platform::fromWindowsPath(QStringLiteral("c:\\zandrel.ppf")),
              QStringLiteral("/tmp/some prefix/drive_c/zandrel.ppf"));
    EXPECT_EQ(platform::fromWindowsPath(QStringLiteral("C:\\\\zandrel.ppf")),
              QStringLiteral("/tmp/some prefix/drive_c/zandrel.ppf"));
    EXPECT_EQ(platform::fromWindowsPath(QStringLiteral("maps\\a.map")),
              QStringLiteral("maps/a.map"));
    qunsetenv("WINEPREFIX");
    EXPECT_EQ(platform::driveCFolder(), QDir::homePath() + QStringLiteral("/.wine/drive_c"));
    if (!old.isEmpty()) qputenv("WINEPREFIX", old);
}

class LaunchTest : public ::testing::Test, public test::FrameFixture {};

TEST_F(LaunchTest, ProgramInAFolderWithSpacesReceivesTheSplitArguments) {
    makeStandIn(QStringLiteral("game folder/halo.exe"));
    platform::launch(
        path(QStringLiteral("game folder/halo.exe")) + QStringLiteral(" -connect 10.0.0.1:2302"),
        3);
    EXPECT_EQ(standInArgs(QStringLiteral("game folder/halo.exe")),
              (QStringList{"-connect", "10.0.0.1:2302", "--end--"}));
}

TEST_F(LaunchTest, AWindowsExecutableGoesThroughWineFromPath) {
    // The "game": a file that starts with MZ, as Windows executables do.
    QDir().mkpath(path(QStringLiteral("my game")));
    writeFile(QStringLiteral("my game/halo.exe"),
              QByteArray("MZ\x90\x00 not really a program", 24));
    makeStandIn(QStringLiteral("bin/wine"));
    const QByteArray oldPath = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(path(QStringLiteral("bin"))) + ':' + oldPath);
    platform::launch(path(QStringLiteral("my game/halo.exe")) + QStringLiteral(" -connect a b"), 2);
    qputenv("PATH", oldPath);
    EXPECT_EQ(
        standInArgs(QStringLiteral("bin/wine")),
        (QStringList{path(QStringLiteral("my game/halo.exe")), "-connect", "a", "b", "--end--"}));
}

TEST_F(LaunchTest, AWindowsExecutableWithoutWineIsAnError) {
    QDir().mkpath(path(QStringLiteral("g")));
    writeFile(QStringLiteral("g/halo.exe"), QByteArray("MZ"));
    const QByteArray oldPath = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(path(QStringLiteral("g"))));
    EXPECT_THROW(
        platform::launch(path(QStringLiteral("g/halo.exe")) + QStringLiteral(" -connect x"), 3),
        Error);
    qputenv("PATH", oldPath);
}

TEST_F(LaunchTest, MissingOrNonExecutableProgramRaisesAnError) {
    try {
        platform::launch(path(QStringLiteral("halo.exe")) + QStringLiteral(" -connect x"), 3);
        FAIL() << "no error raised";
    } catch (const Error& e) {
        EXPECT_NE(e.number(), 0);
        EXPECT_FALSE(e.description().isEmpty());
    }
    writeFile(QStringLiteral("ppf.exe"), QByteArray("#!/bin/sh\n"));  // not executable
    EXPECT_THROW(platform::launch(path(QStringLiteral("ppf.exe")) + QStringLiteral(" a b"), 3),
                 Error);
}

}  // namespace
}  // namespace zandrel
