#include "resources.h"

#include <QResource>

#include <cstdint>
#include <cstring>

// Q_INIT_RESOURCE declares a function of the global namespace, so it must be used outside ours.
static void initZandrelResources() {
    Q_INIT_RESOURCE(zandrel);
    Q_INIT_RESOURCE(zandrel_pixels);
}

namespace zandrel {

void initResources() {
    initZandrelResources();
}

namespace {

// The pixels decode_picture made of ":/<name>.png", stored uncompressed as ":/pixels/<name>";
// a null image if there are none or they do not add up.
QImage decodedPicture(const QString& resource) {
    static const QString prefix = QStringLiteral(":/");
    static const QString suffix = QStringLiteral(".png");
    if (!resource.startsWith(prefix) || !resource.endsWith(suffix)) return {};
    const QString name =
        resource.mid(prefix.size(), resource.size() - prefix.size() - suffix.size());
    const QResource pixels(QStringLiteral(":/pixels/") + name);
    if (!pixels.isValid() || pixels.compressionAlgorithm() != QResource::NoCompression) return {};
    const auto* data = pixels.data();
    const qint64 size = pixels.size();
    std::uint32_t header[3];
    if (size < 4 + qint64(sizeof header) || std::memcmp(data, "ZPX1", 4) != 0) return {};
    std::memcpy(header, data + 4, sizeof header);
    const auto [width, height, format] = header;
    if (width == 0 || height == 0 || width > 4096 || height > 4096) return {};
    if (format != QImage::Format_RGB32 && format != QImage::Format_ARGB32_Premultiplied) return {};
    const qint64 rowBytes = qint64(width) * 4;
    if (size != 4 + qint64(sizeof header) + rowBytes * height) return {};
    QImage image(static_cast<int>(width), static_cast<int>(height),
                 static_cast<QImage::Format>(format));
    if (image.isNull()) return {};
    const uchar* row = data + 4 + sizeof header;
    for (int y = 0; y < static_cast<int>(height); ++y, row += rowBytes)
        std::memcpy(image.scanLine(y), row, rowBytes);
    return image;
}

}  // namespace

QImage picture(const QString& resource) {
    QImage decoded = decodedPicture(resource);
    return decoded.isNull() ? QImage(resource) : decoded;
}

}  // namespace zandrel
