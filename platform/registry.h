// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QHash>
#include <QString>

#include "common/registrystore.h"

namespace pictolio {

// The current user's registry, with the calls the program makes to hand the PDF printer its
// output path. Results are the platform's: 0 for success, a system error code otherwise.
class Registry {
public:
    using Key = quint32;
    static constexpr long success = 0;
    static constexpr long accessDenied = 5;
    static constexpr long invalidHandle = 6;

    explicit Registry(RegistryStore store = RegistryStore()) : m_store(std::move(store)) {}

    // Opens the key below HKEY_CURRENT_USER, creating it when missing.
    long regCreateKeyEx(const QString& subKey, quint32 access, Key* result);
    // Sets a string value (REG_SZ).
    long regSetValueEx(Key key, const QString& name, const QString& value);
    long regCloseKey(Key key);

    const RegistryStore& store() const { return m_store; }

private:
    RegistryStore m_store;
    QHash<Key, QString> m_open;
    Key m_next = 1;
};

}  // namespace pictolio
