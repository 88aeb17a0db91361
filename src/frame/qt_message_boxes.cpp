#include "qt_message_boxes.h"

#include <QMessageBox>

namespace zandrel::frame {

void QtMessageBoxes::show(const QString& prompt, MsgIcon icon, const QString& title) {
    QMessageBox box;
    box.setWindowTitle(title.isEmpty() ? kAppTitle : title);
    QString text = prompt;
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
