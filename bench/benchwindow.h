// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The main window with real services in a set-up of its own (temporary settings, the PDF
// printer installed in a temporary folder) and recording dialogs, for benchmarks.
#include <QCoreApplication>
#include <QTemporaryDir>

#include "app/form1.h"
#include "convert/pdfprinter.h"
#include "platform/filesystem.h"
#include "pictures/picture.h"
#include "platform/printservice.h"
#include "platform/registry.h"
#include "platform/settingsstore.h"
#include "tests/fakes/fakedialogs.h"
#include "tests/fakes/fakeshell.h"

namespace pictolio::bench {

struct BenchWindow {
    QTemporaryDir settingsRoot, printRoot;
    bool installed = PrintService::addPrinter(
        printRoot.path(), {pdfprinter::printerName(), QStringLiteral("CPW2:"), pdfprinter::printerName()});
    testing::FakeDialogs dialogs;
    PlatformSettingsStore settings{settingsRoot.path()};
    testing::FakeShell shell;
    PrintService printing{printRoot.path()};
    Registry registry{PrintService::registryOf(printRoot.path())};
    PictureDecoder decoder;
    PosixFileSystem files;
    Form1 form{{dialogs, settings, shell, printing, registry, decoder, files}, config()};

    BenchWindow() { form.Form_Load(); }

    static AppConfig config() {
        AppConfig c = AppConfig::defaults(QCoreApplication::applicationDirPath());
        c.random = [] { return 0.5; };
        return c;
    }
};

}  // namespace pictolio::bench
