// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <gtest/gtest.h>

#include <QString>
#include <QTemporaryDir>
#include <memory>
#include <utility>
#include <vector>

#include "pdfwriter/driver.h"
#include "pictures/picture.h"
#include "platform/printservice.h"
#include "platform/registry.h"

namespace pictolio::testing {

// A user's printing set-up in a temporary folder: the PDF printer installed with the printing
// preferences a test asks for, the printing service and the registry over that folder, and the
// PDF printer the current printer. Fixtures of tests that print derive from it.
class PrintingFixture : public ::testing::Test {
protected:
    // Sets it up (from SetUp: it asserts). preferences: the PDF printer's printing preferences
    // (name, value), written before the service starts; saveAs: what the driver asks for when a
    // job has no output path.
    void installPrinting(const std::vector<std::pair<QString, QString>>& preferences = {},
                         pdfwriter::PdfWriterDriver::SaveAsPrompt saveAs = {});
    // Sets one of the PDF printer's printing preferences.
    void setPreference(const QString& name, const QString& value) const;

    QTemporaryDir root;
    PictureDecoder decoder;
    std::unique_ptr<PrintService> service;
    std::unique_ptr<Registry> registry;
};

}  // namespace pictolio::testing
