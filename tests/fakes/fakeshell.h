#pragma once

#include <QStringList>

#include "platform/shell.h"

namespace pictolio::testing {

// Records what the program asks the desktop to open.
class FakeShell : public Shell {
public:
    QStringList opened;
    void open(const QString& item) override { opened << item; }
};

}  // namespace pictolio::testing
