#pragma once

#include <QString>
#include <functional>

#include "pdfwriter/imagesource.h"
#include "platform/printservice.h"

namespace pictolio {

enum class WaitResult { Created, Failed, TimedOut, Abandoned };

// The file at path as it is now; size -1 when there is no regular file.
pdfwriter::FileIdentity outputFileIdentity(const QString& path);

// Waits until the job's PDF file is at path: a file that was there before the job (before)
// does not count, however it looks. Ends early when the printing service reports the job
// failed, and after timeoutMs at the latest. Between looks it lets window events run and
// sleeps briefly, leaving the processor to the driver; abandon() ends it at once.
WaitResult waitForOutputFile(const QString& path, const pdfwriter::FileIdentity& before,
                             const PrintService& printing, quint64 job, int timeoutMs,
                             const std::function<bool()>& abandon);

}  // namespace pictolio
