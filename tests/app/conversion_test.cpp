// SPDX-License-Identifier: GPL-3.0-or-later
#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QLockFile>
#include <QKeyEvent>
#include <QLineEdit>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTest>
#include <QTransform>
#include <QTimer>

#include "convert/pdfprinter.h"
#include "convert/outputpath.h"
#include "filelist/filelist.h"
#include "tests/app/appfixture.h"
#include "app/listhistory.h"
#include "tests/support/pdfreader.h"
#include "tests/support/picturefiles.h"
#include "tests/support/testpictures.h"

namespace pictolio {
namespace {

using testing::AppFixture;
using testing::readFile;
using testing::readPdf;

class Conversion : public AppFixture {
protected:
    void SetUp() override {
        AppFixture::SetUp();
        ASSERT_TRUE(pics.isValid() && out.isValid());
        installPdfPrinter();
        store("Text1", out.path() + "/");
        loadedForm();
        list = window->ListView1;
    }
    QString picture(const QString& relative, const testing::JpegRecipe& recipe = {}) {
        const QString path = pics.filePath(relative);
        QDir().mkpath(QFileInfo(path).path());
        testing::writeFile(path, testing::makeJpeg(recipe));
        return path;
    }
    QString textFile(const QString& relative) {
        const QString path = pics.filePath(relative);
        testing::writeFile(path, "not a picture");
        return path;
    }
    void rows(const QStringList& paths) {
        list->removeAllRows();
        for (const QString& p : paths) list->appendRow(p);
    }
    // The last message up to the failures' reasons, and those.
    QString lastMessage() const {
        return dialogs.messages.isEmpty() ? QString() : dialogs.messages.last().text.section(reasonsHeading, 0, 0);
    }
    QString reasons() const {
        return dialogs.messages.isEmpty() ? QString() : dialogs.messages.last().text.section(reasonsHeading, 1);
    }
    const QString reasonsHeading = QStringLiteral("\r\n\r\nReasons:");
    QString outputFile() const {
        return *PrintService::registryOf(printRoot.path())
                    .getString("Software\\Tenbrook PDF Writer", "OutputFile");
    }
    // The PDF holds one page per source, each with that source's JPEG bytes.
    void expectPages(const QString& pdf, const QStringList& sources) {
        ASSERT_TRUE(QFile::exists(pdf)) << pdf.toStdString();
        const auto pages = readPdf(pdf);
        ASSERT_EQ(pages.size(), std::size_t(sources.size())) << pdf.toStdString();
        for (int i = 0; i < sources.size(); ++i) {
            ASSERT_EQ(pages[i].images.size(), 1u);
            EXPECT_TRUE(QByteArray::fromStdString(pages[i].images[0].rawData) == readFile(sources[i]))
                << pdf.toStdString() << " page " << i + 1;
        }
    }

