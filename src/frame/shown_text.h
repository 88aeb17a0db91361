#pragma once

#include <QAbstractButton>
#include <QString>
#include <QWidget>

// Text from outside (a server's settings, a file's name) as a window shows it, so that what a
// window shows is what the program then uses: every hidden character escaped as the message
// boxes show it (printable()), and nothing of it read as markup by the control.
namespace zandrel::frame {

// The text with its hidden characters (bidirectional controls, zero-width characters, control
// characters) escaped, on one line.
QString shownText(const QString& text);

// Titles the window with shownText(text). Qt takes "[*]" in a title for the place of its
// "modified" mark and drops it, so each one is written so that it shows as it stands.
void setShownTitle(QWidget& window, const QString& text);
// What the window's title shows.
QString shownTitle(const QWidget& window);

// Captions the button with shownText(text). Qt takes "&" in a caption for the mark of the
// shortcut letter and drops it, so each one is written so that it shows as it stands.
void setShownCaption(QAbstractButton& button, const QString& text);

}  // namespace zandrel::frame
