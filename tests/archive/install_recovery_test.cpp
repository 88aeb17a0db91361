// The commit of an unpacked update is all or nothing across a kill: the commit test program
// (commit/commit_killer.cpp) is killed at a move of the commit, then recoverInstalls() runs as
// at the program's next start, and the map folder must hold the whole old or the whole new
// update, with nothing of ours left. The journal it follows comes from disk: a crafted one
// must not move anything outside the map folder.
#include "archive/install_journal.h"
#include "commit/commit_layout.h"
#include "folders/folder_helpers.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <random>

using namespace zandrel;
using zandrel::test::folderEntries;
using zandrel::test::readFile;
using zandrel::test::writeFile;

namespace {

enum class State { Old, New, Mixed };

class InstallRecovery : public ::testing::Test {
protected:
    QTemporaryDir tmp;
    QString maps() const { return tmp.path() + QStringLiteral("/maps"); }
    QString at(const std::string& path) const {
        return maps() + QLatin1Char('/') + QString::fromStdString(path);
    }

    void prepare(int count) {
        QDir().mkpath(maps());
        for (const auto& e : test::commitLayout(count))
            if (e.replaces)
                writeFile(at(e.path), QByteArray::fromStdString(test::oldBytes(e.path)));
    }

    // Runs the commit, killed before move `stopAt` (-1: not killed). True when it was killed.
    bool runCommit(int count, long stopAt) {
        QProcess p;
        p.start(QStringLiteral(COMMIT_KILLER_PATH),
                {maps(), QString::number(count), QString::number(stopAt)});
        EXPECT_TRUE(p.waitForFinished(60000));
        return p.exitStatus() == QProcess::CrashExit;
    }

    State state(int count) const {
        int olds = 0, news = 0, total = 0;
        for (const auto& e : test::commitLayout(count)) {
            if (e.folder) continue;
            ++total;
            const QString path = at(e.path);
            if (!QFile::exists(path)) {
                if (!e.replaces) ++olds;
                continue;
            }
            const QByteArray bytes = readFile(path);
            if (bytes == QByteArray::fromStdString(test::newBytes(e.path))) ++news;
            if (bytes == QByteArray::fromStdString(test::oldBytes(e.path))) ++olds;
        }
        if (olds == total) return State::Old;
        return news == total ? State::New : State::Mixed;
    }

