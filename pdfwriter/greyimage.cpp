// SPDX-License-Identifier: GPL-3.0-or-later
// Pictures read as grey pixels, for text recognition.

#include <fcntl.h>
#include <unistd.h>

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
    int sampleAt(int x, int c) const {
        if (m_f.bitsPerComponent == 1) {
            const int bit = (m_row[std::size_t(x) >> 3] >> (7 - (x & 7))) & 1;
            return bit ? 255 : 0;
        }
        return m_row[std::size_t(x) * std::size_t(m_components) + std::size_t(c)];
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

}  // namespace

GreyImage ImageSource::grey(int shrink) const {
    const ImageFormat f = format();
    if (f.encoding != ImageEncoding::Raw || (f.bitsPerComponent != 8 && f.bitsPerComponent != 1) || f.width <= 0 ||
        f.height <= 0)
        return {};
    GreyRows rows(f, std::max(1, shrink));
    try {
        writeData([&](const std::uint8_t* d, std::size_t n) { rows.add(d, n); });
    } catch (const std::exception&) {
        return {};
    }
    return rows.finish();
}

GreyImage FileSlicesImage::grey(int shrink) const {
    if (!m_greyReader || !stillAsChecked()) return {};
    return m_greyReader(shrink);
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
