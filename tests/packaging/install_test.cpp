// The install into a game folder, as a player runs it: the launcher entry names the installed
// program and icon by their absolute paths, quoted so that a launcher hands the program a link
// as one argument whatever the folder's name, and backup/ is made beside maps/.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace {

struct Outcome {
    int status = -1;
    QString output;
};

Outcome run(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForFinished(120000)) return {};
    return {process.exitCode(), QString::fromLocal8Bit(process.readAll())};
}

Outcome install(const QString& prefix) {
    return run(QStringLiteral(ZANDREL_CMAKE),
               {QStringLiteral("--install"), QStringLiteral(ZANDREL_BUILD_DIR),
                QStringLiteral("--prefix"), prefix});
}

QString read(const QString& file) {
    QFile f(file);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

// The line of the entry that starts with key.
QString line(const QString& entry, const QString& key) {
    for (const QString& l : entry.split(u'\n'))
        if (l.startsWith(key)) return l;
    return {};
}

// Replaces the installed program with a stand-in that records its arguments, one a line.
void recordArguments(const QString& program) {
    QFile::remove(program);
    QFile f(program);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"$0.args\"\n");
    f.close();
    f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

TEST(InstallIntoAGameFolder, TheLauncherEntryNamesTheFolderAsTheDesktopReadsIt) {
    const QString validate =
        QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
    const QString gio = QStandardPaths::findExecutable(QStringLiteral("gio"));
    if (validate.isEmpty() || gio.isEmpty())
        GTEST_SKIP() << "needs desktop-file-validate and gio (scripts/setup.sh installs them)";
    struct Case {
        const char* name;
        QString folder;
    };
    // (Not "%": the entry writes it "%%" as launchers read it, but gio looks for the
    // program before it reads "%%" back as "%", and finds none.)
    const Case cases[] = {
        {"Program Files", "pfx/drive_c/Program Files/Halo"},
        {"every mark a launcher reads", "games/Halo \"CE\" $HOME `id` it's (mine) & co; ~x"},
        {"letters beyond ASCII", "Spiele/Halo \u00e9t\u00e9"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        const QString game = dir.filePath(c.folder);
        ASSERT_TRUE(QDir().mkpath(game + QStringLiteral("/maps")));
        const Outcome installed = install(game);
        ASSERT_EQ(installed.status, 0) << installed.output.toStdString();
        EXPECT_TRUE(QFileInfo(game + QStringLiteral("/backup")).isDir());

        const QString entryFile = game + QStringLiteral("/zandrel.desktop");
        const QString entry = read(entryFile);
        const Outcome valid = run(validate, {entryFile});
        EXPECT_EQ(valid.status, 0) << valid.output.toStdString() << entry.toStdString();
        EXPECT_EQ(valid.output, QString()) << entry.toStdString();
        EXPECT_EQ(line(entry, QStringLiteral("MimeType=")),
                  QStringLiteral("MimeType=x-scheme-handler/zandrel;"));
        EXPECT_EQ(line(entry, QStringLiteral("Icon="))
                      .replace(QStringLiteral("\\\\"), QStringLiteral("\\")),
                  QStringLiteral("Icon=") + game + QStringLiteral("/zandrel.png"));
        EXPECT_TRUE(QFileInfo(game + QStringLiteral("/zandrel.png")).isFile());

        // A real launcher splits Exec and hands the link over as one argument.
        recordArguments(game + QStringLiteral("/zandrel"));
        const Outcome launched = run(gio, {QStringLiteral("launch"), entryFile,
                                           QStringLiteral("zandrel://127.0.0.1:8801/halo")});
        EXPECT_EQ(launched.status, 0) << launched.output.toStdString() << entry.toStdString();
        const QString args = game + QStringLiteral("/zandrel.args");
        for (int i = 0; i < 500 && read(args).isEmpty(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_EQ(read(args), QStringLiteral("zandrel://127.0.0.1:8801/halo\n"))
            << entry.toStdString();
    }
}

// CMake's file commands would read a backslash as a separator, and no launcher entry can name a
// line break: such a folder is refused before anything is installed.
TEST(InstallIntoAGameFolder, AFolderNameThatCannotBeWrittenIsRefusedBeforeAnyFile) {
    for (const char* name : {"Halo \\o/", "Halo\nCE"}) {
        SCOPED_TRACE(name);
        QTemporaryDir dir;
        const QString game = dir.filePath(QString::fromUtf8(name));
        ASSERT_TRUE(QDir().mkpath(game + QStringLiteral("/maps")));
        const Outcome installed = install(game);
        EXPECT_NE(installed.status, 0) << installed.output.toStdString();
        EXPECT_TRUE(installed.output.contains(QStringLiteral("cannot be installed into a folder")))
            << installed.output.toStdString();
        EXPECT_EQ(QDir(game).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                  QStringList{QStringLiteral("maps")});
    }
}

TEST(InstallIntoAGameFolder, NoBackupFolderOutsideAGameFolder) {
    QTemporaryDir dir;
    const Outcome installed = install(dir.path());
    ASSERT_EQ(installed.status, 0) << installed.output.toStdString();
    EXPECT_TRUE(QFileInfo(dir.filePath(QStringLiteral("zandrel"))).isFile());
    EXPECT_FALSE(QFileInfo::exists(dir.filePath(QStringLiteral("backup"))));
    EXPECT_TRUE(installed.output.contains(QStringLiteral("no backup folder made")))
        << installed.output.toStdString();
}

}  // namespace
