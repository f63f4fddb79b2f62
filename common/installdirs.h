// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// Where the programs find what they read at run time. An installation keeps its programs in
// <prefix>/bin, its data (help pages, sample pictures, skin, cursors) in <prefix>/share/pictolio
// and the printer list every user shares in <sysconfdir>/pictolio; a build tree keeps all of it
// beside the programs. Both folders are found from the program's own folder, so an installation
// moved to another prefix still finds them.
namespace pictolio {

// The folder of the arch-independent data: <prefix>/share/pictolio when programFolder is the
// bin/ folder of an installation, programFolder itself in a build tree.
QString dataFolder(const QString& programFolder);

// The folder of the printer list for every user: <sysconfdir>/pictolio in an installation,
// programFolder itself in a build tree.
QString systemConfigFolder(const QString& programFolder);

// The text recogniser's module (Tesseract, loaded when text is first recognised): in
// <libdir>/pictolio of an installation, at the same place relative to programFolder in a build tree.
QString recogniserModule(const QString& programFolder);

}  // namespace pictolio
