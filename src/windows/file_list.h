#pragma once

#include <QListWidget>
#include <QString>
#include <QStringList>

namespace zandrel::windows {

// A list of the file names in one folder that match a wildcard pattern, as the backup window
// shows them: the names maps::listFiles gives (plain files only, each one a regular file directly
// in the folder that the window can act on), without the folder, sorted without regard to case.
//
// Selecting an entry with the mouse or the keyboard raises clicked(); fileName() is the
// selected entry's name.
class FileList : public QListWidget {
    Q_OBJECT
public:
    explicit FileList(QWidget* parent);

    // Points the list at a folder and reads it. A folder that cannot be read raises
    // zandrel::Error (maps::listFiles), and the list keeps its previous folder and entries.
    void setPath(const QString& folder);
    QString path() const { return path_; }

    // Wildcards "*" and "?", matched without regard to letter case; several patterns may be
    // given separated by ";". Re-reads the folder.
    void setPattern(const QString& pattern);
    QString pattern() const { return pattern_; }

    // Reads the folder again. The selected name stays selected if it is still listed.
    void refresh();

    // The selected entry's file name, or an empty string when nothing is selected.
    QString fileName() const;

    // Every listed name, in list order.
    QStringList names() const;

signals:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;

private:
    void fill(const QStringList& names);

    QString path_;
    QString pattern_ = QStringLiteral("*.*");
};

}  // namespace zandrel::windows
