// SPDX-License-Identifier: GPL-3.0-or-later
#include "pdfwriter/driver.h"

#include <langinfo.h>
#include <locale.h>

#include <sys/stat.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cmath>
#include <chrono>
#include <cstdint>

#include "pdffile/pdfbuilder.h"

namespace pdfwriter {

namespace {

const QString outputFileValue = QString::fromLatin1(PdfWriterDriver::outputFileValue);
const QString bypassValue = QString::fromLatin1(PdfWriterDriver::bypassValue);
const QString paperValue = QStringLiteral("PaperSize");
const QString resolutionValue = QStringLiteral("Resolution");
const QString marginValue = QStringLiteral("Margin");
const QString orientationValue = QStringLiteral("Orientation");

}  // namespace

QString PdfWriterDriver::registryKey() {
    return QStringLiteral("Software\\") + QString::fromLatin1(printerName);
}

PdfWriterDriver::PdfWriterDriver(pictolio::RegistryStore registry, QString logFile,
                                 SaveAsPrompt prompt)
    : m_registry(std::move(registry)),
      m_logFile(std::move(logFile)),
      m_prompt(std::move(prompt)),
      m_recognition(std::make_unique<recognition::TextRecognition>(&m_progress)),
      m_worker([this] { run(); }) {
    // The umask can only be read by setting it: done here, before any job is written, rather
    // than on the driver's thread while the program may be creating files of its own.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    m_fileMode = 0666u & ~unsigned(mask);
}

PdfWriterDriver::~PdfWriterDriver() {
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    m_worker.join();
}

QString PdfWriterDriver::localPaperName() {
    // glibc keeps the locale's paper size in LC_PAPER, in millimetres.
    locale_t loc = newlocale(LC_PAPER_MASK, "", nullptr);
    if (!loc) return QStringLiteral("A4");
    const auto width = reinterpret_cast<std::intptr_t>(nl_langinfo_l(_NL_PAPER_WIDTH, loc));
    const auto height = reinterpret_cast<std::intptr_t>(nl_langinfo_l(_NL_PAPER_HEIGHT, loc));
    freelocale(loc);
    return (width == 216 && height == 279) ? QStringLiteral("Letter") : QStringLiteral("A4");
}

void PdfWriterDriver::writeDefaults(const pictolio::RegistryStore& registry) {
    const QString key = registryKey();
    registry.createKey(key);
    const QMap<QString, QString> stored = registry.values(key);
    QMap<QString, QString> missing;
    const auto fill = [&](const QString& name, const QString& value) {
        if (!stored.contains(name)) missing.insert(name, value);
    };
    fill(paperValue, localPaperName());
    fill(resolutionValue, QStringLiteral("600"));
    fill(marginValue, QStringLiteral("12"));
    // New installations turn each page to suit its picture; one that says Portrait keeps it.
    fill(orientationValue, QStringLiteral("Automatic"));
    registry.setStrings(key, missing);  // in one write
}

PageSetup PdfWriterDriver::defaultPageSetup() {
    return preferences::defaults(localPaperName());
}

PageSetup PdfWriterDriver::pageSetup() const {
    return preferences::read(m_registry, registryKey(), localPaperName(),
                             [this](const QString& complaint) { logOnce(complaint); });
}

void PdfWriterDriver::logOnce(const QString& complaint) const {
    {
        std::lock_guard lock(m_mutex);
        if (!m_complaints.insert(complaint).second) return;  // said once is enough
    }
    log(complaint);
}

struct PdfWriterDriver::OpenJob {
    std::string expectedPath;  // where the registry says the file goes, as drawing began
    bool archival = false;
    std::deque<pdffile::Page> pages;    // complete, not yet taken by the writer
    bool ended = false;
    bool dropped = false;      // killed, or left to be written whole
    std::uint64_t id = 0;      // once ended: the job's number, the job itself and its file
    pdffile::PrintJob job;
    std::string path;
};

std::shared_ptr<PdfWriterDriver::OpenJob> PdfWriterDriver::beginJob(bool archival) {
    const QMap<QString, QString> values = m_registry.values(registryKey());
    const QString path = values.value(outputFileValue);
    if (values.value(bypassValue) != QStringLiteral("1") || path.isEmpty() || !QFileInfo(path).isAbsolute())
        return nullptr;
    auto open = std::make_shared<OpenJob>();
    open->expectedPath = QFile::encodeName(path).toStdString();
    open->archival = archival;
    {
        std::lock_guard lock(m_mutex);
        m_queue.push_back({0, {}, {}, open});
    }
    m_wake.notify_all();
    return open;
}

void PdfWriterDriver::addPage(const std::shared_ptr<OpenJob>& job, const pdffile::Page& page) {
    if (!job) return;
    {
        std::lock_guard lock(m_mutex);
        if (job->dropped || job->ended) return;
        job->pages.push_back(page);
    }
    m_wake.notify_all();
}

void PdfWriterDriver::dropJob(const std::shared_ptr<OpenJob>& job) {
    if (!job) return;
    {
        std::lock_guard lock(m_mutex);
        job->dropped = true;
        job->pages.clear();
    }
    m_wake.notify_all();
}

std::uint64_t PdfWriterDriver::endJob(pdffile::PrintJob job, std::shared_ptr<OpenJob> open) {
    // (a job dropped here was never going to be written as it was drawn)
    struct Drop {
        PdfWriterDriver* driver;
        std::shared_ptr<OpenJob>& open;
        ~Drop() { driver->dropJob(open); }
    } drop{this, open};
    const QString key = registryKey();
    QString unread;
    const QMap<QString, QString> values = m_registry.values(key, &unread);  // both as they stand now
    if (!unread.isEmpty()) logOnce(QStringLiteral("the PDF printer's values %1").arg(unread));
    QString path = values.value(outputFileValue);
    const bool bypass = values.value(bypassValue) == QStringLiteral("1");
    job.details.madeFrom = values.value(QString::fromLatin1(madeFromValue)).toStdString();
    if (!bypass) {
        if (!m_prompt) {
            log(QStringLiteral("job \"%1\" dropped: no file name given and no way to ask for one")
                    .arg(QString::fromStdString(job.documentName)));
            return 0;
        }
        path = m_prompt(path);
        if (path.isEmpty()) {
            log(QStringLiteral("job \"%1\" cancelled in the save dialog")
                    .arg(QString::fromStdString(job.documentName)));
            return 0;
        }
    }
    if (path.isEmpty() || !QFileInfo(path).isAbsolute()) {
        log(QStringLiteral("job \"%1\" not written: the output file \"%2\" is not a full path")
                .arg(QString::fromStdString(job.documentName), path));
        return 0;
    }
    std::uint64_t id = 0;
    {
        std::lock_guard lock(m_mutex);
        id = m_nextJob++;
        m_states[id] = JobState::Queued;
        // Keep what became of the last thousand jobs.
        while (m_states.size() > 1000) m_states.erase(m_states.begin());
        while (!m_notes.empty() && m_notes.begin()->first + 1000 < id) m_notes.erase(m_notes.begin());
        while (!m_texts.empty() && m_texts.begin()->first + 1000 < id) m_texts.erase(m_texts.begin());
        while (!m_errors.empty() && m_errors.begin()->first + 1000 < id) m_errors.erase(m_errors.begin());
        std::string file = QFile::encodeName(path).toStdString();
        if (open && !open->dropped) {
            open->ended = true;
            open->id = id;
            open->job = std::move(job);
            open->path = std::move(file);
            open.reset();  // (not dropped on the way out)
        } else {
            m_queue.push_back({id, std::move(job), std::move(file), nullptr});
        }
    }
    m_wake.notify_all();
    return id;
}

PdfWriterDriver::JobState PdfWriterDriver::jobState(std::uint64_t job) const {
    std::lock_guard lock(m_mutex);
    const auto it = m_states.find(job);
    return it == m_states.end() ? JobState::Unknown : it->second;
}

void PdfWriterDriver::waitForJob(std::uint64_t job, int milliseconds) {
    std::unique_lock lock(m_mutex);
    m_idle.wait_for(lock, std::chrono::milliseconds(milliseconds), [&] {
        const auto it = m_states.find(job);
        return it == m_states.end() || it->second != JobState::Queued;
    });
}

std::vector<std::string> PdfWriterDriver::jobNotes(std::uint64_t job) const {
    std::lock_guard lock(m_mutex);
    const auto it = m_notes.find(job);
    return it == m_notes.end() ? std::vector<std::string>{} : it->second;
}

std::string PdfWriterDriver::takeJobText(std::uint64_t job) {
    std::lock_guard lock(m_mutex);
    const auto it = m_texts.find(job);
    if (it == m_texts.end()) return {};
    std::string text = std::move(it->second);
    m_texts.erase(it);
    return text;
}

QString PdfWriterDriver::jobError(std::uint64_t job) const {
    std::lock_guard lock(m_mutex);
    const auto it = m_errors.find(job);
    return it == m_errors.end() ? QString() : it->second;
}

void PdfWriterDriver::abandonAll() {
    std::deque<Pending> dropped;
    {
        std::lock_guard lock(m_mutex);
        dropped.swap(m_queue);
        for (Pending& pending : dropped) {
            if (pending.open) {
                // Still being drawn: it is written whole once it ends, as any job ended later.
                if (!pending.open->ended) {
                    pending.open->dropped = true;
                    pending.open->pages.clear();
                    continue;
                }
                pending.id = pending.open->id, pending.path = pending.open->path;
            }
            m_states[pending.id] = JobState::Failed;
            m_errors[pending.id] = QStringLiteral("abandoned before it was written");
        }
        if (m_writing && !m_writing->ended) {
            m_writing->dropped = true;  // (as above)
            m_writing->pages.clear();
        } else if (m_busy) {
            m_abandon = true;
        }
    }
    m_wake.notify_all();
    m_idle.notify_all();
    for (const Pending& pending : dropped)
        if (pending.id != 0)
            log(QStringLiteral("could not write %1: abandoned before it was written")
                    .arg(QFile::decodeName(pending.path.c_str())));
}

void PdfWriterDriver::setState(std::uint64_t id, JobState state) {
    std::lock_guard lock(m_mutex);
    const auto it = m_states.find(id);
    if (it != m_states.end()) it->second = state;
}

void PdfWriterDriver::waitUntilIdle() {
    std::unique_lock lock(m_mutex);
    m_idle.wait(lock, [this] { return m_queue.empty() && !m_busy; });
}

pdffile::WriteOptions PdfWriterDriver::writeOptions() {
    pdffile::WriteOptions options;
    options.fileMode = m_fileMode;
    options.progress = &m_progress;
    options.stop = &m_abandon;
    return options;
}

bool PdfWriterDriver::writeOpenJob(Pending& pending, pdffile::WriteResult* result) {
    const std::shared_ptr<OpenJob> open = pending.open;
    pdffile::StreamedPdf pdf(open->expectedPath, writeOptions(), open->archival);
    std::size_t added = 0;
    for (;;) {
        pdffile::Page page;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [&] { return !open->pages.empty() || open->ended || open->dropped || m_stopping; });
            if (open->dropped || (open->pages.empty() && !open->ended)) return false;  // (or the driver stops)
            if (open->pages.empty()) break;  // ended, every page drawn taken
            page = std::move(open->pages.front());
            open->pages.pop_front();
        }
        pdf.add(page);
        ++added;
    }
    pending.id = open->id, pending.job = std::move(open->job), pending.path = std::move(open->path);
    for (std::size_t i = added; i < pending.job.pages.size(); ++i) pdf.add(pending.job.pages[i]);
    *result = pdf.finish(pending.job, pending.path);
    if (!result->written) *result = writePdfFile(pending.job, pending.path, writeOptions());
    return true;
}

