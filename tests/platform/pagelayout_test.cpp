// SPDX-License-Identifier: GPL-3.0-or-later
// Where pictures land on the PDF printer's pages for every choice of its printing preferences,
// checked on the written PDF: the page, the picture's box, the clip.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <algorithm>
#include <cmath>

#include "convert/pdfprinter.h"
#include "pdfwriter/driver.h"
#include "pictures/picture.h"
#include "platform/printservice.h"
#include "platform/registry.h"
#include "tests/support/pdfreader.h"
#include "tests/support/printingfixture.h"
#include "tests/support/testpictures.h"

namespace pictolio {
namespace {

using pdfwriter::PdfWriterDriver;
constexpr double mm = 72 / 25.4;

class PageLayout : public testing::PrintingFixture {
protected:
    void SetUp() override {
        ASSERT_TRUE(out.isValid());
        installPrinting();
    }
    void set(const QString& value, const QString& text) { setPreference(value, text); }
    Picture load(const QString& name, const testing::JpegRecipe& recipe) {
        const QString path = out.filePath(name);
        testing::writeFile(path, testing::makeJpeg(recipe));
        return decoder.load(path);
    }
    struct Print {
        Picture picture;
        bool stretched;
    };
    std::vector<testing::PdfPage> print(const QString& name, const std::vector<Print>& prints) {
        const QString path = out.filePath(name);
        pdfprinter::writeOutputSettings(*registry, path);
        PrinterDevice& dc = service->printer();
        dc.setScaleMode(ScaleMode::Pixels);
        for (const Print& p : prints) {
            if (p.stretched)
                dc.paintPicture(p.picture, 0, 0, float(dc.scaleWidth()), float(dc.scaleHeight()));
            else
                dc.paintPicture(p.picture, 0, 0);
            dc.newPage();
        }
        dc.endDoc();
        service->pdfDriver().waitUntilIdle();
        return testing::readPdf(path);
    }
    QString log() const { return QString::fromUtf8(testing::readFile(service->pdfDriver().logFile())); }

