// SPDX-License-Identifier: GPL-3.0-or-later
// Pictures made smaller for the PDF: scaled down and stored as JPEG, or turned to black and white
// and stored as CCITT Group 4 fax data.

#include "imaging/reducedimage.h"

#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <stdexcept>

#include "imaging/jpegfile.h"
#include "imaging/pixelrows.h"

namespace imaging {

namespace {

// Rows of pixels averaged down to a smaller size: each pixel of the result is the mean of the
// area of the source it covers, parts of pixels counted by their share.
class AreaScaler {
public:
    AreaScaler(int fromWidth, int fromHeight, int toWidth, int toHeight, int components)
        : m_fromWidth(fromWidth), m_toWidth(toWidth), m_toHeight(toHeight), m_components(components),
          m_fy(double(fromHeight) / toHeight), m_rowEnd(m_fy), m_same(fromWidth == toWidth && fromHeight == toHeight) {
        const double fx = double(fromWidth) / toWidth;
        for (int x = 0; x < toWidth; ++x) {
            const double from = x * fx, to = (x + 1) * fx;
            for (int sx = int(from); sx < fromWidth && sx < to; ++sx)
                m_taps.push_back({x, sx, (std::min(to, sx + 1.0) - std::max(from, double(sx))) / fx});
        }
        m_across.assign(std::size_t(toWidth) * std::size_t(components), 0);
        m_sum.assign(m_across.size(), 0);
        m_out.reserve(std::size_t(toWidth) * std::size_t(toHeight) * std::size_t(components));
    }

    void add(const std::uint8_t* row) {
        if (m_y >= m_toHeight) return;
        if (m_same) {  // a picture kept at its size (black and white): its rows as they are
            m_out.insert(m_out.end(), row, row + m_across.size());
            ++m_y;
            return;
        }
        std::fill(m_across.begin(), m_across.end(), 0.0);
        const std::size_t c = std::size_t(m_components);
        for (const Tap& t : m_taps)
            for (std::size_t k = 0; k < c; ++k) m_across[std::size_t(t.to) * c + k] += t.weight * row[std::size_t(t.from) * c + k];
        double start = m_sourceY, end = m_sourceY + 1;
        while (start < end && m_y < m_toHeight) {
            const double upto = std::min(end, m_rowEnd);
            const double weight = (upto - start) / m_fy;
            for (std::size_t i = 0; i < m_sum.size(); ++i) m_sum[i] += weight * m_across[i];
            start = upto;
            if (upto >= m_rowEnd - 1e-9) {
                for (double& v : m_sum) {
                    m_out.push_back(std::uint8_t(std::min(v + 0.5, 255.0)));  // v is never negative
                    v = 0;
                }
                ++m_y;
                m_rowEnd = (m_y + 1) * m_fy;
            }
        }
        ++m_sourceY;
    }

    // The pixels made; empty when the source ended early.
    std::vector<std::uint8_t> finish() {
        if (m_y < m_toHeight) return {};
        return std::move(m_out);
    }

private:
    struct Tap {
        int to, from;
        double weight;
    };
    int m_fromWidth, m_toWidth, m_toHeight, m_components;
    double m_fy, m_rowEnd;
    bool m_same;
    int m_sourceY = 0, m_y = 0;
    std::vector<Tap> m_taps;
    std::vector<double> m_across, m_sum;
    std::vector<std::uint8_t> m_out;
};

class ReducedImage : public ImageSource {
public:
    ReducedImage(std::shared_ptr<const ImageSource> source, int width, int height, bool mono, int quality)
        : m_source(std::move(source)), m_mono(mono), m_quality(quality) {
        const ImageFormat from = m_source->format();
        m_format.width = width;
        m_format.height = height;
        if (mono) {
            m_format.colorSpace = ColorSpace::Gray;
            m_format.encoding = ImageEncoding::Ccitt;
            m_format.bitsPerComponent = 1;
            m_format.fax.k = -1;
        } else {
            m_format.colorSpace = from.colorSpace == ColorSpace::Gray ? ColorSpace::Gray : ColorSpace::Rgb;
            m_format.encoding = ImageEncoding::Dct;
            m_format.bitsPerComponent = 8;
            // Smaller, the pixels keep their colours' meaning: the profile goes with them (a
            // profiled CMYK picture is never made smaller so).
            m_format.iccProfile = from.iccProfile;
        }
    }

    ImageFormat format() const override { return m_format; }
    std::string description() const override { return m_source->description(); }
    bool stillAsChecked() const override { return m_source->stillAsChecked(); }
    GreyImage grey(int shrink) const override { return m_source->grey(shrink); }

