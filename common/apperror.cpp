// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/apperror.h"

namespace pictolio {

AppError::AppError(ErrorCode code, QString description)
    : m_code(code), m_description(std::move(description)), m_what(m_description.toStdString()) {}

AppError::AppError(ErrorCode code) : AppError(code, standardDescription(code)) {}

QString AppError::standardDescription(ErrorCode code) {
    switch (code) {
        case ErrorCode::InvalidArgument:
            return QStringLiteral("Invalid procedure call or argument");
        case ErrorCode::TypeMismatch:
            return QStringLiteral("Type mismatch");
        case ErrorCode::PermissionDenied:
            return QStringLiteral("Permission denied");
        case ErrorCode::PathNotFound:
            return QStringLiteral("Path not found");
        case ErrorCode::FileNameBufferTooSmall:
            return QStringLiteral("The buffer at which the member lpstrFile points is too small");
    }
    return QStringLiteral("Application-defined or object-defined error");
}

}  // namespace pictolio
