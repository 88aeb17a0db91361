#include "platform.h"

#include "base/build_info.h"
#include "error.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#include <dlfcn.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <thread>
#include <vector>

namespace zandrel::platform {

namespace {

const QString kLaunchSource = QStringLiteral("Shell");

bool isBlank(QChar c) {
    return c == QLatin1Char(' ') || c == QLatin1Char('\t');
}

bool startsWithMZ(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return false;
    return f.read(2) == "MZ";
}

QString withoutTrailingSeparators(QString path) {
    while (path.size() > 1 && path.endsWith(kSep)) path.chop(1);
    return path;
}

}  // namespace

LoadedLibrary::LoadedLibrary(const char* fileName, QString what, QString source)
    : handle_(::dlopen(fileName, RTLD_NOW | RTLD_LOCAL)),
      what_(std::move(what)),
      source_(std::move(source)) {
    if (!handle_) {
        throw Error(
            ErrorNumber::ComponentNotCreated,
            what_ + QStringLiteral(" cannot be loaded: ") + QString::fromLocal8Bit(::dlerror()),
            source_);
    }
}

void* LoadedLibrary::symbol(const char* name) const {
    void* f = ::dlsym(handle_, name);
    if (!f) {
        throw Error(ErrorNumber::EntryPointNotFound,
                    what_ + QStringLiteral(" lacks ") + QLatin1String(name), source_);
    }
    return f;
}

QString programModule(const char* name) {
    const QString file = QLatin1String(name) + QStringLiteral(".so");
    const QString beside = applicationFolder() + kSep + file;
    if (kModuleFolder[0] == '\0' || QFileInfo::exists(beside)) return beside;
    return QDir::cleanPath(applicationFolder() + kSep + QLatin1String(kModuleFolder)) + kSep + file;
}

QString applicationFolder() {
    return withoutTrailingSeparators(QCoreApplication::applicationDirPath());
}

namespace {

// The folder holding the nearest folder named drive_c at or above `folder`; empty when none.
QString prefixHolding(const QString& folder) {
    const QStringList parts = QDir::cleanPath(folder).split(kSep);
    for (qsizetype i = parts.size() - 1; i > 0; --i) {
        if (parts[i] == QLatin1String("drive_c")) {
            const QString prefix = parts.mid(0, i).join(kSep);
            return prefix.isEmpty() ? QString(kSep) : prefix;
        }
    }
    return {};
}

// The prefix, and whether it comes from the game's folder (so that programs started for the
// game must be told it).
struct Prefix {
    QString folder;
    bool fromGameFolder = false;
};

Prefix prefixFor(const QString& appFolder) {
    const QString named = qEnvironmentVariable("WINEPREFIX");
    if (!named.isEmpty()) return {withoutTrailingSeparators(named)};
    const QString holding = prefixHolding(appFolder);
    if (!holding.isEmpty()) return {holding, true};
    return {QDir::homePath() + QStringLiteral("/.wine")};
}

}  // namespace

QString winePrefix(const QString& appFolder) {
    return prefixFor(appFolder).folder;
}

QString driveCFolder(const QString& appFolder) {
    return QDir::cleanPath(winePrefix(appFolder) + QStringLiteral("/drive_c"));
}

QString driveCFolder() {
    return driveCFolder(applicationFolder());
}

QString fromWindowsPath(const QString& path) {
    QString p = path;
    p.replace(QLatin1Char('\\'), kSep);
    if (p.size() >= 2 && p[1] == QLatin1Char(':') && p[0].toLower() == QLatin1Char('c')) {
        QString rest = p.mid(2);
        while (rest.startsWith(kSep)) rest.remove(0, 1);
        return rest.isEmpty() ? driveCFolder() : driveCFolder() + kSep + rest;
    }
    return p;
}

QStringList splitWindowsArguments(const QString& text) {
    QStringList args;
    QString cur;
    bool inArg = false;
    bool quoted = false;
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n;) {
        const QChar c = text[i];
        if (!quoted && isBlank(c)) {
            if (inArg) args << cur;
            cur.clear();
            inArg = false;
            ++i;
            continue;
        }
        inArg = true;
        if (c == QLatin1Char('\\')) {
            qsizetype count = 0;
            while (i < n && text[i] == QLatin1Char('\\')) ++count, ++i;
            if (i < n && text[i] == QLatin1Char('"')) {
                cur += QString(count / 2, QLatin1Char('\\'));
                if (count % 2 == 1) {
                    cur += QLatin1Char('"');
                    ++i;
                }
                // With an even count the quote is handled by the next round as a delimiter.
            } else {
                cur += QString(count, QLatin1Char('\\'));
            }
            continue;
        }
        if (c == QLatin1Char('"')) {
            if (quoted && i + 1 < n && text[i + 1] == QLatin1Char('"')) {
                cur += QLatin1Char('"');
                i += 2;
                continue;
            }
            quoted = !quoted;
            ++i;
            continue;
        }
        cur += c;
        ++i;
    }
    if (inArg) args << cur;
    return args;
}

