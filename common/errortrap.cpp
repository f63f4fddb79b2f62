// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/errortrap.h"

#include "appconfig.h"

namespace pictolio {

QString errorReportText(const QString& description, const QString& location, int line) {
    return description + QStringLiteral("\r\n") + location + QStringLiteral("at line ") +
           QString::number(line) + QStringLiteral("\r") + QStringLiteral("\r") +
           QStringLiteral("Please email screenshot of this message to ") +
           QString::fromUtf8(config::supportAddress);
}

ErrorTrap::ErrorTrap(Dialogs& dialogs, QString location)
    : m_dialogs(dialogs), m_location(std::move(location)) {}

void ErrorTrap::report(const QString& description, int line) {
    ++m_errors;
    m_dialogs.message(errorReportText(description, m_location, line), MessageButtons::Ok,
                      MessageIcon::Warning, QStringLiteral("Application Error"));
}

}  // namespace pictolio
