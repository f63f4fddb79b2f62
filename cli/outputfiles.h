// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include "common/outcome.h"

namespace pictolio {

// The PDF file at path copied to standard output.
Outcome<Done> copyToStandardOutput(const QString& path);

// The joined PDF to its name: moved when it can be; copied otherwise, whole, as the driver
// writes its files.
Outcome<Done> moveTo(const QString& made, const QString& target);

// The template of a run's temporary folders in the folder `in`, named after its process.
QString runFolderTemplate(const QString& in);

// Removes the temporary folders in the folder `in` of runs whose process is gone (killed outright).
void removeFoldersOfKilledRuns(const QString& in);

}  // namespace pictolio
