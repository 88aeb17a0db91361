#pragma once

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QUrl>

class QProcess;

// Everything that depends on the operating system: the application folder, the folder that
// "c:\" names, path joining, launching programs and the hand-off of mail links. This is the
// Linux implementation; a Windows one would sit beside it with the same interface.
namespace zandrel::platform {

inline constexpr QChar kSep = QLatin1Char('/');

// The folder of the running executable, without a trailing separator.
QString applicationFolder();

// The Wine prefix the game in appFolder runs in: $WINEPREFIX when it is set; else, when appFolder
// lies in a folder named drive_c, the folder that holds the nearest such drive_c (game managers
// and compatibility tools give each game a prefix of its own, with the game under its drive_c);
// else ~/.wine. No trailing separator.
QString winePrefix(const QString& appFolder);

// The folder that the Windows path "c:\" names for the game in appFolder. On Linux the game runs
// under Wine, so drive C: is the prefix's drive_c. No trailing separator.
QString driveCFolder(const QString& appFolder);
// The same for this program's own application folder.
QString driveCFolder();

// A path written the Windows way ("c:\zandrel.ppf", "maps\x.map") on this platform: a leading
// "c:" (any case) names driveCFolder(), and "\" is read as the separator.
QString fromWindowsPath(const QString& path);

// Splits argument text as the Windows C runtime does (CommandLineToArgvW rules): blanks
// separate arguments outside quotes, 2n backslashes + quote give n backslashes and toggle
// quoting, 2n+1 backslashes + quote give n backslashes and a literal quote, "" inside quotes
// is a literal quote, other backslashes are literal.
QStringList splitWindowsArguments(const QString& text);

// A launch as data: the program, the arguments it receives, the folder it starts in and the
// window style it is asked for (2 minimized with focus, 3 maximized with focus). The game's rules
// build plans (src/game/); launch() and startObserved() run them.
struct LaunchPlan {
    QString program;
    QStringList arguments;
    QString workingFolder;
    int windowStyle = kMaximized;

    static constexpr int kMinimized = 2;
    static constexpr int kMaximized = 3;
};

// What this system starts for a plan. A Windows program (a file that starts with "MZ") runs
// through `wine start`, which passes the window style on; with waitForEnd, start waits for the
// program and ends with its exit status. The wine is the one the WINE variable names (a path, or
// a name looked up on PATH), else wine on PATH; a WINE named umu-run or proton starts it by that
// tool's conventions instead (`umu-run <exe> <args>` with WINEPREFIX always given, `proton run
// <exe> <args>` with STEAM_COMPAT_DATA_PATH the folder that holds the prefix's pfx). The program
// runs in the prefix of the game folder the plan starts in (winePrefix): when that prefix comes
// from the folder, the started program gets WINEPREFIX set to it, so that it sees the drive C:
// this program sees. Raises Error when the program is missing, is not executable, or is a
// Windows program and the wine cannot be run (or proton has no pfx prefix to run it in).
struct Invocation {
    QString program;
    QStringList arguments;
    QString workingFolder;
    QProcessEnvironment environment;
};
Invocation invocationFor(const LaunchPlan& plan, bool waitForEnd = false);

// Every program this one starts gets its standard streams and what its plan gives it, never a
// descriptor of ours: nothing of this program (a socket of the web engine's, a file it holds)
// lives on in it.

// Starts the plan detached and returns at once; the started program outlives us.
// Raises Error when the program cannot be started.
void launch(const LaunchPlan& plan);

// Starts the plan as a child whose end the caller observes through `process` (its standard
// output is discarded, its standard error kept). Raises Error when it cannot be started.
void startObserved(QProcess& process, const LaunchPlan& plan);

// Hands a link to the desktop's handler (xdg-email for a mail link, else xdg-open), started as
// launch() starts programs. False when there is none, or it cannot be started.
bool openWithDesktop(const QUrl& link);

// A shared library loaded when it is first needed rather than with the program, so that the
// start window does not wait for it. The library stays loaded until the program ends.
// `what` names it in error descriptions ("The HTTP library"), `source` is the raising routine.
class LoadedLibrary {
public:
    // Raises Error (ComponentNotCreated) when the library cannot be loaded.
    LoadedLibrary(const char* fileName, QString what, QString source);

    // The library's function `name` as a pointer of type F; raises Error (EntryPointNotFound)
    // when the library lacks it.
    template <class F>
    F function(const char* name) const {
        return reinterpret_cast<F>(symbol(name));
    }

private:
    void* symbol(const char* name) const;

    void* handle_;
    QString what_;
    QString source_;
};

// This system's file names of the libraries loaded on first use.
inline constexpr char kCurlLibrary[] = "libcurl.so.4";
inline constexpr char kArchiveLibrary[] = "libarchive.so.13";
// The crypto library (curl's TLS uses it too, so during a download it is in the process already).
inline constexpr char kCryptoLibrary[] = "libcrypto.so.3";
// A module of the program's own, by its name ("zandrel_webengine"): the file beside the
// executable, else (an installed program) the one in the program's private module folder
// relative to it (kModuleFolder), so that no other folder is searched for it.
QString programModule(const char* name);

// The desktop's mail program, given a "mailto:" link. Tests put a recorder in its place.
class MailClient {
public:
    virtual ~MailClient() = default;
    virtual void compose(const QUrl& mailto) = 0;
};

}  // namespace zandrel::platform