namespace {

// The wine to run Windows programs with: WINE as the player names it, else wine on PATH.
QString wineFor(const QString& program) {
    const QString named = qEnvironmentVariable("WINE");
    if (named.isEmpty()) {
        const QString wine = QStandardPaths::findExecutable(QStringLiteral("wine"));
        if (!wine.isEmpty()) return wine;
        throw Error::fromErrnoDescribed(
            ENOENT,
            QStringLiteral("Cannot start the Windows program %1: wine was not found").arg(program),
            kLaunchSource);
    }
    // A name without a separator is looked up on PATH, as a shell does.
    const QString wine = named.contains(kSep) ? QFileInfo(named).absoluteFilePath()
                                              : QStandardPaths::findExecutable(named);
    const QString which =
        QStringLiteral("Cannot start the Windows program %1 with the wine that WINE names, \"%2\"")
            .arg(program, named);
    if (wine.isEmpty() || !QFileInfo(wine).isFile())
        throw Error::fromErrnoDescribed(ENOENT, which + QStringLiteral(": it was not found"),
                                        kLaunchSource);
    if (::access(QFile::encodeName(wine).constData(), X_OK) != 0)
        throw Error::fromErrno(errno, kLaunchSource, which);
    return wine;
}

// start hands the style to the program as its show-window flag; /unix names the program by its
// Linux path and must come last before it.
QStringList wineStart(const LaunchPlan& plan, bool waitForEnd) {
    QStringList start{QStringLiteral("start"), plan.windowStyle == LaunchPlan::kMinimized
                                                   ? QStringLiteral("/min")
                                                   : QStringLiteral("/max")};
    if (waitForEnd) start << QStringLiteral("/wait");
    return start << QStringLiteral("/unix") << plan.program;
}

// The game folder a plan is for: the folder it starts in (the patch tool may live elsewhere).
QString gameFolderOf(const LaunchPlan& plan) {
    return plan.workingFolder.isEmpty() ? QFileInfo(plan.program).absolutePath()
                                        : plan.workingFolder;
}

// What the started program sees: ours, with the game's prefix when it came from the game's
// folder (a native patch tool then reads "c:\" as we do, too).
QProcessEnvironment environmentFor(const QString& gameFolder) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    const Prefix prefix = prefixFor(gameFolder);
    if (prefix.fromGameFolder) environment.insert(QStringLiteral("WINEPREFIX"), prefix.folder);
    return environment;
}

// umu-run and Proton's proton script are named in WINE by players of a compatibility tool;
// both start a Windows program by conventions of their own rather than wine's start.
enum class WineTool { Wine, UmuRun, Proton };

WineTool wineToolOf(const QString& wine) {
    const QString name = QFileInfo(wine).fileName();
    if (name == QLatin1String("umu-run")) return WineTool::UmuRun;
    if (name == QLatin1String("proton")) return WineTool::Proton;
    return WineTool::Wine;
}

