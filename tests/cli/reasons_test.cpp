// SPDX-License-Identifier: GPL-3.0-or-later
// What pictolio-convert makes of the files it is given: for every reader, why a file is not a
// picture (cut short, another kind under its name, too large, a kind it does not take); and which
// files of a folder are pictures.
#include <gtest/gtest.h>

#include <tiffio.h>
#include <sys/stat.h>
#include <zlib.h>

#include <QBuffer>
#include <array>
#include <QtEndian>
#include <QCoreApplication>
#include <QPainter>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>

#include "common/outcome.h"
#include "pictures/picture.h"
#include "tests/cli/commandfixture.h"
#include "tests/support/picturefiles.h"
#include "tests/support/testpictures.h"

namespace pictolio {
namespace {

// The bytes with `with` written over them at `at`.
QByteArray patched(QByteArray bytes, qsizetype at, const QByteArray& with) {
    return bytes.replace(at, with.size(), with);
}
// A PNG file whose image data does not inflate, with checksums that match.
QByteArray uninflatable(QByteArray png) {
    const qsizetype idat = png.indexOf("IDAT"), length = qFromBigEndian<quint32>(png.constData() + idat - 4);
    for (qsizetype i = idat + 6; i < idat + 4 + length; ++i) png[i] = char(0xA5);
    const quint32 crc = quint32(crc32(0, reinterpret_cast<const Bytef*>(png.constData() + idat), uInt(length + 4)));
    qToBigEndian(crc, png.data() + idat + 4 + length);
    return png;
}
// The PNG file with its header's checksum made to match the header.
QByteArray withHeaderChecksum(QByteArray png) {
    qToBigEndian(quint32(crc32(0, reinterpret_cast<const Bytef*>(png.constData() + 12), 17)), png.data() + 29);
    return png;
}
// A little-endian TIFF file of one directory of these (tag, type, value) entries, then 16 bytes of
// data (at byte 134 after ten entries, 122 after nine).
QByteArray tiffWithTags(const std::vector<std::array<quint32, 3>>& entries) {
    QByteArray file("II*\0\x08\0\0\0", 8);
    const auto put = [&](quint32 value, int bytes) {
        for (int i = 0; i < bytes; ++i) file += char(value >> (8 * i));
    };
    put(quint32(entries.size()), 2);
    for (const auto& [tag, type, value] : entries) put(tag, 2), put(type, 2), put(1, 4), put(value, 4);
    put(0, 4);
    return file + QByteArray(16, char(0x80));
}
QByteArray be16(int v) { return QByteArray::fromHex(QByteArray::number(v, 16).rightJustified(4, '0')); }

// A TIFF file of one page of width x height samples of `bits` in `format` (SAMPLEFORMAT_*), with the
// data of its first rows only: libtiff reads the page's tags all the same.
QByteArray tiffOf(const QString& path, std::uint32_t width, std::uint32_t height, int bits,
                 int format = SAMPLEFORMAT_UINT) {
    TIFF* tif = TIFFOpen(path.toLocal8Bit().constData(), "w");
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, bits);
    TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, format);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 1);
    std::vector<std::uint8_t> row(std::size_t(width) * std::size_t(bits) / 8);
    for (std::uint32_t y = 0; y < std::min<std::uint32_t>(height, 8); ++y) TIFFWriteScanline(tif, row.data(), y, 0);
    TIFFClose(tif);
    return testing::readFile(path);
}

using NotAPicture = testing::ConvertCommand;

