// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/printservice.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <utility>
#include <QSettings>
#include <QStandardPaths>
#include <QThread>
#include <cmath>

#include "common/apperror.h"
#include "common/installdirs.h"
#include "common/paths.h"

namespace pictolio {

namespace {

constexpr double twipsPerInch = 1440.0;
constexpr double himetricPerInch = 2540.0;

QString printersFile(const QString& root) { return root + QStringLiteral("/printers.ini"); }

bool isPdfWriter(const PrinterInfo& p) {
    return p.driverName == QLatin1String(pdfwriter::PdfWriterDriver::printerName);
}

}  // namespace

// --- the device context ---

double PrinterDevice::toPixels(double v) const {
    if (m_scaleMode == ScaleMode::Pixels) return v;
    const int dpi = m_setup ? m_setup->dpi : m_service.pageSetup().dpi;
    return v * dpi / twipsPerInch;
}

double PrinterDevice::scaleWidth() const {
    const pdfwriter::PageSetup s = m_setup ? *m_setup : m_service.pageSetup();
    const double px = s.printableWidthPx();
    return m_scaleMode == ScaleMode::Pixels ? px : px * twipsPerInch / s.dpi;
}

double PrinterDevice::scaleHeight() const {
    const pdfwriter::PageSetup s = m_setup ? *m_setup : m_service.pageSetup();
    const double px = s.printableHeightPx();
    return m_scaleMode == ScaleMode::Pixels ? px : px * twipsPerInch / s.dpi;
}

// A picture of several pages draws each on a page of its own, laid out by the same request.
void PrinterDevice::paintPicture(const Picture& picture, float x, float y) {
    if (!m_setup) m_setup = m_service.pageSetup();
    for (int i = 0; i < picture.pageCount(); ++i) {
        const PicturePage page = picture.page(i);
        const double w = page.widthHimetric * m_setup->dpi / himetricPerInch;
        const double h = page.heightHimetric * m_setup->dpi / himetricPerInch;
        place(picture, i, {true, toPixels(x), toPixels(y), w, h, w, h});
    }
}

void PrinterDevice::paintPicture(const Picture& picture, float x, float y, float width,
                                 float height) {
    if (!m_setup) m_setup = m_service.pageSetup();
    for (int i = 0; i < picture.pageCount(); ++i) {
        const PicturePage page = picture.page(i);
        place(picture, i, {false, toPixels(x), toPixels(y), toPixels(width), toPixels(height),
                           page.widthHimetric * m_setup->dpi / himetricPerInch,
                           page.heightHimetric * m_setup->dpi / himetricPerInch});
    }
}

void PrinterDevice::place(const Picture& picture, int pageIndex, const pdfwriter::Drawing& drawing) {
    if (picture.isEmpty() || !picture.image)
        throw AppError(ErrorCode::InvalidArgument, QStringLiteral("Invalid picture"));
    const PicturePage page = picture.page(pageIndex);
    if (pageIndex > 0) newPage();
    const pdfwriter::PageSetup& s = *m_setup;
    if (m_job.pages.empty()) {
        m_job.documentName = m_documentName.toStdString();
        m_job.details = {s.title.toStdString(), s.author.toStdString(), s.subject.toStdString(),
                         s.keywords.toStdString(), s.date, s.pdfa};
        m_open = m_service.beginJob(s.pdfa);
    }
    if (!m_pageOpen) {
        // The page's first picture chooses how it is turned (or, fitting pages, its size).
        const pdfwriter::LaidOut laidPage = pdfwriter::pageFor(s, drawing.pictureWidth, drawing.pictureHeight);
        m_page = laidPage;
        if (!m_job.pages.empty()) m_service.pageDone(m_open, m_job.pages.back());  // the last page is whole
        pdffile::Page& added = m_job.pages.emplace_back();
        added.width = laidPage.pageWidth;
        added.height = laidPage.pageHeight;
        // The picture's file name (its description is its path, in the file system's encoding).
        const std::string path = page.image->description();
        added.title = QFile::decodeName(path.substr(path.rfind('/') + 1).c_str()).toStdString();
        m_pageOpen = true;
    }
    const pdfwriter::LaidOut laid = pdfwriter::layOut(s, m_page, drawing);
    pdffile::Placement placement{page.image, imaging::placeImage(laid.target, page.orientation), laid.clip};
    if (!s.ocr.isEmpty()) {
        // Recognised at the density it is shown at; turned to its text only when nothing else
        // says how it stands (an EXIF orientation) and it is the page's first picture.
        const imaging::Matrix& m = placement.matrix;
        const double shownWidthInches = std::hypot(m.a, m.b) / 72.0;
        const double dpi = shownWidthInches > 0 ? page.image->format().width / shownWidthInches : 300.0;
        const bool mayTurn = s.turnPages && page.orientation == 1 && m_job.pages.back().images.empty();
        placement.text =
            m_service.pdfDriver().recognition().start(page.image, s.ocr.toStdString(), dpi, page.orientation, mayTurn);
    }
    // Made smaller when the preferences ask, for the size it is shown at (recognition above
    // reads the picture as it is).
    const imaging::Matrix& m = placement.matrix;
    placement.image = imaging::pictureFor(std::move(placement.image), std::hypot(m.a, m.b) / 72.0,
                                            std::hypot(m.c, m.d) / 72.0, s.pictures);
    m_job.pages.back().images.push_back(std::move(placement));
}

void PrinterDevice::newPage() { m_pageOpen = false; }

PrinterDevice::~PrinterDevice() { m_service.dropJob(m_open); }

void PrinterDevice::killDoc() {
    m_service.dropJob(std::exchange(m_open, nullptr));
    m_job = {};
    m_setup.reset();
    m_pageOpen = false;
}

quint64 PrinterDevice::endDoc() {
    pdffile::PrintJob job = std::move(m_job);
    m_job = {};
    m_setup.reset();
    m_pageOpen = false;
    std::shared_ptr<pdfwriter::PdfWriterDriver::OpenJob> open = std::exchange(m_open, nullptr);
    if (job.pages.empty()) {
        m_service.dropJob(open);
        return 0;
    }
    return m_service.submit(std::move(job), std::move(open));
}

// --- the service ---

QString PrintService::defaultRoot() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/pictolio");
}

