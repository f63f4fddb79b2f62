// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <exception>
#include <string>

namespace pictolio {

// Error codes as the platform numbers them; the error report quotes the description.
enum class ErrorCode : int {
    InvalidArgument = 5,
    TypeMismatch = 13,
    PermissionDenied = 70,
    PathNotFound = 76,
    FileNameBufferTooSmall = 20476,
};

// An unexpected failure inside a handler step. Expected outcomes (a missing file, a file
// that is not a picture) are return values, never an AppError.
class AppError : public std::exception {
public:
    AppError(ErrorCode code, QString description);
    // The platform's standard description for the code.
    explicit AppError(ErrorCode code);

    ErrorCode code() const { return m_code; }
    const QString& description() const { return m_description; }
    const char* what() const noexcept override { return m_what.c_str(); }

    static QString standardDescription(ErrorCode code);

private:
    ErrorCode m_code;
    QString m_description;
    std::string m_what;
};

}  // namespace pictolio