TEST_F(NotAPicture, EveryReaderSaysWhy) {
    const QTemporaryDir& dir = pics;
    const QByteArray text = "this is not a picture\n";
    const QImage colour = testing::cornersPicture(64, 48);
    const QByteArray jpeg = testing::makeJpeg({});
    const QByteArray restarting = testing::makeJpeg({.width = 640, .height = 480, .restartInterval = 4});
    const qsizetype sof = jpeg.indexOf("\xFF\xC0");
    const QByteArray png = testing::makePng({});
    testing::writeTiff(dir.filePath("whole.tif"), {{.upright = colour, .compression = COMPRESSION_LZW}});
    const QByteArray tiff = testing::readFile(dir.filePath("whole.tif"));
    // A compression scheme no codec has, set by libtiff's own tool.
    QFile::copy(dir.filePath("whole.tif"), dir.filePath("scheme.tif"));
    ASSERT_EQ(QProcess::execute("tiffset", {"-s", "259", "12345", dir.filePath("scheme.tif")}), 0);
    const QByteArray heic = testing::makeHeif(colour, 1);
    const qsizetype ispe = heic.lastIndexOf("ispe") + 8;  // the primary image's (a grid of tiles)
    const QByteArray webp = testing::makeWebp(colour, 100);  // lossless: a VP8L header after byte 20
    QImage flat(40, 30, QImage::Format_RGB32);  // few colours, as a GIF takes them
    flat.fill(Qt::red);
    QPainter(&flat).fillRect(10, 10, 20, 10, Qt::blue);
    const QByteArray gif = testing::makeAnimatedGif({{flat}});
    const QByteArray flicker = testing::makeAnimatedGif(std::vector<testing::GifFrame>(1001, {flat.copy(0, 0, 1, 1)}));
    const auto encoded = [](const QImage& picture, const char* format) {  // empty when it cannot be
        QByteArray bytes;
        QBuffer buffer(&bytes);
        picture.save(&buffer, format);
        return bytes;
    };
    const QByteArray bmp = encoded(colour, "BMP"), xpm = encoded(flat, "XPM"), ppm = encoded(flat, "PPM"),
                     ico = encoded(flat, "ICO");
    const struct {
        const char* name;
        QByteArray file;
        QString says;  // what the reason says, after "not a picture: <path>: "
    } cases[] = {
        {"cut.jpg", jpeg.left(jpeg.size() * 2 / 3),
         "truncated JPEG: the data ends at byte " + byteCount(jpeg.size() * 2 / 3) + ", before its end-of-image marker"},
        {"cut-and-ended.jpg", restarting.left(restarting.size() / 2) + QByteArray("\xFF\xD9", 2),
         "truncated JPEG: part of its picture data is missing"},
        {"cut-and-ended-plain.jpg", jpeg.left(jpeg.size() * 2 / 3) + QByteArray("\xFF\xD9", 2),
         "truncated JPEG: part of its picture data is missing, though the file ends as a whole one does"},
        {"text.jpg", text, "not a JPEG file: the file starts with the bytes 74 68 69 73 20 69 73 20 which"},
        {"large.jpg", patched(jpeg, sof + 5, be16(30000) + be16(30000)),
         "too large: 30000 x 30000 pixels, more than the 400,000,000 a JPEG picture may have"},
        {"12-bit.jpg", patched(jpeg, sof + 4, QByteArray(1, 12)), "unsupported JPEG: 12-bit samples"},
        {"jpeg-ls.jpg", patched(jpeg, sof + 1, "\xF7"), "unsupported JPEG: JPEG-LS coding"},
        {"cut.png", png.chopped(20), "truncated PNG: the data ends at byte " + byteCount(png.size() - 20)},
        {"text.png", text, "not a PNG file: the file starts"},
        {"new\nline.png", text, "not a PNG file: the file starts"},  // shown on one line
        {"damaged.png", uninflatable(png), "damaged PNG: its image data cannot be inflated (zlib: "},
        {"checksum.png", patched(png, png.indexOf("IDAT") + 6, "?"),
         "damaged PNG: its IDAT chunk at byte " + byteCount(png.indexOf("IDAT") - 4) + " fails its checksum"},
        {"large-header.png", withHeaderChecksum(patched(png, 16, QByteArray::fromHex("0000753000007530"))),
         "too large: 30000 x 30000 pixels, more than the 400,000,000 a PNG picture may have"},
        {"no-data.png", png.left(33) + QByteArray::fromHex("0000000049454e44ae426082"),
         "damaged PNG: it ends (IEND) before any image data (IDAT)"},
        {"mng-filter.png", withHeaderChecksum(patched(png, 27, QByteArray(1, 64))),
         "unsupported PNG: filter method 64, which only MNG"},
        {"large.png", testing::transparentPng(6000, 6000), "too large: 6000 x 6000 pixels take 138 MB decoded"},
        {"cut.tif", tiff.left(tiff.size() / 2), "truncated TIFF: "},
        {"text.tif", text, "not a TIFF file: the file starts"},
        {"large.tif", tiffOf(dir.filePath("large"), 30000, 30000, 8),
         "too large: 30000 x 30000 pixels, more than the 400,000,000 a TIFF page may have"},
        {"scheme.tif", testing::readFile(dir.filePath("scheme.tif")),
         "unsupported TIFF: page 1 is compressed by scheme 12345, which libtiff cannot decode"},
        {"tiles.tif",
         tiffWithTags({{256, 3, 1}, {257, 3, 1}, {258, 3, 8}, {259, 3, 1}, {262, 3, 1}, {277, 3, 1}, {322, 4, 1 << 20},
                       {323, 4, 1 << 20}, {324, 4, 134}, {325, 4, 16}}),
         "damaged TIFF: page 1 of 1 x 1 pixels has tiles of 1048576 x 1048576"},
        {"wide.tif",
         tiffWithTags({{256, 4, 400000000}, {257, 3, 1}, {258, 3, 16}, {259, 3, 1}, {262, 3, 5}, {273, 4, 122},
                       {277, 3, 4}, {278, 4, 1}, {279, 4, 16}}),
         "too large: a row of page 1 takes 3051 MB, more than the 512 MB a picture may take"},
        {"float.tif", tiffOf(dir.filePath("float"), 8, 8, 32, SAMPLEFORMAT_IEEEFP),
         "unsupported TIFF: page 1 holds floating-point samples"},
        {"signed.tif", tiffOf(dir.filePath("signed"), 8, 8, 16, SAMPLEFORMAT_INT),
         "unsupported TIFF: page 1 holds signed integer samples"},
        {"cut.heic", heic.left(heic.size() / 2),
         "truncated HEIF: its 'meta' box runs to byte " + byteCount(heic.indexOf("mdat") - 4) + ", the file ends at byte " +
             byteCount(heic.size() / 2)},
        {"text.heic", text, "not a HEIF file: the file starts"},
        // A box of 2^64 - 24 bytes after the first one of 24: its end wraps round to the file's start.
        {"wrapping.heic",
         QByteArray::fromHex("00000018") + "ftypheic" + QByteArray(4, 0) + "mif1heic" + QByteArray::fromHex("00000001") +
             "meta" + QByteArray::fromHex("ffffffffffffffe8"),
         "damaged HEIF: its 'meta' box claims 18446744073709551592 bytes"},
        {"large.heic", patched(heic, ispe, QByteArray::fromHex("0000753000007530")),
         "too large: 30000 x 30000 pixels take 3434 MB decoded, more than the 512 MB a HEIF picture may take"},
        {"cut.webp", webp.left(webp.size() / 2),
         "truncated WebP: the data ends at byte " + byteCount(webp.size() / 2) + " of " + byteCount(webp.size())},
        {"text.webp", text, "not a WebP file: the file starts"},
        // Width and height 16384 in the VP8L header (14 bits each, less one), its other bits kept.
        {"large.webp", patched(webp, 21, QByteArray::fromHex("ffffff") + char((webp[24] & 0xF0) | 0x0F)),
         "too large: 16384 x 16384 pixels take 768 MB decoded, more than the 512 MB a WebP picture may take"},
        {"flicker.gif", flicker, "too large: its 1,001 frames come to more than 1000 pages or 1,000,000,000 pixels in all"},
        {"cut.gif", gif.left(gif.size() / 2), "truncated GIF: the data ends at byte " + byteCount(gif.size() / 2)},
        {"text.gif", text, "not a GIF file: the file starts"},
        {"large.gif", patched(gif, 6, QByteArray::fromHex("ffffffff")),
         "too large: 65535 x 65535 pixels take 16384 MB decoded, more than the 128 MB a GIF picture may take"},
        {"cut.bmp", bmp.left(bmp.size() / 2), "truncated BMP: the data ends at byte " + byteCount(bmp.size() / 2)},
        {"text.bmp", text, "not a BMP file: the file starts"},
        {"cut.xpm", xpm.left(xpm.size() / 2), "damaged XPM: "},
        // 2 x 2 pixels of 24 bits, without the footer of TGA 2.0 (it starts as an icon file of cursors does).
        {"plain.tga", QByteArray::fromHex("000002000000000000000000020002001800") + QByteArray(12, char(0x80)),
         "unsupported TGA: only uncompressed true-colour TGA 2.0 files are read"},
        {"cut.ppm", ppm.left(ppm.size() / 2),
         "truncated PPM: the data ends at byte " + byteCount(ppm.size() / 2) + " of the " + byteCount(ppm.size()) +
             " its 40 x 30 pixels take"},
        {"cut.ico", ico.left(ico.size() / 2), "truncated ICO: the data ends at byte " + byteCount(ico.size() / 2)},
        {"jpeg-inside.bmp", patched(bmp, 30, QByteArray::fromHex("04000000")), "unsupported BMP: JPEG data inside"},
    };
    QStringList paths;
    for (const auto& c : cases) {
        paths << dir.filePath(c.name);
        testing::writeFile(paths.last(), c.file);
    }
    EXPECT_EQ(run(QStringList{"--frames", "all", "--output", out.path()} + paths), 1);
    for (qsizetype i = 0; i < paths.size(); ++i)
        EXPECT_TRUE(errors.contains("pictolio-convert: not a picture: " + QString(paths[i]).replace('\n', "\\n") + ": " +
                                    cases[i].says))
            << cases[i].name << "\n" << errors.toStdString();
    // What a library said of a file that is no picture is its reason, not a line of its own.
    for (const QString& line : errors.split('\n', Qt::SkipEmptyParts))
        EXPECT_TRUE(line.startsWith('[') || line.startsWith("pictolio-convert: ")) << line.toStdString();
}

