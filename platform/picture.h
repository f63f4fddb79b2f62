#pragma once

#include <QString>
#include <memory>

#include "pdfwriter/imagesource.h"

namespace pictolio {

// A decoded picture as a picture holder keeps it. The pixel data itself stays in the file
// until the picture is printed.
struct Picture {
    quint64 handle = 0;  // 0: the empty picture
    int width = 0;       // pixels, upright
    int height = 0;
    double widthHimetric = 0;  // physical size, hundredths of a millimetre, upright
    double heightHimetric = 0;
    int orientation = 1;  // how the stored image turns upright (EXIF values 1 to 8)
    std::shared_ptr<const pdfwriter::ImageSource> image;

    bool isEmpty() const { return handle == 0; }
};

// Turns picture files into pictures: JPEG files (checked whole, kept as they are) and whatever
// else Qt's image readers take (PNG, BMP, GIF, ICO, ...).
class PictureDecoder {
public:
    // The empty picture for anything that is not a picture we can print: a missing or
    // unreadable file, a folder, an empty file, a damaged or absurdly large picture.
    Picture load(const QString& path) const;

    // The density assumed when a file states none.
    static constexpr double defaultDpi = 96.0;
};

}  // namespace pictolio
