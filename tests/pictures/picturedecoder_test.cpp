// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QBuffer>
#include <QDir>
#include <QImage>
#include <QTemporaryDir>
#include <functional>

#include "pictures/picture.h"
#include "pictures/readahead.h"
#include "tests/support/picturefiles.h"
#include "tests/support/testpictures.h"

namespace pictolio {
namespace {

using testing::JpegRecipe;
using testing::makeJpeg;
using testing::writeFile;

class PictureDecoderTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    PictureDecoder decoder;
    QString put(const QString& name, const QByteArray& data) {
        const QString path = dir.filePath(name);
        writeFile(path, data);
        return path;
    }
};

TEST_F(PictureDecoderTest, AnythingThatIsNotAPrintablePictureGivesTheEmptyPicture) {
    const QByteArray good = makeJpeg({.width = 200, .height = 100});
    QByteArray huge = good;
    for (qsizetype i = 2; i + 1 < huge.size(); ++i)
        if (uchar(huge[i]) == 0xFF && uchar(huge[i + 1]) == 0xC0) {
            huge[i + 5] = char(0xFF), huge[i + 6] = char(0xDC);
            huge[i + 7] = char(0xFF), huge[i + 8] = char(0xDC);
            break;
        }
    QImage pixels(40, 30, QImage::Format_RGB32);
    pixels.fill(Qt::red);
    QByteArray bmp;
    QBuffer buffer(&bmp);
    ASSERT_TRUE(buffer.open(QIODevice::WriteOnly) && pixels.save(&buffer, "BMP"));
    QDir(dir.path()).mkdir("folder.jpg");
    const struct {
        const char* name;
        QString path;
    } cases[] = {
        {"missing file", dir.filePath("missing.jpg")},
        {"folder", dir.filePath("folder.jpg")},
        {"empty file", put("empty.jpg", {})},
        {"text named .jpg", put("notes.jpg", "this is not a picture\n")},
        {"text named .txt", put("notes.txt", "this is not a picture\n")},
        {"JPEG cut in half", put("half.jpg", good.left(good.size() / 2))},
        {"JPEG cut in its last scan", put("nearly.jpg", good.left(good.size() - 12))},
        // Its data is re-encoded from the file as it is, which the coder refuses without an end.
        {"arithmetic-coded JPEG without its end", put("unended.jpg", makeJpeg({.arithmetic = true}).chopped(2))},
        {"JPEG header only", put("header.jpg", good.left(200))},
        {"JPEG declaring 65500 x 65500", put("huge.jpg", huge)},
        {"PNG cut short", put("cut.png", QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16))},
        {"BMP cut in half", put("cut.bmp", bmp.left(bmp.size() / 2))},
        // Found by fuzzing: a few bytes announcing millions of rows (1-bit, and run-length 8-bit).
        {"BMP of 16,777,224 rows in 136 bytes", put("rows.bmp", QByteArray::fromHex(
                     "424d005e0067000000003e000000280000000c0000000800000101000100000000002000002000000000000000000000"
                     "000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000"
                     "000000000000000c00000008000001010001000000000020000000610f46465000ff00ead0b09524"))},
        {"run-length BMP of 15,662,862 rows in 70 bytes", put("runs.bmp", QByteArray::fromHex(
                     "424d4e000000000000004200000028000000080000000effee000100080001000000011a000500000001130b00000300"
                     "000000000000ff01ff00080100000402040000000001"))},
        {"empty path", QString()},
    };
    for (const auto& c : cases) {
        const Picture p = decoder.load(c.path);
        EXPECT_TRUE(p.isEmpty()) << c.name;
        EXPECT_EQ(p.image, nullptr) << c.name;
    }
    // The kind of each failure, and the byte it was found at, for a caller that acts on them.
    const struct {
        const char* name;
        Failure::Kind kind;
        qint64 offset;
    } kinds[] = {
        {"missing.jpg", Failure::Kind::Missing, -1},  {"folder.jpg", Failure::Kind::NotPicture, -1},
        {"half.jpg", Failure::Kind::Damaged, good.size() / 2}, {"huge.jpg", Failure::Kind::TooLarge, -1},
        {"cut.png", Failure::Kind::Damaged, 16},
    };
    for (const auto& k : kinds) {
        const Failure failure = decoder.read(dir.filePath(k.name)).failure();
        EXPECT_EQ(failure.kind, k.kind) << k.name << ": " << failure.reason.toStdString();
        EXPECT_EQ(failure.offset, k.offset) << k.name;
    }
}

