#pragma once

#include "base/messages.h"

#include <QObject>
#include <QPointer>

class QMessageBox;

namespace zandrel::frame {

// The program's message boxes: QMessageBox, modal to the whole program. closeAll() ends a box
// that is open when the program ends.
class QtMessageBoxes : public QObject, public MessageBoxes {
    Q_OBJECT
public:
    void show(const QString& prompt, MsgIcon icon, const QString& title) override;
    void closeAll();

private:
    QPointer<QMessageBox> open_;
};

}  // namespace zandrel::frame
