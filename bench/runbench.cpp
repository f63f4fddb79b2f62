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

#include "app/form1.h"
#include "convert/pdfprinter.h"
#include "filelist/filelist.h"
#include "platform/filesystem.h"
#include "platform/picture.h"
#include "platform/printservice.h"
#include "platform/registry.h"
#include "platform/settingsstore.h"
#include "tests/fakes/fakedialogs.h"
#include "tests/fakes/fakeshell.h"

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
    QTemporaryDir settingsRoot, printRoot;
    PrintService::addPrinter(printRoot.path(), {pdfprinter::printerName(), QStringLiteral("CPW2:"),
                                                pdfprinter::printerName()});
    testing::FakeDialogs dialogs;
    PlatformSettingsStore settings(settingsRoot.path());
    testing::FakeShell shell;
    PrintService printing(printRoot.path());
    Registry registry(PrintService::registryOf(printRoot.path()));
    PictureDecoder decoder;
    PosixFileSystem files;
    AppConfig config = AppConfig::defaults(QCoreApplication::applicationDirPath());
    config.random = [] { return 0.5; };
    Form1 form({dialogs, settings, shell, printing, registry, decoder, files}, config);
    form.Form_Load();
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
