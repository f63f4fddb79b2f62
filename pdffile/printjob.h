// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "imaging/geometry.h"
#include "imaging/imagesource.h"

namespace recognition {
class PendingText;
}

namespace pdffile {

// One picture on a page: the image's unit square goes through the matrix; nothing shows
// outside the clip rectangle.
struct Placement {
    std::shared_ptr<const imaging::ImageSource> image;
    imaging::Matrix matrix;
    imaging::Rect clip;
    // The picture's text, being recognised; none when recognition is off.
    std::shared_ptr<const recognition::PendingText> text = {};
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
    // What the file is made from (its pictures and settings, as a digest the run makes), so that a
    // later run can tell whether it is still up to date; "": not said.
    std::string madeFrom = {};
};

// A finished print job, as the printing service hands it to the driver.
struct PrintJob {
    std::string documentName;
    double pageWidth = 0;  // points, for pages without a size of their own
    double pageHeight = 0;
    std::vector<Page> pages;
    DocumentDetails details = {};
};

}  // namespace pdffile