// Steam's own folder, which proton reads as STEAM_COMPAT_CLIENT_INSTALL_PATH: the player's,
// else Steam's usual folders, else the compatibility data folder (proton needs one that exists).
QString steamClientFolder(const QProcessEnvironment& environment, const QString& dataFolder) {
    const QString named = environment.value(QStringLiteral("STEAM_COMPAT_CLIENT_INSTALL_PATH"));
    if (!named.isEmpty()) return named;
    for (const QString& folder : {QDir::homePath() + QStringLiteral("/.steam/steam"),
                                  QDir::homePath() + QStringLiteral("/.local/share/Steam")}) {
        if (QFileInfo(folder).isDir()) return folder;
    }
    return dataFolder;
}

// proton runs the prefix <STEAM_COMPAT_DATA_PATH>/pfx: the game's prefix must be such a pfx,
// unless the player names the data folder.
void protonEnvironment(QProcessEnvironment& environment, const LaunchPlan& plan) {
    const QString prefix = winePrefix(gameFolderOf(plan));
    QString data = environment.value(QStringLiteral("STEAM_COMPAT_DATA_PATH"));
    if (data.isEmpty()) {
        if (QFileInfo(prefix).fileName() != QLatin1String("pfx")) {
            throw Error::fromErrnoDescribed(
                ENOENT,
                QStringLiteral("Cannot start the Windows program %1 with proton: its Wine "
                               "prefix %2 is not a compatibility tool's prefix (a folder "
                               "named pfx), and STEAM_COMPAT_DATA_PATH is not set")
                    .arg(plan.program, prefix),
                kLaunchSource);
        }
        data = QFileInfo(prefix).absolutePath();
        environment.insert(QStringLiteral("STEAM_COMPAT_DATA_PATH"), data);
    }
    environment.insert(QStringLiteral("STEAM_COMPAT_CLIENT_INSTALL_PATH"),
                       steamClientFolder(environment, data));
}

// A Windows program started through the wine WINE names, by that tool's conventions:
// `umu-run <exe> <args>` in the game's prefix, `proton run <exe> <args>` in the compatibility
// data folder that holds the prefix, else `wine start /max|/min [/wait] /unix <exe> <args>`.
void startThroughWine(Invocation& run, const LaunchPlan& plan, bool waitForEnd) {
    run.program = wineFor(plan.program);
    switch (wineToolOf(run.program)) {
        case WineTool::UmuRun:
            run.arguments = QStringList{plan.program} + plan.arguments;
            run.environment.insert(QStringLiteral("WINEPREFIX"), winePrefix(gameFolderOf(plan)));
            break;
        case WineTool::Proton:
            protonEnvironment(run.environment, plan);
            run.arguments = QStringList{QStringLiteral("run"), plan.program} + plan.arguments;
            break;
        case WineTool::Wine:
            run.arguments = wineStart(plan, waitForEnd) + plan.arguments;
            break;
    }
}

}  // namespace

Invocation invocationFor(const LaunchPlan& plan, bool waitForEnd) {
    if (!QFileInfo(plan.program).isFile()) {
        throw Error::fromErrnoDescribed(ENOENT, QStringLiteral("File not found: ") + plan.program,
                                        kLaunchSource);
    }
    Invocation run{plan.program, plan.arguments, plan.workingFolder,
                   environmentFor(gameFolderOf(plan))};
    if (startsWithMZ(plan.program)) {
        startThroughWine(run, plan, waitForEnd);
    } else if (::access(QFile::encodeName(plan.program).constData(), X_OK) != 0) {
        throw Error::fromErrno(errno, kLaunchSource);
    }
    // A native program has no window style on Linux: nothing passes one to a new X11 process,
    // so the window manager places its window.
    return run;
}

namespace {

QString cannotStart(const LaunchPlan& plan, const Invocation& run) {
    return run.program == plan.program
               ? QStringLiteral("Cannot start ") + plan.program
               : QStringLiteral("Cannot start %1 through %2").arg(plan.program, run.program);
}

// In the child between fork and exec: every descriptor above the standard streams (which QProcess
// has put in place by now) is closed by the exec, whoever opened it and however (the web engine's
// sockets and files are not close-on-exec). The report of a failed exec still gets through.
void onlyStandardStreams() {
    if (::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC) == 0) return;
    for (int fd = 3; fd < 65536; ++fd) ::fcntl(fd, F_SETFD, FD_CLOEXEC);  // before Linux 5.11
}

