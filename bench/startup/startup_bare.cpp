// The yardstick: a bare Qt Widgets window of the start window's size, exiting the moment it is
// on screen. With --controls it also holds a text box, a button and a label, the kinds of
// control the start window has, so the cost of Qt's style and fonts is on both sides.
#include <QApplication>
#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QWidget>

#include <unistd.h>

namespace {
struct ExitWhenShown : QObject {
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Show) ::_exit(0);
        return false;
    }
};
}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QWidget window;
    window.resize(590, 155);
    if (app.arguments().contains(QStringLiteral("--controls"))) {
        (new QLineEdit(QStringLiteral("Type an address here"), &window))
            ->setGeometry(90, 108, 305, 29);
        (new QPushButton(QStringLiteral("Exit"), &window))->setGeometry(484, 2, 105, 21);
        (new QLabel(QStringLiteral("Connect"), &window))->setGeometry(421, 114, 148, 31);
    }
    ExitWhenShown exitWhenShown;
    window.installEventFilter(&exitWhenShown);
    window.show();
    return 1;
}
