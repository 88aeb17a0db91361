// The program itself finishes, at its start and before any window, an update whose commit a
// killed run left half made: the test's commit program is killed in the middle of the moves
// into the map folder, then the real program is started on that folder.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace {

QStringList hidden(const QString& folder) {
    return QDir(folder)
        .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)
        .filter(QStringLiteral(".zandrel"));
}

QByteArray read(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

TEST(RecoveryAtStart, TheProgramFinishesAHalfMadeUpdateBeforeItsFirstWindow) {
    QTemporaryDir app;
    const QString program = QString::fromUtf8(ZANDREL_PROGRAM);
    ASSERT_TRUE(QFile::copy(program, app.filePath(QStringLiteral("zandrel"))));
    QFile::setPermissions(app.filePath(QStringLiteral("zandrel")),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QFile game(app.filePath(QStringLiteral("halo.exe")));  // a game folder: never started here
    ASSERT_TRUE(game.open(QIODevice::WriteOnly));
    const QString maps = app.filePath(QStringLiteral("maps"));
    ASSERT_TRUE(QDir().mkpath(maps));
    ASSERT_TRUE(QDir().mkpath(app.filePath(QStringLiteral("backup"))));
    for (int i = 0; i < 3; ++i) {
        QFile f(maps + QStringLiteral("/m%1.map").arg(i));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("old m" + QByteArray::number(i) + ".map");
    }
    // Killed before the commit's third move (the folder, m0.map, a new file are in place).
    QProcess commit;
    commit.start(QStringLiteral(COMMIT_KILLER_PATH),
                 {maps, QStringLiteral("3"), QStringLiteral("3")});
    ASSERT_TRUE(commit.waitForFinished(60000));
    ASSERT_EQ(commit.exitStatus(), QProcess::CrashExit);
    ASSERT_EQ(read(maps + QStringLiteral("/m0.map")), "new m0.map");
    ASSERT_EQ(read(maps + QStringLiteral("/m2.map")), "old m2.map");
    ASSERT_EQ(hidden(maps).size(), 1);

    QProcess zandrel;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    zandrel.setProcessEnvironment(env);
    zandrel.start(app.filePath(QStringLiteral("zandrel")), {});
    ASSERT_TRUE(zandrel.waitForStarted(10000));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!hidden(maps).isEmpty() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    zandrel.kill();
    zandrel.waitForFinished(10000);

    EXPECT_EQ(hidden(maps), QStringList());
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(read(maps + QStringLiteral("/m%1.map").arg(i)),
                  "new m" + QByteArray::number(i) + ".map");
    EXPECT_EQ(read(maps + QStringLiteral("/extra/deeper/n0.map")), "new extra/deeper/n0.map");
}

}  // namespace
