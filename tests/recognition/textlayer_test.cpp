// SPDX-License-Identifier: GPL-3.0-or-later
// The text layer as readers take it out: a page holding only the layer, read back by poppler.
#include <gtest/gtest.h>

#include <QProcess>
#include <QTemporaryDir>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include "recognition/textlayer.h"

namespace recognition {
namespace {

// What plain pdftotext reads on a 1000 x 400 point page whose whole area is the recognised picture.
QString readBack(const RecognisedText& text) {
    QPDF pdf;
    pdf.emptyPDF();
    QPDFObjectHandle fonts = QPDFObjectHandle::newDictionary();
    fonts.replaceKey("/F0", textLayerFont(pdf));
    std::u32string beyond;
    const std::string content = textLayerContent(text, imaging::Matrix{1000, 0, 0, 400, 0, 0}, &beyond);
    if (!beyond.empty()) fonts.replaceKey("/F1", supplementaryFont(pdf, fonts.getKey("/F0"), beyond));
    QPDFObjectHandle resources = QPDFObjectHandle::newDictionary();
    resources.replaceKey("/Font", fonts);
    QPDFObjectHandle page = QPDFObjectHandle::parse("<< /Type /Page /MediaBox [0 0 1000 400] >>");
    page.replaceKey("/Resources", resources);
    page.replaceKey("/Contents", QPDFObjectHandle::newStream(&pdf, content));
    QPDFPageDocumentHelper(pdf).addPage(pdf.makeIndirectObject(page), false);
    QTemporaryDir folder;
    const QString path = folder.filePath("layer.pdf");
    const QByteArray name = path.toUtf8();  // (the writer keeps the pointer)
    QPDFWriter writer(pdf, name.constData());
    writer.write();
    QProcess p;
    p.start("pdftotext", {path, "-"});
    p.waitForFinished(30000);
    // (poppler marks right-to-left text with embedding marks)
    return QString::fromUtf8(p.readAllStandardOutput()).remove('\f').remove(QChar(0x202B)).remove(QChar(0x202C)).trimmed();
}

RecognisedWord word(int left, int top, int right, int bottom, const char* text, std::size_t line, bool ends = false) {
    RecognisedWord w{left, top, right, bottom, text, ends, line};
    return w;
}

RecognisedWord rightToLeft(RecognisedWord w) {
    w.rightToLeft = true;
    return w;
}

TEST(TextLayer, LinesComeOutWholeInReadingOrder) {
    const struct {
        const char* name;
        std::vector<RecognisedLine> lines;
        std::vector<RecognisedWord> words;
        const char* expected;
    } cases[] = {
        // A sloping line whose words hang below and rise above each other's boxes, over a level one.
        {"sloping",
         {{100, 120, 900, 150, 40}, {100, 200, 900, 200, 40}},
         {word(100, 70, 300, 140, "quickly", 0), word(330, 90, 560, 135, "jumping", 0),
          word(600, 100, 880, 160, "yeoman", 0, true), word(100, 160, 250, 210, "below", 1),
          word(280, 160, 320, 200, "it", 1, true)},
         "quickly jumping yeoman\nbelow it"},
        // Characters past U+FFFF (a mathematical letter, an emoji), inside words and as words.
        {"past U+FFFF",
         {{100, 200, 900, 200, 40}},
         {word(100, 160, 160, 200, "x\xF0\x9D\x90\x80y", 0), word(180, 160, 200, 200, "\xF0\x9F\x98\x80", 0),
          word(220, 160, 340, 200, "plain\xF0\x9D\x90\x80", 0, true)},
         "x\xF0\x9D\x90\x80y \xF0\x9F\x98\x80 plain\xF0\x9D\x90\x80"},
        // A word of a right-to-left script, in the order it is read.
        {"right to left",
         {{100, 200, 900, 200, 40}},
         {rightToLeft(word(600, 160, 700, 200, "\xD7\xA9\xD7\x9C\xD7\x95\xD7\x9D", 0, true))},
         "\xD7\xA9\xD7\x9C\xD7\x95\xD7\x9D"},
        // Chinese runs on without spaces; a box reaching into the next one's keeps both on the line.
        {"Chinese, boxes overlapping",
         {{100, 200, 900, 200, 40}, {100, 300, 900, 300, 40}},
         {word(100, 160, 190, 200, "\xE6\x88\x91\xE4\xBB\xAC", 0), word(200, 160, 290, 200, "\xE4\xBB\x8A", 0),
          word(300, 160, 420, 200, "\xE6\x9E\x9C\xE5\xAD\x90", 0), word(400, 160, 440, 200, "\xE4\xB8\x8A", 0, true),
          word(100, 260, 200, 300, "over", 1), word(190, 260, 300, 300, "lapping", 1, true)},
         "\xE6\x88\x91\xE4\xBB\xAC\xE4\xBB\x8A\xE6\x9E\x9C\xE5\xAD\x90\xE4\xB8\x8A\nover lapping"},
    };
    for (const auto& c : cases) {
        RecognisedText text;
        text.width = 1000, text.height = 400;
        text.lines = c.lines;
        text.words = c.words;
        EXPECT_EQ(readBack(text), QString::fromUtf8(c.expected)) << c.name;
    }
}

}  // namespace
// A word's box on the picture as stored, whichever way the picture turns to read upright: a
// 100 x 200 picture, the word near the upright picture's top left.
TEST(TextLayer, WordBoxesOnThePictureAsStored) {
    const struct {
        int turn;
        imaging::Rect box;  // shares of the stored picture
    } rows[] = {{0, {0.1, 0.1, 0.2, 0.1}}, {90, {0.2, 0.85, 0.2, 0.1}}, {180, {0.7, 0.8, 0.2, 0.1}}, {270, {0.6, 0.05, 0.2, 0.1}}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.turn);
        RecognisedText text;
        text.width = 100, text.height = 200, text.turn = row.turn;
        // Upright, the picture is 100 x 200 (or 200 x 100 when turned a quarter).
        text.words = {word(10, 20, 30, 40, "word", 0, true)};
        const std::vector<imaging::Rect> boxes = wordBoxes(text);
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_NEAR(boxes[0].x, row.box.x, 1e-9);
        EXPECT_NEAR(boxes[0].y, row.box.y, 1e-9);
        EXPECT_NEAR(boxes[0].width, row.box.width, 1e-9);
        EXPECT_NEAR(boxes[0].height, row.box.height, 1e-9);
    }
}

// Pictures are made smaller for reading by the mean of what each pixel covers, also by fractions.
TEST(Recognition, PicturesMadeSmallerKeepTheMeanOfWhatTheyCover) {
    const struct {
        int width, height;
        std::vector<std::uint8_t> pixels;
        int toWidth, toHeight;
        std::vector<std::uint8_t> expected;  // empty: refused
    } rows[] = {
        {4, 1, {0, 255, 100, 200}, 2, 1, {128, 150}},
        {3, 1, {0, 90, 180}, 2, 1, {30, 150}},  // a pixel and a half each
        {2, 2, {0, 100, 200, 100}, 1, 1, {100}},
        {1, 3, {30, 60, 90}, 1, 2, {40, 80}},
        {2, 1, {0, 0}, 3, 1, {}},  // never larger
    };
    for (const auto& row : rows) {
        const imaging::GreyImage made = scaled({row.width, row.height, row.pixels}, row.toWidth, row.toHeight);
        if (row.expected.empty()) {
            EXPECT_TRUE(made.isNull());
            continue;
        }
        EXPECT_EQ(made.width, row.toWidth);
        EXPECT_EQ(made.height, row.toHeight);
        EXPECT_EQ(made.pixels, row.expected);
    }
}

}  // namespace recognition
