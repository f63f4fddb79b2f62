// SPDX-License-Identifier: GPL-3.0-or-later
#include "filelist/naturalorder.h"

#include <algorithm>

namespace pictolio {

NaturalOrder::NaturalOrder(const QLocale& locale) : m_collator(locale) {
    // The C locale compares characters alone: numbers are compared as English does.
    if (locale.language() == QLocale::C) m_collator = QCollator(QLocale(QLocale::English));
    m_collator.setNumericMode(true);
    m_collator.setCaseSensitivity(Qt::CaseInsensitive);
}

QStringList NaturalOrder::sorted(QStringList names) const {
    std::stable_sort(names.begin(), names.end(), *this);
    return names;
}

QStringList SortedFileSystem::listFiles(const QString& folder, const QString& pattern) const {
    const QStringList names = PosixFileSystem::listFiles(folder, pattern);
    return m_natural ? m_order.sorted(names) : names;
}

QStringList SortedFileSystem::subFolders(const QString& folder) const {
    const QStringList names = PosixFileSystem::subFolders(folder);
    return m_natural ? m_order.sorted(names) : names;
}

}  // namespace pictolio