TEST_F(PictureDecoderTest, PhysicalSizeFollowsTheStatedDensity) {
    const struct {
        const char* name;
        JpegRecipe recipe;
        double widthHimetric, heightHimetric;
        int width, height;
    } cases[] = {
        {"300 dpi", {.width = 600, .height = 300, .densityUnit = 1, .xDensity = 300, .yDensity = 300},
         5080, 2540, 600, 300},
        {"different per axis",
         {.width = 600, .height = 300, .densityUnit = 1, .xDensity = 300, .yDensity = 150},
         5080, 5080, 600, 300},
        {"no density: 96 dpi", {.width = 96, .height = 192}, 2540, 5080, 96, 192},
        {"absurd density: 96 dpi",
         {.width = 96, .height = 96, .densityUnit = 1, .xDensity = 3, .yDensity = 3}, 2540, 2540,
         96, 96},
        {"EXIF 72 dpi", {.width = 144, .height = 72, .exif = true, .exifXRes = 72, .exifYRes = 72},
         5080, 2540, 144, 72},
        {"portrait phone photo (6) stands upright",
         {.width = 400, .height = 300, .densityUnit = 1, .xDensity = 100, .yDensity = 100,
          .exif = true, .orientation = 6},
         7620, 10160, 300, 400},
        {"orientation 8 likewise",
         {.width = 400, .height = 300, .densityUnit = 1, .xDensity = 100, .yDensity = 200,
          .exif = true, .orientation = 8},
         3810, 10160, 300, 400},
        {"mirrored (2) keeps its size",
         {.width = 400, .height = 300, .densityUnit = 1, .xDensity = 100, .yDensity = 100,
          .exif = true, .orientation = 2},
         10160, 7620, 400, 300},
        {"invalid orientation 0",
         {.width = 400, .height = 300, .densityUnit = 1, .xDensity = 100, .yDensity = 100,
          .exif = true, .orientation = 0},
         10160, 7620, 400, 300},
    };
    for (const auto& c : cases) {
        const Picture p = decoder.load(put("p.jpg", makeJpeg(c.recipe)));
        ASSERT_FALSE(p.isEmpty()) << c.name;
        EXPECT_NEAR(p.widthHimetric, c.widthHimetric, 0.5) << c.name;
        EXPECT_NEAR(p.heightHimetric, c.heightHimetric, 0.5) << c.name;
        EXPECT_EQ(p.width, c.width) << c.name;
        EXPECT_EQ(p.height, c.height) << c.name;
    }
}

TEST_F(PictureDecoderTest, OtherFormatsLoadWhateverTheirExtension) {
    QImage image(40, 30, QImage::Format_ARGB32);
    image.fill(qRgba(10, 200, 30, 128));
    image.setDotsPerMeterX(11811);  // 300 dpi
    image.setDotsPerMeterY(11811);
    const char* formats[] = {"PNG", "BMP", "PPM", "ICO"};
    for (const char* format : formats) {
        const QString path = dir.filePath(QStringLiteral("picture.%1.data").arg(format));
        ASSERT_TRUE(image.save(path, format)) << format;
        const Picture p = decoder.load(path);
        ASSERT_FALSE(p.isEmpty()) << format;
        EXPECT_EQ(p.width, 40) << format;
        EXPECT_EQ(p.height, 30) << format;
        EXPECT_EQ(p.image->format().encoding, imaging::ImageEncoding::Raw) << format;
    }
    // Qt reads GIF but does not write it: a 1 x 1 GIF made by hand (its string split after
    // "\x02", which would otherwise run on into "D").
    const QByteArray gif("GIF89a\x01\x00\x01\x00\x80\x00\x00\xff\xff\xff\x00\x00\x00"
                         "!\xf9\x04\x01\x00\x00\x00\x00,\x00\x00\x00\x00\x01\x00\x01\x00"
                         "\x00\x02\x02" "D\x01\x00;",
                         43);
    const Picture g = decoder.load(put("tiny.gif", gif));
    ASSERT_FALSE(g.isEmpty());
    EXPECT_EQ(g.width, 1);
    // PNG keeps its density; a format without one is taken at 96 dpi.
    EXPECT_NEAR(decoder.load(dir.filePath("picture.PNG.data")).widthHimetric, 40 / 300.0 * 2540, 1);
    EXPECT_NEAR(decoder.load(dir.filePath("picture.PPM.data")).widthHimetric, 40 / 96.0 * 2540, 1);
}

