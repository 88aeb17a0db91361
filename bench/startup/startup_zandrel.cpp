// Starts the program as main() does and exits the moment the start window is on screen.
#include "windows/program.h"

#include <QApplication>
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
    zandrel::Program::prepare();
    QApplication app(argc, argv);
    ExitWhenShown exitWhenShown;
    app.installEventFilter(&exitWhenShown);
    zandrel::Program program;
    program.registry().start(QStringLiteral("frmSplash"));
    return 1;  // the start window never came on screen
}
