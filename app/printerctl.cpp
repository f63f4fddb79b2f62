// SPDX-License-Identifier: GPL-3.0-or-later
// pictolio-printer: installs, removes or reports the PDF printer for the current user, and
// shows or changes its printing preferences.
#include <QApplication>
#include <QDir>
#include <QTextStream>
#include <cstring>
#include <memory>

#include "appconfig.h"
#include "app/preferenceswindow.h"
#include "common/installdirs.h"
#include "pictures/picture.h"

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
            if (eq < 0 || !checked) {
                err << "pictolio-printer: "
                    << (eq < 0 ? QStringLiteral("\"%1\" is not NAME=VALUE").arg(assignment) : checked.reason())
                    << "\nNothing was changed.\n";
                return 2;
            }
            values.append({pdfwriter::preferences::valueName(name), *checked});
        }
        // Values that depend on each other (the margin on the paper): refused when the new ones
        // make them disagree.
        const QMap<QString, QString> before = registry.values(key);
        QMap<QString, QString> merged = before;
        for (const auto& [valueName, value] : values) merged.insert(valueName, value);
        const QString paper = PdfWriterDriver::localPaperName();
        const QString conflict = pdfwriter::preferences::checkTogether(merged, paper).reason();
        if (!conflict.isEmpty() && conflict != pdfwriter::preferences::checkTogether(before, paper).reason()) {
            err << "pictolio-printer: " << conflict << "\nNothing was changed.\n";
            return 2;
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
    // --root FOLDER: the user's folder; --system-root FOLDER: the installation's printer list
    // (<sysconfdir>/pictolio, beside this program in a build tree); --system: install or remove
    // for every user.
    const auto takeValue = [&](const QString& option, QString fallback) {
        const qsizetype at = args.indexOf(option);
        if (at >= 0 && at + 1 < args.size()) {
            fallback = args[at + 1];
            args.remove(at, 2);
        }
        return fallback;
    };
    const QString root = takeValue(QStringLiteral("--root"), PrintService::defaultRoot());
    const QString systemRoot = takeValue(QStringLiteral("--system-root"), PrintService::defaultSystemRoot());
    const bool system = args.removeAll(QStringLiteral("--system")) > 0;
    const QString target = system ? systemRoot : root;
    const QString name = QString::fromLatin1(PdfWriterDriver::printerName);
    const QString command = args.value(0);
    const auto installedIn = [&](const QString& folder) {
        for (const PrinterInfo& p : PrintService::installedPrinters(folder))
            if (p.deviceName == name) return true;
        return false;
    };

    if (command == QLatin1String("--version") || command == QLatin1String("-v")) {
        out << "pictolio-printer " << pictolio::config::version << "\n";
        return 0;
    }
    if (command == QLatin1String("install")) {
        if (!PrintService::addPrinter(target, {name, QString::fromLatin1(PdfWriterDriver::port), name}, !system)) {
            err << "Could not install " << name << " in " << target << "\n";
            return 1;
        }
        out << name << " is installed on " << PdfWriterDriver::port << (system ? " for every user.\n" : ".\n");
        return 0;
    }
    if (command == QLatin1String("remove")) {
        if (!PrintService::removePrinter(target, name)) {
            err << "Could not remove " << name << " from " << target << "\n";
            return 1;
        }
        out << name << " is removed" << (system ? " for every user.\n" : ".\n");
        return 0;
    }
    if (command == QLatin1String("status")) {
        const bool forEveryone = installedIn(systemRoot), forUser = installedIn(root);
        if (forEveryone) out << name << " is installed for every user (" << systemRoot << "/printers.ini).\n";
        if (forUser) out << name << " is installed for this user (" << root << "/printers.ini).\n";
        if (!forEveryone && !forUser) out << name << " is not installed.\n";
        return forEveryone || forUser ? 0 : 3;
    }
    if (command == QLatin1String("preferences")) {
        if (args.size() > 1) return preferencesCommand(args.mid(1), root, out, err);
        pictolio::PictureDecoder decoder;
        const QDir samples(pictolio::dataFolder(QCoreApplication::applicationDirPath()) + QStringLiteral("/Samples"));
        const QString sample = samples.entryList({QStringLiteral("*.jpg")}, QDir::Files, QDir::Name).value(0);
        pictolio::PreferencesWindow preferences(PrintService::registryOf(root), decoder,
                                                sample.isEmpty() ? QString() : samples.filePath(sample));
        preferences.show();
        return app.exec();
    }
    // Asked for, the usage goes to standard output and is no error; otherwise the command line is wrong.
    const bool asked = command == QLatin1String("--help") || command == QLatin1String("-h");
    (asked ? out : err) << "usage: pictolio-printer install|remove [--system] | status | preferences [--root FOLDER]\n"
                        << "       pictolio-printer preferences [--show | --set NAME=VALUE...]\n";
    return asked ? 0 : 2;
}