TEST_F(PictureDecoderTest, EveryLoadGetsItsOwnHandle) {
    const QString path = put("a.jpg", makeJpeg({}));
    const Picture a = decoder.load(path), b = decoder.load(path);
    EXPECT_NE(a.handle, 0u);
    EXPECT_NE(b.handle, 0u);
    EXPECT_NE(a.handle, b.handle);
}

// A picture read ahead of its turn is the file as it stands when its turn comes: one changed,
// cut or removed meanwhile is read again (and refused if it must be), never printed as it was.
TEST_F(PictureDecoderTest, APictureReadAheadIsTheFileAsItIsWhenItsTurnComes) {
    const QByteArray wide = makeJpeg({.width = 200, .height = 100});
    const QByteArray png = testing::makePng({.width = 30});
    const struct {
        const char* name;
        QByteArray before;
        std::function<void(const QString&)> meanwhile;
        int width;  // 0: refused
    } cases[] = {
        {"left alone", wide, [](const QString&) {}, 200},
        {"replaced by another picture", wide,
         [](const QString& p) { writeFile(p, makeJpeg({.width = 120, .height = 100})); }, 120},
        {"cut short", wide, [&](const QString& p) { writeFile(p, wide.left(wide.size() / 2)); }, 0},
        {"removed", wide, [](const QString& p) { QFile::remove(p); }, 0},
        {"a PNG, which is not read ahead", png, [](const QString&) {}, 30},
    };
    for (const auto& c : cases) {
        PictureReadAhead reader(decoder);
        const QString path = put(QStringLiteral("ahead-%1").arg(c.name), c.before);
        reader.start(path);
        reader.wait();
        c.meanwhile(path);
        const Picture picture = reader.load(path, PictureDecoder::Frames::First);
        EXPECT_EQ(picture.width, c.width) << c.name;
        EXPECT_EQ(picture.refusal.isEmpty(), c.width > 0)
            << c.name << ": " << picture.refusal.toStdString();
    }
}

// A run-length coded BMP may end or jump ahead before every pixel is set: what it leaves unset
// prints as the paper (white), whatever memory the picture was read into held before.
TEST_F(PictureDecoderTest, PixelsARunLengthBmpLeavesUnsetPrintWhite) {
    const auto le = [](quint32 v, int bytes) {
        QByteArray b;
        for (int i = 0; i < bytes; ++i) b.append(char((v >> (8 * i)) & 255));
        return b;
    };
    // 4 x 3 pixels, palette blue and red, stored bottom row first.
    const QByteArray palette("\xFF\0\0\0\0\0\xFF\0", 8);
    const struct {
        const char* name;
        QByteArray runs;
        const char* rows;  // from the top: Red or White
    } cases[] = {
        {"ends after its first row", QByteArray("\x04\x01\0\0\0\x01", 6), "WWR"},
        {"jumps over its middle row", QByteArray("\x04\x01\0\x02\0\x01\0\0\x04\x01\0\x01", 12),
         "RWR"},
        {"data cut short", QByteArray("\x04\x01\0\0", 4), "WWR"},
    };
    for (const auto& c : cases) {
        const QByteArray info = le(40, 4) + le(4, 4) + le(3, 4) + le(1, 2) + le(8, 2) +
                                le(1, 4) /* RLE8 */ + le(quint32(c.runs.size()), 4) + le(2835, 4) +
                                le(2835, 4) + le(2, 4) + le(0, 4);
        const QByteArray file = "BM" + le(quint32(14 + info.size() + 8 + c.runs.size()), 4) +
                                le(0, 4) + le(quint32(14 + info.size() + 8), 4) + info + palette +
                                c.runs;
        const Picture p = decoder.load(put("runs.bmp", file));
        ASSERT_FALSE(p.isEmpty()) << c.name;
        QByteArray samples;
        p.image->writeData([&](const std::uint8_t* d, std::size_t n) {
            samples.append(reinterpret_cast<const char*>(d), qsizetype(n));
        });
        const imaging::ImageFormat f = p.image->format();
        if (f.colorSpace == imaging::ColorSpace::Indexed) {  // the colours the indices give
            QByteArray colours;
            for (const char i : samples) colours.append(reinterpret_cast<const char*>(f.palette.data()) + 3 * quint8(i), 3);
            samples = colours;
        }
        ASSERT_EQ(samples.size(), 4 * 3 * 3) << c.name;
        const QByteArray red("\xFF\0\0", 3), white("\xFF\xFF\xFF", 3);
        QByteArray expected;
        for (const char* row = c.rows; *row; ++row)
            expected += (*row == 'R' ? red : white).repeated(4);
        EXPECT_EQ(samples.toHex().toStdString(), expected.toHex().toStdString()) << c.name;
    }
}

