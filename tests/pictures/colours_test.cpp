// SPDX-License-Identifier: GPL-3.0-or-later
// Pictures in colour: their ICC profiles, palettes, deep samples and inks, as a PDF shows them.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <QColorSpace>
#include <QPainter>

#include "tests/pictures/formatsfixture.h"
#include "tests/support/pdfreader.h"

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

TEST_F(PictureFormatsTest, ColourProfilesGoInOnceAsIccBasedSpaces) {
    const QImage picture = testing::cornersPicture(64, 48);
    const QByteArray adobe = QColorSpace(QColorSpace::AdobeRgb).iccProfile();
    QByteArray cmykLabelled = adobe, huge = adobe + QByteArray((5 << 20) - adobe.size(), '\0');
    cmykLabelled.replace(16, 4, "CMYK");
    for (int i = 0; i < 4; ++i) huge[i] = char(quint32(huge.size()) >> (24 - 8 * i));
    const QByteArray jpeg = saved(picture, "jpg"), png = saved(picture, "png");
    QImage tagged = picture, srgb = picture, opaqueArgb = picture.convertToFormat(QImage::Format_ARGB32);
    tagged.setColorSpace(QColorSpace::AdobeRgb);
    srgb.setColorSpace(QColorSpace::SRgb);
    opaqueArgb.setColorSpace(QColorSpace::AdobeRgb);
    const struct {
        const char* name;
        QByteArray file;
        bool profiled;  // an ICC-based colour space of the Adobe RGB profile; else /DeviceRGB
    } cases[] = {
        {"JPEG, in three APP2 segments", withJpegProfile(jpeg, adobe, 200), true},
        {"PNG, in iCCP", saved(tagged, "png"), true},
        {"WebP, in ICCP", saved(tagged, "webp"), true},
        {"PNG with an alpha channel (decoded)", saved(opaqueArgb, "png"), true},
        {"JPEG untagged", jpeg, false},
        {"JPEG, sRGB", saved(srgb, "jpg"), false},
        {"PNG, sRGB", saved(srgb, "png"), false},
        {"PNG, a profile and an sRGB chunk", withPngChunk(withPngChunk(png, "iCCP", iccpOf(adobe)), "sRGB", QByteArray(1, '\0')), false},
        {"JPEG, a CMYK profile on RGB", withJpegProfile(jpeg, cmykLabelled, 1000), false},
        {"JPEG, a segment missing", withJpegProfile(jpeg, adobe, 200).remove(2, 18 + adobe.size() % 200), false},
        {"PNG, a profile inflating past 4 MB", withPngChunk(png, "iCCP", iccpOf(huge)), false},
    };
    std::vector<QImage> untagged;  // the JPEG and the PNG rendered without a profile
    for (const QByteArray& file : {jpeg, png}) {
        const auto rendered = testing::renderPdf(print(decoder.load(put("untagged", file))), 384);
        ASSERT_EQ(rendered.size(), 1u);
        untagged.push_back(shown(rendered[0], 64, 48, 4));
    }
    for (const auto& c : cases) {
        const QString path = put("picture", c.file);
        const Picture loaded = decoder.load(path);
        ASSERT_FALSE(loaded.isEmpty()) << c.name;
        const QString pdf = print(loaded);
        const auto pages = readPdf(pdf);
        ASSERT_EQ(pages.size(), 1u) << c.name;
        const testing::PdfImage& image = pages[0].images.at(0);
        if (!c.profiled) {
            EXPECT_EQ(image.colorSpace, "/DeviceRGB") << c.name;
            EXPECT_TRUE(image.profile.empty()) << c.name;
            if (c.file.startsWith("\xFF\xD8")) {
                EXPECT_TRUE(QByteArray::fromStdString(image.rawData) == c.file) << c.name;
            }
            continue;
        }
        EXPECT_TRUE(QByteArray::fromStdString(image.profile) == adobe) << c.name;
        EXPECT_EQ(image.profileComponents, 3) << c.name;
        EXPECT_EQ(image.profileAlternate, "/DeviceRGB") << c.name;
        // Rendered as the picture's pixels with the profile applied, unlike the same untagged.
        QImage expected = QImage(path).convertToFormat(QImage::Format_RGB32);
        expected.setColorSpace(QColorSpace::AdobeRgb);
        expected.convertToColorSpace(QColorSpace::SRgb);
        const auto rendered = testing::renderPdf(pdf, 384);
        ASSERT_EQ(rendered.size(), 1u) << c.name;
        const QImage shows = shown(rendered[0], 64, 48, 4);
        EXPECT_LT(testing::meanDifference(shows, expected), 1.5) << c.name;
        EXPECT_GT(testing::meanDifference(shows, untagged[c.file.startsWith("\xFF\xD8") ? 0 : 1]), 4) << c.name;
        EXPECT_EQ(testing::qpdfCheckProblems(pdf), "") << c.name;
    }

    // Pages whose pictures share a profile share its stream.
    const Picture a = decoder.load(put("a.jpg", withJpegProfile(jpeg, adobe, 60000)));
    const Picture b = decoder.load(put("b.png", saved(tagged, "png")));
    const QString pdf = dir.filePath("both.pdf");
    pdfprinter::writeOutputSettings(*registry, pdf);
    PrinterDevice& dc = service->printer();
    dc.paintPicture(a, 0, 0);
    dc.newPage();
    dc.paintPicture(b, 0, 0);
    dc.endDoc();
    service->pdfDriver().waitUntilIdle();
    const auto pages = readPdf(pdf);
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_NE(pages[0].images.at(0).profileObject, 0);
    EXPECT_EQ(pages[0].images[0].profileObject, pages[1].images.at(0).profileObject);
}

