// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/installdirs.h"

#include <QDir>
#include <QFileInfo>

namespace pictolio {

namespace {

// The installation's folders relative to its bin/ folder, from the build's install directories.
constexpr const char* dataFromBin = PICTOLIO_DATA_FROM_BIN;
constexpr const char* configFromBin = PICTOLIO_CONFIG_FROM_BIN;
constexpr const char* recogniserFromBin = PICTOLIO_RECOGNISER_FROM_BIN;

QString below(const QString& programFolder, const char* relative) {
    return QDir::cleanPath(programFolder + QLatin1Char('/') + QString::fromUtf8(relative));
}

bool installed(const QString& programFolder) {
    return !programFolder.isEmpty() && QFileInfo(below(programFolder, dataFromBin)).isDir();
}

}  // namespace

QString dataFolder(const QString& programFolder) {
    return installed(programFolder) ? below(programFolder, dataFromBin) : programFolder;
}

QString systemConfigFolder(const QString& programFolder) {
    return installed(programFolder) ? below(programFolder, configFromBin) : programFolder;
}

QString recogniserModule(const QString& programFolder) {
    return below(programFolder, recogniserFromBin) + QStringLiteral("/pictolio-recogniser.so");
}

}  // namespace pictolio
