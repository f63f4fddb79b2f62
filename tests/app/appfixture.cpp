// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/app/appfixture.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include "convert/pdfprinter.h"

namespace pictolio::testing {

void AppFixture::SetUp() {
    ASSERT_TRUE(programFolder.isValid() && settingsRoot.isValid() && printRoot.isValid() && work.isValid());
    settings = std::make_unique<RecordingSettings>(settingsRoot.path());
    config = AppConfig::defaults(programFolder.path());
    config.random = [this] { return randomValue; };
    // A printer that makes no progress for this long fails a run; on a machine busy with other
    // tests (two at once, under the sanitizers) a few seconds pass without progress now and then.
    config.outputWaitMs = 60000;
}

void AppFixture::installPdfPrinter() {
    ASSERT_TRUE(PrintService::addPrinter(printRoot.path(), {pdfprinter::printerName(), "CPW2:",
                                                            pdfprinter::printerName()}));
}

Form1& AppFixture::form() {
    if (!window) {
        if (!printing) printing = std::make_unique<PrintService>(printRoot.path());
        registry = std::make_unique<Registry>(PrintService::registryOf(printRoot.path()));
        window = std::make_unique<Form1>(Services{dialogs, *settings, shell, *printing, *registry, decoder, *files},
                                         config);
    }
    return *window;
}

Form1& AppFixture::loadedForm() {
    form().Form_Load();
    return *window;
}

void AppFixture::store(const QString& key, const QString& value) {
    PlatformSettingsStore(settingsRoot.path()).saveSetting("Tenbrook", "Pictolio Software", key, value);
}

QString AppFixture::stored(const QString& key) const {
    return PlatformSettingsStore(settingsRoot.path())
        .getSetting("Tenbrook", "Pictolio Software", key, "(absent)");
}

void AppFixture::shipResources() {
    const QString built = QCoreApplication::applicationDirPath();
    QDir(programFolder.path()).mkpath("x");
    QDir(programFolder.path()).mkpath("help");
    for (const char* name : {"HAND-M.CUR", "drag.ico", "pictolio.png", "x/o.cjs", "help/index.html"})
        ASSERT_TRUE(QFile::copy(built + "/" + name, programFolder.filePath(name))) << name;
}

}  // namespace pictolio::testing
