// SPDX-License-Identifier: GPL-3.0-or-later
// pictolio-convert end to end: the real program, real pictures and folders, PDFs read back.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <tiffio.h>
#include <unistd.h>

#include <QColorSpace>
#include <QCoreApplication>
#include <QDir>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <atomic>
#include <qpdf/QPDF.hh>
#include <random>
#include <thread>

#include "tests/cli/commandfixture.h"
#include "tests/support/documentphoto.h"
#include "tests/support/pdfreader.h"
#include "tests/support/picturefiles.h"
#include "tests/support/testpictures.h"

namespace pictolio {
namespace {
using testing::ConvertCommand;


TEST_F(ConvertCommand, ConvertsFilesAndFoldersInBothModes) {
    const QString a = picture("a.jpg"), b = picture("trip/b.jpg"), c = picture("trip/deeper/c.jpg");
    testing::writeFile(pics.filePath("trip/notes.txt"), "skipped in a folder");
    const QString bad = pics.filePath("bad.jpg");
    testing::writeFile(bad, "not a picture");

    EXPECT_EQ(run({a, pics.filePath("trip")}), 0) << errors.toStdString();
    EXPECT_EQ(made(out.path()), (QStringList{"a.pdf", "b.pdf", "c.pdf"}));
    EXPECT_EQ(output.split('\n', Qt::SkipEmptyParts).size(), 3);

    // Joined, to a named file, with a picture that is not one: the rest is made, exit 1.
    EXPECT_EQ(run({"--join", "--paper", "fit", "-o", out.filePath("all.pdf"), a, bad, pics.filePath("trip")}), 1);
    EXPECT_TRUE(errors.contains("not a picture: " + bad)) << errors.toStdString();
    const auto pages = testing::readPdf(out.filePath("all.pdf"));
    ASSERT_EQ(pages.size(), 3u);
    EXPECT_TRUE(QByteArray::fromStdString(pages[1].images[0].rawData) == testing::readFile(b));

    // A TIFF file of two pages gives two pages, and the summary counts them.
    const QString scan = pics.filePath("scan.tif");
    testing::writeTiff(scan, {{.upright = testing::cornersPicture(40, 30), .compression = COMPRESSION_LZW},
                              {.upright = testing::cornersPicture(30, 40), .compression = COMPRESSION_LZW}});
    EXPECT_EQ(run({"--join", a, scan}), 0) << errors.toStdString();
    EXPECT_TRUE(errors.contains("made 1 PDF file, 3 pages in all")) << errors.toStdString();
    EXPECT_EQ(testing::readPdf(out.filePath("a.pdf")).size(), 3u);

    // Beside the pictures; joined to standard output.
    EXPECT_EQ(run({"--beside", a}), 0) << errors.toStdString();
    EXPECT_TRUE(QFile::exists(pics.filePath("a.pdf")));
    QProcess process;
    EXPECT_EQ(run({"-j", "-o", "-", a, b}, &process), 0) << errors.toStdString();
    EXPECT_TRUE(output.startsWith("%PDF-"));
}

TEST_F(ConvertCommand, BadCommandLinesChangeNothing) {
    const QString a = picture("a.jpg");
    const struct {
        QStringList arguments;
        const char* named;  // what the message must name
    } cases[] = {
        {{"--colour", a}, "colour"},
        {{"--paper", "B17", a}, "B17"},
        {{"--margin", "-3mm", a}, "-3mm"},
        {{"--orientation", "sideways", a}, "sideways"},
        {{"--fit", "squash", a}, "squash"},
        {{"--output", pics.filePath("nothere"), a}, "nothere"},
        {{"--beside", "--output", out.path(), a}, "--beside"},
        {{"--output", "-", a, a}, "--join"},
        {{"--sort", "random", a}, "random"},
        {{"--rotate", "45", a}, "45"},
        {{"--frames", "some", a}, "some"},
        {{"--margin", "9mm", "--paper", "30x30mm", a}, "the margin 9mm is too large for 30x30mm paper"},
        {{"--set", "paper=30x30mm", "--set", "margin=9mm", a}, "at most 8.6mm"},
        {{"--set", "shade=on", a}, "shade"},
        {{"--set", "center", a}, "NAME=VALUE"},
        {{"--set", "pdfa=maybe", a}, "maybe"},
        {{"--title", QString(1001, 'x'), a}, "at most 1000 characters"},
        {{"--author", QString::fromUcs4(U"Ann\uFFFE"), a}, "not a valid author"},
        {{"--keywords", QString::fromUcs4(U"tax\U0010FFFF"), a}, "not a valid keywords"},
        {{}, "no pictures"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(run(c.arguments), 2) << c.named;
        EXPECT_TRUE(errors.contains(c.named)) << c.named << ": " << errors.toStdString();
        EXPECT_TRUE(made(out.path()).isEmpty()) << c.named;
    }
    EXPECT_EQ(run({"--help"}), 0);
    EXPECT_TRUE(output.contains("--orientation"));

    // A file that is not there is called so, not "not a picture"; the rest is made.
    EXPECT_EQ(run({pics.filePath("gone.jpg"), a}), 1);
    EXPECT_TRUE(errors.contains("no such file: " + pics.filePath("gone.jpg"))) << errors.toStdString();
    EXPECT_EQ(made(out.path()), QStringList{"a.pdf"});
}

// A folder's pictures come in natural order (p1, p2, p10), or by character with --sort plain;
// a picture whose name is not valid in the file-name encoding, in a folder or named, is
// reported as one that cannot be opened, and the rest is made.
TEST_F(ConvertCommand, FolderOrderAndNamesThatCannotBeOpened) {
    picture("scans/p1.jpg", {.width = 10, .height = 10});
    picture("scans/p2.jpg", {.width = 20, .height = 10});
    picture("scans/P10.jpg", {.width = 30, .height = 10});
    const QByteArray badName = QFile::encodeName(pics.filePath("scans/")) + "bad\xff.jpg";
    {
        FILE* f = std::fopen(badName.constData(), "wb");
        ASSERT_TRUE(f);
        const QByteArray jpeg = testing::makeJpeg({});
        std::fwrite(jpeg.constData(), 1, std::size_t(jpeg.size()), f);
        std::fclose(f);
    }
    const auto widths = [&] {
        QList<int> w;
        for (const auto& page : testing::readPdf(out.filePath("all.pdf"))) w << page.images.at(0).width;
        return w;
    };
    const QString notValid = "cannot be opened: the name is not valid in the file-name encoding";
    EXPECT_EQ(run({"--join", "-o", "all.pdf", pics.filePath("scans")}), 1);
    EXPECT_TRUE(errors.contains(notValid)) << errors.toStdString();
    EXPECT_EQ(widths(), (QList<int>{10, 20, 30}));
    EXPECT_EQ(run({"--join", "--sort", "plain", "-o", "all.pdf", pics.filePath("scans")}), 1);
    EXPECT_EQ(widths(), (QList<int>{10, 30, 20}));

    // Named on the command line, in a UTF-8 locale.
    const QString program = QCoreApplication::applicationDirPath() + "/pictolio-convert";
    EXPECT_EQ(run({"-c", "LC_ALL=C.UTF-8 exec \"$0\" \"$1/$(printf 'bad\\377.jpg')\" \"$1/p1.jpg\"", program,
                   pics.filePath("scans")},
                  nullptr, "/bin/sh"),
              1);
    EXPECT_TRUE(errors.contains(notValid)) << errors.toStdString();
    EXPECT_FALSE(errors.contains("not a picture")) << errors.toStdString();
    EXPECT_EQ(made(out.path()), (QStringList{"all.pdf", "p1.pdf"}));
}

// Pictures other tools read are read alike: a JPEG file that lacks only its end marker (the PDF
// gets the marker), a picture without a stated density at 96 dpi whichever reader decodes it,
// and a picture of a pixel on a page no smaller than a PDF's least.
TEST_F(ConvertCommand, PicturesAsOtherToolsReadThem) {
    const QByteArray jpeg = testing::makeJpeg({.width = 48, .height = 24});
    testing::writeFile(pics.filePath("unended.jpg"), jpeg.chopped(2));
    testing::writeFile(pics.filePath("cut.jpg"), jpeg.left(jpeg.size() * 2 / 3));
    ASSERT_TRUE(QImage(96, 48, QImage::Format_RGB32).save(pics.filePath("screen.ppm")));
    QImage dot(1, 1, QImage::Format_RGB32);
    dot.fill(Qt::red);
    ASSERT_TRUE(dot.save(pics.filePath("dot.ppm")));
    // PNG files without their closing chunk, one kept as stored and one decoded; one whose
    // comment is damaged, of which the decoder warns.
    const QByteArray rgb = testing::makePng({}), rgba = testing::makePng({.colorType = 6});
    testing::writeFile(pics.filePath("open.png"), rgb.chopped(12));
    testing::writeFile(pics.filePath("open-alpha.png"), rgba.chopped(12));
    testing::writeFile(pics.filePath("large.png"), testing::transparentPng(6000, 6000));
    testing::writeFile(pics.filePath("comment.png"),
                       rgba.left(33) + QByteArray("\0\0\0\x02tEXtab\0\0\0\0", 14) + rgba.mid(33));
    EXPECT_EQ(run({"--paper", "fit", "--margin", "0", pics.filePath("unended.jpg"), pics.filePath("cut.jpg"),
                   pics.filePath("screen.ppm"), pics.filePath("dot.ppm"), pics.filePath("open.png"),
                   pics.filePath("open-alpha.png"), pics.filePath("comment.png"), pics.filePath("large.png")}),
              1);
    EXPECT_TRUE(errors.contains("not a picture: " + pics.filePath("cut.jpg"))) << errors.toStdString();
    EXPECT_TRUE(errors.contains(pics.filePath("large.png") + ": too large: 6000 x 6000 pixels take 138 MB decoded, "
                                                             "more than the 128 MB"))
        << errors.toStdString();
    EXPECT_EQ(made(out.path()),
              (QStringList{"comment.pdf", "dot.pdf", "open-alpha.pdf", "open.pdf", "screen.pdf", "unended.pdf"}));
    EXPECT_TRUE(errors.contains(pics.filePath("comment.png") + ": libpng warning")) << errors.toStdString();
    for (const QString& line : errors.split('\n')) {
        if (line.contains("libpng")) {
            EXPECT_TRUE(line.contains(pics.filePath("comment.png"))) << line.toStdString();
        }
    }
    const auto unended = testing::readPdf(out.filePath("unended.pdf"));
    ASSERT_EQ(unended.size(), 1u);
    EXPECT_TRUE(QByteArray::fromStdString(unended[0].images.at(0).rawData) == jpeg);
    const auto screen = testing::readPdf(out.filePath("screen.pdf"));
    ASSERT_EQ(screen.size(), 1u);
    EXPECT_NEAR(screen[0].mediaBox[2], 72, 0.01);
    EXPECT_NEAR(screen[0].mediaBox[3], 36, 0.01);
    const auto pixel = testing::readPdf(out.filePath("dot.pdf"));
    ASSERT_EQ(pixel.size(), 1u);
    EXPECT_GE(pixel[0].mediaBox[2] - pixel[0].mediaBox[0], 3);
    EXPECT_GE(pixel[0].mediaBox[3] - pixel[0].mediaBox[1], 3);
}

// Every program answers --help (and the window --version) as a command does: at once, exit 0,
// naming itself as the user calls it, and the window opens no list with a row "--help".
// --rotate turns every picture of the run on its page (the page turning with it), its JPEG data
// as it is; --frames all makes a page of each frame of an animated picture, as it shows.
TEST_F(ConvertCommand, TurnedPicturesAndEveryFrame) {
    const QString wide = picture("wide.jpg", {.width = 64, .height = 48});
    for (const auto& [rotate, landscape] : {std::pair{"", true}, std::pair{"90", false}, std::pair{"180", true},
                                            std::pair{"270", false}}) {
        QStringList arguments{"--join", "-o", out.filePath("turned.pdf"), wide};
        if (*rotate) arguments << "--rotate" << rotate;
        ASSERT_EQ(run(arguments), 0) << errors.toStdString();
        const auto pages = testing::readPdf(out.filePath("turned.pdf"));
        ASSERT_EQ(pages.size(), 1u);
        EXPECT_EQ(pages[0].mediaBox[2] > pages[0].mediaBox[3], landscape) << rotate;
        EXPECT_TRUE(QByteArray::fromStdString(pages[0].images.at(0).rawData) == testing::readFile(wide)) << rotate;
    }

    // Three frames; the GIF's second covers the left half alone, the rest still showing the first.
    const QColor colours[] = {QColor(220, 30, 30), QColor(30, 200, 40), QColor(30, 40, 210)};
    std::vector<QImage> frames;
    for (const QColor& c : colours) {
        QImage frame(40, 30, QImage::Format_RGB32);
        frame.fill(c);
        frames.push_back(frame);
    }
    const QString gif = pics.filePath("anim.gif"), webp = pics.filePath("anim.webp");
    testing::writeFile(gif, testing::makeAnimatedGif({{frames[0]}, {frames[1].copy(0, 0, 20, 30)}, {frames[2]}}));
    testing::writeFile(webp, testing::makeAnimatedWebp(frames));
    const auto near = [](QRgb a, const QColor& b) {
        return std::abs(qRed(a) - b.red()) + std::abs(qGreen(a) - b.green()) + std::abs(qBlue(a) - b.blue()) < 30;
    };
    for (const QString& file : {gif, webp}) {
        const QString pdf = out.filePath("frames.pdf");
        ASSERT_EQ(run({"--join", "--paper", "fit", "--margin", "0", "-o", pdf, file}), 0) << errors.toStdString();
        EXPECT_EQ(testing::readPdf(pdf).size(), 1u) << file.toStdString();
        ASSERT_EQ(run({"--join", "--paper", "fit", "--margin", "0", "--frames", "all", "-o", pdf, file}), 0)
            << errors.toStdString();
        EXPECT_EQ(testing::readPdf(pdf).size(), 3u) << file.toStdString();
        const std::vector<QImage> shown = testing::renderPdf(pdf, 96);
        ASSERT_EQ(shown.size(), 3u);
        const bool halfFrame = file == gif;
        for (int i = 0; i < 3; ++i) {
            const QImage& page = shown[std::size_t(i)];
            EXPECT_TRUE(near(page.pixel(page.width() / 4, page.height() / 2), colours[i])) << file.toStdString() << i;
            EXPECT_TRUE(near(page.pixel(3 * page.width() / 4, page.height() / 2), colours[halfFrame && i == 1 ? 0 : i]))
                << file.toStdString() << i;
        }
    }
}

TEST_F(ConvertCommand, EveryProgramAnswersHelp) {
    const struct {
        const char* program;
        QString argument;
        const char* answer;
    } cases[] = {
        {"pictolio-convert", "--help", "Usage: pictolio-convert [options]"},
        {"pictolio-printer", "--help", "usage: pictolio-printer"},
        {"pictolio", "--help", "Usage: pictolio [FILE|FOLDER]"},
        {"pictolio", "--version", "pictolio "},
        {"pictolio", "--help-all", "Usage: pictolio [FILE|FOLDER]"},
    };
    waitMs = 10000;  // a window that opened instead would never end
    for (const auto& c : cases) {
        QProcess p;
        EXPECT_EQ(run({c.argument}, &p, c.program), 0) << c.program << " " << c.argument.toStdString();
        EXPECT_TRUE(output.startsWith(c.answer)) << c.program << ": " << output.toStdString();
        EXPECT_FALSE(output.contains("-platform")) << "the toolkit's options are not the program's";
    }
}

// What the programs keep for the user (printer values, spool files of decoded pictures) is in
// folders only the user can open: the ones they make, and the spool folder in any case.
TEST_F(ConvertCommand, TheUsersStateIsPrivate) {
    // The spool folder as an earlier version left it, readable by all.
    ASSERT_TRUE(QDir().mkpath(home.filePath("cache/pictolio/spool")));
    EXPECT_EQ(run({"install"}, nullptr, "pictolio-printer"), 0) << errors.toStdString();
    const QString alpha = pics.filePath("alpha.png");
    testing::writeFile(alpha, testing::makePng({.colorType = 6}));
    EXPECT_EQ(run({alpha}), 0) << errors.toStdString();
    for (const QString folder : {"pictolio", "pictolio/registry", "cache/pictolio/spool"}) {
        struct stat st {};
        ASSERT_EQ(::stat(QFile::encodeName(home.filePath(folder)).constData(), &st), 0) << folder.toStdString();
        EXPECT_EQ(st.st_mode & 0777, 0700u) << folder.toStdString();
    }
}

// Relative output folders and files are taken from the current folder.
TEST_F(ConvertCommand, RelativeOutputPlaces) {
    const QString a = picture("a.jpg");
    ASSERT_TRUE(QDir(out.path()).mkdir("sub"));
    const struct {
        QStringList arguments;
        QString made;  // below the current folder
    } cases[] = {
        {{"-o", "sub", a}, "sub/a.pdf"},
        {{"-o", "./sub/", a}, "sub/a.pdf"},
        {{"-o", ".", a}, "a.pdf"},
        {{"-j", "-o", "sub/../sub/all.pdf", a, a}, "sub/all.pdf"},
        {{"-o", "sub/one.pdf", a}, "sub/one.pdf"},  // one picture needs no --join for a name
    };
    for (const auto& c : cases) {
        EXPECT_EQ(run(c.arguments), 0) << c.arguments.join(' ').toStdString() << ": " << errors.toStdString();
        EXPECT_EQ(testing::qpdfCheckProblems(out.filePath(c.made)), "") << c.made.toStdString();
        QFile::remove(out.filePath(c.made));
    }
    EXPECT_EQ(run({"-o", "-", a}), 0) << errors.toStdString();
    EXPECT_TRUE(output.startsWith("%PDF-")) << output.left(20).toStdString();
}

// A joined PDF reaches its name whole, whether moved there or copied from another file system,
// and never through a name a user may own.
TEST_F(ConvertCommand, AJoinedPdfLeavesTheUsersFilesAlone) {
    const QString a = picture("a.jpg"), b = picture("b.jpg");
    QTemporaryDir otherFileSystem("/dev/shm/pictolio-test-XXXXXX");
    for (const QString& staging : {QString(), otherFileSystem.path()}) {
        if (staging == otherFileSystem.path() && !otherFileSystem.isValid()) continue;
        tempFolder = staging;
        testing::writeFile(out.filePath("X.pdf.part"), "the user's own download");
        EXPECT_EQ(run({"-j", "-o", out.filePath("X.pdf"), a, b}), 0) << errors.toStdString();
        EXPECT_EQ(testing::readFile(out.filePath("X.pdf.part")), "the user's own download");
        EXPECT_EQ(testing::readPdf(out.filePath("X.pdf")).size(), 2u);
        EXPECT_EQ(made(out.path()).join(' ').toStdString(), "X.pdf X.pdf.part");
        QFile::remove(out.filePath("X.pdf"));
    }
}

// A PDF says who made it and about what when told, and the same pictures with a fixed date make
// the same file, byte for byte, run after run.
TEST_F(ConvertCommand, DetailsAndFixedDatesGiveTheSameFileEveryRun) {
    const QString a = picture("a.jpg"), b = picture("b.jpg");
    const QStringList details = {"--author", "Ann Ōkubo", "--subject", "Receipts", "--keywords", "tax, 2026"};
    qputenv("SOURCE_DATE_EPOCH", "1700000000");
    QByteArray first;
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(run(details + QStringList{"-j", "-o", out.filePath("scans.pdf"), a, b}), 0) << errors.toStdString();
        const QByteArray bytes = testing::readFile(out.filePath("scans.pdf"));
        if (i == 0) first = bytes;
        else EXPECT_TRUE(bytes == first) << "the second run wrote another file";
        QFile::remove(out.filePath("scans.pdf"));
    }
    qunsetenv("SOURCE_DATE_EPOCH");
    const auto info = [](const QByteArray& pdf, const char* key) {
        QPDF q;
        q.processMemoryFile("x", pdf.constData(), std::size_t(pdf.size()));
        return q.getTrailer().getKey("/Info").getKey(key).getUTF8Value();
    };
    EXPECT_EQ(info(first, "/Title"), "scans");  // after the file it was given
    EXPECT_EQ(info(first, "/Author"), "Ann Ōkubo");
    EXPECT_EQ(info(first, "/Subject"), "Receipts");
    EXPECT_EQ(info(first, "/Keywords"), "tax, 2026");
    EXPECT_EQ(info(first, "/CreationDate"), "D:20231114221320Z");
    EXPECT_TRUE(first.contains("<dc:creator><rdf:Seq><rdf:li>Ann \xC5\x8Ckubo</rdf:li>"));
    // A date given on the command line, and one that is not a date.
    ASSERT_EQ(run({"--date", "2026-12-07T10:30:00+01:00", "--title", "Trip", a}), 0) << errors.toStdString();
    const QByteArray dated = testing::readFile(out.filePath("a.pdf"));
    EXPECT_EQ(info(dated, "/CreationDate"), "D:20261207093000Z");
    EXPECT_EQ(info(dated, "/Title"), "Trip");
    // Dates PDF cannot hold, in UTC, are refused rather than replaced by the time of the run.
    for (const char* when : {"yesterday", "1970-01-01T00:30:00+01:00", "9999-12-31T23:30:00-01:00", "-1"}) {
        EXPECT_EQ(run({"--date", when, a}), 2) << when;
        EXPECT_TRUE(errors.contains("not a valid date")) << when << ": " << errors.toStdString();
    }
    // A SOURCE_DATE_EPOCH that is no date is said.
    qputenv("SOURCE_DATE_EPOCH", "17e8");
    EXPECT_EQ(run({a}), 0);
    qunsetenv("SOURCE_DATE_EPOCH");
    EXPECT_TRUE(errors.contains("SOURCE_DATE_EPOCH \"17e8\" is not seconds since 1970")) << errors.toStdString();
    // A title made from a file name that holds a control character and U+FFFF: still valid XML.
    const QString odd = picture(QString::fromUcs4(U"line\nbreak\uFFFF.jpg"));
    ASSERT_EQ(run({"--pdfa", odd}), 0) << errors.toStdString();
    const QByteArray pdf = testing::readFile(out.filePath(QFileInfo(odd).completeBaseName() + ".pdf"));
    EXPECT_EQ(info(pdf, "/Title"), "line break");
    QPDF q;
    q.processMemoryFile("x", pdf.constData(), std::size_t(pdf.size()));
    const auto data = q.getRoot().getKey("/Metadata").getStreamData(qpdf_dl_all);
    const std::string xmp(reinterpret_cast<const char*>(data->getBuffer()), data->getSize());
    QXmlStreamReader xml(QByteArray::fromStdString(xmp));
    while (!xml.atEnd()) xml.readNext();
    EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString() << "\n" << xmp;
}

// "-" reads one picture from standard input, as other converters do.
TEST_F(ConvertCommand, APictureFromStandardInput) {
    const QByteArray jpeg = testing::makeJpeg({.width = 64, .height = 48});
    const auto feeding = [](const QByteArray& bytes) {
        return [bytes](QProcess& p) {
            p.write(bytes);
            p.closeWriteChannel();
        };
    };
    const struct {
        QStringList arguments;
        QByteArray input;
        int code;
        const char* made;  // the PDF's name, or what stderr says
    } cases[] = {
        {{"-o", "scan.pdf", "-"}, jpeg, 0, "scan.pdf"},
        {{"-"}, jpeg, 0, "stdin.pdf"},
        {{"-", "-"}, jpeg, 2, "standard input (-) can be read only once"},
        {{"-"}, "junk\n", 1, "not a picture: (standard input): the file starts with"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(run(c.arguments, nullptr, "pictolio-convert", feeding(c.input)), c.code) << errors.toStdString();
        if (c.code != 0) {
            EXPECT_TRUE(errors.contains(c.made)) << errors.toStdString();
            continue;
        }
        const auto pages = testing::readPdf(out.filePath(c.made));
        ASSERT_EQ(pages.size(), 1u) << c.made;
        EXPECT_TRUE(pages[0].images.at(0).rawData == jpeg.toStdString()) << c.made;  // the JPEG as it came
        QFile::remove(out.filePath(c.made));
    }
}

// Smaller files on request: pictures finer than asked are scaled down and stored as JPEG (a PNG
// too), close to what they show; coarser ones keep their bytes; black and white gives fax data
// that still shows the text; values out of range are refused.
TEST_F(ConvertCommand, PhotosOfDocumentsMadeCleanPages) {
    testing::PhotoSetup setup;
    setup.size = {3264, 2448};
    setup.tilt = 25, setup.turn = 5;
    const QString photo = pics.filePath("letter photo.jpg"), landscape = pics.filePath("landscape.jpg");
    ASSERT_TRUE(testing::documentPhoto(setup).photo.save(photo, "JPEG", 80));
    ASSERT_TRUE(testing::landscapePhoto({1600, 1200}).save(landscape, "JPEG", 85));
    ASSERT_EQ(run({"--document", "--margin", "0", photo, landscape}), 0) << errors.toStdString();
    // The sheet on an A4 page of its own, white where the photo showed the table.
    const testing::PdfPage page = testing::readPdf(out.filePath("letter photo.pdf")).at(0);
    EXPECT_NEAR(page.mediaBox[2], 595.3, 0.5);
    EXPECT_NEAR(page.mediaBox[3], 841.9, 0.5);
    EXPECT_EQ(page.images.at(0).width, 2480);
    const std::vector<QImage> shown = testing::renderPdf(out.filePath("letter photo.pdf"), 30);
    ASSERT_EQ(shown.size(), 1u);
    for (const QPoint corner : {QPoint(2, 2), QPoint(shown[0].width() - 3, shown[0].height() - 3)})
        EXPECT_GT(qGray(shown[0].pixel(corner)), 235);
    // A photo with no sheet in it stays as it is, byte for byte, and the run says so.
    EXPECT_TRUE(QByteArray::fromStdString(testing::readPdf(out.filePath("landscape.pdf")).at(0).images.at(0).rawData) ==
                testing::readFile(landscape));
    EXPECT_TRUE(errors.contains(landscape + ": no page found, kept as it is")) << errors.toStdString();
    // Stored as chosen.
    ASSERT_EQ(run({"--document", "--set", "document-colours=grey", photo}), 0) << errors.toStdString();
    EXPECT_EQ(testing::readPdf(out.filePath("letter photo.pdf")).at(0).images.at(0).colorSpace, "/DeviceGray");
    EXPECT_EQ(run({"--document", "--mono", photo}), 2);
}

TEST_F(ConvertCommand, PagesOfPrintMadeCompact) {
    QStringList lines;
    QImage scan = testing::flatbedScan(testing::documentPage({210, 297}, 300, &lines, 5, true));
    scan.setDotsPerMeterX(11811), scan.setDotsPerMeterY(11811);
    const QString letter = pics.filePath("letter.jpg"), landscape = pics.filePath("landscape.jpg");
    ASSERT_TRUE(scan.save(letter, "JPEG", 90));
    ASSERT_TRUE(testing::landscapePhoto({1600, 1200}).save(landscape, "JPEG", 85));
    ASSERT_EQ(run({"--compact", "--paper", "fit", "--margin", "0", letter, landscape}), 0) << errors.toStdString();
    const QString pdf = out.filePath("letter.pdf");
    EXPECT_LT(QFileInfo(pdf).size(), QFileInfo(letter).size() / 8);
    // Shown as scanned: the print where it was, in its colours (the blue heading, the red stamp).
    const std::vector<QImage> shown = testing::renderPdf(pdf, 100);
    ASSERT_EQ(shown.size(), 1u);
    const QImage page = shown[0].convertToFormat(QImage::Format_RGB32);
    const QImage truth = scan.scaled(page.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation).convertToFormat(QImage::Format_RGB32);
    constexpr double px = 100 / 25.4;
    const struct {
        const char* what;
        QRect where;
    } parts[] = {{"heading", QRect(int(20 * px), int(20 * px), int(80 * px), int(8 * px))},
                 {"print", QRect(int(20 * px), int(70 * px), int(150 * px), int(60 * px))},
                 {"stamp", QRect(page.width() - int(70 * px), int(10 * px), int(50 * px), int(25 * px))},
                 {"photo", QRect(int(20 * px), int(page.height() * 0.66), page.width() - int(40 * px), int(page.height() * 0.3))}};
    for (const auto& part : parts) {
        SCOPED_TRACE(part.what);
        EXPECT_LT(testing::meanDifference(page.copy(part.where), truth.copy(part.where)), 12.0);
    }
    // A photo with no print stays as it is, and the run says so.
    EXPECT_TRUE(QByteArray::fromStdString(testing::readPdf(out.filePath("landscape.pdf")).at(0).images.at(0).rawData) ==
                testing::readFile(landscape));
    EXPECT_TRUE(errors.contains(landscape + ": no text found, not made compact")) << errors.toStdString();
    // Print that deflates smaller than it codes as fax data (a fine halftone) is stored so, and
    // shows the same.
    QImage halftone(1275, 1650, QImage::Format_RGB888);  // Letter at 150 dpi
    halftone.fill(Qt::white);
    for (int y = 300; y < 900; ++y)
        for (int x = 300; x < 900; ++x)
            if ((x + y) % 2) halftone.setPixel(x, y, qRgb(0, 0, 0));
    const QString dots = pics.filePath("dots.png");
    ASSERT_TRUE(halftone.save(dots));
    ASSERT_EQ(run({"--compact", "--paper", "fit", "--margin", "0", dots}), 0) << errors.toStdString();
    const std::vector<testing::PdfImage> images = testing::readPdf(out.filePath("dots.pdf")).at(0).images;
    ASSERT_EQ(images.size(), 2u);
    EXPECT_EQ(images[1].filter, "/FlateDecode");
    const QImage dotted = testing::renderPdf(out.filePath("dots.pdf"), 50).at(0);
    EXPECT_NEAR(qGray(dotted.pixel(200, 200)), 128, 40);
    EXPECT_GT(qGray(dotted.pixel(50, 50)), 230);
    // A scan cleaned, then made compact, keeps the size of its paper.
    QImage turned = testing::scanOnGlass(testing::documentPage({210, 297}, 300, &lines, 6), 3);
    turned.setDotsPerMeterX(11811), turned.setDotsPerMeterY(11811);
    ASSERT_TRUE(turned.save(letter, "JPEG", 85));
    ASSERT_EQ(run({"--document", "--compact", "--paper", "fit", "--margin", "0", letter}), 0) << errors.toStdString();
    const testing::PdfPage cleaned = testing::readPdf(out.filePath("letter.pdf")).at(0);
    ASSERT_GE(cleaned.images.size(), 2u);
    EXPECT_FALSE(cleaned.images[1].fill.empty());
    EXPECT_NEAR(cleaned.mediaBox[2], cleaned.images[1].width * 72.0 / 300, 1);
    // --original is every picture as it is, whatever the preferences say.
    ASSERT_EQ(run({"--set", "compact=on", "--original", "--paper", "fit", letter}), 0) << errors.toStdString();
    EXPECT_EQ(testing::readPdf(out.filePath("letter.pdf")).at(0).images.size(), 1u);
    EXPECT_EQ(run({"--compact", "--mono", letter}), 2);
}

TEST_F(ConvertCommand, PicturesMadeSmallerOnRequest) {
    const QImage scene = testing::cornersPicture(1200, 900);
    const QString fine = pics.filePath("fine.jpg"), png = pics.filePath("fine.png"), coarse = pics.filePath("coarse.jpg");
    const auto jpegOf = [](const QImage& image, int dpi) {
        testing::JpegRecipe recipe;
        recipe.width = image.width(), recipe.height = image.height();
        recipe.densityUnit = 1, recipe.xDensity = recipe.yDensity = dpi;
        const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
        std::vector<unsigned char> bytes;
        for (int y = 0; y < rgb.height(); ++y) bytes.insert(bytes.end(), rgb.constScanLine(y), rgb.constScanLine(y) + rgb.width() * 3);
        return testing::makeJpegFromRgb(recipe, bytes.data());
    };
    testing::writeFile(fine, jpegOf(scene, 300));  // 4 x 3 inches
    QImage dense = scene;
    dense.setDotsPerMeterX(qRound(300 / 0.0254)), dense.setDotsPerMeterY(qRound(300 / 0.0254));
    ASSERT_TRUE(dense.save(png));
    testing::writeFile(coarse, jpegOf(scene.scaled(240, 180), 72));  // 3.3 x 2.5 inches at 72 dpi
    ASSERT_EQ(run({"--paper", "fit", "--margin", "0", "--max-dpi", "100", "--jpeg-quality", "80", fine, png, coarse}), 0)
        << errors.toStdString();
    for (const QString& name : {QString("fine"), QString("png")}) {
        const QString pdf = out.filePath((name == "png" ? "fine" : name) + (name == "png" ? " (2).pdf" : ".pdf"));
        const testing::PdfImage image = testing::readPdf(pdf).at(0).images.at(0);
        EXPECT_EQ(image.filter, "/DCTDecode") << name.toStdString();
        EXPECT_EQ(image.width, 400);
        EXPECT_EQ(image.height, 300);
        const std::vector<QImage> shown = testing::renderPdf(pdf, 100);
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_LT(testing::meanDifference(shown[0].convertToFormat(QImage::Format_RGB32),
                                          scene.scaled(400, 300, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                                              .convertToFormat(QImage::Format_RGB32)),
                  4.0)
            << name.toStdString();
        EXPECT_LT(QFileInfo(pdf).size(), QFileInfo(fine).size() / 3);
        // At the quality asked for: its first luminance divisor is 16 x 0.4 (75 would give 8).
        const qsizetype tables = QByteArray::fromStdString(image.rawData).indexOf("\xFF\xDB");
        ASSERT_GE(tables, 0);
        EXPECT_EQ(int(std::uint8_t(image.rawData.at(std::size_t(tables) + 5))), 6) << name.toStdString();
    }
    const testing::PdfImage kept = testing::readPdf(out.filePath("coarse.pdf")).at(0).images.at(0);
    EXPECT_TRUE(QByteArray::fromStdString(kept.rawData) == testing::readFile(coarse));
    // A picture with a colour profile of its own keeps it, made smaller (with --pdfa too).
    QImage tagged = dense;
    tagged.setColorSpace(QColorSpace::AdobeRgb);
    const QString profiled = pics.filePath("profiled.png");
    ASSERT_TRUE(tagged.save(profiled));
    ASSERT_EQ(run({"--paper", "fit", "--margin", "0", "--max-dpi", "100", "--pdfa", profiled}), 0) << errors.toStdString();
    const testing::PdfImage smaller = testing::readPdf(out.filePath("profiled.pdf")).at(0).images.at(0);
    EXPECT_EQ(smaller.filter, "/DCTDecode");
    EXPECT_EQ(smaller.width, 400);
    EXPECT_EQ(smaller.profileComponents, 3);

    const testing::TextPage page = testing::drawTextPage();
    const QString letter = pics.filePath("letter.jpg");
    testing::writeFile(letter, testing::textJpeg(page.image, 1, 300));
    ASSERT_EQ(run({"--paper", "fit", "--margin", "0", "--mono", letter}), 0) << errors.toStdString();
    const testing::PdfImage fax = testing::readPdf(out.filePath("letter.pdf")).at(0).images.at(0);
    EXPECT_EQ(fax.filter, "/CCITTFaxDecode");
    EXPECT_EQ(fax.width, page.image.width());
    const std::vector<QImage> faxShown = testing::renderPdf(out.filePath("letter.pdf"), 300);
    ASSERT_EQ(faxShown.size(), 1u);
    // The ink is where it was: dark pixels at the same places, about as many.
    int inked = 0, stays = 0, added = 0;
    for (int y = 0; y < page.image.height(); ++y)
        for (int x = 0; x < page.image.width(); ++x) {
            const bool was = qGray(page.image.pixel(x, y)) < 128, is = qGray(faxShown[0].pixel(x, y)) < 128;
            inked += was, stays += was && is, added += is && !was;
        }
    EXPECT_GT(stays, inked * 8 / 10);
    EXPECT_LT(added, inked / 4);

    for (const QStringList& bad : {QStringList{"--max-dpi", "5"}, QStringList{"--jpeg-quality", "101"},
                                   QStringList{"--mono", "--max-dpi", "150"}})
        EXPECT_EQ(run(bad + QStringList{fine}), 2) << bad.join(' ').toStdString();
}

}  // namespace
}  // namespace pictolio