// A PNG file's EXIF orientation turns it, as stored and decoded alike.
// Decoded pictures keep their kind of samples: a palette GIF or BMP its palette (a third of the
// bytes), a 16-bit PNG with alpha its 16 bits; each shows as it did.
TEST_F(PictureFormatsTest, DecodedPalettesAndDeepSamplesStayAsTheyAre) {
    QImage deep(24, 16, QImage::Format_RGBA64);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 24; ++x)
            deep.setPixelColor(x, y, QColor::fromRgba64(quint16(x * 2731 + 7), quint16(y * 4001 + 3), 40000, x < 20 ? 65535 : 30000));
    QImage bmp = testing::cornersPicture(24, 16).convertToFormat(QImage::Format_Indexed8, Qt::ThresholdDither);
    const struct {
        const char* name;
        QByteArray file;
        const char* colorSpace;
        int bits;
    } cases[] = {
        {"palette.gif", makeGif(24, 16), "[ /Indexed /DeviceRGB", 8},
        {"palette.bmp", saved(bmp, "bmp"), "[ /Indexed /DeviceRGB", 8},
        {"deep.png", saved(deep, "png"), "/DeviceRGB", 16},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = put(c.name, c.file);
        const Picture picture = decoder.load(path);
        ASSERT_FALSE(picture.isEmpty());
        const auto pages = readPdf(print(picture));
        ASSERT_EQ(pages.size(), 1u);
        const testing::PdfImage& image = pages[0].images.at(0);
        EXPECT_EQ(image.colorSpace.rfind(c.colorSpace, 0), 0u) << image.colorSpace;
        EXPECT_EQ(image.bitsPerComponent, c.bits);
        if (c.bits == 16) {  // the samples themselves, big-endian
            std::string samples;
            for (int y = 0; y < 16; ++y)
                for (int x = 0; x < 24; ++x)
                    for (const quint16 v : {deep.pixelColor(x, y).rgba64().red(), deep.pixelColor(x, y).rgba64().green(),
                                            deep.pixelColor(x, y).rgba64().blue()})
                        samples += char(v >> 8), samples += char(v & 255);
            EXPECT_TRUE(image.decodedData == samples);
        }
        const QImage expected = QImage(path).convertToFormat(QImage::Format_ARGB32);
        const auto rendered = testing::renderPdf(print(picture), 4 * 96);
        ASSERT_EQ(rendered.size(), 1u);
        // (Transparency shows the white page.)
        QImage onWhite(expected.size(), QImage::Format_RGB32);
        onWhite.fill(Qt::white);
        QPainter(&onWhite).drawImage(0, 0, expected);
        EXPECT_LT(testing::meanDifference(shown(rendered[0], 24, 16, 4), onWhite), 1.5);
    }
}

