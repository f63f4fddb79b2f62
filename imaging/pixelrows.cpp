// SPDX-License-Identifier: GPL-3.0-or-later
// Pictures read as rows of 8-bit pixels: in grey for text recognition, in grey or RGB for
// pictures made smaller.

#include "imaging/pixelrows.h"

#include <fcntl.h>
#include <unistd.h>

#include <zlib.h>

#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace imaging {

namespace {

// Collects the samples given in pieces into whole rows as stored, and hands each on.
class StoredRows {
public:
    StoredRows(std::size_t rowBytes, int height, std::function<void(const std::uint8_t*)> rows)
        : m_rowBytes(rowBytes), m_height(height), m_rows(std::move(rows)) {
        m_row.reserve(rowBytes);
    }
    void add(const std::uint8_t* data, std::size_t size) {
        while (size > 0 && m_y < m_height) {
            const std::size_t take = std::min(size, m_rowBytes - m_row.size());
            m_row.insert(m_row.end(), data, data + take);
            data += take, size -= take;
            if (m_row.size() == m_rowBytes) {
                m_rows(m_row.data());
                m_row.clear();
                ++m_y;
            }
        }
    }

private:
    std::size_t m_rowBytes;
    int m_height, m_y = 0;
    std::function<void(const std::uint8_t*)> m_rows;
    std::vector<std::uint8_t> m_row;
};

class PngRows {
public:
    PngRows(const ImageFormat& f, std::function<void(const std::uint8_t*)> rows) : m_rows(std::move(rows)) {
        const int components = f.colorSpace == ColorSpace::Rgb ? 3 : 1;
        const std::size_t bits = std::size_t(components) * std::size_t(f.bitsPerComponent);
        m_rowBytes = (std::size_t(f.width) * bits + 7) / 8;
        m_step = std::max<std::size_t>(1, bits / 8);
        m_row.assign(m_rowBytes + 1, 0);
        m_above.assign(m_rowBytes, 0);
        if (inflateInit(&m_z) != Z_OK) throw std::runtime_error("zlib cannot start");
    }
    ~PngRows() { inflateEnd(&m_z); }
    PngRows(const PngRows&) = delete;
    PngRows& operator=(const PngRows&) = delete;

    void add(const std::uint8_t* data, std::size_t size) {
        m_z.next_in = const_cast<Bytef*>(data);
        m_z.avail_in = uInt(size);
        while (m_z.avail_in > 0 && !m_ended) {
            m_z.next_out = m_row.data() + m_filled;
            m_z.avail_out = uInt(m_row.size() - m_filled);
            const int status = inflate(&m_z, Z_NO_FLUSH);
            if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR)
                throw std::runtime_error("the image data is damaged");
            m_filled = m_row.size() - m_z.avail_out;
            if (m_filled == m_row.size()) unfilter();
            m_ended = status == Z_STREAM_END;
            if (status == Z_BUF_ERROR && m_z.avail_out > 0) break;  // wants more input
        }
    }

private:
    void unfilter() {
        std::uint8_t* row = m_row.data() + 1;
        const std::uint8_t* up = m_above.data();
        const std::size_t n = m_rowBytes, b = m_step;
        switch (m_row[0]) {
            case 0: break;
            case 1: for (std::size_t i = b; i < n; ++i) row[i] = std::uint8_t(row[i] + row[i - b]); break;
            case 2: for (std::size_t i = 0; i < n; ++i) row[i] = std::uint8_t(row[i] + up[i]); break;
            case 3:
                for (std::size_t i = 0; i < n; ++i)
                    row[i] = std::uint8_t(row[i] + ((i >= b ? row[i - b] : 0) + up[i]) / 2);
                break;
            case 4:
                for (std::size_t i = 0; i < n; ++i) {
                    const int a = i >= b ? row[i - b] : 0, c = i >= b ? up[i - b] : 0, p = a + up[i] - c;
                    const int pa = std::abs(p - a), pb = std::abs(p - up[i]), pc = std::abs(p - c);
                    row[i] = std::uint8_t(row[i] + (pa <= pb && pa <= pc ? a : pb <= pc ? up[i] : c));
                }
                break;
            default: throw std::runtime_error("the image data is damaged");
        }
        std::memcpy(m_above.data(), row, n);
        m_rows(row);
        m_filled = 0;
    }

    std::function<void(const std::uint8_t*)> m_rows;
    z_stream m_z{};
    std::size_t m_rowBytes = 0, m_step = 1, m_filled = 0;
    std::vector<std::uint8_t> m_row, m_above;
    bool m_ended = false;
};


// Turns rows of samples as stored (1 to 16 bits; grey, RGB, CMYK or palette) into rows of 8-bit
// grey or RGB pixels.
class Pixels {
public:
    Pixels(const ImageFormat& f, bool rgb) : m_f(f), m_rgb(rgb) {
        m_components = f.colorSpace == ColorSpace::Rgb ? 3 : f.colorSpace == ColorSpace::Cmyk ? 4 : 1;
        m_out.resize(std::size_t(f.width) * (rgb ? 3 : 1));
    }
    std::size_t storedRowBytes() const {
        return (std::size_t(m_f.width) * std::size_t(m_components) * std::size_t(m_f.bitsPerComponent) + 7) / 8;
    }
    const std::uint8_t* convert(const std::uint8_t* row) {
        m_row = row;
        for (int x = 0; x < m_f.width; ++x) {
            int r, g, b;
            colourAt(x, &r, &g, &b);
            if (m_rgb) {
                std::uint8_t* p = m_out.data() + std::size_t(x) * 3;
                p[0] = std::uint8_t(r), p[1] = std::uint8_t(g), p[2] = std::uint8_t(b);
            } else {
                m_out[std::size_t(x)] = std::uint8_t((r * 77 + g * 150 + b * 29) >> 8);
            }
        }
        return m_out.data();
    }

private:
    // The sample as stored: a palette index, or a value scaled to 0..255.
    int sampleAt(int x, int c) const {
        const int bits = m_f.bitsPerComponent;
        const std::size_t i = std::size_t(x) * std::size_t(m_components) + std::size_t(c);
        if (bits == 8) return m_row[i];
        if (bits == 16) return m_row[2 * i];  // the high byte
        const std::size_t bit = i * std::size_t(bits);
        const int v = (m_row[bit >> 3] >> (8 - bits - int(bit & 7))) & ((1 << bits) - 1);
        return m_f.colorSpace == ColorSpace::Indexed ? v : v * 255 / ((1 << bits) - 1);
    }

