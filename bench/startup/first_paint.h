#pragma once

// Ends the process once a top-level window has been painted and its picture handed to the
// window system, and reports when. Every report is one line on stdout, "<phase> <monotonic
// clock in ns>"; the last is "painted". bench_startup subtracts the moment it started the
// process.
#include <QEvent>
#include <QGuiApplication>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <time.h>
#include <unistd.h>

#include <cstdio>

namespace zandrel::bench {

inline void mark(const char* phase) {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    std::printf("%s %lld\n", phase,
                static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec);
}

class FirstPaintProbe : public QObject {
public:
    // windowName: the objectName of the window to wait for; empty: the first top-level window.
    explicit FirstPaintProbe(QString windowName) : windowName_(std::move(windowName)) {}

    bool eventFilter(QObject* o, QEvent* e) override {
        if (e->type() != QEvent::Paint || seen_) return false;
        const auto* w = qobject_cast<QWidget*>(o);
        if (!w || !w->isWindow()) return false;
        if (!windowName_.isEmpty() && w->objectName() != windowName_) return false;
        // The window's own paint event comes first, its controls' after it, then the flush:
        // the report waits for the event loop, that is until all of that is done.
        seen_ = true;
        QTimer::singleShot(0, this, &FirstPaintProbe::report);
        return false;
    }

private:
    static void report() {
        QGuiApplication::sync();  // a round trip: the window system has the picture
        mark("painted");
        std::fflush(stdout);
        ::_exit(0);
    }

    QString windowName_;
    bool seen_ = false;
};

}  // namespace zandrel::bench
