#pragma once

// Shared by the update windows' tests: a stand-in for the server information window, and a
// journal of the windows that come on screen.
#include "windows/frm_svr_info.h"

#include <QApplication>
#include <QEvent>
#include <QStringList>

#include <functional>
#include <utility>

namespace zandrel::test {

// The server information window without its load: the test sets the game server address
// (its title) and the target map (txtMap) that the later windows read back.
class SvrInfoStandIn : public windows::FrmSvrInfo {
public:
    explicit SvrInfoStandIn(frame::Registry& r) : windows::FrmSvrInfo(r) {}
    void load() override {}
};

// Records the windows that come on screen, in order.
struct ShowJournal : QObject {
    QStringList shown;
    ShowJournal() { qApp->installEventFilter(this); }
    ~ShowJournal() override { qApp->removeEventFilter(this); }
    bool eventFilter(QObject* o, QEvent* e) override {
        if (e->type() == QEvent::Show && o->isWidgetType() &&
            static_cast<QWidget*>(o)->isWindow()) {
            shown << o->objectName();
        }
        return false;
    }
};

// Runs a probe at the moment a window comes on screen (e.g. to see what the server has been
// asked for by then).
struct OnShow : QObject {
    QString kind;
    std::function<void()> probe;
    OnShow(QString k, std::function<void()> p) : kind(std::move(k)), probe(std::move(p)) {
        qApp->installEventFilter(this);
    }
    ~OnShow() override { qApp->removeEventFilter(this); }
    bool eventFilter(QObject* o, QEvent* e) override {
        if (e->type() == QEvent::Show && o->isWidgetType() &&
            static_cast<QWidget*>(o)->isWindow() && o->objectName() == kind && probe) {
            probe();
        }
        return false;
    }
};

}  // namespace zandrel::test
