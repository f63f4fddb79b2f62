// SPDX-License-Identifier: GPL-3.0-or-later
// Makes the fuzz targets' seed pictures, all of them made here: small JPEG files of every kind
// the PDF writer takes (into <folder>/jpeg), and those plus the other formats the decoder reads
// (into <folder>/picture). Small, so that each run of a target is quick.
//
//     make_seeds <folder>

#include <QBuffer>
#include <QColorSpace>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <cstdio>
#include <zlib.h>

#include "tests/support/testpictures.h"

using pictolio::testing::JpegRecipe;
using pictolio::testing::makeJpeg;

namespace {

bool put(const QString& folder, const QString& name, const QByteArray& data) {
    QFile file(QDir(folder).filePath(name));
    if (file.open(QIODevice::WriteOnly) && file.write(data) == data.size()) return true;
    std::fprintf(stderr, "cannot write %s\n", qPrintable(file.fileName()));
    return false;
}

QByteArray encoded(const QImage& image, const char* format) {
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, format)) std::fprintf(stderr, "Qt cannot write %s\n", format);
    return data;
}

QByteArray withoutHuffmanTables(QByteArray jpeg) {
    for (qsizetype i = 2; i + 3 < jpeg.size();) {
        if (uchar(jpeg[i]) != 0xFF || uchar(jpeg[i + 1]) == 0xDA) break;
        const qsizetype length = 2 + ((uchar(jpeg[i + 2]) << 8) | uchar(jpeg[i + 3]));
        if (uchar(jpeg[i + 1]) == 0xC4)
            jpeg.remove(i, length);
        else
            i += length;
    }
    return jpeg;
}

QByteArray le(quint32 v, int bytes) {
    QByteArray b;
    for (int i = 0; i < bytes; ++i) b.append(char((v >> (8 * i)) & 255));
    return b;
}

