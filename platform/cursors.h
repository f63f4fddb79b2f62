// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QCursor>
#include <QString>
#include <optional>

namespace pictolio {

// A cursor from a Windows cursor (.cur) or icon (.ico) file. A cursor file's hotspot is
// honoured; an icon's hotspot is its centre. Nothing when the file is missing or unreadable.
std::optional<QCursor> loadCursorFile(const QString& path);

}  // namespace pictolio