void prepare(QProcess& process, const Invocation& run) {
    process.setProgram(run.program);
    process.setArguments(run.arguments);
    process.setWorkingDirectory(run.workingFolder);
    process.setProcessEnvironment(run.environment);
    process.setChildProcessModifier(onlyStandardStreams);
}

// Text for the C side, kept alive with its pointers.
struct CStrings {
    std::vector<QByteArray> texts;
    std::vector<char*> pointers;

    explicit CStrings(std::vector<QByteArray> all) : texts(std::move(all)) {
        for (QByteArray& t : texts) pointers.push_back(t.data());
        pointers.push_back(nullptr);
    }
};

CStrings argumentsOf(const Invocation& run) {
    std::vector<QByteArray> texts{QFile::encodeName(run.program)};
    for (const QString& a : run.arguments) texts.push_back(a.toLocal8Bit());
    return CStrings(std::move(texts));
}

CStrings environmentOf(const Invocation& run) {
    std::vector<QByteArray> texts;
    for (const QString& v : run.environment.toStringList()) texts.push_back(v.toLocal8Bit());
    return CStrings(std::move(texts));
}

// Starts the program in a session of its own with our standard streams and no other descriptor
// (QProcess::startDetached passes every descriptor on that is not close-on-exec, which kept the
// web engine's helpers alive as long as the game). It is reaped when it ends, also while we run.
// Returns 0, or the errno of the failed start.
int spawnDetached(const Invocation& run) {
    CStrings argv = argumentsOf(run);
    CStrings envp = environmentOf(run);
    const QByteArray folder = QFile::encodeName(run.workingFolder);
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawnattr_init(&attributes);
    if (!folder.isEmpty()) ::posix_spawn_file_actions_addchdir_np(&actions, folder.constData());
    ::posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    ::posix_spawnattr_setsigmask(&attributes, &none);
    ::posix_spawnattr_setsigdefault(&attributes, &all);
    ::posix_spawnattr_setflags(&attributes,
                               POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    pid_t pid = 0;
    const int error = ::posix_spawn(&pid, argv.texts.front().constData(), &actions, &attributes,
                                    argv.pointers.data(), envp.pointers.data());
    ::posix_spawnattr_destroy(&attributes);
    ::posix_spawn_file_actions_destroy(&actions);
    if (error == 0) std::thread([pid] { ::waitpid(pid, nullptr, 0); }).detach();
    return error;
}

}  // namespace

void launch(const LaunchPlan& plan) {
    const Invocation run = invocationFor(plan);
    if (const int error = spawnDetached(run))
        throw Error::fromErrnoDescribed(error, cannotStart(plan, run), kLaunchSource);
}

bool openWithDesktop(const QUrl& link) {
    const bool mail = link.scheme().compare(QLatin1String("mailto"), Qt::CaseInsensitive) == 0;
    QString handler;
    if (mail) handler = QStandardPaths::findExecutable(QStringLiteral("xdg-email"));
    if (handler.isEmpty()) handler = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    if (handler.isEmpty()) return false;
    const Invocation run{handler,
                         {link.toString(QUrl::FullyEncoded)},
                         QString(),
                         QProcessEnvironment::systemEnvironment()};
    return spawnDetached(run) == 0;
}

void startObserved(QProcess& process, const LaunchPlan& plan) {
    const Invocation run = invocationFor(plan, /*waitForEnd=*/true);
    prepare(process, run);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.start();
    if (!process.waitForStarted()) {
        throw Error::fromErrnoDescribed(
            ENOEXEC, cannotStart(plan, run) + QStringLiteral(": ") + process.errorString(),
            kLaunchSource);
    }
}

}  // namespace zandrel::platform
