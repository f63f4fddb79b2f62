// SPDX-License-Identifier: GPL-3.0-or-later
#include "recognition/textlayer.h"

#include <qpdf/QUtil.hh>

#include <algorithm>
#include <cstdio>
#include <sstream>
#include <stdexcept>

#include "imaging/deflate.h"
#include "recognition/glyphlessfont.h"

namespace recognition {

namespace {

// [a b c d e f] applied first, then m.
imaging::Matrix then(const imaging::Matrix& first, const imaging::Matrix& m) {
    return {first.a * m.a + first.b * m.c,        first.a * m.b + first.b * m.d,
            first.c * m.a + first.d * m.c,        first.c * m.b + first.d * m.d,
            first.e * m.a + first.f * m.c + m.e,  first.e * m.b + first.f * m.d + m.f};
}

// From the picture turned upright (pixels, y upwards) back to the picture as stored, whose
// size is w x h: the inverse of turning it clockwise by `turn` degrees.
imaging::Matrix fromTurned(int turn, double w, double h) {
    switch (turn) {
        case 90: return {0, 1, -1, 0, w, 0};
        case 180: return {-1, 0, 0, -1, w, h};
        case 270: return {0, -1, 1, 0, 0, h};
        default: return {};
    }
}

std::string number(double v, int decimals) { return QUtil::double_to_string(v, decimals, true); }

// A UTF-8 string's characters.
std::u32string codePoints(const std::string& utf8) {
    std::u32string out;
    for (std::size_t i = 0; i < utf8.size();) {
        const unsigned char c = static_cast<unsigned char>(utf8[i]);
        const int length = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 1;
        char32_t code = length == 1 ? c : c & (0x7F >> length);
        for (int k = 1; k < length && i + std::size_t(k) < utf8.size(); ++k)
            code = (code << 6) | (static_cast<unsigned char>(utf8[i + std::size_t(k)]) & 0x3F);
        out += code;
        i += std::size_t(length);
    }
    return out;
}

// A UTF-16 code unit, in hexadecimal.
std::string hex4(unsigned unit) {
    char text[8];
    std::snprintf(text, sizeof text, "%04X", unit & 0xFFFFu);
    return text;
}

// Chinese and Japanese run on without spaces: between two of their characters a reader must find
// none, or every copied sentence falls apart into single characters.
bool setClose(char32_t c) {
    return (c >= 0x2E80 && c <= 0x9FFF) || (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFF00 && c <= 0xFFEF) ||
           (c >= 0x20000 && c <= 0x3FFFF);
}

QPDFObjectHandle deflatedStream(QPDF& pdf, const std::string& data) {
    QPDFObjectHandle stream = QPDFObjectHandle::newStream(&pdf, imaging::deflatedWhole(data.data(), data.size(), "the text layer's font"));
    stream.getDict().replaceKey("/Filter", QPDFObjectHandle::newName("/FlateDecode"));
    return stream;
}

}  // namespace

QPDFObjectHandle textLayerFont(QPDF& pdf) {
    // Every character code is its Unicode value, and every one shows glyph 1, a blank.
    std::string toGlyph(65536 * 2, '\0');
    for (std::size_t i = 1; i < toGlyph.size(); i += 2) toGlyph[i] = 1;
    std::string toUnicode =
        "/CIDInit /ProcSet findresource begin\n12 dict begin\nbegincmap\n"
        "/CIDSystemInfo << /Registry (Adobe) /Ordering (UCS) /Supplement 0 >> def\n"
        "/CMapName /Adobe-Identity-UCS def\n/CMapType 2 def\n"
        "1 begincodespacerange\n<0000> <FFFF>\nendcodespacerange\n";
    for (int block = 0; block < 256; block += 100) {
        const int count = std::min(100, 256 - block);
        toUnicode += std::to_string(count) + " beginbfrange\n";
        char line[40];
        for (int hi = block; hi < block + count; ++hi) {
            std::snprintf(line, sizeof line, "<%02X00> <%02XFF> <%02X00>\n", hi, hi, hi);
            toUnicode += line;
        }
        toUnicode += "endbfrange\n";
    }
    toUnicode += "endcmap\nCMapName currentdict /CMap defineresource pop\nend\nend\n";

    QPDFObjectHandle file = deflatedStream(pdf, std::string(glyphlessFont, glyphlessFont + glyphlessFontSize));
    file.getDict().replaceKey("/Length1", QPDFObjectHandle::newInteger(std::int64_t(glyphlessFontSize)));
    QPDFObjectHandle descriptor = QPDFObjectHandle::parse(
        "<< /Type /FontDescriptor /FontName /GlyphLessFont /Flags 5 /FontBBox [0 0 500 1000] /ItalicAngle 0 "
        "/Ascent 1000 /Descent 0 /CapHeight 1000 /StemV 80 >>");
    descriptor.replaceKey("/FontFile2", file);
    QPDFObjectHandle cidFont = QPDFObjectHandle::parse(
        "<< /Type /Font /Subtype /CIDFontType2 /BaseFont /GlyphLessFont "
        "/CIDSystemInfo << /Registry (Adobe) /Ordering (Identity) /Supplement 0 >> /DW 500 >>");
    cidFont.replaceKey("/FontDescriptor", pdf.makeIndirectObject(descriptor));
    cidFont.replaceKey("/CIDToGIDMap", deflatedStream(pdf, toGlyph));
    QPDFObjectHandle font = QPDFObjectHandle::parse(
        "<< /Type /Font /Subtype /Type0 /BaseFont /GlyphLessFont /Encoding /Identity-H >>");
    font.replaceKey("/DescendantFonts", QPDFObjectHandle::newArray({pdf.makeIndirectObject(cidFont)}));
    font.replaceKey("/ToUnicode", deflatedStream(pdf, toUnicode));
    return pdf.makeIndirectObject(font);
}

QPDFObjectHandle supplementaryFont(QPDF& pdf, QPDFObjectHandle font, const std::u32string& characters) {
    std::string toUnicode =
        "/CIDInit /ProcSet findresource begin\n12 dict begin\nbegincmap\n"
        "/CIDSystemInfo << /Registry (Adobe) /Ordering (UCS) /Supplement 0 >> def\n"
        "/CMapName /Pictolio-Supplementary def\n/CMapType 2 def\n"
        "1 begincodespacerange\n<0000> <FFFF>\nendcodespacerange\n";
    for (std::size_t block = 0; block < characters.size(); block += 100) {
        const std::size_t count = std::min<std::size_t>(100, characters.size() - block);
        toUnicode += std::to_string(count) + " beginbfchar\n";
        for (std::size_t i = block; i < block + count; ++i) {
            const char32_t v = characters[i] - 0x10000;
            toUnicode += "<" + hex4(unsigned(i + 1)) + "> <" + hex4(unsigned(0xD800 + (v >> 10))) +
                         hex4(unsigned(0xDC00 + (v & 0x3FF))) + ">\n";
        }
        toUnicode += "endbfchar\n";
    }
    toUnicode += "endcmap\nCMapName currentdict /CMap defineresource pop\nend\nend\n";
    QPDFObjectHandle second = QPDFObjectHandle::parse(
        "<< /Type /Font /Subtype /Type0 /BaseFont /GlyphLessFont /Encoding /Identity-H >>");
    second.replaceKey("/DescendantFonts", font.getKey("/DescendantFonts"));
    second.replaceKey("/ToUnicode", deflatedStream(pdf, toUnicode));
    return pdf.makeIndirectObject(second);
}

std::string textLayerContent(const RecognisedText& text, const imaging::Matrix& matrix, std::u32string* beyond) {
    if (text.words.empty() || text.width <= 0 || text.height <= 0) return {};
    const bool sideways = text.turn == 90 || text.turn == 270;
    const double uprightHeight = sideways ? text.width : text.height;
    // Pixels of the upright picture (y upwards) to the page.
    const imaging::Matrix toPage = then(then(fromTurned(text.turn, text.width, text.height),
                                             imaging::Matrix{1.0 / text.width, 0, 0, 1.0 / text.height, 0, 0}),
                                        matrix);
    std::ostringstream out;
    out << "q " << number(toPage.a, 8) << ' ' << number(toPage.b, 8) << ' ' << number(toPage.c, 8) << ' '
        << number(toPage.d, 8) << ' ' << number(toPage.e, 4) << ' ' << number(toPage.f, 4) << " cm\nBT 3 Tr\n";
    const auto& words = text.words;
    std::size_t sizedLine = text.lines.size();  // the line whose size the font was last set to
    int font = -1;                              // the font last set: 0 "/F0", 1 "/F1"
    for (std::size_t i = 0; i < words.size(); ++i) {
        const RecognisedWord& w = words[i];
        if (w.line >= text.lines.size()) continue;
        const RecognisedLine& line = text.lines[w.line];
        // Every word of a line on the line's baseline, at the line's size: readers join them into
        // one line, in reading order. A word runs to the next one, with a space to it.
        const RecognisedWord* next = !w.endsLine && i + 1 < words.size() && words[i + 1].line == w.line ? &words[i + 1]
                                                                                                        : nullptr;
        std::u32string codes = codePoints(w.text);
        const std::u32string following = next ? codePoints(next->text) : std::u32string{};
        const bool spaced = next && !codes.empty() && !following.empty() &&
                            !(setClose(codes.back()) && setClose(following.front()));
        double from = w.left, to = w.right;
        if (w.rightToLeft) {
            // Drawn left to right as it shows; readers put right-to-left text back in its order.
            std::reverse(codes.begin(), codes.end());
            if (next && next->right < w.right) {
                if (spaced) codes.insert(codes.begin(), U' ');
                from = next->right;
            }
        } else if (next && next->left > w.left) {
            // To the next word, or only so far when the boxes overlap: a word drawn past the start
            // of the next one is taken for the start of another line.
            if (spaced) codes += U' ';
            to = next->left;
        }
        if (codes.empty()) continue;
        // Runs of characters by font: those past U+FFFF by their number in the page's second font.
        std::vector<std::pair<bool, std::string>> runs;
        for (char32_t code : codes) {
            const bool far = code > 0xFFFF && code <= 0x10FFFF;
            std::string unit;
            if (far) {
                std::size_t n = beyond->find(code);
                if (n == std::u32string::npos) n = beyond->size(), *beyond += code;
                unit = hex4(unsigned(n + 1));
            } else {
                unit = hex4(code >= 0xD800 && code <= 0xDFFF ? 0xFFFD : unsigned(code));
            }
            if (runs.empty() || runs.back().first != far) runs.push_back({far, {}});
            runs.back().second += unit;
        }
        const double stretch = 100.0 * (to - from) / (double(codes.size()) * 0.5 * line.size);
        // Level, at the height of the line's baseline at its middle: readers split a line whose
        // words are drawn at a slant, or at heights that follow its slope, into pieces they put
        // out of order.
        out << number(stretch, 2) << " Tz 1 0 0 1 " << number(from, 2) << ' '
            << number(uprightHeight - line.baselineAt((line.x1 + line.x2) / 2), 2) << " Tm";
        for (const auto& [far, hex] : runs) {
            if (font != (far ? 1 : 0) || sizedLine != w.line)
                out << (far ? " /F1 " : " /F0 ") << number(line.size, 2) << " Tf";
            font = far ? 1 : 0;
            sizedLine = w.line;
            out << " <" << hex << "> Tj";
        }
        out << '\n';
    }
    out << "ET Q\n";
    return out.str();
}

}  // namespace recognition
