// ppf: applies, undoes, makes and shows PPF patches. Started by the PPF update path as
// `ppf.exe a "<map>" "c:\zandrel.ppf"`, and by server administrators to make zandrel.ppf.
// It never reads standard input; every failure is one line on standard error and a non-zero
// exit status (see kUsage).

#include "base/build_info.h"
#include "base/platform.h"
#include "patch/ppf.h"

#include <QFile>
#include <QString>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace ppf = zandrel::patch;

namespace {

const char* const kUsage =
    "Usage:\n"
    "  ppf a [--force] <image> <patch>   apply a PPF1.0, PPF2.0 or PPF3.0 patch\n"
    "  ppf u [--force] <image> <patch>   undo a PPF3.0 patch that holds undo data\n"
    "  ppf c [-u] [-x] [-i 0|1] [-d \"text\"] [-f file_id.diz] <original> <modified> <patch>\n"
    "                                    make a PPF3.0 patch:\n"
    "        -u  store undo data\n"
    "        -x  no validation block (block check off)\n"
    "        -i  image type: 0 = BIN (default), 1 = GI\n"
    "        -d  description, at most 50 bytes\n"
    "        -f  attach this FILE_ID.DIZ text (at most 3072 bytes)\n"
    "  ppf s <patch>                     show a patch's information\n"
    "  ppf --help                        this text\n"
    "  ppf --version                     the version\n"
    "\n"
    "The image is replaced only when the patched copy is complete; --force goes on after a\n"
    "validation mismatch. An image that holds every byte of the patch already is left as it\n"
    "is (\"already applied\", exit status 0). A path like c:\\zandrel.ppf names a file on the\n"
    "Wine drive C:. Stopped by SIGTERM, SIGINT or SIGHUP before the patched copy is complete,\n"
    "the tool leaves the image as it was, removes its temporary file and ends by that signal.\n"
    "Exit status: 0 done, 1 file error, 2 wrong command line, 3 corrupt patch,\n"
    "4 validation mismatch, 5 not possible with this patch or these files.\n";

int fail(ppf::ErrorKind kind, const std::string& message) {
    std::string line = ppf::printable(message);
    for (char& c : line) {
        if (c == '\n' || c == '\t') c = ' ';
    }
    std::fprintf(stderr, "ppf: %s\n", line.c_str());
    return int(kind);
}

int usageError(const std::string& message) {
    return fail(ppf::ErrorKind::Usage, message + " (ppf --help shows the usage)");
}

bool isDriveForm(const std::string& arg) {
    return arg.size() >= 2 && arg[1] == ':' &&
           ((arg[0] >= 'a' && arg[0] <= 'z') || (arg[0] >= 'A' && arg[0] <= 'Z'));
}

// A path written the Windows way names a file where the game sees it: "c:" is the Wine
// drive C: folder and "\" separates. Other paths are taken as they are, byte for byte.
std::string localPath(const std::string& arg) {
    if (isDriveForm(arg) && arg[0] != 'c' && arg[0] != 'C') {
        throw ppf::PatchError(ppf::ErrorKind::Usage, "only drive C: is known here, not " +
                                                         arg.substr(0, 2) + " (" + arg + ")");
    }
    if (!isDriveForm(arg) && arg.find('\\') == std::string::npos) return arg;
    const QString path = zandrel::platform::fromWindowsPath(QString::fromLocal8Bit(arg));
    return QFile::encodeName(path).toStdString();
}

std::string readFileId(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw ppf::PatchError(ppf::ErrorKind::Io, "cannot open FILE_ID.DIZ " + path);
    std::string text;
    char buf[4096];
    while (in.read(buf, sizeof buf) || in.gcount() > 0) {
        text.append(buf, std::size_t(in.gcount()));
        if (text.size() > ppf::kMaxFileIdSize) break;  // the maker refuses it with its message
    }
    if (in.bad()) throw ppf::PatchError(ppf::ErrorKind::Io, "cannot read FILE_ID.DIZ " + path);
    return text;
}

// Set when the tool was started with standard output closed; the descriptor then holds
// /dev/null, so that no file the tool opens can take its place.
bool stdoutClosed = false;

// Standard input, output and error are open from here on, whatever the caller left closed:
// otherwise the image or the patch could be opened as descriptor 1 or 2 and receive text.
void holdStandardDescriptors() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
        if (fd == 1) stdoutClosed = true;
        ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);  // the lowest free descriptor: fd
    }
}

int writeOut(const std::string& text) {
    if (stdoutClosed) {
        return fail(ppf::ErrorKind::Io,
                    std::string("cannot write to standard output: ") + std::strerror(EBADF));
    }
    std::fwrite(text.data(), 1, text.size(), stdout);
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        return fail(ppf::ErrorKind::Io,
                    std::string("cannot write to standard output: ") + std::strerror(errno));
    }
    return 0;
}

// The signal that asked an apply or undo to stop, 0 while none has.
volatile std::sig_atomic_t stopSignal = 0;

void requestStop(int signal) {
    stopSignal = signal;
}

// A stop signal during an apply lets the applier clean up before the tool ends by it.
void catchStopSignals() {
    struct sigaction action {};
    action.sa_handler = requestStop;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) ::sigaction(signal, &action, nullptr);
}

