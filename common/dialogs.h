// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

namespace pictolio {

enum class MessageIcon { None, Warning, Question, Information };
enum class MessageButtons { Ok, YesNo };
enum class MessageAnswer { Ok, Yes, No };

// The open-file dialog as the program sets it up.
struct OpenFileRequest {
    QString title;
    QString filter;  // "description|pattern;pattern", as the common dialog takes it
    bool multiSelect = false;
    int bufferSize = 30000;  // characters the file name can hold
};

struct MessageRequest {
    QString text;   // exactly the program's text, line breaks as "\r\n", "\r" or "\n"
    QString title;  // already resolved: never empty
    MessageButtons buttons = MessageButtons::Ok;
    MessageIcon icon = MessageIcon::None;
};

// The modal dialogs the program uses. The real implementation shows Qt dialogs; tests use a
// recording fake with queued answers.
class Dialogs {
public:
    virtual ~Dialogs() = default;

    // A message box. An empty title shows the application title.
    MessageAnswer message(const QString& text, MessageButtons buttons = MessageButtons::Ok,
                          MessageIcon icon = MessageIcon::None, const QString& title = {});

    // The folder browser: opens with startFolder selected when it exists; returns the chosen
    // folder (the root with its separator, any other folder without a trailing one), or ""
    // when the user cancels.
    virtual QString browseForFolder(const QString& title, const QString& startFolder) = 0;

    // The open-file dialog. Returns what the common dialog returns in its file name: one
    // file's full path, or (several files) the folder, then each name, all separated by NUL
    // characters; "" when cancelled. A selection that does not fit the buffer throws
    // AppError FileNameBufferTooSmall.
    virtual QString openFile(const OpenFileRequest& request) = 0;

    // The input box: the prompt, a title, and a suggested answer; "" when cancelled.
    virtual QString inputBox(const QString& prompt, const QString& title,
                             const QString& defaultText) = 0;

    // The title of message boxes that name no title of their own.
    void setApplicationTitle(const QString& title) { m_applicationTitle = title; }
    const QString& applicationTitle() const { return m_applicationTitle; }

protected:
    virtual MessageAnswer showMessage(const MessageRequest& request) = 0;

private:
    QString m_applicationTitle;  // set at start-up
};

// The file name the common dialog returns for the chosen files (full paths): one path as it
// is, several as their folder and the names separated by NULs. Files from several folders are
// named by their paths below the folder they all lie in. Throws
// AppError FileNameBufferTooSmall when it is longer than bufferSize - 1 characters.
QString commonDialogFileName(const QStringList& files, int bufferSize);

// Windows breaks a message's lines at "\r\n", at a lone "\r" and at "\n"; this gives the text
// with every such break as a single "\n", for toolkits that only know "\n".
QString messageTextForDisplay(const QString& text);

}  // namespace pictolio
