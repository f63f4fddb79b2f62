// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/registry.h"

namespace pictolio {

long Registry::regCreateKeyEx(const QString& subKey, quint32 /*access*/, Key* result) {
    if (!m_store.createKey(subKey)) return accessDenied;
    const Key key = m_next++;
    m_open.insert(key, subKey);
    if (result) *result = key;
    return success;
}

long Registry::regSetValueEx(Key key, const QString& name, const QString& value) {
    const auto it = m_open.constFind(key);
    if (it == m_open.constEnd()) return invalidHandle;
    return m_store.setString(*it, name, value) ? success : accessDenied;
}

long Registry::regCloseKey(Key key) { return m_open.remove(key) ? success : invalidHandle; }

}  // namespace pictolio
