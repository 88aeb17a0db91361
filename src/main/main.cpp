// Zandrel: shows the start window and runs until the program ends. Installed in the game's
// folder and started without arguments it reads nothing else; the options, a "zandrel:" link
// and the remembered game folder are for the installed program (zandrel --help).
#include "base/platform.h"
#include "base/printable.h"
#include "frame/qt_message_boxes.h"
#include "startup/command_line.h"
#include "startup/game_folder.h"
#include "startup/join_link.h"
#include "windows/program.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>

#include <cstdio>
#include <optional>

namespace {

using namespace zandrel;
using startup::CommandLine;

void print(std::FILE* to, const QString& text) {
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), to);
    std::fflush(to);
}

QStringList wordsOf(int argc, char** argv) {
    QStringList words;
    for (int i = 1; i < argc; ++i) words << QString::fromLocal8Bit(argv[i]);
    return words;
}

// The player's folder chooser; an empty string when they cancel.
QString askForGameFolder() {
    return QFileDialog::getExistingDirectory(
        nullptr, QStringLiteral("Zandrel: choose the game folder, the folder of halo.exe"),
        QDir::homePath());
}

// The address a link gives the start window; a box says why a link is refused.
std::optional<QString> linkedAddress(const QString& link, MessageBoxes& boxes) {
    if (link.isEmpty()) return QString();
    const startup::LinkAddress read = startup::readLink(link);
    if (read.accepted()) return read.address;
    boxes.show(QStringLiteral("Zandrel cannot open this link: ") + read.refusal +
                   QStringLiteral(".\r\n\r\n") + printable(link),
               MsgIcon::Critical);
    return std::nullopt;
}

int run(const CommandLine& line) {
    frame::QtMessageBoxes boxes;
    const std::optional<QString> address = linkedAddress(line.link, boxes);
    if (!address) return 2;
    const startup::GameFolder folder = startup::findGameFolder(
        {line.gameFolder, line.chooseGameFolder}, platform::applicationFolder(),
        startup::rememberedFolderFile(), boxes, askForGameFolder);
    if (folder.source == startup::FolderSource::None) return 1;
    windows::Program program(folder.folder);
    program.start(*address);
    if (program.registry().ended()) return 0;
    return QApplication::exec();
}

}  // namespace

int main(int argc, char** argv) {
    const CommandLine line = startup::readCommandLine(wordsOf(argc, argv));
    switch (line.request) {
        case CommandLine::Request::Help:
            print(stdout, startup::usageText());
            return 0;
        case CommandLine::Request::Version:
            print(stdout, startup::versionLine(QStringLiteral("zandrel")));
            return 0;
        case CommandLine::Request::Wrong:
            print(stderr, QStringLiteral("zandrel: ") + line.wrong + u'\n' + startup::usageText());
            return 2;
        case CommandLine::Request::Run:
            break;
    }
    windows::Program::prepare();
    int qtArguments = 1;  // Qt reads none of the words after the program's name
    QApplication app(qtArguments, argv);
    return run(line);
}
