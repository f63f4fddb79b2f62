// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/qtdialogs.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QMessageBox>

namespace pictolio {

MessageAnswer QtDialogs::showMessage(const MessageRequest& request) {
    QMessageBox box(m_owner);
    box.setWindowTitle(request.title);
    box.setTextFormat(Qt::PlainText);
    box.setText(messageTextForDisplay(request.text));
    switch (request.icon) {
        case MessageIcon::None:
            box.setIcon(QMessageBox::NoIcon);
            break;
        case MessageIcon::Warning:
            box.setIcon(QMessageBox::Warning);
            break;
        case MessageIcon::Question:
            box.setIcon(QMessageBox::Question);
            break;
        case MessageIcon::Information:
            box.setIcon(QMessageBox::Information);
            break;
    }
    if (request.buttons == MessageButtons::YesNo) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::Yes);
        return box.exec() == QMessageBox::Yes ? MessageAnswer::Yes : MessageAnswer::No;
    }
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
    return MessageAnswer::Ok;
}

QString QtDialogs::inputBox(const QString& prompt, const QString& title, const QString& defaultText) {
    bool ok = false;
    const QString answer = QInputDialog::getText(m_owner, title, messageTextForDisplay(prompt),
                                                 QLineEdit::Normal, defaultText, &ok);
    return ok ? answer : QString();
}

QString QtDialogs::openFile(const OpenFileRequest& request) {
    // "All JPEG (*.jpeg;*.jpg)|*.jpeg;*.jpg" becomes Qt's "All JPEG (*.jpeg *.jpg)".
    QStringList filters;
    const QStringList parts = request.filter.split(QLatin1Char('|'));
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        // Patterns in both letter cases: a desktop's own dialog may match case-sensitively, and
        // cameras name their pictures "DSC_0001.JPG".
        QStringList patterns;
        for (const QString& pattern : parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts))
            for (const QString& variant : {pattern.toLower(), pattern.toUpper()})
                if (!patterns.contains(variant)) patterns << variant;
        QString label = parts[i];
        const qsizetype paren = label.indexOf(QLatin1Char('('));
        if (paren >= 0) label = label.left(paren).trimmed();
        filters << QStringLiteral("%1 (%2)").arg(label, patterns.join(QLatin1Char(' ')));
    }
    QFileDialog dialog(m_owner, request.title);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(request.multiSelect ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
    dialog.setNameFilters(filters);
    if (dialog.exec() != QDialog::Accepted) return {};
    return commonDialogFileName(dialog.selectedFiles(), request.bufferSize);
}

QString QtDialogs::browseForFolder(const QString& title, const QString& startFolder) {
    // Qt's own dialog, so it opens where asked on every desktop: in the start folder, where OK
    // at once returns that folder.
    QFileDialog dialog(m_owner, title);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    if (!startFolder.isEmpty() && QFileInfo(startFolder).isDir()) dialog.setDirectory(startFolder);
    if (dialog.exec() != QDialog::Accepted) return {};
    const QString chosen = dialog.selectedFiles().value(0);
    return chosen.isEmpty() ? QString() : QDir::cleanPath(chosen);
}

}  // namespace pictolio
