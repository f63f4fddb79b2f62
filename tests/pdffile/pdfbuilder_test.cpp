// SPDX-License-Identifier: GPL-3.0-or-later
#include "pdffile/pdfbuilder.h"
#include "pdffile/stagedfile.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <qpdf/Buffer.hh>
#include <qpdf/QPDF.hh>
#include <cstring>
#include <functional>
#include <tuple>

#include "appconfig.h"
#include "tests/support/pdfreader.h"
#include "tests/support/testpictures.h"

namespace pdffile {
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
        p.image = std::make_shared<imaging::JpegFileImage>(
            file, imaging::FileIdentity::ofPath(file),
            imaging::JpegFileImage::Details{.width = 40, .height = 30, .arithmetic = arithmetic});
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
        ASSERT_EQ(bool(result.written), c.pagesWritten > 0) << c.name << ": " << result.written.reason().toStdString();
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
    const QByteArray rgbPrinted = rgb.left(2) + QByteArray(reinterpret_cast<const char*>(imaging::adobeRgbSegment),
                                                           sizeof imaging::adobeRgbSegment) + rgb.mid(2);
    for (const QTemporaryDir* folder : {&sameFileSystem, &other}) {
        std::vector<Page> pages;
        for (const auto& [name, data, isRgb] : {std::tuple{"plain.jpg", plain, false}, {"rgb.jpg", rgb, true}}) {
            const std::string file = QFile::encodeName(folder->filePath(name)).toStdString();
            pictolio::testing::writeFile(folder->filePath(name), data);
            Placement p;
            p.image = std::make_shared<imaging::JpegFileImage>(file, imaging::FileIdentity::ofPath(file),
                                                      imaging::JpegFileImage::Details{.width = 40, .height = 30, .rgb = isRgb});
            p.matrix = {40, 0, 0, 30, 0, 0};
            p.clip = {0, 0, 40, 30};
            pages.push_back(Page{{p}});
        }
        const QString pdf = out.filePath(QStringLiteral("out.pdf"));
        const WriteResult result = writePdfFile({"job", 200, 200, pages}, QFile::encodeName(pdf).toStdString());
        ASSERT_TRUE(result.written) << folder->path().toStdString() << ": " << result.written.reason().toStdString();
        EXPECT_EQ(pictolio::testing::qpdfCheckProblems(pdf).toStdString(), "");
        const std::vector<pictolio::testing::PdfPage> read = pictolio::testing::readPdf(pdf);
        ASSERT_EQ(read.size(), 2u);
        EXPECT_EQ(read[0].images.at(0).rawData, plain.toStdString()) << folder->path().toStdString();
        EXPECT_EQ(read[1].images.at(0).rawData, rgbPrinted.toStdString()) << folder->path().toStdString();
    }
}

// A PDF/A file takes its colour profiles from the system's files, each only when needed: one that
// cannot be read is named with its package, and no file is made.
TEST(PdfBuilder, APdfaFileSaysWhichColourProfileItLacks) {
    QTemporaryDir dir;
    const auto page = [&](const char* name, pictolio::testing::JpegRecipe::Kind kind, int components) {
        const QString path = dir.filePath(name);
        pictolio::testing::writeFile(path, makeJpeg({.width = 40, .height = 30, .kind = kind}));
        const std::string file = QFile::encodeName(path).toStdString();
        Placement p;
        p.image = std::make_shared<imaging::JpegFileImage>(file, imaging::FileIdentity::ofPath(file),
                                                  imaging::JpegFileImage::Details{.width = 40, .height = 30, .components = components});
        p.matrix = {40, 0, 0, 30, 0, 0};
        p.clip = {0, 0, 40, 30};
        return Page{{p}};
    };
    using Kind = pictolio::testing::JpegRecipe::Kind;
    const Page rgb = page("rgb.jpg", Kind::YCbCr, 3), cmyk = page("cmyk.jpg", Kind::PlainCmyk, 4);
    const std::string missing = QFile::encodeName(dir.filePath("missing.icc")).toStdString();
    const struct {
        const char* name;
        Page page;
        ArchiveProfiles profiles;
        const char* error;  // "": written
    } cases[] = {
        {"no sRGB profile", rgb, {missing, ""}, "icc-profiles-free"},
        {"no CMYK profile, a CMYK picture", cmyk, {"", missing}, "libgs-common"},
        {"no CMYK profile, no CMYK picture", rgb, {"", missing}, ""},
        {"an RGB profile for CMYK", cmyk, {"", pictolio::config::srgbProfile}, "libgs-common"},
    };
    for (const auto& c : cases) {
        const QString out = dir.filePath("archive.pdf");
        PrintJob job{"job", 200, 200, {c.page}};
        job.details.pdfa = true;
        WriteOptions options;
        options.profiles = c.profiles;
        const WriteResult result = writePdfFile(job, QFile::encodeName(out).toStdString(), options);
        EXPECT_EQ(bool(result.written), !*c.error) << c.name << ": " << result.written.reason().toStdString();
        EXPECT_EQ(QFile::exists(out), !*c.error) << c.name;
        if (*c.error) {
            EXPECT_TRUE(result.written.reason().contains(QString::fromUtf8(c.error))) << c.name << ": " << result.written.reason().toStdString();
        }
        QFile::remove(out);
    }
}

