#include "convert/outputpath.h"

#include <QDir>

namespace pictolio {

namespace {

QString pdfName(const QString& source, PathStyle style) {
    return stripExtension(extractFileName(source, style)) + QStringLiteral(".pdf");
}

}  // namespace

QString outputPathInFolder(const QString& outputFolder, const QString& source, PathStyle style) {
    return collapseSeparators(outputFolder + pathSeparator(style) + pdfName(source, style), style);
}

QString outputPathBesideSource(const QString& source, PathStyle style) {
    return collapseSeparators(extractFolder(source, style) + pathSeparator(style) +
                                  pdfName(source, style),
                              style);
}

bool isOutputFolder(const QString& text) { return QDir::isAbsolutePath(text) && isFolder(text); }

}  // namespace pictolio
