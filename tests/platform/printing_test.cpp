// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <cmath>
#include <functional>
#include <sys/stat.h>
#include <qpdf/QPDF.hh>

#include "convert/pdfprinter.h"
#include "pdfwriter/driver.h"
#include "imaging/jpegfile.h"
#include "pictures/picture.h"
#include "platform/printservice.h"
#include "platform/registry.h"
#include "tests/fakes/fakedialogs.h"
#include "tests/support/pdfreader.h"
#include "tests/support/printingfixture.h"
#include "tests/support/testpictures.h"

namespace pictolio {
namespace {

using testing::JpegRecipe;
using testing::makeJpeg;
using testing::readPdf;

constexpr double a4Width = 210 / 25.4 * 72, a4Height = 297 / 25.4 * 72;

// A user's printing set-up in a temporary folder: the PDF printer installed, A4 paper.
class PrintingTest : public testing::PrintingFixture {
protected:
    void SetUp() override {
        ASSERT_TRUE(out.isValid() && pics.isValid());
        installPrinting({{"PaperSize", "A4"}}, [this](const QString& suggested) {
            prompts << suggested;
            return saveAsAnswer;
        });
    }

    void setPaper(const QString& name) { setPreference("PaperSize", name); }

    QString picture(const QString& name, const QByteArray& data) {
        const QString path = pics.filePath(name);
        testing::writeFile(path, data);
        return path;
    }

    Picture load(const QString& name, const JpegRecipe& recipe = {}) {
        return decoder.load(picture(name, makeJpeg(recipe)));
    }

    // Prints the pictures, each on its own page, into one PDF at path.
    void printJob(const QString& path, const std::vector<Picture>& pictures, bool stretch = false) {
        pdfprinter::writeOutputSettings(*registry, path);
        PrinterDevice& dc = service->printer();
        for (std::size_t i = 0; i < pictures.size(); ++i) {
            dc.setScaleMode(ScaleMode::Pixels);
            if (stretch)
                dc.paintPicture(pictures[i], 0, 0, float(dc.scaleWidth()), float(dc.scaleHeight()));
            else
                dc.paintPicture(pictures[i], 0, 0);
            if (i + 1 < pictures.size()) dc.newPage();
        }
        dc.endDoc();
        service->pdfDriver().waitUntilIdle();
    }

    QString log() const { return QString::fromUtf8(testing::readFile(service->pdfDriver().logFile())); }

