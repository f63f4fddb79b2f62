// SPDX-License-Identifier: GPL-3.0-or-later
#include "filelist/folderscan.h"

#include <climits>

#include <QFile>

#include "common/apperror.h"
#include "common/errortrap.h"
#include "common/paths.h"
#include "platform/filesystem.h"

namespace pictolio {

namespace {

const QString scanLocation = QStringLiteral("in OrvaneTitle2021/08/31.AddFolder.GetSubDirectories2016 ");
// The longest path a folder may have: Windows' limit, or the system's.
constexpr qsizetype maxPath = nativePathStyle == PathStyle::Windows ? 260 : PATH_MAX;

bool isRootFolder(const QString& folder) {
    return collapseSeparators(folder, PathStyle::Posix) == QLatin1String("/");
}

}  // namespace

FolderScan::FolderScan(const FileSystem& files, Dialogs& dialogs, std::function<void()> doEvents,
                       std::function<bool()> abandoned)
    : m_files(files), m_dialogs(dialogs), m_doEvents(std::move(doEvents)), m_abandoned(std::move(abandoned)) {}

bool FolderScan::events() {
    m_doEvents();
    if (m_abandoned && m_abandoned()) m_stopped = true;
    return m_stopped;
}

bool FolderScan::hasUnsafeChars(const QString& name, PathStyle style) {
    if (style == PathStyle::Posix) {
        // Every name the file system holds works, but one that is not valid in the file-name
        // encoding: it would not lead back to the folder.
        return QFile::decodeName(QFile::encodeName(name)) != name;
    }
    for (const QChar c : name) {
        const char16_t u = c.unicode();
        // Printable ASCII but "?", and the Latin-1 letters, have codes 32..126 and 160..255 in
        // code page 1252; everything else is below 32, from 127 to 159, or unknown ("?").
        const bool safe = (u >= 32 && u <= 126 && u != u'?') || (u >= 160 && u <= 255);
        if (!safe) return true;
    }
    return false;
}

bool FolderScan::mayLookInto(const QString& folder) const {
    if (isRootFolder(folder)) return true;
    const quint32 a = m_files.attributes(folder).value_or(0) & attr::scanMask;
    return a != 22 && a != 1046;
}

void FolderScan::getSubDirectories2016(QStringList& folders) {
    m_seen.clear();
    m_foldersLostInEncoding.clear();
    for (const QString& f : folders) m_seen.insert(m_files.folderIdentity(f));
    scan(folders);
}

void FolderScan::scan(QStringList& folders) {
    ErrorTrap trap(m_dialogs, scanLocation);
    QStringList below;
    const QStringList current = folders;
    for (const QString& v : current) {
        if (m_stopped) return;
        bool skip = false;
        trap.at(100, [&] { skip = !isFolder(v) || v.size() >= maxPath; });
        if (skip) continue;
        trap.at(102, [&] { events(); });
        if (m_stopped) return;
        bool lookInto = false;
        trap.at(104, [&] { lookInto = mayLookInto(v); });
        if (!lookInto) continue;
        QStringList names;
        try {
            names = m_files.subFolders(v);
        } catch (const AppError& e) {
            if (e.code() == ErrorCode::PermissionDenied || e.code() == ErrorCode::PathNotFound)
                folders.removeOne(v);
            continue;  // any other failure ends this folder's listing silently
        } catch (const std::exception&) {
            continue;
        }
        for (const QString& name : names) {
            trap.at(106, [&] { events(); });
            if (m_stopped) return;
            const bool kept = name.size() < maxPath && !hasUnsafeChars(name) &&
                              name != QLatin1String(".") && name != QLatin1String("..");
            if (!kept) continue;
            const QString folder = v + name + QLatin1Char('/');
            // A link back to a folder already collected would repeat its files (and, pointing
            // up the tree, repeat them many times over).
            const QString id = m_files.folderIdentity(folder);
            if (!id.isEmpty() && m_seen.contains(id)) continue;
            m_seen.insert(id);
            below << folder;
        }
    }
    if (!below.isEmpty()) scan(below);
    for (const QString& w : below) {
        if (m_stopped) return;
        bool keep = false;
        trap.at(108, [&] { keep = isFolder(w); });
        if (!keep && nameLostInEncoding(w)) m_foldersLostInEncoding << w;
        if (!keep) continue;
        trap.at(110, [&] { events(); });
        trap.at(112, [&] {
            if (mayLookInto(w)) folders << w;
        });
    }
}

QStringList FolderScan::listFiles(QString folder, const QString& pattern) const {
    if (!folder.endsWith(QLatin1Char('/'))) folder += QLatin1Char('/');
    QStringList kept;
    // A file whose name is not valid in the file-name encoding is kept too: it cannot be opened
    // by the name it was listed under, and so it is reported as what it is rather than lost.
    for (const QString& name : m_files.listFiles(folder, pattern))
        if (m_files.isOpenableFile(folder + name) || nameLostInEncoding(folder + name)) kept << name;
    return kept;
}

QStringList FolderScan::filesOf(const QStringList& folders, const QString& pattern) const {
    QStringList rows;
    for (const QString& entry : folders) {
        const QString folder = entry.chopped(1);
        for (const QString& name : listFiles(folder, pattern)) {
            if (name.startsWith(QLatin1Char('~'))) continue;
            // listFiles() kept only files that open, and those whose names cannot.
            const QString path = folder + QLatin1Char('/') + name;
            if ((m_files.attributes(path).value_or(0) & attr::scanMask) == (attr::archive | attr::hidden))
                continue;
            rows << repairRootJoin(path);
        }
    }
    return rows;
}

}  // namespace pictolio
