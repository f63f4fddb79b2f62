// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Reads a PDF back with libqpdf for the fuzz targets. Kept apart from them: clang 14 cannot
// compile qpdf's headers in C++20 mode, so this file's source is built as C++17.

#include <string>
#include <vector>

namespace fuzz {

struct PdfImageSeen {
    std::string filter;  // "/DCTDecode" or "/FlateDecode"
    int width = 0;
    int height = 0;
    std::string colorSpace;
    std::string data;  // as stored for DCT, decompressed for Flate
};

// Each page's images, in order. Throws std::exception when the file is no readable PDF.
std::vector<std::vector<PdfImageSeen>> readPdfImages(const std::string& path);

}  // namespace fuzz
