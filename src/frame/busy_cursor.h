#pragma once

#include "base/messages.h"

#include <QGuiApplication>

namespace zandrel::frame {

// The wait cursor while a routine holds the GUI thread (a file fetch); restored however the
// routine ends, or earlier by release().
class BusyCursor {
public:
    BusyCursor() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
    ~BusyCursor() { release(); }
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;

    void release() {
        if (on_) QGuiApplication::restoreOverrideCursor();
        on_ = false;
    }

private:
    bool on_ = true;
};

// Boxes shown during a busy routine: the wait cursor goes before the first box, so that a
// failure report is read and closed with the ordinary cursor.
class BusyCursorBoxes : public MessageBoxes {
public:
    BusyCursorBoxes(MessageBoxes& boxes, BusyCursor& busy) : boxes_(boxes), busy_(busy) {}
    void show(const QString& prompt, MsgIcon icon, const QString& title) override {
        busy_.release();
        boxes_.show(prompt, icon, title);
    }

private:
    MessageBoxes& boxes_;
    BusyCursor& busy_;
};

}  // namespace zandrel::frame