    QStringList leftovers() const {
        return folderEntries(maps()).filter(QStringLiteral(".zandrel"));
    }
};

void substitute(std::string& s, const std::string& from, const std::string& to) {
    if (const auto p = s.find(from); p != std::string::npos) s.replace(p, from.size(), to);
}

int moves(int count) {
    return int(test::commitLayout(count).size());
}

TEST_F(InstallRecovery, AKillAtEveryMoveOfASmallUpdateRecoversToTheWholeNewUpdate) {
    const int count = 3;
    int mixedBeforeRecovery = 0;
    for (int stopAt = 0; stopAt <= moves(count); ++stopAt) {
        SCOPED_TRACE(stopAt);
        ASSERT_TRUE(QDir(maps()).removeRecursively() || !QFile::exists(maps()));
        prepare(count);
        ASSERT_TRUE(runCommit(count, stopAt));
        if (state(count) == State::Mixed) ++mixedBeforeRecovery;
        ASSERT_FALSE(leftovers().isEmpty());  // the journal's staging folder

        const archive::Recovery r = archive::recoverInstalls(maps());
        EXPECT_EQ(r.finished, 1);
        EXPECT_TRUE(r.problems.isEmpty()) << r.problems.join(u'\n').toStdString();
        // Every new file was complete before the first move: the commit is finished.
        EXPECT_EQ(state(count), State::New);
        EXPECT_EQ(leftovers(), QStringList());
    }
    // Without the journal these kills would have left the folder mixed.
    EXPECT_GT(mixedBeforeRecovery, 0);
    std::printf("kills before each of %d moves and after the last: %d mixed before recovery\n",
                moves(count), mixedBeforeRecovery);
}

TEST_F(InstallRecovery, ACommitThatRanToItsEndNeedsNothing) {
    prepare(3);
    ASSERT_FALSE(runCommit(3, -1));
    EXPECT_EQ(state(3), State::New);
    const archive::Recovery r = archive::recoverInstalls(maps());
    EXPECT_EQ(r.finished, 0);
    EXPECT_EQ(state(3), State::New);
    EXPECT_EQ(leftovers(), QStringList());
}

// A large update killed at random moves, and from outside at random times once the commit
// starts (which may fall before the journal is on disk: then the update is all old).
TEST_F(InstallRecovery, RandomKillsOfALargeUpdateRecoverToAllOldOrAllNew) {
    const int count = 300;
    std::mt19937 random(20261211);
    std::uniform_int_distribution<long> move(0, moves(count));
    std::uniform_int_distribution<int> delayUs(0, 4000);
    int runs = 0, recoveredNew = 0, allOld = 0, mixedBefore = 0;
    for (int run = 0; run < 30; ++run) {
        SCOPED_TRACE(run);
        ASSERT_TRUE(QDir(maps()).removeRecursively() || !QFile::exists(maps()));
        prepare(count);
        if (run % 2 == 0) {
            ASSERT_TRUE(runCommit(count, move(random)));
        } else {
            QProcess p;
            p.start(QStringLiteral(COMMIT_KILLER_PATH),
                    {maps(), QString::number(count), QStringLiteral("-1")});
            ASSERT_TRUE(p.waitForReadyRead(60000));
            ::usleep(useconds_t(delayUs(random)));
            p.kill();
            ASSERT_TRUE(p.waitForFinished(60000));
        }
        if (state(count) == State::Mixed) ++mixedBefore;
        archive::recoverInstalls(maps());
        const State s = state(count);
        EXPECT_NE(s, State::Mixed);
        EXPECT_EQ(leftovers(), QStringList());
        ++runs;
        if (s == State::New) ++recoveredNew;
        if (s == State::Old) ++allOld;
    }
    std::printf(
        "random kills: %d runs, %d mixed before recovery; after it %d all new, %d all old\n", runs,
        mixedBefore, recoveredNew, allOld);
}

// Journals that are not ours, each in a staging folder beside a real map and a folder outside
// the map folder. Nothing outside moves, the map keeps its bytes, and the staging folder with
// its files is kept aside (never swept) for a look.
TEST_F(InstallRecovery, ACraftedJournalMovesNothingOutsideTheMapFolder) {
    struct Case {
        const char* name;
        std::string journal;  // "@": the staged file's inode number; "OUTSIDE": that folder
    };
    const Case cases[] = {
        {"a path above the map folder", "F 0 @ ../outside/victim.map\n"},
        {"an absolute path", "F 0 @ OUTSIDE/victim.map\n"},
        {"a path through a link", "F 0 @ link/victim.map\n"},
        {"a staged name that leaves the staging folder", "F ../../outside/victim.map @ a.map\n"},
        {"a folder line above the map folder", "D ../outside/made\n"},
        {"a path into a folder of ours", "F 0 @ .zandrel-stage-other/a.map\n"},
        {"another inode", "F 0 1 a.map\n"},
        {"a folder in the way", "F 0 @ folder\n"},
        {"a control character", "F 0 @ a\x01.map\n"},
        {"no end line", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(QDir(tmp.path()).removeRecursively());
        ASSERT_TRUE(QDir().mkpath(maps() + QStringLiteral("/folder")));
        const QString outside = tmp.path() + QStringLiteral("/outside");
        QDir().mkpath(outside);
        writeFile(outside + QStringLiteral("/victim.map"), "outside");
        writeFile(at("a.map"), "player's map");
        ASSERT_EQ(
            ::symlink(outside.toLocal8Bit().constData(), at("link").toLocal8Bit().constData()), 0);
        const QString staging = maps() + QStringLiteral("/.zandrel-stage-crafted");
        QDir().mkpath(staging);
        writeFile(staging + QStringLiteral("/0"), "crafted");
        struct stat st {};
        ASSERT_EQ(::stat((staging + QStringLiteral("/0")).toLocal8Bit().constData(), &st), 0);
        std::string body = c.journal;
        substitute(body, "@", std::to_string(st.st_ino));
        substitute(body, "OUTSIDE", outside.toStdString());
        const std::string journal = "zandrel-journal 1\n" + body + (body.empty() ? "" : "end\n");
        writeFile(staging + QStringLiteral("/journal"), QByteArray::fromStdString(journal));

        const archive::Recovery r = archive::recoverInstalls(maps());
        EXPECT_EQ(r.finished, 0);
        EXPECT_EQ(r.problems.size(), 1);
        EXPECT_EQ(folderEntries(outside), QStringList{QStringLiteral("victim.map")});
        EXPECT_EQ(readFile(outside + QStringLiteral("/victim.map")), "outside");
        EXPECT_EQ(readFile(at("a.map")), "player's map");
        EXPECT_TRUE(QFileInfo(maps() + QStringLiteral("/folder")).isDir());
        const QStringList kept = folderEntries(maps()).filter(QStringLiteral(".zandrel-recover-"));
        ASSERT_EQ(kept.size(), 1);
        EXPECT_EQ(readFile(maps() + QLatin1Char('/') + kept[0] + QStringLiteral("/0")), "crafted");
    }
}

TEST(InstallJournal, ReadsBackWhatItWrites) {
    const std::vector<archive::JournalEntry> entries = {
        {true, {}, 0, "a folder/with spaces"},
        {false, "12", 987654321, "a folder/with spaces/x y.map"},
        {false, "0", 18446744073709551615ull, "top.map"},
    };
    const auto back = archive::parseJournal(archive::formatJournal(entries));
    ASSERT_TRUE(back);
    ASSERT_EQ(back->size(), entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        EXPECT_EQ((*back)[i].folder, entries[i].folder);
        EXPECT_EQ((*back)[i].staged, entries[i].staged);
        EXPECT_EQ((*back)[i].inode, entries[i].inode);
        EXPECT_EQ((*back)[i].path, entries[i].path);
    }
}

TEST(InstallJournal, RefusesWhatItDidNotWrite) {
    const char* refused[] = {
        "",
        "zandrel-journal 2\nend\n",
        "zandrel-journal 1\nF 0 1 a.map\n",                          // cut before its end
        "zandrel-journal 1\nF 0 1 a.map\nend",                       // cut inside the end line
        "zandrel-journal 1\nend\nF 0 1 a.map\n",                     // lines after the end
        "zandrel-journal 1\nF 0 a.map\nend\n",                       // a field missing
        "zandrel-journal 1\nF 0 99999999999999999999 a.map\nend\n",  // inode out of range
        "zandrel-journal 1\nF -1 1 a.map\nend\n",
        "zandrel-journal 1\nF 0 1 a//b.map\nend\n",
        "zandrel-journal 1\nF 0 1 a/./b.map\nend\n",
        "zandrel-journal 1\nF 0 1 a/\nend\n",
        "zandrel-journal 1\nF 0 1 .zandrel-tmp-x\nend\n",
        "zandrel-journal 1\nX 0 1 a.map\nend\n",
    };
    for (const char* text : refused) {
        SCOPED_TRACE(text);
        EXPECT_FALSE(archive::parseJournal(text));
    }
}

}  // namespace
