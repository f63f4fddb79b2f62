// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <functional>
#include <memory>

namespace pictolio {

class Dialogs;
class PrintService;
class Registry;

// The PDF printer the run prints on, and how it is handed each job's output path.
namespace pdfprinter {

// "Tenbrook PDF Writer": the printer's device name and its registry key's name.
QString printerName();

// Writes "OutputFile" (the output path) and "BypassSaveAs" ("1") into the printer's key of the
// current user's registry, creating the key when missing. Results are not checked.
void writeOutputSettings(Registry& registry, const QString& outputPath);

// Holds the printer's settings for one job, from writing them until the job has ended (when
// the driver takes them), so that two copies of the program running at once cannot hand each
// other's jobs the wrong path. The lock is the system's lock on an open file: it goes with the
// copy that holds it, however that copy ends, and whatever a file left behind contains.
class SettingsLock {
public:
    explicit SettingsLock(QString lockFile);
    ~SettingsLock();
    SettingsLock(const SettingsLock&) = delete;
    SettingsLock& operator=(const SettingsLock&) = delete;

    enum class Result {
        Acquired,   // held (or the lock file cannot be made at all: nothing to share it with)
        Abandoned,  // abandon() said to stop waiting
        TimedOut,   // another copy held it for the whole time allowed
    };
    // Waits at most timeoutMs, letting window events run, while another copy holds it.
    Result acquire(int timeoutMs, const std::function<bool()>& abandon);
    void release();
    // Why the lock could not be had, for the log.
    QString failure() const;

private:
    QString m_path;
    int m_fd = -1;
};

// Whether the printer's key holds exactly these settings (they could be written).
bool outputSettingsAre(const Registry& registry, const QString& outputPath);

// Makes the first installed printer named exactly (letter case too) like the PDF printer the
// current printer. False, and the current printer unchanged, when there is none.
bool selectPdfPrinter(PrintService& service);

// Whether a printer named exactly like the PDF printer is installed.
bool isPdfPrinterInstalled(const PrintService& service);

// The message shown when the PDF printer is not installed.
QString notInstalledMessage();

// Shows notInstalledMessage() when the PDF printer is not installed, then offers to install it
// for the current user.
void checkPdfPrinter(const PrintService& service, Dialogs& dialogs);

}  // namespace pdfprinter
}  // namespace pictolio
