// The pictures the windows show: the built-in ones come decoded with the program and hold
// exactly the pixels their PNG files decode to; other names are read from their files.
#include "resources/resources.h"

#include <QImage>
#include <QResource>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

// What a raster pixmap holds of a picture: 32 bits a pixel, premultiplied if it has alpha.
QImage asShown(const QImage& image) {
    return image.convertToFormat(image.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied
                                                         : QImage::Format_RGB32);
}

class Pictures : public ::testing::Test {
protected:
    static void SetUpTestSuite() { zandrel::initResources(); }
};

TEST_F(Pictures, BuiltInOnesComeDecodedAndEqualTheirPngFiles) {
    struct Case {
        const char* resource;
        const char* decoded;
        QSize size;
    };
    const Case cases[] = {
        {":/icon.png", ":/pixels/icon", {32, 32}},
        {":/logo.png", ":/pixels/logo", {316, 157}},
        {":/plate.png", ":/pixels/plate", {183, 60}},
        {":/backup.png", ":/pixels/backup", {158, 79}},
        {":/banner.png", ":/pixels/banner", {287, 81}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.resource);
        // Shown without decoding the PNG at run time.
        EXPECT_TRUE(QResource(QString::fromLatin1(c.decoded)).isValid());
        const QImage shown = zandrel::picture(QString::fromLatin1(c.resource));
        EXPECT_EQ(shown.size(), c.size);
        EXPECT_TRUE(shown == asShown(QImage(QString::fromLatin1(c.resource))))
            << "the pixels differ from the PNG file's";
    }
}

TEST_F(Pictures, OtherNamesAreReadFromTheirFilesAndMissingOnesAreNull) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QImage drawn(7, 5, QImage::Format_ARGB32);
    drawn.fill(QColor(10, 200, 30, 128));
    const QString file = dir.filePath(QStringLiteral("drawn.png"));
    ASSERT_TRUE(drawn.save(file));

    EXPECT_TRUE(asShown(zandrel::picture(file)) == asShown(QImage(file)));
    EXPECT_TRUE(zandrel::picture(dir.filePath(QStringLiteral("missing.png"))).isNull());
    EXPECT_TRUE(zandrel::picture(QStringLiteral(":/missing.png")).isNull());
}

}  // namespace
