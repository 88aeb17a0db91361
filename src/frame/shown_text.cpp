#include "frame/shown_text.h"

#include "base/printable.h"

namespace zandrel::frame {

namespace {

const QString kModifiedMark = QStringLiteral("[*]");

}  // namespace

QString shownText(const QString& text) {
    return printable(text, LineBreaks::Escape);
}

void setShownTitle(QWidget& window, const QString& text) {
    // Qt shows a pair of marks as one mark.
    window.setWindowTitle(shownText(text).replace(kModifiedMark, kModifiedMark + kModifiedMark));
}

QString shownTitle(const QWidget& window) {
    return window.windowTitle().replace(kModifiedMark + kModifiedMark, kModifiedMark);
}

void setShownCaption(QAbstractButton& button, const QString& text) {
    button.setText(shownText(text).replace(QLatin1Char('&'), QStringLiteral("&&")));
}

}  // namespace zandrel::frame