RegistryStore PrintService::registryOf(const QString& root) {
    return RegistryStore(root + QStringLiteral("/registry/HKEY_CURRENT_USER"));
}

QString PrintService::defaultSystemRoot() {
    return QCoreApplication::instance() ? systemConfigFolder(QCoreApplication::applicationDirPath()) : QString();
}

PrintService::PrintService(QString root, pdfwriter::PdfWriterDriver::SaveAsPrompt saveAs, QString systemRoot)
    : m_root(std::move(root)),
      m_systemRoot(std::move(systemRoot)),
      m_driver(std::make_unique<pdfwriter::PdfWriterDriver>(
          registryOf(m_root), m_root + QStringLiteral("/pdfwriter.log"), std::move(saveAs))),
      m_device(*this) {
    const QList<PrinterInfo> all = printers();
    if (!all.isEmpty()) m_current = all.first();
}

PrintService::~PrintService() = default;

QList<PrinterInfo> PrintService::printers() const {
    QList<PrinterInfo> all = m_systemRoot.isEmpty() ? QList<PrinterInfo>{} : installedPrinters(m_systemRoot);
    return all + installedPrinters(m_root);
}

pdfwriter::PageSetup PrintService::pageSetup() const {
    if (m_current && isPdfWriter(*m_current)) return m_driver->pageSetup();
    // Other printers offer the same page as the PDF printer's defaults.
    return pdfwriter::PdfWriterDriver::defaultPageSetup();
}

