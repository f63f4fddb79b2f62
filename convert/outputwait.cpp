// SPDX-License-Identifier: GPL-3.0-or-later
#include "convert/outputwait.h"

#include <sys/stat.h>

#include <QElapsedTimer>
#include <QFile>

#include "platform/events.h"

namespace pictolio {

imaging::FileIdentity outputFileIdentity(const QString& path) {
    return imaging::FileIdentity::ofPath(QFile::encodeName(path).toStdString());
}

namespace {

bool isNewFile(const QString& path, const imaging::FileIdentity& before) {
    const QByteArray name = QFile::encodeName(path);
    struct stat st {};
    if (::stat(name.constData(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    return !(imaging::FileIdentity::ofPath(name.toStdString()) == before);
}

constexpr int lookEveryMs = 5;

}  // namespace

WaitResult waitForOutputFile(const QString& path, const imaging::FileIdentity& before,
                             const PrintService& printing, quint64 job, int noProgressMs,
                             const std::function<bool()>& abandon) {
    QElapsedTimer stalled;
    stalled.start();
    quint64 progress = printing.progress();
    for (;;) {
        if (isNewFile(path, before)) {
            // The driver renames the whole file into place, then says how the job went.
            QElapsedTimer settling;
            settling.start();
            while (job != 0 && printing.jobState(job) == PrintService::JobState::Pending &&
                   settling.elapsed() < 2000)
                printing.waitForJob(job, lookEveryMs);
            return printing.jobState(job) == PrintService::JobState::Incomplete ? WaitResult::Incomplete
                                                                                : WaitResult::Created;
        }
        const PrintService::JobState state = job == 0 ? PrintService::JobState::Failed : printing.jobState(job);
        if (state != PrintService::JobState::Pending) {
            // Failed; or done, and the file moved away at once.
            return isNewFile(path, before) ? WaitResult::Created : WaitResult::Failed;
        }
        if (printing.progress() != progress) {
            progress = printing.progress();
            stalled.restart();
        }
        if (stalled.elapsed() >= noProgressMs) return WaitResult::TimedOut;
        doEvents();
        if (abandon && abandon()) return WaitResult::Abandoned;
        printing.waitForJob(job, lookEveryMs);
    }
}

}  // namespace pictolio
