// SPDX-License-Identifier: GPL-3.0-or-later
#include "fuzz/pdfcheck.h"

#include <qpdf/Buffer.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>

namespace fuzz {

std::vector<std::vector<PdfImageSeen>> readPdfImages(const std::string& path) {
    QPDF pdf;
    pdf.processFile(path.c_str());
    std::vector<std::vector<PdfImageSeen>> pages;
    for (QPDFPageObjectHelper& page : QPDFPageDocumentHelper(pdf).getAllPages()) {
        std::vector<PdfImageSeen> images;
        for (auto& [name, image] : page.getImages()) {
            QPDFObjectHandle dict = image.getDict();
            PdfImageSeen seen;
            seen.filter = dict.getKey("/Filter").unparse();
            seen.width = dict.getKey("/Width").getIntValueAsInt();
            seen.height = dict.getKey("/Height").getIntValueAsInt();
            seen.colorSpace = dict.getKey("/ColorSpace").unparse();
            const auto buffer = seen.filter == "/FlateDecode"
                                    ? image.getStreamData(qpdf_dl_generalized)
                                    : image.getRawStreamData();
            seen.data.assign(reinterpret_cast<const char*>(buffer->getBuffer()), buffer->getSize());
            images.push_back(std::move(seen));
        }
        pages.push_back(std::move(images));
    }
    return pages;
}

}  // namespace fuzz