// Ends the tool by the signal that stopped it, so that its caller sees what it would have seen
// without the clean-up.
[[noreturn]] void endByStopSignal() {
    const int signal = int(stopSignal);
    std::signal(signal, SIG_DFL);
    std::raise(signal);
    std::_Exit(128 + signal);
}

int applyOrUndo(const std::vector<std::string>& args, bool force, ppf::Direction direction) {
    if (args.size() != 3) return usageError(args[0] + " takes an image and a patch");
    ppf::ApplyOptions options;
    options.direction = direction;
    options.force = force;
    options.stop = &stopSignal;
    catchStopSignals();
    const ppf::Outcome outcome =
        ppf::applyPatchFile(localPath(args[1]), localPath(args[2]), options);
    if (outcome == ppf::Outcome::AlreadyApplied) {
        // Only a note: the image is as the caller wanted it, so a closed output is no failure.
        if (!stdoutClosed) {
            std::fputs("already applied: the image holds the patch's bytes; nothing written\n",
                       stdout);
            std::fflush(stdout);
        }
    }
    return 0;
}

int create(const std::vector<std::string>& args) {
    ppf::CreateOptions options;
    std::size_t i = 1;
    for (; i < args.size() && args[i].size() > 1 && args[i][0] == '-'; ++i) {
        const std::string& opt = args[i];
        const bool hasValue = i + 1 < args.size();
        if (opt == "-u") {
            options.undoData = true;
        } else if (opt == "-x") {
            options.blockCheck = false;
        } else if (opt == "-i") {
            if (!hasValue || (args[i + 1] != "0" && args[i + 1] != "1")) {
                return usageError("-i takes 0 (BIN) or 1 (GI)");
            }
            options.imageType = args[++i] == "1" ? 1 : 0;
        } else if (opt == "-d") {
            if (!hasValue) return usageError("-d takes a description");
            options.description = args[++i];
        } else if (opt == "-f") {
            if (!hasValue) return usageError("-f takes a FILE_ID.DIZ file");
            options.fileId = readFileId(localPath(args[++i]));
        } else {
            return usageError("unknown option " + opt);
        }
    }
    if (args.size() - i != 3) {
        return usageError("c takes an original, a modified file and the patch to write");
    }
    ppf::createPatchFile(localPath(args[i]), localPath(args[i + 1]), localPath(args[i + 2]),
                         options);
    return 0;
}

int show(const std::vector<std::string>& args) {
    if (args.size() != 2) return usageError("s takes a patch");
    const ppf::FileBytes file(localPath(args[1]));
    const ppf::Patch p = ppf::parsePatch(file.bytes());
    const char* version = p.version == ppf::Version::Ppf1   ? "PPF1.0"
                          : p.version == ppf::Version::Ppf2 ? "PPF2.0"
                                                            : "PPF3.0";
    std::string out;
    out += std::string("Version:       ") + version + "\n";
    out += "Description:   " + ppf::printable(p.description) + "\n";
    if (p.version == ppf::Version::Ppf3) {
        out += std::string("Image type:    ") + (p.imageType ? "GI" : "BIN") + "\n";
    }
    if (p.originalSize) out += "Original size: " + std::to_string(*p.originalSize) + "\n";
    char offset[32];
    std::snprintf(offset, sizeof offset, "0x%llX",
                  static_cast<unsigned long long>(p.validationOffset));
    out += std::string("Block check:   ") +
           (p.blockCheck ? std::string("yes (1024 bytes at ") + offset + ")" : "no") + "\n";
    out += std::string("Undo data:     ") + (p.undoData ? "yes" : "no") + "\n";
    out += "Records:       " + std::to_string(p.recordCount) + "\n";
    if (p.fileId) {
        out += "FILE_ID.DIZ:\n" + ppf::printable(*p.fileId);
        if (out.back() != '\n') out += '\n';
    } else {
        out += "FILE_ID.DIZ:   none\n";
    }
    return writeOut(out);
}

}  // namespace

int main(int argc, char** argv) {
    holdStandardDescriptors();
    // A closed pipe or a file-size limit becomes an error with its line, not a silent death.
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
    std::vector<std::string> args;
    bool force = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") return writeOut(kUsage);
        if (arg == "--version") return writeOut(std::string("ppf ") + zandrel::kVersion + "\n");
        if (arg == "--force") {
            force = true;
        } else {
            args.push_back(arg);
        }
    }
    if (args.empty()) {
        std::fputs(kUsage, stderr);
        return int(ppf::ErrorKind::Usage);
    }
    try {
        const std::string& command = args[0];
        if (force && command != "a" && command != "u") {
            return usageError("--force goes with a and u only");
        }
        if (command == "a") return applyOrUndo(args, force, ppf::Direction::Apply);
        if (command == "u") return applyOrUndo(args, force, ppf::Direction::Undo);
        if (command == "c") return create(args);
        if (command == "s") return show(args);
        return usageError("unknown command " + command);
    } catch (const ppf::PatchError& e) {
        const int status = fail(e.kind(), e.what());
        if (e.kind() == ppf::ErrorKind::Stopped) endByStopSignal();
        return status;
    } catch (const std::bad_alloc&) {
        return fail(ppf::ErrorKind::Io, "out of memory");
    } catch (const std::exception& e) {
        return fail(ppf::ErrorKind::Io, e.what());
    }
}
