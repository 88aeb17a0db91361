// The yardstick: a bare Qt Widgets window of the start window's size, ended once it has been
// painted. With --controls it also holds a text box, a button and a label, the kinds of control
// the start window has, so that the cost of Qt's style and fonts is on both sides.
#include "first_paint.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QWidget>

int main(int argc, char** argv) {
    zandrel::bench::mark("main");
    QApplication app(argc, argv);
    zandrel::bench::mark("application");
    zandrel::bench::FirstPaintProbe probe{QString()};
    app.installEventFilter(&probe);
    QWidget window;
    window.resize(590, 155);
    if (app.arguments().contains(QStringLiteral("--controls"))) {
        (new QLineEdit(QStringLiteral("Type an address here"), &window))
            ->setGeometry(90, 108, 305, 29);
        (new QPushButton(QStringLiteral("Exit"), &window))->setGeometry(484, 2, 105, 21);
        (new QLabel(QStringLiteral("Connect"), &window))->setGeometry(421, 114, 148, 31);
    }
    window.show();
    zandrel::bench::mark("shown");
    app.exec();
    return 1;  // the window was never painted
}
