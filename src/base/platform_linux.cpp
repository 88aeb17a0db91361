#include "platform.h"

#include "error.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#include <dlfcn.h>
#include <unistd.h>
#include <cerrno>

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
    return applicationFolder() + kSep + QLatin1String(name) + QStringLiteral(".so");
}

QString applicationFolder() {
    QString dir = QCoreApplication::applicationDirPath();
    while (dir.size() > 1 && dir.endsWith(kSep)) dir.chop(1);
    return dir;
}

QString driveCFolder() {
    QString prefix = qEnvironmentVariable("WINEPREFIX");
    if (prefix.isEmpty()) prefix = QDir::homePath() + QStringLiteral("/.wine");
    while (prefix.size() > 1 && prefix.endsWith(kSep)) prefix.chop(1);
    return prefix + QStringLiteral("/drive_c");
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

Invocation invocationFor(const LaunchPlan& plan, bool waitForEnd) {
    if (!QFileInfo(plan.program).isFile()) {
        throw Error(ENOENT, QStringLiteral("File not found: ") + plan.program, kLaunchSource);
    }
    Invocation run{plan.program, plan.arguments, plan.workingFolder};
    if (startsWithMZ(plan.program)) {
        const QString wine = QStandardPaths::findExecutable(QStringLiteral("wine"));
        if (wine.isEmpty()) {
            throw Error(ENOENT,
                        QStringLiteral("Cannot start the Windows program %1: wine was not found")
                            .arg(plan.program),
                        kLaunchSource);
        }
        // start hands the style to the program as its show-window flag; /unix names the program
        // by its Linux path and must come last before it.
        QStringList start{QStringLiteral("start"), plan.windowStyle == LaunchPlan::kMinimized
                                                       ? QStringLiteral("/min")
                                                       : QStringLiteral("/max")};
        if (waitForEnd) start << QStringLiteral("/wait");
        start << QStringLiteral("/unix") << plan.program;
        run.program = wine;
        run.arguments = start + plan.arguments;
    } else if (::access(QFile::encodeName(plan.program).constData(), X_OK) != 0) {
        throw Error::fromErrno(errno, kLaunchSource);
    }
    // A native program has no window style on Linux: nothing passes one to a new X11 process,
    // so the window manager places its window.
    return run;
}

void launch(const LaunchPlan& plan) {
    const Invocation run = invocationFor(plan);
    if (!QProcess::startDetached(run.program, run.arguments, run.workingFolder)) {
        throw Error(ENOEXEC, QStringLiteral("Cannot start ") + plan.program, kLaunchSource);
    }
}

void startObserved(QProcess& process, const LaunchPlan& plan) {
    const Invocation run = invocationFor(plan, /*waitForEnd=*/true);
    process.setProgram(run.program);
    process.setArguments(run.arguments);
    process.setWorkingDirectory(run.workingFolder);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.start();
    if (!process.waitForStarted()) {
        throw Error(ENOEXEC,
                    QStringLiteral("Cannot start ") + plan.program + QStringLiteral(": ") +
                        process.errorString(),
                    kLaunchSource);
    }
}

}  // namespace zandrel::platform
