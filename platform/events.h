// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace pictolio {

// Lets the pending window events run (repaints, clicks, keys), then returns.
void doEvents();

}  // namespace pictolio
