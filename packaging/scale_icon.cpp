// scale_icon <in.png> <size> <out.png>
//
// The program's icon at one of the icon theme's sizes, made at build time. The icon is drawn on
// a 32 x 32 grid: whole multiples of 32 keep its pixels sharp, other sizes are smoothed.
#include <QImage>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    const int size = argc == 4 ? std::atoi(argv[2]) : 0;
    if (size <= 0 || size > 1024) {
        std::fprintf(stderr, "usage: scale_icon <in.png> <size> <out.png>\n");
        return 2;
    }
    const QImage icon(QString::fromLocal8Bit(argv[1]));
    if (icon.isNull()) {
        std::fprintf(stderr, "scale_icon: cannot read %s\n", argv[1]);
        return 1;
    }
    const Qt::TransformationMode mode =
        size % 32 == 0 ? Qt::FastTransformation : Qt::SmoothTransformation;
    const QImage scaled =
        icon.convertToFormat(QImage::Format_ARGB32).scaled(size, size, Qt::IgnoreAspectRatio, mode);
    if (!scaled.save(QString::fromLocal8Bit(argv[3]), "PNG")) {
        std::fprintf(stderr, "scale_icon: cannot write %s\n", argv[3]);
        return 1;
    }
    return 0;
}
