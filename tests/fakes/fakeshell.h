// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QStringList>
#include <functional>

#include "platform/shell.h"

namespace pictolio::testing {

// Records what the program asks the desktop to open.
class FakeShell : public Shell {
public:
    QStringList opened;
    std::function<void(const QString&)> onOpen;  // called as each item is opened
    bool canOpen = true;                         // false: as a desktop with no program for it
    bool open(const QString& item) override {
        opened << item;
        if (onOpen) onOpen(item);
        return canOpen;
    }
};

}  // namespace pictolio::testing
