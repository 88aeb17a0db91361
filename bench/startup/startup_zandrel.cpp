// Starts the program as main() does and ends it once the start window has been painted.
#include "first_paint.h"
#include "windows/program.h"

#include <QApplication>

int main(int argc, char** argv) {
    zandrel::bench::mark("main");
    zandrel::windows::Program::prepare();
    QApplication app(argc, argv);
    zandrel::bench::mark("application");
    zandrel::bench::FirstPaintProbe probe(QStringLiteral("frmSplash"));
    app.installEventFilter(&probe);
    zandrel::windows::Program program;
    zandrel::bench::mark("program");
    program.start();
    zandrel::bench::mark("shown");
    if (program.registry().ended()) return 1;
    app.exec();
    return 1;  // the start window was never painted
}
