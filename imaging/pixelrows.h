// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <functional>

#include "imaging/imagesource.h"

namespace imaging {

// A row of 8-bit pixels: grey (one byte each) or RGB (three).
using PixelRowSink = std::function<void(const std::uint8_t* row)>;

// Reads a picture's pixels a row at a time, top to bottom, at its stored size, in grey or (rgb)
// RGB: raw samples of any kind, or a PNG's image data as stored. False for other data, and when
// the data is damaged or ends early (rows given so far may have been handed on).
bool readPixelRows(const ImageSource& image, bool rgb, const PixelRowSink& row);

}  // namespace imaging
