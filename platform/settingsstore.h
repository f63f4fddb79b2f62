// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

namespace pictolio {

// Per-user string values addressed by application, section and key.
class SettingsStore {
public:
    virtual ~SettingsStore() = default;

    // The stored text; the default when the value is missing or the store cannot be read.
    // Never creates anything.
    virtual QString getSetting(const QString& application, const QString& section,
                               const QString& key, const QString& defaultValue) const = 0;

    // Creates what is needed and sets the value. Throws AppError when it cannot be saved.
    virtual void saveSetting(const QString& application, const QString& section,
                             const QString& key, const QString& value) = 0;
};

// The settings store of the platform (QSettings): on Linux a file in the user's configuration
// folder, "<config>/Tenbrook/Pictolio Software.conf"; on Windows the current user's registry
// key ending in "Tenbrook\Pictolio Software".
class PlatformSettingsStore : public SettingsStore {
public:
    // Uses the platform's per-user location.
    PlatformSettingsStore() = default;
    // Keeps every file below rootFolder instead (tests, portable installations).
    explicit PlatformSettingsStore(QString rootFolder);

    QString getSetting(const QString& application, const QString& section, const QString& key,
                       const QString& defaultValue) const override;
    void saveSetting(const QString& application, const QString& section, const QString& key,
                     const QString& value) override;

private:
    QString m_rootFolder;
};

// The values of this program: application "Tenbrook", section "Pictolio Software".
class ProgramSettings {
public:
    static constexpr const char* application = "Tenbrook";
    static constexpr const char* section = "Pictolio Software";

    explicit ProgramSettings(SettingsStore& store) : m_store(store) {}

    QString get(const QString& key, const QString& defaultValue) const;
    void save(const QString& key, const QString& value);
    // An option state: the stored text (default: the number given) as a Boolean.
    bool getBoolean(const QString& key, int defaultValue) const;
    void saveBoolean(const QString& key, bool value);

private:
    SettingsStore& m_store;
};

// The language's conversion of a text to a Boolean: "True" and "False" (any letter case) and
// number texts, a non-zero number meaning true. Any other text throws a type-mismatch AppError.
bool textToBoolean(const QString& text);

// The texts written for option states.
QString booleanToText(bool value);

}  // namespace pictolio
