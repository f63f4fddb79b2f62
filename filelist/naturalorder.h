// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QCollator>
#include <QStringList>

#include "platform/filesystem.h"

namespace pictolio {

// Names in natural order, as a file manager shows them: p1, p2, p10, letter case aside; numbers
// are compared as numbers also in the C locale.
class NaturalOrder {
public:
    explicit NaturalOrder(const QLocale& locale = QLocale());
    bool operator()(const QString& a, const QString& b) const { return m_collator.compare(a, b) < 0; }
    // The names sorted, names that compare equal kept in their order.
    QStringList sorted(QStringList names) const;

private:
    QCollator m_collator;
};

// The file system with each folder's files and subfolders in natural order, or, plain, in the
// order of their upper-cased characters (p1, p10, p2), as the window lists them.
class SortedFileSystem : public PosixFileSystem {
public:
    explicit SortedFileSystem(bool natural) : m_natural(natural) {}
    QStringList listFiles(const QString& folder, const QString& pattern) const override;
    QStringList subFolders(const QString& folder) const override;

private:
    bool m_natural;
    NaturalOrder m_order;
};

}  // namespace pictolio
