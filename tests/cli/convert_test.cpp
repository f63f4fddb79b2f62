// pictolio-convert end to end: the real program, real pictures and folders, PDFs read back.
#include <gtest/gtest.h>

#include <signal.h>
#include <tiffio.h>

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

#include "tests/support/pdfreader.h"
#include "tests/support/picturefiles.h"
#include "tests/support/testpictures.h"

namespace pictolio {
namespace {

class ConvertCommand : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(home.isValid() && pics.isValid() && out.isValid()); }
    QString picture(const QString& relative, const testing::JpegRecipe& recipe = {}) {
        const QString path = pics.filePath(relative);
        QDir().mkpath(QFileInfo(path).path());
        testing::writeFile(path, testing::makeJpeg(recipe));
        return path;
    }
    // Runs pictolio-convert with its own configuration folder; the exit code.
    int run(const QStringList& arguments, QProcess* process = nullptr) {
        QProcess own;
        QProcess& p = process ? *process : own;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CONFIG_HOME", home.path());
        p.setProcessEnvironment(env);
        p.setWorkingDirectory(out.path());
        p.start(QCoreApplication::applicationDirPath() + "/pictolio-convert", arguments);
        p.waitForFinished(120000);
        errors = QString::fromUtf8(p.readAllStandardError());
        output = QString::fromUtf8(p.readAllStandardOutput());
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    }
    QStringList made(const QString& folder) const {
        return QDir(folder).entryList({"*.pdf", ".pictolio-*", "*.part"}, QDir::Files | QDir::Hidden, QDir::Name);
    }

    QTemporaryDir home, pics, out;
    QString errors, output;
};

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
        {{}, "no pictures"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(run(c.arguments), 2) << c.named;
        EXPECT_TRUE(errors.contains(c.named)) << c.named << ": " << errors.toStdString();
        EXPECT_TRUE(made(out.path()).isEmpty()) << c.named;
    }
    EXPECT_EQ(run({"--help"}), 0);
    EXPECT_TRUE(output.contains("--orientation"));
}

TEST_F(ConvertCommand, InterruptedRunsLeaveNoPartialPdf) {
    QStringList sources;
    for (int i = 0; i < 40; ++i)
        sources << picture(QString("p%1.jpg").arg(i, 2, 10, QChar('0')), {.width = 1600, .height = 1200});
    for (const bool joined : {true, false}) {
        QDir(out.path()).removeRecursively();
        QDir().mkpath(out.path());
        QProcess p;
        QObject::connect(&p, &QProcess::readyReadStandardError, [&] {
            if (p.state() == QProcess::Running) ::kill(pid_t(p.processId()), SIGINT);
        });
        const int code = run((joined ? QStringList{"--join"} : QStringList{}) + sources, &p);
        EXPECT_EQ(code, 1) << joined << errors.toStdString();
        EXPECT_TRUE(errors.contains("interrupted")) << errors.toStdString();
        const QStringList files = made(out.path());
        if (joined) {
            EXPECT_TRUE(files.isEmpty()) << files.join(' ').toStdString();
        }
        EXPECT_LT(files.size(), sources.size());
        for (const QString& f : files) {
            EXPECT_TRUE(f.endsWith(".pdf")) << f.toStdString();
            EXPECT_EQ(testing::qpdfCheckProblems(out.filePath(f)), "") << f.toStdString();
        }
    }
}

}  // namespace
}  // namespace pictolio