    void writeData(const DataSink& sink) const override {
        const int components = m_format.colorSpace == ColorSpace::Rgb ? 3 : 1;
        const std::vector<std::uint8_t> pixels = scaled(components);
        const std::vector<std::uint8_t> data =
            m_mono ? group4(blackAndWhite(pixels, m_format.width, m_format.height), m_format.width, m_format.height)
                   : encodeJpeg(pixels.data(), m_format.width, m_format.height, components, m_quality);
        sink(data.data(), data.size());
    }

private:
    // The source's pixels at this picture's size. Throws when they cannot be read.
    std::vector<std::uint8_t> scaled(int components) const {
        const ImageFormat from = m_source->format();
        std::unique_ptr<AreaScaler> scaler;
        bool read;
        if (from.encoding == ImageEncoding::Dct) {
            std::vector<std::uint8_t> jpeg;
            m_source->writeData([&](const std::uint8_t* d, std::size_t n) { jpeg.insert(jpeg.end(), d, d + n); });
            // The DCT scales by a power of two for little work, as far as the size allows.
            int shrink = 1;
            while (shrink < 8 && (from.width + 2 * shrink - 1) / (2 * shrink) >= m_format.width &&
                   (from.height + 2 * shrink - 1) / (2 * shrink) >= m_format.height)
                shrink *= 2;
            read = decodeJpegRows(
                jpeg.data(), jpeg.size(), shrink, components == 3,
                [&](int w, int h, int got) {
                    if (got != components) throw std::runtime_error("unexpected JPEG components");
                    scaler = std::make_unique<AreaScaler>(w, h, m_format.width, m_format.height, components);
                },
                [&](const std::uint8_t* row) { scaler->add(row); });
        } else {
            scaler = std::make_unique<AreaScaler>(from.width, from.height, m_format.width, m_format.height, components);
            read = readPixelRows(*m_source, components == 3, [&](const std::uint8_t* row) { scaler->add(row); });
        }
        std::vector<std::uint8_t> pixels = read && scaler ? scaler->finish() : std::vector<std::uint8_t>{};
        if (pixels.empty()) throw std::runtime_error("cannot read the picture to make it smaller: " + description());
        return pixels;
    }

