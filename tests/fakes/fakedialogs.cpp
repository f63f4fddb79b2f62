// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/fakes/fakedialogs.h"

namespace pictolio::testing {

QStringList FakeDialogs::messageTexts() const {
    QStringList texts;
    for (const auto& m : messages) texts << m.text;
    return texts;
}

QString FakeDialogs::browseForFolder(const QString& title, const QString& startFolder) {
    folderRequests.append({title, startFolder});
    if (folderAnswers.empty()) return {};
    QString answer = folderAnswers.front();
    folderAnswers.pop_front();
    return answer;
}

QString FakeDialogs::inputBox(const QString& prompt, const QString& title, const QString& defaultText) {
    inputRequests.append({prompt, title, defaultText});
    if (inputAnswers.empty()) return {};
    QString answer = inputAnswers.front();
    inputAnswers.pop_front();
    return answer;
}

QString FakeDialogs::openFile(const OpenFileRequest& request) {
    openRequests.append(request);
    if (openAnswers.empty()) return {};
    const auto answer = openAnswers.front();
    openAnswers.pop_front();
    if (const auto* code = std::get_if<ErrorCode>(&answer)) throw AppError(*code);
    return std::get<QString>(answer);
}

MessageAnswer FakeDialogs::showMessage(const MessageRequest& request) {
    messages << request;
    if (onMessage) onMessage(request);
    if (!answers.empty()) {
        const MessageAnswer a = answers.front();
        answers.pop_front();
        return a;
    }
    return request.buttons == MessageButtons::YesNo ? MessageAnswer::Yes : MessageAnswer::Ok;
}

}  // namespace pictolio::testing