// A placement of a 40 x 30 JPEG written in the folder, filling its clip.
Placement smallPicture(const QTemporaryDir& dir) {
    const QString picture = dir.filePath(QStringLiteral("p.jpg"));
    pictolio::testing::writeFile(picture, makeJpeg({.width = 40, .height = 30}));
    const std::string file = QFile::encodeName(picture).toStdString();
    Placement p;
    p.image = std::make_shared<imaging::JpegFileImage>(file, imaging::FileIdentity::ofPath(file),
                                                       imaging::JpegFileImage::Details{.width = 40, .height = 30});
    p.matrix = {40, 0, 0, 30, 0, 0};
    p.clip = {0, 0, 40, 30};
    return p;
}

// Whatever details a caller gives, the document's XMP metadata is well-formed XML: control
// characters and the noncharacters U+FFFE and U+FFFF are left out, markup is escaped.
TEST(PdfBuilder, MetadataIsXmlWhateverTheDetails) {
    QTemporaryDir dir;
    PrintJob job{"job", 200, 200, {Page{{smallPicture(dir)}}}};
    job.details.title = QString::fromUcs4(U"a\uFFFFb\uFFFEc\x01<&>").toStdString();
    job.details.author = QString::fromUcs4(U"x\uFFFE\uFFFFy").toStdString();
    const QString pdf = dir.filePath(QStringLiteral("details.pdf"));
    ASSERT_TRUE(writePdfFile(job, QFile::encodeName(pdf).toStdString()).written);
    QPDF read;
    read.processFile(QFile::encodeName(pdf).constData());
    const std::shared_ptr<Buffer> data = read.getRoot().getKey("/Metadata").getStreamData();
    QXmlStreamReader xml(QByteArray(reinterpret_cast<const char*>(data->getBuffer()), qsizetype(data->getSize())));
    QString text;
    while (!xml.atEnd())
        if (xml.readNext() == QXmlStreamReader::Characters) text += xml.text();
    EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("abc<&>"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("xy"))) << text.toStdString();
}

