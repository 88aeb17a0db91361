// The tool's command line: the update path's own call with a drive C: patch path, and every
// way to call it wrongly.

#include "base/platform.h"
#include "game/launch_plans.h"
#include "patch/ppf.h"
#include "ppf_test_util.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace zandrel::patch::testing {
namespace {

constexpr std::size_t kSize = 48 * 1024;

struct Files {
    QTemporaryDir dir;
    ByteVector original = randomBytes(kSize, 5);
    ByteVector modified;
    ByteVector patch;

    Files() {
        modified = original;
        for (std::size_t i = 0x2000; i < 0x2000 + 700; i += 3) modified[i] ^= 0xFF;
        CreateOptions options;
        options.undoData = true;
        patch = createPatch(original, modified, options);
    }
    QString path(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }
};

TEST(PpfCommandLine, UpdatePathAppliesThePatchFromDriveC) {
    Files f;
    const QString prefix = f.path("wineprefix"), app = f.path("game folder");
    ASSERT_TRUE(QDir().mkpath(prefix + "/drive_c"));
    ASSERT_TRUE(QDir().mkpath(app + "/maps"));
    writeFile(prefix + "/drive_c/zandrel.ppf", f.patch);
    const QString map = app + "/maps/Blood Gulch.map";
    writeFile(map, f.original);
    ASSERT_TRUE(QFile::copy(QStringLiteral(PPF_TOOL), app + "/ppf.exe"));

    // The launch the PPF update path makes: the map in the map folder, the patch on drive C:.
    const platform::LaunchPlan plan = game::patchToolPlan(app, QStringLiteral("Blood Gulch.map"));
    ASSERT_EQ(plan.arguments.size(), 3);
    EXPECT_EQ(plan.arguments[1], map);
    EXPECT_EQ(plan.arguments[2], QStringLiteral("c:\\zandrel.ppf"));

    ToolEnvironment env;
    env.program = plan.program;
    env.winePrefix = prefix;
    const ToolResult r = runTool(plan.arguments, env);
    ASSERT_TRUE(r.finished);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(readFile(map), f.modified);
    EXPECT_TRUE(leftoverTemporaries(app + "/maps").isEmpty());

    // Undo the same way, the patch named with "\" and upper-case C:.
    const ToolResult u = runTool({"u", map, "C:\\zandrel.ppf"}, env);
    EXPECT_EQ(u.exitCode, 0) << u.err;
    EXPECT_EQ(readFile(map), f.original);
}

TEST(PpfCommandLine, WrongCallsFailWithAMessage) {
    Files f;
    const QString image = f.path("map.map"), patch = f.path("p.ppf");
    writeFile(image, f.original);
    writeFile(patch, f.patch);
    writeFile(f.path("orig.map"), f.original);
    writeFile(f.path("shorter.map"), ByteVector(f.original.begin(), f.original.end() - 1));
    writeFile(f.path("tiny.map"), randomBytes(1000, 1));
    writeFile(f.path("tiny2.map"), randomBytes(1000, 2));
    writeFile(f.path("big.diz"), ByteVector(4000, 'x'));
    QDir().mkpath(f.path("folder.map"));

    struct Case {
        const char* name;
        QStringList args;
        int exitCode;
        const char* message;  // in standard error
    };
    const int kUsage = int(ErrorKind::Usage), kIo = int(ErrorKind::Io),
              kRefused = int(ErrorKind::Refused);
    const QString orig = f.path("orig.map"), out = f.path("out.ppf");
    const Case cases[] = {
        {"no arguments", {}, kUsage, "Usage:"},
        {"unknown command", {"x", image, patch}, kUsage, "unknown command x"},
        {"apply without a patch", {"a", image}, kUsage, "a takes an image and a patch"},
        {"apply with an extra argument", {"a", image, patch, patch}, kUsage, "a takes"},
        {"undo without arguments", {"u"}, kUsage, "u takes"},
        {"create with two files", {"c", orig, image}, kUsage, "c takes"},
        {"create with image type 7", {"c", "-i", "7", orig, image, out}, kUsage, "-i takes 0"},
        {"create with an unknown option",
         {"c", "-q", orig, image, out},
         kUsage,
         "unknown option -q"},
        {"show with two patches", {"s", patch, patch}, kUsage, "s takes a patch"},
        {"force with show", {"s", "--force", patch}, kUsage, "--force goes with a and u"},
        {"missing image", {"a", f.path("none.map"), patch}, kIo, "cannot open image"},
        {"missing patch", {"a", image, f.path("none.ppf")}, kIo, "cannot open patch"},
        {"image is a folder", {"a", f.path("folder.map"), patch}, kIo, "Is a directory"},
        {"drive other than C:", {"a", "d:\\maps\\x.map", patch}, kUsage, "only drive C:"},
        {"modified file shorter",
         {"c", orig, f.path("shorter.map"), out},
         kRefused,
         "cannot shorten"},
        {"original too short for the block check",
         {"c", f.path("tiny.map"), f.path("tiny2.map"), out},
         kRefused,
         "without the block check (-x)"},
        {"missing FILE_ID",
         {"c", "-f", f.path("none.diz"), orig, image, out},
         kIo,
         "cannot open FILE_ID.DIZ"},
        {"FILE_ID too long",
         {"c", "-f", f.path("big.diz"), orig, image, out},
         kRefused,
         "longer than 3072"},
        {"missing original", {"c", f.path("none.map"), image, out}, kIo, "cannot open original"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ToolResult r = runTool(c.args);
        ASSERT_TRUE(r.finished);
        EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_EQ(readFile(image), f.original);
        EXPECT_FALSE(QFile::exists(out));
    }
    EXPECT_TRUE(leftoverTemporaries(f.dir.path()).isEmpty());

    const ToolResult help = runTool({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("ppf c [-u] [-x] [-i 0|1]"), std::string::npos);
    EXPECT_EQ(help.err, "");
}

TEST(PpfCommandLine, ShowPrintsUntrustedTextSafely) {
    Files f;
    const QString patch = f.path("p.ppf");
    const std::string evil =
        "Evil \x1b]0;owned\x07 map \xE2\x80\xAE"
        "desrever\xE2\x80\x8B";
    writeFile(patch, writePpf3(evil, 1, {}, true, {{1, {1}, {0}}, {9, {2, 3}, {0, 0}}},
                               Trailer{"Line one\r\n\x1b[2Jline two \xC3\xA9 \xFF", 4}));
    const ToolResult r = runTool({"s", patch});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out,
              "Version:       PPF3.0\n"
              "Description:   Evil ?]0;owned? map ?desrever?\n"
              "Image type:    GI\n"
              "Block check:   no\n"
              "Undo data:     yes\n"
              "Records:       2\n"
              "FILE_ID.DIZ:\n"
              "Line one\n?[2Jline two \xC3\xA9 ?\n");
}

}  // namespace
}  // namespace zandrel::patch::testing
