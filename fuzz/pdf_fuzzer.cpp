// SPDX-License-Identifier: GPL-3.0-or-later
// A picture file of any kind loaded by the picture decoder and printed on a page of its own, as
// the PDF printer writes it; the PDF is read back with libqpdf. A picture the decoder takes must
// give a whole PDF with its page and its image: JPEG data the check accepts, fax data as stored,
// or exactly one row of samples per pixel row.

#include <cstdint>
#include <exception>

#include "fuzz/fuzzsupport.h"
#include "fuzz/pdfcheck.h"
#include "imaging/jpegfile.h"
#include "pdffile/pdfbuilder.h"
#include "pictures/picture.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::quietQt();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const pictolio::Picture picture = fuzz::loadedPicture(data, size);
    if (picture.isEmpty()) return 0;

    // Stretched over an A4 page less the margins, turned upright.
    const imaging::Rect target{12, 12, 571, 818};
    pdffile::PrintJob job{"fuzz", 595, 842, {}};
    job.pages.push_back(
        {{{picture.image, imaging::placeImage(target, picture.orientation), target}}});
    const std::string pdf = fuzz::workFolder() + "/out.pdf";
    const pdffile::WriteResult result = pdffile::writePdfFile(job, pdf);
    if (!result.written) std::fprintf(stderr, "%s\n", qPrintable(result.written.reason()));
    fuzz::require(result.written && result.leftOut.empty(), "a picture that loaded is printed");

    std::vector<std::vector<fuzz::PdfImageSeen>> pages;
    try {
        pages = fuzz::readPdfImages(pdf);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        fuzz::require(false, "the PDF reads back");
    }
    fuzz::require(pages.size() == 1 && pages[0].size() == 1, "one page with one image");
    const fuzz::PdfImageSeen& image = pages[0][0];
    const imaging::ImageFormat format = picture.image->format();
    fuzz::require(image.width == format.width && image.height == format.height,
                  "the image keeps its size");
    if (image.filter == "/DCTDecode") {
        imaging::JpegInfo info;
        fuzz::require(imaging::checkJpeg(reinterpret_cast<const std::uint8_t*>(image.data.data()),
                                           image.data.size(), &info) == imaging::JpegStatus::Ok,
                      "the JPEG data in the PDF passes the check");
        fuzz::require(info.width == image.width && info.height == image.height && !info.arithmetic,
                      "the JPEG data in the PDF is the picture's, Huffman-coded");
    } else if (format.encoding == imaging::ImageEncoding::Ccitt) {
        fuzz::require(image.filter == "/CCITTFaxDecode" && !image.data.empty(), "fax data as stored");
    } else {
        // Decoded pixels, or a PNG's data as stored (the reader undoes its row filters).
        fuzz::require(image.filter == "/FlateDecode", "pixels are Flate-compressed");
        const std::size_t samples = !format.palette.empty()                            ? 1
                                    : format.colorSpace == imaging::ColorSpace::Gray ? 1
                                    : format.colorSpace == imaging::ColorSpace::Cmyk ? 4
                                                                                       : 3;
        const std::size_t rowBytes =
            (std::size_t(image.width) * samples * std::size_t(format.bitsPerComponent) + 7) / 8;
        fuzz::require(image.data.size() == rowBytes * std::size_t(image.height), "one row of samples per pixel row");
    }
    return 0;
}
