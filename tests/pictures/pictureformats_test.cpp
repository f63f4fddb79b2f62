// SPDX-License-Identifier: GPL-3.0-or-later
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <tiffio.h>
#include <zlib.h>

#include <QBuffer>
#include <QColorSpace>
#include <QDir>
#include <QPainter>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <cmath>

#include "convert/pdfprinter.h"
#include "pictures/picture.h"
#include "platform/printservice.h"
#include "platform/registry.h"
#include "tests/pictures/formatsfixture.h"
#include "tests/support/pdfreader.h"
#include "tests/support/picturefiles.h"
#include "tests/support/testpictures.h"

namespace pictolio {
namespace {

using testing::iccpOf;
using testing::makeGif;
using testing::PictureFormatsTest;
using testing::readPdf;
using testing::saved;
using testing::shown;
using testing::withJpegProfile;
using testing::withPngChunk;


int largestDifference(const QImage& a, const QImage& b) {
    if (a.size() != b.size()) return 999;
    int most = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            most = std::max({most, std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                             std::abs(qBlue(p) - qBlue(q))});
        }
    return most;
}

// A picture as it shows on white paper.
QImage overWhite(const QImage& picture) {
    QImage out(picture.size(), QImage::Format_RGB32);
    const QImage argb = picture.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < out.height(); ++y)
        for (int x = 0; x < out.width(); ++x) {
            const QRgb p = argb.pixel(x, y);
            const auto over = [&](int c) { return (c * qAlpha(p) + 255 * (255 - qAlpha(p)) + 127) / 255; };
            out.setPixel(x, y, qRgb(over(qRed(p)), over(qGreen(p)), over(qBlue(p))));
        }
    return out;
}

// The contents of a PNG file's IDAT chunks, one after the other.
QByteArray imageDataOf(const QByteArray& png) {
    QByteArray data;
    for (qsizetype at = 8; at + 12 <= png.size();) {
        const qsizetype length = qsizetype((uchar(png[at]) << 24) | (uchar(png[at + 1]) << 16) |
                                           (uchar(png[at + 2]) << 8) | uchar(png[at + 3]));
        if (png.mid(at + 4, 4) == "IDAT") data += png.mid(at + 8, length);
        at += 12 + length;
    }
    return data;
}

