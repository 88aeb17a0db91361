// Starts the program as main() does and exits the moment the start window is on screen.
#include "app/clock.h"
#include "app/platform.h"
#include "app/qt_message_boxes.h"
#include "app/registry.h"
#include "resources/resources.h"
#include "windows/windows.h"

#include <QApplication>
#include <QIcon>
#include <QEvent>

#include <unistd.h>

namespace {
struct ExitWhenShown : QObject {
    bool eventFilter(QObject* o, QEvent* e) override {
        if (e->type() == QEvent::Show && o->objectName() == QLatin1String("frmSplash")) ::_exit(0);
        return false;
    }
};
}  // namespace

int main(int argc, char** argv) {
    if (::geteuid() == 0) qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    ExitWhenShown exitWhenShown;
    app.installEventFilter(&exitWhenShown);
    zandrel::initResources();
    app.setWindowIcon(QIcon(QStringLiteral(":/icon.png")));
    zandrel::QtMessageBoxes boxes;
    zandrel::platform::DesktopMailClient mail;
    zandrel::RealClock clock;
    zandrel::Registry registry({&boxes, &mail, &clock, zandrel::platform::applicationFolder()});
    zandrel::registerWindows(registry);
    registry.start(QStringLiteral("frmSplash"));
    return 1;  // the start window never came on screen
}
