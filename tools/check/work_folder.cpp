#include "work_folder.h"

#include "report.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <ftw.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace zandrel::check {

namespace {

constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP};

std::string makeFolder() {
    const char* tmp = std::getenv("TMPDIR");
    std::string base = tmp && *tmp ? tmp : "/tmp";
    while (base.size() > 1 && base.back() == '/') base.pop_back();
    std::string folder = base + "/zandrel-check-XXXXXX";
    return ::mkdtemp(folder.data()) ? folder : std::string();
}

int removeEntry(const char* path, const struct stat*, int, struct FTW*) {
    ::remove(path);
    return 0;  // on with the rest: as much as can go, goes
}

// The tool's exit status for the way the child ended.
int statusOf(int waitStatus) {
    if (WIFEXITED(waitStatus)) return WEXITSTATUS(waitStatus);
    if (WIFSIGNALED(waitStatus)) {
        std::fprintf(stderr, "zandrel-check: the check ended by signal %d (%s)\n",
                     WTERMSIG(waitStatus), ::strsignal(WTERMSIG(waitStatus)));
    }
    return kExitUnusable;
}

[[noreturn]] void endBy(int signal) {
    std::fflush(stdout);
    ::signal(signal, SIG_DFL);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signal);
    ::sigprocmask(SIG_UNBLOCK, &only, nullptr);
    ::raise(signal);
    std::_Exit(128 + signal);
}

}  // namespace

void removeTree(const std::string& folder) {
    if (folder.empty()) return;
    ::nftw(folder.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS);
}

int runInWorkFolder(const std::function<int(const std::string& workFolder)>& check) {
    // Blocked from before the folder exists, so no signal can end us between making it and
    // watching over it; the child gets the mask it started with.
    sigset_t watched;
    sigset_t original;
    sigemptyset(&watched);
    for (int s : kEndingSignals) sigaddset(&watched, s);
    sigaddset(&watched, SIGCHLD);
    ::sigprocmask(SIG_BLOCK, &watched, &original);

    const std::string folder = makeFolder();
    const pid_t parent = ::getpid();
    const pid_t child = folder.empty() ? -1 : ::fork();
    if (child <= 0) {
        // The child, or no folder (or no child) to watch over: the check runs here.
        if (child == 0) {
            // Ended with us, should we be killed outright.
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (::getppid() != parent) std::_Exit(kExitUnusable);
        }
        ::sigprocmask(SIG_SETMASK, &original, nullptr);
        const int status = check(folder);
        if (child < 0) removeTree(folder);
        return status;
    }
    for (;;) {
        int signal = 0;
        if (::sigwait(&watched, &signal) != 0) continue;
        if (signal == SIGCHLD) {
            int status = 0;
            if (::waitpid(child, &status, WNOHANG) != child) continue;  // not ended
            removeTree(folder);
            return statusOf(status);
        }
        // The child may be writing in the folder: it ends before the folder goes.
        ::kill(child, SIGKILL);
        int status = 0;
        while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
        removeTree(folder);
        endBy(signal);
    }
}

}  // namespace zandrel::check