// A folder gives every file whose extension the decoder lists (the window's open dialog offers the
// same list), in either case, and passes over the rest.
TEST_F(NotAPicture, AFolderGivesEveryExtensionTheDecoderTakes) {
    const QTemporaryDir& dir = pics;
    const QByteArray jpeg = testing::makeJpeg({});  // the decoder goes by what a file holds
    const QStringList extensions = PictureDecoder::fileExtensions();
    for (const QString& extension : extensions) testing::writeFile(dir.filePath("a." + extension), jpeg);
    testing::writeFile(dir.filePath("b.HIF"), jpeg);
    testing::writeFile(dir.filePath("notes.txt"), jpeg);
    testing::writeFile(dir.filePath("noextension"), jpeg);
    EXPECT_EQ(run({"--join", "--output", out.path(), dir.path()}), 0) << errors.toStdString();
    EXPECT_TRUE(errors.contains(QString("made 1 PDF file, %1 pages in all").arg(extensions.size() + 1)))
        << errors.toStdString();
    EXPECT_TRUE(extensions.contains("hif"));
}

// What is no file to read (a link that leads nowhere, a pipe, a device) is named with its reason
// in a folder as when given by name, and the run says not all was made.
TEST_F(NotAPicture, AFolderNamesWhatIsNoFileAsANameDoes) {
    testing::writeFile(pics.filePath("good.jpg"), testing::makeJpeg({}));
    QFile::link("/nowhere/at/all.jpg", pics.filePath("broken.jpg"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(pics.filePath("pipe.png")).constData(), 0600), 0);
    QFile::link("/dev/null", pics.filePath("device.jpg"));
    EXPECT_EQ(run({"--output", out.path(), pics.path()}), 1);
    const QStringList inFolder = errors.split('\n').filter("not a picture: ");
    EXPECT_EQ(inFolder.size(), 3) << errors.toStdString();
    EXPECT_TRUE(QFileInfo::exists(out.filePath("good.pdf")));
    for (const char* name : {"broken.jpg", "pipe.png", "device.jpg"}) {
        EXPECT_EQ(run({"--output", out.path(), pics.filePath(name)}), 1) << name;
        const QString byName = errors.split('\n').filter("not a picture: ").value(0);
        EXPECT_TRUE(byName.contains(name) && inFolder.contains(byName)) << byName.toStdString();
    }
}

}  // namespace
}  // namespace pictolio
