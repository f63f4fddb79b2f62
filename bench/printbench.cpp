// SPDX-License-Identifier: GPL-3.0-or-later
// print-bench [--joined] [--stretch] OUTFOLDER FILE...: prints the pictures on the PDF printer,
// as the program's run does (load, draw, end of document, wait for the file), in a printing
// set-up of its own, and reports the time and the peak memory.
#include <sys/resource.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cstdio>

#include "convert/pdfprinter.h"
#include "pictures/picture.h"
#include "platform/printservice.h"
#include "platform/registry.h"

using namespace pictolio;

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    const bool joined = args.removeAll(QStringLiteral("--joined")) > 0;
    const bool stretch = args.removeAll(QStringLiteral("--stretch")) > 0;
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: print-bench [--joined] [--stretch] OUTFOLDER FILE...\n");
        return 2;
    }
    const QString outFolder = args.takeFirst();
    QTemporaryDir root;
    PrintService::addPrinter(root.path(), {pdfprinter::printerName(), QStringLiteral("CPW2:"),
                                           pdfprinter::printerName()});
    PrintService service(root.path());
    Registry registry(PrintService::registryOf(root.path()));
    PictureDecoder decoder;
    pdfprinter::selectPdfPrinter(service);
    PrinterDevice& dc = service.printer();

    const auto outputFor = [&](const QString& source) {
        return outFolder + QLatin1Char('/') + QFileInfo(source).completeBaseName() + QStringLiteral(".pdf");
    };
    const auto draw = [&](const Picture& p) {
        dc.setScaleMode(ScaleMode::Pixels);
        if (stretch)
            dc.paintPicture(p, 0, 0, float(dc.scaleWidth()), float(dc.scaleHeight()));
        else
            dc.paintPicture(p, 0, 0);
    };

    QElapsedTimer timer;
    timer.start();
    int invalid = 0;
    qint64 loadNs = 0;
    const auto loadPicture = [&](const QString& file) {
        QElapsedTimer t;
        t.start();
        Picture p = decoder.load(file);
        loadNs += t.nsecsElapsed();
        return p;
    };
    if (joined) {
        pdfprinter::writeOutputSettings(registry, outputFor(args.first()));
        for (int i = 0; i < args.size(); ++i) {
            const Picture p = loadPicture(args[i]);
            if (p.isEmpty()) {
                ++invalid;
                continue;
            }
            draw(p);
            if (i + 1 < args.size()) dc.newPage();
        }
        dc.endDoc();
        service.pdfDriver().waitUntilIdle();
    } else {
        for (const QString& file : args) {
            pdfprinter::writeOutputSettings(registry, outputFor(file));
            const Picture p = loadPicture(file);
            if (p.isEmpty()) {
                ++invalid;
                continue;
            }
            draw(p);
            dc.endDoc();
            service.pdfDriver().waitUntilIdle();
        }
    }
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("pictures %lld invalid %d seconds %.3f (loading %.3f) peak_rss_kb %ld\n",
                static_cast<long long>(args.size()), invalid, seconds, double(loadNs) / 1e9,
                usage.ru_maxrss);
    return 0;
}
