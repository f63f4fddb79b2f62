// SPDX-License-Identifier: GPL-3.0-or-later
#include "pictures/tifffile.h"

#include <algorithm>
#include <vector>

#include "pictures/picturereaders.h"

namespace pictolio::readers {

namespace {

// libtiff 4.5 refuses an uncompressed tile read into a buffer of its own, which it makes a whole
// number of KiB ("Invalid tile byte count for tile 0. Expected 768, got 1024"): while one lives,
// such tiles are read into one of their exact size.
class ExactTileBuffer {
public:
    explicit ExactTileBuffer(TIFF* tif) : m_tif(tif) {
        std::uint16_t compression = COMPRESSION_NONE;
        TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
        if (!TIFFIsTiled(tif) || compression != COMPRESSION_NONE || TIFFTileSize64(tif) == 0) return;
        m_buffer.resize(std::size_t(TIFFTileSize64(tif)));
        TIFFReadBufferSetup(tif, m_buffer.data(), tmsize_t(m_buffer.size()));
    }
    ~ExactTileBuffer() {
        if (!m_buffer.empty()) TIFFReadBufferSetup(m_tif, nullptr, 1024);  // libtiff's own again
    }
    ExactTileBuffer(const ExactTileBuffer&) = delete;
    ExactTileBuffer& operator=(const ExactTileBuffer&) = delete;

private:
    TIFF* m_tif;
    std::vector<std::uint8_t> m_buffer;
};

// A page of grey samples and alpha, 8 or 16 bits each, in one plane, as stored (libtiff's RGBA
// reading drops 16-bit alpha, and shifts the rows of partial 8-bit tiles); null when it cannot
// be decoded.
QImage greyAndAlpha(TIFF* tif, const TiffFile& file, const TIFFRGBAImage& img) {
    const std::uint32_t width = img.width, height = img.height;
    const int bits = img.bitspersample, samples = img.samplesperpixel;
    const bool associated = img.alpha == EXTRASAMPLE_ASSOCALPHA;
    std::uint32_t tileWidth = 0, tileHeight = 0;
    const bool tiled = TIFFIsTiled(tif);
    if (tiled && (!TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tileWidth) || !TIFFGetField(tif, TIFFTAG_TILELENGTH, &tileHeight) ||
                  tileWidth == 0 || tileHeight == 0))
        return {};
    if (samples < 2) return {};
    const QImage::Format format = bits == 16 ? (associated ? QImage::Format_RGBA64_Premultiplied : QImage::Format_RGBA64)
                                             : (associated ? QImage::Format_RGBA8888_Premultiplied : QImage::Format_RGBA8888);
    QImage image(int(width), int(height), format);
    if (image.isNull()) return {};
    // Pixels from `count` of `samples` each at `in`, to row y from column x.
    const auto put = [&](const std::uint8_t* in, std::uint32_t x, std::uint32_t y, std::uint32_t count) {
        std::uint8_t* out = image.scanLine(int(y)) + std::size_t(x) * (bits == 16 ? 8 : 4);
        for (std::uint32_t i = 0; i < count; ++i) {
            const std::size_t at = std::size_t(i) * samples;
            const auto sample = [&](std::size_t k) {
                return bits == 16 ? reinterpret_cast<const std::uint16_t*>(in)[at + k] : std::uint16_t(in[at + k]);
            };
            const std::uint16_t a = sample(1), white = associated ? a : std::uint16_t(bits == 16 ? 65535 : 255);
            std::uint16_t g = sample(0);
            if (img.photometric == PHOTOMETRIC_MINISWHITE) g = std::uint16_t(white - std::min(g, white));
            if (bits == 16)
                reinterpret_cast<QRgba64*>(out)[i] = QRgba64::fromRgba64(g, g, g, a);
            else
                out[4 * i] = out[4 * i + 1] = out[4 * i + 2] = std::uint8_t(g), out[4 * i + 3] = std::uint8_t(a);
        }
    };
    if (!tiled)
        return readRows(tif, int(height), &file,
                        [&, y = 0u](const std::uint8_t* row, std::size_t size) mutable {
                            put(row, 0, y++, std::min<std::uint32_t>(width, std::uint32_t(size / (samples * bits / 8))));
                        })
                   ? image
                   : QImage();
    const ExactTileBuffer exact(tif);
    std::vector<std::uint8_t> tile(std::size_t(TIFFTileSize64(tif)));
    const std::size_t tileRow = std::size_t(tileWidth) * samples * std::size_t(bits / 8);
    if (tile.size() < tileRow * tileHeight) return {};
    for (std::uint32_t ty = 0; ty < height; ty += tileHeight)
        for (std::uint32_t tx = 0; tx < width; tx += tileWidth) {
            if (TIFFReadTile(tif, tile.data(), tx, ty, 0, 0) < 0 || file.failed()) return {};
            for (std::uint32_t y = ty; y < std::min(height, ty + tileHeight); ++y)
                put(tile.data() + (y - ty) * tileRow, tx, y, std::min(tileWidth, width - tx));
        }
    return image;
}

}  // namespace

