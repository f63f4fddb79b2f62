// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "imaging/imagesource.h"

namespace imaging {

// How pictures go into the PDF: as they are, made smaller, in black and white, or (Document)
// photos of documents made clean pages as they are loaded, the rest as they are.
struct PictureQuality {
    enum class Mode { Original, Reduce, Mono, Document };
    Mode mode = Mode::Original;
    int maxDpi = 150;      // Reduce: the finest a picture is kept at on its page
    int jpegQuality = 75;  // Reduce: the JPEG quality of the pictures made smaller (Document: of the pages)
    // Document: pages stored by what they show (colour where there is colour, else grey, or black
    // and white for print alone), or all as chosen.
    enum class Colours { Auto, Colour, Grey, Mono };
    Colours pageColours = Colours::Auto;
    // Pages of print made compact as they are loaded (their print sharp, in its colours, over a
    // small background); pages that show no print stay as the mode says. Not with Mono.
    bool compact = false;
};

// The finest a black-and-white picture is kept at: documents read as well, fax data stays small.
constexpr int monoDpi = 300;

// The picture as it goes into the PDF when it is shown widthInches x heightInches (as stored,
// before any turn): itself, or a copy made when it is written:
// - Reduce: a picture finer than maxDpi is scaled down (JPEG data through the DCT's scaling,
//   then averaged exactly) and stored as JPEG; others keep their bytes;
// - Mono: turned to one bit with a threshold that follows the light around each pixel, at most
//   monoDpi, and stored as CCITT Group 4 fax data.
// Pictures with transparency, and fax data already, keep their bytes. Text recognition still
// reads the picture as it is.
std::shared_ptr<const ImageSource> pictureFor(std::shared_ptr<const ImageSource> image, double widthInches,
                                              double heightInches, const PictureQuality& quality);

// Black where a pixel of 8-bit grey is clearly darker than the light around it: one bit a pixel,
// 1 for black, rows padded to whole bytes.
std::vector<std::uint8_t> blackAndWhite(const std::vector<std::uint8_t>& grey, int width, int height);
// One-bit rows (1 black) as CCITT Group 4 fax data, and back to 8-bit grey. Both throw
// std::runtime_error when they cannot.
std::vector<std::uint8_t> group4(const std::vector<std::uint8_t>& bits, int width, int height);
std::vector<std::uint8_t> greyOfGroup4(const std::vector<std::uint8_t>& coded, int width, int height);

}  // namespace imaging
