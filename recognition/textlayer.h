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

// The page's second font of the text layer, for the characters past U+FFFF it shows (their
// codes 1, 2, ... in this order): the same blank glyphs as font's, each code readers take for its
// character, a surrogate pair.
QPDFObjectHandle supplementaryFont(QPDF& pdf, QPDFObjectHandle font, const std::u32string& characters);

// Content that writes the words recognised on a picture invisibly over it (text rendering mode
// 3): each line's words level on its baseline at its size, each word stretched over its box with
// a space up to the next word of its line, in the font "/F0" (textLayerFont). matrix: where the
// picture's unit square goes on the page. beyond: the characters past U+FFFF the page shows so
// far, in the font "/F1" (supplementaryFont); those of this picture are added.
std::string textLayerContent(const RecognisedText& text, const imaging::Matrix& matrix, std::u32string* beyond);

}  // namespace recognition
