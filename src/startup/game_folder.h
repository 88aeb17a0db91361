#pragma once

#include "base/messages.h"

#include <QString>

#include <functional>

// Which folder the program works in: the game folder, holding the game (halo.exe), its maps
// folder and the backup folder. Widget-free: the folder chooser is the caller's.
namespace zandrel::startup {

// What the command line says about the game folder (CommandLine's fields).
struct FolderRequest {
    QString option;       // --game-folder DIR; empty when not given
    bool choose = false;  // --choose-game-folder
};

// Where the game folder was found.
enum class FolderSource { Option, ProgramFolder, Remembered, Chosen, None };

struct GameFolder {
    QString folder;  // absolute, without a trailing separator; empty for None
    FolderSource source = FolderSource::None;
};

// Why `folder` cannot be the game folder, in a line for a box ("… holds no halo.exe"); empty
// when it holds halo.exe and a maps folder.
QString gameFolderProblem(const QString& folder);

// The file that remembers the folder the player chose: $XDG_CONFIG_HOME/zandrel/zandrel.conf
// (~/.config by default).
QString rememberedFolderFile();
// The folder remembered in `file`; empty when none (no file, no line, a line that cannot be
// a folder).
QString rememberedFolder(const QString& file);
// Remembers `folder` in `file` (written whole or not at all). Raises Error.
void rememberFolder(const QString& file, const QString& folder);

// Finds the game folder, in this order:
//   1. --game-folder DIR: DIR, when it is a game folder; else a box says why and None;
//   2. the program's own folder when it holds halo.exe (an install into the game folder: then
//      nothing is read or remembered);
//   3. the folder remembered in `rememberedFile`, when it is still a game folder (a box says it
//      when it is not, and the player is asked);
//   4. the player is asked (askPlayer gives a folder, or an empty string for Cancel), again
//      after a box for each folder that is not a game folder; the folder chosen is
//      remembered. Cancel gives None.
// --choose-game-folder goes to 4 at once.
GameFolder findGameFolder(const FolderRequest& request, const QString& programFolder,
                          const QString& rememberedFile, MessageBoxes& boxes,
                          const std::function<QString()>& askPlayer);

}  // namespace zandrel::startup
