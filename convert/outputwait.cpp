#include "convert/outputwait.h"

#include <QElapsedTimer>
#include <QFile>
#include <sys/stat.h>

#include <QThread>

#include "platform/events.h"

namespace pictolio {

pdfwriter::FileIdentity outputFileIdentity(const QString& path) {
    const pdfwriter::FileIdentity id =
        pdfwriter::FileIdentity::ofPath(QFile::encodeName(path).toStdString());
    return id;
}

namespace {

bool isNewFile(const QString& path, const pdfwriter::FileIdentity& before) {
    const QByteArray name = QFile::encodeName(path);
    struct stat st {};
    if (::stat(name.constData(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    return !(pdfwriter::FileIdentity::ofPath(name.toStdString()) == before);
}

}  // namespace

WaitResult waitForOutputFile(const QString& path, const pdfwriter::FileIdentity& before,
                             const PrintService& printing, quint64 job, int timeoutMs,
                             const std::function<bool()>& abandon) {
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        if (isNewFile(path, before)) return WaitResult::Created;
        if (job == 0 || printing.jobState(job) == PrintService::JobState::Failed) {
            // The job is gone; its file may still have come just before the state changed.
            return isNewFile(path, before) ? WaitResult::Created : WaitResult::Failed;
        }
        if (printing.jobState(job) == PrintService::JobState::Done && !isNewFile(path, before))
            return WaitResult::Failed;  // written, then moved or removed at once
        if (clock.elapsed() >= timeoutMs) return WaitResult::TimedOut;
        doEvents();
        if (abandon && abandon()) return WaitResult::Abandoned;
        QThread::usleep(500);
    }
}

}  // namespace pictolio
