// SPDX-License-Identifier: GPL-3.0-or-later
#include "pdfwriter/pagesetup.h"

#include <QDateTime>
#include <QRegularExpression>

#include "recognition/recogniser.h"
#include <algorithm>
#include <cmath>
#include <optional>
#include <tuple>

#include "common/registrystore.h"

namespace pdfwriter {

namespace {

constexpr double mm = 72 / 25.4;
constexpr double inch = 72;
// The largest page a PDF viewer is sure to show, and the smallest custom paper we take.
constexpr double largestPage = 200 * inch;
constexpr double smallestPaper = 1 * inch;
constexpr double largestMargin = 1 * inch;

struct Paper {
    const char* name;
    double width, height;  // points, upright
};
const Paper papers[] = {
    {"A4", 210 * mm, 297 * mm},  {"Letter", 612, 792},      {"Legal", 612, 1008},
    {"A3", 297 * mm, 420 * mm},  {"A5", 148 * mm, 210 * mm}, {"Tabloid", 792, 1224},
};

const QString fitName = QStringLiteral("Fit");
const QString customName = QStringLiteral("Custom");

struct Preference {
    const char* name;       // as users write it
    const char* valueName;  // in the registry
    const char* accepted;   // for messages
    const preferences::Range* range = nullptr;  // a whole number in this range, after `accepted`
};
const Preference all[] = {
    {"paper", "PaperSize", "A4, Letter, Legal, A3, A5, Tabloid, WIDTHxHEIGHT in mm or in (1 to 200 in), fit"},
    {"orientation", "Orientation", "portrait, landscape, auto"},
    {"margin", "Margin", "a length from 0 to 1 in, with mm, in or pt (10mm, 0.5in, 12pt)"},
    {"oversize", "Oversize", "shrink, clip"},
    {"stretch", "Stretch", "fill, proportional"},
    {"center", "Center", "on, off"},
    {"resolution", "Resolution", "dots per inch, 72 to 2400"},
    {"ocr", "Ocr", "off, or the languages of the text joined with + (eng, eng+deu)"},
    {"turn-pages", "TurnPages", "on, off"},
    {"pictures", "Pictures", "original, reduce, mono, document"},
    {"max-dpi", "MaxDpi", "dots per inch, ", &preferences::maxDpiRange},
    {"jpeg-quality", "JpegQuality", "", &preferences::jpegQualityRange},
    {"document-colours", "DocumentColours", "auto, colour, grey, mono"},
    {"compact", "Compact", "on, off"},
    {"title", "Title", "one line of text, at most 1000 characters (none: the file's name)"},
    {"author", "Author", "one line of text, at most 1000 characters"},
    {"subject", "Subject", "one line of text, at most 1000 characters"},
    {"keywords", "Keywords", "one line of text, at most 1000 characters"},
    {"date", "Date", "now, seconds since 1970, or a date and time (2026-12-07, 2026-12-07T10:30:00Z), from 1970 to 9999 in UTC"},
    {"frames", "Frames", "first, all"},
    {"pdfa", "Pdfa", "on, off"},
};

// A detail of the document: one line of text, of a sensible length, of characters a document's
// XML metadata may hold (no control character, no noncharacter such as U+FFFE or U+FFFF, no
// half of a surrogate pair).
std::optional<QString> detailText(const QString& value) {
    const QString text = value.trimmed();
    if (text.size() > 1000) return std::nullopt;
    for (const char32_t c : text.toUcs4())
        if (QChar::category(c) == QChar::Other_Control || QChar::isNonCharacter(c) || QChar::isSurrogate(c))
            return std::nullopt;
    return text;
}

// A date for the documents: "now", seconds since 1970, or an ISO 8601 date (UTC unless it says).
std::optional<qint64> parseDate(const QString& value) {
    const QString text = value.trimmed();
    if (text.isEmpty() || text.compare(QLatin1String("now"), Qt::CaseInsensitive) == 0) return -1;
    bool ok = false;
    const qint64 seconds = text.toLongLong(&ok);
    // From 1970 to the end of 9999 in UTC, whatever the zone it is written in: PDF dates have four
    // digits for the year.
    constexpr qint64 year10000 = 253402300800;
    if (ok) return seconds >= 0 && seconds < year10000 ? std::optional(seconds) : std::nullopt;
    QDateTime when = QDateTime::fromString(text, Qt::ISODate);
    if (!when.isValid()) {
        const QDate day = QDate::fromString(text, Qt::ISODate);
        if (day.isValid()) when = day.startOfDay(Qt::UTC);
    }
    if (!when.isValid()) return std::nullopt;
    if (when.timeSpec() == Qt::LocalTime) when.setTimeSpec(Qt::UTC);  // a time without a zone is UTC
    const qint64 utc = when.toSecsSinceEpoch();
    return utc >= 0 && utc < year10000 ? std::optional(utc) : std::nullopt;
}

const Preference* find(const QString& name) {
    for (const Preference& p : all)
        if (name.compare(QLatin1String(p.name), Qt::CaseInsensitive) == 0 ||
            name.compare(QLatin1String(p.valueName), Qt::CaseInsensitive) == 0)
            return &p;
    return nullptr;
}

// A length in points: "10mm", "0.5 in", "12pt"; a bare number is `bare` units.
std::optional<double> parseLength(QString text, double bare) {
    text = text.trimmed().toLower();
    static const QRegularExpression form(QStringLiteral("^([0-9]*\\.?[0-9]+)\\s*(mm|cm|in|pt)?$"));
    const QRegularExpressionMatch m = form.match(text);
    if (!m.hasMatch()) return std::nullopt;
    const double v = m.captured(1).toDouble();
    const QString unit = m.captured(2);
    if (unit == QLatin1String("mm")) return v * mm;
    if (unit == QLatin1String("cm")) return v * 10 * mm;
    if (unit == QLatin1String("in")) return v * inch;
    if (unit == QLatin1String("pt")) return v;
    return v * bare;
}

QString lengthText(double points) {
    return QString::number(std::round(points / mm * 100) / 100) + QStringLiteral("mm");
}

// One choice out of a list, letter case aside; the stored form is the list's spelling.
std::optional<QString> choice(const QString& value, std::initializer_list<std::pair<const char*, const char*>> forms) {
    for (const auto& [given, stored] : forms)
        if (value.trimmed().compare(QLatin1String(given), Qt::CaseInsensitive) == 0) return QString::fromLatin1(stored);
    return std::nullopt;
}

struct PaperChoice {
    QString name;
    double width = 0, height = 0;
};

std::optional<PaperChoice> parsePaper(const QString& value) {
    const QString v = value.trimmed();
    if (v.compare(fitName, Qt::CaseInsensitive) == 0) return PaperChoice{fitName, 0, 0};
    if (const auto size = preferences::paperSize(v)) {
        for (const Paper& p : papers)
            if (v.compare(QLatin1String(p.name), Qt::CaseInsensitive) == 0)
                return PaperChoice{QString::fromLatin1(p.name), size->first, size->second};
    }
    static const QRegularExpression form(
        QStringLiteral("^([0-9]*\\.?[0-9]+)\\s*[x×]\\s*([0-9]*\\.?[0-9]+)\\s*(mm|cm|in)$"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = form.match(v);
    if (!m.hasMatch()) return std::nullopt;
    const QString unit = m.captured(3).toLower();
    const auto w = parseLength(m.captured(1) + unit, 1), h = parseLength(m.captured(2) + unit, 1);
    if (!w || !h) return std::nullopt;
    for (const double side : {*w, *h})
        if (side < smallestPaper - 1e-6 || side > largestPage + 1e-6) return std::nullopt;
    return PaperChoice{customName, *w, *h};
}

QString paperText(const PaperChoice& paper) {
    if (paper.name != customName) return paper.name;
    return QString::number(std::round(paper.width / mm * 10) / 10) + QLatin1Char('x') +
           QString::number(std::round(paper.height / mm * 10) / 10) + QStringLiteral("mm");
}

// Whether a margin leaves enough of the paper: half an inch at least between the margins.
bool marginFits(double margin, double paperWidth, double paperHeight) {
    return 2 * margin < std::min(paperWidth, paperHeight) - inch / 2;
}

}  // namespace

int PageSetup::paperWidthPx() const { return int(std::lround(seenWidth() * dpi / 72.0)); }
int PageSetup::paperHeightPx() const { return int(std::lround(seenHeight() * dpi / 72.0)); }
int PageSetup::marginPx() const { return int(std::lround(margin * dpi / 72.0)); }

LaidOut pageFor(const PageSetup& setup, double pictureWidth, double pictureHeight) {
    LaidOut page;
    if (setup.fitToPicture) {
        const double margins = 2.0 * setup.marginPx();
        double w = std::max(pictureWidth, 1.0), h = std::max(pictureHeight, 1.0);
        // A page no viewer can show is no use: a larger picture gets the largest page, and
        // shrinks onto it like a picture larger than its paper.
        const double largest = largestPage * setup.dpi / 72.0 - margins;
        const double k = std::min({1.0, largest / w, largest / h});
        // Nor a page below the 3 x 3 units a PDF's page must measure (a picture of a pixel or two).
        const double smallest = 3.0 * setup.dpi / 72.0;
        page.pageWidthPx = std::max(w * k + margins, smallest);
        page.pageHeightPx = std::max(h * k + margins, smallest);
        page.pageWidth = setup.pxToPoints(page.pageWidthPx);
        page.pageHeight = setup.pxToPoints(page.pageHeightPx);
        return page;
    }
    bool landscape = setup.orientation == Orientation::Landscape;
    if (setup.orientation == Orientation::Automatic) landscape = pictureWidth > pictureHeight;
    page.pageWidth = landscape ? setup.paperHeight : setup.paperWidth;
    page.pageHeight = landscape ? setup.paperWidth : setup.paperHeight;
    page.pageWidthPx = double(std::lround(page.pageWidth * setup.dpi / 72.0));
    page.pageHeightPx = double(std::lround(page.pageHeight * setup.dpi / 72.0));
    return page;
}

LaidOut layOut(const PageSetup& setup, LaidOut page, const Drawing& d) {
    const double margin = setup.marginPx();
    const double printableW = page.pageWidthPx - 2 * margin;
    const double printableH = page.pageHeightPx - 2 * margin;
    // The program placed the drawing on the page it sees: carry it over to this page.
    const double sx = printableW / std::max(1.0, double(setup.printableWidthPx()));
    const double sy = printableH / std::max(1.0, double(setup.printableHeightPx()));
    double x = d.x * sx, y = d.y * sy, w = d.width, h = d.height;
    if (d.ownSize) {
        if (setup.oversize == Oversize::Shrink && w > 0 && h > 0) {
            const double roomW = printableW - x, roomH = printableH - y;
            if (roomW > 0 && roomH > 0) {
                const double k = std::min({1.0, roomW / w, roomH / h});
                w *= k;
                h *= k;
            }
        }
        if (setup.center) {
            x = (printableW - w) / 2;
            y = (printableH - h) / 2;
        }
    } else {
        w *= sx;
        h *= sy;
        if (setup.stretch == Stretch::KeepProportions && d.pictureWidth > 0 && d.pictureHeight > 0) {
            const double k = std::min(w / d.pictureWidth, h / d.pictureHeight);
            x += (w - d.pictureWidth * k) / 2;
            y += (h - d.pictureHeight * k) / 2;
            w = d.pictureWidth * k;
            h = d.pictureHeight * k;
        }
    }
    page.target.width = setup.pxToPoints(w);
    page.target.height = setup.pxToPoints(h);
    page.target.x = setup.pxToPoints(margin + x);
    page.target.y = page.pageHeight - setup.pxToPoints(margin + y) - page.target.height;
    page.clip.x = setup.pxToPoints(margin);
    page.clip.width = setup.pxToPoints(printableW);
    page.clip.height = setup.pxToPoints(printableH);
    page.clip.y = page.pageHeight - page.clip.x - page.clip.height;
    return page;
}

namespace preferences {

QStringList names() {
    QStringList list;
    for (const Preference& p : all) list << QString::fromLatin1(p.name);
    return list;
}

QString valueName(const QString& name) {
    const Preference* p = find(name);
    return p ? QString::fromLatin1(p->valueName) : QString();
}

std::optional<std::pair<double, double>> paperSize(const QString& name) {
    for (const Paper& p : papers)
        if (name.trimmed().compare(QLatin1String(p.name), Qt::CaseInsensitive) == 0)
            return std::pair{p.width, p.height};
    return std::nullopt;
}

QStringList paperNames() {
    QStringList list;
    for (const Paper& p : papers) list << QString::fromLatin1(p.name);
    return list;
}

pictolio::Outcome<QString> check(const QString& name, const QString& value) {
    using pictolio::Failure;
    const Preference* p = find(name);
    if (!p) {
        return Failure{QStringLiteral("unknown preference \"%1\"; the preferences are: %2")
                           .arg(name, names().join(QStringLiteral(", "))),
                       Failure::Kind::Refused};
    }
    const QString key = QString::fromLatin1(p->name);
    std::optional<QString> stored;
    if (key == QLatin1String("paper")) {
        if (const auto paper = parsePaper(value)) stored = paperText(*paper);
    } else if (key == QLatin1String("orientation")) {
        stored = choice(value, {{"portrait", "Portrait"}, {"landscape", "Landscape"}, {"auto", "Automatic"},
                                {"automatic", "Automatic"}});
    } else if (key == QLatin1String("margin")) {
        const auto points = parseLength(value, 1);
        if (points && *points <= largestMargin + 1e-6) stored = lengthText(*points);
    } else if (key == QLatin1String("oversize")) {
        stored = choice(value, {{"shrink", "Shrink"}, {"clip", "Clip"}});
    } else if (key == QLatin1String("stretch")) {
        stored = choice(value, {{"fill", "Fill"}, {"proportional", "Proportional"}, {"keep", "Proportional"}});
    } else if (key == QLatin1String("center")) {
        stored = choice(value, {{"on", "1"}, {"1", "1"}, {"yes", "1"}, {"true", "1"},
                                {"off", "0"}, {"0", "0"}, {"no", "0"}, {"false", "0"}});
    } else if (key == QLatin1String("resolution")) {
        bool ok = false;
        const int dpi = value.trimmed().toInt(&ok);
        if (ok && dpi >= 72 && dpi <= 2400) stored = QString::number(dpi);
    } else if (key == QLatin1String("ocr")) {
        if (value.trimmed().compare(QLatin1String("off"), Qt::CaseInsensitive) == 0) {
            stored = QStringLiteral("off");
        } else {
            const auto installed = recognition::languages::check(value.trimmed());
            if (!installed) return Failure{installed.reason(), Failure::Kind::Refused};
            stored = value.trimmed();
        }
    } else if (key == QLatin1String("turn-pages") || key == QLatin1String("pdfa") || key == QLatin1String("compact")) {
        stored = choice(value, {{"on", "1"}, {"1", "1"}, {"yes", "1"}, {"true", "1"},
                                {"off", "0"}, {"0", "0"}, {"no", "0"}, {"false", "0"}});
    } else if (key == QLatin1String("pictures")) {
        stored = choice(value, {{"original", "Original"}, {"reduce", "Reduce"}, {"mono", "Mono"}, {"document", "Document"}});
    } else if (key == QLatin1String("document-colours")) {
        stored = choice(value, {{"auto", "Auto"}, {"colour", "Colour"}, {"color", "Colour"}, {"grey", "Grey"},
                                {"gray", "Grey"}, {"mono", "Mono"}});
    } else if (key == QLatin1String("max-dpi") || key == QLatin1String("jpeg-quality")) {
        bool ok = false;
        const int n = value.trimmed().toInt(&ok);
        if (ok && n >= p->range->least && n <= p->range->most) stored = QString::number(n);
    } else if (key == QLatin1String("frames")) {
        stored = choice(value, {{"first", "First"}, {"all", "All"}});
    } else if (key == QLatin1String("date")) {
        if (const auto date = parseDate(value)) stored = *date < 0 ? QStringLiteral("now") : QString::number(*date);
    } else {
        stored = detailText(value);  // title, author, subject, keywords
    }
    if (!stored) {
        const QString shown = value.size() > 60 ? value.left(57) + QStringLiteral("...") : value;
        const QString accepted = QString::fromLatin1(p->accepted) +
                                 (p->range ? QStringLiteral("%1 to %2").arg(p->range->least).arg(p->range->most) : QString());
        return Failure{QStringLiteral("\"%1\" is not a valid %2; accepted: %3").arg(shown, key, accepted), Failure::Kind::Refused};
    }
    return *stored;
}

pictolio::Outcome<pictolio::Done> checkTogether(const QMap<QString, QString>& stored, const QString& defaultPaper) {
    const auto margin = stored.constFind(QStringLiteral("Margin"));
    const auto points = margin == stored.constEnd() ? std::nullopt : parseLength(*margin, 1);
    if (!points) return pictolio::Done{};  // the default margin fits every paper
    auto paper = parsePaper(stored.value(QStringLiteral("PaperSize")));
    if (!paper) paper = parsePaper(defaultPaper);
    if (!paper || paper->name == fitName || marginFits(*points, paper->width, paper->height)) return pictolio::Done{};
    const double most = (std::min(paper->width, paper->height) - inch / 2) / 2;
    return pictolio::Failure{QStringLiteral("the margin %1 is too large for %2 paper: at most %3mm leaves half an inch "
                                            "between the margins")
                                 .arg(lengthText(*points), paperText(*paper),
                                      QString::number(std::floor(most / mm * 10 - 1e-6) / 10)),
                             pictolio::Failure::Kind::Refused};
}

PageSetup defaults(const QString& paper) {
    PageSetup setup;
    if (const auto size = paperSize(paper)) {
        setup.paperName = paper;
        std::tie(setup.paperWidth, setup.paperHeight) = *size;
    }
    return setup;
}

namespace {

// The stored values, read once, and what is said of one that is not valid.
struct Stored {
    QMap<QString, QString> values;
    const std::function<void(const QString&)>& complain;

    std::optional<QString> value(const char* name) const {
        const auto it = values.constFind(QLatin1String(name));
        if (it == values.constEnd()) return std::nullopt;
        return *it;
    }
    void refuse(const char* name, const QString& v) const {
        if (complain)
            complain(QStringLiteral("the PDF printer's %1 \"%2\" is not valid: the default is used").arg(QLatin1String(name), v));
    }
};

// The page: paper, orientation, margin, pictures larger than it, stretching, centring, resolution.
void readPage(const Stored& stored, PageSetup& setup) {
    const auto value = [&](const char* name) { return stored.value(name); };
    const auto refuse = [&](const char* name, const QString& v) { stored.refuse(name, v); };
    if (const auto v = value("PaperSize")) {
        if (const auto paper = parsePaper(*v)) {
            setup.paperName = paper->name;
            if (paper->name == fitName) {
                setup.fitToPicture = true;
            } else {
                setup.paperWidth = paper->width;
                setup.paperHeight = paper->height;
            }
        } else {
            refuse("PaperSize", *v);
        }
    }
    if (const auto v = value("Orientation")) {
        const auto o = choice(*v, {{"portrait", "P"}, {"landscape", "L"}, {"automatic", "A"}, {"auto", "A"}});
        if (!o) refuse("Orientation", *v);
        else setup.orientation = *o == QLatin1String("P") ? Orientation::Portrait
                                 : *o == QLatin1String("L") ? Orientation::Landscape
                                                            : Orientation::Automatic;
    }
    if (const auto v = value("Margin")) {
        const auto points = parseLength(*v, 1);
        if (points && *points <= largestMargin + 1e-6 && marginFits(*points, setup.paperWidth, setup.paperHeight))
            setup.margin = *points;
        else
            refuse("Margin", *v);
    }
    if (const auto v = value("Oversize")) {
        const auto o = choice(*v, {{"shrink", "S"}, {"clip", "C"}});
        if (!o) refuse("Oversize", *v);
        else setup.oversize = *o == QLatin1String("C") ? Oversize::Clip : Oversize::Shrink;
    }
    if (const auto v = value("Stretch")) {
        const auto o = choice(*v, {{"fill", "F"}, {"proportional", "P"}, {"keep", "P"}});
        if (!o) refuse("Stretch", *v);
        else setup.stretch = *o == QLatin1String("P") ? Stretch::KeepProportions : Stretch::Fill;
    }
    if (const auto v = value("Center")) {
        const auto o = choice(*v, {{"1", "1"}, {"0", "0"}, {"on", "1"}, {"off", "0"}});
        if (!o) refuse("Center", *v);
        else setup.center = *o == QLatin1String("1");
    }
    if (const auto v = value("Resolution")) {
        bool ok = false;
        const int dpi = v->trimmed().toInt(&ok);
        if (ok && dpi >= 72 && dpi <= 2400) setup.dpi = dpi;
        else refuse("Resolution", *v);
    }
}

// Text recognition, and the switches: pages turned by their text, PDF/A, compact pages.
void readTextAndSwitches(const Stored& stored, PageSetup& setup) {
    const auto value = [&](const char* name) { return stored.value(name); };
    const auto refuse = [&](const char* name, const QString& v) { stored.refuse(name, v); };
    const auto& complain = stored.complain;
    if (const auto v = value("Ocr")) {
        const QString languages = v->trimmed();
        if (!languages.isEmpty() && languages.compare(QLatin1String("off"), Qt::CaseInsensitive) != 0) {
            const auto installed = recognition::languages::check(languages);
            if (installed) setup.ocr = languages;
            else if (complain) complain(QStringLiteral("no text recognition: %1").arg(installed.reason()));
        }
    }
    for (const auto& [name, field] : {std::pair{"TurnPages", &setup.turnPages}, std::pair{"Pdfa", &setup.pdfa},
                                      std::pair{"Compact", &setup.pictures.compact}})
        if (const auto v = value(name)) {
            const auto o = choice(*v, {{"1", "1"}, {"0", "0"}, {"on", "1"}, {"off", "0"}});
            if (!o) refuse(name, *v);
            else *field = *o == QLatin1String("1");
        }
}

// How the pictures go in: as they are, smaller, black and white or cleaned, and at what.
void readPictures(const Stored& stored, PageSetup& setup) {
    const auto value = [&](const char* name) { return stored.value(name); };
    const auto refuse = [&](const char* name, const QString& v) { stored.refuse(name, v); };
    if (const auto v = value("Pictures")) {
        const auto o = choice(*v, {{"original", "O"}, {"reduce", "R"}, {"mono", "M"}, {"document", "D"}});
        if (!o) refuse("Pictures", *v);
        else setup.pictures.mode = *o == QLatin1String("R")   ? imaging::PictureQuality::Mode::Reduce
                                   : *o == QLatin1String("M") ? imaging::PictureQuality::Mode::Mono
                                   : *o == QLatin1String("D") ? imaging::PictureQuality::Mode::Document
                                                              : imaging::PictureQuality::Mode::Original;
    }
    if (const auto v = value("DocumentColours")) {
        using Colours = imaging::PictureQuality::Colours;
        const auto o = choice(*v, {{"auto", "A"}, {"colour", "C"}, {"grey", "G"}, {"mono", "M"}});
        if (!o) refuse("DocumentColours", *v);
        else setup.pictures.pageColours = *o == QLatin1String("C")   ? Colours::Colour
                                          : *o == QLatin1String("G") ? Colours::Grey
                                          : *o == QLatin1String("M") ? Colours::Mono
                                                                     : Colours::Auto;
    }
    for (const auto& [name, field, range] : {std::tuple{"MaxDpi", &setup.pictures.maxDpi, maxDpiRange},
                                             std::tuple{"JpegQuality", &setup.pictures.jpegQuality, jpegQualityRange}})
        if (const auto v = value(name)) {
            bool ok = false;
            const int n = v->trimmed().toInt(&ok);
            if (ok && n >= range.least && n <= range.most) *field = n;
            else refuse(name, *v);
        }
}

// The document's details, its date, and the frames of animated pictures.
void readDocument(const Stored& stored, PageSetup& setup) {
    const auto value = [&](const char* name) { return stored.value(name); };
    const auto refuse = [&](const char* name, const QString& v) { stored.refuse(name, v); };
    for (const auto& [name, field] : {std::pair{"Title", &setup.title}, std::pair{"Author", &setup.author},
                                      std::pair{"Subject", &setup.subject}, std::pair{"Keywords", &setup.keywords}})
        if (const auto v = value(name)) {
            if (const auto text = detailText(*v)) *field = *text;
            else refuse(name, *v);
        }
    if (const auto v = value("Date")) {
        if (const auto date = parseDate(*v)) setup.date = *date;
        else refuse("Date", *v);
    }
    if (const auto v = value("Frames")) {
        const auto o = choice(*v, {{"first", "F"}, {"all", "A"}});
        if (!o) refuse("Frames", *v);
        else setup.allFrames = *o == QLatin1String("A");
    }
}

}  // namespace

PageSetup read(const pictolio::RegistryStore& registry, const QString& key, const QString& defaultPaper,
               const std::function<void(const QString&)>& complain) {
    PageSetup setup = defaults(defaultPaper);
    QString unread;
    const Stored stored{registry.values(key, &unread), complain};  // one read for all of them
    if (!unread.isEmpty() && complain) complain(QStringLiteral("the PDF printer's values %1").arg(unread));
    readPage(stored, setup);
    readTextAndSwitches(stored, setup);
    readPictures(stored, setup);
    readDocument(stored, setup);
    return setup;
}

QList<std::pair<QString, QString>> describe(const PageSetup& s) {
    const QString paper = s.fitToPicture ? QStringLiteral("fit")
                          : s.paperName == customName
                              ? paperText({customName, s.paperWidth, s.paperHeight})
                              : s.paperName;
    return {
        {QStringLiteral("paper"), paper},
        {QStringLiteral("orientation"), s.orientation == Orientation::Portrait    ? QStringLiteral("portrait")
                                        : s.orientation == Orientation::Landscape ? QStringLiteral("landscape")
                                                                                  : QStringLiteral("auto")},
        {QStringLiteral("margin"), lengthText(s.margin)},
        {QStringLiteral("oversize"), s.oversize == Oversize::Clip ? QStringLiteral("clip") : QStringLiteral("shrink")},
        {QStringLiteral("stretch"), s.stretch == Stretch::Fill ? QStringLiteral("fill") : QStringLiteral("proportional")},
        {QStringLiteral("center"), s.center ? QStringLiteral("on") : QStringLiteral("off")},
        {QStringLiteral("resolution"), QString::number(s.dpi)},
        {QStringLiteral("ocr"), s.ocr.isEmpty() ? QStringLiteral("off") : s.ocr},
        {QStringLiteral("turn-pages"), s.turnPages ? QStringLiteral("on") : QStringLiteral("off")},
        {QStringLiteral("pictures"), s.pictures.mode == imaging::PictureQuality::Mode::Reduce ? QStringLiteral("reduce")
                                     : s.pictures.mode == imaging::PictureQuality::Mode::Mono ? QStringLiteral("mono")
                                     : s.pictures.mode == imaging::PictureQuality::Mode::Document ? QStringLiteral("document")
                                                                                     : QStringLiteral("original")},
        {QStringLiteral("max-dpi"), QString::number(s.pictures.maxDpi)},
        {QStringLiteral("jpeg-quality"), QString::number(s.pictures.jpegQuality)},
        {QStringLiteral("document-colours"),
         QString::fromLatin1(std::array{"auto", "colour", "grey", "mono"}[std::size_t(s.pictures.pageColours)])},
        {QStringLiteral("compact"), s.pictures.compact ? QStringLiteral("on") : QStringLiteral("off")},
        {QStringLiteral("title"), s.title},
        {QStringLiteral("author"), s.author},
        {QStringLiteral("subject"), s.subject},
        {QStringLiteral("keywords"), s.keywords},
        {QStringLiteral("date"), s.date < 0 ? QStringLiteral("now") : QString::number(s.date)},
        {QStringLiteral("frames"), s.allFrames ? QStringLiteral("all") : QStringLiteral("first")},
        {QStringLiteral("pdfa"), s.pdfa ? QStringLiteral("on") : QStringLiteral("off")},
    };
}

}  // namespace preferences

}  // namespace pdfwriter
