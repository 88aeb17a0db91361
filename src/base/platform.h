#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>

// Everything that depends on the operating system: the application folder, the folder that
// "c:\" names, path joining, launching programs and the hand-off of mail links. This is the
// Linux implementation; a Windows one would sit beside it with the same interface.
namespace zandrel::platform {

inline constexpr QChar kSep = QLatin1Char('/');

// The folder of the running executable, without a trailing separator.
QString applicationFolder();

// The folder that the Windows path "c:\" names. On Linux the game runs under Wine, so drive C:
// is the Wine prefix's drive_c: $WINEPREFIX/drive_c, else ~/.wine/drive_c. No trailing separator.
QString driveCFolder();

// A path written the Windows way ("c:\zandrel.ppf", "maps\x.map") on this platform: a leading
// "c:" (any case) names driveCFolder(), and "\" is read as the separator.
QString fromWindowsPath(const QString& path);

// Splits argument text as the Windows C runtime does (CommandLineToArgvW rules): blanks
// separate arguments outside quotes, 2n backslashes + quote give n backslashes and toggle
// quoting, 2n+1 backslashes + quote give n backslashes and a literal quote, "" inside quotes
// is a literal quote, other backslashes are literal.
QStringList splitWindowsArguments(const QString& text);

// What a command line starts: the program file, and the arguments it receives.
struct LaunchPlan {
    QString program;  // the file named at the start of the line
    QStringList arguments;
    bool throughWine = false;  // the file is a Windows executable ("MZ"): started by wine
};

// Works out the program and its arguments. The program path is not quoted by the callers and
// may hold spaces: as Windows does, the shortest prefix ending before a blank that names an
// existing file is the program; a line that starts with a quote names the program up to the
// closing quote. Raises Error (file not found) when no prefix names a file.
LaunchPlan planLaunch(const QString& commandLine);

// Starts the command line detached and returns at once; the started program outlives us.
// windowStyle 2 asks for minimized with focus, 3 for maximized with focus. On Linux nothing
// passes a window state to a new process (neither X11 nor Wine's command line has a way to),
// so the style is accepted and the window manager places the program's window.
// Raises Error when the program cannot be started (missing file, not executable, no wine).
void launch(const QString& commandLine, int windowStyle);

// The desktop's mail program, given a "mailto:" link. Tests put a recorder in its place.
class MailClient {
public:
    virtual ~MailClient() = default;
    virtual void compose(const QUrl& mailto) = 0;
};

}  // namespace zandrel::platform
