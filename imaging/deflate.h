// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "imaging/imagesource.h"

namespace imaging {

// Samples deflated as a PDF holds a decoded picture's. Rows of 8-bit samples go through PNG's Up
// filter first (each byte less the one above it, which a reader's predictor 15 undoes): a
// photo's samples deflate to two thirds of the size they take unfiltered, in half the time, at
// the fastest level.
class Deflater {
public:
    // rowBytes: the length of a row of samples to filter; 0 for none. Throws std::runtime_error
    // when zlib cannot start.
    Deflater(DataOut& out, std::size_t rowBytes);
    ~Deflater();
    Deflater(const Deflater&) = delete;
    Deflater& operator=(const Deflater&) = delete;

    void write(const std::uint8_t* data, std::size_t size);
    // Throws std::runtime_error when the data ends inside a row.
    void finish();

private:
    void deflate(const std::uint8_t* data, std::size_t size, int flush);

    DataOut& m_out;
    z_stream m_z{};
    std::vector<std::uint8_t> m_row, m_above;
    std::size_t m_filled = 0;
    std::uint8_t m_buffer[64 << 10];
};

// The length of a row the Up filter works on, for a picture's image data or (mask) its alpha
// channel; 0 for data it does not filter (only raw samples of 8 bits and alpha channels).
// The bytes deflated whole (zlib, the best compression), for small streams written at once: a
// colour profile, a font. Throws std::runtime_error naming `what` when zlib cannot.
std::string deflatedWhole(const void* data, std::size_t size, const char* what);

std::size_t filteredRowBytes(const ImageFormat& format, bool mask);

}  // namespace imaging