// The same file with all its image data in one chunk, as some encoders write it.
QByteArray inOneImageChunk(const QByteArray& png) {
    const QByteArray data = imageDataOf(png);
    QByteArray chunk = "IDAT" + data;
    const quint32 crc = quint32(crc32(0, reinterpret_cast<const Bytef*>(chunk.constData()), uInt(chunk.size())));
    const auto be32 = [](quint32 v) {
        const char bytes[4] = {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
        return QByteArray(bytes, 4);
    };
    const qsizetype first = png.indexOf("IDAT") - 4, end = png.indexOf("IEND") - 4;
    return png.left(first) + be32(quint32(data.size())) + chunk + be32(crc) + png.mid(end);
}

TEST_F(PictureFormatsTest, PngDataGoesInAsStoredWhereAPdfCanHoldIt) {
    using R = testing::PngRecipe;
    const struct {
        const char* name;
        R recipe;
        bool stored;
        const char* transparency;  // "", "mask" (a colour or index range) or "soft mask"
    } cases[] = {
        {"grey 1-bit", {.colorType = 0, .bitDepth = 1}, true, ""},
        {"grey 2-bit", {.colorType = 0, .bitDepth = 2}, true, ""},
        {"grey 4-bit", {.colorType = 0, .bitDepth = 4}, true, ""},
        {"grey 8-bit", {.colorType = 0, .bitDepth = 8}, true, ""},
        {"grey 16-bit", {.colorType = 0, .bitDepth = 16}, true, ""},
        {"RGB 8-bit", {.colorType = 2, .bitDepth = 8, .width = 300, .height = 40}, true, ""},
        {"RGB 16-bit", {.colorType = 2, .bitDepth = 16}, true, ""},
        {"palette 1-bit", {.colorType = 3, .bitDepth = 1}, true, ""},
        {"palette 4-bit", {.colorType = 3, .bitDepth = 4}, true, ""},
        {"palette 8-bit", {.colorType = 3, .bitDepth = 8}, true, ""},
        // (transparent: the colour at the top left)
        {"grey with a transparent value", {.colorType = 0, .bitDepth = 8, .transparency = {0}}, true, "mask"},
        {"RGB with a transparent colour", {.colorType = 2, .bitDepth = 8, .transparency = {0, 53, 106}}, true, "mask"},
        {"palette with transparent entries", {.colorType = 3, .bitDepth = 4, .transparency = {255, 0, 0}}, true, "mask"},
        {"palette with translucent entries", {.colorType = 3, .bitDepth = 4, .transparency = {0, 128, 255, 30}},
         false, "soft mask"},
        {"RGB and alpha", {.colorType = 6, .bitDepth = 8}, false, "soft mask"},
        {"grey and alpha 16-bit", {.colorType = 4, .bitDepth = 16}, false, "soft mask"},
        {"interlaced", {.colorType = 2, .bitDepth = 8, .interlaced = true}, false, ""},
        // (read a piece at a time)
        {"RGB 16-bit, large, its image data in one chunk", {.colorType = 2, .bitDepth = 16, .width = 500, .height = 300},
         true, ""},
    };
    for (const auto& c : cases) {
        QByteArray png = testing::makePng(c.recipe);
        if (c.recipe.width == 500) {
            png = inOneImageChunk(png);
            ASSERT_GT(imageDataOf(png).size(), 4 << 16) << c.name;
        }
        const Picture picture = decoder.load(put("p.png", png));
        ASSERT_FALSE(picture.isEmpty()) << c.name;
        const QString pdf = print(picture);
        const auto pages = readPdf(pdf);
        ASSERT_EQ(pages.size(), 1u) << c.name;
        const testing::PdfImage& image = pages[0].images.at(0);
        EXPECT_EQ(image.filter, "/FlateDecode") << c.name;
        EXPECT_EQ(QByteArray::fromStdString(image.rawData) == imageDataOf(png), c.stored) << c.name;
        // 127 dpi as the file says: the page is the picture's size.
        EXPECT_NEAR(pages[0].mediaBox[2], c.recipe.width * 72 / 127.0, 0.01) << c.name;

        QImage decoded(dir.filePath("p.png"));
        decoded = decoded.convertToFormat(QImage::Format_ARGB32);
        EXPECT_EQ(!image.mask.empty(), std::string(c.transparency) == "mask") << c.name;
        EXPECT_EQ(!image.softMask.empty(), std::string(c.transparency) == "soft mask") << c.name;
        if (!image.softMask.empty()) {
            std::string alpha;
            for (int y = 0; y < decoded.height(); ++y)
                for (int x = 0; x < decoded.width(); ++x) alpha += char(qAlpha(decoded.pixel(x, y)));
            EXPECT_TRUE(image.softMask == alpha) << c.name;
        }
        const std::vector<QImage> rendered = testing::renderPdf(pdf, 508);
        ASSERT_EQ(rendered.size(), 1u) << c.name;
        EXPECT_LE(largestDifference(shown(rendered[0], decoded.width(), decoded.height(), 4), overWhite(decoded)), 2)
            << c.name;
        EXPECT_EQ(testing::qpdfCheckProblems(pdf), "") << c.name;
    }
    // A transparency whose checksum fails is passed over, as decoders do: the picture is opaque.
    QByteArray damaged = testing::makePng({.colorType = 2, .bitDepth = 8, .transparency = {0, 53, 106}});
    damaged[damaged.indexOf("tRNS") + 10] = char(damaged[damaged.indexOf("tRNS") + 10] ^ 0x55);  // its checksum
    const Picture opaque = decoder.load(put("p.png", damaged));
    ASSERT_FALSE(opaque.isEmpty());
    EXPECT_TRUE(readPdf(print(opaque)).at(0).images.at(0).mask.empty());
}

// Black and white, different in every corner.
QImage bilevelPicture(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const bool black = (x < width / 4 && y < height / 3) || (x > width / 2 && y > 2 * height / 3) ||
                               (x * x + 3 * y) % 17 < 5;
            image.setPixel(x, y, black ? qRgb(0, 0, 0) : qRgb(255, 255, 255));
        }
    return image;
}

