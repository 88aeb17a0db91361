// "Centre of screen" as a player sees it: the program's start window on an X server of its own
// (Xvfb, 1280 x 1024) with a window manager that frames it (openbox), and the outer frame the
// window manager drew read back from the X server, not from Qt. Skipped, saying why, where Xvfb
// or openbox is not installed (scripts/setup.sh installs both).
#include "desktop/desktop.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <optional>
#include <thread>

namespace zandrel::frame {
namespace {

using test::Rect;

TEST(CentreOfScreen, TheStartWindowsOuterFrameIsInTheMiddleOfTheScreen) {
    const QStringList tools{QStringLiteral("Xvfb"), QStringLiteral("openbox")};
    if (const QString missing = test::Desktop::missing(tools); !missing.isEmpty())
        GTEST_SKIP() << "needs " << missing.toStdString() << " (scripts/setup.sh installs them)";
    test::Desktop desktop;
    ASSERT_TRUE(desktop.start()) << desktop.why().toStdString();
    test::X& x = desktop.x();

    // A game folder for the program, which is not in one here.
    QTemporaryDir game;
    QFile(game.filePath(QStringLiteral("halo.exe"))).open(QIODevice::WriteOnly);
    QDir(game.path()).mkpath(QStringLiteral("maps"));
    test::Child program;
    QProcessEnvironment env = desktop.environment();
    env.insert(QStringLiteral("QTWEBENGINE_DISABLE_SANDBOX"), QStringLiteral("1"));
    program.process.setProcessEnvironment(env);
    program.process.start(QStringLiteral(ZANDREL_PROGRAM),
                          {QStringLiteral("--game-folder"), game.path()});
    ASSERT_TRUE(program.process.waitForStarted(10000));

    std::optional<xcb_window_t> window;
    std::optional<Rect> frame;
    ASSERT_TRUE(test::pollUntil(
        [&] {
            if (!window) window = x.find("Welcome to Zandrel 1.1Final");
            frame = window ? x.outerFrame(*window) : std::nullopt;
            return frame.has_value();
        },
        20000))
        << "the start window was not framed";
    // Where it comes to rest: a later move would show here.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    frame = x.outerFrame(*window);
    ASSERT_TRUE(frame);
    SCOPED_TRACE(::testing::Message() << "frame at " << frame->x << "," << frame->y << ", "
                                      << frame->width << " x " << frame->height);
    EXPECT_GT(frame->height, 155) << "no title bar: the window manager drew no frame";
    EXPECT_LE(std::abs(frame->centreX() - 640), 3);
    EXPECT_LE(std::abs(frame->centreY() - 512), 3);
}

}  // namespace
}  // namespace zandrel::frame
