// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "pdffile/printjob.h"

class QPDF;  // (its header is not for the C++17 the fuzz targets are built as)

namespace pdffile {

// The document's title: the file's name without ".pdf", as the file system spells it.
std::string titleFor(const std::string& path);

// The colour profiles a PDF/A file takes from the system (never written by hand): files of
// Debian packages, read when a file needs them.
struct ArchiveProfiles {
    std::string srgb;  // the output intent's; "": icc-profiles-free's sRGB.icc
    std::string cmyk;  // CMYK pictures without a profile of their own; "": Ghostscript's default
};

// A colour profile's bytes, read from its file; throws, naming the file and its package, when
// it cannot be read. cmyk: the CMYK profile rather than the sRGB one.
std::shared_ptr<const std::vector<std::uint8_t>> systemProfile(const ArchiveProfiles& profiles, bool cmyk);

// The document information and the same in XMP metadata; for more than one page, a bookmark
// per page named after its picture. The viewer opens on the first page. For PDF/A (the job's
// details say so), the XMP metadata says which PDF/A the file is, and the catalog gets the sRGB
// output intent; throws when its profile cannot be read.
void describeDocument(QPDF& pdf, const PrintJob& job, const std::string& title, const std::vector<Page>& pages,
                      const ArchiveProfiles& profiles);

// The document information's key for what a file is made from (DocumentDetails::madeFrom).
constexpr const char* madeFromKey = "/PictolioMadeFrom";
// What the PDF file at path says it is made from; "" when it says nothing, or is no readable PDF.
std::string madeFromOf(const std::string& path);

}  // namespace pdffile
