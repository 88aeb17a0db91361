// The command line: the options, a link as a word of its own, and everything else refused.
#include "startup/command_line.h"
#include "base/build_info.h"

#include <gtest/gtest.h>

namespace zandrel::startup {
namespace {

using Request = CommandLine::Request;

TEST(CommandLine, ReadsTheOptionsAndALink) {
    struct Case {
        const char* name;
        QStringList words;
        Request request;
        QString gameFolder;
        bool choose;
        QString link;
    };
    const Case cases[] = {
        {"nothing, as installed in the game folder", {}, Request::Run, {}, false, {}},
        {"a link", {"zandrel://host:8801"}, Request::Run, {}, false, "zandrel://host:8801"},
        {"a hostile link stays a link",
         {"zandrel://--game-folder=/"},
         Request::Run,
         {},
         false,
         "zandrel://--game-folder=/"},
        {"--game-folder DIR",
         {"--game-folder", "/games/Halo"},
         Request::Run,
         "/games/Halo",
         false,
         {}},
        {"--game-folder=DIR with a link",
         {"--game-folder=/my games", "zandrel://h"},
         Request::Run,
         "/my games",
         false,
         "zandrel://h"},
        {"--choose-game-folder", {"--choose-game-folder"}, Request::Run, {}, true, {}},
        {"--help", {"--help"}, Request::Help, {}, false, {}},
        {"-h", {"-h"}, Request::Help, {}, false, {}},
        {"--version", {"--version"}, Request::Version, {}, false, {}},
        {"--help wins over what follows", {"--help", "--bogus"}, Request::Help, {}, false, {}},
        {"a link is never an option",
         {"zandrel:--help"},
         Request::Run,
         {},
         false,
         "zandrel:--help"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const CommandLine line = readCommandLine(c.words);
        EXPECT_EQ(line.request, c.request) << line.wrong.toStdString();
        EXPECT_EQ(line.gameFolder, c.gameFolder);
        EXPECT_EQ(line.chooseGameFolder, c.choose);
        EXPECT_EQ(line.link, c.link);
    }
}

TEST(CommandLine, RefusesWhatIsNotOurs) {
    struct Case {
        const char* name;
        QStringList words;
        const char* why;
    };
    const Case cases[] = {
        {"an address without the scheme", {"games.example.org"}, "unknown argument"},
        {"an unknown option", {"--connect"}, "unknown argument"},
        {"a Qt option", {"-platform", "offscreen"}, "unknown argument"},
        {"a link with a space before it", {" zandrel://host"}, "unknown argument"},
        {"--game-folder without a folder", {"--game-folder"}, "takes a folder"},
        {"--game-folder=", {"--game-folder="}, "takes a folder"},
        {"--game-folder given a link", {"--game-folder", "zandrel://host"}, "takes a folder"},
        {"two links", {"zandrel://a", "zandrel://b"}, "one link"},
        {"both folder options", {"--choose-game-folder", "--game-folder", "/g"}, "do not go"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const CommandLine line = readCommandLine(c.words);
        EXPECT_EQ(line.request, Request::Wrong);
        EXPECT_TRUE(line.wrong.contains(QLatin1String(c.why))) << line.wrong.toStdString();
    }
}

TEST(CommandLine, VersionAndUsageTexts) {
    EXPECT_EQ(versionLine(QStringLiteral("zandrel")),
              QStringLiteral("zandrel ") + QLatin1String(kVersion) + u'\n');
    EXPECT_FALSE(QLatin1String(kVersion).isEmpty());
    for (const char* option : {"--game-folder", "--choose-game-folder", "zandrel://", "--version"})
        EXPECT_TRUE(usageText().contains(QLatin1String(option))) << option;
}

}  // namespace
}  // namespace zandrel::startup
