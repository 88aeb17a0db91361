#include "ppf_test_util.h"

#include "base/files.h"

#include <QDir>
#include <QFile>
#include <QProcess>

#include <random>
#include <stdexcept>

#include <sys/resource.h>
#include <unistd.h>
#include <csignal>

namespace zandrel::patch::testing {

ToolResult runTool(const QStringList& args, const ToolEnvironment& env) {
    QProcess process;
    process.setProgram(env.program.isEmpty() ? QStringLiteral(PPF_TOOL) : env.program);
    process.setArguments(args);
    QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
    if (!env.winePrefix.isEmpty()) e.insert(QStringLiteral("WINEPREFIX"), env.winePrefix);
    process.setProcessEnvironment(e);
    const rlim_t limit = env.fileSizeLimit;
    const ToolEnvironment::Output output = env.output;
    process.setChildProcessModifier([limit, output] {
        if (limit) {
            // Writes past the limit fail with EFBIG instead of killing the process.
            std::signal(SIGXFSZ, SIG_IGN);
            const rlimit rl{limit, limit};
            setrlimit(RLIMIT_FSIZE, &rl);
        }
        if (output == ToolEnvironment::Output::Closed) ::close(1);
        if (output == ToolEnvironment::Output::BrokenPipe) {
            int ends[2];
            if (::pipe(ends) == 0) {
                ::close(ends[0]);
                ::dup2(ends[1], 1);
                ::close(ends[1]);
            }
        }
    });
    process.start();
    ToolResult r;
    if (!process.waitForStarted(10000)) throw std::runtime_error("cannot start " PPF_TOOL);
    r.finished = process.waitForFinished(30000);
    if (!r.finished) {
        process.kill();
        process.waitForFinished(5000);
    }
    r.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    r.out = process.readAllStandardOutput().toStdString();
    r.err = process.readAllStandardError().toStdString();
    return r;
}

ByteVector readFile(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    const QByteArray data = f.readAll();
    return ByteVector(data.begin(), data.end());
}

void writeFile(const QString& path, const ByteVector& bytes) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        throw std::runtime_error("cannot write " + path.toStdString());
    }
    f.write(reinterpret_cast<const char*>(bytes.data()), qint64(bytes.size()));
}

ByteVector randomBytes(std::size_t size, std::uint32_t seed) {
    std::mt19937 rng(seed);
    ByteVector b(size);
    for (auto& x : b) x = std::uint8_t(rng());
    return b;
}

QStringList leftoverTemporaries(const QString& folder) {
    QStringList ours;
    for (const QString& name : QDir(folder).entryList(QDir::AllEntries | QDir::Hidden |
                                                      QDir::System | QDir::NoDotAndDotDot)) {
        if (files::isOurs(QFile::encodeName(name).toStdString())) ours << name;
    }
    return ours;
}

}  // namespace zandrel::patch::testing
