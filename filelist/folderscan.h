// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QSet>
#include <QString>
#include <QStringList>
#include <functional>

#include "common/paths.h"

namespace pictolio {

class Dialogs;
class FileSystem;

// Adding every file of a folder tree: the scan for the folders, the listing of their files, and
// the tests a file and a folder name must pass.
class FolderScan {
public:
    // abandoned() is asked after each look at the window's events: true ends the scan (the
    // window was closed).
    FolderScan(const FileSystem& files, Dialogs& dialogs, std::function<void()> doEvents,
               std::function<bool()> abandoned = {});

    // Appends to folders (each ending in "/") every folder below them, breadth-first by depth:
    // all folders one level down, grouped by parent in listing order, then two levels down, and
    // so on. Folders that cannot be listed are dropped from the collection; hidden system
    // folders are neither added nor looked into; a folder reached a second time (through a
    // link) is not scanned again.
    void getSubDirectories2016(QStringList& folders);

    // The folders the last getSubDirectories2016() could not look into because their names are
    // not valid in the file-name encoding (see nameLostInEncoding()).
    const QStringList& foldersLostInEncoding() const { return m_foldersLostInEncoding; }

    // The names of the files in folder that match the pattern and can be opened, and those that
    // cannot be opened because their names are not valid in the file-name encoding.
    QStringList listFiles(QString folder, const QString& pattern) const;

    // The rows for the files of every folder of the collection that match the pattern, in
    // order: names starting with "~" and files that are exactly archive + hidden are left out.
    QStringList filesOf(const QStringList& folders, const QString& pattern) const;

    // Whether a folder's name is one the scan skips, with its subtree. Windows: a character
    // the Western code page (1252) does not have, a control character, or "?". POSIX: a name
    // that is not valid in the file-name encoding.
    static bool hasUnsafeChars(const QString& name, PathStyle style = nativePathStyle);

private:
    bool mayLookInto(const QString& folder) const;
    void scan(QStringList& folders);

    const FileSystem& m_files;
    Dialogs& m_dialogs;
    bool events();  // lets events run; true when the scan is to stop
    std::function<void()> m_doEvents;
    std::function<bool()> m_abandoned;
    bool m_stopped = false;
    QSet<QString> m_seen;  // identities of the folders collected so far
    QStringList m_foldersLostInEncoding;
};

}  // namespace pictolio
