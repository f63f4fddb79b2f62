// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <deque>
#include <functional>
#include <variant>

#include "common/apperror.h"

#include "common/dialogs.h"

namespace pictolio::testing {

// Records every dialog the code under test shows and answers from a queue (OK, or Yes for a
// Yes/No box, when the queue is empty).
class FakeDialogs : public Dialogs {
public:
    QList<MessageRequest> messages;
    std::function<void(const MessageRequest&)> onMessage;  // called as each message shows
    std::deque<MessageAnswer> answers;

    struct FolderRequest {
        QString title;
        QString startFolder;
    };
    QList<FolderRequest> folderRequests;
    std::deque<QString> folderAnswers;  // "" = cancelled; empty queue: cancelled
    QString browseForFolder(const QString& title, const QString& startFolder) override;

    struct InputRequest {
        QString prompt, title, defaultText;
    };
    QList<InputRequest> inputRequests;
    std::deque<QString> inputAnswers;  // empty queue: cancelled
    QString inputBox(const QString& prompt, const QString& title, const QString& defaultText) override;

    QList<OpenFileRequest> openRequests;
    // Each answer: the common dialog's file name, or an error code to raise.
    std::deque<std::variant<QString, ErrorCode>> openAnswers;  // empty queue: cancelled
    QString openFile(const OpenFileRequest& request) override;

    // The texts of the recorded messages, in order.
    QStringList messageTexts() const;

protected:
    MessageAnswer showMessage(const MessageRequest& request) override;
};

}  // namespace pictolio::testing
