// The yardstick: a bare Qt Widgets window, exiting the moment it is on screen.
#include <QApplication>
#include <QEvent>
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
    ExitWhenShown exitWhenShown;
    window.installEventFilter(&exitWhenShown);
    window.show();
    return 1;
}
