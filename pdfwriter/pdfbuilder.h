// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "pdfwriter/documentinfo.h"
#include "pdfwriter/printjob.h"

namespace pdfwriter {

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
    bool written = false;
    std::string error;                // why nothing was written
    // Pictures left out: changed or gone since the check, or their data failed when written.
    std::vector<std::string> leftOut;
    // Pages written without the text recognition was asked for, and why.
    std::vector<std::string> notes;
};

// Writes the job as a PDF file at path. The file appears only when it is whole (a StagedFile);
// on failure, or when stopped, nothing is left behind.
// A picture whose file changed or vanished since it was checked is left out (and named in the
// result), rather than shown as something else, and so is one whose data cannot be given when
// the file is written (the file is then written again without it); a page left with no picture
// is left out too.
WriteResult writePdfFile(const PrintJob& job, const std::string& path, const WriteOptions& options = {});

}  // namespace pdfwriter