// Hands the page's rows to the sink as stored (bilevel rows packed eight pixels a byte), one
// row in memory at a time; false when its data cannot be decoded.
bool readRows(TIFF* tif, int height, const TiffFile* file, const imaging::DataSink& sink) {
    const tmsize_t rowBytes = TIFFScanlineSize(tif);
    if (rowBytes <= 0 || std::uint64_t(rowBytes) > (std::uint64_t(QImageReader::allocationLimit()) << 20)) return false;
    std::vector<std::uint8_t> row(static_cast<std::size_t>(rowBytes));
    for (int y = 0; y < height; ++y) {
        if (TIFFReadScanline(tif, row.data(), std::uint32_t(y), 0) != 1 || (file && file->failed())) return false;
        sink(row.data(), row.size());
    }
    return true;
}

QImage decodeRgba(TIFF* tif, const TiffFile& file, std::optional<Failure>* why) {
    char message[1024] = {};
    TIFFRGBAImage img{};
    if (!TIFFRGBAImageOK(tif, message) || !TIFFRGBAImageBegin(&img, tif, 1, message)) {
        if (why && !file.failed()) *why = Failure{QStringLiteral("unsupported TIFF: libtiff: %1").arg(QString::fromUtf8(message))};
        return {};
    }
    const std::uint64_t bytes = std::uint64_t(img.width) * img.height * 4;
    const int limitMb = QImageReader::allocationLimit();
    if (img.width == 0 || img.height == 0 || (limitMb > 0 && bytes > (std::uint64_t(limitMb) << 20))) {
        if (why) *why = tooLarge(int(img.width), int(img.height), bytes, limitMb, "TIFF");
        TIFFRGBAImageEnd(&img);
        return {};
    }
    // Rows as stored, top first: the orientation is applied when the page is placed.
    img.orientation = ORIENTATION_TOPLEFT;
    img.req_orientation = ORIENTATION_TOPLEFT;
    const bool grey = img.photometric == PHOTOMETRIC_MINISBLACK || img.photometric == PHOTOMETRIC_MINISWHITE;
    std::uint16_t planar = PLANARCONFIG_CONTIG;
    TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
    if (grey && img.alpha && (img.bitspersample == 8 || img.bitspersample == 16) && planar == PLANARCONFIG_CONTIG) {
        QImage image = greyAndAlpha(tif, file, img);
        TIFFRGBAImageEnd(&img);
        return image;
    }
    // libtiff premultiplies unassociated alpha for colour samples only: grey ones come as stored.
    QImage image(int(img.width), int(img.height),
                 !img.alpha                                        ? QImage::Format_RGBX8888
                 : grey && img.alpha == EXTRASAMPLE_UNASSALPHA ? QImage::Format_RGBA8888
                                                                   : QImage::Format_RGBA8888_Premultiplied);
    bool ok = !image.isNull() && image.bytesPerLine() == qsizetype(img.width) * 4;
    const ExactTileBuffer exact(tif);
    if (ok) {
        image.fill(0);
        ok = TIFFRGBAImageGet(&img, reinterpret_cast<std::uint32_t*>(image.bits()), img.width, img.height) &&
             !file.failed();
    }
    TIFFRGBAImageEnd(&img);
    return ok ? image : QImage();
}
}  // namespace pictolio::readers
