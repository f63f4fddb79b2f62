// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace pictolio {

class Form1;

// Start-up as the program runs it: the window loads (and says what it must, such as a missing
// PDF printer) before it first shows, centred on the screen.
void showMainWindow(Form1& form);

}  // namespace pictolio
