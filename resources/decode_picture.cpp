// decode_picture <in.png> <out.pixels>
//
// Decodes one of the program's pictures at build time into the form the program shows it in,
// so that the program starts without decoding PNG files: "ZPX1", then width, height and the
// QImage format as 32-bit numbers in the machine's order, then the rows, 4 bytes a pixel.
#include <QFile>
#include <QImage>

#include <cstdint>
#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: decode_picture <in.png> <out.pixels>\n");
        return 2;
    }
    QImage image(QString::fromLocal8Bit(argv[1]));
    if (image.isNull()) {
        std::fprintf(stderr, "decode_picture: cannot read %s\n", argv[1]);
        return 1;
    }
    // The formats a raster pixmap keeps a picture in.
    image = image.convertToFormat(image.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied
                                                          : QImage::Format_RGB32);
    QFile out(QString::fromLocal8Bit(argv[2]));
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        std::fprintf(stderr, "decode_picture: cannot write %s\n", argv[2]);
        return 1;
    }
    const std::uint32_t header[3] = {static_cast<std::uint32_t>(image.width()),
                                     static_cast<std::uint32_t>(image.height()),
                                     static_cast<std::uint32_t>(image.format())};
    bool ok = out.write("ZPX1", 4) == 4 &&
              out.write(reinterpret_cast<const char*>(header), sizeof header) == sizeof header;
    const qint64 rowBytes = qint64(image.width()) * 4;
    for (int y = 0; ok && y < image.height(); ++y) {
        ok = out.write(reinterpret_cast<const char*>(image.constScanLine(y)), rowBytes) == rowBytes;
    }
    if (!ok || !out.flush()) {
        std::fprintf(stderr, "decode_picture: cannot write %s\n", argv[2]);
        out.remove();
        return 1;
    }
    return 0;
}
