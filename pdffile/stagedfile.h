// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

#include "common/outcome.h"

namespace pdffile {

// A new file that appears under its name only when it is whole, and leaves nothing behind when
// it is not, even when the process is killed outright. Where the file system allows, the file
// has no name while it is written (O_TMPFILE) and is linked in when done. Elsewhere it is written
// under a hidden name in the same folder that carries the process's number,
// ".pictolio-PID-XXXXXX": the first such file a process makes in a folder clears that folder of
// those left by the user's processes that are gone.
class StagedFile {
public:
    // Starts a file for path with the given permissions; fd() < 0 when it cannot be, and
    // error() says why.
    StagedFile(const std::string& path, unsigned mode);
    // Abandons the file unless it was committed.
    ~StagedFile();
    StagedFile(const StagedFile&) = delete;
    StagedFile& operator=(const StagedFile&) = delete;

    int fd() const { return m_fd; }
    const std::string& error() const { return m_error; }

    // Closes the file and gives it its name, in place of any file of that name; else why not
    // (and nothing is left behind).
    pictolio::Outcome<pictolio::Done> commit();
    // The same, under another name in the same folder.
    pictolio::Outcome<pictolio::Done> commitAs(const std::string& path) {
        m_path = path;
        return commit();
    }
    // Closes the file and drops it.
    void abandon();

private:
    std::string m_path;
    std::string m_folder;
    std::string m_temp;  // the hidden name, when the file has one
    int m_fd = -1;
    std::string m_error;
};

}  // namespace pdffile
