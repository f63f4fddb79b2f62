// SPDX-License-Identifier: GPL-3.0-or-later
// Pictures Qt's image readers take (BMP, GIF, ICO, animated WebP, and the PNG files a PDF
// cannot hold as stored), decoded again when their page is written.

#include <unistd.h>

#include <QFile>
#include <QImage>
#include <QImageReader>
#include <cstring>

#include "pictures/picturereaders.h"

namespace pictolio::readers {

namespace {

// Reads the picture into an image made and cleared beforehand. Some readers report success yet
// leave part of the image unwritten (BMP cut short, or RLE data that ends or skips early); the
// image they were handed keeps its clear colour there, never old memory. Unwritten parts show
// the paper: transparent where the image has transparency, white elsewhere; in a palette image
// they hold an index past the picture's palette, which is made white.
QImage readCleared(QImageReader& reader) {
    const QSize size = reader.size();
    const QImage::Format format = reader.imageFormat();
    // The limit on one picture's memory, as Qt applies it to an image it makes: a reader that
    // does not tell its pixel format yet is taken at 32 bits a pixel.
    if (size.isValid() && !size.isEmpty()) {
        const int bits = format != QImage::Format_Invalid ? QImage::toPixelFormat(format).bitsPerPixel() : 32;
        const qint64 rowBytes = (qint64(size.width()) * bits + 31) / 32 * 4;
        const int limitMb = reader.format() == "webp" ? QImageReader::allocationLimit() : qtDefaultLimitMb;
        if (limitMb > 0 && rowBytes > (qint64(limitMb) << 20) / size.height()) return {};
    }
    QImage image;
    if (size.isValid() && !size.isEmpty() && format != QImage::Format_Invalid) {
        image = QImage(size, format);
        if (image.isNull()) return {};
        if (format == QImage::Format_Indexed8)
            image.fill(255u);
        else
            image.fill(image.hasAlphaChannel() ? Qt::transparent : Qt::white);
    }
    if (!reader.read(&image)) return {};
    if (image.format() == QImage::Format_Indexed8 && image.colorCount() < 256) {
        QList<QRgb> colors = image.colorTable();
        colors.resize(256, qRgb(255, 255, 255));
        image.setColorTable(colors);
    }
    return image;
}

// Whether an uncompressed BMP file ends before its last row: Qt's reader takes such a file and
// leaves the missing rows unwritten, where the picture is damaged.
// A GIF file whose screen (which Qt's reader makes whole, whatever the frames in it) would take
// more memory than Qt's usual limit: a few bytes can claim one.
bool gifUnacceptable(int fd) {
    std::uint8_t h[10];
    if (::pread(fd, h, sizeof h, 0) != ssize_t(sizeof h) || std::memcmp(h, "GIF8", 4) != 0) return false;
    const std::uint64_t width = h[6] | (h[7] << 8), height = h[8] | (h[9] << 8);
    return width * height * 4 > (std::uint64_t(qtDefaultLimitMb) << 20);
}

// A BMP file Qt would take that is no picture to print: uncompressed pixels that end before the
// last row, sizes past any picture's, or run-length data far too short for the size it declares
// (a file of a hundred bytes announcing millions of rows keeps the reader busy for a minute).
bool bmpUnacceptable(int fd, std::int64_t fileSize) {
    std::uint8_t h[34] = {};
    if (::pread(fd, h, sizeof h, 0) != ssize_t(sizeof h) || h[0] != 'B' || h[1] != 'M')
        return false;
    const std::uint32_t pixelsAt = le32(h + 10), headerSize = le32(h + 14);
    std::int64_t width, height, bits;
    std::uint32_t compression = 0;
    if (headerSize == 12) {  // OS/2 header, never compressed
        width = h[18] | (h[19] << 8);
        height = h[20] | (h[21] << 8);
        bits = h[24] | (h[25] << 8);
    } else if (headerSize >= 40) {
        compression = le32(h + 30);
        width = std::int32_t(le32(h + 18));
        height = std::int32_t(le32(h + 22));
        bits = h[28] | (h[29] << 8);
    } else {
        return false;
    }
    constexpr std::int64_t most = std::int64_t(1) << 24;
    if (width <= 0 || width > most || height < -most || height > most || height == 0 || bits <= 0 || bits > 32)
        return true;
    const std::int64_t rows = height < 0 ? -height : height;
    // Run-length data: each pair of bytes gives at most 255 pixels.
    if (compression == 1 || compression == 2) return width * rows > fileSize * 256;
    if (compression != 0 && compression != 3 && compression != 6) return false;  // left to Qt
    const std::int64_t rowBytes = (width * bits + 31) / 32 * 4;
    return std::int64_t(pixelsAt) + rowBytes * rows > fileSize;
}

// A picture Qt reads, decoded again (turned upright) when its page is written.
class RasterFileImage : public DecodedImage {
public:
    using DecodedImage::DecodedImage;

protected:
    QImage decode() const override {
        QImageReader reader(path());
        reader.setAutoTransform(true);
        return readCleared(reader);
    }
};

}  // namespace


// xDpi, yDpi: the density the file states, when its own reader has found it.
Picture loadOther(const QString& path, int fd, const pdfwriter::FileIdentity& identity, double xDpi,
                  double yDpi) {
    if (bmpUnacceptable(fd, identity.size) || gifUnacceptable(fd)) return {};
    QImageReader reader(path);
    reader.setAutoTransform(true);
    const QImage image = readCleared(reader);
    if (image.isNull()) return {};
    if (!(pdfwriter::FileIdentity::ofPath(QFile::encodeName(path).toStdString()) == identity))
        return {};
    // Qt gives 72 dpi (2835 dots per metre) to a file that states no density.
    const auto dpiOf = [](int dotsPerMeter) { return dotsPerMeter == 2835 ? 0.0 : dotsPerMeter * 0.0254; };
    if (xDpi <= 0 || yDpi <= 0) xDpi = dpiOf(image.dotsPerMeterX()), yDpi = dpiOf(image.dotsPerMeterY());
    const bool alpha = hasTransparency(image);
    const bool gray = image.isGrayscale();
    // A reader that cannot turn the picture leaves it as stored: it is turned when placed.
    const int orientation = reader.supportsOption(QImageIOHandler::ImageTransformation)
                                ? 1
                                : webpOrientation(fd, identity.size);
    const auto source = std::make_shared<RasterFileImage>(path, identity, image.width(), image.height(), gray, alpha);
    source->keep(image);
    return pictureOf({pageOf(image.width(), image.height(), xDpi, yDpi, orientation, source)});
}

// A PNG file goes into the PDF as it is when a PDF can hold its samples: grey, RGB or palette,
// not interlaced, transparency (if any) a single colour or a range of palette entries. Other

}  // namespace pictolio::readers
