// SPDX-License-Identifier: GPL-3.0-or-later
// Compact pages: a page of print as a sharp one-bit layer of its print at full resolution, painted
// in the print's colours, over a background at about 100 dpi from which the print is taken out.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "cleaning/sheet.h"
#include "common/outcome.h"
#include "imaging/imagesource.h"

namespace cleaning {

// One colour of print: where it is (one bit a pixel, 1 for print, rows padded to whole bytes, at
// the page's size) and its colour.
struct Ink {
    std::array<std::uint8_t, 3> colour{};
    std::vector<std::uint8_t> bits;
};

struct Box {
    int x = 0, y = 0, width = 0, height = 0;
};

// A page taken apart.
struct CompactLayers {
    int width = 0, height = 0;  // the page's
    RgbImage background;        // smaller by `factor` each way, the print filled from around it
    int factor = 1;
    std::vector<Ink> inks;      // at most four
    std::vector<Box> pictures;  // photos and areas of colour on the page, left in the background
    std::array<std::uint8_t, 3> paper{};
};

// The page's layers; a Failure ("no text found") when the page shows no print, or is mostly a
// picture: it is then better kept as it is.
pictolio::Outcome<CompactLayers> compactLayers(const RgbImage& page);

// The page as the PDF takes it: the background as JPEG at the quality given (grey when it has no
// colour; tagged with the colour profile of the picture's RGB, when it has one), with each ink a
// stencil of Group 4 fax data or Flate rows, whichever is smaller, all kept in one file of no name.
// description names it in the driver's log.
using Profile = std::shared_ptr<const std::vector<std::uint8_t>>;
pictolio::Outcome<std::shared_ptr<const imaging::ImageSource>> compactPage(const RgbImage& page, int jpegQuality,
                                                                           const std::string& description,
                                                                           const Profile& profile = {});

}  // namespace cleaning
