#include "startup/game_folder.h"

#include "base/error.h"
#include "base/files.h"
#include "base/platform.h"
#include "game/launch_plans.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <cstdint>

namespace zandrel::startup {

namespace {

const QString kFolderKey = QStringLiteral("game-folder=");
const QString kSource = QStringLiteral("GameFolder");
const QString kWhatItIs =
    QStringLiteral("The game folder is the folder of halo.exe, which also holds the maps folder.");
// The remembered file is a line or two; anything much larger is not ours.
constexpr qint64 kMaxRememberedSize = 64 * 1024;

QString absoluteFolder(const QString& folder) {
    return QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
}

bool holdsGame(const QString& folder) {
    return QFileInfo(folder + platform::kSep + game::kGameProgram).isFile();
}

// A folder name that a line of the remembered file can hold.
bool isRememberable(const QString& folder) {
    if (!folder.startsWith(platform::kSep)) return false;
    for (const QChar c : folder) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f) return false;
    }
    return true;
}

GameFolder found(const QString& folder, FolderSource source) {
    return {absoluteFolder(folder), source};
}

// Asks until the player chooses a game folder or cancels; a box says what is wrong with each
// other folder.
GameFolder askForFolder(const QString& rememberedFile, MessageBoxes& boxes,
                        const std::function<QString()>& askPlayer) {
    for (;;) {
        const QString chosen = askPlayer();
        if (chosen.isEmpty()) return {};
        const QString problem = gameFolderProblem(chosen);
        if (problem.isEmpty()) {
            try {
                rememberFolder(rememberedFile, absoluteFolder(chosen));
            } catch (const Error& e) {
                boxes.show(QStringLiteral("Zandrel could not remember the game folder, so it "
                                          "will ask again next time: ") +
                               e.description(),
                           MsgIcon::Information);
            }
            return found(chosen, FolderSource::Chosen);
        }
        boxes.show(QStringLiteral("That is not the game folder: ") + problem +
                       QStringLiteral(".\r\n\r\n") + kWhatItIs,
                   MsgIcon::Critical);
    }
}

}  // namespace

QString gameFolderProblem(const QString& folder) {
    const QFileInfo info(folder);
    if (!info.exists()) return folder + QStringLiteral(" does not exist");
    if (!info.isDir()) return folder + QStringLiteral(" is not a folder");
    if (!holdsGame(folder)) return folder + QStringLiteral(" holds no halo.exe");
    if (!QFileInfo(folder + QStringLiteral("/maps")).isDir())
        return folder + QStringLiteral(" holds no maps folder");
    return {};
}

QString rememberedFolderFile() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/zandrel/zandrel.conf");
}

QString rememberedFolder(const QString& file) {
    QFile f(file);
    if (f.size() > kMaxRememberedSize || !f.open(QIODevice::ReadOnly)) return {};
    const QStringList lines = QString::fromUtf8(f.read(kMaxRememberedSize)).split(u'\n');
    for (const QString& line : lines) {
        if (!line.startsWith(kFolderKey)) continue;
        const QString folder = line.mid(kFolderKey.size());
        return isRememberable(folder) ? folder : QString();
    }
    return {};
}

void rememberFolder(const QString& file, const QString& folder) {
    if (!isRememberable(folder)) {
        throw Error(ErrorNumber::BadFileName,
                    QStringLiteral("the folder's name cannot be written on a line"), kSource);
    }
    const QByteArray text = "# Zandrel: the game folder chosen with its folder chooser.\n" +
                            (kFolderKey + folder).toUtf8() + '\n';
    QDir().mkpath(QFileInfo(file).absolutePath());
    try {
        files::replaceWith(QFile::encodeName(file).toStdString(),
                           {reinterpret_cast<const std::uint8_t*>(text.constData()),
                            static_cast<std::size_t>(text.size())},
                           files::Sync::Yes);
    } catch (const files::FileError& e) {
        throw Error::fromErrnoDescribed(e.code(), QString::fromLocal8Bit(e.what()), kSource);
    }
}

GameFolder findGameFolder(const FolderRequest& request, const QString& programFolder,
                          const QString& rememberedFile, MessageBoxes& boxes,
                          const std::function<QString()>& askPlayer) {
    if (request.choose) return askForFolder(rememberedFile, boxes, askPlayer);
    if (!request.option.isEmpty()) {
        const QString problem = gameFolderProblem(request.option);
        if (problem.isEmpty()) return found(request.option, FolderSource::Option);
        boxes.show(QStringLiteral("Zandrel cannot work in the folder given with --game-folder: ") +
                       problem + QStringLiteral(".\r\n\r\n") + kWhatItIs,
                   MsgIcon::Critical);
        return {};
    }
    if (holdsGame(programFolder)) return {programFolder, FolderSource::ProgramFolder};
    const QString remembered = rememberedFolder(rememberedFile);
    if (!remembered.isEmpty()) {
        const QString problem = gameFolderProblem(remembered);
        if (problem.isEmpty()) return found(remembered, FolderSource::Remembered);
        boxes.show(QStringLiteral("The game folder chosen before cannot be used: ") + problem +
                       QStringLiteral(".\r\n\r\nChoose the game folder again."),
                   MsgIcon::Information);
    }
    return askForFolder(rememberedFile, boxes, askPlayer);
}

}  // namespace zandrel::startup