TEST_F(PictureFormatsTest, EveryPageOfATiffPrintsInOrderUpright) {
    using P = testing::TiffPage;
    const QImage bilevel = bilevelPicture(203, 61), colour = testing::cornersPicture(40, 30);
    const QImage grey = colour.convertToFormat(QImage::Format_Grayscale8).convertToFormat(QImage::Format_RGB32);
    QImage translucent = colour.convertToFormat(QImage::Format_ARGB32);
    for (int x = 0; x < 40; ++x) translucent.setPixel(x, 3, qRgba(10, 20, 30, x * 6));
    QImage greyTranslucent = translucent;
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 40; ++x) {
            const QRgb p = translucent.pixel(x, y);
            greyTranslucent.setPixel(x, y, qRgba(qGray(p), qGray(p), qGray(p), qAlpha(p)));
        }
    const struct {
        const char* name;
        P page;
        const char* filter;
        double meanDifference;  // at most, rendered against the picture
    } cases[] = {
        {"Group 4", {.upright = bilevel, .compression = COMPRESSION_CCITTFAX4, .bilevel = true}, "/CCITTFaxDecode", 0},
        {"Group 4, black is zero",
         {.upright = bilevel, .compression = COMPRESSION_CCITTFAX4, .bilevel = true, .whiteIsZero = false},
         "/CCITTFaxDecode", 0},
        {"Group 4 in strips",
         {.upright = bilevel, .compression = COMPRESSION_CCITTFAX4, .bilevel = true, .rowsPerStrip = 8},
         "/FlateDecode", 0},
        {"Group 3 1-D", {.upright = bilevel, .compression = COMPRESSION_CCITTFAX3, .bilevel = true}, "/CCITTFaxDecode", 0},
        {"Group 3 2-D",
         {.upright = bilevel, .compression = COMPRESSION_CCITTFAX3, .bilevel = true, .group3Options = GROUP3OPT_2DENCODING},
         "/CCITTFaxDecode", 0},
        {"Group 3 2-D with fill bits",
         {.upright = bilevel, .compression = COMPRESSION_CCITTFAX3, .bilevel = true,
          .group3Options = GROUP3OPT_2DENCODING | GROUP3OPT_FILLBITS},
         "/CCITTFaxDecode", 0},
        {"PackBits bilevel, turned",
         {.upright = bilevel, .compression = COMPRESSION_PACKBITS, .bilevel = true, .rowsPerStrip = 5, .orientation = 8},
         "/FlateDecode", 0},
        {"JPEG", {.upright = colour, .compression = COMPRESSION_JPEG, .dpi = 63.5}, "/DCTDecode", 8},
        {"LZW, turned", {.upright = colour, .compression = COMPRESSION_LZW, .orientation = 6}, "/FlateDecode", 0},
        {"LZW grey in strips, white is zero",
         {.upright = grey, .compression = COMPRESSION_LZW, .rowsPerStrip = 7, .gray = true}, "/FlateDecode", 0},
        {"Deflate with alpha", {.upright = translucent, .compression = COMPRESSION_ADOBE_DEFLATE, .alpha = true},
         "/FlateDecode", 0.5},
        {"grey with alpha", {.upright = greyTranslucent, .compression = COMPRESSION_LZW, .alpha = true, .gray = true},
         "/FlateDecode", 0.5},
        {"16-bit grey with alpha",
         {.upright = greyTranslucent, .compression = COMPRESSION_LZW, .alpha = true, .gray = true, .bits = 16},
         "/FlateDecode", 0.5},
    };
    std::vector<P> pages;
    for (const auto& c : cases) pages.push_back(c.page);
    const QString file = dir.filePath("pages.tif");
    testing::writeTiff(file, pages);
    const Picture picture = decoder.load(file);
    ASSERT_EQ(picture.pageCount(), int(std::size(cases)));

    const QString pdf = print(picture);
    const auto read = readPdf(pdf);
    const std::vector<QImage> rendered = testing::renderPdf(pdf, 508);
    ASSERT_EQ(read.size(), std::size(cases));
    ASSERT_EQ(rendered.size(), std::size(cases));
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const auto& c = cases[i];
        EXPECT_EQ(read[i].images.at(0).filter, c.filter) << c.name;
        EXPECT_EQ(!read[i].images[0].softMask.empty(), c.page.alpha) << c.name;
        const QImage expected = overWhite(c.page.upright);
        const int scale = int(std::lround(508 / c.page.dpi));
        EXPECT_NEAR(read[i].mediaBox[2], expected.width() * 72 / c.page.dpi, 0.01) << c.name;
        EXPECT_NEAR(read[i].mediaBox[3], expected.height() * 72 / c.page.dpi, 0.01) << c.name;
        const double difference =
            testing::meanDifference(shown(rendered[i], expected.width(), expected.height(), scale), expected);
        EXPECT_GE(difference, 0) << c.name;
        EXPECT_LE(difference, c.meanDifference) << c.name;
    }
    EXPECT_EQ(testing::qpdfCheckProblems(pdf), "");

    // Uncompressed tiles as libtiff's own tool writes them: of a size that is no whole number of
    // KiB, and larger than the page, as writers make them on small pages.
    for (const QString side : {"16", "256"}) {
        const QString tiled = dir.filePath("tiled" + side + ".tif");
        ASSERT_EQ(QProcess::execute("tiffcp", {"-t", "-w", side, "-l", side, "-c", "none", file + ",8,9,10,11", tiled}),
                  0);
        const std::vector<QImage> tiles = testing::renderPdf(print(decoder.load(tiled)), 508);
        ASSERT_EQ(tiles.size(), 4u) << side.toStdString();
        for (std::size_t i = 0; i < tiles.size(); ++i) {
            const QImage expected = overWhite(cases[i + 8].page.upright);
            EXPECT_LE(testing::meanDifference(shown(tiles[i], expected.width(), expected.height(), 4), expected), 0.5)
                << "tiles of " << side.toStdString() << ", " << cases[i + 8].name;
        }
    }

    // Stretched, each page fills a page of its own too.
    const auto stretched = readPdf(print(picture, true));
    ASSERT_EQ(stretched.size(), std::size(cases));
    for (const auto& page : stretched)
        EXPECT_NEAR(std::abs(page.images.at(0).matrix[0] + page.images[0].matrix[2]), page.mediaBox[2], 0.01);
}

