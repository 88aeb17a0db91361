// Which folder the program works in: each source of the game folder present, absent or not a
// game folder, the player's folder chooser (a scripted person) and the remembered folder.
#include "startup/game_folder.h"
#include "base/error.h"
#include "boxes/recording_boxes.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace zandrel::startup {
namespace {

class GameFolderTest : public ::testing::Test {
protected:
    QString path(const QString& relative) const { return dir_.path() + u'/' + relative; }
    void write(const QString& relative, const QByteArray& bytes) const {
        QDir().mkpath(QFileInfo(path(relative)).absolutePath());
        QFile f(path(relative));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    // A game folder: halo.exe and maps/.
    QString makeGame(const QString& relative) const {
        write(relative + QStringLiteral("/halo.exe"), "MZ");
        QDir().mkpath(path(relative + QStringLiteral("/maps")));
        return path(relative);
    }
    QString rememberedFile() const { return path(QStringLiteral("config/zandrel/zandrel.conf")); }

    // The player: answers the folder chooser with each of `answers` in turn, then cancels.
    std::function<QString()> player(const QStringList& answers) {
        return [this, answers] {
            const qsizetype turn = asked_++;
            return turn < answers.size() ? answers[turn] : QString();
        };
    }

    GameFolder find(const FolderRequest& request, const QString& programFolder,
                    const QStringList& answers = {}) {
        return findGameFolder(request, programFolder, rememberedFile(), boxes_, player(answers));
    }

    QTemporaryDir dir_;
    test::RecordingBoxes boxes_;
    qsizetype asked_ = 0;
};

TEST_F(GameFolderTest, TheOrderIsOptionProgramFolderRememberedThenAsked) {
    const QString option = makeGame(QStringLiteral("option"));
    const QString own = makeGame(QStringLiteral("own"));
    const QString remembered = makeGame(QStringLiteral("remembered"));
    const QString chosen = makeGame(QStringLiteral("chosen"));
    const QString bare = path(QStringLiteral("bare"));  // the program alone, as on PATH
    QDir().mkpath(bare);
    struct Case {
        const char* name;
        FolderRequest request;
        QString programFolder;
        bool rememberedThere;
        QString folder;
        FolderSource source;
        bool asked;
    };
    const Case cases[] = {
        {"the option first", {option}, own, true, option, FolderSource::Option, false},
        {"the program's own folder with halo.exe",
         {},
         own,
         true,
         own,
         FolderSource::ProgramFolder,
         false},
        {"the folder remembered", {}, bare, true, remembered, FolderSource::Remembered, false},
        {"asked when nothing is remembered", {}, bare, false, chosen, FolderSource::Chosen, true},
        {"asked again on request", {{}, true}, own, true, chosen, FolderSource::Chosen, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(rememberedFile());
        if (c.rememberedThere) rememberFolder(rememberedFile(), remembered);
        asked_ = 0;
        const GameFolder found = find(c.request, c.programFolder, {chosen});
        EXPECT_EQ(found.folder, c.folder);
        EXPECT_EQ(found.source, c.source);
        EXPECT_EQ(asked_, c.asked ? 1 : 0);
        EXPECT_EQ(boxes_.prompts(), QStringList());
        // Only the player's choice is remembered.
        EXPECT_EQ(rememberedFolder(rememberedFile()), c.asked             ? chosen
                                                      : c.rememberedThere ? remembered
                                                                          : QString());
    }
}

// Installed in the game folder, the program reads no settings and writes none: a remembered
// folder that is no game folder would be said in a box, were it read.
TEST_F(GameFolderTest, InTheGameFolderNothingIsReadOrWritten) {
    const QString own = makeGame(QStringLiteral("own"));
    write(QStringLiteral("config/zandrel/zandrel.conf"), "game-folder=/nowhere\n");
    const GameFolder found = find({}, own);
    EXPECT_EQ(found.folder, own);
    EXPECT_EQ(found.source, FolderSource::ProgramFolder);
    EXPECT_EQ(boxes_.prompts(), QStringList());
    EXPECT_EQ(asked_, 0);
    EXPECT_EQ(rememberedFolder(rememberedFile()), QStringLiteral("/nowhere"));
}

TEST_F(GameFolderTest, AnOptionThatIsNoGameFolderIsABoxAndNoFolder) {
    write(QStringLiteral("no game/maps/a.map"), "map");
    write(QStringLiteral("no maps/halo.exe"), "MZ");
    write(QStringLiteral("a file"), "x");
    struct Case {
        const char* name;
        QString folder;
        const char* why;
    };
    const Case cases[] = {
        {"missing", path(QStringLiteral("missing")), "does not exist"},
        {"a file", path(QStringLiteral("a file")), "is not a folder"},
        {"no halo.exe", path(QStringLiteral("no game")), "holds no halo.exe"},
        {"no maps folder", path(QStringLiteral("no maps")), "holds no maps folder"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        boxes_.boxes.clear();
        const GameFolder found = find({c.folder}, makeGame(QStringLiteral("own")));
        EXPECT_EQ(found.source, FolderSource::None);
        EXPECT_EQ(found.folder, QString());
        EXPECT_EQ(asked_, 0);
        ASSERT_EQ(boxes_.boxes.size(), 1u);
        EXPECT_EQ(boxes_.boxes[0].icon, MsgIcon::Critical);
        EXPECT_TRUE(boxes_.boxes[0].prompt.contains(c.folder + u' ' + QLatin1String(c.why)))
            << boxes_.boxes[0].prompt.toStdString();
    }
}

// The chooser takes only a game folder: each other folder gets a box and the question again;
// Cancel leaves no folder and nothing remembered.
TEST_F(GameFolderTest, TheChooserAsksUntilAGameFolderOrCancel) {
    write(QStringLiteral("maps only/maps/a.map"), "map");
    const QString game = makeGame(QStringLiteral("My Games/Halo"));
    const GameFolder found =
        find({}, path(QStringLiteral("bare")), {path(QStringLiteral("maps only")), game});
    EXPECT_EQ(found.folder, game);
    EXPECT_EQ(asked_, 2);
    ASSERT_EQ(boxes_.prompts().size(), 1);
    EXPECT_TRUE(boxes_.prompts()[0].startsWith(QStringLiteral("That is not the game folder: ") +
                                               path(QStringLiteral("maps only")) +
                                               QStringLiteral(" holds no halo.exe")));
    EXPECT_EQ(rememberedFolder(rememberedFile()), game);

    QFile::remove(rememberedFile());
    asked_ = 0;
    const GameFolder cancelled = find({}, path(QStringLiteral("bare")));
    EXPECT_EQ(cancelled.source, FolderSource::None);
    EXPECT_EQ(asked_, 1);
    EXPECT_FALSE(QFile::exists(rememberedFile()));
}

// A remembered folder that is no game folder any more (moved, deleted): the player is told and
// asked.
TEST_F(GameFolderTest, AStaleRememberedFolderIsSaidAndThePlayerAsked) {
    const QString chosen = makeGame(QStringLiteral("new place"));
    rememberFolder(rememberedFile(), path(QStringLiteral("old place")));
    const GameFolder found = find({}, path(QStringLiteral("bare")), {chosen});
    EXPECT_EQ(found.folder, chosen);
    ASSERT_EQ(boxes_.prompts().size(), 1);
    EXPECT_TRUE(boxes_.prompts()[0].contains(path(QStringLiteral("old place")) +
                                             QStringLiteral(" does not exist")));
    EXPECT_EQ(rememberedFolder(rememberedFile()), chosen);
}

TEST_F(GameFolderTest, TheRememberedFileIsReadStrictly) {
    struct Case {
        const char* name;
        QByteArray text;
        QString folder;
    };
    const Case cases[] = {
        {"as written", "# comment\ngame-folder=/g/Halo\n", "/g/Halo"},
        {"spaces kept", "game-folder=/g/Program Files/Halo \n", "/g/Program Files/Halo "},
        {"a relative folder", "game-folder=Halo\n", QString()},
        {"a control character", "game-folder=/g/\x01Halo\n", QString()},
        {"no key", "/g/Halo\n", QString()},
        {"empty", "", QString()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        write(QStringLiteral("config/zandrel/zandrel.conf"), c.text);
        EXPECT_EQ(rememberedFolder(rememberedFile()), c.folder);
    }
    EXPECT_EQ(rememberedFolder(path(QStringLiteral("none"))), QString());
    EXPECT_THROW(rememberFolder(rememberedFile(), QStringLiteral("/a\nb")), Error);
}

// A folder that cannot be remembered is still used for this run; the player is told.
TEST_F(GameFolderTest, AChoiceThatCannotBeRememberedIsUsedAndSaid) {
    const QString chosen = makeGame(QStringLiteral("chosen"));
    write(QStringLiteral("config"), "a file where the folder should be");
    const GameFolder found = find({}, path(QStringLiteral("bare")), {chosen});
    EXPECT_EQ(found.folder, chosen);
    EXPECT_EQ(found.source, FolderSource::Chosen);
    ASSERT_EQ(boxes_.prompts().size(), 1);
    EXPECT_TRUE(boxes_.prompts()[0].startsWith(
        QStringLiteral("Zandrel could not remember the game folder")));
}

TEST(RememberedFolderFile, FollowsXdgConfigHome) {
    const QByteArray old = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", "/tmp/zandrel-config-test");
    EXPECT_EQ(rememberedFolderFile(),
              QStringLiteral("/tmp/zandrel-config-test/zandrel/zandrel.conf"));
    qunsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(rememberedFolderFile(),
              QDir::homePath() + QStringLiteral("/.config/zandrel/zandrel.conf"));
    if (!old.isNull()) qputenv("XDG_CONFIG_HOME", old);
}

}  // namespace
}  // namespace zandrel::startup
