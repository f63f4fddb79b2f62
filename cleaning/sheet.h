// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace cleaning {

// 8-bit RGB pixels, three bytes each, row after row.
struct RgbImage {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> pixels;
    bool isNull() const { return width <= 0 || height <= 0; }
};

// The picture averaged down so that its longer side is at most `longest` pixels.
RgbImage shrunk(const RgbImage& image, int longest);

struct Point {
    double x = 0, y = 0;
};
// A sheet's corners in a photo as stored: top left, top right, bottom right, bottom left.
using Corners = std::array<Point, 4>;

// The sheet of paper in a photo: a bright, colourless area that stands clear of the edges, with
// four straight sides, against a darker or coloured surface. None when the photo shows none
// (a landscape, a face, a sheet cut off by the photo's edge). Works on a small copy (about
// 800 pixels across); the corners are in its pixels.
std::optional<Corners> findSheet(const RgbImage& photo);

// The corners found on a small copy, made exact on the photo itself: each side moved to where the
// paper gives way to the surface along it, the corners where the sides meet. `reach`: how far
// (pixels of the photo) a side may lie from where the small copy put it.
Corners sharpened(const RgbImage& photo, const Corners& corners, double reach);

// Width over height of the rectangle the corners show in perspective, for a camera whose optical
// centre is (cx, cy) in the same pixels: from the focal length the four corners imply, else from
// the lengths of opposite sides.
double sheetProportions(const Corners& corners, double cx, double cy);

// The projective map that takes the corners of a width x height rectangle (top left first, as
// Corners) to `to`: x = (h0 u + h1 v + h2) / (h6 u + h7 v + 1), y = (h3 u + h4 v + h5) / (same).
std::array<double, 8> rectangleTo(double width, double height, const Corners& to);

}  // namespace cleaning
