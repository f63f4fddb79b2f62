#pragma once

#include <string>

#include "pdfwriter/printjob.h"

namespace pdfwriter {

// Writes the job as a PDF file at path. The file appears only when it is whole: it is written
// under a temporary name in the same folder and then renamed. On failure nothing is left
// behind, and the reason is given in *error.
bool writePdfFile(const PrintJob& job, const std::string& path, std::string* error);

}  // namespace pdfwriter
