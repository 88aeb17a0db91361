#include "windows/program.h"

#include "archive/install_journal.h"
#include "maps/map_folder.h"
#include "resources/resources.h"
#include "windows/window_set.h"

#include <QApplication>
#include <QIcon>
#include <QPixmap>

#include <unistd.h>

namespace zandrel::windows {

using namespace frame;

void Program::prepare() {
    // Chromium (the web view) refuses to run as root with its sandbox on.
    if (::geteuid() == 0 && qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX")) {
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    }
    // The OpenGL context the web view shares is made when the first page is shown
    // (web_view.cpp), not here: the start window does not wait for the GL driver.
}

Program::Program() : registry_({&boxes_, &mail_, &clock_, platform::applicationFolder()}) {
    QApplication::setQuitOnLastWindowClosed(false);  // the registry decides when the program ends
    initResources();
    QApplication::setWindowIcon(QIcon(QPixmap::fromImage(picture(QStringLiteral(":/icon.png")))));
    registerWindows(registry_);
    QObject::connect(&registry_, &Registry::programEnded, [this] {
        boxes_.closeAll();
        QCoreApplication::exit(0);
    });
}

void Program::start() {
    // An update that a killed run left half installed is finished before a window shows a map.
    const auto recovery = archive::recoverInstalls(maps::mapFolder(registry_.appFolder()));
    for (const QString& problem : recovery.problems) qWarning("%s", qUtf8Printable(problem));
    registry_.start<FrmSplash>();
}

}  // namespace zandrel::windows
