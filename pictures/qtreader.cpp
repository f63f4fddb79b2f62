// SPDX-License-Identifier: GPL-3.0-or-later
// Pictures Qt's image readers take (BMP, GIF, ICO, animated WebP, and the PNG files a PDF
// cannot hold as stored), decoded again when their page is written.

#include <unistd.h>

#include <QFile>
#include <QImage>
#include <QImageReader>
#include <cstring>
#include <cctype>
#include <optional>
#include <vector>

#include "pictures/picturereaders.h"

namespace pictolio::readers {

namespace {

// Reads the picture into an image made and cleared beforehand. Some readers report success yet
// leave part of the image unwritten (BMP cut short, or RLE data that ends or skips early); the
// image they were handed keeps its clear colour there, never old memory. Unwritten parts show
// the paper: transparent where the image has transparency, white elsewhere; in a palette image
// they hold an index past the picture's palette, which is made white.
// refusal: set to why the picture is not read, when it is too large.
QImage readCleared(QImageReader& reader, std::optional<Failure>* refusal = nullptr) {
    const QSize size = reader.size();
    const QImage::Format format = reader.imageFormat();
    // The limit on one picture's memory, as Qt applies it to an image it makes: a reader that
    // does not tell its pixel format yet is taken at 32 bits a pixel.
    if (size.isValid() && !size.isEmpty()) {
        const int bits = format != QImage::Format_Invalid ? QImage::toPixelFormat(format).bitsPerPixel() : 32;
        const qint64 rowBytes = (qint64(size.width()) * bits + 31) / 32 * 4;
        const int limitMb = reader.format() == "webp" ? QImageReader::allocationLimit() : qtDefaultLimitMb;
        if (limitMb > 0 && rowBytes > (qint64(limitMb) << 20) / size.height()) {
            if (refusal)
                *refusal = tooLarge(size.width(), size.height(), std::uint64_t(rowBytes) * std::uint64_t(size.height()),
                                    limitMb);
            return {};
        }
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
std::optional<Failure> gifTooLarge(int fd) {
    std::uint8_t h[10];
    if (::pread(fd, h, sizeof h, 0) != ssize_t(sizeof h) || std::memcmp(h, "GIF8", 4) != 0) return {};
    const std::uint64_t width = h[6] | (h[7] << 8), height = h[8] | (h[9] << 8);
    if (width * height * 4 <= (std::uint64_t(qtDefaultLimitMb) << 20)) return {};
    return tooLarge(int(width), int(height), width * height * 4, qtDefaultLimitMb, "GIF");
}

// Whether a GIF file ends inside one of its blocks (cut off in a download or a copy): Qt's reader
// takes it and shows black where the rest of the picture would be. A file that ends after its
// last whole block, without the trailer, is taken.
bool gifCutShort(int fd, std::int64_t fileSize) {
    std::uint8_t h[13];
    if (::pread(fd, h, sizeof h, 0) != ssize_t(sizeof h) || std::memcmp(h, "GIF8", 4) != 0) return false;
    std::vector<std::uint8_t> data;
    if (!readWhole(fd, std::size_t(fileSize), &data)) return true;
    const std::size_t size = data.size();
    const auto table = [](std::uint8_t flags) { return (flags & 0x80) ? std::size_t(3) << ((flags & 7) + 1) : 0; };
    std::size_t at = 13 + table(h[10]);
    // Sub-blocks up to their terminator; false when the file ends first.
    const auto subBlocks = [&] {
        for (;;) {
            if (at >= size) return false;
            const std::size_t length = data[at++];
            if (length == 0) return true;
            at += length;
        }
    };
    while (at < size) {
        const std::uint8_t kind = data[at++];
        if (kind == 0x3B) return false;  // the trailer
        if (kind == 0x21) {
            if (++at > size || !subBlocks()) return true;
        } else if (kind == 0x2C) {
            if (at + 9 > size) return true;
            at += 9 + table(data[at + 8]) + 1;  // the descriptor, its colour table, the code size
            if (at > size || !subBlocks()) return true;
        } else {
            return false;  // not what a GIF holds: left to Qt's reader
        }
    }
    return at > size;
}

// A BMP file Qt would take that is no picture to print, and why: uncompressed pixels that end
// before the last row, sizes past any picture's, or run-length data far too short for the size
// it declares (a file of a hundred bytes announcing millions of rows keeps the reader busy for a
// minute); or one Qt does not take, of JPEG or PNG data.
std::optional<Failure> bmpFault(int fd, std::int64_t fileSize) {
    std::uint8_t h[34] = {};
    if (::pread(fd, h, sizeof h, 0) != ssize_t(sizeof h) || h[0] != 'B' || h[1] != 'M')
        return {};
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
        return {};
    }
    constexpr std::int64_t most = std::int64_t(1) << 24;
    if (width <= 0 || width > most || height < -most || height > most || height == 0 || bits <= 0 || bits > 32)
        return Failure{QStringLiteral("damaged BMP: its header gives %1 x %2 pixels of %3 bits, which no picture has")
                           .arg(width)
                           .arg(height)
                           .arg(bits)};
    const std::int64_t rows = height < 0 ? -height : height;
    // Run-length data: each pair of bytes gives at most 255 pixels.
    if ((compression == 1 || compression == 2) && width * rows > fileSize * 256)
        return Failure{QStringLiteral("damaged BMP: %1 bytes of run-length data cannot hold %2 x %3 pixels")
                           .arg(byteCount(fileSize))
                           .arg(width)
                           .arg(rows)};
    if (compression == 4 || compression == 5)
        return Failure{QStringLiteral("unsupported BMP: %1 data inside").arg(compression == 4 ? "JPEG" : "PNG")};
    if (compression != 0 && compression != 3 && compression != 6) return {};  // left to Qt
    if (std::int64_t(pixelsAt) >= fileSize)
        return Failure{QStringLiteral("damaged BMP: its pixels are said to start at byte %1, the file ends at byte %2")
                           .arg(byteCount(pixelsAt), byteCount(fileSize))};
    const std::int64_t rowBytes = (width * bits + 31) / 32 * 4;
    if (std::int64_t(pixelsAt) + rowBytes * rows <= fileSize) return {};
    return Failure{QStringLiteral("truncated BMP: the data ends at byte %1 of the %2 its %3 rows take")
                       .arg(byteCount(fileSize), byteCount(std::int64_t(pixelsAt) + rowBytes * rows))
                       .arg(rows)};
}

// A binary PNM file (PBM, PGM, PPM) that ends before the pixels its header declares.
std::optional<Failure> netpbmFault(int fd, std::int64_t fileSize) {
    char h[256] = {};
    const ssize_t got = ::pread(fd, h, sizeof h - 1, 0);
    if (got < 3 || h[0] != 'P' || h[1] < '4' || h[1] > '6') return {};
    // Three numbers (two for a bitmap), separated by white space and comments, then one space.
    std::int64_t values[3] = {0, 0, 1};
    const int count = h[1] == '4' ? 2 : 3;
    qsizetype at = 2;
    for (int i = 0; i < count; ++i) {
        while (at < got && (std::isspace(uchar(h[at])) || h[at] == '#'))
            if (h[at] == '#')
                while (at < got && h[at] != '\n') ++at;
            else
                ++at;
        if (at >= got || !std::isdigit(uchar(h[at]))) return {};  // left to Qt's reader
        for (values[i] = 0; at < got && std::isdigit(uchar(h[at])) && values[i] < (std::int64_t(1) << 32); ++at)
            values[i] = values[i] * 10 + (h[at] - '0');
    }
    const std::int64_t width = values[0], height = values[1], most = values[2];
    if (at >= got || width <= 0 || height <= 0 || most <= 0 || width > (1 << 24) || height > (1 << 24)) return {};
    const std::int64_t sample = most > 255 ? 2 : 1;
    const std::int64_t row = h[1] == '4' ? (width + 7) / 8 : width * sample * (h[1] == '6' ? 3 : 1);
    const std::int64_t end = at + 1 + row * height;
    if (end <= fileSize) return {};
    return Failure{QStringLiteral("truncated %1: the data ends at byte %2 of the %3 its %4 x %5 pixels take")
                       .arg(QLatin1String(h[1] == '4' ? "PBM" : h[1] == '5' ? "PGM" : "PPM"), byteCount(fileSize),
                            byteCount(end))
                       .arg(width)
                       .arg(height)};
}

// An icon file (ICO) of no pictures, or whose pictures lie past its end.
std::optional<Failure> iconFault(int fd, std::int64_t fileSize) {
    std::uint8_t h[6] = {};
    if (::pread(fd, h, sizeof h, 0) != ssize_t(sizeof h) || h[0] || h[1] || h[2] != 1 || h[3]) return {};
    const int count = h[4] | (h[5] << 8);
    if (count == 0) return Failure{QStringLiteral("damaged ICO: it holds no pictures")};
    std::vector<std::uint8_t> entries(std::size_t(count) * 16);
    if (6 + std::int64_t(entries.size()) > fileSize ||
        ::pread(fd, entries.data(), entries.size(), 6) != ssize_t(entries.size()))
        return Failure{QStringLiteral("truncated ICO: the data ends at byte %1, inside its list of %2 pictures")
                           .arg(byteCount(fileSize))
                           .arg(count)};
    std::int64_t end = 0;
    for (int i = 0; i < count; ++i)
        end = std::max(end, std::int64_t(le32(&entries[std::size_t(i) * 16 + 8])) + le32(&entries[std::size_t(i) * 16 + 12]));
    if (end <= fileSize) return {};
    return Failure{QStringLiteral("truncated ICO: the data ends at byte %1 of %2").arg(byteCount(fileSize), byteCount(end))};
}

// A GIF's colours as a palette image: Qt's reader gives 32-bit colours, though a frame holds at
// most 256. Left as it is when it holds more (frames with palettes of their own).
QImage asPalette(const QImage& image) {
    if (image.depth() != 32) return image;
    QList<QRgb> colours;
    for (int y = 0; y < image.height(); ++y) {
        const auto* px = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x)
            if ((colours.isEmpty() || colours.back() != px[x]) && !colours.contains(px[x])) {
                if (colours.size() == 256) return image;
                colours.append(px[x]);
            }
    }
    return image.convertToFormat(QImage::Format_Indexed8, colours);
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
PictureRead loadOther(const QString& path, int fd, const imaging::FileIdentity& identity, double xDpi,
                      double yDpi) {
    if (std::optional<Failure> fault = bmpFault(fd, identity.size)) return *fault;
    if (std::optional<Failure> fault = gifTooLarge(fd)) return *fault;
    if (std::optional<Failure> fault = netpbmFault(fd, identity.size)) return *fault;
    if (std::optional<Failure> fault = iconFault(fd, identity.size)) return *fault;
    if (gifCutShort(fd, identity.size))
        return Failure{QStringLiteral("truncated GIF: the data ends at byte %1, inside a block")
                           .arg(byteCount(identity.size))};
    QImageReader reader(path);
    reader.setAutoTransform(true);
    const QString format = formatNamed(QString::fromLatin1(reader.format()));  // (known before reading only)
    // Drawings some of Qt's plugins also read (they need a running GUI for their fonts, and are
    // no pictures to place on a page as they are).
    if (format == QLatin1String("SVG") || format == QLatin1String("SVGZ") || format == QLatin1String("PDF"))
        return Failure{QStringLiteral("unsupported %1: a drawing, not a picture").arg(format)};
    std::optional<Failure> refused;
    QImage image = readCleared(reader, &refused);
    if (refused) return *refused;
    // TGA files have no signature; Qt's reader takes uncompressed true-colour ones that end in the
    // TGA 2.0 footer, and other readers claim the rest (a TGA file may start as an icon does).
    if (image.isNull() && path.endsWith(QLatin1String(".tga"), Qt::CaseInsensitive))
        return Failure{QStringLiteral("unsupported TGA: only uncompressed true-colour TGA 2.0 files are read")};
    if (image.isNull() && reader.error() == QImageReader::UnsupportedFormatError) {
        // No reader takes what the file starts with.
        std::uint8_t head[8] = {};
        const ssize_t got = ::pread(fd, head, sizeof head, 0);
        return unknownSignature(path, head, got > 0 ? std::size_t(got) : 0);
    }
    if (image.isNull()) {
        const QString said = ReadingFile::firstMessage();
        return Failure{QStringLiteral("damaged %1: %2")
                           .arg(format, said.isEmpty() ? QStringLiteral("Qt's reader says \"%1\"").arg(reader.errorString())
                                                       : said)};
    }
    if (format == QLatin1String("GIF")) image = asPalette(image);
    if (!(imaging::FileIdentity::ofPath(QFile::encodeName(path).toStdString()) == identity))
        return changedWhileRead();
    // A file that states no density gets 72 dpi (2835 dots per metre) from some of Qt's readers,
    // and the density of a new image from others: the screen's, or 100 dpi without one. Neither
    // is the picture's: it gets the decoder's default, as every other picture does.
    const int unstated = QImage(1, 1, QImage::Format_RGB32).dotsPerMeterX();
    const auto dpiOf = [unstated](int dotsPerMeter) {
        return dotsPerMeter == 2835 || dotsPerMeter == unstated ? 0.0 : dotsPerMeter * 0.0254;
    };
    if (xDpi <= 0 || yDpi <= 0) xDpi = dpiOf(image.dotsPerMeterX()), yDpi = dpiOf(image.dotsPerMeterY());
    const bool alpha = hasTransparency(image);
    const bool gray = image.isGrayscale();
    // A reader that cannot turn the picture leaves it as stored: it is turned when placed.
    // The colour profile is read from the file: Qt's readers make up profiles for files that have none.
    PngExtras extras = pngExtras(fd, identity.size);
    const bool turns = reader.supportsOption(QImageIOHandler::ImageTransformation);
    const int orientation = turns ? 1 : extras.png ? extras.orientation : webpOrientation(fd, identity.size);
    if (!extras.png) extras.profile = webpChunk(fd, identity.size, "ICCP", maxProfileBytes);
    const auto source = std::make_shared<RasterFileImage>(path, identity, image.width(), image.height(), gray, alpha);
    if (!extras.srgb) source->setProfile(std::move(extras.profile));
    source->matchSamples(image);
    source->keep(image);
    return pictureOf({pageOf(image.width(), image.height(), xDpi, yDpi, orientation, source)});
}

// A PNG file goes into the PDF as it is when a PDF can hold its samples: grey, RGB or palette,
// not interlaced, transparency (if any) a single colour or a range of palette entries. Other

}  // namespace pictolio::readers
