#pragma once
// A game folder for unpacking tests: app/ with maps/ and the archive, and a sibling outside/
// that no extraction may touch.
#include "archive/unrar.h"

#include "base/error.h"
#include "rar/rarwriter.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace zandrel::testing {

using zandrel::Error;
using zandrel::archive::ArchiveFailure;
using zandrel::archive::UnRar;
using zandrel::rar::Entry;
using zandrel::rar::Format;

inline const char* formatName(Format f) {
    return f == Format::Rar4 ? "RAR 4" : "RAR 5";
}

inline std::string pattern(std::size_t size, unsigned seed) {
    std::string s(size, '\0');
    std::uint32_t x = seed * 2654435761u + 1;
    for (char& c : s) {
        x = x * 1664525u + 1013904223u;
        c = char(x >> 24);
    }
    return s;
}

class UnRarTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(tmp_.isValid());
        QDir root(tmp_.path());
        ASSERT_TRUE(root.mkpath(QStringLiteral("app/maps")));
        ASSERT_TRUE(root.mkpath(QStringLiteral("outside")));
        put("app/maps/bloodgulch.map", "old bloodgulch");
        put("app/maps/keep.map", "keep me");
        put("outside/victim", "victim");
    }

    QString path(const QString& relative) const { return tmp_.filePath(relative); }
    QString maps() const { return path(QStringLiteral("app/maps/")); }
    QString archive() const { return path(QStringLiteral("app/zandrel.rar")); }
    std::string outside() const { return path(QStringLiteral("outside")).toStdString(); }

    void put(const QString& relative, const std::string& bytes) {
        QFile f(path(relative));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes.data(), qint64(bytes.size()));
    }
    QByteArray read(const QString& relative) const {
        QFile f(path(relative));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }
    void putArchive(const std::string& bytes) { put(QStringLiteral("app/zandrel.rar"), bytes); }

    // Every name under the temporary root with what it is: contents, link target or folder.
    std::map<QString, QByteArray> snapshot() const {
        std::map<QString, QByteArray> names;
        QDirIterator it(tmp_.path(),
                        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString p = it.next();
            const QFileInfo info(p);
            const QString name = QDir(tmp_.path()).relativeFilePath(p);
            if (info.isSymLink())
                names[name] = "link:" + info.symLinkTarget().toUtf8();
            else if (info.isDir())
                names[name] = "folder";
            else if (!info.isFile())
                names[name] = "special";  // a FIFO is not opened: that would wait for a writer
            else
                names[name] = read(name);
        }
        return names;
    }

    // Runs the extraction, recording the progress events.
    std::optional<Error> extract(UnRar& unrar, std::vector<int>* events = nullptr) {
        unrar.ExtractProgress = [events](std::int16_t percent) {
            if (events) events->push_back(percent);
        };
        try {
            unrar.ExtractArchive(archive(), maps());
        } catch (const Error& e) {
            return e;
        }
        unrar.WaitForCleanup();  // the replaced files are freed
        return std::nullopt;
    }

    QTemporaryDir tmp_;
};

}  // namespace zandrel::testing
