// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <functional>

namespace pictolio {

class Dialogs;
class FileSystem;
class PictureDecoder;
class PrintService;
class Registry;
class SettingsStore;
class Shell;

// The platform services the main window works with, handed in by main() (or by a test).
struct Services {
    Dialogs& dialogs;
    SettingsStore& settings;
    Shell& shell;
    PrintService& printing;
    Registry& registry;
    PictureDecoder& decoder;
    FileSystem& files;
};

// Values the program is built or started with.
struct AppConfig {
    QString programFolder;  // where the cursor, skin, samples and help pages are
    QString helpPage;       // a web address, or a file relative to the program folder
    QString makerSite;
    std::function<double()> random;  // uniform in [0, 1)
    int outputWaitMs = 60000;

    // The defaults this build was configured with, for a program in programFolder.
    static AppConfig defaults(const QString& programFolder);
    // A configured page as the shell opens it: web addresses as they are, files as full paths.
    QString resolvePage(const QString& page) const;
};

}  // namespace pictolio
