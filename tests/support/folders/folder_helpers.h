#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <sys/resource.h>

namespace zandrel::test {

void writeFile(const QString& path, const QByteArray& bytes);
QByteArray readFile(const QString& path);
// Every entry of the folder, hidden ones included, sorted by name.
QStringList folderEntries(const QString& folder);
// Bytes that no text compression or accident would reproduce.
QByteArray randomBytes(qsizetype size);

// Makes a folder refuse new files for as long as it lives. Root ignores permission bits, so
// the folder is then made immutable as well; ok() is false when neither takes effect.
class ReadOnlyFolder {
public:
    explicit ReadOnlyFolder(const QString& folder);
    ~ReadOnlyFolder();
    bool ok() const { return ok_; }

private:
    bool acceptsNewFiles() const;
    bool setImmutable(bool on) const;

    QString folder_;
    bool immutable_ = false;
    bool ok_ = false;
};

// Caps the size of files this process writes (as a full disk would) for as long as it lives.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes);
    ~FileSizeLimit();

private:
    rlimit saved_{};
};

}  // namespace zandrel::test
