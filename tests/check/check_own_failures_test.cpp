// zandrel-check's own failures: a signal in the middle of a check, or a temporary folder without
// room, is the checking machine's business. The tool leaves no temporary folder behind, and a
// full TMPDIR is exit status 2 (the check could not be made), never a problem of the server's.
#include "admin_server.h"
#include "files_tiny_disk.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>

namespace zandrel::test {
namespace {

QStringList entriesUnder(const QString& folder) {
    QStringList found;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) found << QDir(folder).relativeFilePath(it.next());
    return found;
}

bool waitUntil(const std::function<bool()>& done, int ms = 20000) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > ms) return false;
        QThread::msleep(20);
    }
    return true;
}

// The processes whose parent is pid.
QList<qint64> childrenOf(qint64 pid) {
    QList<qint64> children;
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool number = false;
        const qint64 candidate = entry.toLongLong(&number);
        if (!number) continue;
        QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
        if (!stat.open(QIODevice::ReadOnly)) continue;
        // "pid (name) state ppid ...": the name may hold blanks, so read after its ")".
        const QByteArray line = stat.readAll();
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 1 && fields[1].toLongLong() == pid) children << candidate;
    }
    return children;
}

bool running(qint64 pid) {
    return QFile::exists(QStringLiteral("/proc/%1").arg(pid));
}

TEST(CheckToolOwnFailures, ASignalDuringACheckLeavesNoTemporaryFolder) {
    struct Case {
        const char* name;
        int signal;
        bool toTheCheck;  // to the process doing the check, rather than the tool the user ran
        bool endsByTheSignal;
    };
    const Case cases[] = {
        {"SIGINT, as Ctrl-C sends it", SIGINT, false, true},
        {"SIGTERM", SIGTERM, false, true},
        {"SIGHUP, the terminal closed", SIGHUP, false, true},
        {"the check killed outright", SIGKILL, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AdminServer server;
        // The update trickles in: the check is in the middle of fetching it.
        HttpReply slow = HttpReply::ok(QByteArray(1 << 20, 'x'));
        slow.pieceSize = 1024;
        slow.pauseMs = 100;
        server.http().route(QStringLiteral("/zandrel.rar"), slow);
        QTemporaryDir tmp;
        QProcess tool;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("TMPDIR"), tmp.path());
        tool.setProcessEnvironment(env);
        tool.start(QStringLiteral(ZANDREL_CHECK_TOOL), {server.address()});
        ASSERT_TRUE(tool.waitForStarted());
        ASSERT_TRUE(waitUntil([&] {
            return server.http().requestedPaths().contains(QStringLiteral("/zandrel.rar"));
        }));
        const QStringList during = entriesUnder(tmp.path());
        ASSERT_FALSE(during.isEmpty());
        EXPECT_TRUE(during.first().startsWith(QStringLiteral("zandrel-check-")));
        const QList<qint64> checks = childrenOf(tool.processId());
        ASSERT_EQ(checks.size(), 1);

        ::kill(c.toTheCheck ? checks.first() : tool.processId(), c.signal);
        ASSERT_TRUE(tool.waitForFinished(10000));
        if (c.endsByTheSignal) {
            EXPECT_EQ(tool.exitStatus(), QProcess::CrashExit);
        } else {
            EXPECT_EQ(tool.exitStatus(), QProcess::NormalExit);
            EXPECT_EQ(tool.exitCode(), 2);
            EXPECT_TRUE(tool.readAllStandardError().contains("the check ended by signal 9"));
        }
        EXPECT_EQ(entriesUnder(tmp.path()), QStringList());
        EXPECT_FALSE(running(checks.first())) << "the check goes on writing";
    }
}

TEST(CheckToolOwnFailures, AFullTemporaryFolderIsTheCheckersFailureNotTheServers) {
    struct Case {
        const char* name;
        std::uint64_t diskBytes;
        bool fillFirst;
        bool ppfServer;
        const char* step;  // where the check stops
    };
    // The RAR update is 131 KB and unpacks to 128 KiB; the patch is small, the map 64 KiB.
    const Case cases[] = {
        {"full before the settings file", 64 << 10, true, false, "settings"},
        {"room for the settings file, not the archive", 64 << 10, false, false, "update"},
        {"room for the archive, not what it unpacks to", 256 << 10, false, false, "update"},
        {"room for the patch, not the copy of the map", 64 << 10, false, true, "update"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TinyDisk disk(c.diskBytes);
        if (disk.path().empty()) GTEST_SKIP() << disk.skipReason();
        const QString tmp = QString::fromStdString(disk.path());
        if (c.fillFirst) {
            QFile filler(tmp + QStringLiteral("/filler"));
            ASSERT_TRUE(filler.open(QIODevice::WriteOnly));
            const QByteArray block(4096, 'f');
            while (filler.write(block) == block.size() && filler.flush()) {
            }
        }
        AdminServer server;
        QStringList arguments{QStringLiteral("--json")};
        QTemporaryDir player;
        if (c.ppfServer) {
            server.makePpfServer();
            QFile map(player.filePath(QStringLiteral("ridge.map")));
            ASSERT_TRUE(map.open(QIODevice::WriteOnly));
            map.write(mapBytes("ridge", 1));
            arguments << QStringLiteral("--map") << map.fileName();
        }
        const ToolRun run =
            runCheck(arguments << server.address(), {QStringLiteral("TMPDIR=") + tmp});
        EXPECT_EQ(run.exitStatus, 2) << run.out.toStdString() << run.err.toStdString();
        const QList<QJsonObject> full =
            findingsWithCode(run.json, QStringLiteral("work-folder-full"));
        ASSERT_EQ(full.size(), 1) << run.out.toStdString();
        EXPECT_EQ(full[0].value(QStringLiteral("step")).toString(), QLatin1String(c.step));
        EXPECT_TRUE(
            full[0]
                .value(QStringLiteral("text"))
                .toString()
                .contains(QStringLiteral("the checking machine's problem, not the server's")));
        // Nothing blames the server, and nothing is left on the disk but the filler.
        EXPECT_EQ(run.json.value(QStringLiteral("problems")).toInt(), 1) << run.out.toStdString();
        EXPECT_EQ(entriesUnder(tmp),
                  c.fillFirst ? QStringList{QStringLiteral("filler")} : QStringList());
    }
}

}  // namespace
}  // namespace zandrel::test
