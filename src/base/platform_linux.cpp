#include "platform.h"

#include "error.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

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

LaunchPlan planLaunch(const QString& commandLine) {
    LaunchPlan plan;
    QString rest;
    if (commandLine.startsWith(QLatin1Char('"'))) {
        const qsizetype close = commandLine.indexOf(QLatin1Char('"'), 1);
        plan.program = commandLine.mid(1, close < 0 ? -1 : close - 1);
        rest = close < 0 ? QString() : commandLine.mid(close + 1);
    } else {
        // Shortest prefix ending before a blank that names an existing file, as Windows does.
        qsizetype end = 0;
        for (;;) {
            end = commandLine.indexOf(QLatin1Char(' '), end);
            const QString candidate = end < 0 ? commandLine : commandLine.left(end);
            const QFileInfo info(candidate);
            if (info.exists() && !info.isDir()) {
                plan.program = candidate;
                rest = end < 0 ? QString() : commandLine.mid(end + 1);
                break;
            }
            if (end < 0) {
                throw Error(ENOENT,
                            QStringLiteral("File not found: ") +
                                commandLine.section(QLatin1Char(' '), 0, 0),
                            kLaunchSource);
            }
            ++end;
        }
    }
    if (!QFileInfo(plan.program).isFile()) {
        throw Error(ENOENT, QStringLiteral("File not found: ") + plan.program, kLaunchSource);
    }
    plan.arguments = splitWindowsArguments(rest);
    plan.throughWine = startsWithMZ(plan.program);
    return plan;
}

void launch(const QString& commandLine, int windowStyle) {
    Q_UNUSED(windowStyle);  // see the header: no window state can be passed on Linux
    const LaunchPlan plan = planLaunch(commandLine);
    QString program = plan.program;
    QStringList arguments = plan.arguments;
    if (plan.throughWine) {
        const QString wine = QStandardPaths::findExecutable(QStringLiteral("wine"));
        if (wine.isEmpty()) {
            throw Error(ENOENT,
                        QStringLiteral("Cannot start the Windows program %1: wine was not found")
                            .arg(plan.program),
                        kLaunchSource);
        }
        arguments.prepend(plan.program);
        program = wine;
    } else if (::access(QFile::encodeName(program).constData(), X_OK) != 0) {
        throw Error::fromErrno(errno, kLaunchSource);
    }
    // A Windows program looks for its files beside itself: start it in its own folder.
    const QString workDir = QFileInfo(plan.program).absolutePath();
    if (!QProcess::startDetached(program, arguments, workDir)) {
        throw Error(ENOEXEC, QStringLiteral("Cannot start ") + plan.program, kLaunchSource);
    }
}

}  // namespace zandrel::platform
