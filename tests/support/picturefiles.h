// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QImage>
#include <QRectF>
#include <QString>
#include <QStringList>
#include <vector>

namespace pictolio::testing {

// PNG files of every kind a PNG can be, written with libpng.
struct PngRecipe {
    int colorType = 2;  // 0 grey, 2 RGB, 3 palette, 4 grey and alpha, 6 RGB and alpha
    int bitDepth = 8;
    bool interlaced = false;
    int width = 23;
    int height = 17;
    // tRNS: the transparent grey or RGB sample values (1 or 3), or one alpha per palette entry.
    std::vector<int> transparency = {};
    int pixelsPerMetre = 5000;  // pHYs (5000: 127 dpi); 0 leaves it out
};
QByteArray makePng(const PngRecipe& recipe);
// A PNG file of transparent black RGBA pixels, written without holding them (large pictures).
QByteArray transparentPng(int width, int height);
// The sample a recipe's picture has at (x, y) in channel c (grey and palette index: c = 0).
int pngSample(const PngRecipe& recipe, int x, int y, int c);

// The picture turned the way a file with this EXIF orientation stores it, so that it shows
// upright once turned as the orientation says.
QImage storedFor(const QImage& upright, int orientation);

// Pages of a TIFF file, written with libtiff.
struct TiffPage {
    QImage upright = {};  // what the page shows
    int compression = 1;  // COMPRESSION_* of libtiff
    bool bilevel = false;      // one bit a pixel: black where the picture is darker than mid-grey
    bool whiteIsZero = true;   // bilevel photometric
    unsigned group3Options = 0;
    int rowsPerStrip = 0;      // 0: the whole page in one strip
    int orientation = 1;
    double dpi = 127;
    bool alpha = false;        // with unassociated alpha
    bool gray = false;         // grey, white is zero, with the horizontal predictor
    int bits = 8;              // of grey samples and alpha: 8 or 16
};
void writeTiff(const QString& path, const std::vector<TiffPage>& pages);

// HEIF files with libheif's encoders: compression 1 HEVC (HEIC), 2 AV1 (AVIF). The picture is
// stored turned as the orientation says, with the transformations that show it upright.
// profile: an ICC profile to embed; else primaries and transfer, when not 0, the colour code points
// (ITU-T H.273) to state.
QByteArray makeHeif(const QImage& upright, int compression, int orientation = 1, const QByteArray& profile = {},
                    int primaries = 0, int transfer = 13);

// WebP files with Qt's writer (quality 100: lossless), with an EXIF orientation when not 1.
QByteArray makeWebp(const QImage& upright, int quality, int orientation = 1);
// A WebP file of one frame marked as an animation (quality 100: lossless).
QByteArray makeAnimatedWebp(const QImage& frame);
// An animated WebP file of these frames, each covering the whole picture (lossless).
QByteArray makeAnimatedWebp(const std::vector<QImage>& frames);
// An animated GIF file: each frame drawn at its place over the ones before (none disposed of), on
// a screen the size of the first. At most 256 colours in all.
struct GifFrame {
    QImage image;
    QPoint at = {};
};
QByteArray makeAnimatedGif(const std::vector<GifFrame>& frames);

// A picture with a different colour in each corner and a gradient: wrong turns and wrong
// colours both show.
QImage cornersPicture(int width, int height);

// The mean difference per channel between two pictures of one size (-1 when the sizes differ).
double meanDifference(const QImage& a, const QImage& b);

// Four lines of printed text, and a page of them at 300 dpi (12-point Liberation Serif, black on
// white) with where each word is on it, as a share of the page's width and height.
extern const QStringList textParagraph;
struct TextPage {
    QImage image;
    QStringList words;
    std::vector<QRectF> boxes;
};
TextPage drawTextPage();

// A JPEG of the upright picture, stored turned as the EXIF orientation says, at dpi.
QByteArray textJpeg(const QImage& upright, int orientation, int dpi);

}  // namespace pictolio::testing
