// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include "common/paths.h"

namespace pictolio {

// The PDF file made from one picture: in the output folder (results to a folder) or beside
// the picture, named after it with its last extension replaced by ".pdf", doubled separators
// cleaned out.
QString outputPathInFolder(const QString& outputFolder, const QString& source,
                           PathStyle style = nativePathStyle);
QString outputPathBesideSource(const QString& source, PathStyle style = nativePathStyle);

// The PDF's file name for a picture: its last extension replaced by ".pdf".
QString pdfFileName(const QString& source, PathStyle style = nativePathStyle);

// Whether the text names a folder results can go to: an existing folder, given as a full path
// (a relative one would depend on where the program happened to be started).
bool isOutputFolder(const QString& text);

}  // namespace pictolio
