// Renders one of the program's windows offscreen into a PNG (a widget grab).
//
//   zandrel-shot <application folder> <window kind> <out.png> [options]
//     --text OBJECT=VALUE  set a text box of the start window first (e.g. Text1=127.0.0.1:8801)
//     --click OBJECT       click a control of the window after it is shown
//     --wait MS            let pages load for MS milliseconds before the grab (default 0)
//
// Time stands still in the shot: no timer of the program ticks, so a window is grabbed as it
// is right after it came on screen. Message boxes are printed to standard error.
#include "frame/clock.h"
#include "frame/form.h"
#include "frame/registry.h"
#include "resources/resources.h"
#include "windows/window_set.h"

#include <QApplication>
#include <QEventLoop>
#include <QLineEdit>
#include <QTest>
#include <QTimer>

#include <unistd.h>
#include <cstdio>

namespace {

class PrintedBoxes : public zandrel::MessageBoxes {
public:
    void show(const QString& prompt, zandrel::MsgIcon, const QString& title) override {
        std::fprintf(stderr, "[box %s] %s\n", qPrintable(title), qPrintable(prompt));
    }
};

class PrintedMail : public zandrel::platform::MailClient {
public:
    void compose(const QUrl& mailto) override {
        std::fprintf(stderr, "[mail] %s\n", qPrintable(mailto.toString()));
    }
};

void wait(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

}  // namespace

// Time stands still for a picture: no timer of the window shown ever ticks.
class StillClock : public zandrel::frame::Clock {
    struct Still : Timer {
        void start(int) override {}
        void stop() override {}
    };

public:
    std::unique_ptr<Timer> makeTimer(std::function<void()>) override {
        return std::make_unique<Still>();
    }
};

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    if (::geteuid() == 0) qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 4) {
        std::fprintf(stderr,
                     "usage: zandrel-shot <application folder> <window kind> <out.png> "
                     "[--text OBJECT=VALUE] [--click OBJECT] [--wait MS]\n");
        return 2;
    }
    zandrel::initResources();
    PrintedBoxes boxes;
    PrintedMail mail;
    StillClock clock;
    zandrel::frame::Registry registry({&boxes, &mail, &clock, args[1]});
    zandrel::windows::registerWindows(registry);
    const QString kind = args[2];

    QStringList clicks;
    int waitMs = 0;
    for (int i = 4; i + 1 < args.size(); i += 2) {
        if (args[i] == QLatin1String("--text")) {
            const QString name = args[i + 1].section(QLatin1Char('='), 0, 0);
            const QString value = args[i + 1].section(QLatin1Char('='), 1);
            registry.dispatch([&] {
                if (auto* box =
                        registry.form<zandrel::windows::FrmSplash>().findChild<QLineEdit*>(name)) {
                    box->setText(value);
                }
            });
        } else if (args[i] == QLatin1String("--click")) {
            clicks << args[i + 1];
        } else if (args[i] == QLatin1String("--wait")) {
            waitMs = args[i + 1].toInt();
        }
    }

    // The window the kind names: shown, then taken from its slot if it stayed loaded.
    zandrel::frame::Form* form = nullptr;
    bool known = false;
    zandrel::windows::forEachWindowKind([&]<class F>() {
        if (kind != QLatin1String(F::kKind)) return;
        known = true;
        registry.dispatch([&] { registry.show<F>(); });
        if (registry.isLoaded<F>()) form = &registry.form<F>();
    });
    if (!known) {
        std::fprintf(stderr, "the program has no window %s\n", qPrintable(kind));
        return 2;
    }
    if (!form) {
        std::fprintf(stderr, "the window %s did not stay loaded\n", qPrintable(kind));
        return 1;
    }
    for (const QString& name : clicks) {
        if (auto* control = form->findChild<QWidget*>(name))
            QTest::mouseClick(control, Qt::LeftButton);
    }
    if (waitMs > 0) wait(waitMs);
    if (!form->grab().save(args[3])) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(args[3]));
        return 1;
    }
    return 0;
}