    QTemporaryDir out, pics;
    QStringList prompts;
    QString saveAsAnswer;
};

TEST_F(PrintingTest, JpegDataIsEmbeddedByteForByte) {
    const struct {
        const char* name;
        JpegRecipe recipe;
        const char* colorSpace;
        const char* decode;
    } cases[] = {
        {"baseline", {.width = 120, .height = 80}, "/DeviceRGB", ""},
        {"progressive", {.width = 120, .height = 80, .progressive = true}, "/DeviceRGB", ""},
        {"grey", {.kind = JpegRecipe::Kind::Gray}, "/DeviceGray", ""},
        {"Adobe CMYK", {.kind = JpegRecipe::Kind::AdobeCmyk}, "/DeviceCMYK", "[ 1 0 1 0 1 0 1 0 ]"},
        {"YCCK", {.kind = JpegRecipe::Kind::Ycck}, "/DeviceCMYK", "[ 1 0 1 0 1 0 1 0 ]"},
        {"CMYK without APP14", {.kind = JpegRecipe::Kind::PlainCmyk}, "/DeviceCMYK", ""},
        {"with EXIF", {.exif = true, .orientation = 6, .exifXRes = 300, .exifYRes = 300},
         "/DeviceRGB", ""},
    };
    for (const auto& c : cases) {
        const QString source = picture("p.jpg", makeJpeg(c.recipe));
        const QString pdf = out.filePath(QStringLiteral("%1.pdf").arg(c.name));
        printJob(pdf, {decoder.load(source)});
        const auto pages = readPdf(pdf);
        ASSERT_EQ(pages.size(), 1u) << c.name;
        ASSERT_EQ(pages[0].images.size(), 1u) << c.name;
        const testing::PdfImage& image = pages[0].images[0];
        EXPECT_EQ(image.filter, "/DCTDecode") << c.name;
        EXPECT_EQ(image.colorSpace, c.colorSpace) << c.name;
        EXPECT_EQ(image.decode, c.decode) << c.name;
        EXPECT_EQ(image.width, c.recipe.width) << c.name;
        EXPECT_EQ(image.height, c.recipe.height) << c.name;
        EXPECT_TRUE(QByteArray::fromStdString(image.rawData) == testing::readFile(source)) << c.name;
        EXPECT_EQ(testing::qpdfCheckProblems(pdf), "") << c.name;
    }
}

TEST_F(PrintingTest, RgbJpegGetsAnAdobeMarkerAndArithmeticJpegBecomesHuffman) {
    const QByteArray rgb = makeJpeg({.kind = JpegRecipe::Kind::Rgb});
    printJob(out.filePath("rgb.pdf"), {decoder.load(picture("rgb.jpg", rgb))});
    const std::string stream = readPdf(out.filePath("rgb.pdf"))[0].images[0].rawData;
    const QByteArray expected = rgb.left(2) +
                                QByteArray(reinterpret_cast<const char*>(imaging::adobeRgbSegment), 16) +
                                rgb.mid(2);
    EXPECT_TRUE(QByteArray::fromStdString(stream) == expected);

    const QByteArray arithmetic = makeJpeg({.width = 90, .height = 60, .arithmetic = true});
    printJob(out.filePath("arith.pdf"), {decoder.load(picture("arith.jpg", arithmetic))});
    const QByteArray embedded =
        QByteArray::fromStdString(readPdf(out.filePath("arith.pdf"))[0].images[0].rawData);
    imaging::JpegInfo info;
    ASSERT_EQ(imaging::checkJpeg(reinterpret_cast<const std::uint8_t*>(embedded.constData()),
                                   std::size_t(embedded.size()), &info),
              imaging::JpegStatus::Ok);
    EXPECT_FALSE(info.arithmetic);
    int w, h, c;
    EXPECT_EQ(testing::decodeJpeg(embedded, &w, &h, &c), testing::decodeJpeg(arithmetic, &w, &h, &c));
}

TEST_F(PrintingTest, AFrameWithoutHuffmanTablesPrintsWithTheStandardOnes) {
    QByteArray frame = makeJpeg({.width = 64, .height = 48});
    const QByteArray full = frame;
    for (qsizetype at; (at = frame.indexOf(QByteArray("\xFF\xC4", 2))) >= 0;)
        frame.remove(at, 2 + ((uchar(frame[at + 2]) << 8) | uchar(frame[at + 3])));
    const Picture p = decoder.load(picture("frame.jpg", frame));
    ASSERT_FALSE(p.isEmpty());
    printJob(out.filePath("frame.pdf"), {p});
    const QByteArray embedded = QByteArray::fromStdString(readPdf(out.filePath("frame.pdf"))[0].images[0].rawData);
    int w, h, c;
    EXPECT_EQ(testing::decodeJpeg(embedded, &w, &h, &c), testing::decodeJpeg(full, &w, &h, &c));
    EXPECT_EQ(embedded.size(), full.size());
}

TEST_F(PrintingTest, OtherFormatsAreEmbeddedAsCompressedPixels) {
    QImage image(5, 4, QImage::Format_ARGB32);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 5; ++x) image.setPixel(x, y, qRgba(x * 50, y * 60, 7, 255));
    image.setPixel(0, 0, qRgba(0, 0, 0, 0));  // transparent: kept as the picture's soft mask
    ASSERT_TRUE(image.save(pics.filePath("p.png")));
    printJob(out.filePath("png.pdf"), {decoder.load(pics.filePath("p.png"))});
    const auto pages = readPdf(out.filePath("png.pdf"));
    ASSERT_EQ(pages.size(), 1u);
    const auto& pdfImage = pages[0].images[0];
    EXPECT_EQ(pdfImage.filter, "/FlateDecode");
    EXPECT_EQ(pdfImage.colorSpace, "/DeviceRGB");
    ASSERT_EQ(pdfImage.decodedData.size(), 5u * 4 * 3);
    const auto px = [&](int x, int y, int ch) { return uchar(pdfImage.decodedData[(y * 5 + x) * 3 + ch]); };
    ASSERT_EQ(pdfImage.softMask.size(), 5u * 4);
    EXPECT_EQ(pdfImage.softMask, std::string(1, '\0') + std::string(19, char(255)));
    EXPECT_EQ(px(4, 3, 0), 200);
    EXPECT_EQ(px(4, 3, 1), 180);
    EXPECT_EQ(px(4, 3, 2), 7);

