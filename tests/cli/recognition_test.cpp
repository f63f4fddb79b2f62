// SPDX-License-Identifier: GPL-3.0-or-later
// Text recognition end to end: pages drawn here from known text with a real font, converted by
// pictolio-convert with --ocr, and read back with poppler (pdftotext) and libqpdf.
#include <gtest/gtest.h>

#include <signal.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFont>
#include <QFontMetrics>
#include <QPainter>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <functional>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>

#include "recognition/recogniser.h"
#include "tests/cli/commandfixture.h"
#include "tests/support/pdfreader.h"
#include "tests/support/picturefiles.h"
#include "tests/support/testpictures.h"

namespace pictolio {
namespace {

// Characters to change to make one string the other, over the length of the first.
double characterErrorRate(const QString& expected, const QString& got) {
    const QString a = expected.simplified(), b = got.simplified();
    std::vector<int> row(std::size_t(b.size()) + 1);
    for (int j = 0; j <= b.size(); ++j) row[std::size_t(j)] = j;
    for (int i = 1; i <= a.size(); ++i) {
        int diagonal = row[0];
        row[0] = i;
        for (int j = 1; j <= b.size(); ++j) {
            const int up = row[std::size_t(j)];
            row[std::size_t(j)] = std::min({up + 1, row[std::size_t(j) - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
            diagonal = up;
        }
    }
    return double(row[std::size_t(b.size())]) / std::max<qsizetype>(1, a.size());
}

struct Word {
    QString text;
    QRectF box;  // points, from the top of the page
};

// The words of one page, as poppler finds them in the PDF.
std::vector<Word> wordsOf(const QString& pdf, int page) {
    QProcess p;
    p.start("pdftotext", {"-bbox", "-f", QString::number(page), "-l", QString::number(page), pdf, "-"});
    p.waitForFinished(60000);
    std::vector<Word> words;
    QXmlStreamReader xml(p.readAllStandardOutput());
    while (xml.readNextStartElement() || !xml.atEnd()) {
        if (xml.isStartElement() && xml.name() == QLatin1String("word")) {
            const auto a = xml.attributes();
            const QPointF from(a.value("xMin").toDouble(), a.value("yMin").toDouble());
            const QPointF to(a.value("xMax").toDouble(), a.value("yMax").toDouble());
            words.push_back({xml.readElementText(), QRectF(from, to)});
        } else if (xml.hasError()) {
            break;
        } else {
            xml.readNext();
        }
    }
    return words;
}

QString textOf(const QString& pdf) {
    QProcess p;
    p.start("pdftotext", {pdf, "-"});
    p.waitForFinished(60000);
    return QString::fromUtf8(p.readAllStandardOutput());
}

double overlap(const QRectF& a, const QRectF& b) {
    const QRectF both = a.intersected(b);
    return both.isEmpty() ? 0 : both.width() * both.height() / (a.width() * a.height() + b.width() * b.height() -
                                                                 both.width() * both.height());
}

std::vector<int> rotationsOf(const QString& path) {
    QPDF pdf;
    pdf.processFile(QFile::encodeName(path).constData());
    std::vector<int> turns;
    for (QPDFPageObjectHelper& page : QPDFPageDocumentHelper(pdf).getAllPages()) {
        QPDFObjectHandle rotate = page.getObjectHandle().getKey("/Rotate");
        turns.push_back(rotate.isInteger() ? rotate.getIntValueAsInt() : 0);
    }
    return turns;
}

// A white page with print drawn on it in 50-pixel letters of the font family, black.
QImage printedPage(int width, int height, const char* family, const std::function<void(QPainter&)>& draw) {
    QImage page(width, height, QImage::Format_RGB888);
    page.fill(Qt::white);
    QPainter painter(&page);
    QFont font(QString::fromLatin1(family));
    font.setPixelSize(50);
    painter.setFont(font);
    painter.setPen(Qt::black);
    draw(painter);
    painter.end();
    return page;
}

class Recognition : public testing::ConvertCommand {
protected:
    void SetUp() override {
        ConvertCommand::SetUp();
        waitMs = 300000;
        if (qEnvironmentVariableIsSet("KEEPPICS")) pics.setAutoRemove(false);
    }
    QString write(const QString& name, const QByteArray& data) {
        testing::writeFile(pics.filePath(name), data);
        return pics.filePath(name);
    }
};

// Each word of the PDF's text layer lies on the word drawn in the picture, wherever the page
// layout put the picture: at its own size, shrunk to the page, stretched over it, turned by its
// EXIF orientation; in one PDF and in one PDF per picture.
TEST_F(Recognition, WordsLandOnTheWordsOfThePictureWhereverItIsPlaced) {
    const testing::TextPage page = testing::drawTextPage();
    const QString expected = testing::textParagraph.join(' ');
    struct Case {
        const char* name;
        int orientation;
        int dpi;
    };
    const Case pictures[] = {{"own.jpg", 1, 300}, {"shrunk.jpg", 1, 90}, {"exif.jpg", 6, 300}};
    QStringList files;
    for (const Case& c : pictures) files << write(c.name, testing::textJpeg(page.image, c.orientation, c.dpi));

    const struct {
        QStringList options;
        QStringList pdfs;  // the PDFs, with the pictures' pages in order
    } runs[] = {
        {{"--join", "-o", "joined.pdf"}, {"joined.pdf"}},
        {{"--stretch"}, {"own.pdf", "shrunk.pdf", "exif.pdf"}},
    };
    for (const auto& r : runs) {
        ASSERT_EQ(run(QStringList{"--ocr", "eng", "--paper", "A4"} + r.options + files), 0) << errors.toStdString();
        int pageIndex = 0;
        for (const QString& name : r.pdfs) {
            const QString pdf = out.filePath(name);
            EXPECT_EQ(testing::qpdfCheckProblems(pdf), QString());
            const std::vector<testing::PdfPage> pages = testing::readPdf(pdf);
            for (std::size_t n = 0; n < pages.size(); ++n, ++pageIndex) {
                SCOPED_TRACE(QStringLiteral("%1 page %2 (%3)").arg(name).arg(n + 1).arg(files[pageIndex]).toStdString());
                // The JPEG goes in byte for byte.
                ASSERT_EQ(pages[n].images.size(), 1u);
                EXPECT_TRUE(pages[n].images[0].rawData == testing::readFile(files[pageIndex]).toStdString());
                // Where the upright picture lies on the page, in points from the top.
                const double* m = pages[n].images[0].matrix;
                const QRectF shown = QRectF(QPointF(m[4], m[5]), QPointF(m[4] + m[0] + m[2], m[5] + m[1] + m[3]))
                                         .normalized();
                const double pageHeight = pages[n].mediaBox[3];
                const QRectF picture(shown.x(), pageHeight - shown.bottom(), shown.width(), shown.height());
                const std::vector<Word> words = wordsOf(pdf, int(n) + 1);
                QStringList read;
                int landed = 0;
                for (const Word& w : words) {
                    read << w.text;
                    const qsizetype i = page.words.indexOf(w.text);
                    if (i < 0) continue;
                    const QRectF& b = page.boxes[std::size_t(i)];
                    const QRectF drawn(picture.x() + b.x() * picture.width(), picture.y() + b.y() * picture.height(),
                                       b.width() * picture.width(), b.height() * picture.height());
                    if (overlap(drawn, w.box) > 0.5) ++landed;
                }
                EXPECT_LE(characterErrorRate(expected, read.join(' ')), 0.01) << read.join(' ').toStdString();
                EXPECT_GE(landed, int(page.words.size()) * 9 / 10);
            }
        }
    }
}

// Pages whose text is turned (no EXIF orientation) come out upright, their pictures untouched;
// a picture without text gets none, and no complaint.
TEST_F(Recognition, TurnedPagesComeOutUprightAndBlankPagesStayBlank) {
    const testing::TextPage page = testing::drawTextPage();
    QImage blank(600, 400, QImage::Format_RGB888);
    blank.fill(QColor(200, 220, 255));
    const QString turned90 = write("turned90.jpg", testing::textJpeg(testing::storedFor(page.image, 8), 1, 300));
    const QString turned180 = write("turned180.jpg", testing::textJpeg(testing::storedFor(page.image, 3), 1, 300));
    const QString empty = write("blank.jpg", testing::textJpeg(blank, 1, 300));
    ASSERT_EQ(run({"--ocr", "eng", "--join", "-o", "turned.pdf", turned90, turned180, empty}), 0) << errors.toStdString();
    EXPECT_FALSE(errors.contains("no text")) << errors.toStdString();
    const QString pdf = out.filePath("turned.pdf");
    const std::vector<int> turns = rotationsOf(pdf);
    ASSERT_EQ(turns.size(), 3u);
    EXPECT_EQ(turns[0] % 180, 90);
    EXPECT_EQ(turns[1], 180);
    EXPECT_EQ(turns[2], 0);
    const QStringList pagesText = textOf(pdf).split('\f');
    ASSERT_GE(pagesText.size(), 3);
    for (int i = 0; i < 2; ++i) EXPECT_LE(characterErrorRate(testing::textParagraph.join(' '), pagesText[i]), 0.01) << pagesText[i].toStdString();
    EXPECT_EQ(pagesText[2].simplified(), QString());
    // Rendered as a viewer shows it, the first page reads upright: it is as wide as the picture
    // was drawn, not as high.
    const std::vector<QImage> rendered = testing::renderPdf(pdf, 20);
    ASSERT_EQ(rendered.size(), 3u);
    EXPECT_GT(rendered[0].width(), rendered[0].height());
}

// Scans come as fax-coded TIFF pages and PNG files kept as they are, photos also as pictures
// decoded for the PDF (WebP): each is read for its text.
TEST_F(Recognition, EveryKindOfPictureIsRead) {
    const testing::TextPage page = testing::drawTextPage();
    testing::TiffPage fax;
    fax.upright = page.image;
    fax.compression = 4;  // Group 4
    fax.bilevel = true;
    fax.dpi = 300;
    const QString tiff = pics.filePath("scan.tif");
    testing::writeTiff(tiff, {fax});
    const QString png = pics.filePath("scan.png");
    ASSERT_TRUE(page.image.convertToFormat(QImage::Format_Grayscale8).save(png));
    const QString webp = write("photo.webp", testing::makeWebp(page.image, 90));
    ASSERT_EQ(run({"--ocr", "eng", "--join", "-o", "kinds.pdf", tiff, png, webp}), 0) << errors.toStdString();
    const QStringList pagesText = textOf(out.filePath("kinds.pdf")).split('\f');
    ASSERT_GE(pagesText.size(), 3);
    for (int i = 0; i < 3; ++i)
        EXPECT_LE(characterErrorRate(testing::textParagraph.join(' '), pagesText[i]), 0.01) << i << ": " << pagesText[i].toStdString();
}

// What a reader takes out of the PDF (plain pdftotext, and the text written beside it) is the
// printed text in reading order: on a scan a little askew, and on pictures stored sideways or
// upside down that a hand turn shows upright.
TEST_F(Recognition, TextComesOutInReadingOrderHoweverThePictureStands) {
    const testing::TextPage page = testing::drawTextPage();
    const QString expected = testing::textParagraph.join(' ');
    QImage askew(page.image.size(), QImage::Format_RGB888);
    askew.fill(Qt::white);
    {
        QPainter painter(&askew);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.translate(askew.width() / 2.0, askew.height() / 2.0);
        painter.rotate(5);
        painter.translate(-askew.width() / 2.0, -askew.height() / 2.0);
        painter.drawImage(0, 0, page.image);
    }
    const struct {
        const char* name;
        QImage stored;
        const char* turn;  // --rotate
        bool shownUpright;
    } cases[] = {
        {"askew.jpg", askew, "0", true},
        {"sideways.jpg", testing::storedFor(page.image, 6), "90", true},
        {"upside-down.jpg", testing::storedFor(page.image, 3), "180", true},
        {"other-way.jpg", testing::storedFor(page.image, 8), "270", true},
        // Turned away by hand: the page shows its text turned, and it still reads.
        {"turned-over.jpg", page.image, "180", true},
        {"turned-aside.jpg", page.image, "270", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString picture = write(c.name, testing::textJpeg(c.stored, 1, 300));
        ASSERT_EQ(run({"--ocr", "eng", "--rotate", c.turn, "--sidecar", "text.txt", picture}), 0) << errors.toStdString();
        const QString pdf = out.filePath(QFileInfo(c.name).completeBaseName() + ".pdf");
        EXPECT_EQ(rotationsOf(pdf), std::vector<int>{0});  // shown as the hand turn says
        // (poppler puts the lines of a page whose text stands sideways in an order of its own)
        const QString text = textOf(pdf);
        if (c.shownUpright) {
            EXPECT_LE(characterErrorRate(expected, text), 0.002) << text.toStdString();
        }
        const QString sidecar = QString::fromUtf8(testing::readFile(out.filePath("text.txt")));
        EXPECT_TRUE(sidecar.endsWith('\f'));
        EXPECT_LE(characterErrorRate(expected, sidecar), 0.002) << sidecar.toStdString();
    }
    // Joined, each page's text ends in a form feed; standard output takes it just as well.
    const QString a = write("a.jpg", testing::textJpeg(page.image, 1, 300));
    ASSERT_EQ(run({"--ocr", "eng", "--join", "-o", "both.pdf", "--sidecar", "-", a, a}), 0) << errors.toStdString();
    EXPECT_EQ(output.count('\f'), 2) << output.toStdString();
    EXPECT_LE(characterErrorRate(expected + ' ' + expected, output), 0.002) << output.toStdString();
    EXPECT_EQ(run({"--ocr", "eng", "--join", "-o", "-", "--sidecar", "-", a}), 2);
}

// A page whose text can hardly be read (a picture of a page enlarged from a tiny copy) is made
// with what was read, and said to read poorly; a clean one is not.
TEST_F(Recognition, APageThatReadsPoorlyIsSaidToBeOne) {
    const QImage page = printedPage(2480, 1400, "Liberation Serif", [](QPainter& painter) {
        for (int line = 0; line < 18; ++line)
            painter.drawText(QPointF(150, 100 + line * 70), testing::textParagraph[line % testing::textParagraph.size()]);
    });
    const QImage blurred = page.scaled(page.width() * 12 / 100, page.height() * 12 / 100, Qt::IgnoreAspectRatio,
                                       Qt::SmoothTransformation)
                               .scaled(page.size(), Qt::IgnoreAspectRatio, Qt::FastTransformation);
    const QString clean = write("clean.jpg", testing::textJpeg(page, 1, 300));
    const QString poor = write("poor.jpg", testing::textJpeg(blurred, 1, 300));
    ASSERT_EQ(run({"--ocr", "eng", clean, poor}), 0) << errors.toStdString();
    EXPECT_TRUE(errors.contains(out.filePath("poor.pdf") + ": poor text on page 1: the recogniser is")) << errors.toStdString();
    EXPECT_FALSE(errors.contains("clean.pdf")) << errors.toStdString();
    // Named by -o, the PDF is named so in the warning.
    ASSERT_EQ(run({"--ocr", "eng", "-o", "named.pdf", poor}), 0) << errors.toStdString();
    EXPECT_TRUE(errors.contains("named.pdf: poor text on page 1: the recogniser is")) << errors.toStdString();
    EXPECT_FALSE(errors.contains(".pictolio-convert")) << errors.toStdString();
}

// Pages of large and of small print in one run, read in turn by one worker: each is read at the
// size its own print needs, whatever size the page before it was read at.
TEST_F(Recognition, LargeAndSmallPrintInOneRunBothReadWell) {
    variables["OMP_THREAD_LIMIT"] = "1";
    const auto page = [&](const char* name, int letters) {
        return write(name, testing::textJpeg(printedPage(2480, 1000, "Liberation Serif", [&](QPainter& painter) {
                                                 QFont font = painter.font();
                                                 font.setPixelSize(letters);
                                                 painter.setFont(font);
                                                 for (int line = 0; line < testing::textParagraph.size(); ++line)
                                                     painter.drawText(QPointF(150, 150 + line * letters * 1.6),
                                                                      testing::textParagraph[line]);
                                             }),
                                             1, 300));
    };
    const QString large = page("large.jpg", 50), small = page("small.jpg", 33);  // 12 and 8 points
    ASSERT_EQ(run({"--ocr", "eng", "--join", "-o", "both.pdf", "--sidecar", "text.txt", large, small, large, small}), 0)
        << errors.toStdString();
    const QStringList pages = QString::fromUtf8(testing::readFile(out.filePath("text.txt"))).split('\f', Qt::SkipEmptyParts);
    ASSERT_EQ(pages.size(), 4);
    for (const QString& text : pages)
        EXPECT_LE(characterErrorRate(testing::textParagraph.join(' '), text), 0.005) << text.toStdString();
}

// Right-to-left lines come out in the order they are read, first word first; left-to-right ones
// beside them as they stand.
TEST_F(Recognition, RightToLeftTextComesOutInTheOrderItIsRead) {
    if (!QFileInfo::exists(QDir(recognition::languages::dataFolder()).filePath("heb.traineddata")))
        GTEST_SKIP() << "no Hebrew recognition data (tesseract-ocr-heb)";
    const QStringList lines = {QString::fromUtf8("שלום עולם זהו מבחן קצר"), QString::fromUtf8("הספר נמצא על השולחן הגדול"),
                               QString::fromUtf8("אנחנו הולכים הביתה עכשיו")};
    const QImage page = printedPage(2000, 600, "DejaVu Sans", [&](QPainter& painter) {
        for (int line = 0; line < lines.size(); ++line)
            painter.drawText(QRectF(100, 80 + line * 150, 1800, 100), Qt::AlignRight | Qt::AlignVCenter, lines[line]);
    });
    const QString picture = write("hebrew.jpg", testing::textJpeg(page, 1, 300));
    ASSERT_EQ(run({"--ocr", "heb", "--sidecar", "text.txt", picture}), 0) << errors.toStdString();
    const QString text = QString::fromUtf8(testing::readFile(out.filePath("text.txt")));
    EXPECT_LE(characterErrorRate(lines.join(' '), text), 0.05) << text.toStdString();
}

TEST_F(Recognition, MissingLanguagesAreRefusedAndAStoppedRunLeavesNothing) {
    const QString picture = write("a.jpg", testing::textJpeg(testing::drawTextPage().image, 1, 300));
    // A language not installed names its package; names that are installed, written otherwise
    // or not languages at all, say what is wrong instead.
    const struct {
        const char* languages;
        const char* said;
    } refused[] = {{"eng+xyz", "tesseract-ocr-xyz"}, {"ENG", "written \"eng\""}, {"osd", "reads no text"}};
    for (const auto& r : refused) {
        EXPECT_EQ(run({"--ocr", r.languages, picture}), 2) << r.languages;
        EXPECT_TRUE(errors.contains(r.said)) << errors.toStdString();
        if (r.said[0] != 't') {
            EXPECT_FALSE(errors.contains("tesseract-ocr")) << errors.toStdString();
        }
    }
    EXPECT_EQ(QDir(out.path()).entryList(QDir::Files | QDir::Hidden), QStringList());

    // Stopped while its pages are recognised: the run ends soon, and no PDF is left.
    QStringList many;
    for (int i = 0; i < 60; ++i) many << picture;
    QElapsedTimer stopping;
    QProcess p;
    const int code = run(QStringList{"--ocr", "eng", "--join", "-o", "all.pdf"} + many, &p, "pictolio-convert", [&](QProcess& running) {
        running.waitForStarted();
        running.waitForFinished(1500);  // into the recognition of the first pages
        stopping.start();
        if (running.processId() > 0) ::kill(pid_t(running.processId()), SIGTERM);  // (never 0: the whole group)
    });
    EXPECT_EQ(code, 1);
    EXPECT_LT(stopping.elapsed(), 5000);
    EXPECT_EQ(QDir(out.path()).entryList(QDir::Files | QDir::Hidden), QStringList());
}

}  // namespace
}  // namespace pictolio
