// SPDX-License-Identifier: GPL-3.0-or-later
// run-bench [--joined] [--stretch] OUTFOLDER FILE...: a whole conversion as the user starts
// it: the main window (offscreen) with the files in its list, "Start Converting" pressed, the
// real PDF printer in a set-up of its own. Reports the time, the peak memory and the report.
#include <sys/resource.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QRadioButton>
#include <QTemporaryDir>
#include <cstdio>

#include "bench/benchwindow.h"
#include "filelist/filelist.h"

using namespace pictolio;

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    const bool joined = args.removeAll(QStringLiteral("--joined")) > 0;
    const bool stretch = args.removeAll(QStringLiteral("--stretch")) > 0;
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: run-bench [--joined] [--stretch] OUTFOLDER FILE...\n");
        return 2;
    }
    const QString outFolder = args.takeFirst();
    bench::BenchWindow window;
    Form1& form = window.form;
    testing::FakeDialogs& dialogs = window.dialogs;
    (joined ? form.Option2 : form.Option1)->setChecked(true);
    (stretch ? form.Option3 : form.Option4)->setChecked(true);
    form.Option5->setChecked(true);
    form.Text1->setText(outFolder);
    for (const QString& file : args) form.ListView1->appendRow(file);

    QElapsedTimer timer;
    timer.start();
    form.PushButton2_Click();
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    const QString report = dialogs.messageTexts().join(QStringLiteral(" | ")).replace(QStringLiteral("\r\n"), QStringLiteral(" "));
    std::printf("pictures %lld seconds %.3f peak_rss_kb %ld report %s\n",
                static_cast<long long>(args.size()), seconds, usage.ru_maxrss, qPrintable(report));
    return report == QLatin1String("Done.") ? 0 : 1;
}