// The PNG file with a chunk of this type after its header.
QByteArray withPngChunk(const QByteArray& png, const char* type, const QByteArray& data) {
    const QByteArray body = QByteArray(type, 4) + data;
    const auto be = [](quint32 v) {
        const char bytes[4] = {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
        return QByteArray(bytes, 4);
    };
    const quint32 crc = quint32(crc32(0, reinterpret_cast<const Bytef*>(body.constData()), uInt(body.size())));
    return png.left(33) + be(quint32(data.size())) + body + be(crc) + png.mid(33);
}

// An 8 x 4 BMP, run-length coded, that stops after two rows.
QByteArray runLengthBmp() {
    const QByteArray palette("\xFF\0\0\0\0\xFF\0\0\0\0\xFF\0", 12);
    const QByteArray runs("\x08\x01\0\0\x04\x02\x04\x00\0\0\0\x01", 12);
    const QByteArray info = le(40, 4) + le(8, 4) + le(4, 4) + le(1, 2) + le(8, 2) + le(1, 4) +
                            le(quint32(runs.size()), 4) + le(2835, 4) + le(2835, 4) + le(3, 4) +
                            le(0, 4);
    const quint32 pixelsAt = quint32(14 + info.size() + palette.size());
    return "BM" + le(pixelsAt + quint32(runs.size()), 4) + le(0, 4) + le(pixelsAt, 4) + info +
           palette + runs;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_seeds <folder>\n");
        return 2;
    }
    const QString jpegs = QFile::decodeName(argv[1]) + "/jpeg";
    const QString pictures = QFile::decodeName(argv[1]) + "/picture";
    QDir().mkpath(jpegs);
    QDir().mkpath(pictures);

    using Kind = JpegRecipe::Kind;
    const struct {
        const char* name;
        JpegRecipe recipe;
    } recipes[] = {
        {"baseline", {.width = 24, .height = 16}},
        {"progressive", {.width = 24, .height = 16, .progressive = true}},
        {"grey", {.width = 16, .height = 16, .kind = Kind::Gray}},
        {"rgb", {.width = 16, .height = 8, .kind = Kind::Rgb}},
        {"adobe-cmyk", {.width = 16, .height = 8, .kind = Kind::AdobeCmyk}},
        {"ycck", {.width = 16, .height = 8, .kind = Kind::Ycck}},
        {"plain-cmyk", {.width = 16, .height = 8, .kind = Kind::PlainCmyk}},
        {"arithmetic", {.width = 24, .height = 16, .arithmetic = true}},
        {"arithmetic-progressive",
         {.width = 24, .height = 16, .progressive = true, .arithmetic = true}},
        {"arithmetic-rgb", {.width = 16, .height = 8, .kind = Kind::Rgb, .arithmetic = true}},
        {"arithmetic-grey", {.width = 8, .height = 8, .kind = Kind::Gray, .arithmetic = true}},
        {"exif-turned",
         {.width = 16,
          .height = 8,
          .densityUnit = 1,
          .xDensity = 300,
          .yDensity = 300,
          .exif = true,
          .orientation = 6,
          .exifXRes = 72,
          .exifYRes = 72}},
        {"per-cm", {.width = 8, .height = 8, .densityUnit = 2, .xDensity = 40, .yDensity = 40}},
        {"one-by-three", {.width = 1, .height = 3}},
        {"low-quality", {.width = 17, .height = 9, .quality = 20}},
        {"no-jfif", {.width = 8, .height = 8, .jfif = false}},
        {"restarts", {.width = 32, .height = 16, .restartInterval = 1}},
        {"arithmetic-restarts",
         {.width = 32, .height = 16, .arithmetic = true, .restartInterval = 2}},
        {"many-scans", {.width = 8, .height = 8, .kind = Kind::Gray, .approximationSteps = 2}},
    };
    bool ok = true;
    for (const auto& r : recipes) {
        const QByteArray jpeg = makeJpeg(r.recipe);
        ok &= put(jpegs, QString("%1.jpg").arg(r.name), jpeg);
        ok &= put(pictures, QString("%1.jpg").arg(r.name), jpeg);
    }
    const QByteArray motion = withoutHuffmanTables(makeJpeg({.width = 16, .height = 16}));
    ok &= put(jpegs, "motion-jpeg.jpg", motion);
    ok &= put(pictures, "motion-jpeg.jpg", motion);

    QImage colour(12, 8, QImage::Format_ARGB32);
    for (int y = 0; y < colour.height(); ++y)
        for (int x = 0; x < colour.width(); ++x)
            colour.setPixel(x, y, qRgba(x * 20, y * 30, (x + y) % 2 ? 200 : 40, 80 + x * 10));
    const QImage opaque = colour.convertToFormat(QImage::Format_RGB32);
    const QImage grey = colour.convertToFormat(QImage::Format_Grayscale8);
    const QImage palette = opaque.convertToFormat(QImage::Format_Indexed8);
    const QImage mono = opaque.convertToFormat(QImage::Format_Mono);
    // Tagged with a colour profile other than sRGB, which each format's reader finds and checks.
    QImage adobe = opaque;
    adobe.setColorSpace(QColorSpace::AdobeRgb);
    const QByteArray exif("MM\0*\0\0\0\x08\0\x01\x01\x12\0\x03\0\0\0\x01\0\x06\0\0\0\0\0\0", 26);
    const struct {
        const char* name;
        QByteArray data;
    } others[] = {
        {"rgba.png", encoded(colour, "PNG")},
        {"adobe-rgb.png", encoded(adobe, "PNG")},
        {"adobe-rgb.jpg", encoded(adobe, "JPEG")},
        {"adobe-rgb.tif", encoded(adobe, "TIFF")},
        {"exif-turned.png", withPngChunk(encoded(opaque, "PNG"), "eXIf", exif)},
        {"grey.png", encoded(grey, "PNG")},
        {"palette.png", encoded(palette, "PNG")},
        {"rgb.bmp", encoded(opaque, "BMP")},
        {"argb.bmp", encoded(colour, "BMP")},
        {"palette.bmp", encoded(palette, "BMP")},
        {"mono.bmp", encoded(mono, "BMP")},
        {"run-length.bmp", runLengthBmp()},
        {"colour.ppm", encoded(opaque, "PPM")},
        {"grey.pgm", encoded(grey, "PGM")},
        {"mono.pbm", encoded(mono, "PBM")},
        {"mono.xbm", encoded(mono, "XBM")},
        {"palette.xpm", encoded(palette, "XPM")},
        {"icon.ico", encoded(colour, "ICO")},
        {"lossy.webp", encoded(opaque, "WEBP")},
        {"alpha.webp", encoded(colour, "WEBP")},
        {"lzw.tif", encoded(opaque, "TIFF")},
        {"grey.tif", encoded(grey, "TIFF")},
        {"tiny.gif", QByteArray("GIF89a\x01\x00\x01\x00\x80\x00\x00\xff\xff\xff\x00\x00\x00"
                                "!\xf9\x04\x01\x00\x00\x00\x00,\x00\x00\x00\x00\x01\x00\x01\x00"
                                "\x00\x02\x02D\x01\x00;",
                                43)},
    };
    for (const auto& o : others) ok &= !o.data.isEmpty() && put(pictures, o.name, o.data);
    return ok ? 0 : 1;
}
