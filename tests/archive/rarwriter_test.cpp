// The stored-RAR writer, read back by bsdtar (libarchive's command-line tool).
#include "rar/rarwriter.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

using zandrel::rar::Entry;
using zandrel::rar::Format;

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

void writeFile(const QString& path, const std::string& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes.data(), qint64(bytes.size()));
}

// Runs bsdtar; returns its exit code and puts what it printed in `out`.
int bsdtar(const QStringList& args, QString* out = nullptr) {
    QProcess p;
    p.start(QStringLiteral("bsdtar"), args);
    p.waitForFinished(60000);
    if (out) *out = QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError());
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

std::string binary(std::size_t size) {
    std::string s(size, '\0');
    for (std::size_t i = 0; i < size; ++i) s[i] = char((i * 2654435761u) >> 13);
    return s;
}

TEST(RarWriter, Crc32MatchesTheStandardCheckValue) {
    EXPECT_EQ(zandrel::rar::crc32("123456789", 9), 0xCBF43926u);
    // Continuing a checksum over pieces gives the checksum of the whole.
    const std::string data = binary(1000);
    const std::uint32_t whole = zandrel::rar::crc32(data.data(), data.size());
    EXPECT_EQ(zandrel::rar::crc32(data.data() + 13, data.size() - 13,
                                  zandrel::rar::crc32(data.data(), 13)),
              whole);
}

TEST(RarWriter, BsdtarExtractsWhatWasWritten) {
    const std::vector<Entry> entries = {
        {"maps", "", Entry::Directory},
        {"maps/bloodgulch.map", binary(200000)},  // several of libarchive's read blocks
        {"empty.map", ""},
        {"d\xC3\xA9j\xC3\xA0.map", "utf-8 name"},
        {"plain.txt", "hello\n"},
    };
    for (Format format : {Format::Rar4, Format::Rar5}) {
        SCOPED_TRACE(format == Format::Rar4 ? "RAR 4" : "RAR 5");
        QTemporaryDir tmp;
        const QString archive = tmp.filePath(QStringLiteral("t.rar"));
        writeFile(archive, zandrel::rar::writeStored(format, entries));
        QDir(tmp.path()).mkdir(QStringLiteral("out"));
        QString output;
        EXPECT_EQ(bsdtar({"-xf", archive, "-C", tmp.filePath("out")}, &output), 0)
            << output.toStdString();
        for (const Entry& e : entries) {
            const QString path = tmp.filePath("out/" + QString::fromStdString(e.name));
            if (e.kind == Entry::Directory) {
                EXPECT_TRUE(QFileInfo(path).isDir()) << e.name;
            } else {
                EXPECT_EQ(readAll(path), QByteArray::fromStdString(e.data)) << e.name;
            }
        }
    }
}

TEST(RarWriter, LinksAreListedAsLinks) {
    for (Format format : {Format::Rar4, Format::Rar5}) {
        SCOPED_TRACE(format == Format::Rar4 ? "RAR 4" : "RAR 5");
        std::vector<Entry> entries = {{"link", "", Entry::Symlink, "target/file"}};
        if (format == Format::Rar5) entries.push_back({"hard", "", Entry::Hardlink, "link"});
        QTemporaryDir tmp;
        const QString archive = tmp.filePath(QStringLiteral("t.rar"));
        writeFile(archive, zandrel::rar::writeStored(format, entries));
        QString listing;
        EXPECT_EQ(bsdtar({"-tvf", archive}, &listing), 0) << listing.toStdString();
        EXPECT_TRUE(listing.contains(QStringLiteral("link -> target/file")))
            << listing.toStdString();
        if (format == Format::Rar5) {
            EXPECT_TRUE(listing.contains(QStringLiteral("hard link to link")))
                << listing.toStdString();
        }
    }
}

TEST(RarWriter, CommandLineToolStoresFilesUnderTheirBaseNames) {
    for (const char* option : {"--rar4", "--rar5"}) {
        SCOPED_TRACE(option);
        QTemporaryDir tmp;
        QDir(tmp.path()).mkpath(QStringLiteral("in/sub"));
        writeFile(tmp.filePath("in/a.map"), "first");
        writeFile(tmp.filePath("in/sub/b.map"), binary(3 << 20));
        QProcess tool;
        tool.start(QStringLiteral(RARWRITE_PATH),
                   {option, tmp.filePath("x.rar"), tmp.filePath("in/a.map"),
                    tmp.filePath("in/sub/b.map")});
        EXPECT_TRUE(tool.waitForFinished(60000));
        EXPECT_EQ(tool.exitCode(), 0) << tool.readAllStandardError().toStdString();
        QDir(tmp.path()).mkdir(QStringLiteral("out"));
        EXPECT_EQ(bsdtar({"-xf", tmp.filePath("x.rar"), "-C", tmp.filePath("out")}), 0);
        EXPECT_EQ(readAll(tmp.filePath("out/a.map")), QByteArray("first"));
        EXPECT_EQ(readAll(tmp.filePath("out/b.map")), readAll(tmp.filePath("in/sub/b.map")));
        EXPECT_EQ(
            QDir(tmp.filePath("out")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).size(), 2);
    }
}

TEST(RarWriter, CommandLineToolFailsWithoutLeavingAnArchive) {
    QTemporaryDir tmp;
    QProcess tool;
    tool.start(QStringLiteral(RARWRITE_PATH), {tmp.filePath("x.rar"), tmp.filePath("missing.map")});
    ASSERT_TRUE(tool.waitForFinished(60000));
    EXPECT_NE(tool.exitCode(), 0);
    EXPECT_TRUE(QDir(tmp.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).isEmpty());
}

}  // namespace
