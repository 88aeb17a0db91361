// The one runner of launch plans (stand-ins, and a real Windows program under Wine where
// Wine is installed): the game's Wine prefix and the wine the player names, Windows argument
// splitting and the drive-C: folder.
#include "base/platform.h"
#include "base/error.h"
#include "env_var.h"
#include "frame/frame_fixture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <functional>
#include <optional>

namespace zandrel {
namespace {

using platform::splitWindowsArguments;

constexpr int kMin = platform::LaunchPlan::kMinimized;

// A plan as the game's rules would make one, written out: started in the program's folder.
platform::LaunchPlan plan(const QString& program, const QStringList& arguments,
                          int windowStyle = platform::LaunchPlan::kMaximized) {
    return {program, arguments, QFileInfo(program).absolutePath(), windowStyle};
}

TEST(SplitWindowsArguments, FollowsTheWindowsRuntimeRules) {
    struct Case {
        const char* name;
        const char* text;
        QStringList expected;
    };
    const Case cases[] = {
        {"plain", "-connect 1.2.3.4:2302", {"-connect", "1.2.3.4:2302"}},
        {"nothing after -connect", "-connect ", {"-connect"}},
        {"runs of blanks and tabs", "  a \t b  ", {"a", "b"}},
        {"quoted with spaces",
         R"(a "/x/my maps/a b.map" "c:\zandrel.ppf")",
         {"a", "/x/my maps/a b.map", R"(c:\zandrel.ppf)"}},
        {"empty quotes give an empty argument", R"(a "" b)", {"a", "", "b"}},
        {"backslashes not before a quote are literal", R"(c:\a\\b)", {R"(c:\a\\b)"}},
        {"2n backslashes and a quote", R"("a\\" b)", {R"(a\)", "b"}},
        {"2n+1 backslashes and a quote", R"(a\"b)", {R"(a"b)"}},
        {"doubled quote inside quotes", R"("a""b" c)", {R"(a"b)", "c"}},
        {"quote in the middle joins", R"(ab"c d"e)", {"abc de"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(splitWindowsArguments(QString::fromUtf8(c.text)), c.expected);
    }
}

TEST(DriveC, IsTheWinePrefixDriveC) {
    {
        test::EnvVar prefix("WINEPREFIX", "/tmp/some prefix/");
        EXPECT_EQ(platform::driveCFolder(), QStringLiteral("/tmp/some prefix/drive_c"));
        EXPECT_EQ(platform::fromWindowsPath(QStringLiteral("c:\\zandrel.ppf")),
                  QStringLiteral("/tmp/some prefix/drive_c/zandrel.ppf"));
        EXPECT_EQ(platform::fromWindowsPath(QStringLiteral("C:\\\\zandrel.ppf")),
                  QStringLiteral("/tmp/some prefix/drive_c/zandrel.ppf"));
        EXPECT_EQ(platform::fromWindowsPath(QStringLiteral("maps\\a.map")),
                  QStringLiteral("maps/a.map"));
    }
    test::EnvVar unset("WINEPREFIX", QByteArray());
    EXPECT_EQ(platform::driveCFolder(), QDir::homePath() + QStringLiteral("/.wine/drive_c"));
}

// Libraries loaded on first use: a present one gives its functions; a missing library and a
// missing function are the errors the program reports for a component it cannot make.
TEST(LoadedLibrary, GivesFunctionsAndReportsWhatIsMissing) {
    const platform::LoadedLibrary libc("libc.so.6", QStringLiteral("The C library"),
                                       QStringLiteral("Test"));
    const auto length = libc.function<std::size_t (*)(const char*)>("strlen");
    EXPECT_EQ(length("zandrel"), 7u);

    try {
        libc.function<void (*)()>("zandrel_no_such_function");
        ADD_FAILURE() << "a missing function was found";
    } catch (const Error& e) {
        EXPECT_TRUE(e.is(ErrorNumber::EntryPointNotFound));
        EXPECT_EQ(e.description(), QStringLiteral("The C library lacks zandrel_no_such_function"));
        EXPECT_EQ(e.source(), QStringLiteral("Test"));
    }

    try {
        platform::LoadedLibrary missing("libzandrel-no-such-library.so.1",
                                        QStringLiteral("The archive library"),
                                        QStringLiteral("UnRar"));
        ADD_FAILURE() << "a missing library was loaded";
    } catch (const Error& e) {
        EXPECT_TRUE(e.is(ErrorNumber::ComponentNotCreated));
        EXPECT_TRUE(e.description().startsWith(
            QStringLiteral("The archive library cannot be loaded: libzandrel-no-such-library")))
            << e.description().toStdString();
        EXPECT_EQ(e.source(), QStringLiteral("UnRar"));
    }
}

class LaunchTest : public ::testing::Test, public test::FrameFixture {
protected:
    // A Windows program is a file that starts with "MZ".
    void makeWindowsProgram(const QString& relative) const {
        QDir().mkpath(QFileInfo(path(relative)).absolutePath());
        writeFile(relative, QByteArray("MZ\x90\x00 not really a program", 24));
    }
    // Puts a folder of the test first on PATH for the test's length.
    void prependPath(const QString& relative) {
        qputenv("PATH", QFile::encodeName(path(relative)) + ':' + oldPath_);
    }
    ~LaunchTest() override { qputenv("PATH", oldPath_); }

    // A stand-in wine that records the variables it was given (WINEPREFIX unless others are
    // named), its working folder and its arguments in <relative>.record, written whole at once.
    QString makeRecordingWine(const QString& relative,
                              const QStringList& variables = {"WINEPREFIX"}) const {
        QDir().mkpath(QFileInfo(path(relative)).absolutePath());
        QByteArray echoes;
        for (const QString& v : variables)
            echoes += "echo \"" + v.toUtf8() + "=${" + v.toUtf8() + "-(unset)}\"; ";
        writeFile(relative, "#!/bin/sh\n{ " + echoes +
                                "pwd; "
                                "for a in \"$@\"; do printf '%s\\n' \"$a\"; done; echo --end--; } "
                                "> \"$0.tmp\" && mv \"$0.tmp\" \"$0.record\"\n");
        QFile::setPermissions(path(relative),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        return path(relative);
    }
    // What it recorded, waiting for it; removes the record.
    QStringList recorded(const QString& wine) const {
        QFile record(wine + QStringLiteral(".record"));
        if (!test::waitFor([&] { return record.exists(); })) return {};
        record.open(QIODevice::ReadOnly);
        const QStringList lines = QString::fromUtf8(record.readAll()).split(QLatin1Char('\n'));
        record.remove();
        return lines.mid(0, lines.size() - 1);
    }

    QByteArray oldPath_ = qgetenv("PATH");
    // The player's own Wine settings stay out of the tests unless a test sets them.
    test::EnvVar wine_{"WINE", QByteArray()};
    test::EnvVar prefix_{"WINEPREFIX", QByteArray()};
};

TEST_F(LaunchTest, WindowsProgramsRunThroughWineStartWithTheirStyleNativeOnesAsThey) {
    makeStandIn(QStringLiteral("bin/wine"));
    prependPath(QStringLiteral("bin"));
    const QString wine = path(QStringLiteral("bin/wine"));
    const QString windowsGame = QStringLiteral("windows game");
    const QString nativeGame = QStringLiteral("native game");
    makeWindowsProgram(windowsGame + QStringLiteral("/halo.exe"));
    makeWindowsProgram(windowsGame + QStringLiteral("/ppf.exe"));
    makeStandIn(nativeGame + QStringLiteral("/halo.exe"));
    makeStandIn(nativeGame + QStringLiteral("/ppf.exe"));
    const QString win = path(windowsGame);
    const QString nat = path(nativeGame);
    struct Case {
        const char* name;
        platform::LaunchPlan plan;
        bool waitForEnd;
        QString program;
        QStringList arguments;
    };
    const Case cases[] = {
        {"Windows game, maximized",
         plan(win + "/halo.exe", {"-connect", "1.2.3.4:2302"}),
         false,
         wine,
         {"start", "/max", "/unix", win + "/halo.exe", "-connect", "1.2.3.4:2302"}},
        {"Windows game, minimized",
         plan(win + "/halo.exe", {"-connect", "a", "b"}, kMin),
         false,
         wine,
         {"start", "/min", "/unix", win + "/halo.exe", "-connect", "a", "b"}},
        {"Windows patch tool, observed to its end",
         plan(win + "/ppf.exe", {"a", win + "/maps/x y.map", "c:\\zandrel.ppf"}),
         true,
         wine,
         {"start", "/max", "/wait", "/unix", win + "/ppf.exe", "a", win + "/maps/x y.map",
          "c:\\zandrel.ppf"}},
        {"native game",
         plan(nat + "/halo.exe", {"-connect", "1.2.3.4"}),
         false,
         nat + "/halo.exe",
         {"-connect", "1.2.3.4"}},
        {"native patch tool, observed",
         plan(nat + "/ppf.exe", {"a", nat + "/maps/x.map", "c:\\zandrel.ppf"}),
         true,
         nat + "/ppf.exe",
         {"a", nat + "/maps/x.map", "c:\\zandrel.ppf"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const platform::Invocation run = platform::invocationFor(c.plan, c.waitForEnd);
        EXPECT_EQ(run.program, c.program);
        EXPECT_EQ(run.arguments, c.arguments);
        EXPECT_EQ(run.workingFolder, c.plan.workingFolder);
    }
}

TEST_F(LaunchTest, ProgramInAFolderWithSpacesReceivesItsArgumentsWhole) {
    // Records its working folder and its arguments.
    const QString game = QStringLiteral("game folder");
    QDir().mkpath(path(game));
    const QString exe = path(game + QStringLiteral("/halo.exe"));
    writeFile(game + QStringLiteral("/halo.exe"),
              "#!/bin/sh\n{ pwd; for a in \"$@\"; do printf '%s\\n' \"$a\"; done; echo --end--; } "
              "> \"$0.tmp\" && mv \"$0.tmp\" \"$0.args\"\n");
    QFile::setPermissions(exe, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    // Started in its own folder; arguments with blanks and quotes arrive whole.
    platform::launch(plan(exe, {"-connect", "Blood", "Gulch \"2\"", "10.0.0.1"}));
    EXPECT_EQ(standInArgs(game + QStringLiteral("/halo.exe")),
              (QStringList{path(game), "-connect", "Blood", "Gulch \"2\"", "10.0.0.1", "--end--"}));
}

TEST_F(LaunchTest, AWindowsProgramIsHandedToWineFromPath) {
    makeWindowsProgram(QStringLiteral("my game/halo.exe"));
    makeStandIn(QStringLiteral("bin/wine"));
    prependPath(QStringLiteral("bin"));
    platform::launch(plan(path(QStringLiteral("my game/halo.exe")), {"-connect", "a", "b"}, kMin));
    EXPECT_EQ(standInArgs(QStringLiteral("bin/wine")),
              (QStringList{"start", "/min", "/unix", path(QStringLiteral("my game/halo.exe")),
                           "-connect", "a", "b", "--end--"}));
}

TEST_F(LaunchTest, AWindowsExecutableWithoutWineIsAnError) {
    makeWindowsProgram(QStringLiteral("g/halo.exe"));
    qputenv("PATH", QFile::encodeName(path(QStringLiteral("g"))));
    EXPECT_THROW(platform::launch(plan(path(QStringLiteral("g/halo.exe")), {"x"})), Error);
}

// Game managers and compatibility tools give a game a prefix of its own, with the game under its
// drive_c. Started from there, the program takes that prefix for drive C: and starts the game in
// it; WINEPREFIX, when set, still wins; outside any drive_c the default prefix stays.
TEST_F(LaunchTest, TheGamesPrefixIsWINEPREFIXElseTheOneItsFolderLiesIn) {
    const QString wine = makeRecordingWine(QStringLiteral("bin/recording wine"));
    const test::EnvVar named("WINE", QFile::encodeName(wine));
    const QString home = QDir::homePath() + QStringLiteral("/.wine");
    struct Case {
        const char* name;
        QString game;    // the application folder
        QString prefix;  // null: none found there
    };
    const Case cases[] = {
        {"inside X/drive_c", "games/pfx/drive_c/Program Files/Halo", "games/pfx"},
        {"at the root of drive C:", "tool/pfx/drive_c", "tool/pfx"},
        {"nested prefixes: the nearest drive_c", "outer/drive_c/users/inner/drive_c/Halo",
         "outer/drive_c/users/inner"},
        {"drive_c only within a longer name", "my drive_c games/Halo", QString()},
        {"no drive_c", "games/Halo", QString()},
    };
    for (const bool prefixSet : {false, true}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (prefixSet ? ", WINEPREFIX set" : ""));
            const QByteArray explicitPrefix = QFile::encodeName(path(QStringLiteral("mine/")));
            const test::EnvVar given("WINEPREFIX", prefixSet ? explicitPrefix : QByteArray());
            const QString prefix = prefixSet           ? path(QStringLiteral("mine"))
                                   : c.prefix.isNull() ? home
                                                       : path(c.prefix);
            const QString game = path(c.game);
            EXPECT_EQ(platform::winePrefix(game), prefix);
            EXPECT_EQ(platform::driveCFolder(game), prefix + QStringLiteral("/drive_c"));

            // The game, a Windows program there, started through the wine WINE names, sees the
            // prefix: inherited when set, given when found from the folder.
            makeWindowsProgram(c.game + QStringLiteral("/halo.exe"));
            platform::launch(plan(game + QStringLiteral("/halo.exe"), {"-connect", "1.2.3.4"}));
            const QString seen = prefixSet           ? QString::fromUtf8(explicitPrefix)
                                 : c.prefix.isNull() ? QStringLiteral("(unset)")
                                                     : prefix;
            EXPECT_EQ(recorded(wine),
                      (QStringList{"WINEPREFIX=" + seen, game, "start", "/max", "/unix",
                                   game + "/halo.exe", "-connect", "1.2.3.4", "--end--"}));
        }
    }
}

// A native program started for the game sees the same drive C: (the patch tool reads "c:\" so),
// also the patch tool installed outside the game folder (on PATH): the prefix is the game
// folder's, where the plan starts it.
TEST_F(LaunchTest, ANativeProgramOfAGameInAPrefixIsGivenThePrefixToo) {
    const QString game = path(QStringLiteral("pfx/drive_c/Halo"));
    for (const QString& relative :
         {QStringLiteral("pfx/drive_c/Halo/ppf.exe"), QStringLiteral("usr/bin/zandrel-ppf")}) {
        SCOPED_TRACE(relative.toStdString());
        const QString tool = makeRecordingWine(relative);
        QProcess observed;
        platform::startObserved(observed, {tool, {"a", "c:\\zandrel.ppf"}, game});
        ASSERT_TRUE(observed.waitForFinished(10000));
        EXPECT_EQ(recorded(tool), (QStringList{"WINEPREFIX=" + path(QStringLiteral("pfx")), game,
                                               "a", "c:\\zandrel.ppf", "--end--"}));
    }
}

// WINE, as winetricks reads it: a path, or a name looked up on PATH; without it, wine on PATH. A
// WINE that cannot be run is the launch's error, naming it.
TEST_F(LaunchTest, TheWineIsTheOneWINENamesElseWineOnPath) {
    makeWindowsProgram(QStringLiteral("game/halo.exe"));
    makeStandIn(QStringLiteral("bin/wine"));
    makeStandIn(QStringLiteral("bin/wine-staging"));
    makeStandIn(QStringLiteral("tools/proton files/wine"));
    writeFile(QStringLiteral("tools/not a program"), "#!/bin/sh\n");
    prependPath(QStringLiteral("bin"));
    const QString game = path(QStringLiteral("game/halo.exe"));
    struct Case {
        const char* name;
        QByteArray wine;  // null: not set
        QString runs;     // empty: an error
        int error;
    };
    const Case cases[] = {
        {"not set: wine on PATH", QByteArray(), path(QStringLiteral("bin/wine")), 0},
        {"empty: as not set", "", path(QStringLiteral("bin/wine")), 0},
        {"a path", QFile::encodeName(path(QStringLiteral("tools/proton files/wine"))),
         path(QStringLiteral("tools/proton files/wine")), 0},
        {"a name looked up on PATH", "wine-staging", path(QStringLiteral("bin/wine-staging")), 0},
        {"a path to nothing", QFile::encodeName(path(QStringLiteral("tools/none"))), {}, ENOENT},
        {"a path that cannot be run",
         QFile::encodeName(path(QStringLiteral("tools/not a program"))),
         {},
         EACCES},
        {"a name not on PATH", "wine-nowhere", {}, ENOENT},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const test::EnvVar named("WINE", c.wine);
        try {
            const platform::Invocation run = platform::invocationFor(plan(game, {"x"}));
            EXPECT_EQ(run.program, c.runs);
            EXPECT_EQ(run.arguments, (QStringList{"start", "/max", "/unix", game, "x"}));
        } catch (const Error& e) {
            EXPECT_TRUE(c.runs.isEmpty()) << e.description().toStdString();
            EXPECT_EQ(e.number(), c.error);
            EXPECT_TRUE(e.description().contains(QString::fromUtf8(c.wine)))
                << e.description().toStdString();
            EXPECT_TRUE(e.description().contains(game)) << e.description().toStdString();
        }
    }
}

// umu-run and Proton's proton script, named in WINE, start a Windows program by their own
// conventions, in the game folder: umu-run in the game's prefix (always given, as umu-run would
// otherwise make a prefix of its own), proton in the compatibility data folder that holds the
// prefix's pfx. Any other wine starts it with `start`.
TEST_F(LaunchTest, UmuRunAndProtonStartWindowsProgramsByTheirConventions) {
    const QString umu = makeRecordingWine(QStringLiteral("bin/umu-run"));
    const QString proton = makeRecordingWine(QStringLiteral("Proton 8.0/proton"));
    const QString other = makeRecordingWine(QStringLiteral("bin/proton-wine"));
    prependPath(QStringLiteral("bin"));
    const QString data = path(QStringLiteral("compat/12345"));
    const QString pfxGame = data + QStringLiteral("/pfx/drive_c/Program Files/Halo");
    const QString plainGame = path(QStringLiteral("games/Halo"));
    makeWindowsProgram(QStringLiteral("compat/12345/pfx/drive_c/Program Files/Halo/halo.exe"));
    makeWindowsProgram(QStringLiteral("compat/12345/pfx/drive_c/Program Files/Halo/ppf.exe"));
    makeWindowsProgram(QStringLiteral("games/Halo/halo.exe"));
    const QString home = QDir::homePath() + QStringLiteral("/.wine");
    const QString steam = path(QStringLiteral("steam"));
    struct Case {
        const char* name;
        QByteArray wine;
        QByteArray dataPath;  // STEAM_COMPAT_DATA_PATH; null: unset
        platform::LaunchPlan plan;
        bool waitForEnd;
        QString program;
        QStringList arguments;
        QString winePrefix;  // null: not given
        QString steamData;   // null: not given
    };
    const Case cases[] = {
        {"umu-run by its path",
         QFile::encodeName(umu),
         {},
         plan(pfxGame + "/halo.exe", {"-connect", "1.2.3.4:2302"}),
         false,
         umu,
         {pfxGame + "/halo.exe", "-connect", "1.2.3.4:2302"},
         data + "/pfx",
         QString()},
        {"umu-run on PATH, the patch tool observed",
         "umu-run",
         {},
         plan(pfxGame + "/ppf.exe", {"a", pfxGame + "/maps/x.map", "c:\\zandrel.ppf"}),
         true,
         umu,
         {pfxGame + "/ppf.exe", "a", pfxGame + "/maps/x.map", "c:\\zandrel.ppf"},
         data + "/pfx",
         QString()},
        {"umu-run outside a prefix: the default prefix, given",
         "umu-run",
         {},
         plan(plainGame + "/halo.exe", {"-connect", "a"}, kMin),
         false,
         umu,
         {plainGame + "/halo.exe", "-connect", "a"},
         home,
         QString()},
        {"proton",
         QFile::encodeName(proton),
         {},
         plan(pfxGame + "/halo.exe", {"-connect", "1.2.3.4:2302"}),
         false,
         proton,
         {"run", pfxGame + "/halo.exe", "-connect", "1.2.3.4:2302"},
         data + "/pfx",
         data},
        {"proton, the patch tool observed",
         QFile::encodeName(proton),
         {},
         plan(pfxGame + "/ppf.exe", {"a", "c:\\zandrel.ppf"}),
         true,
         proton,
         {"run", pfxGame + "/ppf.exe", "a", "c:\\zandrel.ppf"},
         data + "/pfx",
         data},
        {"proton with the player's data folder",
         QFile::encodeName(proton),
         QFile::encodeName(steam),
         plan(plainGame + "/halo.exe", {"-connect", "a"}),
         false,
         proton,
         {"run", plainGame + "/halo.exe", "-connect", "a"},
         QString(),
         steam},
        {"a wine whose name only begins like proton's",
         "proton-wine",
         {},
         plan(pfxGame + "/halo.exe", {"-connect", "a"}),
         false,
         other,
         {"start", "/max", "/unix", pfxGame + "/halo.exe", "-connect", "a"},
         data + "/pfx",
         QString()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const test::EnvVar named("WINE", c.wine);
        const test::EnvVar steamData("STEAM_COMPAT_DATA_PATH", c.dataPath);
        const platform::Invocation run = platform::invocationFor(c.plan, c.waitForEnd);
        EXPECT_EQ(run.program, c.program);
        EXPECT_EQ(run.arguments, c.arguments);
        EXPECT_EQ(run.workingFolder, c.plan.workingFolder);
        EXPECT_EQ(run.environment.value(QStringLiteral("WINEPREFIX"), QString()), c.winePrefix);
        EXPECT_EQ(run.environment.value(QStringLiteral("STEAM_COMPAT_DATA_PATH"), QString()),
                  c.steamData);
        if (!c.steamData.isNull()) {
            const QString client =
                run.environment.value(QStringLiteral("STEAM_COMPAT_CLIENT_INSTALL_PATH"));
            EXPECT_TRUE(QFileInfo(client).isDir() || client == steam) << client.toStdString();
        }
    }
}

// proton runs <STEAM_COMPAT_DATA_PATH>/pfx only: a game in another prefix cannot be started
// with it unless the player names the data folder.
TEST_F(LaunchTest, ProtonOutsideACompatibilityPrefixIsAnError) {
    const QString proton = makeRecordingWine(QStringLiteral("Proton 8.0/proton"));
    makeWindowsProgram(QStringLiteral("prefix/drive_c/Halo/halo.exe"));
    const test::EnvVar named("WINE", QFile::encodeName(proton));
    const test::EnvVar data("STEAM_COMPAT_DATA_PATH", QByteArray());
    try {
        platform::invocationFor(plan(path(QStringLiteral("prefix/drive_c/Halo/halo.exe")), {}));
        ADD_FAILURE() << "started";
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), ENOENT);
        EXPECT_TRUE(e.description().contains(QStringLiteral("pfx")))
            << e.description().toStdString();
    }
}

// Started for real: the stand-in umu-run and proton record what they were given.
TEST_F(LaunchTest, TheGameStartsThroughUmuRunAndProton) {
    const QString game = QStringLiteral("compat/777/pfx/drive_c/Halo");
    makeWindowsProgram(game + QStringLiteral("/halo.exe"));
    const QString exe = path(game + QStringLiteral("/halo.exe"));
    const QString data = path(QStringLiteral("compat/777"));
    const test::EnvVar client("STEAM_COMPAT_CLIENT_INSTALL_PATH", "/steam");
    const test::EnvVar unset("STEAM_COMPAT_DATA_PATH", QByteArray());
    const QStringList variables{"WINEPREFIX", "STEAM_COMPAT_DATA_PATH",
                                "STEAM_COMPAT_CLIENT_INSTALL_PATH"};
    struct Case {
        const char* name;
        QString tool;
        QStringList recorded;
    };
    const Case cases[] = {
        {"umu-run",
         makeRecordingWine(QStringLiteral("umu/umu-run"), variables),
         {"WINEPREFIX=" + data + "/pfx", "STEAM_COMPAT_DATA_PATH=(unset)",
          "STEAM_COMPAT_CLIENT_INSTALL_PATH=/steam", path(game), exe, "-connect", "1.2.3.4",
          "--end--"}},
        {"proton",
         makeRecordingWine(QStringLiteral("proton 9/proton"), variables),
         {"WINEPREFIX=" + data + "/pfx", "STEAM_COMPAT_DATA_PATH=" + data,
          "STEAM_COMPAT_CLIENT_INSTALL_PATH=/steam", path(game), "run", exe, "-connect", "1.2.3.4",
          "--end--"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const test::EnvVar named("WINE", QFile::encodeName(c.tool));
        platform::launch(plan(exe, {"-connect", "1.2.3.4"}));
        EXPECT_EQ(recorded(c.tool), c.recorded);
    }
}

TEST_F(LaunchTest, MissingOrNonExecutableProgramRaisesAnError) {
    try {
        platform::launch(plan(path(QStringLiteral("halo.exe")), {"x"}));
        FAIL() << "no error raised";
    } catch (const Error& e) {
        EXPECT_NE(e.number(), 0);
        EXPECT_TRUE(e.description().contains(QStringLiteral("halo.exe")));
    }
    writeFile(QStringLiteral("ppf.exe"), QByteArray("#!/bin/sh\n"));  // not executable
    QProcess tool;
    EXPECT_THROW(platform::startObserved(tool, plan(path(QStringLiteral("ppf.exe")), {"a"})),
                 Error);
    EXPECT_EQ(tool.state(), QProcess::NotRunning);
}

TEST_F(LaunchTest, AnObservedProgramReportsItsEndStatusAndErrorLine) {
    writeFile(QStringLiteral("ppf.exe"),
              "#!/bin/sh\necho lots of output\necho \"ppf: refused $2\" >&2\nexit 4\n");
    QFile::setPermissions(path(QStringLiteral("ppf.exe")),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QProcess tool;
    platform::startObserved(tool, plan(path(QStringLiteral("ppf.exe")), {"a", path("maps/x.map")}));
    ASSERT_TRUE(tool.waitForFinished(10000));
    EXPECT_EQ(tool.exitCode(), 4);
    EXPECT_EQ(tool.readAllStandardError(), "ppf: refused " + path("maps/x.map").toUtf8() + "\n");
    EXPECT_EQ(tool.readAllStandardOutput(), QByteArray());  // discarded
}

// Whatever this process holds open that is not close-on-exec (as the web engine's sockets and
// files are not), a program it starts gets only its standard streams: started detached, through
// wine, observed, or as the desktop's mail program.
TEST_F(LaunchTest, EveryStartedProgramGetsOnlyItsStandardStreams) {
    // Lists the descriptors of the shell that runs it, as they are: in the background, while
    // the shell only waits.
    const QByteArray lister =
        "#!/bin/sh\nls -l /proc/$$/fd/ > \"$0.tmp\" &\nwait\n"
        "mv \"$0.tmp\" \"$0.fds\"\n";
    auto makeLister = [&](const QString& relative) {
        QDir().mkpath(QFileInfo(path(relative)).absolutePath());
        writeFile(relative, lister);
        QFile::setPermissions(path(relative),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        return path(relative);
    };
    writeFile(QStringLiteral("held"), "ours");
    const int held = ::open(QFile::encodeName(path(QStringLiteral("held"))).constData(), O_RDONLY);
    ASSERT_GE(held, 3);
    prependPath(QStringLiteral("bin"));
    struct Case {
        const char* name;
        QString lister;  // the program that lists its descriptors
        std::function<void(QProcess&)> start;
    };
    const Case cases[] = {
        {"a native program, detached", makeLister(QStringLiteral("game/halo.exe")),
         [&](QProcess&) { platform::launch(plan(path(QStringLiteral("game/halo.exe")), {})); }},
        {"a Windows program, through wine", makeLister(QStringLiteral("bin/wine")),
         [&](QProcess&) {
             makeWindowsProgram(QStringLiteral("win/halo.exe"));
             platform::launch(plan(path(QStringLiteral("win/halo.exe")), {}));
         }},
        {"the patch tool, observed", makeLister(QStringLiteral("tool/ppf.exe")),
         [&](QProcess& tool) {
             platform::startObserved(tool, plan(path(QStringLiteral("tool/ppf.exe")), {}));
         }},
        {"the mail program", makeLister(QStringLiteral("bin/xdg-email")),
         [&](QProcess&) {
             EXPECT_TRUE(platform::openWithDesktop(QUrl(QStringLiteral("mailto:a@example.org"))));
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QProcess tool;
        c.start(tool);
        QFile fds(c.lister + QStringLiteral(".fds"));
        ASSERT_TRUE(test::waitFor([&] { return fds.exists(); }));
        ASSERT_TRUE(fds.open(QIODevice::ReadOnly));
        QStringList others;
        for (const QByteArray& line : fds.readAll().split('\n')) {
            const QList<QByteArray> words = line.simplified().split(' ');
            const qsizetype arrow = words.indexOf("->");
            if (arrow < 1 || words[arrow - 1].toInt() <= 2) continue;
            // The shell's own hold on its script is its own.
            if (words.mid(arrow + 1).join(' ') == QFile::encodeName(c.lister)) continue;
            others << QString::fromUtf8(line);
        }
        EXPECT_TRUE(others.isEmpty()) << others.join(QStringLiteral("\n")).toStdString();
        tool.waitForFinished(5000);
    }
    ::close(held);
}

// One real launch through Wine of a Windows program built here: it records the show-window
// flag it was started with, its working folder and its arguments.
class WineLaunchTest : public LaunchTest {
protected:
    void SetUp() override {
        wine_ = QStandardPaths::findExecutable(QStringLiteral("wine"));
        compiler_ = QStandardPaths::findExecutable(QStringLiteral("x86_64-w64-mingw32-gcc"));
        if (wine_.isEmpty() || compiler_.isEmpty()) {
            GTEST_SKIP() << "wine and x86_64-w64-mingw32-gcc are needed (Debian: wine, wine64, "
                            "gcc-mingw-w64-x86-64)";
        }
        oldPrefix_ = qgetenv("WINEPREFIX");
        qputenv("WINEPREFIX", QFile::encodeName(path(QStringLiteral("prefix"))));
        qputenv("WINEDEBUG", "-all");
        qputenv("WINEDLLOVERRIDES", "mscoree,mshtml=");  // no installer dialogs in a new prefix
    }
    void TearDown() override {
        if (wine_.isEmpty()) return;
        QProcess::execute(QFileInfo(wine_).absolutePath() + QStringLiteral("/wineserver"),
                          {QStringLiteral("-k")});
        if (oldPrefix_.isNull()) {
            qunsetenv("WINEPREFIX");
        } else {
            qputenv("WINEPREFIX", oldPrefix_);
        }
    }
    // Builds the probe as <folder>/<name>.
    bool buildProbe(const QString& relative) const {
        writeFile(QStringLiteral("probe.c"), R"(#include <windows.h>
#include <stdio.h>
#include <string.h>
int main(int argc, char** argv) {
    STARTUPINFOA si;
    char cwd[MAX_PATH], record[MAX_PATH];
    GetStartupInfoA(&si);
    GetCurrentDirectoryA(MAX_PATH, cwd);
    GetModuleFileNameA(NULL, record, MAX_PATH);
    strcat(record, ".args");
    FILE* f = fopen(record, "wb");
    if (!f) return 9;
    fprintf(f, "%s\n%u\n%s\n", (si.dwFlags & STARTF_USESHOWWINDOW) ? "show" : "no show",
            (unsigned)si.wShowWindow, cwd);
    for (int i = 1; i < argc; ++i) fprintf(f, "%s\n", argv[i]);
    fprintf(f, "--end--\n");
    fclose(f);
    return argc > 1 && strcmp(argv[1], "a") == 0 ? 0 : 5;
}
)");
        QDir().mkpath(QFileInfo(path(relative)).absolutePath());
        return QProcess::execute(compiler_, {QStringLiteral("-O1"), QStringLiteral("-o"),
                                             path(relative), path(QStringLiteral("probe.c"))}) == 0;
    }
    static QString windowsPath(const QString& unixPath) {
        return QStringLiteral("Z:") +
               QString(unixPath).replace(QLatin1Char('/'), QLatin1Char('\\'));
    }

    QString wine_;
    QString compiler_;
    QByteArray oldPrefix_;
};

TEST_F(WineLaunchTest, TheProgramSeesItsStyleFolderAndArguments) {
    const QString game = QStringLiteral("game folder");
    ASSERT_TRUE(buildProbe(game + QStringLiteral("/halo.exe")));
    ASSERT_TRUE(buildProbe(game + QStringLiteral("/ppf.exe")));

    // The patch tool, observed to its end: maximized (SW_SHOWMAXIMIZED is 3).
    QProcess tool;
    platform::startObserved(tool, plan(path(game + "/ppf.exe"),
                                       {"a", path(game + "/maps/a b.map"), "c:\\zandrel.ppf"}));
    ASSERT_TRUE(tool.waitForFinished(240000));  // a new prefix takes a while
    EXPECT_EQ(tool.exitCode(), 0);
    EXPECT_EQ(
        standInArgs(game + QStringLiteral("/ppf.exe")),
        (QStringList{"show", "3", windowsPath(path(game)), "a",
                     path(game) + QStringLiteral("/maps/a b.map"), "c:\\zandrel.ppf", "--end--"}));

    // The failure path's game, detached: minimized (SW_SHOWMINIMIZED is 2).
    platform::launch(plan(path(game + "/halo.exe"), {"-connect", "my", "server:2302"}, kMin));
    EXPECT_EQ(standInArgs(game + QStringLiteral("/halo.exe")),
              (QStringList{"show", "2", windowsPath(path(game)), "-connect", "my", "server:2302",
                           "--end--"}));

    // A refusal's status comes through.
    QProcess failing;
    platform::startObserved(failing,
                            plan(path(game + "/ppf.exe"), {"u", path(game + "/maps/x.map")}));
    ASSERT_TRUE(failing.waitForFinished(60000));
    EXPECT_EQ(failing.exitCode(), 5);
}

// A game in a prefix of its own, WINEPREFIX not set, the wine named by WINE: the program runs in
// that prefix, so its folder is on drive C: (not on the Z: drive that maps "/").
TEST_F(WineLaunchTest, AGameInAPrefixOfItsOwnRunsThereThroughTheWineWINENames) {
    const test::EnvVar unset("WINEPREFIX", QByteArray());
    const test::EnvVar named("WINE", QFile::encodeName(wine_));
    const QString game = QStringLiteral("pfx/drive_c/Games/Halo");
    ASSERT_TRUE(buildProbe(game + QStringLiteral("/ppf.exe")));

    QProcess tool;
    platform::startObserved(tool, plan(path(game + "/ppf.exe"), {"a", "c:\\zandrel.ppf"}));
    ASSERT_TRUE(tool.waitForFinished(240000));  // a new prefix takes a while
    EXPECT_EQ(tool.exitCode(), 0);
    EXPECT_EQ(standInArgs(game + QStringLiteral("/ppf.exe")),
              (QStringList{"show", "3", "C:\\Games\\Halo", "a", "c:\\zandrel.ppf", "--end--"}));
    // Wine writes the prefix's registry when its server ends, a few seconds after the last
    // program: wait for that before looking.
    QProcess server;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("WINEPREFIX"), path(QStringLiteral("pfx")));
    server.setProcessEnvironment(environment);
    server.start(QFileInfo(wine_).absolutePath() + QStringLiteral("/wineserver"),
                 {QStringLiteral("-w")});
    ASSERT_TRUE(server.waitForFinished(60000));
    EXPECT_TRUE(QFileInfo::exists(path(QStringLiteral("pfx/system.reg"))))
        << "wine made its prefix elsewhere";
}

}  // namespace
}  // namespace zandrel
