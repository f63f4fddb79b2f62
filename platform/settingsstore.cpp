// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/settingsstore.h"

#include <QLocale>
#include <QSettings>
#include <cmath>
#include <memory>

#include "common/apperror.h"

namespace pictolio {

namespace {

std::unique_ptr<QSettings> openSettings(const QString& root, const QString& application,
                                        const QString& section) {
    auto settings = root.isEmpty()
                        ? std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                                      application, section)
                        : std::make_unique<QSettings>(root + QLatin1Char('/') + application +
                                                          QLatin1Char('/') + section +
                                                          QStringLiteral(".conf"),
                                                      QSettings::IniFormat);
    // Only the program's own file: no values from the maker's shared file or the system's.
    settings->setFallbacksEnabled(false);
    return settings;
}

}  // namespace

PlatformSettingsStore::PlatformSettingsStore(QString rootFolder)
    : m_rootFolder(std::move(rootFolder)) {}

QString PlatformSettingsStore::getSetting(const QString& application, const QString& section,
                                          const QString& key,
                                          const QString& defaultValue) const {
    const auto settings = openSettings(m_rootFolder, application, section);
    if (settings->status() != QSettings::NoError) return defaultValue;
    const QVariant value = settings->value(key);
    if (!value.isValid()) return defaultValue;
    // A hand-edited value such as "a, b" reads back as a list: give it back as it was written.
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList().join(QStringLiteral(", "));
    return value.toString();
}

void PlatformSettingsStore::saveSetting(const QString& application, const QString& section,
                                        const QString& key, const QString& value) {
    const auto settings = openSettings(m_rootFolder, application, section);
    settings->setValue(key, value);
    settings->sync();
    if (settings->status() != QSettings::NoError || !settings->isWritable()) {
        throw AppError(ErrorCode::PermissionDenied,
                       QStringLiteral("Permission denied: the setting \"%1\" could not be saved "
                                      "in %2")
                           .arg(key, settings->fileName()));
    }
}

QString ProgramSettings::get(const QString& key, const QString& defaultValue) const {
    return m_store.getSetting(QString::fromLatin1(application), QString::fromLatin1(section), key,
                              defaultValue);
}

void ProgramSettings::save(const QString& key, const QString& value) {
    m_store.saveSetting(QString::fromLatin1(application), QString::fromLatin1(section), key,
                        value);
}

bool ProgramSettings::getBoolean(const QString& key, int defaultValue) const {
    return textToBoolean(get(key, QString::number(defaultValue)));
}

void ProgramSettings::saveBoolean(const QString& key, bool value) { save(key, booleanToText(value)); }

bool textToBoolean(const QString& text) {
    const QString t = text.trimmed();
    if (t.compare(QStringLiteral("True"), Qt::CaseInsensitive) == 0) return true;
    if (t.compare(QStringLiteral("False"), Qt::CaseInsensitive) == 0) return false;
    bool ok = false;
    if (t.startsWith(QStringLiteral("&H"), Qt::CaseInsensitive)) {
        const qlonglong n = t.mid(2).toLongLong(&ok, 16);
        if (ok) return n != 0;
    } else if (t.startsWith(QStringLiteral("&O"), Qt::CaseInsensitive)) {
        const qlonglong n = t.mid(2).toLongLong(&ok, 8);
        if (ok) return n != 0;
    } else {
        const double n = QLocale::c().toDouble(t, &ok);
        if (ok && std::isfinite(n)) return n != 0.0;
    }
    throw AppError(ErrorCode::TypeMismatch);
}

QString booleanToText(bool value) { return value ? QStringLiteral("True") : QStringLiteral("False"); }

}  // namespace pictolio
