// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QImage>
#include <QString>
#include <string>
#include <vector>

namespace pictolio::testing {

// A PDF as a user would check it: its pages, their size, and each image's data and placement.
struct PdfImage {
    std::string filter;      // "/DCTDecode", "/FlateDecode"
    std::string colorSpace;  // "/DeviceRGB", ...
    int bitsPerComponent = 0;
    std::string decode;      // the /Decode array as written, "" when absent
    int width = 0;
    int height = 0;
    std::string rawData;      // the stream as stored
    std::string decodedData;  // after the stream's filters (Flate only)
    std::string mask;         // the /Mask array as written, "" when absent
    std::string softMask;     // the /SMask image's samples, "" when absent
    // The ICC-based colour space of the image (of its palette, for an Indexed image): the profile
    // as the stream holds it decoded, its /N, /Alternate, and its object number; "" and 0 for none.
    std::string profile;
    int profileComponents = 0;
    std::string profileAlternate;
    int profileObject = 0;
    double matrix[6] = {0, 0, 0, 0, 0, 0};  // the cm before it is drawn
    double clip[4] = {0, 0, 0, 0};          // the re before it is drawn
    std::string fill;  // an image mask painted over the image before it: its colour ("r g b"); else ""
};

struct PdfPage {
    double mediaBox[4] = {0, 0, 0, 0};
    std::vector<PdfImage> images;
};

// Reads the file with libqpdf; throws when it is not a readable PDF, or when layoutProblems()
// finds a fault.
std::vector<PdfPage> readPdf(const QString& path);

// Renders every page with poppler's pdftoppm at the given resolution; empty when it fails.
std::vector<QImage> renderPdf(const QString& path, int dpi);

// Runs "qpdf --check" on the file, and layoutProblems(); "" when both pass, what they say
// otherwise.
QString qpdfCheckProblems(const QString& path);

// Checks byte for byte what the PDF writer lays out by hand, which readers forgive: the header,
// the cross-reference table's entries (exactly 20 bytes each) or stream, each offset landing on
// its object, the trailer, startxref and the end. "" when all is as it should be, else the first
// fault. Reads only those parts, so a file of gigabytes (with holes) costs little.
QString layoutProblems(const QString& path);

}  // namespace pictolio::testing
