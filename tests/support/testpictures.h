// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>
#include <vector>

namespace pictolio::testing {

// Makes JPEG files for tests with the JPEG library, so every case is built here rather than
// shipped: colour spaces, progressive and arithmetic coding, densities, EXIF orientation.
struct JpegRecipe {
    enum class Kind { YCbCr, Gray, Rgb, AdobeCmyk, Ycck, PlainCmyk };
    int width = 64;
    int height = 48;
    Kind kind = Kind::YCbCr;
    bool progressive = false;
    bool arithmetic = false;
    int quality = 90;
    // JFIF density: units 0 (aspect only), 1 (per inch) or 2 (per cm); jfif false: no JFIF.
    bool jfif = true;
    int densityUnit = 0;
    int xDensity = 1;
    int yDensity = 1;
    // EXIF: orientation (0 leaves the tag out) and resolution (0 leaves it out).
    bool exif = false;
    int orientation = 0;
    double exifXRes = 0;
    double exifYRes = 0;
    int exifResUnit = 2;
    // Progressive with every AC coefficient of every component in scans of its own, sent in
    // this many steps of successive approximation: a file of hundreds or thousands of scans
    // (0: the library's usual scans).
    int approximationSteps = 0;
    int restartInterval = 0;  // MCUs between restart markers (0: none)
    bool scanPerComponent = false;  // sequential, each component in a scan of its own
};

QByteArray makeJpeg(const JpegRecipe& recipe);
// The same from the caller's pixels: 8-bit RGB, rows without padding.
QByteArray makeJpegFromRgb(const JpegRecipe& recipe, const unsigned char* rgb);

// The pixel a test picture has at (x, y), so decoded output can be compared.
void testPixel(int x, int y, int* r, int* g, int* b);

// Writes bytes to a file; fails the test when it cannot.
void writeFile(const QString& path, const QByteArray& data);
QByteArray readFile(const QString& path);

// Decodes a JPEG to 8-bit samples (components as stored: grey, RGB or CMYK).
std::vector<unsigned char> decodeJpeg(const QByteArray& data, int* width, int* height,
                                      int* components);

}  // namespace pictolio::testing
