// The game's launch plans: the program, its arguments, its folder and its window style, as data.
#include "game/launch_plans.h"
#include "base/build_info.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace zandrel {
namespace {

TEST(LaunchPlans, EachLaunchIsAProgramWithArgumentsFolderAndStyle) {
    const QString app = QStringLiteral("/games/my halo");
    struct Case {
        const char* name;
        platform::LaunchPlan plan;
        QString program;
        QStringList arguments;
        int style;
    };
    const Case cases[] = {
        {"game from the launch window",
         game::gamePlan(app, QStringLiteral("10.0.0.1:2302")),
         app + "/halo.exe",
         {"-connect", "10.0.0.1:2302"},
         3},
        {"game, an address with spaces as the game splits it",
         game::gamePlan(app, QStringLiteral("Blood Gulch  10.0.0.1:2302")),
         app + "/halo.exe",
         {"-connect", "Blood", "Gulch", "10.0.0.1:2302"},
         3},
        {"game, no address", game::gamePlan(app, QString()), app + "/halo.exe", {"-connect"}, 3},
        {"game from the server window's failure path",
         game::fallbackGamePlan(app, QStringLiteral("my.server.org")),
         app + "/halo.exe",
         {"-connect", "my.server.org"},
         2},
        {"patch tool",
         game::patchToolPlan(app, QStringLiteral("Blood Gulch.map")),
         app + "/ppf.exe",
         {"a", app + "/maps/Blood Gulch.map", "c:\\zandrel.ppf"},
         3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.plan.program, c.program);
        EXPECT_EQ(c.plan.arguments, c.arguments);
        EXPECT_EQ(c.plan.workingFolder, app);
        EXPECT_EQ(c.plan.windowStyle, c.style);
    }
}

// The patch tool: the game folder's own ppf.exe first, else the one installed beside the
// program (the package's zandrel-ppf on PATH), else the game folder's name, reported missing
// when started.
TEST(LaunchPlans, ThePatchToolIsTheGameFoldersElseTheInstalledOne) {
    QTemporaryDir dir;
    const QString game = dir.filePath(QStringLiteral("game"));
    const QString program = dir.filePath(QStringLiteral("bin"));
    const QString installed = program + u'/' + QLatin1String(kInstalledPatchTool);
    QDir().mkpath(game);
    QDir().mkpath(program);
    const auto touch = [](const QString& file) {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    };
    EXPECT_EQ(game::patchTool(game, program), game + "/ppf.exe") << "neither";
    touch(installed);
    EXPECT_EQ(game::patchTool(game, program), installed) << "installed only";
    touch(game + "/ppf.exe");
    EXPECT_EQ(game::patchTool(game, program), game + "/ppf.exe") << "both";
}

}  // namespace
}  // namespace zandrel
