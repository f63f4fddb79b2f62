// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <functional>

#include "imaging/imagesource.h"
#include "platform/printservice.h"

namespace pictolio {

// Incomplete: the PDF came, without pictures that changed or vanished after they were checked.
enum class WaitResult { Created, Incomplete, Failed, TimedOut, Abandoned };

// The file at path as it is now; size -1 when there is none.
imaging::FileIdentity outputFileIdentity(const QString& path);

// Waits until the job's PDF file is at path: a file that was there before the job (before)
// does not count, however it looks. Ends early when the printing service reports the job
// failed, and when the printers have made no progress for noProgressMs (a large joined PDF on
// a slow disk may take longer than that in all, and is still waited for). Meanwhile it lets
// window events run and waits for the job a few milliseconds at a time, leaving the processor
// to the driver; abandon() ends it at once.
WaitResult waitForOutputFile(const QString& path, const imaging::FileIdentity& before,
                             const PrintService& printing, quint64 job, int noProgressMs,
                             const std::function<bool()>& abandon);

}  // namespace pictolio
