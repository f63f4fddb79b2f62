// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QMap>
#include <QString>
#include <optional>

namespace pictolio {

// The current user's registry as this platform keeps it: one file per key below a root folder,
// each holding string values. The program writes values and the PDF printer driver reads them,
// also from another thread or process; each call reads or writes the file afresh.
//
// Keys are written Windows fashion, "Software\Tenbrook PDF Writer".
class RegistryStore {
public:
    // The per-user root: "<user configuration folder>/pictolio/registry/HKEY_CURRENT_USER".
    RegistryStore();
    explicit RegistryStore(QString rootFolder);

    const QString& rootFolder() const { return m_root; }

    // Creates the key when missing; false when it cannot be created.
    bool createKey(const QString& key) const;
    // False when the value cannot be written.
    bool setString(const QString& key, const QString& name, const QString& value) const;
    // Several values at once, in one write of the key's file.
    bool setStrings(const QString& key, const QMap<QString, QString>& values) const;
    std::optional<QString> getString(const QString& key, const QString& name) const;
    // Every value of the key, read at once; none when the key is missing or unreadable. A key's
    // file is read only when it is a regular file of at most a megabyte: when it is not read,
    // *problem says why.
    QMap<QString, QString> values(const QString& key, QString* problem = nullptr) const;
    bool keyExists(const QString& key) const;

    // The file that holds a key's values.
    QString keyFile(const QString& key) const;

private:
    QString m_root;
};

}  // namespace pictolio
