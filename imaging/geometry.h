// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace imaging {

// A PDF transformation matrix [a b c d e f].
struct Matrix {
    double a = 1, b = 0, c = 0, d = 1, e = 0, f = 0;
};

// A rectangle in PDF points, origin at the bottom left of the page.
struct Rect {
    double x = 0, y = 0, width = 0, height = 0;
};

// The matrix that shows a stored image upright in the target rectangle, given its EXIF
// orientation (1 to 8; anything else counts as 1).
Matrix placeImage(const Rect& target, int orientation);

}  // namespace imaging
