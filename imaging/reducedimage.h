// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <memory>

#include "imaging/imagesource.h"

namespace imaging {

// How pictures go into the PDF: as they are, made smaller, or in black and white.
struct PictureQuality {
    enum class Mode { Original, Reduce, Mono };
    Mode mode = Mode::Original;
    int maxDpi = 150;      // Reduce: the finest a picture is kept at on its page
    int jpegQuality = 75;  // Reduce: the JPEG quality of the pictures made smaller
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

}  // namespace imaging
