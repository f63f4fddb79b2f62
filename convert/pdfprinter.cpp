#include "convert/pdfprinter.h"

#include <QLockFile>
#include <QThread>

#include "common/dialogs.h"
#include "platform/events.h"
#include "pdfwriter/driver.h"
#include "platform/printservice.h"
#include "platform/registry.h"

namespace pictolio::pdfprinter {

namespace {

// KEY_QUERY_VALUE | KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_ENUMERATE_SUB_KEYS | KEY_NOTIFY |
// KEY_CREATE_LINK
constexpr quint32 keyAccess = 63;

}  // namespace

QString printerName() { return QString::fromLatin1(pdfwriter::PdfWriterDriver::printerName); }

void writeOutputSettings(Registry& registry, const QString& outputPath) {
    Registry::Key key = 0;
    registry.regCreateKeyEx(QStringLiteral("Software\\") + printerName(), keyAccess, &key);
    registry.regSetValueEx(key, QStringLiteral("OutputFile"), outputPath);
    registry.regSetValueEx(key, QStringLiteral("BypassSaveAs"), QStringLiteral("1"));
    registry.regCloseKey(key);
}

SettingsLock::SettingsLock(const QString& lockFile) : m_lock(std::make_unique<QLockFile>(lockFile)) {
    // A job may hold the settings for a long joined run: only a lock whose program is gone
    // is stale.
    m_lock->setStaleLockTime(0);
}

SettingsLock::~SettingsLock() { release(); }

bool SettingsLock::acquire(const std::function<bool()>& abandon) {
    while (!m_lock->tryLock(0)) {
        if (m_lock->error() == QLockFile::PermissionError) return true;  // cannot lock: go on
        doEvents();
        if (abandon && abandon()) return false;
        QThread::msleep(5);
    }
    return true;
}

void SettingsLock::release() {
    if (m_lock->isLocked()) m_lock->unlock();
}

bool outputSettingsAre(const Registry& registry, const QString& outputPath) {
    const QString key = QStringLiteral("Software\\") + printerName();
    return registry.store().getString(key, QStringLiteral("OutputFile")) == outputPath &&
           registry.store().getString(key, QStringLiteral("BypassSaveAs")) == QStringLiteral("1");
}

bool selectPdfPrinter(PrintService& service) {
    for (const PrinterInfo& printer : service.printers()) {
        if (printer.deviceName == printerName()) {
            service.setCurrentPrinter(printer);
            return true;
        }
    }
    return false;
}

bool isPdfPrinterInstalled(const PrintService& service) {
    for (const PrinterInfo& printer : service.printers())
        if (printer.deviceName == printerName()) return true;
    return false;
}

QString notInstalledMessage() {
    const QString name = printerName();
    return name + QStringLiteral(" is not installed. Please follow these instructions:") +
           QStringLiteral("\r\n") + QStringLiteral("\r\n") +
           QStringLiteral("1) Go to Control Panel -> Printers and Faxes to add a local printer.") +
           QStringLiteral("\r\n") + QStringLiteral("2) Choose ''CPW2: (") + name +
           QStringLiteral(")'' on Select a Printer Port dialog box, click Next.") +
           QStringLiteral("\r\n") +
           QStringLiteral("3) Choose a Postscript printer (e.g. HP Color LaserJet PS), click Next.") +
           QStringLiteral("\r\n") + QStringLiteral("4) Enter ") + name +
           QStringLiteral(" as Printer name, click Next -> Finish.");
}

void checkPdfPrinter(const PrintService& service, Dialogs& dialogs) {
    if (!isPdfPrinterInstalled(service)) dialogs.message(notInstalledMessage());
}

}  // namespace pictolio::pdfprinter
