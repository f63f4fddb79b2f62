// SPDX-License-Identifier: GPL-3.0-or-later
// Pictures turned by a quarter turn or more as they are printed, their image data untouched.

#include <utility>

#include "pictures/picture.h"

namespace pictolio {

namespace {

// The EXIF orientations by how they show the stored image: mirrored left to right (or not), then
// turned this many quarter turns clockwise.
constexpr int byTurn[2][4] = {{1, 6, 3, 8}, {2, 7, 4, 5}};

}  // namespace

int turnedOrientation(int orientation, int quarterTurns) {
    if (orientation < 1 || orientation > 8) orientation = 1;
    for (int mirrored = 0; mirrored < 2; ++mirrored)
        for (int turns = 0; turns < 4; ++turns)
            if (byTurn[mirrored][turns] == orientation)
                return byTurn[mirrored][((turns + quarterTurns) % 4 + 4) % 4];
    return orientation;
}

void turnPicture(Picture& picture, int quarterTurns) {
    if (picture.isEmpty()) return;
    const auto turn = [quarterTurns](PicturePage& page) {
        page.orientation = turnedOrientation(page.orientation, quarterTurns);
        if (quarterTurns % 2 == 0) return;
        std::swap(page.width, page.height);
        std::swap(page.widthHimetric, page.heightHimetric);
    };
    turn(picture.firstPage());
    for (PicturePage& page : picture.morePages) turn(page);
}

}  // namespace pictolio
