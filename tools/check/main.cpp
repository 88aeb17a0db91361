// zandrel-check: shows a server administrator their server as a player will meet it. It does
// with ADDRESS what the program does when a player types it into the start window, without a
// window and without the game, and reports each step. It never reads standard input.

#include "base/build_info.h"
#include "base/printable.h"
#include "checker.h"
#include "work_folder.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <cstdio>

namespace {

const char* const kUsage =
    "Usage: zandrel-check [--map FILE] [--min-rate BYTES/SECONDS] [--json] ADDRESS\n"
    "\n"
    "Does what Zandrel does with ADDRESS typed into its start window, without a window and\n"
    "without the game, and reports each step: the settings file connect.ini and its five keys,\n"
    "then the update (zandrel.rar unpacked into a temporary folder, or zandrel.ppf read and,\n"
    "with --map, tried on a copy of FILE). Nothing outside a temporary folder is written.\n"
    "\n"
    "  --map FILE   a copy of the map the patch is for (the server's Target)\n"
    "  --min-rate BYTES/SECONDS\n"
    "               fail a transfer that brings fewer bytes than that over that many seconds\n"
    "               (players' floor: 1024/30)\n"
    "  --json       print the findings as one JSON document\n"
    "  --help       this text\n"
    "  --version    the version\n"
    "\n"
    "Progress of large downloads goes to standard error.\n"
    "Exit status: 0 players get through without a failure box, 1 they do not,\n"
    "2 wrong command line or the server cannot be reached.\n";

void print(std::FILE* to, const QByteArray& text) {
    std::fwrite(text.constData(), 1, std::size_t(text.size()), to);
    std::fflush(to);
}

// "1024/30": bytes a second, over a window of that many seconds (fractions allowed).
bool parseRate(const QString& text, zandrel::check::Request& request) {
    const QStringList parts = text.split(QLatin1Char('/'));
    bool rateOk = false, windowOk = false;
    const int rate = parts.size() == 2 ? parts[0].toInt(&rateOk) : 0;
    const double seconds = parts.size() == 2 ? parts[1].toDouble(&windowOk) : 0;
    if (!rateOk || !windowOk || rate < 0 || !(seconds > 0 && seconds <= 3600)) return false;
    request.minimumRate = rate;
    request.rateWindowMs = static_cast<int>(seconds * 1000);
    return true;
}

int usageError(const QString& why) {
    print(stderr, (QStringLiteral("zandrel-check: ") + why + u'\n').toLocal8Bit() + kUsage);
    return zandrel::check::kExitUnusable;
}

int check(int argc, char** argv, const std::string& workFolder) {
    // Nothing here asks anything: a library that tried to would read end of file.
    if (!std::freopen("/dev/null", "r", stdin)) std::fclose(stdin);
    QCoreApplication app(argc, argv);

    zandrel::check::Request request;
    bool json = false;
    QStringList addresses;
    const QStringList args = QCoreApplication::arguments().mid(1);
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& arg = args[i];
        if (arg == QLatin1String("--help") || arg == QLatin1String("-h")) {
            print(stdout, kUsage);
            return zandrel::check::kExitOk;
        }
        if (arg == QLatin1String("--version")) {
            print(stdout, QByteArray("zandrel-check ") + zandrel::kVersion + '\n');
            return zandrel::check::kExitOk;
        }
        if (arg == QLatin1String("--json")) {
            json = true;
        } else if (arg == QLatin1String("--map")) {
            if (i + 1 >= args.size()) return usageError(QStringLiteral("--map takes a file"));
            request.mapFile = args[++i];
        } else if (arg.startsWith(QLatin1String("--map="))) {
            request.mapFile = arg.mid(6);
            if (request.mapFile.isEmpty()) return usageError(QStringLiteral("--map takes a file"));
        } else if (arg == QLatin1String("--min-rate")) {
            if (i + 1 >= args.size() || !parseRate(args[++i], request))
                return usageError(QStringLiteral("--min-rate takes BYTES/SECONDS, e.g. 1024/30"));
        } else if (arg.startsWith(QLatin1Char('-')) && arg.size() > 1) {
            return usageError(QStringLiteral("unknown option ") + arg);
        } else {
            addresses.append(arg);
        }
    }
    if (addresses.size() != 1) {
        return usageError(addresses.isEmpty() ? QStringLiteral("no address given")
                                              : QStringLiteral("one address at a time"));
    }
    request.address = addresses.first();
    if (request.address.isEmpty()) return usageError(QStringLiteral("the address is empty"));
    if (!request.mapFile.isEmpty()) {
        const QFileInfo map(request.mapFile);
        if (!map.isFile() || !map.isReadable())
            return usageError(
                QStringLiteral("--map: %1 is not a readable file").arg(request.mapFile));
    }
    request.progress = [](const QString& line) {
        print(stderr,
              (QStringLiteral("zandrel-check: ") + zandrel::printable(line) + u'\n').toLocal8Bit());
    };

    request.workFolder = QFile::decodeName(workFolder.c_str());

    const zandrel::check::Report report = zandrel::check::checkServer(request);
    print(stdout, json ? report.toJson() : report.toText().toLocal8Bit());
    return report.exitStatus();
}

}  // namespace

// The check runs in a child process, so that its temporary folder is removed whatever ends it.
int main(int argc, char** argv) {
    return zandrel::check::runInWorkFolder(
        [&](const std::string& workFolder) { return check(argc, argv, workFolder); });
}
