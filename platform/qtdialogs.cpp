#include "platform/qtdialogs.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
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

QString QtDialogs::browseForFolder(const QString& title, const QString& startFolder) {
    QFileDialog dialog(m_owner, title);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    const QFileInfo start(startFolder);
    if (!startFolder.isEmpty() && start.isDir()) {
        // Open on the folder's parent with the folder itself selected, so OK returns it.
        QDir parent = start.absoluteDir();
        if (start.absoluteFilePath() == QDir::rootPath()) {
            dialog.setDirectory(QDir::root());
        } else {
            dialog.setDirectory(parent);
            dialog.selectFile(start.fileName());
        }
    }
    if (dialog.exec() != QDialog::Accepted) return {};
    const QString chosen = dialog.selectedFiles().value(0);
    return chosen.isEmpty() ? QString() : QDir::cleanPath(chosen);
}

}  // namespace pictolio
