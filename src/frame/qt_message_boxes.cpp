#include "qt_message_boxes.h"

#include "base/printable.h"

#include <QMessageBox>

namespace zandrel::frame {

void QtMessageBoxes::show(const QString& prompt, MsgIcon icon, const QString& title) {
    QMessageBox box;
    box.setWindowTitle(title.isEmpty() ? kAppTitle : title);
    // Boxes carry what servers and tools said: nothing in it may hide or reorder the text.
    QString text = printable(prompt, LineBreaks::Keep);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    box.setText(text);
    box.setTextFormat(Qt::PlainText);
    box.setIcon(icon == MsgIcon::Information ? QMessageBox::Information
                : icon == MsgIcon::Critical  ? QMessageBox::Critical
                                             : QMessageBox::NoIcon);
    box.setStandardButtons(QMessageBox::Ok);
    box.setEscapeButton(QMessageBox::Ok);
    box.setWindowModality(Qt::ApplicationModal);
    open_ = &box;
    box.exec();
    open_.clear();
}

void QtMessageBoxes::closeAll() {
    if (open_) open_->done(QMessageBox::Ok);
}

}  // namespace zandrel::frame
