// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <exception>
#include <new>

#include "common/apperror.h"
#include "common/dialogs.h"

namespace pictolio {

// The text of the error report: description, the handler's location text and the line of the
// failing step, then where to send it.
QString errorReportText(const QString& description, const QString& location, int line);

// Runs a handler's numbered steps. When a step fails, the error report is shown and the
// handler goes on with its next step, so a trapped handler always runs to its end:
//
//     ErrorTrap trap(dialogs, "in Jovemark2021/08/31.Form1.PushButton9_Click ");
//     trap.at(100, [&] { folder = browse(); });
//     if (!trap.at(102, [&] { ... })) ...
class ErrorTrap {
public:
    ErrorTrap(Dialogs& dialogs, QString location);

    // Runs one step; true when it finished without an error.
    template <class Step>
    bool at(int line, Step&& step) {
        try {
            step();
            return true;
        } catch (const AppError& e) {
            report(e.description(), line);
        } catch (const std::bad_alloc&) {
            report(QStringLiteral("Out of memory"), line);
        } catch (const std::exception& e) {
            report(QString::fromLocal8Bit(e.what()), line);
        }
        return false;
    }

    // How many errors this trap has reported.
    int errorCount() const { return m_errors; }

private:
    void report(const QString& description, int line);

    Dialogs& m_dialogs;
    QString m_location;
    int m_errors = 0;
};

}  // namespace pictolio
