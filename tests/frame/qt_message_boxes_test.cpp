#include "frame/qt_message_boxes.h"

#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include <gtest/gtest.h>

namespace zandrel::frame {
namespace {

// The real box, on screen: what a server sent reaches the player with nothing that could
// reorder or hide it, and the message keeps its own lines.
TEST(QtMessageBoxes, AServersHiddenCharactersAreShownEscapedInTheBox) {
    QtMessageBoxes boxes;
    QString shown;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        shown = box->text();
        boxes.closeAll();
    });
    boxes.show(
        QStringLiteral("Error 404\r\n\r\nhttp://example.org/evil \u202edesrever\u200b\x1b[2J.rar"),
        MsgIcon::Critical, QStringLiteral("Zandrel"));
    EXPECT_EQ(
        shown,
        QStringLiteral("Error 404\n\nhttp://example.org/evil \\u202edesrever\\u200b\\x1b[2J.rar"));
}

}  // namespace
}  // namespace zandrel::frame
