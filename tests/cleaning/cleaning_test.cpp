// SPDX-License-Identifier: GPL-3.0-or-later
// Photos of documents made clean pages, on photos made as a camera would take them (a sheet seen
// at an angle on wood, cloth or a dark desk, a lamp, a shadow, blur, grain, JPEG), whose true
// corners and paper are known; and scans turned on the glass.
#include <gtest/gtest.h>

#include <QMap>
#include <QTemporaryDir>
#include <algorithm>
#include <cmath>

#include "cleaning/page.h"
#include "pictures/picture.h"
#include "tests/support/documentphoto.h"

using namespace cleaning;
using namespace pictolio::testing;

namespace {

// The photo as the program loads it: a JPEG file of phone quality, decoded by the picture reader.
pictolio::Picture loaded(const QImage& photo, const QTemporaryDir& folder, const QString& name) {
    const QString path = folder.filePath(name);
    EXPECT_TRUE(photo.save(path, "JPEG", 80));
    return pictolio::PictureDecoder().load(path);
}

// The page's paper (median grey) and print (median of what is darker than middle grey).
std::pair<int, int> paperAndPrint(const imaging::GreyImage& page) {
    std::vector<std::uint8_t> all = page.pixels;
    std::sort(all.begin(), all.end());
    const std::size_t dark = std::size_t(std::lower_bound(all.begin(), all.end(), std::uint8_t(128)) - all.begin());
    return {all[all.size() / 2], all[dark / 2]};
}

}  // namespace

TEST(Cleaning, PhotosOfDocumentsBecomeCleanPagesOfTheirPaper) {
    const struct {
        const char* shot;
        Surface surface;
        double tilt, turn;
        QSizeF paperMm;
        const char* paper;
    } rows[] = {
        {"on wood at 25 degrees, in shadow", Surface::Wood, 25, -6, {210, 297}, "A4"},
        {"on cloth at 35 degrees", Surface::Cloth, 35, 4, {210, 297}, "A4"},
        {"on a dark desk, turned 12 degrees", Surface::DarkDesk, 20, 12, {215.9, 279.4}, "Letter"},
        {"a legal sheet on cloth", Surface::Cloth, 28, -10, {215.9, 355.6}, "Legal"},
        {"a sheet 2 % short of A4", Surface::Wood, 15, 3, {210, 291}, "A4"},  // snapped to it
    };
    const QMap<QString, QSizeF> standard{{"A4", {210, 297}}, {"Letter", {215.9, 279.4}}, {"Legal", {215.9, 355.6}}};
    QTemporaryDir folder;
    int seed = 0;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.shot);
        PhotoSetup setup;
        setup.size = {3264, 2448};  // 8 megapixels, as a phone of a few years ago
        setup.surface = row.surface, setup.tilt = row.tilt, setup.turn = row.turn, setup.paperMm = row.paperMm;
        setup.pageDpi = 200, setup.seed = std::uint32_t(++seed);
        const DocumentPhoto photo = documentPhoto(setup);
        const pictolio::Picture picture = loaded(photo.photo, folder, QStringLiteral("photo%1.jpg").arg(seed));
        ASSERT_FALSE(picture.isEmpty());

        // The corners, within 1 % of the diagonal.
        const RgbImage pixels = rgbPixels(*picture.image);
        const RgbImage small = shrunk(pixels, 800);
        const std::optional<Corners> found = findSheet(small);
        ASSERT_TRUE(found);
        Corners corners = *found;
        for (Point& p : corners) p.x *= double(pixels.width) / small.width, p.y *= double(pixels.height) / small.height;
        corners = sharpened(pixels, corners, 12);
        const double diagonal = std::hypot(setup.size.width(), setup.size.height());
        for (std::size_t i = 0; i < 4; ++i)
            EXPECT_LT(std::hypot(corners[i].x - photo.corners[i].x(), corners[i].y - photo.corners[i].y()), 0.01 * diagonal)
                << "corner " << i;

        // A page of the sheet's paper, white, its print dark, its heading and stamp in colour.
        const pictolio::Outcome<CleanedPage> page = cleanPhoto(*picture.image, {});
        ASSERT_TRUE(page) << page.reason().toStdString();
        EXPECT_NEAR(page->proportions / (row.paperMm.width() / row.paperMm.height()), 1, 0.02);
        EXPECT_EQ(page->paper, row.paper);
        EXPECT_NEAR(page->widthMm, standard[row.paper].width(), 0.5);
        EXPECT_NEAR(page->heightMm, standard[row.paper].height(), 0.5);
        const auto [paper, print] = paperAndPrint(page->image->grey(1));
        EXPECT_GE(paper, 235);
        EXPECT_LE(print, 80);
        EXPECT_EQ(page->stored, Colours::Colour);
    }
}

