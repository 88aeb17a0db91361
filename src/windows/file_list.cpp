#include "file_list.h"

#include "base/error.h"
#include "base/files.h"
#include "frame/controls.h"

#include <QFile>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QSignalBlocker>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

namespace zandrel::windows {

using namespace frame;

namespace {

// "*" any run of characters, "?" any one character; letter case does not count.
bool wildcardMatch(QStringView pattern, QStringView name) {
    qsizetype p = 0, n = 0, star = -1, resume = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == QLatin1Char('*')) {
            star = p++;
            resume = n;
        } else if (p < pattern.size() && (pattern[p] == QLatin1Char('?') ||
                                          pattern[p].toCaseFolded() == name[n].toCaseFolded())) {
            ++p;
            ++n;
        } else if (star >= 0) {
            p = star + 1;
            n = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == QLatin1Char('*')) ++p;
    return p == pattern.size();
}

bool matchesAny(const QStringList& patterns, const QString& name) {
    for (const QString& p : patterns) {
        // "*.*" is "every file" to a Windows user, also for names without a dot.
        if (p == QLatin1String("*.*") || wildcardMatch(p, name)) return true;
    }
    return false;
}

Error folderError(int err, const QString& folder) {
    return Error(err, QString::fromLocal8Bit(std::strerror(err)) + QStringLiteral(": ") + folder,
                 QStringLiteral("FileList"));
}

}  // namespace

FileList::FileList(QWidget* parent) : QListWidget(parent) {
    setSelectionMode(QAbstractItemView::SingleSelection);
    setFont(designFont());
    setFocusPolicy(Qt::StrongFocus);
}

QStringList FileList::read(const QString& folder, const QString& pattern) {
    QStringList patterns;
    for (const QString& p : pattern.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        patterns << p.trimmed();
    }

    const QByteArray dirPath = QFile::encodeName(folder);
    DIR* dir = opendir(dirPath.constData());
    if (!dir) throw folderError(errno, folder);
    struct Closer {
        DIR* d;
        ~Closer() { closedir(d); }
    } closer{dir};

    QStringList names;
    errno = 0;
    while (const dirent* entry = readdir(dir)) {
        const char* raw = entry->d_name;
        // Hidden, the "." and ".." entries, and our own temporary files and staging folders.
        if (raw[0] == '.' || files::isOurs(raw)) continue;
        struct stat st;
        // lstat: a link is never listed, whatever it points to.
        if (fstatat(dirfd(dir), raw, &st, AT_SYMLINK_NOFOLLOW) != 0) {
            errno = 0;  // gone since readdir saw it
            continue;
        }
        if (!S_ISREG(st.st_mode)) continue;
        const QString name = QFile::decodeName(raw);
        // A name that does not survive the trip to text and back could not be opened again.
        if (QFile::encodeName(name) != QByteArray(raw)) continue;
        if (!canActOn(name)) continue;
        if (matchesAny(patterns, name)) names << name;
        errno = 0;
    }
    if (errno != 0) throw folderError(errno, folder);

    std::sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
        const int c = a.compare(b, Qt::CaseInsensitive);
        return c != 0 ? c < 0 : a < b;
    });
    return names;
}

bool FileList::canActOn(const QString& name) {
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..") &&
           !name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\')) &&
           !name.contains(QChar(0));
}

void FileList::setPath(const QString& folder) {
    const QStringList names = read(folder, pattern_);
    path_ = folder;
    fill(names);
}

void FileList::setPattern(const QString& pattern) {
    pattern_ = pattern;
    if (!path_.isEmpty()) refresh();
}

void FileList::refresh() {
    fill(read(path_, pattern_));
}

void FileList::fill(const QStringList& names) {
    const QString keep = fileName();
    const QSignalBlocker block(this);
    clear();
    addItems(names);
    if (!keep.isEmpty()) {
        const auto found = findItems(keep, Qt::MatchExactly | Qt::MatchCaseSensitive);
        if (!found.isEmpty()) setCurrentItem(found.first());
    }
}

QString FileList::fileName() const {
    const auto selected = selectedItems();
    return selected.isEmpty() ? QString() : selected.first()->text();
}

QStringList FileList::names() const {
    QStringList out;
    for (int i = 0; i < count(); ++i) out << item(i)->text();
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
