// Fuzzes the install journal: the reader with arbitrary text, then recovery following it in a
// scratch map folder. Checks, besides what ASan and UBSan see:
// - an accepted journal holds only paths below the map folder (no absolute path, no "." or
//   ".." or empty element, no control character, none of our own folders) and plain-number
//   staged names, and what it says is written back the same way;
// - recovery changes nothing outside the map folder, and the map folder's own files are only
//   ever a map's old bytes or a staged file's bytes, never lost: every byte string that was
//   there before is there after (in place, in the staging folder or set aside).
// "@" in the input stands for the inode number of the staged file "0", so that the fuzzer can
// name a real staged file.

#include "archive/install_journal.h"

#include <QByteArray>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

namespace {

using zandrel::archive::formatJournal;
using zandrel::archive::parseJournal;

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "journal: %s\n", what);
    std::abort();
}

void checkEntries(std::string_view text) {
    const auto entries = parseJournal(text);
    if (!entries) return;
    for (const auto& e : *entries) {
        const std::string& p = e.path;
        if (p.empty() || p.front() == '/' || p.back() == '/') fail("a path not below the folder");
        if (p.find("//") != std::string::npos) fail("an empty element");
        for (const std::string_view bad : {"./", "../"})
            if (p.starts_with(bad) || p.find("/" + std::string(bad)) != std::string::npos)
                fail("a . or .. element");
        if (p == "." || p == ".." || p.ends_with("/.") || p.ends_with("/.."))
            fail("a . or .. element");
        if (p.starts_with(".zandrel-") || p.find("/.zandrel-") != std::string::npos)
            fail("a folder of ours");
        for (unsigned char c : p)
            if (c < 0x20 || c == 0x7f) fail("a control character");
        if (!e.folder &&
            (e.staged.empty() || e.staged.find_first_not_of("0123456789") != std::string::npos))
            fail("a staged name that is not a number");
    }
    const auto again = parseJournal(formatJournal(*entries));
    if (!again || again->size() != entries->size()) fail("not written back");
}

void put(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly)) fail("cannot prepare the scratch folder");
    f.write(bytes);
}

// Every file below root with its bytes, and every folder.
std::multimap<QString, QByteArray> contents(const QString& root, bool byBytes) {
    std::multimap<QString, QByteArray> out;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString p = it.next();
        const QFileInfo info(p);
        if (info.isDir() && !info.isSymLink()) continue;
        QFile f(p);
        const QByteArray bytes = info.isSymLink()              ? QByteArray("link")
                                 : f.open(QIODevice::ReadOnly) ? f.readAll()
                                                               : QByteArray("?");
        if (byBytes)
            out.emplace(QString::fromLatin1(bytes.toHex()), QByteArray());
        else
            out.emplace(QDir(root).relativeFilePath(p), bytes);
    }
    return out;
}

void checkRecovery(std::string text) {
    QTemporaryDir tmp;
    if (!tmp.isValid()) fail("no scratch folder");
    const QString maps = tmp.filePath(QStringLiteral("maps"));
    const QString outside = tmp.filePath(QStringLiteral("outside"));
    const QString staging = maps + QStringLiteral("/.zandrel-stage-f");
    QDir().mkpath(staging);
    QDir().mkpath(outside);
    QDir().mkpath(maps + QStringLiteral("/sub"));
    put(outside + QStringLiteral("/victim.map"), "outside");
    put(maps + QStringLiteral("/a.map"), "old a");
    put(maps + QStringLiteral("/sub/b.map"), "old b");
    put(staging + QStringLiteral("/0"), "new 0");
    put(staging + QStringLiteral("/1"), "new 1");
    QFile::link(outside, maps + QStringLiteral("/link"));
    struct stat st {};
    if (::stat(QFile::encodeName(staging + QStringLiteral("/0")).constData(), &st) != 0)
        fail("cannot stat the staged file");
    for (std::size_t at; (at = text.find('@')) != std::string::npos;)
        text.replace(at, 1, std::to_string(st.st_ino));
    put(staging + QStringLiteral("/journal"), QByteArray::fromStdString(text));

    const auto outsideBefore = contents(outside, false);
    auto bytesBefore = contents(maps, true);
    bytesBefore.erase(QString::fromLatin1(QByteArray::fromStdString(text).toHex()));
    zandrel::archive::recoverInstalls(maps);
    if (contents(outside, false) != outsideBefore) fail("a change outside the map folder");
    if (QDir(tmp.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot) !=
        QStringList({QStringLiteral("maps"), QStringLiteral("outside")}))
        fail("something made beside the map folder");
    const auto bytesAfter = contents(maps, true);
    // A finished commit frees the replaced files and its journal; else nothing is lost.
    const bool finished = !QFile::exists(staging) &&
                          QDir(maps)
                              .entryList(QDir::Hidden | QDir::AllEntries | QDir::NoDotAndDotDot)
                              .filter(QStringLiteral(".zandrel-recover-"))
                              .isEmpty();
    if (!finished) {
        for (const auto& [hex, unused] : bytesBefore)
            if (bytesAfter.find(hex) == bytesAfter.end())
                fail("bytes lost without a finished commit");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 4096) return 0;
    const std::string text(reinterpret_cast<const char*>(data), size);
    checkEntries(text);
    checkRecovery(text);
    return 0;
}
