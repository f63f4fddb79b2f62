// SPDX-License-Identifier: GPL-3.0-or-later
#include "convert/outputpath.h"

#include <QDir>

namespace pictolio {

QString pdfFileName(const QString& source, PathStyle style) {
    return stripExtension(extractFileName(source, style)) + QStringLiteral(".pdf");
}

QString outputPathInFolder(const QString& outputFolder, const QString& source, PathStyle style) {
    return collapseSeparators(outputFolder + pathSeparator(style) + pdfFileName(source, style), style);
}

QString outputPathBesideSource(const QString& source, PathStyle style) {
    return collapseSeparators(extractFolder(source, style) + pathSeparator(style) +
                                  pdfFileName(source, style),
                              style);
}

bool isOutputFolder(const QString& text) { return QDir::isAbsolutePath(text) && isFolder(text); }

}  // namespace pictolio