TEST(Cleaning, PrintAloneIsStoredInBlackAndWhiteAndGreyPagesInGrey) {
    QTemporaryDir folder;
    QStringList lines;
    QImage page = documentPage({210, 297}, 150, &lines);
    // Without its heading's and stamp's colour: print alone.
    page = page.convertToFormat(QImage::Format_Grayscale8).convertToFormat(QImage::Format_RGB888);
    PhotoSetup setup;
    setup.size = {2400, 1800};
    const pictolio::Picture picture = loaded(page, folder, "page.jpg");
    ASSERT_FALSE(picture.isEmpty());
    // (a page alone fills the photo: a scan)
    const pictolio::Outcome<CleanedPage> cleaned = cleanPhoto(*picture.image, {});
    ASSERT_TRUE(cleaned) << cleaned.reason().toStdString();
    EXPECT_EQ(cleaned->stored, Colours::Mono);
    EXPECT_EQ(cleaned->image->format().encoding, imaging::ImageEncoding::Ccitt);
    const auto [paper, print] = paperAndPrint(cleaned->image->grey(1));
    EXPECT_EQ(paper, 255);
    EXPECT_EQ(print, 0);
    // A page with a photo printed on it is grey, by itself.
    const QImage illustrated = documentPage({210, 297}, 150, &lines, 1, true).convertToFormat(QImage::Format_Grayscale8);
    const pictolio::Picture withPhoto = loaded(illustrated.convertToFormat(QImage::Format_RGB888), folder, "photo.jpg");
    const pictolio::Outcome<CleanedPage> shaded = cleanPhoto(*withPhoto.image, {});
    ASSERT_TRUE(shaded) << shaded.reason().toStdString();
    EXPECT_EQ(shaded->stored, Colours::Grey);
    // Asked for grey, it is grey.
    const pictolio::Outcome<CleanedPage> grey = cleanPhoto(*picture.image, {Colours::Grey, 75});
    ASSERT_TRUE(grey);
    EXPECT_EQ(grey->image->format().colorSpace, imaging::ColorSpace::Gray);
    EXPECT_EQ(grey->image->format().encoding, imaging::ImageEncoding::Dct);
}

TEST(Cleaning, ScansAreTurnedStraightAndTheirDarkBordersCutOff) {
    QTemporaryDir folder;
    for (const double degrees : {4.0, -9.5}) {
        SCOPED_TRACE(degrees);
        QStringList lines;
        const QImage scan = scanOnGlass(documentPage({210, 297}, 150, &lines), degrees);
        const pictolio::Picture picture = loaded(scan, folder, "scan.jpg");
        const pictolio::Outcome<CleanedPage> cleaned = cleanPhoto(*picture.image, {});
        ASSERT_TRUE(cleaned) << cleaned.reason().toStdString();
        EXPECT_TRUE(cleaned->scan);
        EXPECT_NEAR(cleaned->turnedBy, -degrees, 0.3);
        // Its lines of print level now, and no dark border left at the top or the left.
        const imaging::GreyImage grey = cleaned->image->grey(1);
        RgbImage straight{grey.width, grey.height, {}};
        for (const std::uint8_t v : grey.pixels) straight.pixels.insert(straight.pixels.end(), 3, v);
        const std::optional<double> left = skewOfPrint(straight);
        ASSERT_TRUE(left);
        EXPECT_NEAR(*left, 0, 0.3);
        double topEdge = 0, leftEdge = 0;
        for (int x = 0; x < grey.width; ++x) topEdge += grey.pixels[std::size_t(x)];
        for (int y = 0; y < grey.height; ++y) leftEdge += grey.pixels[std::size_t(y) * std::size_t(grey.width)];
        EXPECT_GT(topEdge / grey.width, 200);
        EXPECT_GT(leftEdge / grey.height, 200);
    }
}

TEST(Cleaning, APhotoWithNoSheetIsNoPage) {
    QTemporaryDir folder;
    QImage plain(1600, 1200, QImage::Format_RGB888);
    plain.fill(QColor(128, 120, 110));
    // A sheet running off the photo's edge is no sheet seen whole.
    PhotoSetup cut;
    cut.size = {1600, 1200};
    cut.pageDpi = 60;
    const QImage cutOff = documentPhoto(cut).photo.copy(0, 0, 1600, 850);
    for (const auto& [what, photo] : {std::pair{"a landscape", landscapePhoto({2400, 1800})}, std::pair{"a plain surface", plain},
                                      std::pair{"a sheet cut off by the edge", cutOff}}) {
        SCOPED_TRACE(what);
        const pictolio::Picture picture = loaded(photo, folder, "photo.jpg");
        const pictolio::Outcome<CleanedPage> cleaned = cleanPhoto(*picture.image, {});
        EXPECT_FALSE(cleaned);
        EXPECT_EQ(cleaned.reason(), "no page found");
    }
}

TEST(Cleaning, OddPicturesAreNoPageOrAPage) {
    QTemporaryDir folder;
    QImage noise(40, 40, QImage::Format_RGB888);
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 40; ++x) noise.setPixel(x, y, qRgb((x * 97 + y * 31) % 256, (x * 13) % 256, (y * 71) % 256));
    const auto filled = [](int w, int h, QColor colour) {
        QImage image(w, h, QImage::Format_RGB888);
        image.fill(colour);
        return image;
    };
    for (const auto& [what, image] : {std::pair{"one pixel", filled(1, 1, Qt::white)}, std::pair{"one row", filled(3000, 1, Qt::white)},
                                      std::pair{"one column", filled(1, 3000, Qt::white)}, std::pair{"noise", noise},
                                      std::pair{"all white", filled(1500, 1500, Qt::white)},
                                      std::pair{"all black", filled(1500, 1500, Qt::black)}}) {
        SCOPED_TRACE(what);
        const pictolio::Picture picture = loaded(image, folder, "odd.jpg");
        ASSERT_FALSE(picture.isEmpty());
        const pictolio::Outcome<CleanedPage> cleaned = cleanPhoto(*picture.image, {});
        if (cleaned)
            EXPECT_GT(cleaned->image->format().width, 0);
        else
            EXPECT_EQ(cleaned.reason(), "no page found");
    }
}
