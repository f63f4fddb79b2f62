// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace imaging {

enum class PngStatus {
    Ok,
    NotPng,       // does not start with the PNG signature
    Truncated,    // ends before its last chunk, or its image data ends early
    Corrupt,      // a chunk, its checksum, the header or the image data is wrong
    Unsupported,  // a valid PNG we do not take as it is
    TooLarge,     // declares more pixels than we accept
};

const char* toString(PngStatus status);

// What a PNG file says about itself, as far as placing it in a PDF needs.
struct PngInfo {
    int width = 0;
    int height = 0;
    int bitDepth = 0;   // bits per sample: 1, 2, 4, 8 or 16
    int colorType = 0;  // 0 grey, 2 RGB, 3 palette, 4 grey and alpha, 6 RGB and alpha
    bool interlaced = false;
    std::vector<std::uint8_t> palette;       // PLTE: three bytes per entry
    std::vector<std::uint8_t> transparency;  // tRNS as stored
    // Where the image data lies in the file: each IDAT chunk's contents, in order. Together
    // they are one zlib stream of filtered rows.
    struct Range {
        std::size_t offset = 0;
        std::size_t length = 0;
    };
    std::vector<Range> imageData;
    // Density in dots per inch from pHYs; 0 when absent or unusable.
    double xDpi = 0;
    double yDpi = 0;

    int channels() const;  // samples per pixel
};

// The largest picture we take, in pixels (as for JPEG files).
inline constexpr std::uint64_t maxPngPixels = 400'000'000;

// Checks a whole PNG file: the signature, every chunk's length and type, the checksums of the
// chunks that make the picture (IHDR, PLTE, IDAT, IEND; an ancillary chunk with a wrong
// checksum is ignored, as decoders do), the header's values, the chunks in their order, and the
// image data inflated through to its end: exactly the rows the header declares, each with a
// known filter, and nothing after the zlib stream. A file that passes can go into a PDF as it is.
// The file is read through read (length bytes from offset into to; false when they cannot be
// had) a piece at a time, so a large file is never held whole. why: set, for image data that
// is damaged or stops short, a critical chunk's wrong checksum, a header or chunk order every
// decoder refuses, a critical chunk or filter method PNG does not define, and too many pixels,
// to what is wrong in words ("its IDAT chunk at byte 1,234 fails its
// checksum"); empty otherwise.
using ReadAt = std::function<bool(std::size_t offset, std::size_t length, std::uint8_t* to)>;
PngStatus checkPng(std::size_t size, const ReadAt& read, PngInfo* info, std::string* why = nullptr);

}  // namespace imaging
