// SPDX-License-Identifier: GPL-3.0-or-later
// Photos of documents as a phone takes them, made in software with their truth: a page of print
// (a coloured heading, a stamp, a table, lines of words) on a surface, seen at an angle, under a
// lamp, a shadow across, a little blur and grain.
#pragma once

#include <QImage>
#include <QPointF>
#include <QSizeF>
#include <QStringList>
#include <array>
#include <cstddef>
#include <cstdint>

namespace pictolio::testing {

// Common words of letters and reports, the words printed on the pages made for tests and
// benchmarks.
extern const char* const printWords[];
extern const std::size_t printWordCount;

enum class Surface { Wood, Cloth, DarkDesk };

struct PhotoSetup {
    QSize size{4032, 3024};
    QSizeF paperMm{210, 297};
    double tilt = 20;      // degrees the camera leans away from looking straight down
    double turn = 0;       // degrees the sheet is turned on the table
    Surface surface = Surface::Wood;
    bool lamp = true;      // light falling off across the photo
    bool shadow = true;    // a soft shadow across the sheet
    bool thumb = false;    // a thumb over the sheet's bottom edge, holding it down
    double curl = 0;       // millimetres the sheet bulges up in its middle: not quite flat
    double blur = 1.0;     // pixels
    int grain = 5;         // levels of noise either way
    double pageDpi = 200;  // the page drawn before it is photographed
    std::uint32_t seed = 1;
};

struct DocumentPhoto {
    QImage photo;                    // RGB888
    std::array<QPointF, 4> corners;  // the sheet's: top left, top right, bottom right, bottom left
    QStringList lines;               // the words printed on it, line by line, in reading order
};

// A page of print at the density given: its lines of words go to *lines. withPhoto: the lower
// third of the page is a colour photo, the lines of print above it.
QImage documentPage(QSizeF paperMm, double dpi, QStringList* lines, std::uint32_t seed = 1, bool withPhoto = false);
// The page photographed as set up.
DocumentPhoto documentPhoto(const PhotoSetup& setup);
// The page scanned turned `degrees` on the glass, the lid's dark border along the top and the left.
QImage scanOnGlass(const QImage& page, double degrees);
// The page as a flatbed scanner gives it: a little soft, grain of a few levels.
QImage flatbedScan(const QImage& page, std::uint32_t seed = 1);
// A photo with no sheet in it: sky, hills and a sun.
QImage landscapePhoto(QSize size);

}  // namespace pictolio::testing
