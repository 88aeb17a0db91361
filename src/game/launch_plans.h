#pragma once

#include "base/platform.h"

#include <QString>

// The game's own rules for the programs Zandrel starts: which program, with which arguments, in
// which folder and window style. Plans are data; the platform seam runs them.
namespace zandrel::game {

// The programs in the application folder.
inline const QString kGameProgram = QStringLiteral("halo.exe");
inline const QString kPatchTool = QStringLiteral("ppf.exe");

// The fetched patch as the patch tool is told of it: at the root of drive C:.
QString patchFileWindowsPath();

// The game connected to a game server, from the launch window: maximized.
platform::LaunchPlan gamePlan(const QString& appFolder, const QString& gameServerAddress);
// The game connected to the typed address, when the server's settings could not be used:
// minimized.
platform::LaunchPlan fallbackGamePlan(const QString& appFolder, const QString& typedAddress);
// The patch tool: the application folder's ppf.exe when it has one, else the one installed
// beside this program (ppf.exe, or zandrel-ppf on PATH), else the application folder's ppf.exe
// all the same (its launch then reports it missing).
QString patchTool(const QString& appFolder, const QString& programFolder);
// The patch tool applying the fetched patch to a map of the map folder: maximized, started in
// the application folder.
platform::LaunchPlan patchToolPlan(const QString& appFolder, const QString& targetMap);

}  // namespace zandrel::game
