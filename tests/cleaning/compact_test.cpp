// SPDX-License-Identifier: GPL-3.0-or-later
// Compact pages taken apart, on 300-dpi colour scans of printed pages (a blue heading, a table,
// lines of print, a red stamp; some with a photo below the print), where the truth is known.
#include <gtest/gtest.h>

#include <QColor>
#include <array>
#include <cmath>

#include "cleaning/compact.h"
#include "tests/support/documentphoto.h"

using namespace cleaning;
using namespace pictolio::testing;

namespace {

RgbImage rgbOf(const QImage& image) {
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    RgbImage out;
    out.width = rgb.width(), out.height = rgb.height();
    for (int y = 0; y < rgb.height(); ++y) out.pixels.insert(out.pixels.end(), rgb.constScanLine(y), rgb.constScanLine(y) + rgb.width() * 3);
    return out;
}

bool printAt(const Ink& ink, int width, int x, int y) {
    return ink.bits[std::size_t(y) * std::size_t((width + 7) / 8) + std::size_t(x / 8)] & (0x80 >> (x % 8));
}

// The mean colour of the scan's dark pixels (print) within the rectangle.
std::array<double, 3> printColour(const QImage& scan, QRect where) {
    std::array<double, 3> sum{};
    int n = 0;
    for (int y = where.top(); y <= where.bottom(); ++y)
        for (int x = where.left(); x <= where.right(); ++x) {
            const QRgb p = scan.pixel(x, y);
            if (qGray(p) >= 128) continue;
            sum[0] += qRed(p), sum[1] += qGreen(p), sum[2] += qBlue(p), ++n;
        }
    for (double& v : sum) v /= std::max(1, n);
    return sum;
}

}  // namespace

TEST(Compact, PrintSharpInItsColoursOverABackgroundWithoutIt) {
    constexpr double px = 300 / 25.4;  // pixels a millimetre
    for (const bool withPhoto : {false, true}) {
        SCOPED_TRACE(withPhoto ? "a page with a photo" : "a page of print");
        QStringList lines;
        const QImage scan = flatbedScan(documentPage({210, 297}, 300, &lines, 7, withPhoto), 3);
        const pictolio::Outcome<CompactLayers> layers = compactLayers(rgbOf(scan));
        ASSERT_TRUE(layers) << layers.reason().toStdString();
        ASSERT_EQ(layers->factor, 3);  // about 100 dpi

        // Each ink keeps the colour of its print: the blue heading, the black lines, the red stamp.
        const QRect heading(int(20 * px), int(20 * px), int(80 * px), int(8 * px));
        const QRect body(int(20 * px), int(70 * px), int(150 * px), int(60 * px));
        const QRect stamp(scan.width() - int(70 * px), int(10 * px), int(50 * px), int(25 * px));
        for (const QRect& where : {heading, body, stamp}) {
            const std::array<double, 3> truth = printColour(scan, where);
            // The ink that paints most of the print there.
            const Ink* most = nullptr;
            int mostCount = 0;
            for (const Ink& ink : layers->inks) {
                int count = 0;
                for (int y = where.top(); y <= where.bottom(); ++y)
                    for (int x = where.left(); x <= where.right(); ++x) count += printAt(ink, scan.width(), x, y);
                if (count > mostCount) most = &ink, mostCount = count;
            }
            ASSERT_NE(most, nullptr);
            for (int c = 0; c < 3; ++c) EXPECT_NEAR(most->colour[std::size_t(c)], truth[std::size_t(c)], 30) << "channel " << c;
        }

        // The print is in the inks at full resolution, and the paper is not.
        int dark = 0, darkPainted = 0, light = 0, lightPainted = 0;
        for (int y = body.top(); y <= body.bottom(); ++y)
            for (int x = body.left(); x <= body.right(); ++x) {
                bool painted = false;
                for (const Ink& ink : layers->inks) painted = painted || printAt(ink, scan.width(), x, y);
                const int grey = qGray(scan.pixel(x, y));
                if (grey < 100) ++dark, darkPainted += painted;
                if (grey > 230) ++light, lightPainted += painted;
            }
        EXPECT_GT(darkPainted, dark * 97 / 100);
        EXPECT_LT(lightPainted, light / 100);

        // The background holds no trace of the print: paper under the lines.
        const RgbImage& back = layers->background;
        int darkest = 255;
        for (int y = body.top() / 3; y <= body.bottom() / 3; ++y)
            for (int x = body.left() / 3; x <= body.right() / 3; ++x) {
                const std::uint8_t* p = back.pixels.data() + (std::size_t(y) * std::size_t(back.width) + std::size_t(x)) * 3;
                darkest = std::min(darkest, qGray(p[0], p[1], p[2]));
            }
        EXPECT_GT(darkest, 200);

        // A photo on the page is a picture, left whole in the background, with no print over it.
        if (!withPhoto) {
            EXPECT_TRUE(layers->pictures.empty());
            continue;
        }
        const QRect photo(int(20 * px), int(scan.height() * 0.65), scan.width() - int(40 * px), int(scan.height() * 0.35 - 20 * px));
        ASSERT_EQ(layers->pictures.size(), 1u);
        const Box& found = layers->pictures[0];
        EXPECT_TRUE(QRect(found.x, found.y, found.width, found.height).contains(photo.adjusted(2, 2, -2, -2)));
        EXPECT_LT(found.width * found.height, photo.width() * photo.height() * 11 / 10);
        for (const Ink& ink : layers->inks)
            for (int y = photo.top(); y <= photo.bottom(); y += 7)
                for (int x = photo.left(); x <= photo.right(); x += 7) ASSERT_FALSE(printAt(ink, scan.width(), x, y));
        const QRgb sky = scan.pixel(photo.left() + 30, photo.top() + 30);
        const std::uint8_t* shown = back.pixels.data() + (std::size_t((photo.top() + 30) / 3) * std::size_t(back.width) + std::size_t((photo.left() + 30) / 3)) * 3;
        EXPECT_NEAR(shown[2], qBlue(sky), 12);
        EXPECT_NEAR(shown[0], qRed(sky), 12);
    }
}

