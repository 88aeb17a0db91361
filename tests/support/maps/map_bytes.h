#pragma once

#include <QByteArray>

namespace zandrel::test {

// A map file's bytes: a header naming the map and its version, then filler that differs per map.
QByteArray mapBytes(const char* name, int version, int size = 64 * 1024);
// Version 2 of a map as an edit leaves it: a few stretches changed, one byte appended.
QByteArray editedMap(QByteArray bytes);

}  // namespace zandrel::test
