// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "pdfwriter/imagesource.h"

namespace pdfwriter {

class PendingText;

// A PDF transformation matrix [a b c d e f].
struct Matrix {
    double a = 1, b = 0, c = 0, d = 1, e = 0, f = 0;
};

// A rectangle in PDF points, origin at the bottom left of the page.
struct Rect {
    double x = 0, y = 0, width = 0, height = 0;
};

// One picture on a page: the image's unit square goes through the matrix; nothing shows
// outside the clip rectangle.
struct Placement {
    std::shared_ptr<const ImageSource> image;
    Matrix matrix;
    Rect clip;
    // The picture's text, being recognised; none when recognition is off.
    std::shared_ptr<const PendingText> text = {};
};

struct Page {
    std::vector<Placement> images;
    double width = 0;  // points; 0: the job's page size
    double height = 0;
    std::string title = {};  // what the page shows (its first picture's file name), for bookmarks
};

// What the document says of itself, beyond what the pages show.
struct DocumentDetails {
    std::string title;  // "": the file's name
    std::string author, subject, keywords;
    std::int64_t date = -1;  // seconds since 1970 (UTC) for its dates; -1: SOURCE_DATE_EPOCH, or now
    bool pdfa = false;       // a PDF/A-2b file, for archives
};

// A finished print job, as the printing service hands it to the driver.
struct PrintJob {
    std::string documentName;
    double pageWidth = 0;  // points, for pages without a size of their own
    double pageHeight = 0;
    std::vector<Page> pages;
    DocumentDetails details = {};
};

// The matrix that shows a stored image upright in the target rectangle, given its EXIF
// orientation (1 to 8; anything else counts as 1).
Matrix placeImage(const Rect& target, int orientation);

}  // namespace pdfwriter
