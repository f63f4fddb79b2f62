// SPDX-License-Identifier: GPL-3.0-or-later
// Filling the list from folders: a whole folder tree, files and folders dropped on the list,
// and the sample pictures that come with the program.
#include <QElapsedTimer>

#include "app/form1.h"
#include "app/listhistory.h"
#include "common/errortrap.h"
#include "common/paths.h"
#include "filelist/filelist.h"
#include "filelist/folderscan.h"
#include "platform/events.h"
#include "platform/filesystem.h"
#include "platform/settingsstore.h"
#include "platform/shell.h"

namespace pictolio {

// Adds the files of each folder of the collection. A tree of a hundred thousand files takes a
// while: the window gets its events at least every few tenths of a second meanwhile.
void Form1::addFilesOf(ErrorTrap& trap, const FolderScan& scan, const QStringList& folders,
                       const QString& pattern) {
    QElapsedTimer sinceEvents;
    sinceEvents.start();
    for (const QString& f : folders) {
        if (m_unloading) return;  // the window was closed
        trap.at(112, [&] { ListView1->appendRows(scan.filesOf({f}, pattern)); });
        if (sinceEvents.elapsed() >= 100) {
            doEvents();
            sinceEvents.restart();
        }
    }
}

void Form1::PushButton3_Click() {
    ErrorTrap trap(m_services.dialogs, QStringLiteral("in Jovemark2021/08/31.Form1.PushButton3_Click "));
    ListHistory::Edit edit(*m_history, QStringLiteral("Add Folder"));
    ProgramSettings settings(m_services.settings);
    QString answer;
    trap.at(100, [&] {
        answer = m_services.dialogs.inputBox(
            QStringLiteral("Enter file extension to load:") + QStringLiteral("\r\r") +
                QStringLiteral("(* for all files, txt for all txt files, doc for all doc files, etc.)"),
            m_services.dialogs.applicationTitle(), settings.get(QStringLiteral("Extension"), QStringLiteral("jpg")));
    });
    if (answer.isEmpty()) return;
    trap.at(102, [&] { settings.save(QStringLiteral("Extension"), answer); });
    QString folder;
    trap.at(104, [&] {
        folder = m_services.dialogs.browseForFolder(QStringLiteral("Please select folder:"),
                                                    settings.get(QStringLiteral("LastFolder"), QString()));
    });
    if (folder.isEmpty()) return;
    trap.at(106, [&] { settings.save(QStringLiteral("LastFolder"), folder); });
    trap.at(108, [&] { setMousePointer(Hourglass); });
    FolderScan scan(m_services.files, m_services.dialogs, doEvents, [this] { return m_unloading; });
    QStringList folders{folder + pathSeparator()};
    trap.at(110, [&] { scan.getSubDirectories2016(folders); });
    const QString pattern = QStringLiteral("*.") + answer;
    addFilesOf(trap, scan, folders, pattern);
    trap.at(114, [&] { setMousePointer(Default); });
}

void Form1::listDrop(const QStringList& paths) {
    ListHistory::Edit edit(*m_history, QStringLiteral("Add Dropped Files"));
    FolderScan scan(m_services.files, m_services.dialogs, doEvents, [this] { return m_unloading; });
    for (const QString& entry : paths) {
        if (m_unloading) return;
        const std::optional<quint32> attributes = m_services.files.attributes(entry);
        if (attributes && (*attributes & attr::directory)) {
            QStringList folders{entry + pathSeparator()};
            scan.getSubDirectories2016(folders);
            ErrorTrap trap(m_services.dialogs, QStringLiteral("in Jovemark2021/08/31.Form1.ListView1_OLEDragDrop "));
            addFilesOf(trap, scan, folders, QStringLiteral("*.*"));
        } else {
            ListView1->appendRow(entry);  // as given: no test at all
        }
    }
}

void Form1::openPaths(const QStringList& paths) {
    if (!paths.isEmpty()) listDrop(paths);
}

void Form1::PushButton7_Click() {
    ErrorTrap trap(m_services.dialogs, QStringLiteral("in Jovemark2021/08/31.Form1.PushButton7_Click "));
    ListHistory::Edit edit(*m_history, QStringLiteral("Load Samples"));
    trap.at(100, [&] {
        const QString samples = m_config.programFolder + QStringLiteral("/Samples/");
        FolderScan scan(m_services.files, m_services.dialogs, doEvents);
        // A folder that is there but cannot be read is an error, not an empty folder.
        if (isFolder(samples)) m_services.files.subFolders(samples);
        for (const QString& name : scan.listFiles(m_config.programFolder + QStringLiteral("/Samples"), QStringLiteral("*.*"))) {
            const QString path = samples + name;
            if (!pathExists(path) || ListView1->isInFileList(path)) continue;
            ListView1->appendRow(path);
        }
        const MessageAnswer open = m_services.dialogs.message(
            QStringLiteral("Would you like this software to open the folder where these sample files are stored "
                           "(so that you can view them before working with them)?"),
            MessageButtons::YesNo);
        if (open == MessageAnswer::Yes) m_services.shell.open(QLatin1Char('"') + samples + QLatin1Char('"'));
    });
}

}  // namespace pictolio
