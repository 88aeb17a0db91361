#pragma once

#include <QString>
#include <QStringList>

// The program's command line. Started from its game folder without arguments (how it was
// installed at first), it reads none; the options and a link are for the installed program and
// the desktop. Widget-free.
namespace zandrel::startup {

struct CommandLine {
    enum class Request { Run, Help, Version, Wrong };
    Request request = Request::Run;
    QString gameFolder;             // --game-folder DIR, as given; empty when not given
    bool chooseGameFolder = false;  // --choose-game-folder
    QString link;                   // the "zandrel:" word as given; empty when none
    QString wrong;                  // for Request::Wrong: what is wrong, in a line
};

// Reads the words after the program's name. A word is a link only when the whole word starts
// with "zandrel:" (isLink), so that a link never becomes an option; every other word must be
// one of the options (kUsage), else the command line is Wrong.
CommandLine readCommandLine(const QStringList& words);

// The text of --help.
QString usageText();
// The line of --version.
QString versionLine(const QString& programName);

}  // namespace zandrel::startup
