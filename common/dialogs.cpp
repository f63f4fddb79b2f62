#include "common/dialogs.h"

namespace pictolio {

MessageAnswer Dialogs::message(const QString& text, MessageButtons buttons, MessageIcon icon,
                               const QString& title) {
    return showMessage({text, title.isEmpty() ? m_applicationTitle : title, buttons, icon});
}

QString messageTextForDisplay(const QString& text) {
    QString out = text;
    out.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    out.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return out;
}

}  // namespace pictolio