    QTemporaryDir out;
};

// The box the image covers on the page: x, y, width, height.
std::array<double, 4> boxOf(const testing::PdfImage& image) {
    const double* m = image.matrix;
    const double xs[] = {m[4], m[4] + m[0], m[4] + m[2], m[4] + m[0] + m[2]};
    const double ys[] = {m[5], m[5] + m[1], m[5] + m[3], m[5] + m[1] + m[3]};
    const auto [x0, x1] = std::minmax_element(std::begin(xs), std::end(xs));
    const auto [y0, y1] = std::minmax_element(std::begin(ys), std::end(ys));
    return {*x0, *y0, *x1 - *x0, *y1 - *y0};
}

TEST_F(PageLayout, EveryPictureWholeUprightAndInProportionOnEveryPaper) {
    // Stored 400 x 300 at 10 dpi: 40 x 30 inches, larger than any paper; EXIF orientations 5 to
    // 8 turn it to 30 x 40. And a small one, 1 x 0.5 inches, that fits every paper.
    std::vector<Picture> large;
    for (int o = 1; o <= 8; ++o)
        large.push_back(load(QString("large%1.jpg").arg(o), {.width = 400, .height = 300, .densityUnit = 1,
                                                             .xDensity = 10, .yDensity = 10, .exif = true,
                                                             .orientation = o}));
    const Picture small = load("small.jpg", {.width = 300, .height = 150, .densityUnit = 1, .xDensity = 300,
                                             .yDensity = 300});
    std::vector<Print> prints;
    for (const bool stretched : {false, true}) {
        for (const Picture& p : large) prints.push_back({p, stretched});
        prints.push_back({small, stretched});
    }
    const auto uprightInches = [&](std::size_t i) -> std::pair<double, double> {
        const std::size_t k = i % 9;
        if (k == 8) return {1, 0.5};
        return k >= 4 ? std::pair{30.0, 40.0} : std::pair{40.0, 30.0};
    };

    int checkedPages = 0;
    for (const char* paper : {"A4", "Letter", "Legal", "A3", "A5", "Tabloid", "100x150mm", "Fit"}) {
        for (const char* orientation : {"Portrait", "Landscape", "Automatic"}) {
            for (const char* oversize : {"Shrink", "Clip"}) {
                for (const char* stretch : {"Fill", "Proportional"}) {
                    for (const char* center : {"0", "1"}) {
                        set("PaperSize", paper), set("Orientation", orientation), set("Oversize", oversize);
                        set("Stretch", stretch), set("Center", center), set("Margin", "10mm");
                        const std::string combo = std::string(paper) + " " + orientation + " " + oversize + " " +
                                                  stretch + " center " + center;
                        const auto pages = print("layout.pdf", prints);
                        ASSERT_EQ(pages.size(), prints.size()) << combo;
                        const bool fit = std::string(paper) == "Fit";
                        for (std::size_t i = 0; i < pages.size(); ++i) {
                            const auto& page = pages[i];
                            ASSERT_EQ(page.images.size(), 1u);
                            const auto& image = page.images[0];
                            const auto [inchesW, inchesH] = uprightInches(i);
                            const double pictureW = inchesW * 72, pictureH = inchesH * 72;
                            const bool stretched = prints[i].stretched;
                            const std::string where = combo + " page " + std::to_string(i + 1);
                            const double pageW = page.mediaBox[2], pageH = page.mediaBox[3];
                            // The page: the paper, turned as asked; or the picture plus margins.
                            if (fit) {
                                EXPECT_NEAR(pageW, pictureW + 20 * mm, 0.2) << where;
                                EXPECT_NEAR(pageH, pictureH + 20 * mm, 0.2) << where;
                            } else if (std::string(orientation) == "Portrait") {
                                EXPECT_LT(pageW, pageH) << where;
                            } else if (std::string(orientation) == "Landscape") {
                                EXPECT_GT(pageW, pageH) << where;
                            } else {
                                EXPECT_EQ(pageW > pageH, pictureW > pictureH) << where;
                            }
                            // The printable area is the page less the margin.
                            EXPECT_NEAR(image.clip[0], 10 * mm, 0.1) << where;
                            EXPECT_NEAR(image.clip[2], pageW - 20 * mm, 0.1) << where;
                            EXPECT_NEAR(image.clip[3], pageH - 20 * mm, 0.1) << where;
                            const auto [x, y, w, h] = boxOf(image);
                            const double cx = image.clip[0], cy = image.clip[1], cw = image.clip[2], ch = image.clip[3];
                            // Upright: the image's matrix is the one that turns this orientation upright.
                            const imaging::Matrix up = imaging::placeImage({x, y, w, h}, int(i % 9 % 8) + 1);
                            if (i % 9 < 8) {
                                EXPECT_NEAR(image.matrix[0], up.a, 0.01) << where;
                                EXPECT_NEAR(image.matrix[1], up.b, 0.01) << where;
                            }
                            const bool fillsArea = stretched && std::string(stretch) == "Fill";
                            const bool clipped = !stretched && std::string(oversize) == "Clip" && !fit;
                            if (!fillsArea) {
                                EXPECT_NEAR(w / h, pictureW / pictureH, 0.005) << where;
                            }
                            if (fillsArea) {
                                EXPECT_NEAR(x, cx, 0.05) << where;
                                EXPECT_NEAR(w, cw, 0.05) << where;
                                EXPECT_NEAR(h, ch, 0.05) << where;
                            } else if (clipped) {
                                // Drawn at its own size from the top-left corner, cut off by the clip.
                                EXPECT_NEAR(w, pictureW, 0.05) << where;
                                if (std::string(center) == "0") {
                                    EXPECT_NEAR(y + h, cy + ch, 0.05) << where;
                                }
                            } else {
                                // Whole, inside the printable area.
                                EXPECT_GE(x, cx - 0.05) << where;
                                EXPECT_GE(y, cy - 0.05) << where;
                                EXPECT_LE(x + w, cx + cw + 0.05) << where;
                                EXPECT_LE(y + h, cy + ch + 0.05) << where;
                                if (!stretched) {
                                    EXPECT_LE(w, pictureW + 0.05) << where;  // never enlarged
                                }
                                // A large picture is as large as the printable area allows.
                                if (i % 9 < 8) {
                                    EXPECT_NEAR(std::max(w / cw, h / ch), 1.0, 0.001) << where;
                                }
                                const bool centred = stretched || std::string(center) == "1";
                                if (centred) {
                                    EXPECT_NEAR(x + w / 2, cx + cw / 2, 0.05) << where;
                                    EXPECT_NEAR(y + h / 2, cy + ch / 2, 0.05) << where;
                                } else {
                                    EXPECT_NEAR(x, cx, 0.05) << where;  // the top-left corner as drawn
                                    EXPECT_NEAR(y + h, cy + ch, 0.05) << where;
                                }
                            }
                            ++checkedPages;
                        }
                    }
                }
            }
        }
    }
    EXPECT_EQ(checkedPages, 8 * 3 * 2 * 2 * 2 * 18);
}

TEST_F(PageLayout, APhoneSizedPhotoIsWholeOnTheDefaultPage) {
    // 4032 x 3024 pixels at 72 dpi, as phones write them: 56 x 42 inches.
    const Picture photo = load("photo.jpg", {.width = 4032, .height = 3024, .quality = 50, .densityUnit = 1,
                                             .xDensity = 72, .yDensity = 72});
    const auto pages = print("photo.pdf", {{photo, false}});
    ASSERT_EQ(pages.size(), 1u);
    const auto [x, y, w, h] = boxOf(pages[0].images[0]);
    const double* clip = pages[0].images[0].clip;
    EXPECT_GT(pages[0].mediaBox[2], pages[0].mediaBox[3]);  // a landscape page for a landscape photo
    EXPECT_NEAR(w / h, 4032.0 / 3024.0, 0.001);
    EXPECT_GE(x, clip[0] - 0.01);
    EXPECT_GE(y, clip[1] - 0.01);
    EXPECT_LE(x + w, clip[0] + clip[2] + 0.01);
    EXPECT_LE(y + h, clip[1] + clip[3] + 0.01);
    EXPECT_NEAR(std::max(w / clip[2], h / clip[3]), 1.0, 0.001);  // as large as the page allows
}

TEST_F(PageLayout, BadPreferencesFallBackToTheDefaultsAndAreLogged) {
    const pdfwriter::PageSetup defaults = PdfWriterDriver::defaultPageSetup();
    const struct {
        const char* value;
        const char* text;
    } cases[] = {
        {"PaperSize", "B17"},       {"PaperSize", "0.5x11in"}, {"PaperSize", "201x10in"}, {"PaperSize", "x"},
        {"Margin", "-3mm"},         {"Margin", "30mm"},        {"Margin", "wide"},        {"Orientation", "sideways"},
        {"Oversize", "squash"},     {"Stretch", "some"},       {"Center", "maybe"},       {"Resolution", "99999"},
    };
    for (const auto& c : cases) {
        set("PaperSize", defaults.paperName), set("Margin", "12"), set("Orientation", "Automatic");
        set("Oversize", "Shrink"), set("Stretch", "Fill"), set("Center", "0"), set("Resolution", "600");
        set(c.value, c.text);
        const pdfwriter::PageSetup s = service->pageSetup();
        EXPECT_EQ(s.paperName, defaults.paperName) << c.value << " " << c.text;
        EXPECT_EQ(s.paperWidth, defaults.paperWidth) << c.value << " " << c.text;
        EXPECT_EQ(s.margin, defaults.margin) << c.value << " " << c.text;
        EXPECT_EQ(s.orientation, defaults.orientation) << c.value << " " << c.text;
        EXPECT_EQ(s.oversize, defaults.oversize) << c.value << " " << c.text;
        EXPECT_EQ(s.stretch, defaults.stretch) << c.value << " " << c.text;
        EXPECT_EQ(s.center, defaults.center) << c.value << " " << c.text;
        EXPECT_EQ(s.dpi, defaults.dpi) << c.value << " " << c.text;
        EXPECT_TRUE(log().contains(QString("%1 \"%2\" is not valid").arg(c.value, c.text))) << c.value << " " << c.text;
    }
    // Good values in every accepted form.
    set("PaperSize", "8.5x14in"), set("Margin", "0.5in"), set("Orientation", "landscape");
    const pdfwriter::PageSetup s = service->pageSetup();
    EXPECT_NEAR(s.paperWidth, 612, 0.01);
    EXPECT_NEAR(s.paperHeight, 1008, 0.01);
    EXPECT_NEAR(s.margin, 36, 0.01);
    EXPECT_EQ(s.orientation, pdfwriter::Orientation::Landscape);
}

// Each limit holds at its exact boundary: the last value inside is taken, stored or given, and
// the first outside is refused (stored, the default stands).
TEST_F(PageLayout, EveryLimitHoldsAtItsBoundary) {
    namespace preferences = pdfwriter::preferences;
    const pdfwriter::PageSetup defaults = PdfWriterDriver::defaultPageSetup();
    const auto field = [](const pdfwriter::PageSetup& s, const QString& value) {
        if (value == "MaxDpi") return QString::number(s.pictures.maxDpi);
        if (value == "JpegQuality") return QString::number(s.pictures.jpegQuality);
        if (value == "Resolution") return QString::number(s.dpi);
        if (value == "Date") return QString::number(s.date);
        return s.title;
    };
    const struct {
        const char* value;
        const char* name;
        QString inside, outside;
    } cases[] = {
        {"MaxDpi", "max-dpi", "36", "35"},          {"MaxDpi", "max-dpi", "1200", "1201"},
        {"JpegQuality", "jpeg-quality", "10", "9"}, {"JpegQuality", "jpeg-quality", "100", "101"},
        {"Resolution", "resolution", "72", "71"},   {"Resolution", "resolution", "2400", "2401"},
        {"Date", "date", "0", "-1"},                {"Date", "date", "253402300799", "253402300800"},
        {"Title", "title", QString(1000, 'x'), QString(1001, 'x')},
    };
    for (const auto& c : cases) {
        set(c.value, c.inside);
        EXPECT_EQ(field(service->pageSetup(), c.value), c.inside) << c.value << " " << c.inside.size();
        set(c.value, c.outside);
        EXPECT_EQ(field(service->pageSetup(), c.value), field(defaults, c.value)) << c.value << " " << c.outside.size();
        const auto taken = preferences::check(c.name, c.inside);
        EXPECT_TRUE(taken && *taken == c.inside) << c.name << ": " << taken.reason().toStdString();
        EXPECT_FALSE(preferences::check(c.name, c.outside)) << c.name << " " << c.outside.size();
    }
}

}  // namespace
}  // namespace pictolio
