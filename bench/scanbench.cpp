// SPDX-License-Identifier: GPL-3.0-or-later
// scan-bench FOLDER [FILES]: "Add All File(s) In Folder" on a tree of FILES files (100,000 by
// default; made in FOLDER once), the main window offscreen. Reports the time, the rows added,
// the peak memory and the longest stretch without window events (the window would freeze).
#include <sys/resource.h>

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>

#include "bench/benchwindow.h"
#include "filelist/filelist.h"

using namespace pictolio;

namespace {

// 10 folders, each with 10 subfolders, each with 10 more: 1,110 folders; the files spread
// evenly, nine in ten of them JPEGs.
void makeTree(const QString& root, int files) {
    QStringList folders{root};
    for (int a = 0; a < 10; ++a) {
        const QString fa = QStringLiteral("%1/Album %2").arg(root, QString::number(a));
        folders << fa;
        for (int b = 0; b < 10; ++b) {
            const QString fb = QStringLiteral("%1/Day %2").arg(fa, QString::number(b));
            folders << fb;
            for (int c = 0; c < 10; ++c) folders << QStringLiteral("%1/Set %2").arg(fb, QString::number(c));
        }
    }
    for (const QString& f : folders) QDir().mkpath(f);
    for (int i = 0; i < files; ++i) {
        const QString name = QStringLiteral("%1/IMG_%2.%3")
                                 .arg(folders[i % folders.size()], QString::number(i),
                                      i % 10 == 9 ? QStringLiteral("txt") : QStringLiteral("jpg"));
        QFile f(name);
        f.open(QIODevice::WriteOnly);
    }
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: scan-bench FOLDER [FILES]\n");
        return 2;
    }
    const QString root = QString::fromLocal8Bit(argv[1]);
    const int count = argc > 2 ? std::atoi(argv[2]) : 100000;
    if (!QFile::exists(root + QStringLiteral("/.complete"))) {
        QDir(root).removeRecursively();
        makeTree(root, count);
        QFile(root + QStringLiteral("/.complete")).open(QIODevice::WriteOnly);
    }

    bench::BenchWindow window;
    Form1& form = window.form;
    testing::FakeDialogs& dialogs = window.dialogs;

    // The longest time between two looks at the window's events.
    QElapsedTimer sinceEvents;
    qint64 longestGap = 0;
    QObject::connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::awake, [&] {
        longestGap = std::max(longestGap, sinceEvents.nsecsElapsed());
        sinceEvents.restart();
    });

    dialogs.inputAnswers = {QStringLiteral("jpg")};
    dialogs.folderAnswers = {root};
    QElapsedTimer timer;
    timer.start();
    sinceEvents.start();
    form.PushButton3_Click();
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    longestGap = std::max(longestGap, sinceEvents.nsecsElapsed());
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("rows %d seconds %.3f longest_without_events_ms %.1f peak_rss_kb %ld\n",
                form.ListView1->rowCount(), seconds, double(longestGap) / 1e6, usage.ru_maxrss);
    return 0;
}
