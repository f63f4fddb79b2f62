// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/outcome.h"
#include "pdffile/documentinfo.h"
#include "pdffile/printjob.h"

namespace pdffile {

struct WriteOptions {
    unsigned fileMode = 0644;  // the new file's permissions
    // Counts the image bytes written, for those who wait on the file to see it come on.
    std::atomic<std::uint64_t>* progress = nullptr;
    // When it turns true the file is abandoned where it stands, and nothing is left of it.
    const std::atomic<bool>* stop = nullptr;
    // Bytes left blank after the header, as if pages before took that room (a hole in the file,
    // on file systems that have them): what a file of many gigabytes is like, without writing one.
    std::int64_t blankAfterHeader = 0;
    // The colour profiles of PDF/A files, where not the system's.
    ArchiveProfiles profiles = {};
};

struct WriteResult {
    pictolio::Outcome<pictolio::Done> written = pictolio::Failure{};  // or why nothing was written
    // Pictures left out: changed or gone since the check, or their data failed when written.
    std::vector<std::string> leftOut;
    // Pages written without the text recognition was asked for, or with text read poorly, and why.
    std::vector<std::string> notes;
    // The text recognised, each page's followed by a form feed; "" when none was recognised.
    std::string text;
};

// Writes the job as a PDF file at path. The file appears only when it is whole (a StagedFile);
// on failure, or when stopped, nothing is left behind.
// A picture whose file changed or vanished since it was checked is left out (and named in the
// result), rather than shown as something else, and so is one whose data cannot be given when
// the file is written (the file is then written again without it); a page left with no picture
// is left out too.
WriteResult writePdfFile(const PrintJob& job, const std::string& path, const WriteOptions& options = {});

class DocumentWriter;
class StagedFile;

// A PDF written while its job is still being drawn: each page as soon as it is complete, so
// that a joined PDF's pictures are copied while the next ones are checked. The file is staged
// in the folder of the path expected when the job began and must end up in that folder; any
// failure (a picture changed, the disk full, ...) makes it unusable, and the job is then written
// whole by writePdfFile at its end. Its file is byte for byte what writePdfFile makes.
class StreamedPdf {
public:
    // archival: a PDF/A file.
    StreamedPdf(const std::string& expectedPath, const WriteOptions& options, bool archival);
    ~StreamedPdf();
    StreamedPdf(const StreamedPdf&) = delete;
    StreamedPdf& operator=(const StreamedPdf&) = delete;

    // Whether it can still become the job's file.
    bool usable() const { return m_writer != nullptr; }
    // Writes the next page (sized: its own width and height given).
    void add(const Page& page);
    // Ends the file and gives it its name, path being in the folder it is staged in (that of
    // expectedPath); the result is as
    // writePdfFile's, or not written with the error when the job must be written whole.
    WriteResult finish(const PrintJob& job, const std::string& path);

private:
    void drop();

    std::unique_ptr<StagedFile> m_file;
    std::unique_ptr<DocumentWriter> m_writer;
    std::string m_folder;  // where it is staged, as a path ending in '/'
    std::vector<std::string> m_notes;
};

}  // namespace pdffile