    QTemporaryDir pics, out;
    FileList* list = nullptr;
};

TEST_F(Conversion, OnePdfPerPictureInTheOutputFolder) {
    const QString a = picture("holiday.photo.jpg"), b = picture("sub/b.jpeg"), bad = textFile("notes.jpg");
    const QString c = picture("c.JPG");
    rows({a, b, c, bad});
    window->PushButton2_Click();
    expectPages(out.filePath("holiday.photo.pdf"), {a});
    expectPages(out.filePath("b.pdf"), {b});
    expectPages(out.filePath("c.pdf"), {c});
    EXPECT_FALSE(QFile::exists(out.filePath("notes.pdf")));
    EXPECT_EQ(QDir(out.path()).entryList(QDir::Files | QDir::Hidden).size(), 3);
    EXPECT_EQ(lastMessage(), "Done.\r\n\r\nThe following files are not valid pictures: \r\n\r\n" + bad);
    EXPECT_EQ(dialogs.messages.last().title, "Pictolio");
    // The invalid last row's path was still handed to the printer.
    EXPECT_EQ(outputFile(), out.filePath("notes.pdf"));
    EXPECT_FALSE(window->IsConverting);
    EXPECT_EQ(window->mousePointer(), Form1::Default);
}

TEST_F(Conversion, OnePdfPerPictureBesideEachSource) {
    window->Option6->setChecked(true);
    window->Text1->setText("");  // not looked at
    const QString a = picture("x/a.jpg"), b = picture("y/b.jpg"), dotted = picture(".jpg");
    rows({a, b, dotted});
    window->PushButton2_Click();
    expectPages(pics.filePath("x/a.pdf"), {a});
    expectPages(pics.filePath("y/b.pdf"), {b});
    expectPages(pics.filePath(".jpg.pdf"), {dotted});
    EXPECT_EQ(lastMessage(), "Done.");
}

TEST_F(Conversion, JoinedIntoOnePdfNamedAfterTheFirstRow) {
    window->Option2->setChecked(true);
    window->Option6->setChecked(true);
    const QString b = picture("x/b.jpg"), a = picture("y/a.jpg"), c = picture("y/c.jpg");
    const QString bad = textFile("y/bad.jpg");
    rows({b, a, c, bad});
    window->PushButton2_Click();
    // No empty page after the last picture, though the last row is not one.
    expectPages(pics.filePath("x/b.pdf"), {b, a, c});
    EXPECT_FALSE(QFile::exists(pics.filePath("y/a.pdf")));
    EXPECT_EQ(lastMessage(), "Done.\r\n\r\nThe following files are not valid pictures: \r\n\r\n" + bad);
}

// Rows turned with Ctrl+R and Ctrl+L print turned: the turn composed with the picture's EXIF
// orientation on the page, its JPEG data as it is. Each turn is a step to undo; undone, the
// pictures print as they are.
TEST_F(Conversion, TurnedRowsPrintTurnedUntilUndone) {
    const RegistryStore printer = PrintService::registryOf(printRoot.path());
    printer.setString("Software\\Tenbrook PDF Writer", "PaperSize", "Fit");
    printer.setString("Software\\Tenbrook PDF Writer", "Margin", "0");
    window->Option2->setChecked(true);
    window->show();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    const QImage upright = testing::cornersPicture(64, 48);
    const struct {
        int orientation;
        std::vector<Qt::Key> keys;  // with Ctrl
        int degrees;                // clockwise, as it prints
    } cases[] = {
        {1, {Qt::Key_R}, 90},
        {6, {Qt::Key_L}, -90},
        {3, {Qt::Key_R, Qt::Key_R}, 180},
        {2, {Qt::Key_L, Qt::Key_L, Qt::Key_L}, 90},  // mirrored
    };
    QStringList sources;
    for (const auto& c : cases) {
        const QImage stored = testing::storedFor(upright, c.orientation).convertToFormat(QImage::Format_RGB888);
        const testing::JpegRecipe recipe{.width = stored.width(), .height = stored.height(), .quality = 95,
                                         .exif = true, .orientation = c.orientation};
        sources << pics.filePath(QStringLiteral("turn%1.jpg").arg(sources.size() + 1));
        testing::writeFile(sources.last(), testing::makeJpegFromRgb(recipe, stored.constBits()));
    }
    rows(sources);
    window->listHistory().stack().clear();
    int steps = 0;
    for (int i = 0; i < sources.size(); ++i) {
        list->selectRow(i + 1);
        for (const Qt::Key key : cases[i].keys) QTest::keyClick(list, key, Qt::ControlModifier), ++steps;
    }
    const auto expectPrinted = [&](bool turned) {
        window->PushButton2_Click();
        const QString pdf = out.filePath("turn1.pdf");
        const auto pages = readPdf(pdf);
        const std::vector<QImage> rendered = testing::renderPdf(pdf, 96);
        ASSERT_EQ(pages.size(), std::size(cases));
        ASSERT_EQ(rendered.size(), std::size(cases));
        for (std::size_t i = 0; i < std::size(cases); ++i) {
            EXPECT_TRUE(QByteArray::fromStdString(pages[i].images.at(0).rawData) == readFile(sources[int(i)])) << i;
            const QImage expected = upright.transformed(QTransform().rotate(turned ? cases[i].degrees : 0));
            const QImage& page = rendered[i];
            ASSERT_EQ(page.width() > page.height(), expected.width() > expected.height()) << i;
            for (const auto& [fx, fy] : {std::pair{0.25, 0.25}, std::pair{0.75, 0.25}, std::pair{0.25, 0.75}, std::pair{0.75, 0.75}}) {
                const QRgb seen = page.pixel(int(page.width() * fx), int(page.height() * fy));
                const QRgb meant = expected.pixel(int(expected.width() * fx), int(expected.height() * fy));
                EXPECT_LT(std::abs(qRed(seen) - qRed(meant)) + std::abs(qGreen(seen) - qGreen(meant)) +
                              std::abs(qBlue(seen) - qBlue(meant)),
                          40)
                    << "row " << i + 1 << " at " << fx << "," << fy << (turned ? " turned" : " undone");
            }
        }
    };
    expectPrinted(true);
    QTest::keyClick(list, Qt::Key_Z, Qt::ControlModifier);  // the last Rotate Left: two left
    EXPECT_EQ(list->rowTurn(4), 2);
    for (int i = 1; i < steps; ++i) QTest::keyClick(list, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_FALSE(window->listHistory().stack().canUndo());
    expectPrinted(false);
}

TEST_F(Conversion, JoinedWithNoValidRowMakesNoFile) {
    window->Option2->setChecked(true);
    const QString x = textFile("x.txt"), y = textFile("y.jpg");
    rows({x, y});
    window->PushButton2_Click();
    EXPECT_FALSE(QFile::exists(out.filePath("x.pdf")));
    // Had it waited for a file, it would have reported it as not created.
    EXPECT_EQ(lastMessage(), "Done.\r\n\r\nThe following files are not valid pictures: \r\n\r\n" + x + "\r\n" + y);
}

TEST_F(Conversion, ProgressShowsEachRow) {
    QStringList sources;
    for (int i = 1; i <= 4; ++i) sources << picture(QString("p%1.jpg").arg(i));
    rows(sources);
    QList<double> values;
    QStringList texts;
    QObject::connect(window->ProgressBar1, &ProgressBar::exactValueChanged, [&](double v) { values << v; });
    QObject::connect(window->ProgressBar1, &ProgressBar::barTextChanged, [&](const QString& t) { texts << t; });
    window->PushButton2_Click();
    EXPECT_EQ(values, (QList<double>{25, 50, 75, 100, 0}));
    EXPECT_EQ(texts, (QStringList{"Processing: p1.jpg", "Processing: p2.jpg", "Processing: p3.jpg",
                                  "Processing: p4.jpg", "Progress Bar"}));
    EXPECT_EQ(window->ProgressBar1->text(), "Progress Bar");
}

TEST_F(Conversion, ChecksBeforeStarting) {
    const struct {
        const char* name;
        QStringList rows;
        QString text1;
        bool besideSources;
        QString message;
    } cases[] = {
        {"empty list", {}, out.path(), false, "No files added."},
        {"missing folder", {"/pics/a.jpg"}, out.filePath("nothere/"), false,
         "Folder does not exist. Please select another folder."},
        {"a file, not a folder", {"/pics/a.jpg"}, picture("file.jpg"), false,
         "Folder does not exist. Please select another folder."},
        {"relative folder", {"/pics/a.jpg"}, "tmp", false,
         "Folder does not exist. Please select another folder."},
        {"empty folder text", {"/pics/a.jpg"}, "", false,
         "Folder does not exist. Please select another folder."},
        {"beside the sources, empty folder text", {textFile("z.txt")}, "", true,
         "Done.\r\n\r\nThe following files are not valid pictures: \r\n\r\n" + pics.filePath("z.txt")},
    };
    for (const auto& c : cases) {
        rows(c.rows);
        (c.besideSources ? window->Option6 : window->Option5)->setChecked(true);
        window->Text1->setText(c.text1);
        window->setMousePointer(Form1::Default);
        window->ProgressBar1->setBarText("Progress Bar");
        window->PushButton2_Click();
        EXPECT_EQ(lastMessage(), c.message) << c.name;
        EXPECT_FALSE(window->IsConverting) << c.name;
        EXPECT_EQ(window->mousePointer(), Form1::Default) << c.name;
    }
}

TEST_F(Conversion, RefusesWithoutThePdfPrinterOrWithAPairOff) {
    const QString a = picture("a.jpg");
    rows({a});
    ASSERT_TRUE(PrintService::removePrinter(printRoot.path(), pdfprinter::printerName()));
    ASSERT_TRUE(PrintService::addPrinter(printRoot.path(), {"Office Laser", "LPT1:", "Discard"}));
    window->PushButton2_Click();
    EXPECT_EQ(lastMessage(), pdfprinter::notInstalledMessage());
    EXPECT_FALSE(QFile::exists(out.filePath("a.pdf")));
    EXPECT_FALSE(PrintService::registryOf(printRoot.path())
                     .getString("Software\\Tenbrook PDF Writer", "OutputFile").has_value());
    EXPECT_FALSE(window->IsConverting);

    installPdfPrinter();
    window->Option4->setAutoExclusive(false);
    window->Option4->setChecked(false);
    window->Option4->setAutoExclusive(true);
    window->PushButton2_Click();
    EXPECT_EQ(lastMessage(), "Please choose one of the \"Height and Width Options\" before converting.");
    EXPECT_FALSE(QFile::exists(out.filePath("a.pdf")));

    // With neither mode on (edited settings) the pictures are joined.
    const QString b = picture("b.jpg");
    rows({a, b});
    window->Option4->setChecked(true);
    for (QRadioButton* mode : {window->Option1, window->Option2}) {
        mode->setAutoExclusive(false);
        mode->setChecked(false);
        mode->setAutoExclusive(true);
    }
    window->PushButton2_Click();
    EXPECT_EQ(lastMessage(), "Done.");
    expectPages(out.filePath("a.pdf"), {a, b});
}

TEST_F(Conversion, AStalePdfIsReplacedAndNeverMistakenForTheNewOne) {
    const QString a = picture("a.jpg", {.width = 100, .height = 80});
    const QString b = picture("b.jpg", {.width = 90, .height = 70});
    const QString a2 = picture("again/a.jpeg", {.width = 50, .height = 40});
    testing::writeFile(out.filePath("a.pdf"), "stale PDF from an earlier run");
    testing::writeFile(out.filePath("b.pdf"), "stale PDF from an earlier run");
    // a.jpg and again/a.jpeg both make a.pdf: the second takes another name rather than replace
    // the PDF the run has just made.
    rows({a, b, a2});
    window->PushButton2_Click();
    expectPages(out.filePath("a.pdf"), {a});
    expectPages(out.filePath("a (2).pdf"), {a2});
    expectPages(out.filePath("b.pdf"), {b});
    EXPECT_EQ(lastMessage(), "Done.");
}

TEST_F(Conversion, PdfsThatDoNotComeAreReported) {
    const QString a = picture("a.jpg"), b = picture("b.jpg");
    // The driver cannot write a.pdf: a folder stands in its place.
    ASSERT_TRUE(QDir(out.path()).mkdir("a.pdf"));
    rows({a, b});
    window->PushButton2_Click();
    expectPages(out.filePath("b.pdf"), {b});
    EXPECT_EQ(lastMessage(), "Done.\r\n\r\nThe following PDF files were not created: \r\n\r\n" + out.filePath("a.pdf"));
    EXPECT_TRUE(reasons().startsWith("\r\n" + out.filePath("a.pdf") + ": ")) << reasons().toStdString();

    // A printer that takes the jobs and never prints them: each wait ends at the time limit.
    window.reset();
    printing.reset();
    QFile::remove(printRoot.filePath("printers.ini"));
    ASSERT_TRUE(PrintService::addPrinter(printRoot.path(), {pdfprinter::printerName(), "LPT1:", "Discard"}));
    config.outputWaitMs = 200;
    loadedForm();
    list = window->ListView1;
    const QString bad = textFile("bad.txt");
    rows({a, bad, b});
    window->PushButton2_Click();
    EXPECT_EQ(lastMessage(), "Done.\r\n\r\nThe following files are not valid pictures: \r\n\r\n" + bad +
                                 "\r\n\r\nThe following PDF files were not created: \r\n\r\n" +
                                 out.filePath("a.pdf") + "\r\n" + out.filePath("b.pdf"));
    // Then each one's reason, in words.
    EXPECT_TRUE(reasons().contains("\r\n" + bad + ": the file starts with")) << reasons().toStdString();
    EXPECT_TRUE(reasons().contains("\r\n" + out.filePath("b.pdf") + ": the PDF printer made no progress"))
        << reasons().toStdString();
}

TEST_F(Conversion, ASecondPressDuringARunDoesNothing) {
    const QString a = picture("a.jpg"), b = picture("b.jpg");
    rows({a, b});
    bool wasConverting = false;
    QTimer::singleShot(0, window.get(), [&] {
        wasConverting = window->IsConverting;
        window->PushButton2_Click();
    });
    window->PushButton2_Click();
    EXPECT_TRUE(wasConverting);
    EXPECT_EQ(dialogs.messageTexts(), QStringList{"Done."});
    expectPages(out.filePath("a.pdf"), {a});
    expectPages(out.filePath("b.pdf"), {b});
}

TEST_F(Conversion, EditingTheListDuringARunIsSafe) {
    QStringList sources;
    for (int i = 1; i <= 5; ++i) sources << picture(QString("p%1.jpg").arg(i));
    for (const bool joined : {false, true}) {
        (joined ? window->Option2 : window->Option1)->setChecked(true);
        QDir(out.path()).removeRecursively();
        QDir().mkpath(out.path());
        rows(sources);
        // After the first picture the user clears the list.
        int passes = 0;
        QObject::connect(window->ProgressBar1, &ProgressBar::barTextChanged, window.get(), [&](const QString& t) {
            if (t.startsWith("Processing") && ++passes == 2) list->removeAllRows();
        });
        window->PushButton2_Click();
        window->ProgressBar1->disconnect();
        EXPECT_EQ(lastMessage(), "Done.") << joined;
        EXPECT_FALSE(window->IsConverting);
        // Only what was converted before the rows went: never a row twice, nothing elsewhere.
        const QStringList made = QDir(out.path()).entryList(QDir::Files | QDir::Hidden);
        if (joined) {
            EXPECT_EQ(made, QStringList{"p1.pdf"});
            expectPages(out.filePath("p1.pdf"), {sources[0]});
        } else {
            EXPECT_EQ(made, QStringList{"p1.pdf"});
        }
    }
}

TEST_F(Conversion, NothingLandsWhereItWasNotMeantTo) {
    const QString a = picture("a.jpg"), b = picture("b.jpg"), c = picture("c.jpg");
    // A picture named "x.pdf" beside which its own PDF would be written.
    const QString named = pics.filePath("x.pdf");
    testing::writeFile(named, testing::makeJpeg({}));
    const QByteArray original = readFile(named);
    window->Option6->setChecked(true);
    rows({named, a});
    window->PushButton2_Click();
    EXPECT_TRUE(readFile(named) == original);
    expectPages(pics.filePath("a.pdf"), {a});
    EXPECT_EQ(lastMessage(), "Done.\r\n\r\nThe following PDF files were not created: \r\n\r\n" + named);
    // Nor by the PDF of a later row named like it.
    const QString x = picture("x.jpg");
    rows({named, x});
    window->PushButton2_Click();
    EXPECT_TRUE(readFile(named) == original);
    EXPECT_EQ(lastMessage(), "Done.\r\n\r\nThe following PDF files were not created: \r\n\r\n" + named +
                                 "\r\n" + named);

    // The output folder goes away during the run: the rest is reported, written nowhere else.
    window->Option5->setChecked(true);
    QTemporaryDir gone;
    window->Text1->setText(gone.path() + "/");
    rows({a, b, c});
    // (b.pdf is written while c.jpg is loaded, and goes with its folder)
    QObject::connect(window->ProgressBar1, &ProgressBar::barTextChanged, window.get(), [&](const QString& t) {
        if (t == "Processing: c.jpg") QDir(gone.path()).removeRecursively();
    });
    window->PushButton2_Click();
    window->ProgressBar1->disconnect();
    EXPECT_FALSE(QFile::exists(gone.path()));
    EXPECT_FALSE(QFile::exists("/b.pdf"));
    EXPECT_EQ(lastMessage(), "Done.\r\n\r\nThe following PDF files were not created: \r\n\r\n" +
                                 gone.path() + "/b.pdf\r\n" + gone.path() + "/c.pdf");

    // The printer's settings cannot be written: its next job would go to the last path.
    window->Text1->setText(out.path() + "/");
    const QString key = PrintService::registryOf(printRoot.path()).keyFile("Software\\Tenbrook PDF Writer");
    QFile::remove(key);
    ASSERT_TRUE(QDir().mkpath(key));
    rows({c});
    window->PushButton2_Click();
    EXPECT_FALSE(QFile::exists(out.filePath("c.pdf")));
    EXPECT_EQ(lastMessage(), "Done.\r\n\r\nThe following PDF files were not created: \r\n\r\n" + out.filePath("c.pdf"));
}

TEST_F(Conversion, AnotherCopyConvertingAtTheSameTimeIsWaitedFor) {
    const QString a = picture("a.jpg"), b = picture("b.jpg");
    rows({a, b});
    // Another copy of the program holds the printer's settings for a job of its own.
    pdfprinter::SettingsLock other(printRoot.filePath("pdfwriter-settings.lock"));
    ASSERT_EQ(other.acquire(0, {}), pdfprinter::SettingsLock::Result::Acquired);
    std::optional<QString> outputFileWhileHeld = QString("(not looked)");
    QTimer::singleShot(200, window.get(), [&] {
        outputFileWhileHeld = PrintService::registryOf(printRoot.path())
                                  .getString("Software\\Tenbrook PDF Writer", "OutputFile");
        other.release();
    });
    window->PushButton2_Click();
    EXPECT_FALSE(outputFileWhileHeld.has_value());  // nothing was written while it held them
    expectPages(out.filePath("a.pdf"), {a});
    expectPages(out.filePath("b.pdf"), {b});
    EXPECT_EQ(lastMessage(), "Done.");
}

TEST_F(Conversion, TheSettingsLockNeverHangsARun) {
    const QString lockFile = printRoot.filePath("pdfwriter-settings.lock");
    const QString a = picture("a.jpg"), b = picture("b.jpg"), bad = textFile("bad.txt");
    // What a copy that crashed or ran on another machine leaves behind is no lock.
    for (const QByteArray& leftover : {QByteArray(), QByteArray("\xff\x00garbage", 9), QByteArray("4242\nviewer\nother-host\n")}) {
        for (QRadioButton* mode : {window->Option1, window->Option2}) {
            mode->setChecked(true);
            QDir(out.path()).removeRecursively();
            QDir().mkpath(out.path());
            testing::writeFile(lockFile, leftover);
            rows({a, b});
            window->PushButton2_Click();
            EXPECT_EQ(lastMessage(), "Done.") << leftover.toStdString();
            EXPECT_TRUE(QFile::exists(out.filePath("a.pdf"))) << leftover.toStdString();
        }
    }

    // A copy that keeps them for longer than the wait: reported as not made, the reason logged,
    // the rows that are not pictures still listed.
    window.reset();
    config.outputWaitMs = 300;
    loadedForm();
    list = window->ListView1;
    pdfprinter::SettingsLock other(lockFile);
    ASSERT_EQ(other.acquire(0, {}), pdfprinter::SettingsLock::Result::Acquired);
    const QString notCreated = "\r\n\r\nThe following PDF files were not created: \r\n\r\n";
    const QString invalid = "Done.\r\n\r\nThe following files are not valid pictures: \r\n\r\n" + bad;
    QDir(out.path()).removeRecursively();
    QDir().mkpath(out.path());
    rows({a, bad, b});
    window->Option1->setChecked(true);
    window->PushButton2_Click();
    EXPECT_EQ(lastMessage(), invalid + notCreated + out.filePath("a.pdf") + "\r\n" + out.filePath("bad.pdf") +
                                 "\r\n" + out.filePath("b.pdf"));
    window->Option2->setChecked(true);
    window->PushButton2_Click();
    EXPECT_EQ(lastMessage(), invalid + notCreated + out.filePath("a.pdf"));
    EXPECT_TRUE(QDir(out.path()).isEmpty());
    EXPECT_TRUE(readFile(printRoot.filePath("pdfwriter.log")).contains("in use by another copy"));
}

TEST_F(Conversion, ClosingTheWindowStopsTheRun) {
    const QString a = picture("a.jpg"), b = picture("b.jpg"), c = picture("c.jpg");
    for (const bool joined : {false, true}) {
        (joined ? window->Option2 : window->Option1)->setChecked(true);
        QDir(out.path()).removeRecursively();
        QDir().mkpath(out.path());
        dialogs.messages.clear();
        rows({a, b, c});
        QObject::connect(window->ProgressBar1, &ProgressBar::barTextChanged, window.get(), [&](const QString& t) {
            if (t == "Processing: b.jpg") window->close();
        });
        window->PushButton2_Click();
        window->ProgressBar1->disconnect();
        // Per picture, what was made before stays; joined, no PDF of some of the pictures.
        EXPECT_EQ(QDir(out.path()).entryList(QDir::Files | QDir::Hidden),
                  joined ? QStringList{} : QStringList{"a.pdf"});
        EXPECT_TRUE(dialogs.messages.isEmpty());  // no report for a window that is gone
        // The window is loaded again for the next mode.
        window.reset();
        loadedForm();
        list = window->ListView1;
    }
}

TEST_F(Conversion, APictureChangedDuringTheRunIsLeftOutNotMisprinted) {
    window->Option2->setChecked(true);
    const QString a = picture("a.jpg"), b = picture("b.jpg"), c = picture("c 100%.jpg");
    rows({a, b, c});
    QStringList texts;
    QObject::connect(window->ProgressBar1, &ProgressBar::barTextChanged, window.get(), [&](const QString& t) {
        texts << window->ProgressBar1->text();
        if (t == "Processing: c 100%.jpg") testing::writeFile(b, testing::makeJpeg({.width = 20, .height = 20}));
    });
    window->PushButton2_Click();
    expectPages(out.filePath("a.pdf"), {a, c});
    EXPECT_EQ(lastMessage(), "Done.\r\n\r\nThe following PDF files lack pictures that changed or were removed "
                             "before they were printed: \r\n\r\n" + out.filePath("a.pdf"));
    // A name with a %-sign shows as it is.
    EXPECT_TRUE(texts.contains("Processing: c 100%.jpg"));
}

TEST(OutputPaths, NamedAfterThePicture) {
    const struct {
        const char* folder;
        const char* source;
        const char* inFolder;
        const char* beside;
    } windows[] = {
        {R"(D:\out\)", R"(C:\pics\holiday.photo.jpg)", R"(D:\out\holiday.photo.pdf)", R"(C:\pics\holiday.photo.pdf)"},
        {R"(D:\out)", R"(C:\pics\a.jpg)", R"(D:\out\a.pdf)", R"(C:\pics\a.pdf)"},
        {R"(C:\)", R"(E:\a.jpg)", R"(C:\a.pdf)", R"(E:\a.pdf)"},
        {R"(D:\out\)", R"(\\server\share\p.jpeg)", R"(D:\out\p.pdf)", R"(\\server\share\p.pdf)"},
        {R"(D:\out\)", R"(C:\pics\scan)", R"(D:\out\scan.pdf)", R"(C:\pics\scan.pdf)"},
        {R"(D:\out\)", R"(C:\pics\.jpg)", R"(D:\out\.jpg.pdf)", R"(C:\pics\.jpg.pdf)"},
    };
    for (const auto& c : windows) {
        EXPECT_EQ(outputPathInFolder(c.folder, c.source, PathStyle::Windows), c.inFolder) << c.source;
        EXPECT_EQ(outputPathBesideSource(c.source, PathStyle::Windows), c.beside) << c.source;
    }
    EXPECT_EQ(outputPathInFolder("/out/", "/pics/a.b.jpg", PathStyle::Posix), "/out/a.b.pdf");
    EXPECT_EQ(outputPathInFolder("/", "/pics/a.jpg", PathStyle::Posix), "/a.pdf");
    EXPECT_EQ(outputPathBesideSource("/a.jpg", PathStyle::Posix), "/a.pdf");
}

// Esc during a run asks first. Stopped, one PDF a picture finishes the PDF under way and makes
// no other; one PDF of all the pictures is not made at all.
TEST_F(Conversion, ARunCanBeStopped) {
    const QStringList pictures = {picture("a.jpg"), picture("b.jpg"), picture("c.jpg")};
    const struct {
        bool joined;
        MessageAnswer answer;
        qsizetype most, least;  // PDFs made
        const char* report;
    } cases[] = {
        {false, MessageAnswer::Yes, 1, 0, "Stopped."},
        {true, MessageAnswer::Yes, 0, 0, "Stopped."},
        {false, MessageAnswer::No, 3, 3, "Done."},
        {true, MessageAnswer::No, 1, 1, "Done."},
    };
    for (const auto& c : cases) {
        for (const QString& name : QDir(out.path()).entryList(QDir::Files | QDir::Hidden)) QFile::remove(out.filePath(name));
        rows(pictures);
        (c.joined ? window->Option2 : window->Option1)->setChecked(true);
        dialogs.answers = {c.answer};
        const qsizetype before = dialogs.messages.size();
        QTimer::singleShot(0, [&] {
            QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
            QApplication::sendEvent(window.get(), &escape);
        });
        window->PushButton2_Click();
        ASSERT_EQ(dialogs.messages.size(), before + 2) << c.report;
        EXPECT_TRUE(dialogs.messages[before].text.startsWith("Stop converting?"));
        EXPECT_EQ(lastMessage(), c.report);
        const QStringList made = QDir(out.path()).entryList(QDir::Files | QDir::Hidden);
        EXPECT_LE(made.size(), c.most) << made.join(' ').toStdString();
        EXPECT_GE(made.size(), c.least) << made.join(' ').toStdString();
        for (const QString& name : made) EXPECT_EQ(testing::readPdf(out.filePath(name)).size(), c.joined ? 3u : 1u) << name.toStdString();
    }
}

// With text recognition on, the bar counts the pages recognised while the run waits for them.
TEST_F(Conversion, TheBarCountsPagesRecognised) {
    PrintService::registryOf(printRoot.path()).setString("Software\\Tenbrook PDF Writer", "Ocr", "eng");
    const QString page = pics.filePath("page.jpg");
    testing::writeFile(page, testing::textJpeg(testing::drawTextPage().image, 1, 300));
    rows({page, page});
    window->Option2->setChecked(true);
    QStringList texts;
    QObject::connect(window->ProgressBar1, &ProgressBar::barTextChanged, window.get(),
                     [&](const QString& t) { texts << t; });
    window->PushButton2_Click();
    window->ProgressBar1->disconnect();
    EXPECT_EQ(lastMessage(), "Done.");
    const QStringList counted = texts.filter(QRegularExpression("^Recognising text: [0-2] of 2 pages$"));
    ASSERT_FALSE(counted.isEmpty()) << texts.join(" | ").toStdString();
    for (qsizetype i = 1; i < counted.size(); ++i)  // the count only goes up
        EXPECT_LE(counted[i - 1].mid(18, 1).toInt(), counted[i].mid(18, 1).toInt()) << texts.join(" | ").toStdString();
}

}  // namespace
}  // namespace pictolio
