// The three programs answer --version and --help without a display and exit 0; the program
// refuses a command line that is not its own.
#include "base/build_info.h"

#include <QProcess>
#include <QProcessEnvironment>

#include <gtest/gtest.h>

namespace {

struct Outcome {
    int status = -1;
    QString out;
    QString err;
};

// The program run with no display at all: a window it tried to open would fail it.
Outcome run(const char* program, const QStringList& arguments) {
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(QString::fromLatin1(name));
    // The exit status is the program's own: in the sanitizer build, LeakSanitizer would change
    // it for what the libraries keep until the process ends.
    env.insert(QStringLiteral("ASAN_OPTIONS"),
               env.value(QStringLiteral("ASAN_OPTIONS")) + QStringLiteral(":detect_leaks=0"));
    process.setProcessEnvironment(env);
    process.start(QString::fromUtf8(program), arguments);
    if (!process.waitForFinished(30000)) return {};
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromLocal8Bit(process.readAllStandardOutput()),
            QString::fromLocal8Bit(process.readAllStandardError())};
}

TEST(Programs, AnswerVersionAndHelp) {
    struct Case {
        const char* name;
        const char* program;
        const char* versionName;
        const char* usage;
    };
    const Case cases[] = {
        {"zandrel", ZANDREL_PROGRAM, "zandrel", "Usage: zandrel "},
        {"zandrel-check", ZANDREL_CHECK, "zandrel-check", "Usage: zandrel-check "},
        {"the patch tool", ZANDREL_PPF, "ppf", "Usage:\n  ppf a "},
    };
    const QString version = QLatin1String(zandrel::kVersion);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome v = run(c.program, {QStringLiteral("--version")});
        EXPECT_EQ(v.status, 0) << v.err.toStdString();
        EXPECT_EQ(v.out, QLatin1String(c.versionName) + u' ' + version + u'\n');
        const Outcome h = run(c.program, {QStringLiteral("--help")});
        EXPECT_EQ(h.status, 0) << h.err.toStdString();
        EXPECT_TRUE(h.out.startsWith(QLatin1String(c.usage))) << h.out.toStdString();
        EXPECT_TRUE(h.out.contains(QStringLiteral("--version"))) << h.out.toStdString();
    }
}

TEST(Programs, ZandrelRefusesACommandLineNotItsOwn) {
    for (const QStringList& words :
         {QStringList{"games.example.org"}, QStringList{"-platform", "offscreen"},
          QStringList{"--game-folder"}}) {
        SCOPED_TRACE(words.join(u' ').toStdString());
        const Outcome r = run(ZANDREL_PROGRAM, words);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.out, QString());
        EXPECT_TRUE(r.err.startsWith(QStringLiteral("zandrel: "))) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(QStringLiteral("Usage: zandrel "))) << r.err.toStdString();
    }
}

}  // namespace