// Text recognition reads a PNG kept as stored by inflating and unfiltering its rows itself:
// every bit depth and colour type Qt writes, its filters chosen row by row by libpng.
TEST_F(PictureDecoderTest, StoredPngsReadInGreyAsTheyShow) {
    QImage texture(203, 61, QImage::Format_RGB32);  // an odd width: rows end inside a byte
    for (int y = 0; y < texture.height(); ++y)
        for (int x = 0; x < texture.width(); ++x)
            texture.setPixel(x, y, qRgb((x * 7 + y * y) % 256, (x * x / 5 + y * 3) % 256, ((x ^ y) * 11) % 256));
    const QList<QImage> forms = {
        texture.convertToFormat(QImage::Format_RGB888),
        texture.convertToFormat(QImage::Format_Grayscale8),
        texture.convertToFormat(QImage::Format_Grayscale16),
        texture.convertToFormat(QImage::Format_RGBX64),
        texture.convertToFormat(QImage::Format_Indexed8, Qt::ThresholdDither),           // 256 colours
        texture.convertToFormat(QImage::Format_Grayscale8).convertToFormat(QImage::Format_Mono, Qt::ThresholdDither),
        texture.convertToFormat(QImage::Format_Indexed8, {qRgb(0, 0, 0), qRgb(90, 30, 200), qRgb(250, 250, 0),
                                                          qRgb(255, 255, 255)}, Qt::ThresholdDither),  // 2 bits
    };
    for (const QImage& form : forms) {
        SCOPED_TRACE(form.format());
        QByteArray png;
        QBuffer buffer(&png);
        ASSERT_TRUE(buffer.open(QIODevice::WriteOnly) && form.save(&buffer, "PNG"));
        const QString path = put(QStringLiteral("form%1.png").arg(int(form.format())), png);
        const Picture picture = decoder.load(path);
        ASSERT_FALSE(picture.isEmpty());
        ASSERT_EQ(picture.image->format().encoding, imaging::ImageEncoding::Flate);
        const QImage shown = QImage(path).convertToFormat(QImage::Format_RGB32);
        const imaging::GreyImage grey = picture.image->grey(1);
        ASSERT_EQ(grey.width, shown.width());
        ASSERT_EQ(grey.height, shown.height());
        const auto luma = [](QRgb p) { return qRound(0.299 * qRed(p) + 0.587 * qGreen(p) + 0.114 * qBlue(p)); };
        int most = 0;
        for (int y = 0; y < grey.height; ++y)
            for (int x = 0; x < grey.width; ++x)
                most = std::max(most, std::abs(grey.pixels[std::size_t(y * grey.width + x)] - luma(shown.pixel(x, y))));
        EXPECT_LE(most, 2);
        const imaging::GreyImage half = picture.image->grey(2);
        EXPECT_EQ(half.width, (shown.width() + 1) / 2);
        EXPECT_EQ(half.height, (shown.height() + 1) / 2);
    }
}

}  // namespace
}  // namespace pictolio