TEST_F(PictureFormatsTest, HeifAndWebpPrintUprightInTheirColours) {
    const QImage upright = testing::cornersPicture(64, 48);
    // The top left quarter transparent: the paper shows there.
    QImage holed = upright.convertToFormat(QImage::Format_ARGB32), onPaper = upright;
    for (int y = 0; y < 24; ++y)
        for (int x = 0; x < 32; ++x) holed.setPixel(x, y, qRgba(0, 0, 0, 0)), onPaper.setPixel(x, y, qRgb(255, 255, 255));
    const struct {
        const char* name;
        QByteArray file;
        const QImage* shows = nullptr;  // the upright picture when none
    } cases[] = {
        {"WebP with transparency", testing::makeWebp(holed, 100), &onPaper},
        {"WebP animated (its first frame)", testing::makeAnimatedWebp(upright)},
        {"HEIC", testing::makeHeif(upright, 1)},
        {"HEIC turned", testing::makeHeif(upright, 1, 6)},
        {"AVIF mirrored", testing::makeHeif(upright, 2, 2)},
        {"WebP lossy", testing::makeWebp(upright, 90)},
        {"WebP lossless, EXIF turned", testing::makeWebp(upright, 100, 8)},
        {"WebP lossy, EXIF upside down", testing::makeWebp(upright, 90, 3)},
    };
    for (const auto& c : cases) {
        ASSERT_FALSE(c.file.isEmpty()) << c.name;
        const Picture picture = decoder.load(put("picture", c.file));
        ASSERT_FALSE(picture.isEmpty()) << c.name;
        EXPECT_EQ(picture.width, 64) << c.name;
        EXPECT_EQ(picture.height, 48) << c.name;
        const QString pdf = print(picture);
        const std::vector<QImage> rendered = testing::renderPdf(pdf, 384);  // the pictures are 96 dpi
        ASSERT_EQ(rendered.size(), 1u) << c.name;
        const double difference = testing::meanDifference(shown(rendered[0], 64, 48, 4), c.shows ? *c.shows : upright);
        EXPECT_GE(difference, 0) << c.name;
        EXPECT_LT(difference, 6) << c.name;
    }
}

