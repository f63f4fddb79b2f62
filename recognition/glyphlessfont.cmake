# SPDX-License-Identifier: GPL-3.0-or-later
# pictolio_glyphless_font(<header>): writes the header that builds the text layer's font into
# the program. The glyph-less font comes with Tesseract's data.
function(pictolio_glyphless_font output)
  find_file(PICTOLIO_GLYPHLESS_FONT pdf.ttf
            PATHS /usr/share/tesseract-ocr/5/tessdata /usr/share/tesseract-ocr/4.00/tessdata /usr/share/tessdata
            NO_DEFAULT_PATH REQUIRED)
  file(READ ${PICTOLIO_GLYPHLESS_FONT} font_hex HEX)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," font_bytes "${font_hex}")
  string(LENGTH "${font_hex}" font_hex_length)
  math(EXPR font_size "${font_hex_length} / 2")
  file(CONFIGURE OUTPUT ${output} CONTENT
  "#pragma once
  // Made by the build from ${PICTOLIO_GLYPHLESS_FONT}.
  #include <cstddef>
  namespace recognition {
  inline constexpr unsigned char glyphlessFont[] = {${font_bytes}};
  inline constexpr std::size_t glyphlessFontSize = ${font_size};
  }  // namespace recognition
  ")
endfunction()
