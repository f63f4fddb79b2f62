// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "cleaning/sheet.h"
#include "common/outcome.h"
#include "imaging/imagesource.h"

namespace cleaning {

// How a cleaned page is stored: by what it shows (colour where there is colour, else grey, or
// black and white for print alone), or as asked. (In the order of the printer's preference.)
enum class Colours { Auto, Colour, Grey, Mono };

struct CleaningOptions {
    Colours colours = Colours::Auto;
    int jpegQuality = 75;  // colour and grey pages
    bool compact = false;  // colour and grey pages made compact (see compact.h)
};

// A photo of a document made a clean page: the sheet cut out and squared, the light evened.
struct CleanedPage {
    std::shared_ptr<const imaging::ImageSource> image;
    int width = 0, height = 0;  // its pixels (a compact page's background has fewer)
    // The page's size as the picture is stored; 0 for a scan, whose own density gives it.
    double widthMm = 0, heightMm = 0;
    std::string paper;                 // "A4", "Letter", "Legal"; "" for a size of its own
    double proportions = 0;            // width over height of the sheet, as measured
    bool scan = false;                 // a scan, straightened and its dark borders cut off
    double turnedBy = 0;               // a scan: the degrees it was turned by to stand straight
    Colours stored = Colours::Colour;  // Colour, Grey or Mono
    QString notCompact;                // why a page to be made compact is not ("no text found")
};

// The photo (or scan) as a clean page: the sheet found and squared to its own proportions (a
// standard paper size when within 3 %), at about 300 dpi; a scan turned straight by its lines of
// print (up to 10 degrees) and its dark borders cut off; shadows and a lamp's fall-off evened out,
// the paper white and the print dark. A Failure ("no page found") when the photo shows no sheet
// and is no scan of print: it is then to be kept as it is.
pictolio::Outcome<CleanedPage> cleanPhoto(const imaging::ImageSource& photo, const CleaningOptions& options);

// The steps, for the tests and the benchmark.
// The picture's pixels in RGB at its stored size; a null image when they cannot be read.
RgbImage rgbPixels(const imaging::ImageSource& picture);
// The sheet squared: the part of the photo within the corners, drawn as a width x height picture.
RgbImage squared(const RgbImage& photo, const Corners& corners, int width, int height);
// The degrees the lines of print on a scan are turned by (clockwise as seen), up to 10 either way;
// none when there are no lines of print to tell.
std::optional<double> skewOfPrint(const RgbImage& page);
// The light evened: the paper's brightness found around each point and brought to white, the
// print darkened to match; colours keep their hue.
void evenLight(RgbImage& page);

}  // namespace cleaning