TEST_F(PictureFormatsTest, APngTurnsAsItsExifSays) {
    const QImage upright = testing::cornersPicture(64, 48);
    // A big-endian TIFF block of one entry: Orientation (0x112), a SHORT, 6.
    const QByteArray exif("MM\0*\0\0\0\x08\0\x01\x01\x12\0\x03\0\0\0\x01\0\x06\0\0\0\0\0\0", 26);
    for (const QImage::Format format : {QImage::Format_RGB32, QImage::Format_ARGB32}) {
        const QByteArray png = saved(testing::storedFor(upright, 6).convertToFormat(format), "png");
        const Picture picture = decoder.load(put("turned.png", withPngChunk(png, "eXIf", exif)));
        ASSERT_FALSE(picture.isEmpty());
        EXPECT_EQ(picture.width, 64);
        EXPECT_EQ(picture.height, 48);
        const auto rendered = testing::renderPdf(print(picture), 384);
        ASSERT_EQ(rendered.size(), 1u);
        EXPECT_LT(testing::meanDifference(shown(rendered[0], 64, 48, 4), upright), 1) << format;
    }
}

// TIFF pages keep their inks, their palette and their 16-bit samples, and their profile.
TEST_F(PictureFormatsTest, TiffPagesKeepTheirColourSpaceAndDepth) {
    constexpr int width = 6, height = 4;
    const QByteArray adobe = QColorSpace(QColorSpace::AdobeRgb).iccProfile();
    const struct {
        const char* name;
        int photometric, samples, bits;
        bool profile;
        const char* colorSpace;  // how the PDF's /ColorSpace starts
    } cases[] = {
        {"CMYK", PHOTOMETRIC_SEPARATED, 4, 8, false, "/DeviceCMYK"},
        {"CMYK 16-bit", PHOTOMETRIC_SEPARATED, 4, 16, false, "/DeviceCMYK"},
        {"RGB 16-bit", PHOTOMETRIC_RGB, 3, 16, false, "/DeviceRGB"},
        {"palette 4-bit", PHOTOMETRIC_PALETTE, 1, 4, false, "[ /Indexed /DeviceRGB 15"},
        {"RGB with a profile", PHOTOMETRIC_RGB, 3, 8, true, "[ /ICCBased"},
        {"palette with a profile", PHOTOMETRIC_PALETTE, 1, 8, true, "[ /Indexed [ /ICCBased"},
    };
    const QString path = dir.filePath("pages.tif");
    TIFF* tif = TIFFOpen(QFile::encodeName(path).constData(), "w");
    ASSERT_NE(tif, nullptr);
    std::vector<std::string> samples;  // each page's, big-endian
    for (const auto& c : cases) {
        TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
        TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height);
        TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, c.samples);
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, c.bits);
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, c.photometric);
        TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 2);
        if (c.profile) TIFFSetField(tif, TIFFTAG_ICCPROFILE, std::uint32_t(adobe.size()), adobe.constData());
        std::vector<std::uint16_t> map(std::size_t(3) << c.bits);
        for (std::size_t i = 0; i < map.size(); ++i) map[i] = std::uint16_t(i * 4099 % 65536);
        if (c.photometric == PHOTOMETRIC_PALETTE)
            TIFFSetField(tif, TIFFTAG_COLORMAP, map.data(), map.data() + (1 << c.bits), map.data() + (2 << c.bits));
        const int rowBytes = (width * c.samples * c.bits + 7) / 8;
        std::string all;
        for (int y = 0; y < height; ++y) {
            std::string row(std::size_t(rowBytes), '\0');
            for (int i = 0; i < rowBytes; ++i) row[std::size_t(i)] = char((y * 37 + i * 11) % 256);
            all += row;
            std::string stored = row;  // (libtiff takes 16-bit samples in the machine's order)
            if (c.bits == 16)
                for (std::size_t i = 0; i + 1 < stored.size(); i += 2) std::swap(stored[i], stored[i + 1]);
            ASSERT_EQ(TIFFWriteScanline(tif, stored.data(), std::uint32_t(y), 0), 1) << c.name;
        }
        samples.push_back(all);
        ASSERT_TRUE(TIFFWriteDirectory(tif));
    }
    TIFFClose(tif);
    const Picture picture = decoder.load(path);
    ASSERT_EQ(picture.pageCount(), int(std::size(cases)));
    const QString pdf = print(picture);
    const auto pages = readPdf(pdf);
    ASSERT_EQ(pages.size(), std::size(cases));
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const auto& c = cases[i];
        const testing::PdfImage& image = pages[i].images.at(0);
        EXPECT_EQ(image.colorSpace.rfind(c.colorSpace, 0), 0u) << c.name << ": " << image.colorSpace;
        EXPECT_EQ(image.bitsPerComponent, c.bits) << c.name;
        EXPECT_TRUE(image.decodedData == samples[i]) << c.name;
        EXPECT_EQ(image.decode, "") << c.name;
        EXPECT_EQ(QByteArray::fromStdString(image.profile) == adobe, c.profile) << c.name;
    }
    EXPECT_EQ(testing::qpdfCheckProblems(pdf), "");
}

