// While held work keeps the windows painted, the player's input reaches only the windows the
// registry admits (a download window's Cancel); every other window's input is dropped, and
// painting and timers go on.
#include "frame/frame_fixture.h"
#include "frame/registry.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <gtest/gtest.h>

namespace zandrel::frame {
namespace {

// A top-level window with a text box and a button, counting clicks and close requests.
struct Window : QWidget {
    QLineEdit* text = new QLineEdit(this);
    QPushButton* button = new QPushButton(QStringLiteral("Cancel"), this);
    int clicks = 0;
    int closes = 0;
    Window() {
        auto* layout = new QVBoxLayout(this);
        layout->addWidget(text);
        layout->addWidget(button);
        connect(button, &QPushButton::clicked, this, [this] { ++clicks; });
        show();
    }
    void closeEvent(QCloseEvent* e) override {
        ++closes;
        e->ignore();
    }
};

void postKey(QWidget* to, Qt::Key key, const QString& text) {
    QCoreApplication::postEvent(to, new QKeyEvent(QEvent::KeyPress, key, Qt::NoModifier, text));
    QCoreApplication::postEvent(to, new QKeyEvent(QEvent::KeyRelease, key, Qt::NoModifier, text));
}

void postClick(QWidget* to) {
    const QPointF at(to->width() / 2.0, to->height() / 2.0);
    const QPointF global = to->mapToGlobal(at);
    for (const QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
        QCoreApplication::postEvent(
            to, new QMouseEvent(type, at, global, Qt::LeftButton,
                                type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton,
                                Qt::NoModifier));
    }
}

TEST(InputGate, WhileAHandlerHoldsTheThreadOnlyTheAdmittedWindowTakesInput) {
    test::FrameFixture fixture;
    Registry& reg = fixture.reg();
    Window admitted;
    Window other;
    reg.admitInputWhileBusy(admitted);

    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    reg.dispatch([&] {
        timer.start(0);
        for (Window* w : {&admitted, &other}) {
            postKey(w->text, Qt::Key_A, QStringLiteral("a"));
            postClick(w->button);
            QCoreApplication::postEvent(w, new QCloseEvent);
        }
        reg.keepPainted();
    });
    timer.stop();

    EXPECT_EQ(admitted.text->text(), QStringLiteral("a"));
    EXPECT_EQ(admitted.clicks, 1);
    EXPECT_EQ(admitted.closes, 1);
    EXPECT_EQ(other.text->text(), QString());
    EXPECT_EQ(other.clicks, 0);
    EXPECT_EQ(other.closes, 0);
    EXPECT_GE(ticks, 1);  // timers go on, as painting does

    // Refused again, the window takes no more input; the one admitted now does.
    reg.refuseInputWhileBusy(admitted);
    reg.admitInputWhileBusy(other);
    reg.dispatch([&] {
        postClick(admitted.button);
        postClick(other.button);
        reg.keepPainted();
    });
    EXPECT_EQ(admitted.clicks, 1);
    EXPECT_EQ(other.clicks, 1);

    // Outside held work input is delivered as ever.
    postClick(admitted.button);
    QCoreApplication::processEvents();
    EXPECT_EQ(admitted.clicks, 2);
}

// A window of ours activated while work holds (the window manager does so on a click there)
// gives the focus back to the admitted window, so that its keys still reach it; outside held
// work activation is left to the window manager.
TEST(InputGate, AWindowActivatedWhileWorkHoldsGivesTheFocusBackToTheAdmittedOne) {
    test::FrameFixture fixture;
    Registry& reg = fixture.reg();
    Window admitted;
    Window other;
    reg.admitInputWhileBusy(admitted);
    const auto settle = [&] {
        for (int i = 0; i < 20; ++i) reg.keepPainted();
    };
    reg.dispatch([&] {
        admitted.activateWindow();
        settle();
        other.activateWindow();
        settle();
    });
    EXPECT_EQ(QApplication::activeWindow(), &admitted);

    // An admitted window that is not on screen takes nothing back: the other keeps the focus.
    admitted.hide();
    reg.dispatch([&] {
        other.activateWindow();
        settle();
    });
    EXPECT_EQ(QApplication::activeWindow(), &other);
    admitted.show();

    other.activateWindow();
    for (int i = 0; i < 20; ++i) QCoreApplication::processEvents();
    EXPECT_EQ(QApplication::activeWindow(), &other);
}

}  // namespace
}  // namespace zandrel::frame