// Offsets of ten digits and more: a file past 10^10 bytes (here mostly a hole, blank to a reader)
// gets a cross-reference stream and says PDF 1.5; below that, the fixed-width table. Each is
// checked byte for byte, and read back whole with libqpdf, which mends nothing.
TEST(PdfBuilder, CrossReferenceFitsEveryOffset) {
    QTemporaryDir dir;
    const QByteArray jpeg = makeJpeg({.width = 40, .height = 30});
    const QString picture = dir.filePath(QStringLiteral("p.jpg"));
    pictolio::testing::writeFile(picture, jpeg);
    const std::string file = QFile::encodeName(picture).toStdString();
    std::vector<Page> pages;
    for (int i = 0; i < 3; ++i) {
        Placement p;
        p.image = std::make_shared<imaging::JpegFileImage>(file, imaging::FileIdentity::ofPath(file),
                                                  imaging::JpegFileImage::Details{.width = 40, .height = 30});
        p.matrix = {40, 0, 0, 30, 0, 0};
        p.clip = {0, 0, 40, 30};
        pages.push_back(Page{{p}});
    }
    // The last object's offset in a file with a blank, when its cross-reference is a table; a
    // blank that makes it the largest a ten-digit entry holds keeps the table, a byte more takes a
    // stream.
    const auto lastOffset = [&](std::int64_t blank) {
        const QString pdf = dir.filePath(QStringLiteral("out-%1.pdf").arg(blank));  // (its title is its name)
        WriteOptions options;
        options.blankAfterHeader = blank;
        EXPECT_TRUE(writePdfFile({"job", 200, 200, pages}, QFile::encodeName(pdf).toStdString(), options).written);
        QFile written(pdf);
        EXPECT_TRUE(written.open(QIODevice::ReadOnly));
        written.seek(std::max<qint64>(0, written.size() - 4096));
        const QByteArray tail = written.read(4096);
        std::int64_t last = -1;
        for (qsizetype at = tail.indexOf(" 00000 n \n"); at >= 10; at = tail.indexOf(" 00000 n \n", at + 1))
            last = std::max<std::int64_t>(last, tail.mid(at - 10, 10).toLongLong());
        written.close();
        QFile::remove(pdf);
        return last;
    };
    const std::int64_t near = 9'999'000'000, limit = 9'999'999'999;
    const std::int64_t nearLast = lastOffset(near);
    ASSERT_GT(nearLast, near);
    const std::int64_t fits = near + (limit - nearLast);
    ASSERT_EQ(lastOffset(fits), limit);
    const struct {
        std::int64_t blank;
        const char* header;
        const char* section;  // how the cross-reference section begins
    } cases[] = {
        {0, "%PDF-1.3\n", "xref\n0 "},
        {fits, "%PDF-1.3\n", "xref\n0 "},
        {fits + 1, "%PDF-1.5\n", " 0 obj\n<< /Type /XRef"},  // the first objects fit ten digits
        {10'000'000'000, "%PDF-1.5\n", " 0 obj\n<< /Type /XRef"},
    };
    for (const auto& c : cases) {
        const QString pdf = dir.filePath(QStringLiteral("out-%1.pdf").arg(c.blank));
        WriteOptions options;
        options.blankAfterHeader = c.blank;
        const WriteResult result = writePdfFile({"job", 200, 200, pages}, QFile::encodeName(pdf).toStdString(), options);
        ASSERT_TRUE(result.written) << c.blank << ": " << result.written.reason().toStdString();
        QFile out(pdf);
        ASSERT_TRUE(out.open(QIODevice::ReadOnly));
        EXPECT_TRUE(out.read(9) == c.header) << c.blank;
        out.seek(out.size() - 30);
        const QByteArray tail = out.read(30);
        const qint64 xref = tail.mid(tail.indexOf("startxref\n") + 10).chopped(7).toLongLong();
        out.seek(xref);
        EXPECT_TRUE(out.read(64).contains(c.section)) << c.blank;
        // (qpdf --check and poppler read the whole file, holes and all: libqpdf reads what it needs)
        const QString problems = c.blank == 0 ? pictolio::testing::qpdfCheckProblems(pdf) : pictolio::testing::layoutProblems(pdf);
        EXPECT_EQ(problems.toStdString(), "") << c.blank;
        const std::vector<pictolio::testing::PdfPage> read = pictolio::testing::readPdf(pdf);
        ASSERT_EQ(read.size(), 3u) << c.blank;
        for (const auto& page : read) EXPECT_EQ(page.images.at(0).rawData, jpeg.toStdString()) << c.blank;
        out.close();
        QFile::remove(pdf);
    }
}

// The byte-level check the tests rely on forgives nothing a reader would: each fault put into a
// good file is found.
TEST(PdfBuilder, LayoutCheckFindsEachFault) {
    QTemporaryDir dir;
    const Placement p = smallPicture(dir);
    const QString pdf = dir.filePath(QStringLiteral("good.pdf"));
    ASSERT_TRUE(writePdfFile({"job", 200, 200, {Page{{p}}}}, QFile::encodeName(pdf).toStdString()).written);
    QFile in(pdf);
    ASSERT_TRUE(in.open(QIODevice::ReadOnly));
    const QByteArray good = in.readAll();
    ASSERT_EQ(pictolio::testing::layoutProblems(pdf).toStdString(), "");
    const qsizetype firstEntry = good.indexOf(" 00000 n \n") - 10;
    const qsizetype startxref = good.lastIndexOf("startxref\n") + 10;
    const struct {
        const char* name;
        std::function<void(QByteArray&)> fault;
    } cases[] = {
        {"entry of 19 bytes", [&](QByteArray& b) { b.remove(firstEntry + 18, 1); }},
        {"entry of 21 bytes", [&](QByteArray& b) { b.insert(firstEntry, '0'); }},
        {"offset one off", [&](QByteArray& b) { b[firstEntry + 9] = char(b[firstEntry + 9] + 1); }},
        {"startxref one off", [&](QByteArray& b) { b[startxref] = char(b[startxref] + 1); }},
        {"text header", [&](QByteArray& b) { b.replace(10, 4, "abcd"); }},
        {"/Size one more", [&](QByteArray& b) {
             const qsizetype at = b.indexOf("/Size ") + 6, end = b.indexOf(' ', at);
             b.replace(at, end - at, QByteArray::number(b.mid(at, end - at).toInt() + 1));
         }},
        {"no end of line at the end", [&](QByteArray& b) { b.chop(1); }},
    };
    for (const auto& c : cases) {
        QByteArray bytes = good;
        c.fault(bytes);
        const QString bad = dir.filePath(QStringLiteral("bad.pdf"));
        pictolio::testing::writeFile(bad, bytes);
        EXPECT_NE(pictolio::testing::layoutProblems(bad).toStdString(), "") << c.name;
    }
}

// A staged file has no name until it is whole; where it needs one for a while, the name carries
// the process's number, and a later process removes the names of the user's processes that are
// gone, never anyone else's file. Its permissions are those asked for, whatever the umask.
TEST(StagedFile, AppearsWholeAndClearsWhatKilledProcessesLeft) {
    QTemporaryDir dir;
    const mode_t umask = ::umask(077);
    const pid_t gone = ::fork();
    if (gone == 0) ::_exit(0);
    ASSERT_GT(gone, 0);
    ::waitpid(gone, nullptr, 0);
    const QStringList others{QStringLiteral(".pictolio-%1-aBcDeF").arg(::getpid() == 1 ? 2 : 1),  // a live process
                             QStringLiteral(".pictolio-aBcDeF"), QStringLiteral("x.pdf.part")};
    for (const QString& name : others + QStringList{QStringLiteral(".pictolio-%1-aBcDeF").arg(gone)})
        pictolio::testing::writeFile(dir.filePath(name), "kept");
    // Of the gone process's names, a folder and another user's file are not this user's to remove.
    const QString foreign = QStringLiteral(".pictolio-%1-xYzXyZ").arg(gone), folder = QStringLiteral(".pictolio-%1-dIrDiR").arg(gone);
    ASSERT_TRUE(QDir(dir.path()).mkdir(folder));
    if (::geteuid() == 0) {
        pictolio::testing::writeFile(dir.filePath(foreign), "kept");
        ASSERT_EQ(::chown(QFile::encodeName(dir.filePath(foreign)).constData(), 65534, 65534), 0);
    }
    const std::string path = QFile::encodeName(dir.filePath(QStringLiteral("x.pdf"))).toStdString();
    for (const char* content : {"first", "second"}) {  // a new name, then one replaced
        StagedFile file(path, 0640);
        ASSERT_GE(file.fd(), 0) << file.error();
        ASSERT_EQ(::write(file.fd(), content, std::strlen(content)), ssize_t(std::strlen(content)));
        // Not yet under its name: nothing there at first, then still the first file.
        EXPECT_EQ(pictolio::testing::readFile(dir.filePath(QStringLiteral("x.pdf"))),
                  std::strcmp(content, "first") == 0 ? QByteArray() : QByteArray("first"));
        const auto committed = file.commit();
        EXPECT_TRUE(committed) << committed.reason().toStdString();
        QFile made(dir.filePath(QStringLiteral("x.pdf")));
        ASSERT_TRUE(made.open(QIODevice::ReadOnly));
        EXPECT_EQ(made.readAll().toStdString(), content);
        EXPECT_EQ(made.permissions() & (QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther),
                  QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup);
    }
    {
        StagedFile dropped(QFile::encodeName(dir.filePath(QStringLiteral("y.pdf"))).toStdString(), 0644);
        ASSERT_GE(dropped.fd(), 0);
    }
    ::umask(umask);
    QStringList expected = others + QStringList{QStringLiteral("x.pdf")};
    if (::geteuid() == 0) expected << foreign;
    expected.sort();
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden, QDir::Name), expected);
    EXPECT_TRUE(QFileInfo(dir.filePath(folder)).isDir());
}

}  // namespace
}  // namespace pdffile
