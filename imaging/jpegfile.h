// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace imaging {

enum class JpegStatus {
    Ok,
    NotJpeg,      // does not start like a JPEG file
    Truncated,    // ends before its end-of-image marker
    DataMissing,  // has its end-of-image marker, but picture data is missing: cut and ended again
    Corrupt,      // a marker, segment or table is wrong
    Unsupported,  // a valid JPEG we do not take: 12-bit, lossless, hierarchical, too many scans
    TooLarge,     // declares more pixels than we accept
};

const char* toString(JpegStatus status);

// What the file says about itself, as far as placing it in a PDF needs.
struct JpegInfo {
    int width = 0;
    int height = 0;
    int components = 0;  // 1 grey, 3 colour, 4 CMYK or YCCK
    bool progressive = false;
    bool arithmetic = false;
    bool hasJfif = false;
    bool hasAdobe = false;
    int adobeTransform = -1;  // APP14's transform flag when present
    bool rgbColorSpace = false;  // three components stored as RGB rather than YCbCr
    // Density in dots per inch from JFIF, else from EXIF; 0 when absent or unusable.
    double xDpi = 0;
    double yDpi = 0;
    int orientation = 1;  // EXIF orientation 1..8; anything else counts as 1
    // Where the standard Huffman tables go (before the first scan) in a file that has none, as
    // Motion-JPEG frames; 0 when the file has its own.
    std::size_t standardTablesAt = 0;
};

// The largest picture we take, in pixels: beyond every camera made today, far below what
// would exhaust memory in a viewer.
inline constexpr std::uint64_t maxJpegPixels = 400'000'000;

// The most scans we take. A progressive file has about ten; libjpeg-turbo advises this bound,
// as every scan of a progressive file goes over the whole picture again: a small file of
// thousands of scans would keep the decoder busy for minutes.
inline constexpr int maxJpegScans = 500;

// Checks a whole JPEG file at memory speed: every marker segment and its length, the frame,
// tables and scans present and consistent, the entropy-coded data scanned through to the
// end-of-image marker. The headers are then read by the JPEG library as well, which checks
// what the structure alone cannot (sampling factors, table contents); an arithmetic-coded file,
// which is re-encoded when printed, is re-encoded here on trial, so one that will not re-encode
// cleanly is refused now rather than fail when its page is written. Only the markers before the first
// scan describe the picture, as decoders read them.
JpegStatus checkJpeg(const std::uint8_t* data, std::size_t size, JpegInfo* info);

// The orientation (1 to 8) an EXIF block gives, with or without its "Exif\0\0" prefix (as
// JPEG APP1 segments and WebP EXIF chunks hold it); 1 when it gives none.
int exifOrientation(const std::uint8_t* data, std::size_t size);

// The APP14 segment that tells a decoder three components are RGB (transform 0).
extern const std::uint8_t adobeRgbSegment[16];

// The standard Huffman tables of the JPEG standard, as DHT segments.
const std::vector<std::uint8_t>& standardHuffmanTables();

// Rewrites an arithmetic-coded JPEG with Huffman coding, copying the DCT coefficients (no
// quality is lost). Throws std::runtime_error when the data cannot be decoded cleanly: damaged
// entropy-coded data, more than maxJpegScans scans. Stray bytes between markers and marker
// contents the library does not know are not damage.
std::vector<std::uint8_t> transcodeToHuffman(const std::uint8_t* data, std::size_t size);

}  // namespace imaging

namespace imaging {

// Decodes a JPEG file to 8-bit grey, scaled by 1/shrink in the DCT (1, 2, 4 or 8): *width and
// *height get the size decoded. Empty when the data cannot be decoded.
std::vector<std::uint8_t> decodeJpegGrey(const std::uint8_t* data, std::size_t size, int shrink, int* width,
                                         int* height);

// Decodes a JPEG file a row at a time, scaled by 1/shrink in the DCT (1, 2, 4 or 8): 8-bit grey,
// or (colour, for a file in colour) RGB; CMYK is converted. start gets the size decoded and the
// components (1 or 3) before the first row. False when the data cannot be decoded.
using JpegRowsStart = std::function<void(int width, int height, int components)>;
bool decodeJpegRows(const std::uint8_t* data, std::size_t size, int shrink, bool colour, const JpegRowsStart& start,
                    const std::function<void(const std::uint8_t* row)>& row);

// Encodes 8-bit grey (components 1) or RGB (3) pixels, row after row, as a baseline JPEG file of
// the given quality (1 to 100). Throws std::runtime_error when the library cannot.
std::vector<std::uint8_t> encodeJpeg(const std::uint8_t* pixels, int width, int height, int components, int quality);

}  // namespace imaging
