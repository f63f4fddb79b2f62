#include "common/registrystore.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

namespace pictolio {

RegistryStore::RegistryStore()
    : m_root(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
             QStringLiteral("/pictolio/registry/HKEY_CURRENT_USER")) {}

RegistryStore::RegistryStore(QString rootFolder) : m_root(std::move(rootFolder)) {}

QString RegistryStore::keyFile(const QString& key) const {
    QStringList parts;
    for (const QString& part : key.split(QLatin1Char('\\'), Qt::SkipEmptyParts)) {
        // A key name may hold any character but "\"; keep "/" and dots from leaving the root.
        QString safe = part;
        safe.replace(QLatin1Char('/'), QStringLiteral("%2F"));
        if (safe == QStringLiteral(".") || safe == QStringLiteral(".."))
            safe.replace(QLatin1Char('.'), QStringLiteral("%2E"));
        parts << safe;
    }
    return m_root + QLatin1Char('/') + parts.join(QLatin1Char('/')) + QStringLiteral(".values");
}

bool RegistryStore::createKey(const QString& key) const {
    const QString file = keyFile(key);
    if (QFileInfo::exists(file)) return true;
    if (!QDir().mkpath(QFileInfo(file).path())) return false;
    QSettings values(file, QSettings::IniFormat);
    values.setValue(QStringLiteral("(key)"), key);
    values.sync();
    return values.status() == QSettings::NoError;
}

bool RegistryStore::setString(const QString& key, const QString& name,
                              const QString& value) const {
    const QString file = keyFile(key);
    if (!QDir().mkpath(QFileInfo(file).path())) return false;
    QSettings values(file, QSettings::IniFormat);
    values.setValue(name, value);
    values.sync();
    return values.status() == QSettings::NoError;
}

std::optional<QString> RegistryStore::getString(const QString& key, const QString& name) const {
    QSettings values(keyFile(key), QSettings::IniFormat);
    const QVariant v = values.value(name);
    if (!v.isValid()) return std::nullopt;
    if (v.typeId() == QMetaType::QStringList) return v.toStringList().join(QStringLiteral(", "));
    return v.toString();
}

bool RegistryStore::keyExists(const QString& key) const {
    return QFileInfo::exists(keyFile(key));
}

}  // namespace pictolio
