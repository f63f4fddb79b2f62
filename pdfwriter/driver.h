// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <set>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "common/registrystore.h"
#include "pdfwriter/pagesetup.h"
#include "pdffile/pdfbuilder.h"
#include "pdffile/printjob.h"
#include "recognition/recognition.h"

namespace pdfwriter {

// The PDF printer driver. When a print job ends it takes "OutputFile" and "BypassSaveAs" from
// its registry key as they stand at that moment, then writes the PDF off the caller's thread,
// as a spooler would. The file appears only when it is whole.
class PdfWriterDriver {
public:
    // How large the log grows before it starts again, the full one kept beside it.
    static constexpr qint64 logBytes = 1 << 20;
    static constexpr const char* printerName = "Tenbrook PDF Writer";
    static constexpr const char* port = "CPW2:";
    // The values of its registry key that a program sets for a job: the PDF's path, and "1" to
    // write it there without asking.
    static constexpr const char* outputFileValue = "OutputFile";
    static constexpr const char* bypassValue = "BypassSaveAs";
    // What the next PDF is made from, as its run says (see pdffile::DocumentDetails::madeFrom).
    static constexpr const char* madeFromValue = "MadeFrom";
    // "Software\Tenbrook PDF Writer", below the current user's registry.
    static QString registryKey();

    // Asks the user where to save a job (a save dialog starting at the suggested path);
    // "" means cancelled.
    using SaveAsPrompt = std::function<QString(const QString& suggestedPath)>;

    PdfWriterDriver(pictolio::RegistryStore registry, QString logFile, SaveAsPrompt prompt = {});
    // Finishes every job handed over before it returns.
    ~PdfWriterDriver();
    PdfWriterDriver(const PdfWriterDriver&) = delete;
    PdfWriterDriver& operator=(const PdfWriterDriver&) = delete;

    // The page as the driver's registry values (its printing preferences) set it; defaults for
    // what is missing, and for what is not valid, with a line in the log.
    PageSetup pageSetup() const;
    // The page with nothing set: the locale's paper, turned to suit each picture, 600 dpi, a
    // 12-point margin.
    static PageSetup defaultPageSetup();

    // Incomplete: written, but without pictures that changed or vanished since they were
    // checked.
    enum class JobState { Unknown, Queued, Written, Incomplete, Failed };

    // A job being drawn, written page by page while it is drawn when its file's name is known
    // beforehand (the registry names it, and no dialog will ask); see StreamedPdf.
    struct OpenJob;
    // Starts a job as drawing begins; null when it can only be written once it ends.
    // archival: a PDF/A file.
    std::shared_ptr<OpenJob> beginJob(bool archival);
    // The job's page, complete: written while the next ones are drawn.
    void addPage(const std::shared_ptr<OpenJob>& job, const pdffile::Page& page);
    // A job that will not end (killed): what was written of it goes.
    void dropJob(const std::shared_ptr<OpenJob>& job);

    // A finished job. Returns at once with the job's number; the file is written in the
    // background (or finished, when it was written as it was drawn). 0 when the job is dropped
    // at once (cancelled, or no usable file name).
    std::uint64_t endJob(pdffile::PrintJob job, std::shared_ptr<OpenJob> open = nullptr);

    // What became of a job: queued (or being written), written, or failed.
    JobState jobState(std::uint64_t job) const;

    // Waits until the job is no longer queued, or at most the given time.
    void waitForJob(std::uint64_t job, int milliseconds);

    // Image bytes written so far, by all jobs: it moves while the driver makes progress.
    std::uint64_t progress() const { return m_progress.load(std::memory_order_relaxed); }

    // Waits until every job handed over so far is written (or has failed).
    void waitUntilIdle();

    // Text recognition, for the pictures of the documents being drawn.
    recognition::TextRecognition& recognition() { return *m_recognition; }
    // What the job's file lacks: pages written without the text asked for, and why.
    std::vector<std::string> jobNotes(std::uint64_t job) const;
    // The text recognised in a written job's file, each page's followed by a form feed; "" when
    // none was recognised. Taken once: a second call answers "".
    std::string takeJobText(std::uint64_t job);
    // Why a failed job's file was not written, as the log says it.
    QString jobError(std::uint64_t job) const;

    // Abandons the job being written (its file is not made, and nothing of it is left) and every
    // job queued; returns at once.
    void abandonAll();

    const QString& logFile() const { return m_logFile; }
    // Adds a time-stamped line to the driver's log.
    void log(const QString& line) const;
    // The same, unless the log already says it.
    void logOnce(const QString& line) const;

    // Writes the page defaults into the registry key, the paper size from the user's locale;
    // values already there stay.
    static void writeDefaults(const pictolio::RegistryStore& registry);
    // "Letter" where the user's locale uses US Letter paper, "A4" elsewhere.
    static QString localPaperName();

private:
    struct Pending {
        std::uint64_t id = 0;
        pdffile::PrintJob job;
        std::string path;
        std::shared_ptr<OpenJob> open;  // a job queued as drawing began
    };
    void setState(std::uint64_t id, JobState state);
    void run();
    pdffile::WriteOptions writeOptions();
    // Writes an open job's pages as they come; when it ends, its file (finished, or written
    // whole when that failed). false when the job was dropped before it ended.
    bool writeOpenJob(Pending& pending, pdffile::WriteResult* result);
    void report(const Pending& pending, const pdffile::WriteResult& result);

    pictolio::RegistryStore m_registry;
    QString m_logFile;
    SaveAsPrompt m_prompt;

    mutable std::mutex m_mutex;
    std::uint64_t m_nextJob = 1;
    std::map<std::uint64_t, JobState> m_states;  // the most recent jobs
    std::map<std::uint64_t, std::vector<std::string>> m_notes;
    std::map<std::uint64_t, std::string> m_texts;
    std::map<std::uint64_t, QString> m_errors;
    std::atomic<bool> m_abandon{false};  // the job being written is to be dropped
    std::shared_ptr<OpenJob> m_writing;   // the open job being written, if one is
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    std::deque<Pending> m_queue;
    bool m_busy = false;
    bool m_stopping = false;
    std::atomic<std::uint64_t> m_progress{0};
    std::unique_ptr<recognition::TextRecognition> m_recognition;
    unsigned m_fileMode = 0644;  // 0666 less the process's umask, read when the driver starts
    mutable std::mutex m_logMutex;
    mutable std::set<QString> m_complaints;  // what the log already says of the preferences
    std::thread m_worker;
};

}  // namespace pdfwriter