TEST(Compact, PagesWithoutPrintAreLeftAsTheyAre) {
    QImage blank(1240, 1754, QImage::Format_RGB888);
    blank.fill(QColor(246, 245, 240));
    QImage speck = blank;  // a few dark pixels: dust, not print
    for (int y = 800; y < 803; ++y)
        for (int x = 600; x < 603; ++x) speck.setPixelColor(x, y, Qt::black);
    const struct {
        const char* page;
        QImage image;
    } rows[] = {
        {"a landscape photo", landscapePhoto({2000, 1500})},
        {"blank paper", flatbedScan(blank)},
        {"paper with a speck", speck},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.page);
        const auto compact = compactPage(rgbOf(row.image), 75, "page");
        ASSERT_FALSE(compact);
        EXPECT_EQ(compact.reason().toStdString(), "no text found");
    }
}

TEST(Compact, RecognisedWordsClearTheSpecksAwayFromThem) {
    QStringList lines;
    QImage scan = flatbedScan(documentPage({210, 297}, 300, &lines, 9), 4);
    // Dust in the right margin, a pixel or two each; and a full stop's worth beside the print.
    std::vector<QPoint> dust;
    for (int i = 0; i < 30; ++i) dust.push_back({scan.width() - 120 + (i % 3) * 30, 900 + i * 80});
    for (const QPoint& p : dust) scan.setPixel(p, qRgb(20, 20, 20)), scan.setPixel(p + QPoint(1, 0), qRgb(20, 20, 20));
    const auto compact = compactPage(rgbOf(scan), 75, "page");
    ASSERT_TRUE(compact);
    const imaging::GreyImage before = (*compact)->grey(1);
    const auto shown = [](const imaging::GreyImage& g, QPoint p) { return g.pixels[std::size_t(p.y()) * std::size_t(g.width) + std::size_t(p.x())]; };
    int painted = 0;
    for (const QPoint& p : dust) painted += shown(before, p) < 128;
    EXPECT_EQ(painted, int(dust.size()));  // (the print's threshold takes dust as print)

    // The words cover the print, not the right margin.
    const std::vector<imaging::Rect> words{{0.05, 0.05, 0.75, 0.9}};
    const auto guided = (*compact)->guidedBy(words);
    ASSERT_TRUE(guided);
    const imaging::GreyImage after = guided->grey(1);
    for (const QPoint& p : dust) EXPECT_GT(shown(after, p), 200) << p.x() << "," << p.y();
    // The print within the words is as it was, to the pixel.
    std::size_t differ = 0;
    for (int y = int(0.05 * after.height); y < int(0.95 * after.height); ++y)
        for (int x = int(0.05 * after.width); x < int(0.8 * after.width); ++x)
            differ += shown(after, {x, y}) != shown(before, {x, y});
    EXPECT_EQ(differ, 0u);
    EXPECT_EQ(guided->stencils().size(), (*compact)->stencils().size());
}
