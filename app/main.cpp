#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>

#include "app/form1.h"
#include "app/singleinstance.h"
#include "app/startwindow.h"
#include "platform/filesystem.h"
#include "pictures/picture.h"
#include "platform/printservice.h"
#include "platform/qtdialogs.h"
#include "platform/registry.h"
#include "platform/settingsstore.h"
#include "platform/shell.h"

using namespace pictolio;

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    // pictolio [FILE|FOLDER]...: added as a drop on the list would add them; to the window that
    // already runs for this user and display, when there is one.
    QStringList paths;
    for (const QString& argument : app.arguments().mid(1)) paths << QFileInfo(argument).absoluteFilePath();
    SingleInstance instance;
    if (instance.handOver(paths)) return 0;
    instance.listen();

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
               AppConfig::defaults(QCoreApplication::applicationDirPath()));
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
