// SPDX-License-Identifier: GPL-3.0-or-later
#include "pdfwriter/pdfbuilder.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>
#include <tuple>

#include "tests/support/pdfreader.h"
#include "tests/support/testpictures.h"

namespace pdfwriter {
namespace {

using pictolio::testing::makeJpeg;

// A picture whose data fails while the PDF is written (here an arithmetic-coded file that will
// not re-encode) loses its own page, never the others'; with nothing left, no file is made.
TEST(PdfBuilder, APictureThatFailsWhenWrittenCostsOnlyItsOwnPage) {
    QTemporaryDir dir;
    const QByteArray good = makeJpeg({.width = 40, .height = 30});
    // A progressive file whose last scan comes twice: the JPEG library will not re-encode it.
    QByteArray broken = makeJpeg({.progressive = true, .arithmetic = true});
    const qsizetype lastScan = broken.lastIndexOf("\xFF\xDA");
    broken.insert(broken.size() - 2, broken.mid(lastScan, broken.size() - 2 - lastScan));

    const auto picture = [&](const QString& name, const QByteArray& data, bool arithmetic) {
        const QString path = dir.filePath(name);
        pictolio::testing::writeFile(path, data);
        const std::string file = QFile::encodeName(path).toStdString();
        Placement p;
        p.image = std::make_shared<JpegFileImage>(
            file, FileIdentity::ofPath(file),
            JpegFileImage::Details{.width = 40, .height = 30, .arithmetic = arithmetic});
        p.matrix = {40, 0, 0, 30, 0, 0};
        p.clip = {0, 0, 40, 30};
        return Page{{p}};
    };
    const Page first = picture("first.jpg", good, false), bad = picture("bad.jpg", broken, true),
               last = picture("last.jpg", good, false);
    const struct {
        const char* name;
        std::vector<Page> pages;
        std::size_t pagesWritten;
    } cases[] = {
        {"bad picture between two good ones", {first, bad, last}, 2},
        {"bad picture first", {bad, first}, 1},
        {"bad picture alone", {bad}, 0},
    };
    for (const auto& c : cases) {
        const QString out = dir.filePath(QStringLiteral("%1.pdf").arg(c.name));
        const WriteResult result =
            writePdfFile({"job", 200, 200, c.pages}, QFile::encodeName(out).toStdString());
        EXPECT_EQ(result.leftOut, std::vector<std::string>{bad.images[0].image->description()})
            << c.name;
        ASSERT_EQ(result.written, c.pagesWritten > 0) << c.name << ": " << result.error;
        if (!result.written) {
            EXPECT_FALSE(QFile::exists(out)) << c.name;
            continue;
        }
        const std::vector<pictolio::testing::PdfPage> pages = pictolio::testing::readPdf(out);
        ASSERT_EQ(pages.size(), c.pagesWritten) << c.name;
        for (const auto& page : pages) {
            ASSERT_EQ(page.images.size(), 1u) << c.name;
            EXPECT_EQ(page.images[0].rawData, good.toStdString()) << c.name;
        }
    }
    EXPECT_EQ(QDir(dir.path()).entryList({".pictolio-*"}, QDir::Files | QDir::Hidden),
              QStringList());
}

// A picture's bytes are copied from its file into the PDF, by the kernel where the two files
// share a file system and read and written otherwise, with what a renderer needs put in.
TEST(PdfBuilder, PictureBytesGoInAsTheFileHoldsThemFromAnyFileSystem) {
    QTemporaryDir out, sameFileSystem, other(QStringLiteral("/dev/shm/pictolio-XXXXXX"));
    ASSERT_TRUE(other.isValid()) << "another file system (tmpfs) for the pictures";
    const QByteArray plain = makeJpeg({.width = 40, .height = 30});
    // An RGB file without its APP14 segment: one goes in after the start of image.
    QByteArray rgb = makeJpeg({.width = 40, .height = 30, .kind = pictolio::testing::JpegRecipe::Kind::Rgb});
    if (const qsizetype app14 = rgb.indexOf("\xFF\xEE"); app14 > 0)
        rgb.remove(app14, 2 + (uchar(rgb[app14 + 2]) << 8 | uchar(rgb[app14 + 3])));
    ASSERT_EQ(rgb.indexOf("\xFF\xEE"), -1);
    const QByteArray rgbPrinted = rgb.left(2) + QByteArray(reinterpret_cast<const char*>(adobeRgbSegment),
                                                           sizeof adobeRgbSegment) + rgb.mid(2);
    for (const QTemporaryDir* folder : {&sameFileSystem, &other}) {
        std::vector<Page> pages;
        for (const auto& [name, data, isRgb] : {std::tuple{"plain.jpg", plain, false}, {"rgb.jpg", rgb, true}}) {
            const std::string file = QFile::encodeName(folder->filePath(name)).toStdString();
            pictolio::testing::writeFile(folder->filePath(name), data);
            Placement p;
            p.image = std::make_shared<JpegFileImage>(file, FileIdentity::ofPath(file),
                                                      JpegFileImage::Details{.width = 40, .height = 30, .rgb = isRgb});
            p.matrix = {40, 0, 0, 30, 0, 0};
            p.clip = {0, 0, 40, 30};
            pages.push_back(Page{{p}});
        }
        const QString pdf = out.filePath(QStringLiteral("out.pdf"));
        const WriteResult result = writePdfFile({"job", 200, 200, pages}, QFile::encodeName(pdf).toStdString());
        ASSERT_TRUE(result.written) << folder->path().toStdString() << ": " << result.error;
        EXPECT_EQ(pictolio::testing::qpdfCheckProblems(pdf).toStdString(), "");
        const std::vector<pictolio::testing::PdfPage> read = pictolio::testing::readPdf(pdf);
        ASSERT_EQ(read.size(), 2u);
        EXPECT_EQ(read[0].images.at(0).rawData, plain.toStdString()) << folder->path().toStdString();
        EXPECT_EQ(read[1].images.at(0).rawData, rgbPrinted.toStdString()) << folder->path().toStdString();
    }
}

}  // namespace
}  // namespace pdfwriter
