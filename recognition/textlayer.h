// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>

#include "imaging/geometry.h"
#include "recognition/recogniser.h"

namespace recognition {

// The font of the text layer: every character a blank glyph half as wide as high, each
// character code its Unicode value; embedded, so the file needs no font from the reader's system.
QPDFObjectHandle textLayerFont(QPDF& pdf);

// Content that writes the words recognised on a picture invisibly over it (text rendering mode
// 3): each line's words level on its baseline at its size, each word stretched over its box with
// a space up to the next word of its line. matrix: where the picture's unit square goes on the
// page. font: the font's resource name ("/F0").
std::string textLayerContent(const RecognisedText& text, const imaging::Matrix& matrix, const std::string& font);

}  // namespace recognition
