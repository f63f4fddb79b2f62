#pragma once

#include <QString>

namespace pictolio {

enum class MessageIcon { None, Warning, Question, Information };
enum class MessageButtons { Ok, YesNo };
enum class MessageAnswer { Ok, Yes, No };

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

    // The title of message boxes that name no title of their own.
    void setApplicationTitle(const QString& title) { m_applicationTitle = title; }
    const QString& applicationTitle() const { return m_applicationTitle; }

protected:
    virtual MessageAnswer showMessage(const MessageRequest& request) = 0;

private:
    QString m_applicationTitle = QStringLiteral("Pictolio");
};

// Windows breaks a message's lines at "\r\n", at a lone "\r" and at "\n"; this gives the text
// with every such break as a single "\n", for toolkits that only know "\n".
QString messageTextForDisplay(const QString& text);

}  // namespace pictolio
