// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "imaging/geometry.h"

namespace imaging {
namespace {

// Where the stored picture's top-left and top-right pixels land for each EXIF orientation,
// in a 200 x 100 point target at (10, 20): the picture must come out upright.
TEST(Placement, EveryOrientationComesOutUpright) {
    const Rect target{10, 20, 200, 100};
    const double left = 10, right = 210, bottom = 20, top = 120;
    const struct {
        int orientation;
        double topLeftX, topLeftY, topRightX, topRightY;
    } cases[] = {
        {1, left, top, right, top},      {2, right, top, left, top},
        {3, right, bottom, left, bottom}, {4, left, bottom, right, bottom},
        {5, left, top, left, bottom},     {6, right, top, right, bottom},
        {7, right, bottom, right, top},   {8, left, bottom, left, top},
        {0, left, top, right, top},      {9, left, top, right, top},
    };
    for (const auto& c : cases) {
        const Matrix m = placeImage(target, c.orientation);
        // Image space: the stored top row is v = 1; its left end u = 0, its right end u = 1.
        const auto at = [&](double u, double v, double* x, double* y) {
            *x = m.a * u + m.c * v + m.e;
            *y = m.b * u + m.d * v + m.f;
        };
        double x, y;
        at(0, 1, &x, &y);
        EXPECT_NEAR(x, c.topLeftX, 1e-9) << "orientation " << c.orientation;
        EXPECT_NEAR(y, c.topLeftY, 1e-9) << "orientation " << c.orientation;
        at(1, 1, &x, &y);
        EXPECT_NEAR(x, c.topRightX, 1e-9) << "orientation " << c.orientation;
        EXPECT_NEAR(y, c.topRightY, 1e-9) << "orientation " << c.orientation;
    }
}

}  // namespace
}  // namespace imaging
