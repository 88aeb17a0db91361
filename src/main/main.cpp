// Zandrel: takes no command-line arguments; shows the start window and runs until the program
// ends.
#include "app/clock.h"
#include "app/platform.h"
#include "app/qt_message_boxes.h"
#include "app/registry.h"
#include "resources/resources.h"
#include "windows/windows.h"

#include <QApplication>
#include <QIcon>

#include <unistd.h>

int main(int argc, char** argv) {
    // Chromium (the web view) refuses to run as root with its sandbox on.
    if (::geteuid() == 0 && qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX")) {
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    }
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);  // the registry decides when the program ends
    zandrel::initResources();
    app.setWindowIcon(QIcon(QStringLiteral(":/icon.png")));

    zandrel::QtMessageBoxes boxes;
    zandrel::platform::DesktopMailClient mail;
    zandrel::RealClock clock;
    zandrel::Registry registry({&boxes, &mail, &clock, zandrel::platform::applicationFolder()});
    zandrel::registerWindows(registry);
    QObject::connect(&registry, &zandrel::Registry::programEnded, [&boxes] {
        boxes.closeAll();
        QCoreApplication::exit(0);
    });

    registry.start(QStringLiteral("frmSplash"));
    if (registry.ended()) return 0;
    return app.exec();
}
