// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/deflate.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace imaging {

Deflater::Deflater(DataOut& out, std::size_t rowBytes) : m_out(out), m_row(rowBytes), m_above(rowBytes) {
    if (::deflateInit(&m_z, Z_BEST_SPEED) != Z_OK) throw std::runtime_error("cannot compress image data");
}

Deflater::~Deflater() { ::deflateEnd(&m_z); }

void Deflater::write(const std::uint8_t* data, std::size_t size) {
    if (m_row.empty()) return deflate(data, size, Z_NO_FLUSH);
    while (size > 0) {
        const std::size_t n = std::min(size, m_row.size() - m_filled);
        std::memcpy(m_row.data() + m_filled, data, n);
        m_filled += n, data += n, size -= n;
        if (m_filled < m_row.size()) break;
        // The row becomes its differences from the row above, which it then replaces.
        for (std::size_t i = 0; i < m_row.size(); ++i) {
            const std::uint8_t sample = m_row[i];
            m_row[i] = std::uint8_t(sample - m_above[i]);
            m_above[i] = sample;
        }
        static constexpr std::uint8_t up = 2;
        deflate(&up, 1, Z_NO_FLUSH);
        deflate(m_row.data(), m_row.size(), Z_NO_FLUSH);
        m_filled = 0;
    }
}

void Deflater::finish() {
    if (m_filled > 0) throw std::runtime_error("image data ends inside a row");
    deflate(nullptr, 0, Z_FINISH);
}

void Deflater::deflate(const std::uint8_t* data, std::size_t size, int flush) {
    m_z.next_in = const_cast<std::uint8_t*>(data);
    m_z.avail_in = unsigned(size);
    int result = Z_OK;
    do {
        m_z.next_out = m_buffer;
        m_z.avail_out = sizeof m_buffer;
        result = ::deflate(&m_z, flush);
        if (result == Z_STREAM_ERROR) throw std::runtime_error("cannot compress image data");
        m_out.write(m_buffer, sizeof m_buffer - m_z.avail_out);
    } while (m_z.avail_out == 0 || (flush == Z_FINISH && result != Z_STREAM_END));
}

std::size_t filteredRowBytes(const ImageFormat& f, bool mask) {
    if (mask) return std::size_t(f.width);
    if (f.encoding != ImageEncoding::Raw || f.bitsPerComponent != 8) return 0;
    const std::size_t components = f.colorSpace == ColorSpace::Rgb ? 3 : f.colorSpace == ColorSpace::Cmyk ? 4 : 1;
    return std::size_t(f.width) * components;
}

std::string deflatedWhole(const void* data, std::size_t size, const char* what) {
    uLongf packedSize = compressBound(uLong(size));
    std::string packed(packedSize, '\0');
    if (compress2(reinterpret_cast<Bytef*>(packed.data()), &packedSize, static_cast<const Bytef*>(data), uLong(size),
                  Z_BEST_COMPRESSION) != Z_OK)
        throw std::runtime_error(std::string("zlib cannot compress ") + what);
    packed.resize(packedSize);
    return packed;
}

}  // namespace imaging