// A HEIF photo's colours: its ICC profile, or the profile its colour code points describe (a
// phone's Display P3); sRGB's, unstated and HDR ones stay the PDF's own RGB.
TEST_F(PictureFormatsTest, HeifColoursComeFromTheirProfileOrCodePoints) {
    const QImage picture = testing::cornersPicture(64, 48);
    const QByteArray adobe = QColorSpace(QColorSpace::AdobeRgb).iccProfile();
    const struct {
        const char* name;
        QByteArray file;
        QColorSpace::Primaries primaries;  // Custom: /DeviceRGB
    } cases[] = {
        {"ICC profile", testing::makeHeif(picture, 1, 1, adobe), QColorSpace::Primaries::AdobeRgb},
        {"Display P3", testing::makeHeif(picture, 1, 1, {}, 12, 13), QColorSpace::Primaries::DciP3D65},
        {"sRGB", testing::makeHeif(picture, 1, 1, {}, 1, 13), QColorSpace::Primaries::Custom},
        {"nothing stated", testing::makeHeif(picture, 1), QColorSpace::Primaries::Custom},
        {"HDR (PQ)", testing::makeHeif(picture, 1, 1, {}, 9, 16), QColorSpace::Primaries::Custom},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Picture loaded = decoder.load(put("photo.heic", c.file));
        ASSERT_FALSE(loaded.isEmpty());
        const auto pages = readPdf(print(loaded));
        ASSERT_EQ(pages.size(), 1u);
        const testing::PdfImage& image = pages[0].images.at(0);
        if (c.primaries == QColorSpace::Primaries::Custom) {
            EXPECT_EQ(image.colorSpace, "/DeviceRGB");
            continue;
        }
        const QColorSpace space = QColorSpace::fromIccProfile(QByteArray::fromStdString(image.profile));
        EXPECT_EQ(space.primaries(), c.primaries);
        EXPECT_EQ(space.transferFunction(), c.primaries == QColorSpace::Primaries::AdobeRgb ? QColorSpace::TransferFunction::Gamma
                                                                                               : QColorSpace::TransferFunction::SRgb);
        EXPECT_EQ(image.profileComponents, 3);
    }
}

// CMYK JPEG data in a TIFF goes in as it is stored, and prints the inks the same page stored
// uncompressed prints: not inverted (libtiff writes no Adobe marker).
TEST_F(PictureFormatsTest, CmykJpegInTiffPrintsItsInks) {
    constexpr int width = 64, height = 48;
    const QString path = dir.filePath("cmyk.tif");
    TIFF* tif = TIFFOpen(QFile::encodeName(path).constData(), "w");
    ASSERT_NE(tif, nullptr);
    for (const int compression : {COMPRESSION_NONE, COMPRESSION_JPEG}) {
        TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
        TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height);
        TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 4);
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_SEPARATED);
        TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(tif, TIFFTAG_COMPRESSION, compression);
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, height);  // one strip: the JPEG data whole
        for (int y = 0; y < height; ++y) {
            std::vector<std::uint8_t> row;
            for (int x = 0; x < width; ++x)  // smooth inks: JPEG keeps them close
                row.insert(row.end(), {std::uint8_t(x * 4), std::uint8_t(y * 5), std::uint8_t(200 - x * 3), std::uint8_t(y)});
            ASSERT_EQ(TIFFWriteScanline(tif, row.data(), std::uint32_t(y), 0), 1);
        }
        ASSERT_TRUE(TIFFWriteDirectory(tif));
    }
    TIFFClose(tif);
    const QString pdf = print(decoder.load(path));
    const auto pages = readPdf(pdf);
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_EQ(pages[1].images.at(0).colorSpace, "/DeviceCMYK");
    EXPECT_EQ(pages[1].images[0].rawData.rfind("\xFF\xD8", 0), 0u);  // the JPEG data itself
    const auto rendered = testing::renderPdf(pdf, 4 * 96);
    ASSERT_EQ(rendered.size(), 2u);
    EXPECT_LT(testing::meanDifference(shown(rendered[0], width, height, 4), shown(rendered[1], width, height, 4)), 3);
}

}  // namespace
}  // namespace pictolio
