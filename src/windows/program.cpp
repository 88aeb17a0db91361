#include "windows/program.h"

#include "archive/install_journal.h"
#include "base/printable.h"
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

Program::Program(const QString& gameFolder) : registry_({&boxes_, &mail_, &clock_, gameFolder}) {
    QApplication::setQuitOnLastWindowClosed(false);  // the registry decides when the program ends
    initResources();
    QApplication::setWindowIcon(QIcon(QPixmap::fromImage(picture(QStringLiteral(":/icon.png")))));
    registerWindows(registry_);
    QObject::connect(&registry_, &Registry::programEnded, [this] {
        boxes_.closeAll();
        QCoreApplication::exit(0);
    });
}

void finishInterruptedUpdates(Registry& registry) {
    const auto recovery = archive::recoverInstalls(maps::mapFolder(registry.appFolder()));
    if (recovery.problems.isEmpty()) return;
    QStringList shown;  // folder names come from disk
    for (const QString& problem : recovery.problems) shown << printable(problem);
    registry.msgBox(QStringLiteral("A map update that was cut off could not be finished. Its files "
                                   "were set aside in the maps folder; the maps are as they were "
                                   "found.\r\n\r\n") +
                        shown.join(QStringLiteral("\r\n")),
                    MsgIcon::Critical);
}

void Program::start(const QString& typedAddress) {
    finishInterruptedUpdates(registry_);
    registry_.start<FrmSplash>();
    if (!typedAddress.isEmpty() && !registry_.ended())
        registry_.form<FrmSplash>().Text1->setText(typedAddress);
}

}  // namespace zandrel::windows
