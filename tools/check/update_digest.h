#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

// What a server administrator publishes about an update so that players' programs can check it:
// its SHA-256 and its size, computed from the file the check fetched.
namespace zandrel::check {

struct Digest {
    QByteArray sha256;  // 32 bytes
    std::int64_t size = 0;
};

// The file's digest, read once in pieces; nothing when it cannot be read.
std::optional<Digest> digestOfFile(const QString& path);

// "UpdateSHA256=<64 lower-case hex digits>" and "UpdateSize=<bytes>", ready to paste.
QStringList keyLines(const Digest& digest);

// The first hex digits of a digest, enough to tell two apart in a line of text.
QString shortHex(const QByteArray& sha256);

}  // namespace zandrel::check
