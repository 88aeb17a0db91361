// Zandrel: takes no command-line arguments; shows the start window and runs until the program
// ends.
#include "windows/program.h"

#include <QApplication>

int main(int argc, char** argv) {
    zandrel::windows::Program::prepare();
    QApplication app(argc, argv);
    zandrel::windows::Program program;
    program.start();
    if (program.registry().ended()) return 0;
    return app.exec();
}
