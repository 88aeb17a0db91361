#include "game/launch_plans.h"

#include "base/build_info.h"
#include "maps/map_folder.h"
#include "server/settings.h"

#include <QFileInfo>

namespace zandrel::game {

namespace {

using platform::LaunchPlan;

// The game's command line is its path, " -connect " and the address unquoted: the game receives
// the words of the address as a Windows program splits them.
LaunchPlan connectPlan(const QString& appFolder, const QString& address, int windowStyle) {
    LaunchPlan plan;
    plan.program = appFolder + platform::kSep + kGameProgram;
    plan.arguments =
        QStringList{QStringLiteral("-connect")} + platform::splitWindowsArguments(address);
    plan.workingFolder = appFolder;
    plan.windowStyle = windowStyle;
    return plan;
}

}  // namespace

QString patchFileWindowsPath() {
    return QStringLiteral("c:\\") + server::kPpfUpdateFile;
}

LaunchPlan gamePlan(const QString& appFolder, const QString& gameServerAddress) {
    return connectPlan(appFolder, gameServerAddress, LaunchPlan::kMaximized);
}

LaunchPlan fallbackGamePlan(const QString& appFolder, const QString& typedAddress) {
    return connectPlan(appFolder, typedAddress, LaunchPlan::kMinimized);
}

QString patchTool(const QString& appFolder, const QString& programFolder) {
    const QString inGameFolder = appFolder + platform::kSep + kPatchTool;
    if (QFileInfo(inGameFolder).isFile()) return inGameFolder;
    const QString installed = programFolder + platform::kSep + QLatin1String(kInstalledPatchTool);
    return QFileInfo(installed).isFile() ? installed : inGameFolder;
}

LaunchPlan patchToolPlan(const QString& appFolder, const QString& targetMap) {
    LaunchPlan plan;
    plan.program = patchTool(appFolder, platform::applicationFolder());
    plan.arguments = {QStringLiteral("a"), maps::mapFolder(appFolder) + targetMap,
                      patchFileWindowsPath()};
    plan.workingFolder = appFolder;
    plan.windowStyle = LaunchPlan::kMaximized;
    return plan;
}

}  // namespace zandrel::game
