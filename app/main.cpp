// SPDX-License-Identifier: GPL-3.0-or-later
#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <cstdio>
#include <optional>
#include <string_view>

#include "appconfig.h"
#include "app/form1.h"
#include "app/singleinstance.h"
#include "app/startwindow.h"
#include "common/paths.h"
#include "common/installdirs.h"
#include "platform/filesystem.h"
#include "pictures/picture.h"
#include "platform/printservice.h"
#include "platform/qtdialogs.h"
#include "platform/registry.h"
#include "platform/settingsstore.h"
#include "platform/shell.h"

using namespace pictolio;

namespace {

// --help and --version are answered as any command answers them, before a window or a display
// is needed; --help-all as --help (the toolkit's own options are not the program's to offer);
// "--" ends the options, after it every word is a file.
std::optional<int> answerOptions(int argc, char* argv[]) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view word = argv[i];
        if (word == "--") break;
        if (word == "--help" || word == "-h" || word == "--help-all") {
            std::printf(
                "Usage: pictolio [FILE|FOLDER]...\n"
                "Opens the window with the pictures given, and those in the folders given, in its list;\n"
                "when a window of this user already runs on this display, they are added to it.\n\n"
                "Options:\n"
                "  -h, --help     Displays this help.\n"
                "  -v, --version  Displays version information.\n");
            return 0;
        }
        if (word == "--version" || word == "-v") {
            std::printf("pictolio %s\n", config::version);
            return 0;
        }
    }
    return std::nullopt;
}

}  // namespace

int main(int argc, char* argv[]) {
    if (const auto answered = answerOptions(argc, argv)) return *answered;
    raiseOpenFileLimit();
    QApplication app(argc, argv);
    // pictolio [FILE|FOLDER]...: added as a drop on the list would add them; to the window that
    // already runs for this user and display, when there is one.
    QStringList paths;
    bool optionsEnded = false;
    for (const QString& argument : app.arguments().mid(1)) {
        if (!optionsEnded && argument == QLatin1String("--")) {
            optionsEnded = true;
            continue;
        }
        paths << QFileInfo(argument).absoluteFilePath();
    }
    // Only a window of this user's that answered takes the files; otherwise this start is the
    // window. A start without files is a window of its own, beside the one that runs (which
    // keeps taking later starts' files).
    SingleInstance instance;
    if (!paths.isEmpty() && instance.handOver(paths)) return 0;
    if (!instance.listen() && !instance.anotherWindowListens())
        std::fprintf(stderr, "pictolio: later starts will open windows of their own: %s\n",
                     qPrintable(instance.errorString()));

    QtDialogs dialogs;
    PlatformSettingsStore settings;
    DesktopShell shell;
    PrintService printing(PrintService::defaultRoot(), [](const QString& suggested) {
        return QFileDialog::getSaveFileName(nullptr, QStringLiteral("Save PDF File As"), suggested,
                                            QStringLiteral("PDF files (*.pdf)"));
    });
    Registry registry(PrintService::registryOf(printing.root()));
    PictureDecoder decoder;
    PosixFileSystem files;

    Form1 form({dialogs, settings, shell, printing, registry, decoder, files},
               AppConfig::defaults(dataFolder(QCoreApplication::applicationDirPath())));
    dialogs.setOwner(&form);
    showMainWindow(form);
    form.openPaths(paths);
    QObject::connect(&instance, &SingleInstance::filesArrived, &form, [&form](const QStringList& more) {
        form.openPaths(more);
        form.showNormal();
        form.raise();
        form.activateWindow();
    });
    return app.exec();
}
