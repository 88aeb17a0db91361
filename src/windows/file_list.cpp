#include "file_list.h"

#include "frame/controls.h"
#include "frame/shown_text.h"
#include "maps/map_folder.h"

#include <QFile>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QSignalBlocker>

namespace zandrel::windows {

using namespace frame;

namespace {

constexpr int kNameRole = Qt::UserRole;

}  // namespace

FileList::FileList(QWidget* parent) : QListWidget(parent) {
    setSelectionMode(QAbstractItemView::SingleSelection);
    setFont(designFont());
    setFocusPolicy(Qt::StrongFocus);
}

void FileList::setPath(const QString& folder) {
    const QStringList names = maps::listFiles(folder, pattern_);
    path_ = folder;
    fill(names);
}

void FileList::setPattern(const QString& pattern) {
    pattern_ = pattern;
    if (!path_.isEmpty()) refresh();
}

void FileList::refresh() {
    fill(maps::listFiles(path_, pattern_));
}

void FileList::fill(const QStringList& names) {
    const QString keep = fileName();
    const QSignalBlocker block(this);
    clear();
    // A name from a server's archive shows escaped; the entry keeps the name itself.
    for (const QString& name : names) {
        auto* entry = new QListWidgetItem(shownText(name), this);
        entry->setData(kNameRole, name);
        if (name == keep && !keep.isEmpty()) setCurrentItem(entry);
    }
}

QString FileList::fileName() const {
    const auto selected = selectedItems();
    return selected.isEmpty() ? QString() : selected.first()->data(kNameRole).toString();
}

QStringList FileList::names() const {
    QStringList out;
    for (int i = 0; i < count(); ++i) out << item(i)->data(kNameRole).toString();
    return out;
}

void FileList::mousePressEvent(QMouseEvent* e) {
    QListWidgetItem* target = itemAt(e->position().toPoint());
    QListWidget::mousePressEvent(e);
    // A click on an entry raises click also when that entry was selected already, so a name
    // can be taken into the selection label again.
    if (e->button() == Qt::LeftButton && target && target == currentItem() &&
        target->isSelected()) {
        emit clicked();
    }
}

void FileList::keyPressEvent(QKeyEvent* e) {
    const bool hadSelection = !selectedItems().isEmpty();
    const int before = currentRow();
    if (!hadSelection && count() > 0 && (e->key() == Qt::Key_Down || e->key() == Qt::Key_Up)) {
        // Nothing selected yet: the first arrow press selects the entry under the cursor
        // rather than skipping past it.
        setCurrentRow(before >= 0 ? before : 0);
        emit clicked();
        return;
    }
    QListWidget::keyPressEvent(e);
    const bool selected = !selectedItems().isEmpty();
    if (selected && (currentRow() != before || !hadSelection)) emit clicked();
}

}  // namespace zandrel::windows
