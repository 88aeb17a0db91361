#include "map_bytes.h"

#include <QHash>

namespace zandrel::test {

QByteArray mapBytes(const char* name, int version, int size) {
    QByteArray bytes(size, '\0');
    quint32 x = qHash(QByteArray(name)) | 1u;
    for (auto& b : bytes) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = char(x & 0xff);
    }
    const QByteArray header = "MAP " + QByteArray(name) + " v" + QByteArray::number(version) + "\n";
    bytes.replace(0, header.size(), header);
    return bytes;
}

QByteArray editedMap(QByteArray bytes) {
    bytes.replace(0, 12, "MAP edited!\n");
    bytes.replace(5000, 16, "new spawn points");
    bytes.replace(30000, 7, "weapons");
    bytes.append('\x7f');
    return bytes;
}

}  // namespace zandrel::test
