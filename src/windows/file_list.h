#pragma once

#include <QListWidget>
#include <QString>
#include <QStringList>

namespace zandrel::windows {

// A list of the file names in one folder that match a wildcard pattern, as the backup window
// shows them. Only plain files are listed: no folders, no hidden (dot) files, no symbolic links
// and no special files (fifos, sockets, devices), so every entry names a regular file that sits
// directly in the folder. Only names the window can act on are listed (see canActOn); our own
// temporary files never are. Names are shown without the folder, sorted without regard to case.
//
// Selecting an entry with the mouse or the keyboard raises clicked(); fileName() is the
// selected entry's name.
class FileList : public QListWidget {
    Q_OBJECT
public:
    explicit FileList(QWidget* parent);

    // Points the list at a folder and reads it. A folder that cannot be read (missing, not a
    // folder, no permission) raises zandrel::Error with the operating system's number and text,
    // and the list keeps its previous folder and entries.
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

    // The folder's listable names (see the class comment) that match the pattern; raises
    // zandrel::Error when the folder cannot be read.
    static QStringList read(const QString& folder, const QString& pattern);

    // Whether a bare name can be copied and deleted by the window: not empty, not "." or "..",
    // no "/", no "\" (a separator to the game under Wine, and to the paths the window builds)
    // and no NUL.
    static bool canActOn(const QString& name);

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
