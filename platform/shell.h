// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

namespace pictolio {

// The desktop shell: opens a file, folder or web address with what the desktop uses for it.
class Shell {
public:
    virtual ~Shell() = default;

    // Opens the item, as the shell's default action on it: a web address in the browser, a
    // folder in the file manager. The item may be enclosed in double quotes. Nothing is run
    // through a command line. False when nothing could open it (no browser, no file manager).
    virtual bool open(const QString& item) = 0;
};

// The desktop's own handler (QDesktopServices).
class DesktopShell : public Shell {
public:
    bool open(const QString& item) override;
};

}  // namespace pictolio