// A picture of more than Qt's usual 128 MB decoded (here 34 megapixels, as a 600-dpi scan of an
// A4 page) is a picture like any other.
TEST_F(PictureFormatsTest, PicturesAsLargeAsScansAndPhonePhotosAreDecoded) {
    QImage large(5800, 5800, QImage::Format_RGB32);
    large.fill(qRgb(0, 128, 128));
    const Picture picture = decoder.load(put("scan.webp", testing::makeWebp(large, 100)));
    ASSERT_FALSE(picture.isEmpty());
    const std::vector<testing::PdfPage> pages = readPdf(print(picture));
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_EQ(pages[0].images.at(0).width, 5800);
    EXPECT_EQ(pages[0].images[0].decodedData.substr(0, 6), std::string("\x00\x80\x80\x00\x80\x80", 6));

    // A GIF of that size is a few bytes that would cost seconds: GIF keeps Qt's own limit.
    QByteArray gif("GIF89a\x70\x17\x70\x17\x80\x00\x00\xff\xff\xff\x00\x00\x00"
                   "!\xf9\x04\x01\x00\x00\x00\x00,\x00\x00\x00\x00\x70\x17\x70\x17"
                   "\x00\x02\x02D\x01\x00;",
                   43);
    EXPECT_TRUE(decoder.load(put("huge.gif", gif)).isEmpty());
    gif.replace(32, 4, QByteArray(4, '\x01'));  // (the picture in it small, its screen as large)
    EXPECT_TRUE(decoder.load(put("huge screen.gif", gif)).isEmpty());
}

// The pixels decoded when a picture is loaded are what prints, for that picture only, and it is
// not decoded again: they wait deflated in a spool file, which goes once its page is written, or
// with the picture.
TEST_F(PictureFormatsTest, EachDecodedPicturePrintsItsOwnPixelsDecodedOnce) {
    QImage red(8, 8, QImage::Format_RGB32), blue(8, 8, QImage::Format_RGB32);
    red.fill(qRgb(255, 0, 0));
    blue.fill(qRgb(0, 0, 255));
    const QDir spool(QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) + "/pictolio/spool");
    const QStringList ours{QStringLiteral("picture-%1-*").arg(::getpid())};
    {
        const QString redFile = put("red.webp", testing::makeWebp(red, 100));
        const Picture first = decoder.load(redFile);
        const Picture second = decoder.load(put("blue.webp", testing::makeWebp(blue, 100)));
        const Picture unprinted = decoder.load(put("unprinted.webp", testing::makeWebp(blue, 100)));
        EXPECT_EQ(spool.entryList(ours, QDir::Files).size(), 3);
        // The red file's bytes spoiled, its size and time as they were: still the file checked.
        struct stat st {};
        ASSERT_EQ(::stat(QFile::encodeName(redFile).constData(), &st), 0);
        testing::writeFile(redFile, QByteArray(int(st.st_size), '\0'));
        const timespec times[2] = {st.st_atim, st.st_mtim};
        ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(redFile).constData(), times, 0), 0);
        for (const auto& [picture, pixel] : {std::pair{&first, "\xFF\x00\x00"}, {&second, "\x00\x00\xFF"}}) {
            const std::vector<testing::PdfPage> pages = readPdf(print(*picture));
            ASSERT_EQ(pages.size(), 1u);
            EXPECT_EQ(pages[0].images.at(0).decodedData.substr(0, 3), std::string(pixel, 3));
        }
        EXPECT_EQ(spool.entryList(ours, QDir::Files).size(), 1);
    }
    EXPECT_EQ(spool.entryList(ours, QDir::Files), QStringList{});
}

