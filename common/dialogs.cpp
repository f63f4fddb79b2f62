// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/dialogs.h"

#include <QStringList>

#include "common/apperror.h"
#include "common/paths.h"

namespace pictolio {

MessageAnswer Dialogs::message(const QString& text, MessageButtons buttons, MessageIcon icon,
                               const QString& title) {
    return showMessage({text, title.isEmpty() ? m_applicationTitle : title, buttons, icon});
}

QString commonDialogFileName(const QStringList& files, int bufferSize) {
    QString result;
    if (files.size() == 1) {
        result = files.first();
    } else if (files.size() > 1) {
        // The folder all the files lie in (a dialog that shows recent files or search results
        // picks across folders), and each file's path below it: for one folder, its bare name.
        QString folder = extractFolder(files.first());
        for (const QString& file : files)
            while (!file.startsWith(folder)) folder = extractFolder(folder.chopped(1));
        // The folder of a root keeps its separator; any other folder is given without one.
        result = folder.size() > 1 ? folder.chopped(1) : folder;
        for (const QString& file : files) result += QChar(0) + file.mid(folder.size());
    }
    if (result.size() > bufferSize - 1) throw AppError(ErrorCode::FileNameBufferTooSmall);
    return result;
}

QString messageTextForDisplay(const QString& text) {
    QString out = text;
    out.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    out.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return out;
}

}  // namespace pictolio