void PdfWriterDriver::run() {
    for (;;) {
        Pending pending;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stopping || !m_queue.empty(); });
            if (m_queue.empty()) return;  // stopping, nothing left
            pending = std::move(m_queue.front());
            m_queue.pop_front();
            m_busy = true;
            m_abandon = false;
            m_writing = pending.open;
        }
        pdffile::WriteResult result;
        if (!pending.open)
            result = writePdfFile(pending.job, pending.path, writeOptions());
        if (!pending.open || writeOpenJob(pending, &result)) report(pending, result);
        pending = {};  // lets go of the job's pictures before saying so
        {
            std::lock_guard lock(m_mutex);
            m_busy = false;
            m_writing.reset();
        }
        m_idle.notify_all();
    }
}

void PdfWriterDriver::report(const Pending& pending, const pdffile::WriteResult& result) {
    const QString path = QFile::decodeName(pending.path.c_str());
    for (const std::string& note : result.notes) log(QStringLiteral("%1: %2").arg(path, QString::fromStdString(note)));
    if (!result.notes.empty()) {
        std::lock_guard lock(m_mutex);
        m_notes[pending.id] = result.notes;
    }
    if (result.written && !result.text.empty()) {
        std::lock_guard lock(m_mutex);
        m_texts[pending.id] = result.text;
    }
    for (const std::string& picture : result.leftOut)
        log(QStringLiteral("left out of %1: %2 changed or vanished after it was checked")
                .arg(path, QFile::decodeName(picture.c_str())));
    if (result.written) {
        log(QStringLiteral("wrote %1").arg(path));
        setState(pending.id, result.leftOut.empty() ? JobState::Written : JobState::Incomplete);
    } else {
        const QString error = result.written.reason();
        log(QStringLiteral("could not write %1: %2").arg(path, error));
        std::lock_guard lock(m_mutex);
        m_errors[pending.id] = error;
        if (const auto it = m_states.find(pending.id); it != m_states.end()) it->second = JobState::Failed;
    }
}

void PdfWriterDriver::log(const QString& line) const {
    std::lock_guard lock(m_logMutex);
    const QString stamped =
        QDateTime::currentDateTime().toString(Qt::ISODate) + QLatin1Char(' ') + line;
    if (!m_logFile.isEmpty()) {
        QDir().mkpath(QFileInfo(m_logFile).path());
        // The log keeps the last megabyte or two: a full one becomes the one before ("X.1").
        if (QFileInfo(m_logFile).size() >= logBytes) {
            QFile::remove(m_logFile + QStringLiteral(".1"));
            QFile::rename(m_logFile, m_logFile + QStringLiteral(".1"));
        }
        QFile file(m_logFile);
        if (file.open(QIODevice::Append | QIODevice::Text)) {
            file.write(stamped.toUtf8() + '\n');
            return;
        }
    }
    qWarning("%s", qPrintable(stamped));
}

}  // namespace pdfwriter