    void colourAt(int x, int* r, int* g, int* b) const {
        const auto value = [&](int c) { return m_f.inverted ? 255 - sampleAt(x, c) : sampleAt(x, c); };
        switch (m_f.colorSpace) {
            case ColorSpace::Rgb: *r = value(0), *g = value(1), *b = value(2); return;
            case ColorSpace::Cmyk: {
                const int k = value(3);
                *r = (255 - value(0)) * (255 - k) / 255, *g = (255 - value(1)) * (255 - k) / 255,
                *b = (255 - value(2)) * (255 - k) / 255;
                return;
            }
            case ColorSpace::Indexed: {
                const std::size_t i = std::size_t(sampleAt(x, 0)) * 3;
                if (i + 2 >= m_f.palette.size()) *r = *g = *b = 255;
                else *r = m_f.palette[i], *g = m_f.palette[i + 1], *b = m_f.palette[i + 2];
                return;
            }
            default: *r = *g = *b = value(0);
        }
    }

    const ImageFormat& m_f;
    bool m_rgb;
    int m_components = 1;
    const std::uint8_t* m_row = nullptr;
    std::vector<std::uint8_t> m_out;
};

}  // namespace

bool readPixelRows(const ImageSource& image, bool rgb, const PixelRowSink& row) {
    const ImageFormat f = image.format();
    const int bits = f.bitsPerComponent;
    const bool flate = f.encoding == ImageEncoding::Flate;
    if ((f.encoding != ImageEncoding::Raw && !flate) || (bits != 1 && bits != 2 && bits != 4 && bits != 8 && bits != 16) ||
        f.width <= 0 || f.height <= 0)
        return false;
    Pixels pixels(f, rgb);
    int rows = 0;
    const auto stored = [&](const std::uint8_t* r) {
        if (rows < f.height) row(pixels.convert(r));
        ++rows;
    };
    try {
        if (flate) {
            PngRows png(f, stored);
            image.writeData([&](const std::uint8_t* d, std::size_t n) { png.add(d, n); });
        } else {
            StoredRows raw(pixels.storedRowBytes(), f.height, stored);
            image.writeData([&](const std::uint8_t* d, std::size_t n) { raw.add(d, n); });
        }
    } catch (const std::exception&) {
        return false;
    }
    return rows >= f.height;
}

GreyImage ImageSource::grey(int shrink) const {
    const ImageFormat f = format();
    shrink = std::max(1, shrink);
    GreyImage out;
    out.width = (f.width + shrink - 1) / shrink;
    out.height = (f.height + shrink - 1) / shrink;
    if (out.width <= 0 || out.height <= 0) return {};
    out.pixels.assign(std::size_t(out.width) * std::size_t(out.height), 255);
    // Each shrink x shrink block averaged.
    std::vector<std::uint32_t> sums(std::size_t(out.width)), counts(std::size_t(out.width));
    int y = 0;
    const bool read = readPixelRows(*this, false, [&](const std::uint8_t* row) {
        for (int x = 0; x < f.width; ++x) sums[std::size_t(x / shrink)] += row[x], ++counts[std::size_t(x / shrink)];
        ++y;
        if (y % shrink == 0 || y == f.height) {
            std::uint8_t* to = out.pixels.data() + std::size_t((y - 1) / shrink) * std::size_t(out.width);
            for (std::size_t i = 0; i < sums.size(); ++i) {
                to[i] = counts[i] ? std::uint8_t(sums[i] / counts[i]) : 255;
                sums[i] = counts[i] = 0;
            }
        }
    });
    return read ? out : GreyImage{};
}

GreyImage FileSlicesImage::grey(int shrink) const {
    if (!stillAsChecked()) return {};
    return m_greyReader ? m_greyReader(shrink) : ImageSource::grey(shrink);
}

GreyImage JpegFileImage::grey(int shrink) const {
    GreyImage image;
    if (const std::shared_ptr<const Bytes> bytes = kept()) {
        image.pixels = decodeJpegGrey(bytes->data(), bytes->size(), shrink, &image.width, &image.height);
        return image;
    }
    const int fd = ::open(m_path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return {};
    std::vector<std::uint8_t> bytes;
    bool read = FileIdentity::ofDescriptor(fd) == m_identity;
    if (read) {
        bytes.resize(std::size_t(m_identity.size));
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::pread(fd, bytes.data() + done, bytes.size() - done, off_t(done));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            done += std::size_t(n);
        }
        read = done == bytes.size();
    }
    ::close(fd);
    if (!read) return {};
    image.pixels = decodeJpegGrey(bytes.data(), bytes.size(), shrink, &image.width, &image.height);
    return image;
}

}  // namespace imaging
