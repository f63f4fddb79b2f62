// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/support/printingfixture.h"

#include "convert/pdfprinter.h"

namespace pictolio::testing {

void PrintingFixture::installPrinting(const std::vector<std::pair<QString, QString>>& preferences,
                                      pdfwriter::PdfWriterDriver::SaveAsPrompt saveAs) {
    ASSERT_TRUE(root.isValid());
    ASSERT_TRUE(PrintService::addPrinter(root.path(), {"Tenbrook PDF Writer", "CPW2:", "Tenbrook PDF Writer"}));
    for (const auto& [name, value] : preferences) setPreference(name, value);
    service = std::make_unique<PrintService>(root.path(), std::move(saveAs));
    registry = std::make_unique<Registry>(PrintService::registryOf(root.path()));
    ASSERT_TRUE(pdfprinter::selectPdfPrinter(*service));
}

void PrintingFixture::setPreference(const QString& name, const QString& value) const {
    PrintService::registryOf(root.path()).setString(pdfwriter::PdfWriterDriver::registryKey(), name, value);
}

}  // namespace pictolio::testing
