// pictolio-printer: installs, removes or reports the PDF printer for the current user.
#include <QCoreApplication>
#include <QTextStream>

#include "pdfwriter/driver.h"
#include "platform/printservice.h"

using pictolio::PrinterInfo;
using pictolio::PrintService;
using pdfwriter::PdfWriterDriver;

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QTextStream out(stdout), err(stderr);
    QStringList args = app.arguments().mid(1);
    QString root = PrintService::defaultRoot();
    const qsizetype rootAt = args.indexOf(QStringLiteral("--root"));
    if (rootAt >= 0 && rootAt + 1 < args.size()) {
        root = args[rootAt + 1];
        args.remove(rootAt, 2);
    }
    const QString name = QString::fromLatin1(PdfWriterDriver::printerName);
    const QString command = args.value(0);
    const auto installed = [&] {
        for (const PrinterInfo& p : PrintService::installedPrinters(root))
            if (p.deviceName == name) return true;
        return false;
    };

    if (command == QLatin1String("install")) {
        if (!PrintService::addPrinter(root, {name, QString::fromLatin1(PdfWriterDriver::port), name})) {
            err << "Could not install " << name << " in " << root << "\n";
            return 1;
        }
        out << name << " is installed on " << PdfWriterDriver::port << ".\n";
        return 0;
    }
    if (command == QLatin1String("remove")) {
        if (!PrintService::removePrinter(root, name)) {
            err << "Could not remove " << name << " from " << root << "\n";
            return 1;
        }
        out << name << " is removed.\n";
        return 0;
    }
    if (command == QLatin1String("status")) {
        out << name << (installed() ? " is installed.\n" : " is not installed.\n");
        return installed() ? 0 : 3;
    }
    err << "usage: pictolio-printer install|remove|status [--root FOLDER]\n";
    return 2;
}
