// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QMap>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

#include "common/outcome.h"
#include "pdffile/printjob.h"
#include "imaging/reducedimage.h"

namespace pictolio {
class RegistryStore;
}

namespace pdfwriter {

enum class Orientation { Portrait, Landscape, Automatic };
// Pictures drawn at their own size that are larger than the printable area.
enum class Oversize { Shrink, Clip };
// Pictures drawn stretched over a rectangle.
enum class Stretch { Fill, KeepProportions };

// The PDF printer's printing preferences, as its registry key holds them: the paper, how it is
// turned, the margin, and how pictures that do not fit are laid on it.
struct PageSetup {
    QString paperName = QStringLiteral("A4");  // a known paper, "Custom" or "Fit"
    double paperWidth = 595.2756;   // points, the paper upright; "Fit": the locale's paper
    double paperHeight = 841.8898;
    bool fitToPicture = false;      // each page is its picture's own size plus the margins
    Orientation orientation = Orientation::Automatic;
    int dpi = 600;
    double margin = 12;  // points on every side, as a PostScript printer leaves
    Oversize oversize = Oversize::Shrink;
    Stretch stretch = Stretch::Fill;
    bool center = false;
    QString ocr;            // languages the text on the pictures is recognised in ("eng+deu"); "": none
    bool turnPages = true;  // with recognition: a page whose text is turned is shown upright
    imaging::PictureQuality pictures;  // as they are (the default), made smaller, or in black and white
    // The documents' details: "" leaves them out (the title: the file's name).
    QString title, author, subject, keywords;
    qint64 date = -1;  // seconds since 1970 for the documents' dates; -1: SOURCE_DATE_EPOCH, or now
    bool allFrames = false;  // every frame of an animated picture (GIF, WebP) a page; else the first
    bool pdfa = false;       // PDF/A-2b files, for archives

    // The page the program sees, in device pixels: the paper turned as the orientation says;
    // with Automatic orientation (and Fit) the upright paper. Each page that is printed may
    // turn (Automatic) or take its picture's size (Fit); drawings on it are carried over.
    double seenWidth() const { return orientation == Orientation::Landscape ? paperHeight : paperWidth; }
    double seenHeight() const { return orientation == Orientation::Landscape ? paperWidth : paperHeight; }
    int paperWidthPx() const;
    int paperHeightPx() const;
    int marginPx() const;
    int printableWidthPx() const { return paperWidthPx() - 2 * marginPx(); }
    int printableHeightPx() const { return paperHeightPx() - 2 * marginPx(); }
    double pxToPoints(double px) const { return px * 72.0 / dpi; }
};

// What the program asked to draw, in device pixels relative to the top-left corner of the
// printable area it sees.
struct Drawing {
    bool ownSize = true;  // at the picture's own size; else stretched into the rectangle
    double x = 0, y = 0, width = 0, height = 0;
    double pictureWidth = 0, pictureHeight = 0;  // the picture's upright physical size
};

// A page of a print job and where one picture lands on it.
struct LaidOut {
    double pageWidth = 0, pageHeight = 0;  // points
    double pageWidthPx = 0, pageHeightPx = 0;  // the same in device pixels
    imaging::Rect target;  // the upright picture, in PDF points (origin bottom left)
    imaging::Rect clip;    // the printable area
};

// The page a picture is printed on: the paper turned to suit it (Automatic: a picture wider
// than high gets a landscape page), or its own size plus the margins (Fit). pictureWidth and
// pictureHeight are its upright physical size in device pixels.
LaidOut pageFor(const PageSetup& setup, double pictureWidth, double pictureHeight);

// Where the drawing lands on the page: positions and stretched sizes carried over from the page
// the program sees to the page printed; a picture at its own size that does not fit shrinks
// (keeping its proportions) unless the preferences say to cut it off; a stretched one fills its
// rectangle or keeps its proportions, centred in it; centring puts an own-size picture in the
// middle of the printable area.
LaidOut layOut(const PageSetup& setup, LaidOut page, const Drawing& drawing);

// Reading and writing the preferences. The registry's value names and their accepted forms:
//   PaperSize   A4, Letter, Legal, A3, A5, Tabloid, WIDTHxHEIGHT with mm or in ("210x297mm"), Fit
//   Orientation Portrait, Landscape, Automatic
//   Margin      a length with mm, in or pt; a bare number is points
//   Oversize    Shrink, Clip
//   Stretch     Fill, Proportional
//   Center      1, 0
//   Resolution  dots per inch, 72 to 2400
//   Ocr         off, or the languages of the text recognised on the pictures: eng, eng+deu
//   TurnPages   1, 0: with recognition, pages whose text is turned are shown upright
//   Pictures    Original, Reduce, Mono, Document: as they are, made smaller, in black and white,
//               photos of documents made clean pages
//   DocumentColours  Auto, Colour, Grey, Mono: how clean pages are stored
//   Compact     1, 0: pages of print made compact (sharp print over a small background), with any
//               Pictures but Mono
//   MaxDpi      Reduce: the finest a picture is kept at, in dots per inch (maxDpiRange)
//   JpegQuality Reduce: the JPEG quality of pictures made smaller (jpegQualityRange)
//   Title, Author, Subject, Keywords   the documents' details, any text of one line
//   Date        the documents' dates, in seconds since 1970 (UTC); "now" or none: the time written
//   Frames      First, All: the frames of an animated picture printed, each on a page of its own
//   Pdfa        1, 0: PDF/A-2b files (for archives)
namespace preferences {

// The ranges of the numbers the pictures take: the finest a picture made smaller is kept at (dots
// per inch), and the JPEG quality of pictures made smaller and of pages cleaned.
struct Range {
    int least, most;
};
constexpr Range maxDpiRange{36, 1200};
constexpr Range jpegQualityRange{10, 100};

// The names users give them (paper, orientation, margin, oversize, stretch, center, resolution)
// and the registry value each one is kept in.
QStringList names();
QString valueName(const QString& name);

// Checks a value the user gives for a preference and returns it as the registry keeps it, or
// the reason it is refused (naming the value and what is accepted).
pictolio::Outcome<QString> check(const QString& name, const QString& value);

// Checks values that depend on each other (the margin on the paper), as the registry would keep
// them (by value name; what is missing has its default, the paper defaultPaper): they agree, or
// why not. The driver takes the default margin where they do not.
pictolio::Outcome<pictolio::Done> checkTogether(const QMap<QString, QString>& stored, const QString& defaultPaper);

// The preferences with nothing set, on the given paper.
PageSetup defaults(const QString& paper);

// The preferences in the registry, defaults for what is missing (the paper: defaultPaper); a
// value that is not valid gives the default, and complain() hears why.
PageSetup read(const pictolio::RegistryStore& registry, const QString& key, const QString& defaultPaper,
               const std::function<void(const QString&)>& complain = {});

// The preferences of a setup by name, in the form users give them (for --show).
QList<std::pair<QString, QString>> describe(const PageSetup& setup);

// A known paper's upright size in points; nullopt when the name is not one.
std::optional<std::pair<double, double>> paperSize(const QString& name);
// The known papers' names.
QStringList paperNames();

}  // namespace preferences

}  // namespace pdfwriter
