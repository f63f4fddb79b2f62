// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/geometry.h"

namespace imaging {

Matrix placeImage(const Rect& target, int orientation) {
    // Where a stored pixel at (s, t) (0..1, t downwards) shows on the upright picture (x, y)
    // (0..1, y downwards): x = p0 + p1*s + p2*t, y = q0 + q1*s + q2*t.
    struct Map {
        double p0, p1, p2, q0, q1, q2;
    };
    static const Map maps[9] = {
        {0, 1, 0, 0, 0, 1},    // (unused)
        {0, 1, 0, 0, 0, 1},    // 1: as stored
        {1, -1, 0, 0, 0, 1},   // 2: mirrored left to right
        {1, -1, 0, 1, 0, -1},  // 3: turned 180 degrees
        {0, 1, 0, 1, 0, -1},   // 4: mirrored top to bottom
        {0, 0, 1, 0, 1, 0},    // 5: mirrored along the main diagonal
        {1, 0, -1, 0, 1, 0},   // 6: turned 90 degrees clockwise
        {1, 0, -1, 1, -1, 0},  // 7: mirrored along the other diagonal
        {0, 0, 1, 1, -1, 0},   // 8: turned 90 degrees anticlockwise
    };
    const Map& m = maps[(orientation >= 1 && orientation <= 8) ? orientation : 1];
    // PDF image space: u = s, v = 1 - t; page: X = x0 + W*x, Y = y0 + H*(1 - y).
    const double W = target.width, H = target.height;
    Matrix r;
    r.a = W * m.p1;
    r.c = -W * m.p2;
    r.e = target.x + W * (m.p0 + m.p2);
    r.b = -H * m.q1;
    r.d = H * m.q2;
    r.f = target.y + H * (1 - m.q0 - m.q2);
    return r;
}

}  // namespace imaging
