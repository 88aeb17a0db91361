// Runs one commit of StagedInstall over the commit tests' layout and, when asked, kills itself
// with SIGKILL just before move N (or, N = the number of moves, after the last one, before the
// journal is removed): a process that dies at that point, as kill -9 or a power cut would end
// it. A test program only; the product has no such switch.
//
//   commit_killer <destination> <maps> <N or -1>
#include "archive/staged_install.h"
#include "base/files.h"
#include "commit/commit_layout.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: commit_killer <destination> <maps> <N or -1>\n");
        return 2;
    }
    const QString destination = QString::fromLocal8Bit(argv[1]);
    const auto entries = zandrel::test::commitLayout(std::atoi(argv[2]));
    const long stopAt = std::atol(argv[3]);
    try {
        zandrel::files::Fd dest(::open(argv[1], O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        zandrel::archive::StagedInstall install(dest.get(), destination);
        for (std::size_t i = 0; i < entries.size(); ++i) {
            if (entries[i].folder) continue;
            zandrel::files::Fd out(install.createStaged(i, QStringLiteral("staging")));
            const std::string bytes = zandrel::test::newBytes(entries[i].path);
            zandrel::files::writeAll(out.get(), bytes.data(), bytes.size(), "staged");
        }
        install.beforeMove = [stopAt](std::size_t move) {
            if (long(move) == stopAt) ::raise(SIGKILL);
        };
        // The moment a test that kills from outside waits for.
        std::fputs("committing\n", stdout);
        std::fflush(stdout);
        install.commit(entries);
        install.release();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
