#include <QApplication>
#include <QFileDialog>

#include "app/form1.h"
#include "app/startwindow.h"
#include "platform/filesystem.h"
#include "platform/picture.h"
#include "platform/printservice.h"
#include "platform/qtdialogs.h"
#include "platform/registry.h"
#include "platform/settingsstore.h"
#include "platform/shell.h"

using namespace pictolio;

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
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
    return app.exec();
}