TEST_F(PictureFormatsTest, APictureTooLargeToDecodeSaysSo) {
    const Picture small = decoder.load(put("small.png", testing::transparentPng(300, 200)));
    EXPECT_EQ(small.width, 300);
    const Picture large = decoder.load(put("large.png", testing::transparentPng(6000, 6000)));
    EXPECT_TRUE(large.isEmpty());
    EXPECT_EQ(large.refusal.toStdString(),
              "too large: 6000 x 6000 pixels take 138 MB decoded, more than the 128 MB a picture of this kind may take");
}

TEST_F(PictureFormatsTest, DamagedFilesOfEveryFormatAreNoPictures) {
    const QImage colour = testing::cornersPicture(64, 48);
    const QByteArray heic = testing::makeHeif(colour, 1), avif = testing::makeHeif(colour, 2);
    const QByteArray webp = testing::makeWebp(colour, 90);
    const QString tiffPath = dir.filePath("whole.tif");
    testing::writeTiff(tiffPath, {{.upright = bilevelPicture(300, 200), .compression = COMPRESSION_CCITTFAX4,
                                   .bilevel = true},
                                  {.upright = colour, .compression = COMPRESSION_LZW}});
    const QByteArray tiff = testing::readFile(tiffPath);
    QByteArray png = testing::makePng({});
    // Image data that does not inflate, with a checksum that matches it.
    const qsizetype idat = png.indexOf("IDAT");
    const qsizetype idatLength = imageDataOf(png).size();
    for (qsizetype i = idat + 6; i < idat + 4 + idatLength; ++i) png[i] = char(0xA5);
    const quint32 crc = quint32(crc32(0, reinterpret_cast<const Bytef*>(png.constData() + idat), uInt(idatLength + 4)));
    for (int i = 0; i < 4; ++i) png[idat + 4 + idatLength + i] = char(crc >> (24 - 8 * i));
    const QByteArray gif = makeGif(40, 40);
    QByteArray blanked = heic;
    for (qsizetype i = 40; i < blanked.size(); ++i) blanked[i] = 0;
    const struct {
        const char* name;
        QByteArray file;
    } cases[] = {
        {"HEIC cut in half", heic.left(heic.size() / 2)},
        {"HEIC with its boxes blanked", blanked},
        {"AVIF cut in half", avif.left(avif.size() / 2)},
        {"WebP cut in half", webp.left(webp.size() / 2)},
        {"WebP without its image", webp.left(20)},
        {"TIFF cut in half", tiff.left(tiff.size() / 2)},
        {"TIFF header only", tiff.left(8)},
        {"PNG whose image data does not inflate", png},
        {"GIF cut in half", gif.left(gif.size() / 2)},
    };
    const Picture whole = decoder.load(put("whole.gif", gif));
    EXPECT_EQ(whole.width, 40);
    EXPECT_FALSE(decoder.load(put("no trailer.gif", gif.chopped(1))).isEmpty());
    for (const auto& c : cases) {
        const Picture picture = decoder.load(put("damaged", c.file));
        EXPECT_TRUE(picture.isEmpty()) << c.name;
    }
}

}  // namespace
}  // namespace pictolio
