#include "startup/command_line.h"

#include "base/build_info.h"
#include "startup/join_link.h"

namespace zandrel::startup {

namespace {

const QString kGameFolderOption = QStringLiteral("--game-folder");

CommandLine wrong(const QString& why) {
    CommandLine line;
    line.request = CommandLine::Request::Wrong;
    line.wrong = why;
    return line;
}

// The value of --game-folder, which must be a folder's name rather than a link or nothing.
bool takeFolder(CommandLine& line, const QString& value) {
    if (value.isEmpty() || isLink(value)) return false;
    line.gameFolder = value;
    return true;
}

// Reads one word at words[i] (and the value after an option that takes one); false when it is
// not a word of ours.
bool readWord(CommandLine& line, const QStringList& words, qsizetype& i) {
    const QString& word = words[i];
    if (word == kGameFolderOption) return i + 1 < words.size() && takeFolder(line, words[++i]);
    if (word.startsWith(kGameFolderOption + u'='))
        return takeFolder(line, word.mid(kGameFolderOption.size() + 1));
    if (word == QLatin1String("--choose-game-folder")) {
        line.chooseGameFolder = true;
        return true;
    }
    return false;
}

}  // namespace

CommandLine readCommandLine(const QStringList& words) {
    CommandLine line;
    for (qsizetype i = 0; i < words.size(); ++i) {
        const QString& word = words[i];
        if (isLink(word)) {
            if (!line.link.isEmpty()) return wrong(QStringLiteral("one link at a time"));
            line.link = word;
        } else if (word == QLatin1String("--help") || word == QLatin1String("-h")) {
            line.request = CommandLine::Request::Help;
            return line;
        } else if (word == QLatin1String("--version")) {
            line.request = CommandLine::Request::Version;
            return line;
        } else if (!readWord(line, words, i)) {
            return wrong(word.startsWith(kGameFolderOption)
                             ? QStringLiteral("--game-folder takes a folder")
                             : QStringLiteral("unknown argument ") + word);
        }
    }
    if (line.chooseGameFolder && !line.gameFolder.isEmpty())
        return wrong(QStringLiteral("--game-folder and --choose-game-folder do not go together"));
    return line;
}

QString usageText() {
    return QStringLiteral(
        "Usage: zandrel [--game-folder DIR | --choose-game-folder] [zandrel://ADDRESS]\n"
        "\n"
        "Fetches a game server's settings and map update, applies the update to the game's\n"
        "maps folder and starts the game connected to the server.\n"
        "\n"
        "  --game-folder DIR      work in DIR, the folder of halo.exe and its maps folder\n"
        "  --choose-game-folder   ask for the game folder again, and remember the choice\n"
        "  zandrel://ADDRESS      open with ADDRESS in the start window's address box;\n"
        "                         zandrel://https/ADDRESS for a server on https\n"
        "  --version              print the version\n"
        "  --help                 this text\n"
        "\n"
        "Without --game-folder the game folder is the program's own folder when it holds\n"
        "halo.exe, else the folder chosen before (remembered in $XDG_CONFIG_HOME/zandrel/,\n"
        "~/.config/zandrel/ by default), else Zandrel asks for it.\n");
}

QString versionLine(const QString& programName) {
    return programName + u' ' + QLatin1String(kVersion) + u'\n';
}

}  // namespace zandrel::startup
