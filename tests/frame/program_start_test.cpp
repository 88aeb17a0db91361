// What the program has loaded once its start window is on screen: the libraries it loads on
// first use (the transfer, archive and crypto libraries, the web engine) are not among them, and
// each is loaded when it is first used.
#include "archive/libarchive_api.h"
#include "base/sha256.h"
#include "frame/frame_fixture.h"
#include "net/curl_api.h"
#include "windows/frm_splash.h"
#include "windows/program.h"

#include <QFile>

#include <gtest/gtest.h>

namespace zandrel::frame {
namespace {

// The file names of the shared objects mapped into this process.
QString mappedFiles() {
    QFile maps(QStringLiteral("/proc/self/maps"));
    return maps.open(QIODevice::ReadOnly) ? QString::fromUtf8(maps.readAll()) : QString();
}

TEST(ProgramStart, TheStartWindowWaitsForNoLibraryLoadedOnFirstUse) {
    windows::Program program;
    program.start();
    ASSERT_TRUE(test::waitFor([&] { return program.registry().isVisible<windows::FrmSplash>(); }));

    const QString loaded = mappedFiles();
    ASSERT_TRUE(loaded.contains(QStringLiteral("libQt6Widgets.so"))) << "maps not readable";
    for (const char* library :
         {"libcurl.so", "libarchive.so", "libcrypto.so", "libQt6WebEngine", "webengine"}) {
        EXPECT_FALSE(loaded.contains(QLatin1String(library))) << library << " at start";
    }

    EXPECT_TRUE(Sha256().usesCryptoLibrary());
    EXPECT_TRUE(mappedFiles().contains(QStringLiteral("libcrypto.so")));
    archive::libarchive();
    EXPECT_TRUE(mappedFiles().contains(QStringLiteral("libarchive.so")));
    net::curlApi();
    EXPECT_TRUE(mappedFiles().contains(QStringLiteral("libcurl.so")));
}

}  // namespace
}  // namespace zandrel::frame
