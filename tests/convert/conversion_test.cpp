// SPDX-License-Identifier: GPL-3.0-or-later
// The conversion engine on its own, as pictolio-convert and the window drive it.
#include "convert/conversion.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include "convert/pdfprinter.h"
#include "platform/printservice.h"
#include "platform/registry.h"
#include "tests/support/pdfreader.h"
#include "tests/support/printingfixture.h"
#include "tests/support/testpictures.h"

namespace pictolio {
namespace {

using ConversionEngine = testing::PrintingFixture;

TEST_F(ConversionEngine, EveryModeAndPlaceInOneTable) {
    installPrinting();
    QTemporaryDir pics, out;
    QDir().mkpath(pics.filePath("x"));
    const QString a = pics.filePath("a.jpg"), b = pics.filePath("x/b.jpg"), bad = pics.filePath("bad.jpg");
    const QString otherA = pics.filePath("x/a.jpeg"), linkedA = pics.filePath("y/a.jpg");
    QDir().mkpath(pics.filePath("y"));
    QFile::link(a, linkedA);  // the same file by another path
    testing::writeFile(a, testing::makeJpeg({}));
    testing::writeFile(b, testing::makeJpeg({.width = 30, .height = 90}));
    testing::writeFile(otherA, testing::makeJpeg({.width = 30, .height = 90}));
    testing::writeFile(bad, "not a picture");
    const struct {
        const char* name;
        bool joined, beside;
        bool again;  // the output folder as the case before left it
        QStringList rows;
        QStringList created;  // relative to the output folder, or to the pictures' folder beside them
        int pages;
    } cases[] = {
        {"each, in the folder", false, false, false, {a, bad, b}, {"a.pdf", "b.pdf"}, 2},
        {"each, beside", false, true, false, {a, b}, {"a.pdf", "x/b.pdf"}, 2},
        // Two pictures of one name: the second PDF takes another name; the same picture again
        // (listed twice, or by a link) makes its own PDF again.
        {"each, one name twice", false, false, false, {a, otherA, a}, {"a.pdf", "a (2).pdf", "a.pdf"}, 3},
        {"each, one file twice", false, false, false, {a, linkedA, otherA}, {"a.pdf", "a.pdf", "a (2).pdf"}, 3},
        {"each, one name twice again", false, false, true, {a, otherA}, {"a.pdf", "a (2).pdf"}, 2},
        {"joined, in the folder", true, false, false, {b, bad, a}, {"b.pdf"}, 2},
        {"joined, beside the first", true, true, false, {b, a}, {"x/b.pdf"}, 2},
        {"nothing to print", true, false, false, {bad}, {}, 0},
    };
    for (const auto& c : cases) {
        if (!c.again) QDir(out.path()).removeRecursively();
        QDir().mkpath(out.path());
        for (const QString& pdf : {pics.filePath("a.pdf"), pics.filePath("x/b.pdf")}) QFile::remove(pdf);
        ConversionJob::Caller caller;
        caller.rowCount = [&] { return int(c.rows.size()); };
        caller.rowText = [&](int row) { return c.rows[row - 1]; };
        caller.options = [&] {
            RowOptions o;
            o.inFolder = !c.beside;
            o.besideSource = c.beside;
            o.folder = out.path();
            return o;
        };
        ConversionJob job(*service, *registry, decoder, 5000, caller);
        const ConversionReport report = c.joined ? job.runJoined() : job.runPerPicture();
        QStringList created;
        for (const QString& rel : c.created) created << (c.beside ? pics.filePath(rel) : out.filePath(rel));
        EXPECT_EQ(report.created, created) << c.name;
        EXPECT_EQ(report.invalidPictures, c.rows.contains(bad) ? QStringList{bad} : QStringList{}) << c.name;
        // Why it is none, in the report and in the printer's log.
        const QString why = "not a JPEG file: the file starts with the bytes 6E 6F 74 20 61 20 70 69 which no "
                            "supported picture format begins with";
        EXPECT_EQ(report.refusals.value(bad), c.rows.contains(bad) ? why : QString()) << c.name;
        const QString log = QString::fromUtf8(testing::readFile(root.filePath("pdfwriter.log")));
        EXPECT_TRUE(!c.rows.contains(bad) || log.contains(bad + " not a picture: " + why)) << c.name;
        EXPECT_TRUE(report.notCreated.isEmpty()) << c.name;
        EXPECT_EQ(report.pages, c.pages) << c.name;
        int pages = 0;
        for (const QString& pdf : created) pages += int(testing::readPdf(pdf).size());
        EXPECT_EQ(pages, c.pages) << c.name;
        // Each PDF holds its own picture.
        for (int i = 0; !c.joined && !c.rows.contains(bad) && i < created.size(); ++i)
            EXPECT_EQ(testing::readPdf(created[i]).at(0).images.at(0).width, c.rows[i] == otherA || c.rows[i] == b ? 30 : 64) << c.name;
    }
    // The log stays bounded: a full one becomes the one before, and the next line starts anew.
    const QString logPath = root.filePath("pdfwriter.log");
    testing::writeFile(logPath, QByteArray(pdfwriter::PdfWriterDriver::logBytes, 'x'));
    service->pdfDriver().log(QStringLiteral("after a full log"));
    EXPECT_LT(QFileInfo(logPath).size(), 100);
    EXPECT_TRUE(testing::readFile(logPath).contains("after a full log"));
    EXPECT_EQ(QFileInfo(logPath + ".1").size(), pdfwriter::PdfWriterDriver::logBytes);
}

}  // namespace
}  // namespace pictolio
