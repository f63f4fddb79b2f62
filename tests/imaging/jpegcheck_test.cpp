// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include "imaging/imagesource.h"

#include "imaging/jpegfile.h"
#include "tests/support/testpictures.h"

namespace imaging {
namespace {

using pictolio::testing::JpegRecipe;
using pictolio::testing::makeJpeg;

JpegStatus check(const QByteArray& data, JpegInfo* info = nullptr) {
    return checkJpeg(reinterpret_cast<const std::uint8_t*>(data.constData()),
                     std::size_t(data.size()), info);
}

// Finds the first marker segment of the given kind; -1 when there is none.
qsizetype findMarker(const QByteArray& data, unsigned char marker) {
    for (qsizetype i = 2; i + 1 < data.size(); ++i)
        if (uchar(data[i]) == 0xFF && uchar(data[i + 1]) == marker) return i;
    return -1;
}

QByteArray withoutSegment(QByteArray data, unsigned char marker) {
    const qsizetype at = findMarker(data, marker);
    const int length = (uchar(data[at + 2]) << 8) | uchar(data[at + 3]);
    return data.remove(at, 2 + length);
}

TEST(JpegCheck, AcceptsTheKindsOfJpegPeopleHave) {
    const struct {
        const char* name;
        JpegRecipe recipe;
        int components;
        bool progressive, arithmetic, rgb, adobe;
    } cases[] = {
        {"baseline", {}, 3, false, false, false, false},
        {"progressive", {.progressive = true}, 3, true, false, false, false},
        {"grey", {.kind = JpegRecipe::Kind::Gray}, 1, false, false, false, false},
        {"RGB without APP14", {.kind = JpegRecipe::Kind::Rgb}, 3, false, false, true, false},
        {"Adobe CMYK", {.kind = JpegRecipe::Kind::AdobeCmyk}, 4, false, false, false, true},
        {"YCCK", {.kind = JpegRecipe::Kind::Ycck}, 4, false, false, false, true},
        {"arithmetic", {.arithmetic = true}, 3, false, true, false, false},
        {"arithmetic progressive", {.progressive = true, .arithmetic = true}, 3, true, true,
         false, false},
        {"odd size", {.width = 1, .height = 3}, 3, false, false, false, false},
    };
    for (const auto& c : cases) {
        JpegInfo info;
        ASSERT_EQ(check(makeJpeg(c.recipe), &info), JpegStatus::Ok) << c.name;
        EXPECT_EQ(info.width, c.recipe.width) << c.name;
        EXPECT_EQ(info.height, c.recipe.height) << c.name;
        EXPECT_EQ(info.components, c.components) << c.name;
        EXPECT_EQ(info.progressive, c.progressive) << c.name;
        EXPECT_EQ(info.arithmetic, c.arithmetic) << c.name;
        EXPECT_EQ(info.rgbColorSpace, c.rgb) << c.name;
        EXPECT_EQ(info.hasAdobe, c.adobe) << c.name;
    }
}

QByteArray withoutAll(QByteArray data, unsigned char marker) {
    while (findMarker(data, marker) >= 0) data = withoutSegment(data, marker);
    return data;
}

// Motion-JPEG frames (webcam stills) have no Huffman tables and mean the standard ones.
TEST(JpegCheck, FramesWithoutHuffmanTablesGetTheStandardOnes) {
    for (const auto kind : {JpegRecipe::Kind::YCbCr, JpegRecipe::Kind::Gray}) {
        const QByteArray full = makeJpeg({.width = 40, .height = 30, .kind = kind});
        const QByteArray bare = withoutAll(full, 0xC4);
        ASSERT_LT(bare.size(), full.size());
        JpegInfo info;
        ASSERT_EQ(check(bare, &info), JpegStatus::Ok);
        EXPECT_EQ(info.standardTablesAt, std::size_t(findMarker(bare, 0xDA)));
        // The standard tables are what the JPEG library wrote: put back, the file is whole.
        const std::vector<std::uint8_t>& tables = standardHuffmanTables();
        const QByteArray mended = bare.left(qsizetype(info.standardTablesAt)) +
                                  QByteArray(reinterpret_cast<const char*>(tables.data()), qsizetype(tables.size())) +
                                  bare.mid(qsizetype(info.standardTablesAt));
        int w1, h1, c1, w2, h2, c2;
        EXPECT_EQ(pictolio::testing::decodeJpeg(mended, &w1, &h1, &c1),
                  pictolio::testing::decodeJpeg(full, &w2, &h2, &c2));
        JpegInfo own;
        ASSERT_EQ(check(full, &own), JpegStatus::Ok);
        EXPECT_EQ(own.standardTablesAt, 0u);
    }
}

TEST(JpegCheck, RefusesDamagedTruncatedAndUnsupportedFiles) {
    const QByteArray good = makeJpeg({.width = 160, .height = 120});
    const QByteArray progressive = makeJpeg({.width = 160, .height = 120, .progressive = true});
    QByteArray twelveBit = good;
    twelveBit[findMarker(good, 0xC0) + 4] = 12;
    QByteArray huge = good;
    const qsizetype sof = findMarker(good, 0xC0);
    huge[sof + 5] = char(0xFF), huge[sof + 6] = char(0xDC);  // 65500 high
    huge[sof + 7] = char(0xFF), huge[sof + 8] = char(0xDC);  // 65500 wide
    QByteArray lossless = good;
    lossless[sof + 1] = char(0xC3);
    QByteArray badLength = good;
    badLength[findMarker(good, 0xDB) + 2] = char(0x7F);
    QByteArray noComponents = good;
    noComponents[sof + 9] = 0;
    // Cut in half and given its end-of-image marker again: restart markers tell what is missing.
    const auto recut = [](const QByteArray& whole) { return whole.left(whole.size() / 2) + QByteArray("\xFF\xD9", 2); };
    const QByteArray restarting = makeJpeg({.width = 160, .height = 120, .restartInterval = 2});
    const QByteArray grey = makeJpeg({.width = 161, .height = 119, .kind = JpegRecipe::Kind::Gray, .restartInterval = 3});
    const QByteArray restartingProgressive =
        makeJpeg({.width = 160, .height = 120, .progressive = true, .restartInterval = 1});
    QByteArray badSampling = good;
    badSampling[sof + 11] = 0x00;  // first component sampled 0x0
    // Cut at its last restart marker: one interval short.
    QByteArray oneShort = restarting;
    for (qsizetype i = oneShort.size() - 2; i > 0; --i)
        if (uchar(oneShort[i]) == 0xFF && uchar(oneShort[i + 1]) >= 0xD0 && uchar(oneShort[i + 1]) <= 0xD7) {
            oneShort = oneShort.left(i) + QByteArray("\xFF\xD9", 2);
            break;
        }

    const struct {
        const char* name;
        QByteArray data;
        JpegStatus expected;
    } cases[] = {
        {"empty", QByteArray(), JpegStatus::NotJpeg},
        {"text", QByteArray("just some text, not a picture"), JpegStatus::NotJpeg},
        {"PNG signature", QByteArray("\x89PNG\r\n\x1a\n0000000000", 18), JpegStatus::NotJpeg},
        {"start of image and a marker", good.left(4), JpegStatus::Truncated},
        {"cut in the headers", good.left(100), JpegStatus::Truncated},
        {"cut in half", good.left(good.size() / 2), JpegStatus::Truncated},
        {"progressive cut in half", progressive.left(progressive.size() / 2),
         JpegStatus::Truncated},
        {"end-of-image marker missing", good.left(good.size() - 2), JpegStatus::Truncated},
        {"with restart markers", restarting, JpegStatus::Ok},
        {"grey, with restart markers", grey, JpegStatus::Ok},
        {"progressive, with restart markers", restartingProgressive, JpegStatus::Ok},
        {"cut, its end marker put back", recut(restarting), JpegStatus::DataMissing},
        {"grey, cut, its end marker put back", recut(grey), JpegStatus::DataMissing},
        {"its last restart interval missing", oneShort, JpegStatus::DataMissing},
        {"progressive without Huffman tables", withoutAll(progressive, 0xC4), JpegStatus::Corrupt},
        {"one of two Huffman tables missing", withoutSegment(good, 0xC4), JpegStatus::Corrupt},
        {"no quantisation tables", withoutSegment(good, 0xDB), JpegStatus::Corrupt},
        {"no frame header", withoutSegment(good, 0xC0), JpegStatus::Corrupt},
        {"no scan", good.left(findMarker(good, 0xDA)) + QByteArray("\xFF\xD9", 2),
         JpegStatus::Corrupt},
        {"segment longer than the file", badLength, JpegStatus::Truncated},
        {"frame without components", noComponents, JpegStatus::Corrupt},
        {"sampling factor 0", badSampling, JpegStatus::Corrupt},
        {"12-bit", twelveBit, JpegStatus::Unsupported},
        {"lossless", lossless, JpegStatus::Unsupported},
        {"65500 x 65500", huge, JpegStatus::TooLarge},
    };
    for (const auto& c : cases) EXPECT_EQ(check(c.data), c.expected) << c.name;
}

// A picture with a grain, as photos have, so that its data is large for its size.
QByteArray grainyJpeg(JpegRecipe recipe) {
    std::vector<unsigned char> rgb(std::size_t(recipe.width) * std::size_t(recipe.height) * 3);
    std::uint32_t noise = 12345;
    for (std::size_t i = 0; i < rgb.size(); ++i) {
        noise = noise * 1103515245 + 12345;
        rgb[i] = uchar((i / 3 % std::size_t(recipe.width)) * 200 / std::size_t(recipe.width) + (noise >> 26));
    }
    return pictolio::testing::makeJpegFromRgb(recipe, rgb.data());
}

TEST(JpegCheck, PictureDataCutShortIsFoundWithoutRestartMarkers) {
    // Cut and given its end-of-image marker again, a file looks whole to its markers: its data
    // stops part-way through a block. A whole file's data ends with an MCU.
    const auto cutAt = [](const QByteArray& whole, double share) {
        return whole.left(qsizetype(double(whole.size()) * share)) + QByteArray("\xFF\xD9", 2);
    };
    const auto beforeEnd = [](QByteArray whole, const QByteArray& bytes) { return whole.insert(whole.size() - 2, bytes); };
    const QByteArray photo = grainyJpeg({.width = 640, .height = 480});
    const QByteArray greyPhoto = grainyJpeg({.width = 640, .height = 480, .kind = JpegRecipe::Kind::Gray});
    const QByteArray fine = grainyJpeg({.width = 320, .height = 240, .quality = 100});
    const QByteArray plain = makeJpeg({.width = 1600, .height = 1200});  // few bits an MCU
    const QByteArray perComponent = grainyJpeg({.width = 320, .height = 240, .scanPerComponent = true});
    const QByteArray restarting = grainyJpeg({.width = 640, .height = 480, .restartInterval = 300});
    qsizetype lastRestart = restarting.size() - 2;
    while (!(uchar(restarting[lastRestart]) == 0xFF && (uchar(restarting[lastRestart + 1]) & 0xF8) == 0xD0)) --lastRestart;
    ASSERT_GT(photo.size(), 20000);
    const struct {
        const char* name;
        QByteArray data;
        JpegStatus expected;
    } cases[] = {
        {"photo", photo, JpegStatus::Ok},
        {"photo cut in half", cutAt(photo, 0.5), JpegStatus::DataMissing},
        {"photo cut near its end", cutAt(photo, 0.97), JpegStatus::DataMissing},
        {"grey photo cut", cutAt(greyPhoto, 0.6), JpegStatus::DataMissing},
        {"finest quality cut", cutAt(fine, 0.5), JpegStatus::DataMissing},
        {"plain picture", plain, JpegStatus::Ok},
        {"plain picture cut", cutAt(plain, 0.5), JpegStatus::DataMissing},
        {"small picture cut", cutAt(makeJpeg({}), 0.8), JpegStatus::DataMissing},
        {"a scan a component", perComponent, JpegStatus::Ok},
        {"a scan a component, cut in the first", cutAt(perComponent, 0.3), JpegStatus::DataMissing},
        {"a scan a component, cut in the last", cutAt(perComponent, 0.95), JpegStatus::DataMissing},
        {"a scan a component, the last left out",
         perComponent.left(perComponent.lastIndexOf("\xFF\xDA")) + QByteArray("\xFF\xD9", 2), JpegStatus::DataMissing},
        {"cut in its last restart interval",
         restarting.left(lastRestart + (restarting.size() - lastRestart) / 2) + QByteArray("\xFF\xD9", 2),
         JpegStatus::DataMissing},
        // Whole, with what some writers put after the data: viewers show these whole.
        {"zero bytes before the end marker", beforeEnd(photo, QByteArray(40, 0)), JpegStatus::Ok},
        {"fill bytes before the end marker", beforeEnd(photo, QByteArray(3, char(0xFF))), JpegStatus::Ok},
    };
    for (const auto& c : cases) EXPECT_EQ(check(c.data), c.expected) << c.name;
}

TEST(JpegCheck, BytesAfterTheEndOfImageAreAllowed) {
    // Some cameras append data after the picture; viewers show such files.
    EXPECT_EQ(check(makeJpeg({}) + QByteArray(300, 'x')), JpegStatus::Ok);
}

TEST(JpegCheck, DensityAndOrientation) {
    const struct {
        const char* name;
        JpegRecipe recipe;
        double xDpi, yDpi;
        int orientation;
    } cases[] = {
        {"JFIF dots per inch", {.densityUnit = 1, .xDensity = 300, .yDensity = 150}, 300, 150, 1},
        {"JFIF dots per cm", {.densityUnit = 2, .xDensity = 100, .yDensity = 100}, 254, 254, 1},
        {"JFIF aspect only, EXIF 72 dpi",
         {.exif = true, .exifXRes = 72, .exifYRes = 72}, 72, 72, 1},
        {"EXIF per cm", {.exif = true, .exifXRes = 40, .exifYRes = 40, .exifResUnit = 3}, 101.6,
         101.6, 1},
        {"JFIF wins over EXIF",
         {.densityUnit = 1, .xDensity = 200, .yDensity = 200, .exif = true, .exifXRes = 72,
          .exifYRes = 72},
         200, 200, 1},
        {"nothing stated", {}, 0, 0, 1},
        {"JFIF 5 dpi is no density", {.densityUnit = 1, .xDensity = 5, .yDensity = 5}, 0, 0, 1},
        {"JFIF 20000 dpi falls back to EXIF",
         {.densityUnit = 1, .xDensity = 20000, .yDensity = 20000, .exif = true,
          .exifXRes = 300, .exifYRes = 300},
         300, 300, 1},
        {"EXIF without unit", {.exif = true, .exifXRes = 300, .exifYRes = 300, .exifResUnit = 1},
         0, 0, 1},
        {"orientation 6", {.exif = true, .orientation = 6}, 0, 0, 6},
        {"orientation 8", {.exif = true, .orientation = 8}, 0, 0, 8},
        {"orientation 0 is no rotation", {.exif = true, .orientation = 0}, 0, 0, 1},
        {"orientation 9 is no rotation", {.exif = true, .orientation = 9}, 0, 0, 1},
        {"orientation 300 is no rotation", {.exif = true, .orientation = 300}, 0, 0, 1},
    };
    for (const auto& c : cases) {
        JpegInfo info;
        ASSERT_EQ(check(makeJpeg(c.recipe), &info), JpegStatus::Ok) << c.name;
        EXPECT_NEAR(info.xDpi, c.xDpi, 0.01) << c.name;
        EXPECT_NEAR(info.yDpi, c.yDpi, 0.01) << c.name;
        EXPECT_EQ(info.orientation, c.orientation) << c.name;
    }
}

TEST(JpegCheck, ArithmeticFilesBecomeHuffmanWithTheSamePixels) {
    for (const bool progressive : {false, true}) {
        const QByteArray arithmetic = makeJpeg({.width = 100, .height = 70,
                                                .progressive = progressive, .arithmetic = true});
        const std::vector<std::uint8_t> huffman = transcodeToHuffman(
            reinterpret_cast<const std::uint8_t*>(arithmetic.constData()), std::size_t(arithmetic.size()));
        const QByteArray out(reinterpret_cast<const char*>(huffman.data()), qsizetype(huffman.size()));
        JpegInfo info;
        ASSERT_EQ(check(out, &info), JpegStatus::Ok);
        EXPECT_FALSE(info.arithmetic);
        int w1, h1, c1, w2, h2, c2;
        EXPECT_EQ(pictolio::testing::decodeJpeg(arithmetic, &w1, &h1, &c1),
                  pictolio::testing::decodeJpeg(out, &w2, &h2, &c2))
            << "progressive " << progressive;
    }
}

// A marker segment of the given kind with the given contents.
QByteArray segment(unsigned char marker, const QByteArray& contents) {
    const qsizetype length = contents.size() + 2;
    return QByteArray("\xFF", 1) + char(marker) + char(length >> 8) + char(length & 255) + contents;
}

// Decoders read the markers that describe the picture before the first scan only: one after it
// must not make an RGB file look as if it had its APP14 marker, nor set density or orientation.
TEST(JpegCheck, MarkersAfterTheFirstScanDescribeNothing) {
    const auto late = [](const JpegRecipe& recipe, const QByteArray& seg) {
        const QByteArray jpeg = makeJpeg(recipe);
        return jpeg.left(jpeg.size() - 2) + seg + jpeg.right(2);
    };
    const QByteArray adobe = segment(0xEE, QByteArray("Adobe\0\x64\0\0\0\0\0", 12));
    const QByteArray jfif =  // 300 dots per inch
        segment(0xE0, QByteArray("JFIF\0\x01\x02\x01\x01\x2C\x01\x2C\0\0", 14));
    JpegInfo rgb, density, turned;
    ASSERT_EQ(check(late({.kind = JpegRecipe::Kind::Rgb}, adobe), &rgb), JpegStatus::Ok);
    EXPECT_FALSE(rgb.hasAdobe);  // so the APP14 segment an RGB file needs is put in
    EXPECT_TRUE(rgb.rgbColorSpace);
    ASSERT_EQ(check(late({.jfif = false}, jfif), &density), JpegStatus::Ok);
    EXPECT_EQ(density.xDpi, 0);
    const QByteArray exif = makeJpeg({.exif = true, .orientation = 6});
    const qsizetype app1 = findMarker(exif, 0xE1);
    const int app1Length = (uchar(exif[app1 + 2]) << 8) | uchar(exif[app1 + 3]);
    ASSERT_EQ(check(late({}, exif.mid(app1, 2 + app1Length)), &turned), JpegStatus::Ok);
    EXPECT_EQ(turned.orientation, 1);
}

// An arithmetic-coded file is re-encoded when printed: whether that works is known when the
// file is checked, not when its page is written.
TEST(JpegCheck, ArithmeticFilesAreCheckedAsTheyWillBeReEncoded) {
    const QByteArray clean = makeJpeg({.width = 100, .height = 70, .arithmetic = true});
    QByteArray stray = clean;
    stray.insert(findMarker(clean, 0xDB), "junk");
    const QByteArray progressive =
        makeJpeg({.width = 100, .height = 70, .progressive = true, .arithmetic = true});
    const qsizetype lastScan = progressive.lastIndexOf("\xFF\xDA");
    const QByteArray twice = progressive.left(progressive.size() - 2) +
                             progressive.mid(lastScan, progressive.size() - 2 - lastScan) +
                             progressive.right(2);
    // The second quantisation table, changed, again before the last scan: the components that
    // use it have kept the first one, which the JPEG library cannot write back.
    const qsizetype secondTable = progressive.indexOf("\xFF\xDB", findMarker(progressive, 0xDB) + 2);
    QByteArray table = progressive.mid(secondTable, 2 + 67);
    table[2 + 66] = char(uchar(table[2 + 66]) + 1);
    const QByteArray redefined = QByteArray(progressive).insert(lastScan, table);
    const QByteArray manyScans = makeJpeg({.arithmetic = true, .approximationSteps = 6});
    // Found by fuzzing: coefficients beyond what Huffman coding can hold.
    const QByteArray outOfRange = pictolio::testing::readFile(
        QDir(QStringLiteral(PICTOLIO_TEST_DATA)).filePath("arithmetic-coefficient-out-of-range.jpg"));
    ASSERT_FALSE(outOfRange.isEmpty());

    const struct {
        const char* name;
        QByteArray data;
        JpegStatus expected;
    } cases[] = {
        {"stray bytes between markers", stray, JpegStatus::Ok},
        {"a refinement scan sent twice", twice, JpegStatus::Corrupt},
        {"a quantisation table redefined after the first scan", redefined, JpegStatus::Corrupt},
        {"coefficients out of Huffman coding's range", outOfRange, JpegStatus::Corrupt},
        {"1135 scans", manyScans, JpegStatus::Unsupported},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(check(c.data), c.expected) << c.name;
        const auto transcode = [&] {
            return transcodeToHuffman(reinterpret_cast<const std::uint8_t*>(c.data.constData()),
                                      std::size_t(c.data.size()));
        };
        if (c.expected != JpegStatus::Ok) {
            EXPECT_THROW(transcode(), std::runtime_error) << c.name;
            continue;
        }
        const std::vector<std::uint8_t> huffman = transcode();
        const QByteArray out(reinterpret_cast<const char*>(huffman.data()),
                             qsizetype(huffman.size()));
        int w1, h1, c1, w2, h2, c2;
        EXPECT_EQ(pictolio::testing::decodeJpeg(out, &w1, &h1, &c1),
                  pictolio::testing::decodeJpeg(clean, &w2, &h2, &c2))
            << c.name;
    }
}

TEST(JpegCheck, TheCheckedBytesAreTheBytesWritten) {
    QTemporaryDir dir;
    const struct {
        const char* name;
        JpegRecipe recipe;
    } cases[] = {
        {"baseline", {}},
        {"RGB without APP14", {.kind = JpegRecipe::Kind::Rgb, .jfif = false}},
        {"arithmetic", {.arithmetic = true}},
    };
    for (const auto& c : cases) {
        const std::string path = QFile::encodeName(dir.filePath(QString(c.name) + ".jpg")).toStdString();
        const QByteArray file = makeJpeg(c.recipe);
        pictolio::testing::writeFile(QString::fromStdString(path), file);
        JpegFileImage::Bytes bytes(file.begin(), file.end());
        JpegInfo info;
        ASSERT_EQ(checkJpeg(bytes.data(), bytes.size(), &info), JpegStatus::Ok) << c.name;
        const auto details = JpegFileImage::Details::of(info);
        const FileIdentity identity = FileIdentity::ofPath(path);
        const auto written = [](const ImageSource& image) {
            std::string out;
            image.writeData([&](const std::uint8_t* d, std::size_t n) { out.append(reinterpret_cast<const char*>(d), n); });
            return out;
        };
        // Kept from the check, or read again: the same data either way.
        const JpegFileImage kept(path, identity, details, bytes), reread(path, identity, details);
        EXPECT_TRUE(kept.keepsBytes()) << c.name;
        EXPECT_FALSE(reread.keepsBytes()) << c.name;
        EXPECT_EQ(written(kept), written(reread)) << c.name;
        // Once its page is written the bytes may go; the file gives the same data again.
        const JpegFileImage dropped(path, identity, details, bytes);
        dropped.letGoOfKeptBytes();
        EXPECT_FALSE(dropped.keepsBytes()) << c.name;
        EXPECT_EQ(written(dropped), written(reread)) << c.name;
        // Rewritten after the check: neither is still the picture checked; read again, it fails.
        pictolio::testing::writeFile(QString::fromStdString(path), makeJpeg({.width = 9, .height = 9}));
        EXPECT_FALSE(kept.stillAsChecked()) << c.name;
        EXPECT_THROW(written(reread), std::runtime_error) << c.name;
    }
    // The bytes kept have a budget: a picture past it is read again; bytes let go of give their
    // room back.
    JpegFileImage::Bytes large(std::size_t(JpegFileImage::keptBytesBudget) + 1);
    FileIdentity pretend;
    pretend.size = std::int64_t(large.size());
    EXPECT_FALSE(JpegFileImage("/nowhere", pretend, {}, large).keepsBytes());
    pretend.size = JpegFileImage::keptBytesBudget;
    const JpegFileImage whole("/nowhere", pretend, {}, JpegFileImage::Bytes(std::size_t(pretend.size)));
    ASSERT_TRUE(whole.keepsBytes());
    EXPECT_FALSE(JpegFileImage::mayKeep(1));
    whole.letGoOfKeptBytes();
    EXPECT_TRUE(JpegFileImage::mayKeep(JpegFileImage::keptBytesBudget));
}

}  // namespace
}  // namespace imaging
