// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QString>
#include <memory>
#include <optional>

#include "pdfwriter/driver.h"
#include "pictures/picture.h"

namespace pictolio {

struct PrinterInfo {
    QString deviceName;
    QString port;
    QString driverName;
    bool operator==(const PrinterInfo&) const = default;
};

// The drawing unit of the printer's device context.
enum class ScaleMode { Twips = 1, Pixels = 3 };

class PrintService;

// The current printer's device context: a document begins with its first drawing and is
// handed to the printer's driver at its end. Positions are relative to the top-left corner of
// the printable area, in the current unit.
class PrinterDevice {
public:
    explicit PrinterDevice(PrintService& service) : m_service(service) {}
    ~PrinterDevice();
    PrinterDevice(const PrinterDevice&) = delete;
    PrinterDevice& operator=(const PrinterDevice&) = delete;

    void setScaleMode(ScaleMode mode) { m_scaleMode = mode; }
    ScaleMode scaleMode() const { return m_scaleMode; }

    // The printable width and height in the current unit.
    double scaleWidth() const;
    double scaleHeight() const;

    // Draws the whole picture with its top-left corner at (x, y) at its own physical size;
    // what lies beyond the printable area is cut off. A picture of several pages draws each on
    // a page of its own, the same way; the last stays open.
    void paintPicture(const Picture& picture, float x, float y);
    // Draws the whole picture stretched into the rectangle (x, y, width, height).
    void paintPicture(const Picture& picture, float x, float y, float width, float height);

    // Ends the current page; the next drawing starts a new one. Nothing follows a new page
    // that nothing is drawn on.
    void newPage();
    // Ends the document and hands it to the driver; a document with nothing drawn makes no
    // job. Returns the job's number, 0 when no job was made or the driver dropped it at once.
    quint64 endDoc();

    // Ends the document without printing it.
    void killDoc();

    // Pages drawn on in the open document.
    int pageCount() const { return int(m_job.pages.size()); }

    void setDocumentName(const QString& name) { m_documentName = name; }

private:
    double toPixels(double v) const;
    void place(const Picture& picture, int pageIndex, const pdfwriter::Drawing& drawing);

    PrintService& m_service;
    ScaleMode m_scaleMode = ScaleMode::Twips;
    QString m_documentName = QStringLiteral("Pictolio");
    pdffile::PrintJob m_job;
    std::optional<pdfwriter::PageSetup> m_setup;  // fixed by the document's first drawing
    bool m_pageOpen = false;
    pdfwriter::LaidOut m_page;  // the open page
    // The document as the driver writes it while it is drawn, when it can.
    std::shared_ptr<pdfwriter::PdfWriterDriver::OpenJob> m_open;
};

// The printing service: the installed printers, the current printer and its device context.
// It hosts the PDF printer driver, and a printer with any other driver discards its jobs.
// Everything is kept per user below one folder: the printer list, the registry, the driver's
// log.
class PrintService {
public:
    // The per-user folder, "<user configuration folder>/pictolio".
    static QString defaultRoot();

    // The system-wide printer list of an installation: "<sysconfdir>/pictolio/printers.ini" (beside
    // the program in a build tree).
    static QString defaultSystemRoot();

    // root: the user's folder; systemRoot: the folder of the printers installed for every user.
    explicit PrintService(QString root = defaultRoot(),
                          pdfwriter::PdfWriterDriver::SaveAsPrompt saveAs = {},
                          QString systemRoot = defaultSystemRoot());
    ~PrintService();

    // The installed printers: those installed for every user first, then the user's own, each
    // in the order they were installed.
    QList<PrinterInfo> printers() const;

    // The current printer: at first the first installed printer (the default printer).
    std::optional<PrinterInfo> currentPrinter() const { return m_current; }
    void setCurrentPrinter(const PrinterInfo& printer) { m_current = printer; }

    PrinterDevice& printer() { return m_device; }

    pdfwriter::PdfWriterDriver& pdfDriver() { return *m_driver; }
    const QString& root() const { return m_root; }

    // The page the current printer offers.
    pdfwriter::PageSetup pageSetup() const;
    // A document begins: the PDF printer may write its pages as they are drawn (null: it will
    // not); each page complete goes to pageDone, a document killed to dropJob.
    std::shared_ptr<pdfwriter::PdfWriterDriver::OpenJob> beginJob(bool archival);
    void pageDone(const std::shared_ptr<pdfwriter::PdfWriterDriver::OpenJob>& job, const pdffile::Page& page);
    void dropJob(const std::shared_ptr<pdfwriter::PdfWriterDriver::OpenJob>& job);
    // Hands a finished job to the current printer's driver; its number, or 0 when dropped.
    quint64 submit(pdffile::PrintJob job, std::shared_ptr<pdfwriter::PdfWriterDriver::OpenJob> open = nullptr);

    // Incomplete: printed without pictures that changed or vanished after they were checked.
    enum class JobState { Pending, Done, Incomplete, Failed };
    // What became of a job. Jobs on printers other than the PDF printer stay pending: nothing
    // here can see them come out.
    JobState jobState(quint64 job) const;
    // Waits until the job is no longer pending, or at most the given time.
    void waitForJob(quint64 job, int milliseconds) const;
    // A count that moves while the printers make progress.
    quint64 progress() const { return m_driver->progress(); }

    // Installing printers, as the installer command and tests do.
    // writeDefaults: the PDF printer's page defaults go into the folder's registry too (a
    // user's installation; the list for every user has no registry of its own).
    static bool addPrinter(const QString& root, const PrinterInfo& printer, bool writeDefaults = true);
    static bool removePrinter(const QString& root, const QString& deviceName);
    static QList<PrinterInfo> installedPrinters(const QString& root);
    static RegistryStore registryOf(const QString& root);

private:
    QString m_root;
    QString m_systemRoot;
    std::unique_ptr<pdfwriter::PdfWriterDriver> m_driver;
    std::optional<PrinterInfo> m_current;
    PrinterDevice m_device;
    // Job numbers: the driver's own for the PDF printer, high ones for the other printers.
    static constexpr quint64 otherPrinterJobs = quint64(1) << 62;
    quint64 m_nextOtherJob = otherPrinterJobs;
};

}  // namespace pictolio
