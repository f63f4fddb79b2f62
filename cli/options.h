// SPDX-License-Identifier: GPL-3.0-or-later
// pictolio-convert's command line: its options, read from one table into one value the run is made
// from, checked before anything is done.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <utility>

#include "cli/archive.h"
#include "common/outcome.h"

namespace pictolio {

class RegistryStore;

// What the command line asks of the run.
struct CommandLine {
    QString answer;  // --help's or --version's text: written, and nothing is run

    QStringList arguments;  // pictures and folders as given ("-": standard input)
    bool joined = false;    // one PDF of all pictures (--join, or one picture to a named PDF)
    bool stretch = false;
    bool beside = false;
    bool natural = true;    // a folder's pictures in natural order (p1, p2, p10)
    int quarterTurns = 0;   // --rotate
    QString folder;         // absolute: the PDFs' folder, the joined PDF's, or the tree's
    QString joinedFile;     // the joined PDF's absolute name, or "-" for standard output; "" for none
    QString sidecar;        // the recognised text's file (absolute), "-" for standard output, "" for none

    bool tree = false, update = false;
    Shard shard;
    QString reportPath;     // "" for none, "-" for standard output

    bool quiet = false;
    bool storedApply = true;  // the printer's stored preferences stand for those not given
    bool titled = false;      // a title given, or the joined PDF's own name
    // The printer's preferences given, as the registry stores them (value name, value), in the
    // order they apply: later ones win.
    QList<std::pair<QString, QString>> preferences;
};

// The command line (the program's path first) read and checked against the printer's stored
// preferences in `users`; a Failure is a wrong command line, in words.
Outcome<CommandLine> readCommandLine(const QStringList& arguments, const RegistryStore& users);

// "pictolio-convert: TEXT" and where the usage is, on standard error.
void usageError(const QString& text);

}  // namespace pictolio
