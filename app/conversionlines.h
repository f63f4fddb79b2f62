// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "convert/conversion.h"

namespace pictolio {

// The line numbers of "Start Converting"'s error report: where each step of the conversion run
// stands in the window's handler, per picture (112 to 166) or joined (174 to 236).
int conversionLine(bool joined, ConversionJob::Step step);
// The first line of a pass over one row; the pass's own steps follow two lines apart.
int passLine(bool joined);

}  // namespace pictolio
