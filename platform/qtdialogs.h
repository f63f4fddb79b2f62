// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "common/dialogs.h"

class QWidget;

namespace pictolio {

// The dialogs as Qt shows them.
class QtDialogs : public Dialogs {
public:
    // Dialogs are modal to the owner window when there is one.
    void setOwner(QWidget* owner) { m_owner = owner; }

    QString browseForFolder(const QString& title, const QString& startFolder) override;
    QString openFile(const OpenFileRequest& request) override;
    QString inputBox(const QString& prompt, const QString& title, const QString& defaultText) override;

protected:
    MessageAnswer showMessage(const MessageRequest& request) override;

private:
    QWidget* m_owner = nullptr;
};

}  // namespace pictolio
