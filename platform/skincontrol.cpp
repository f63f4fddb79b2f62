// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/skincontrol.h"

#include <QApplication>
#include <QFile>
#include <QWidget>

#include "common/apperror.h"

namespace pictolio {

QVariant SkinControl::invoke(int member, const QVariantList& args) {
    switch (member) {
        case 2: {
            QFile file(args.value(0).toString());
            if (!file.open(QIODevice::ReadOnly))
                throw AppError(ErrorCode::PathNotFound,
                               QStringLiteral("Path not found: ") + file.fileName());
            m_styleSheet = QString::fromUtf8(file.readAll());
            return true;
        }
        case 3: {
            QWidget* window = QWidget::find(WId(args.value(0).toULongLong()));
            if (!window) throw AppError(ErrorCode::InvalidArgument);
            if (!m_enabled) return false;
            if (m_options & 1)
                qApp->setStyleSheet(m_styleSheet);
            else if (m_wholeWindow)
                window->setStyleSheet(m_styleSheet);
            else
                window->setStyleSheet(QStringLiteral("%1 { %2 }")
                                          .arg(QString::fromLatin1(window->metaObject()->className()),
                                               m_styleSheet));
            return true;
        }
        default:
            throw AppError(ErrorCode::InvalidArgument);
    }
}

QVariant SkinControl::property(int id) const {
    switch (id) {
        case 1:
            return m_options;
        case 5:
            return m_enabled;
        case 10:
            return m_wholeWindow;
        default:
            throw AppError(ErrorCode::InvalidArgument);
    }
}

void SkinControl::setProperty(int id, const QVariant& value) {
    switch (id) {
        case 1:
            m_options = value.toInt();
            break;
        case 5:
            m_enabled = value.toBool();
            break;
        case 10:
            m_wholeWindow = value.toBool();
            break;
        default:
            throw AppError(ErrorCode::InvalidArgument);
    }
}

}  // namespace pictolio