std::shared_ptr<pdfwriter::PdfWriterDriver::OpenJob> PrintService::beginJob(bool archival) {
    return m_current && isPdfWriter(*m_current) ? m_driver->beginJob(archival) : nullptr;
}

void PrintService::pageDone(const std::shared_ptr<pdfwriter::PdfWriterDriver::OpenJob>& job, const pdffile::Page& page) {
    m_driver->addPage(job, page);
}

void PrintService::dropJob(const std::shared_ptr<pdfwriter::PdfWriterDriver::OpenJob>& job) { m_driver->dropJob(job); }

quint64 PrintService::submit(pdffile::PrintJob job, std::shared_ptr<pdfwriter::PdfWriterDriver::OpenJob> open) {
    if (m_current && isPdfWriter(*m_current)) return m_driver->endJob(std::move(job), std::move(open));
    dropJob(open);
    if (!m_current) return 0;  // no printer at all
    // Any other printer prints nowhere we can see: the job joins its queue and stays there.
    return m_nextOtherJob++;
}

PrintService::JobState PrintService::jobState(quint64 job) const {
    if (job >= otherPrinterJobs) return JobState::Pending;
    switch (m_driver->jobState(job)) {
        case pdfwriter::PdfWriterDriver::JobState::Queued:
            return JobState::Pending;
        case pdfwriter::PdfWriterDriver::JobState::Written:
            return JobState::Done;
        case pdfwriter::PdfWriterDriver::JobState::Incomplete:
            return JobState::Incomplete;
        default:
            return JobState::Failed;
    }
}

void PrintService::waitForJob(quint64 job, int milliseconds) const {
    if (job >= otherPrinterJobs || job == 0)
        QThread::msleep(static_cast<unsigned long>(milliseconds));
    else
        m_driver->waitForJob(job, milliseconds);
}

QList<PrinterInfo> PrintService::installedPrinters(const QString& root) {
    QSettings file(printersFile(root), QSettings::IniFormat);
    QList<PrinterInfo> list;
    const int n = file.beginReadArray(QStringLiteral("printers"));
    for (int i = 0; i < n; ++i) {
        file.setArrayIndex(i);
        list.append({file.value(QStringLiteral("name")).toString(),
                     file.value(QStringLiteral("port")).toString(),
                     file.value(QStringLiteral("driver")).toString()});
    }
    file.endArray();
    return list;
}

namespace {

bool writePrinters(const QString& root, const QList<PrinterInfo>& list) {
    // A user's printing folder, made here, holds the printer values and the driver's log, which
    // name the user's files: private. (The installation's folder exists already.)
    if (!makePrivatePath(root)) return false;
    QSettings file(printersFile(root), QSettings::IniFormat);
    file.remove(QStringLiteral("printers"));
    file.beginWriteArray(QStringLiteral("printers"), int(list.size()));
    for (int i = 0; i < list.size(); ++i) {
        file.setArrayIndex(i);
        file.setValue(QStringLiteral("name"), list[i].deviceName);
        file.setValue(QStringLiteral("port"), list[i].port);
        file.setValue(QStringLiteral("driver"), list[i].driverName);
    }
    file.endArray();
    file.sync();
    return file.status() == QSettings::NoError;
}

}  // namespace

bool PrintService::addPrinter(const QString& root, const PrinterInfo& printer, bool writeDefaults) {
    QList<PrinterInfo> list = installedPrinters(root);
    for (const PrinterInfo& p : list)
        if (p.deviceName == printer.deviceName) return true;
    list.append(printer);
    if (!writePrinters(root, list)) return false;
    if (writeDefaults && isPdfWriter(printer)) pdfwriter::PdfWriterDriver::writeDefaults(registryOf(root));
    return true;
}

bool PrintService::removePrinter(const QString& root, const QString& deviceName) {
    QList<PrinterInfo> list = installedPrinters(root);
    list.removeIf([&](const PrinterInfo& p) { return p.deviceName == deviceName; });
    return writePrinters(root, list);
}

}  // namespace pictolio