    QImage gray(3, 2, QImage::Format_Grayscale8);
    gray.fill(77);
    ASSERT_TRUE(gray.save(pics.filePath("g.bmp")));
    printJob(out.filePath("gray.pdf"), {decoder.load(pics.filePath("g.bmp"))});
    const auto grayImage = readPdf(out.filePath("gray.pdf"))[0].images[0];
    EXPECT_EQ(grayImage.colorSpace, "/DeviceGray");
    EXPECT_EQ(grayImage.decodedData, std::string(6, char(77)));
    EXPECT_EQ(testing::qpdfCheckProblems(out.filePath("gray.pdf")), "");
}

TEST_F(PrintingTest, OwnSizeAndStretchedPlacement) {
    // Upright paper, and pictures larger than it cut off as drawn: the page as it always was.
    setPreference("Orientation", "Portrait");
    setPreference("Oversize", "Clip");
    // 600 x 300 pixels at 300 dpi: 2 x 1 inches, i.e. 144 x 72 points, at the top left of the
    // printable area, which starts 12 points in from the paper's edges.
    const Picture small = load("small.jpg", {.width = 600, .height = 300, .densityUnit = 1,
                                             .xDensity = 300, .yDensity = 300});
    // 30 x 40 inches: far larger than the page, cut off at the right and bottom.
    const Picture large = load("large.jpg", {.width = 300, .height = 400, .densityUnit = 1,
                                             .xDensity = 10, .yDensity = 10});
    const Picture portrait = load("turned.jpg", {.width = 400, .height = 200, .densityUnit = 1,
                                                 .xDensity = 100, .yDensity = 100,
                                                 .exif = true, .orientation = 6});
    printJob(out.filePath("own.pdf"), {small, large, portrait});
    printJob(out.filePath("stretched.pdf"), {small}, true);

    const auto own = readPdf(out.filePath("own.pdf"));
    const auto stretched = readPdf(out.filePath("stretched.pdf"));
    ASSERT_EQ(own.size(), 3u);
    ASSERT_EQ(stretched.size(), 1u);
    const double m = 100 * 72.0 / 600;  // 100 device pixels at 600 dpi
    const double printableW = (std::lround(a4Width * 600 / 72) - 200) * 72.0 / 600;
    const double printableH = (std::lround(a4Height * 600 / 72) - 200) * 72.0 / 600;
    const double topY = a4Height - m;
    const struct {
        const char* name;
        const testing::PdfImage& image;
        double matrix[6];
    } cases[] = {
        {"own size", own[0].images[0], {144, 0, 0, 72, m, topY - 72}},
        {"larger than the page", own[1].images[0], {2160, 0, 0, 2880, m, topY - 2880}},
        // Stored 400 x 200 turned clockwise: 2 inches wide, 4 high on paper.
        {"turned upright", own[2].images[0], {0, -288, 144, 0, m, topY}},
        {"stretched", stretched[0].images[0],
         {printableW, 0, 0, printableH, m, topY - printableH}},
    };
    for (const auto& c : cases) {
        for (int i = 0; i < 6; ++i) EXPECT_NEAR(c.image.matrix[i], c.matrix[i], 0.01) << c.name << " " << i;
        EXPECT_NEAR(c.image.clip[0], m, 0.01) << c.name;
        EXPECT_NEAR(c.image.clip[1], a4Height - m - printableH, 0.01) << c.name;
        EXPECT_NEAR(c.image.clip[2], printableW, 0.01) << c.name;
        EXPECT_NEAR(c.image.clip[3], printableH, 0.01) << c.name;
    }
    for (const auto& page : own) {
        EXPECT_NEAR(page.mediaBox[2], a4Width, 0.01);
        EXPECT_NEAR(page.mediaBox[3], a4Height, 0.01);
    }
}

TEST_F(PrintingTest, PaperComesFromTheDriversSettings) {
    setPaper("Letter");
    setPreference("Orientation", "Portrait");
    EXPECT_EQ(service->printer().scaleWidth(), (8.5 * 600 - 200) * 1440 / 600.0);  // twips
    service->printer().setScaleMode(ScaleMode::Pixels);
    EXPECT_EQ(service->printer().scaleWidth(), 8.5 * 600 - 200);
    EXPECT_EQ(service->printer().scaleHeight(), 11 * 600 - 200);
    printJob(out.filePath("letter.pdf"), {load("a.jpg")});
    const auto pages = readPdf(out.filePath("letter.pdf"));
    EXPECT_EQ(pages[0].mediaBox[2], 612);
    EXPECT_EQ(pages[0].mediaBox[3], 792);
}

TEST_F(PrintingTest, EveryPdfSaysWhatItIs) {
    const Picture a = load("Ærø 1.jpg"), b = load("b.jpg");
    const QString path = out.filePath("Holiday & more.pdf");
    printJob(path, {a, b});
    QPDF pdf;
    pdf.processFile(QFile::encodeName(path).constData());
    QPDFObjectHandle info = pdf.getTrailer().getKey("/Info");
    EXPECT_EQ(info.getKey("/Title").getUTF8Value(), "Holiday & more");
    EXPECT_EQ(info.getKey("/Creator").getUTF8Value(), "Pictolio");
    EXPECT_EQ(info.getKey("/Producer").getUTF8Value().rfind("Tenbrook PDF Writer ", 0), 0u);
    const QRegularExpression pdfDate(R"(^D:\d{14}[+-]\d\d'\d\d'$)");
    EXPECT_TRUE(pdfDate.match(QString::fromStdString(info.getKey("/CreationDate").getUTF8Value())).hasMatch());
    EXPECT_EQ(info.getKey("/ModDate").getUTF8Value(), info.getKey("/CreationDate").getUTF8Value());
    QPDFObjectHandle catalog = pdf.getRoot();
    const auto xmp = catalog.getKey("/Metadata").getStreamData(qpdf_dl_all);
    const std::string metadata(reinterpret_cast<const char*>(xmp->getBuffer()), xmp->getSize());
    EXPECT_NE(metadata.find("<rdf:li xml:lang=\"x-default\">Holiday &amp; more</rdf:li>"), std::string::npos);
    EXPECT_NE(metadata.find("<xmp:CreatorTool>Pictolio</xmp:CreatorTool>"), std::string::npos);
    // One bookmark per page, named after its picture; the viewer opens on the first page.
    const std::vector<QPDFObjectHandle> pages = pdf.getAllPages();
    QStringList bookmarks;
    for (QPDFObjectHandle item = catalog.getKey("/Outlines").getKey("/First"); item.isDictionary();
         item = item.getKey("/Next")) {
        bookmarks << QString::fromStdString(item.getKey("/Title").getUTF8Value());
        EXPECT_EQ(item.getKey("/Dest").getArrayItem(0).getObjGen(), pages[bookmarks.size() - 1].getObjGen());
    }
    EXPECT_EQ(bookmarks, (QStringList{"Ærø 1.jpg", "b.jpg"}));
    EXPECT_EQ(catalog.getKey("/OpenAction").getArrayItem(0).getObjGen(), pages[0].getObjGen());
    EXPECT_EQ(testing::qpdfCheckProblems(path), "");
}

TEST_F(PrintingTest, PagesFollowTheDrawing) {
    const Picture a = load("a.jpg"), b = load("b.jpg");
    PrinterDevice& dc = service->printer();
    const QString path = out.filePath("pages.pdf");
    pdfprinter::writeOutputSettings(*registry, path);

    // Draw, new page, draw, new page, end: no empty last page.
    dc.paintPicture(a, 0, 0);
    dc.newPage();
    dc.paintPicture(b, 0, 0);
    dc.newPage();
    dc.endDoc();
    service->pdfDriver().waitUntilIdle();
    EXPECT_EQ(readPdf(path).size(), 2u);

    // Two drawings without a new page share a page.
    dc.paintPicture(a, 0, 0);
    dc.paintPicture(b, 100, 100);
    dc.endDoc();
    service->pdfDriver().waitUntilIdle();
    const auto shared = readPdf(path);
    ASSERT_EQ(shared.size(), 1u);
    EXPECT_EQ(shared[0].images.size(), 2u);

    // Nothing drawn: no job, no file.
    const QString none = out.filePath("none.pdf");
    pdfprinter::writeOutputSettings(*registry, none);
    dc.newPage();
    dc.endDoc();
    service->pdfDriver().waitUntilIdle();
    EXPECT_FALSE(QFile::exists(none));
}

TEST_F(PrintingTest, EachJobGoesWhereOutputFileSaidWhenItEnded) {
    const Picture a = load("a.jpg");
    PrinterDevice& dc = service->printer();
    pdfprinter::writeOutputSettings(*registry, out.filePath("early.pdf"));
    dc.paintPicture(a, 0, 0);
    pdfprinter::writeOutputSettings(*registry, out.filePath("first.pdf"));
    dc.endDoc();
    // The next job's path is written at once; it must not redirect the first job.
    pdfprinter::writeOutputSettings(*registry, out.filePath("second %2 100%.pdf"));
    dc.paintPicture(a, 0, 0);
    dc.endDoc();
    service->pdfDriver().waitUntilIdle();
    EXPECT_FALSE(QFile::exists(out.filePath("early.pdf")));
    EXPECT_EQ(readPdf(out.filePath("first.pdf")).size(), 1u);
    EXPECT_EQ(readPdf(out.filePath("second %2 100%.pdf")).size(), 1u);
    // Only the finished PDFs are in the folder: no temporary file stays behind.
    EXPECT_EQ(QDir(out.path()).entryList(QDir::Files | QDir::Hidden),
              (QStringList{"first.pdf", "second %2 100%.pdf"}));
}

// A joined job's pages go out while the next ones are drawn. The file is the one the job written
// whole makes (named only at its end, in the save dialog), in the folder the job ends with; a job
// killed half way leaves nothing.
TEST_F(PrintingTest, PagesWrittenWhileDrawnMakeTheSameFileWhereTheJobEnds) {
    qputenv("SOURCE_DATE_EPOCH", "1700000000");
    const std::vector<Picture> pictures = {load("a.jpg"), load("b.jpg", {.width = 90, .height = 50}), load("c.jpg")};
    QTemporaryDir streamed, moved, movedTo, asked, killed;
    PrinterDevice& dc = service->printer();
    const auto draw = [&](const QString& path) {
        pdfprinter::writeOutputSettings(*registry, path);
        for (const Picture& picture : pictures) {
            dc.paintPicture(picture, 0, 0);
            dc.newPage();
        }
    };
    const auto entries = [](const QTemporaryDir& dir) {
        return QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    };
    const quint64 before = service->progress();
    draw(streamed.filePath("x.pdf"));
    for (int i = 0; i < 500 && service->progress() == before; ++i) QThread::msleep(10);
    EXPECT_GT(service->progress(), before);  // written before the job ends
    dc.endDoc();
    draw(moved.filePath("x.pdf"));
    pdfprinter::writeOutputSettings(*registry, movedTo.filePath("x.pdf"));  // named elsewhere at the end
    dc.endDoc();
    draw(killed.filePath("x.pdf"));
    dc.killDoc();
    saveAsAnswer = asked.filePath("x.pdf");
    draw(asked.filePath("ignored.pdf"));
    setPreference("BypassSaveAs", "0");
    dc.endDoc();
    service->pdfDriver().waitUntilIdle();
    qunsetenv("SOURCE_DATE_EPOCH");
    const QByteArray whole = testing::readFile(asked.filePath("x.pdf"));
    EXPECT_EQ(readPdf(asked.filePath("x.pdf")).size(), 3u);
    EXPECT_TRUE(testing::readFile(streamed.filePath("x.pdf")) == whole);
    EXPECT_TRUE(testing::readFile(movedTo.filePath("x.pdf")) == whole);
    EXPECT_EQ(entries(moved), QStringList{});
    EXPECT_EQ(entries(killed), QStringList{});
    EXPECT_EQ(prompts.size(), 1);
}

TEST_F(PrintingTest, WithoutBypassTheDriverAsks) {
    const Picture a = load("a.jpg");
    Registry::Key key = 0;
    const QString suggested = out.filePath("suggested.pdf");
    pdfprinter::writeOutputSettings(*registry, suggested);
    registry->regCreateKeyEx("Software\\Tenbrook PDF Writer", 63, &key);
    registry->regSetValueEx(key, "BypassSaveAs", "0");
    registry->regCloseKey(key);

    saveAsAnswer = out.filePath("chosen.pdf");
    service->printer().paintPicture(a, 0, 0);
    service->printer().endDoc();
    saveAsAnswer.clear();  // cancelled
    service->printer().paintPicture(a, 0, 0);
    service->printer().endDoc();
    service->pdfDriver().waitUntilIdle();

    EXPECT_EQ(prompts, (QStringList{suggested, suggested}));
    EXPECT_TRUE(QFile::exists(out.filePath("chosen.pdf")));
    EXPECT_FALSE(QFile::exists(suggested));
    EXPECT_TRUE(log().contains("cancelled"));
}

TEST_F(PrintingTest, FailuresLeaveNoFileAndSayWhyInTheLog) {
    const QString source = picture("a.jpg", makeJpeg({}));
    const Picture a = decoder.load(source);

    // The log says why, as the system said it.
    QTemporaryDir locked;
    const bool canLock = QProcess::execute("chattr", {"+i", locked.path()}) == 0;  // no new files, even for root
    const struct {
        QString path;
        const char* why;
    } failures[] = {
        {out.filePath("no/such/folder/a.pdf"), "No such file or directory"},
        {out.filePath(QString(256, 'n') + ".pdf"), "File name too long"},
        {canLock ? locked.filePath("a.pdf") : QString(), "Operation not permitted"},
    };
    for (const auto& f : failures) {
        if (f.path.isEmpty()) continue;
        printJob(f.path, {a});
        EXPECT_FALSE(QFile::exists(f.path)) << f.why;
        const QString line = log().split('\n').filter("could not write " + f.path).value(0);
        EXPECT_TRUE(line.endsWith(f.why)) << f.why << ": " << log().toStdString();
    }
    if (canLock) QProcess::execute("chattr", {"-i", locked.path()});

    // A picture that changes after it was checked must not show as something else: its page
    // is left out, and a job with nothing left makes no file.
    testing::writeFile(source, makeJpeg({.width = 10, .height = 10}));
    const QString changed = out.filePath("changed.pdf");
    printJob(changed, {a});
    EXPECT_FALSE(QFile::exists(changed));
    EXPECT_TRUE(log().contains("left out of " + changed)) << log().toStdString();
    EXPECT_EQ(QDir(out.path()).entryList(QDir::Files | QDir::Hidden), QStringList());

    const QString kept = picture("kept.jpg", makeJpeg({})), gone = picture("gone.jpg", makeJpeg({}));
    const Picture first = decoder.load(kept), second = decoder.load(gone);
    QFile::remove(gone);
    // A change of permissions is no change of the picture.
    QFile::setPermissions(kept, QFile::ReadOwner | QFile::WriteOwner);
    const QString partly = out.filePath("partly.pdf");
    pdfprinter::writeOutputSettings(*registry, partly);
    service->printer().paintPicture(first, 0, 0);
    service->printer().newPage();
    service->printer().paintPicture(second, 0, 0);
    const quint64 job = service->printer().endDoc();
    service->pdfDriver().waitUntilIdle();
    EXPECT_EQ(readPdf(partly).size(), 1u);
    EXPECT_EQ(service->jobState(job), PrintService::JobState::Incomplete);

    // Drawing an empty picture is an error, as on the platform.
    EXPECT_ANY_THROW(service->printer().paintPicture(Picture{}, 0, 0));
}

// The printer's values are read from a regular file of reasonable size only: a pipe there does not
// block, a link to an endless device costs nothing, and the log says so once.
TEST_F(PrintingTest, AValuesFileThatIsNoneIsPassedOverAndLoggedOnce) {
    const QString values = PrintService::registryOf(root.path()).keyFile(pdfwriter::PdfWriterDriver::registryKey());
    const struct {
        const char* name;
        std::function<bool()> make;
    } cases[] = {
        {"a pipe", [&] { return ::mkfifo(QFile::encodeName(values).constData(), 0600) == 0; }},
        {"a link to /dev/zero", [&] { return QFile::link("/dev/zero", values); }},
        {"two megabytes", [&] {
             testing::writeFile(values, "PaperSize\tA5\n" + QByteArray(2 << 20, 'x'));
             return true;
         }},
    };
    for (const auto& c : cases) {
        QFile::remove(values);
        ASSERT_TRUE(c.make()) << c.name;
        for (int i = 0; i < 2; ++i)
            EXPECT_EQ(service->pdfDriver().pageSetup().paperName, pdfwriter::PdfWriterDriver::localPaperName()) << c.name;
        EXPECT_EQ(service->pdfDriver().endJob({}), 0u) << c.name;  // no output file to be had
        EXPECT_EQ(log().count(values + " is not read"), 1) << c.name << ": " << log().toStdString();
        QFile::remove(service->pdfDriver().logFile());
    }
}

TEST(PrinterInstallation, TheStartUpCheckFollowsTheInstallCommand) {
    QTemporaryDir root, system;
    const QString command = QCoreApplication::applicationDirPath() + "/pictolio-printer";
    QString said;
    const auto run = [&](const QStringList& arguments) {
        QProcess p;
        p.start(command, arguments + QStringList{"--root", root.path(), "--system-root", system.path()});
        p.waitForFinished();
        said = QString::fromUtf8(p.readAllStandardOutput());
        return p.exitCode();
    };
    PrintService service(root.path(), {}, system.path());
    testing::FakeDialogs dialogs;
    const QString offer = "Install the PDF printer for this user now?";

    // Not installed: the message, then the offer; No leaves all as it is.
    EXPECT_EQ(run({"status"}), 3);
    dialogs.answers = {MessageAnswer::Ok, MessageAnswer::No};
    pdfprinter::checkPdfPrinter(service, dialogs);
    EXPECT_EQ(dialogs.messageTexts(), (QStringList{pdfprinter::notInstalledMessage(), offer}));
    EXPECT_EQ(dialogs.messages[1].buttons, MessageButtons::YesNo);
    EXPECT_FALSE(pdfprinter::selectPdfPrinter(service));

    // For every user: found for this user too, the list of every user first.
    ASSERT_EQ(run({"install", "--system"}), 0);
    ASSERT_TRUE(PrintService::addPrinter(root.path(), {"Tenbrook PDF Writer", "LPT9:", "Tenbrook PDF Writer"}));
    ASSERT_EQ(service.printers().size(), 2);
    EXPECT_EQ(service.printers()[0].port, "CPW2:");
    EXPECT_TRUE(pdfprinter::selectPdfPrinter(service));
    EXPECT_EQ(service.currentPrinter()->port, "CPW2:");
    EXPECT_EQ(run({"status"}), 0);
    EXPECT_TRUE(said.contains("for every user (" + system.path()) && said.contains("for this user (" + root.path()))
        << said.toStdString();
    ASSERT_EQ(run({"remove", "--system"}), 0);
    ASSERT_EQ(run({"remove"}), 0);
    EXPECT_TRUE(service.printers().isEmpty());
    // A list for every user that cannot be written: said so, nothing else changes.
    QTemporaryDir locked;
    testing::writeFile(locked.filePath("printers.ini"), "");
    ASSERT_TRUE(QDir(locked.path()).rename("printers.ini", "printers.ini.d") && QDir(locked.path()).mkdir("printers.ini"));
    QProcess p;
    p.start(command, {"install", "--system", "--system-root", locked.path(), "--root", root.path()});
    p.waitForFinished();
    EXPECT_EQ(p.exitCode(), 1);
    EXPECT_TRUE(PrintService::installedPrinters(root.path()).isEmpty());

    // Yes installs it for the user, at once.
    dialogs.messages.clear();
    dialogs.answers = {MessageAnswer::Ok, MessageAnswer::Yes};
    pdfprinter::checkPdfPrinter(service, dialogs);
    EXPECT_EQ(dialogs.messages.size(), 2);
    EXPECT_TRUE(pdfprinter::selectPdfPrinter(service));
    EXPECT_EQ(run({"status"}), 0);
    EXPECT_TRUE(service.pdfDriver().pageSetup().paperName == "A4" ||
                service.pdfDriver().pageSetup().paperName == "Letter");
    pdfprinter::checkPdfPrinter(service, dialogs);
    EXPECT_EQ(dialogs.messages.size(), 2);  // nothing more to say

    // Text recognition is a preference too: a language whose data is missing is refused, and
    // nothing is written.
    EXPECT_EQ(run({"preferences", "--set", "ocr=eng+xyz"}), 2);
    EXPECT_EQ(service.pdfDriver().pageSetup().ocr, "");
    EXPECT_EQ(run({"preferences", "--set", "ocr=eng"}), 0);
    EXPECT_EQ(service.pdfDriver().pageSetup().ocr, "eng");
    EXPECT_EQ(run({"preferences", "--show"}), 0);
    EXPECT_TRUE(said.contains("ocr=eng\n")) << said.toStdString();
    // A margin too large for the paper is refused as the driver would refuse it.
    EXPECT_EQ(run({"preferences", "--set", "paper=30x30mm", "margin=9mm"}), 2);
    EXPECT_EQ(run({"preferences", "--set", "pdfa=on", "paper=30x30mm", "margin=8mm"}), 0);
    EXPECT_TRUE(said.contains("margin=8mm\n") && said.contains("pdfa=on\n")) << said.toStdString();
    EXPECT_TRUE(service.pdfDriver().pageSetup().pdfa);
}

TEST(PrinterInstallation, NamesAreComparedExactly) {
    QTemporaryDir root;
    ASSERT_TRUE(PrintService::addPrinter(root.path(), {"Office Laser", "LPT1:", "Discard"}));
    ASSERT_TRUE(PrintService::addPrinter(root.path(), {"tenbrook pdf writer", "CPW2:", "Discard"}));
    PrintService service(root.path());
    testing::FakeDialogs dialogs;
    dialogs.answers = {MessageAnswer::Ok, MessageAnswer::No};
    pdfprinter::checkPdfPrinter(service, dialogs);
    EXPECT_EQ(dialogs.messages.size(), 2);
    EXPECT_FALSE(pdfprinter::selectPdfPrinter(service));
    EXPECT_EQ(service.currentPrinter()->deviceName, "Office Laser");  // the default stays
    EXPECT_EQ(dialogs.messages[0].text,
              "Tenbrook PDF Writer is not installed. Please follow these instructions:\r\n\r\n"
              "1) Go to Control Panel -> Printers and Faxes to add a local printer.\r\n"
              "2) Choose ''CPW2: (Tenbrook PDF Writer)'' on Select a Printer Port dialog box, "
              "click Next.\r\n"
              "3) Choose a Postscript printer (e.g. HP Color LaserJet PS), click Next.\r\n"
              "4) Enter Tenbrook PDF Writer as Printer name, click Next -> Finish.");
}

}  // namespace
}  // namespace pictolio
