// SPDX-License-Identifier: GPL-3.0-or-later
#include "convert/pdfprinter.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QFile>
#include <QThread>
#include <cerrno>

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
    registry.regSetValueEx(key, QString::fromLatin1(pdfwriter::PdfWriterDriver::outputFileValue), outputPath);
    registry.regSetValueEx(key, QString::fromLatin1(pdfwriter::PdfWriterDriver::bypassValue), QStringLiteral("1"));
    registry.regCloseKey(key);
}

SettingsLock::SettingsLock(QString lockFile) : m_path(std::move(lockFile)) {}

SettingsLock::~SettingsLock() { release(); }

SettingsLock::Result SettingsLock::acquire(int timeoutMs, const std::function<bool()>& abandon) {
    if (m_fd >= 0) return Result::Acquired;
    const QByteArray name = QFile::encodeName(m_path);
    const int fd = ::open(name.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    // A lock file that cannot be made (a read-only folder) is one no other copy can use
    // either: go on without.
    if (fd < 0) return Result::Acquired;
    QElapsedTimer waited;
    waited.start();
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK && errno != EINTR) break;  // no locks here (some network folders)
        if (waited.elapsed() >= timeoutMs) {
            ::close(fd);
            return Result::TimedOut;
        }
        doEvents();
        if (abandon && abandon()) {
            ::close(fd);
            return Result::Abandoned;
        }
        QThread::msleep(5);
    }
    m_fd = fd;
    return Result::Acquired;
}

void SettingsLock::release() {
    if (m_fd < 0) return;
    ::close(m_fd);  // closing the last descriptor lets go of the lock
    m_fd = -1;
}

QString SettingsLock::failure() const {
    return QStringLiteral("the PDF printer's settings stayed in use by another copy of Pictolio "
                          "(lock file %1)")
        .arg(m_path);
}

bool outputSettingsAre(const Registry& registry, const QString& outputPath) {
    const QString key = QStringLiteral("Software\\") + printerName();
    const QMap<QString, QString> values = registry.store().values(key);
    const QString output = QString::fromLatin1(pdfwriter::PdfWriterDriver::outputFileValue);
    return values.contains(output) && values.value(output) == outputPath &&
           values.value(QString::fromLatin1(pdfwriter::PdfWriterDriver::bypassValue)) == QStringLiteral("1");
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
    if (isPdfPrinterInstalled(service)) return;
    dialogs.message(notInstalledMessage());
    // The steps above are for another desktop; here the printer is one answer away.
    if (dialogs.message(QStringLiteral("Install the PDF printer for this user now?"), MessageButtons::YesNo,
                        MessageIcon::Question) != MessageAnswer::Yes)
        return;
    const QString name = printerName();
    if (!PrintService::addPrinter(service.root(), {name, QString::fromLatin1(pdfwriter::PdfWriterDriver::port), name}))
        dialogs.message(QStringLiteral("The PDF printer could not be installed in %1.").arg(service.root()),
                        MessageButtons::Ok, MessageIcon::Warning);
}

}  // namespace pictolio::pdfprinter