    std::shared_ptr<const ImageSource> m_source;
    ImageFormat m_format;
    bool m_mono;
    int m_quality;
};

}  // namespace

// Black where a pixel is clearly darker than the mean of the square around it (an eighth of the
// picture's width across): text stays whole under uneven light, and paper stays white. One bit a
// pixel, 1 for black, rows padded to whole bytes.
std::vector<std::uint8_t> blackAndWhite(const std::vector<std::uint8_t>& grey, int width, int height) {
    const std::size_t w = std::size_t(width), h = std::size_t(height);
    const std::size_t half = std::max<std::size_t>(4, w / 16);
    const std::size_t rowBytes = (w + 7) / 8;
    std::vector<std::uint8_t> bits(rowBytes * h, 0);
    // The square's sums, a row at a time: each column's sum over the square's rows, moved down
    // a row as the rows go (memory for one row, not for the picture), then summed across.
    std::vector<std::uint32_t> columns(w, 0);
    std::vector<std::uint64_t> across(w + 1, 0);
    std::size_t top = 0, bottom = 0;  // the rows in the column sums: [top, bottom)
    for (std::size_t y = 0; y < h; ++y) {
        const std::size_t y0 = y > half ? y - half : 0, y1 = std::min(h, y + half + 1);
        for (; bottom < y1; ++bottom)
            for (std::size_t x = 0; x < w; ++x) columns[x] += grey[bottom * w + x];
        for (; top < y0; ++top)
            for (std::size_t x = 0; x < w; ++x) columns[x] -= grey[top * w + x];
        for (std::size_t x = 0; x < w; ++x) across[x + 1] = across[x] + columns[x];
        const std::uint8_t* row = grey.data() + y * w;
        std::uint8_t* out = bits.data() + y * rowBytes;
        for (std::size_t x = 0; x < w; ++x) {
            const std::size_t x0 = x > half ? x - half : 0, x1 = std::min(w, x + half + 1);
            const std::uint64_t sum = across[x1] - across[x0];
            const std::uint64_t area = (y1 - y0) * (x1 - x0);
            // Darker than 85 % of the mean around it.
            if (std::uint64_t(row[x]) * area * 100 < sum * 85) out[x / 8] |= std::uint8_t(0x80 >> (x % 8));
        }
    }
    return bits;
}

// A TIFF file of one strip of Group 4 fax data, width x height, to be written into the temporary
// file (which libtiff does not close).
static TIFF* faxForWriting(std::FILE* file, int width, int height) {
    TIFFSetErrorHandler(nullptr);
    TIFFSetWarningHandler(nullptr);
    TIFF* out = TIFFFdOpen(::dup(fileno(file)), "fax", "w");
    if (!out) return nullptr;
    TIFFSetField(out, TIFFTAG_IMAGEWIDTH, std::uint32_t(width));
    TIFFSetField(out, TIFFTAG_IMAGELENGTH, std::uint32_t(height));
    TIFFSetField(out, TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(out, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(out, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    TIFFSetField(out, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4);
    TIFFSetField(out, TIFFTAG_ROWSPERSTRIP, std::uint32_t(height));
    return out;
}

// One-bit rows (1 black) coded as CCITT Group 4 by libtiff, through a temporary file.
std::vector<std::uint8_t> group4(const std::vector<std::uint8_t>& bits, int width, int height) {
    std::FILE* file = std::tmpfile();
    if (!file) throw std::runtime_error("no room for a temporary file");
    std::vector<std::uint8_t> coded;
    bool ok = false;
    if (TIFF* out = faxForWriting(file, width, height)) {
        const std::size_t rowBytes = (std::size_t(width) + 7) / 8;
        ok = true;
        for (int y = 0; y < height && ok; ++y)
            ok = TIFFWriteScanline(out, const_cast<std::uint8_t*>(bits.data() + std::size_t(y) * rowBytes),
                                   std::uint32_t(y), 0) == 1;
        TIFFClose(out);
    }
    if (ok) {
        ok = false;
        ::lseek(fileno(file), 0, SEEK_SET);
        if (TIFF* in = TIFFFdOpen(::dup(fileno(file)), "fax", "r")) {
            const tmsize_t size = TIFFRawStripSize(in, 0);
            if (size > 0) {
                coded.resize(std::size_t(size));
                ok = TIFFReadRawStrip(in, 0, coded.data(), size) == size;
            }
            TIFFClose(in);
        }
    }
    std::fclose(file);
    if (!ok) throw std::runtime_error("cannot code the picture in black and white");
    return coded;
}

// Group 4 fax data of a width x height picture back to 8-bit grey (0 black, 255 white), through
// libtiff and a temporary file. Throws std::runtime_error when the data does not decode.
std::vector<std::uint8_t> greyOfGroup4(const std::vector<std::uint8_t>& coded, int width, int height) {
    std::FILE* file = std::tmpfile();
    if (!file) throw std::runtime_error("no room for a temporary file");
    std::vector<std::uint8_t> grey;
    bool ok = false;
    if (TIFF* out = faxForWriting(file, width, height)) {
        ok = TIFFWriteRawStrip(out, 0, const_cast<std::uint8_t*>(coded.data()), tmsize_t(coded.size())) >= 0;
        TIFFClose(out);
    }
    if (ok) {
        ok = false;
        ::lseek(fileno(file), 0, SEEK_SET);
        if (TIFF* in = TIFFFdOpen(::dup(fileno(file)), "fax", "r")) {
            const std::size_t w = std::size_t(width), rowBytes = (w + 7) / 8;
            std::vector<std::uint8_t> bits(rowBytes);
            grey.resize(w * std::size_t(height));
            ok = true;
            for (int y = 0; y < height && ok; ++y) {
                ok = TIFFReadScanline(in, bits.data(), std::uint32_t(y), 0) == 1;
                std::uint8_t* row = grey.data() + std::size_t(y) * w;
                for (std::size_t x = 0; x < w; ++x) row[x] = (bits[x / 8] & (0x80 >> (x % 8))) ? 0 : 255;
            }
            TIFFClose(in);
        }
    }
    std::fclose(file);
    if (!ok) throw std::runtime_error("cannot read the black-and-white picture");
    return grey;
}

std::shared_ptr<const ImageSource> pictureFor(std::shared_ptr<const ImageSource> image, double widthInches,
                                              double heightInches, const PictureQuality& quality) {
    if (quality.mode == PictureQuality::Mode::Original || quality.mode == PictureQuality::Mode::Document || !image || widthInches <= 0 || heightInches <= 0)
        return image;
    const ImageFormat f = image->format();
    const bool mono = quality.mode == PictureQuality::Mode::Mono;
    // Transparency and fax data stay as they are; so do a picture already in black and white and
    // one with shapes painted over it (a compact page).
    if (!image->stencils().empty() || f.softMask || !f.colorKey.empty() || f.encoding == ImageEncoding::Ccitt || f.width <= 0 || f.height <= 0 ||
        (f.bitsPerComponent == 1 && f.colorSpace == ColorSpace::Gray))
        return image;
    // A CMYK picture with a profile of its own keeps its bytes: made smaller in RGB, its inks
    // would lose the profile that gives their colours.
    if (!mono && f.colorSpace == ColorSpace::Cmyk && f.iccProfile) return image;
    const double most = mono ? monoDpi : std::max(1, quality.maxDpi);
    // A picture at most a little finer than asked keeps its bytes: a smaller copy would gain little.
    const bool finer = f.width > widthInches * most * 1.05 || f.height > heightInches * most * 1.05;
    if (!mono && !finer) return image;
    const int width = finer ? std::max(1, int(std::lround(widthInches * most))) : f.width;
    const int height = finer ? std::max(1, int(std::lround(heightInches * most))) : f.height;
    return std::make_shared<ReducedImage>(std::move(image), std::min(width, f.width), std::min(height, f.height), mono,
                                          std::clamp(quality.jpegQuality, 1, 100));
}

}  // namespace imaging
