#include "pdfwriter/pdfbuilder.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

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

}  // namespace
}  // namespace pdfwriter
