#pragma once

#include <QString>

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

// Whether the printer's key holds exactly these settings (they could be written).
bool outputSettingsAre(const Registry& registry, const QString& outputPath);

// Makes the first installed printer named exactly (letter case too) like the PDF printer the
// current printer. False, and the current printer unchanged, when there is none.
bool selectPdfPrinter(PrintService& service);

// Whether a printer named exactly like the PDF printer is installed.
bool isPdfPrinterInstalled(const PrintService& service);

// The message shown when the PDF printer is not installed.
QString notInstalledMessage();

// Shows notInstalledMessage() when the PDF printer is not installed.
void checkPdfPrinter(const PrintService& service, Dialogs& dialogs);

}  // namespace pdfprinter
}  // namespace pictolio
