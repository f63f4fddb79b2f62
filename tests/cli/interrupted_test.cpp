// SPDX-License-Identifier: GPL-3.0-or-later
// pictolio-convert's runs that end early or fail: nothing partial is left, and the reason is said.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <tiffio.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <atomic>
#include <qpdf/QPDF.hh>
#include <random>
#include <thread>

#include "tests/cli/commandfixture.h"
#include "tests/support/pdfreader.h"
#include "tests/support/picturefiles.h"
#include "tests/support/testpictures.h"

namespace pictolio {
namespace {
using testing::ConvertCommand;

// Standard output gets the PDF a piece at a time: a large PDF costs the run no more memory than
// a small one.
TEST_F(ConvertCommand, StandardOutputIsStreamed) {
    std::mt19937 noise(7);
    const int side = 2000;
    std::vector<unsigned char> rgb(std::size_t(side) * side * 3);
    for (unsigned char& sample : rgb) sample = static_cast<unsigned char>(noise());
    const QString big = pics.filePath("noise.jpg");
    testing::writeFile(big, testing::makeJpegFromRgb({.width = side, .height = side, .quality = 100}, rgb.data()));
    const auto peakKiB = [] {
        rusage usage{};
        getrusage(RUSAGE_CHILDREN, &usage);
        return usage.ru_maxrss;
    };
    QProcess small;
    small.setStandardOutputFile(out.filePath("small.pdf"));
    ASSERT_EQ(run({"-j", "-o", "-", big}, &small), 0) << errors.toStdString();
    const long smallPeak = peakKiB();
    QProcess large;
    large.setStandardOutputFile(out.filePath("large.pdf"));
    ASSERT_EQ(run({"-j", "-o", "-", big, big, big, big, big, big, big, big, big, big}, &large), 0);
    const qint64 largeKiB = QFileInfo(out.filePath("large.pdf")).size() / 1024;
    EXPECT_GT(largeKiB, 40 * 1024);
    EXPECT_LT(peakKiB() - smallPeak, largeKiB / 4) << "the PDF is " << largeKiB << " KiB";
    EXPECT_EQ(testing::readPdf(out.filePath("large.pdf")).size(), 10u);
}

// The run's temporary folders go with it: when a reader of standard output goes away, and at
// the next run when it was killed outright.
TEST_F(ConvertCommand, TemporaryFoldersDoNotOutliveTheirRun) {
    QStringList sources;
    for (int i = 0; i < 4; ++i) sources << picture(QString("p%1.jpg").arg(i), {.width = 1600, .height = 1200});
    const QString killed = tmp.filePath("pictolio-convert-2147483647-AbCdEf");
    const QString running = tmp.filePath(QString("pictolio-convert-%1-AbCdEf").arg(QCoreApplication::applicationPid()));
    // A run of another machine sharing the folder: its process is none of this machine's.
    const QString elsewhere = tmp.filePath("pictolio-convert-2147483647-node7.cluster-AbCdEf");
    for (const QString& folder : {killed, running, elsewhere}) {
        QDir().mkpath(folder);
        testing::writeFile(folder + "/staged.pdf", "%PDF-");
    }

    // The reader takes a few bytes and goes: a write error, exit 1, nothing of the run left.
    QProcess p;
    const QStringList piped{"-c", "\"$0\" \"$@\" | head -c 16 >/dev/null; exit ${PIPESTATUS[0]}",
                            QCoreApplication::applicationDirPath() + "/pictolio-convert", "-j", "-o", "-"};
    const int code = run(piped + sources, &p, "/bin/bash");
    EXPECT_EQ(code, 1) << errors.toStdString();
    EXPECT_TRUE(errors.contains("PDF not created: (standard output)")) << errors.toStdString();
    QStringList left = leftInTmp(), kept{QFileInfo(elsewhere).fileName(), QFileInfo(running).fileName()};
    left.sort(), kept.sort();
    EXPECT_EQ(left.join(' ').toStdString(), kept.join(' ').toStdString());
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
            if (p.state() == QProcess::Running && p.processId() > 0) ::kill(pid_t(p.processId()), joined ? SIGINT : SIGTERM);
        });
        const int code = run((joined ? QStringList{"--join"} : QStringList{}) + sources, &p);
        EXPECT_EQ(code, 1) << joined << errors.toStdString();
        EXPECT_EQ(leftInTmp().join(' ').toStdString(), "");
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

// A PDF being written when the run is interrupted (SIGTERM) is abandoned at once, and when the run
// is killed outright (SIGKILL) nothing of it is left either: not in the output folder, and (its
// staging folder emptied by the next run) not in the temporary folder.
TEST_F(ConvertCommand, APdfCutOffLeavesNothingBehind) {
    // A page decoded and compressed as it is written: a second or two of writing to catch.
    QImage noise(3000, 3000, QImage::Format_RGB32);
    std::mt19937 random(3);
    for (int y = 0; y < noise.height(); ++y) {
        auto* line = reinterpret_cast<quint32*>(noise.scanLine(y));
        for (int x = 0; x < noise.width(); ++x) line[x] = random() | 0xFF000000u;
    }
    const QString big = pics.filePath("big.tif");
    testing::writeTiff(big, {{.upright = noise}});
    const QString small = picture("small.jpg");
    for (const bool joined : {false, true}) {
        for (const int signal : {SIGTERM, SIGKILL}) {
            const std::string name = std::string(joined ? "joined, " : "") + (signal == SIGKILL ? "SIGKILL" : "SIGTERM");
            // The signal goes when the run has begun converting (it says so on stderr) and has a
            // file open where its PDF is written.
            // (a joined PDF in a hidden folder of its own beside its name)
            const QString writing = out.path();
            QProcess p;
            std::thread signaller;
            std::atomic<bool> begun{false}, sent{false};
            QObject::connect(&p, &QProcess::readyReadStandardError, [&] { begun = true; });
            QObject::connect(&p, &QProcess::started, [&] {
                signaller = std::thread([&, pid = pid_t(p.processId())] {
                    for (int tries = 0; tries < 60000 && !sent; ++tries, ::usleep(1000)) {
                        if (!begun) continue;
                        QDir fds(QString("/proc/%1/fd").arg(pid));
                        for (const QString& fd : fds.entryList(QDir::System | QDir::Files | QDir::NoDotAndDotDot)) {
                            // A file without a name ("#inode (deleted)"), or a hidden one.
                            char link[4096] = {};
                            if (::readlink(QFile::encodeName(fds.filePath(fd)).constData(), link, sizeof link - 1) <= 0) continue;
                            const QString target = QFile::decodeName(link);
                            if (target.startsWith(writing + "/") && (target.contains("/#") || target.contains("/.pictolio-"))) {
                                sent = ::kill(pid, signal) == 0;
                                break;
                            }
                        }
                    }
                });
            });
            const int code = run((joined ? QStringList{"-j", "-o", out.filePath("j.pdf")} : QStringList{}) << big, &p);
            signaller.join();
            ASSERT_TRUE(sent) << name;
            EXPECT_EQ(code, signal == SIGKILL ? -1 : 1) << name << ": " << errors.toStdString();
            EXPECT_EQ(made(out.path()).join(' ').toStdString(), "") << name;
            QStringList staged;
            for (const QString& folder : leftInTmp()) staged += made(tmp.filePath(folder));
            const QStringList besides = QDir(out.path()).entryList({".pictolio-convert-*"}, QDir::Dirs | QDir::Hidden);
            for (const QString& folder : besides) staged += made(out.filePath(folder));
            EXPECT_EQ(staged.join(' ').toStdString(), "") << name;
            // The next run clears what is left (a joined one, beside its PDF too).
            EXPECT_EQ(run({"-j", "-o", out.filePath("next.pdf"), small}), 0) << name;
            QFile::remove(out.filePath("next.pdf"));
            EXPECT_EQ(leftInTmp().join(' ').toStdString(), "") << name;
            EXPECT_EQ(QDir(out.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).join(' ').toStdString(), "") << name;
        }
    }
}

// A PDF that is not made is named with the reason.
TEST_F(ConvertCommand, APdfNotMadeSaysWhy) {
    const QString a = picture("a.jpg"), big = picture("big.jpg", {.width = 1600, .height = 1200});
    // Its PDF's name, "...n.pdf", is two bytes longer than the longest a file may have.
    const QString longName = pics.filePath(QString(253, 'n') + ".j");
    testing::writeFile(longName, testing::makeJpeg({}));
    // A folder no one may add to (chattr +i), and a full disk (a small tmpfs): where they can be had.
    QTemporaryDir locked, full;
    const bool canLock = QProcess::execute("chattr", {"+i", locked.path()}) == 0;
    const bool canFill =
        QProcess::execute("mount", {"-t", "tmpfs", "-o", "size=64k", "pictolio-test", full.path()}) == 0;
    const struct {
        const char* name;
        QStringList arguments;
        const char* why;
        bool possible;
    } cases[] = {
        {"name over 255 bytes", {longName}, "File name too long", true},
        {"joined, name over 255 bytes", {"-j", "-o", out.filePath(QString(300, 'j') + ".pdf"), a}, "File name too long", true},
        {"folder that takes no new file", {"-o", locked.path(), a}, "Operation not permitted", canLock},
        {"joined, folder that takes no new file", {"-j", "-o", locked.filePath("j.pdf"), a}, "Operation not permitted", canLock},
        {"full disk", {"-o", full.path(), big}, "No space left on device", canFill},
        {"joined, full disk", {"-j", "-o", full.filePath("j.pdf"), big}, "No space left on device", canFill},
    };
    for (const auto& c : cases) {
        if (!c.possible) continue;
        EXPECT_EQ(run(c.arguments), 1) << c.name;
        const QString line = errors.split('\n').filter("PDF not created: ").value(0);
        EXPECT_TRUE(line.endsWith(c.why)) << c.name << ": " << errors.toStdString();
    }
    if (canLock) QProcess::execute("chattr", {"-i", locked.path()});
    // A temporary folder too small for the joined PDF: it is made beside its name, where there is room.
    if (canFill) {
        tempFolder = full.path();
        EXPECT_EQ(run({"-j", "-o", out.filePath("j.pdf"), big, big}), 0) << errors.toStdString();
        EXPECT_TRUE(QFileInfo(out.filePath("j.pdf")).size() > 64 * 1024);
        EXPECT_EQ(QDir(out.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList{"j.pdf"});
        tempFolder.clear();
        QProcess::execute("umount", {full.path()});
    }
}

}  // namespace
}  // namespace pictolio
