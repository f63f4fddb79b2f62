// pictolio-printer: installs, removes or reports the PDF printer for the current user, and
// shows or changes its printing preferences.
#include <QApplication>
#include <QDir>
#include <QTextStream>
#include <cstring>
#include <memory>

#include "app/preferenceswindow.h"
#include "platform/picture.h"

#include "pdfwriter/driver.h"
#include "platform/printservice.h"

using pictolio::PrinterInfo;
using pictolio::PrintService;
using pdfwriter::PdfWriterDriver;

namespace {

// "preferences --show" and "preferences --set NAME=VALUE...": every value is checked before any
// is written, so a bad one changes nothing.
int preferencesCommand(const QStringList& args, const QString& root, QTextStream& out, QTextStream& err) {
    const pictolio::RegistryStore registry = PrintService::registryOf(root);
    const QString key = PdfWriterDriver::registryKey();
    if (args.value(0) == QLatin1String("--set") && args.size() > 1) {
        QList<std::pair<QString, QString>> values;
        for (const QString& assignment : args.mid(1)) {
            const qsizetype eq = assignment.indexOf(QLatin1Char('='));
            const QString name = assignment.left(eq), value = eq < 0 ? QString() : assignment.mid(eq + 1);
            const auto checked = pdfwriter::preferences::check(name, value);
            if (eq < 0 || !checked.error.isEmpty()) {
                err << "pictolio-printer: "
                    << (eq < 0 ? QStringLiteral("\"%1\" is not NAME=VALUE").arg(assignment) : checked.error)
                    << "\nNothing was changed.\n";
                return 2;
            }
            values.append({pdfwriter::preferences::valueName(name), checked.stored});
        }
        registry.createKey(key);
        for (const auto& [valueName, stored] : values) {
            if (!registry.setString(key, valueName, stored)) {
                err << "pictolio-printer: could not write " << registry.keyFile(key) << "\n";
                return 1;
            }
        }
    } else if (args.value(0) != QLatin1String("--show")) {
        err << "usage: pictolio-printer preferences [--show | --set NAME=VALUE...]\n"
            << "names: " << pdfwriter::preferences::names().join(QStringLiteral(", ")) << "\n";
        return 2;
    }
    const pdfwriter::PageSetup setup = pdfwriter::preferences::read(registry, key, PdfWriterDriver::localPaperName());
    for (const auto& [name, value] : pdfwriter::preferences::describe(setup)) out << name << "=" << value << "\n";
    return 0;
}

}  // namespace

int main(int argc, char* argv[]) {
    // The preferences window needs a desktop; everything else runs anywhere.
    bool window = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "preferences") == 0) window = true;
        if (std::strcmp(argv[i], "--set") == 0 || std::strcmp(argv[i], "--show") == 0) window = false;
    }
    std::unique_ptr<QCoreApplication> application =
        window ? std::make_unique<QApplication>(argc, argv) : std::make_unique<QCoreApplication>(argc, argv);
    QCoreApplication& app = *application;
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
    if (command == QLatin1String("preferences")) {
        if (args.size() > 1) return preferencesCommand(args.mid(1), root, out, err);
        pictolio::PictureDecoder decoder;
        const QDir samples(QCoreApplication::applicationDirPath() + QStringLiteral("/Samples"));
        const QString sample = samples.entryList({QStringLiteral("*.jpg")}, QDir::Files, QDir::Name).value(0);
        pictolio::PreferencesWindow preferences(PrintService::registryOf(root), decoder,
                                                sample.isEmpty() ? QString() : samples.filePath(sample));
        preferences.show();
        return app.exec();
    }
    err << "usage: pictolio-printer install|remove|status|preferences [--root FOLDER]\n"
        << "       pictolio-printer preferences [--show | --set NAME=VALUE...]\n";
    return 2;
}
