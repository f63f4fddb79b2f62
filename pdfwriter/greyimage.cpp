// Pictures read as grey pixels, for text recognition.

#include <fcntl.h>
#include <unistd.h>

#include <zlib.h>

#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "pdfwriter/imagesource.h"

namespace pdfwriter {

namespace {

// Collects rows of raw samples given in pieces, and adds each to the grey picture: pixels
// averaged over shrink x shrink blocks.
class GreyRows {
public:
    GreyRows(const ImageFormat& f, int shrink) : m_f(f), m_shrink(shrink) {
        m_components = f.colorSpace == ColorSpace::Rgb ? 3 : f.colorSpace == ColorSpace::Cmyk ? 4 : 1;
        m_rowBytes = (std::size_t(f.width) * std::size_t(m_components) * std::size_t(f.bitsPerComponent) + 7) / 8;
        m_row.reserve(m_rowBytes);
        m_out.width = (f.width + shrink - 1) / shrink;
        m_out.height = (f.height + shrink - 1) / shrink;
        m_out.pixels.assign(std::size_t(m_out.width) * std::size_t(m_out.height), 0);
        m_sums.assign(std::size_t(m_out.width), 0);
        m_counts.assign(std::size_t(m_out.width), 0);
    }

    void add(const std::uint8_t* data, std::size_t size) {
        while (size > 0 && m_y < m_f.height) {
            const std::size_t take = std::min(size, m_rowBytes - m_row.size());
            m_row.insert(m_row.end(), data, data + take);
            data += take, size -= take;
            if (m_row.size() == m_rowBytes) {
                addRow();
                m_row.clear();
            }
        }
    }

    GreyImage finish() {
        if (m_y < m_f.height) return {};  // cut short
        return std::move(m_out);
    }

private:
    // The sample as stored: a palette index, or a value scaled to 0..255.
    int sampleAt(int x, int c) const {
        const int bits = m_f.bitsPerComponent;
        const std::size_t i = std::size_t(x) * std::size_t(m_components) + std::size_t(c);
        int v;
        if (bits == 8) return m_row[i];
        if (bits == 16) return m_row[2 * i];  // the high byte
        const std::size_t bit = i * std::size_t(bits);
        v = (m_row[bit >> 3] >> (8 - bits - int(bit & 7))) & ((1 << bits) - 1);
        return m_f.colorSpace == ColorSpace::Indexed ? v : v * 255 / ((1 << bits) - 1);
    }

    int greyAt(int x) const {
        int v;
        switch (m_f.colorSpace) {
            case ColorSpace::Rgb: v = (sampleAt(x, 0) * 77 + sampleAt(x, 1) * 150 + sampleAt(x, 2) * 29) >> 8; break;
            case ColorSpace::Cmyk: {
                const int k = sampleAt(x, 3);
                const int r = (255 - sampleAt(x, 0)) * (255 - k) / 255, g = (255 - sampleAt(x, 1)) * (255 - k) / 255,
                          b = (255 - sampleAt(x, 2)) * (255 - k) / 255;
                v = (r * 77 + g * 150 + b * 29) >> 8;
                return m_f.inverted ? 255 - v : v;
            }
            case ColorSpace::Indexed: {
                const std::size_t i = std::size_t(sampleAt(x, 0)) * 3;
                if (i + 2 >= m_f.palette.size()) return 255;
                return (m_f.palette[i] * 77 + m_f.palette[i + 1] * 150 + m_f.palette[i + 2] * 29) >> 8;
            }
            default: v = sampleAt(x, 0);
        }
        return m_f.inverted ? 255 - v : v;
    }

    void addRow() {
        for (int x = 0; x < m_f.width; ++x) {
            m_sums[std::size_t(x / m_shrink)] += std::uint32_t(greyAt(x));
            ++m_counts[std::size_t(x / m_shrink)];
        }
        ++m_y;
        if (m_y % m_shrink == 0 || m_y == m_f.height) {
            std::uint8_t* out = m_out.pixels.data() + std::size_t((m_y - 1) / m_shrink) * std::size_t(m_out.width);
            for (std::size_t i = 0; i < m_sums.size(); ++i) {
                out[i] = m_counts[i] ? std::uint8_t(m_sums[i] / m_counts[i]) : 255;
                m_sums[i] = m_counts[i] = 0;
            }
        }
    }

    const ImageFormat& m_f;
    int m_shrink;
    int m_components = 1;
    std::size_t m_rowBytes = 0;
    std::vector<std::uint8_t> m_row;
    std::vector<std::uint32_t> m_sums, m_counts;
    int m_y = 0;
    GreyImage m_out;
};

// A PNG's image data as stored: zlib data of rows, each after a byte naming its filter. Inflated
// and unfiltered a row at a time, each row handed on.
class PngRows {
public:
    PngRows(const ImageFormat& f, GreyRows& rows) : m_rows(rows) {
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
        m_rows.add(row, n);
        m_filled = 0;
    }

    GreyRows& m_rows;
    z_stream m_z{};
    std::size_t m_rowBytes = 0, m_step = 1, m_filled = 0;
    std::vector<std::uint8_t> m_row, m_above;
    bool m_ended = false;
};

}  // namespace

GreyImage ImageSource::grey(int shrink) const {
    const ImageFormat f = format();
    const int bits = f.bitsPerComponent;
    const bool flate = f.encoding == ImageEncoding::Flate;
    if ((f.encoding != ImageEncoding::Raw && !flate) || (bits != 1 && bits != 2 && bits != 4 && bits != 8 && bits != 16) ||
        f.width <= 0 || f.height <= 0)
        return {};
    GreyRows rows(f, std::max(1, shrink));
    try {
        if (flate) {
            PngRows png(f, rows);
            writeData([&](const std::uint8_t* d, std::size_t n) { png.add(d, n); });
        } else {
            writeData([&](const std::uint8_t* d, std::size_t n) { rows.add(d, n); });
        }
    } catch (const std::exception&) {
        return {};
    }
    return rows.finish();
}

GreyImage FileSlicesImage::grey(int shrink) const {
    if (!stillAsChecked()) return {};
    return m_greyReader ? m_greyReader(shrink) : ImageSource::grey(shrink);
}

GreyImage JpegFileImage::grey(int shrink) const {
    GreyImage image;
    if (!m_checked.empty()) {
        image.pixels = decodeJpegGrey(m_checked.data(), m_checked.size(), shrink, &image.width, &image.height);
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

}  // namespace pdfwriter
