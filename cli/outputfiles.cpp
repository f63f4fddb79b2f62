// SPDX-License-Identifier: GPL-3.0-or-later
// The files a run makes beyond the driver's: the joined PDF moved to its name or copied to
// standard output, and the run's temporary folders.
#include "cli/outputfiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QSysInfo>
#include <QFile>
#include <cerrno>
#include <cstring>
#include <vector>

#include "common/paths.h"
#include "pdffile/stagedfile.h"

namespace pictolio {

namespace {

// Everything from one descriptor to the other, a piece at a time, each write checked: a PDF of
// any size costs one piece of memory, and a reader that went away (EPIPE) is a failure.
Failure systemFailure(int error) { return Failure{QString::fromLocal8Bit(std::strerror(error)), Failure::Kind::Unreadable}; }

Outcome<Done> copyAll(int from, int to) {
    std::vector<char> piece(1 << 20);
    for (;;) {
        const ssize_t n = ::read(from, piece.data(), piece.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return systemFailure(errno);
        if (n == 0) return Done{};
        for (ssize_t done = 0; done < n;) {
            const ssize_t written = ::write(to, piece.data() + done, std::size_t(n - done));
            if (written < 0 && errno == EINTR) continue;
            if (written <= 0) return systemFailure(written < 0 ? errno : ENOSPC);
            done += written;
        }
    }
}

}  // namespace

Outcome<Done> copyToStandardOutput(const QString& path) {
    const int in = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return systemFailure(errno);
    Outcome<Done> copied = copyAll(in, STDOUT_FILENO);
    ::close(in);
    return copied;
}

// The joined PDF to its name: moved when it can be; copied otherwise, whole, as the driver
// writes its files (a StagedFile: never a name fixed in advance, which could be a file of the
// user's such as a download's "X.pdf.part").
Outcome<Done> moveTo(const QString& made, const QString& target) {
    const QByteArray from = QFile::encodeName(made);
    if (::rename(from.constData(), QFile::encodeName(target).constData()) == 0) return Done{};
    if (errno != EXDEV) return systemFailure(errno);
    const int in = ::open(from.constData(), O_RDONLY | O_CLOEXEC);
    struct stat st {};
    if (in < 0 || ::fstat(in, &st) != 0) {
        const Failure failure = systemFailure(errno);
        if (in >= 0) ::close(in);
        return failure;
    }
    // The mode the driver gave the PDF.
    pdffile::StagedFile out(QFile::encodeName(target).toStdString(), st.st_mode & 0777);
    Outcome<Done> copied = out.fd() < 0 ? Failure{QString::fromLocal8Bit(out.error().c_str()), Failure::Kind::Unreadable}
                                        : copyAll(in, out.fd());
    ::close(in);
    if (copied && ::fsync(out.fd()) != 0) copied = systemFailure(errno);
    return copied ? out.commit() : copied;
}

namespace {

// This machine's name as a run folder's name carries it: letters, digits and dots.
QString machineName() {
    QString name = QSysInfo::machineHostName();
    for (QChar& c : name)
        if (!(c.isLetterOrNumber() && c.unicode() < 128) && c != QLatin1Char('.')) c = QLatin1Char('_');
    return name.isEmpty() ? QStringLiteral("_") : name;
}

}  // namespace

// The run's temporary folders are named after its process and machine,
// "pictolio-convert-PID-MACHINE-XXXXXX" (hidden, with a dot before it, in a folder of the user's):
// a run killed outright (kill -9) cannot remove them, so the next run on the same machine removes
// those of processes that are gone. Runs on other machines writing to the same shared folder (the
// shares of a cluster's job) are never taken for gone. Only real folders of this user: never one
// another user made or linked elsewhere.
QString runFolderTemplate(const QString& in) {
    const QString dot = in == QDir::tempPath() ? QString() : QStringLiteral(".");
    return QDir(in).filePath(dot + QStringLiteral("pictolio-convert-%1-%2-XXXXXX").arg(::getpid()).arg(machineName()));
}

void removeFoldersOfKilledRuns(const QString& in) {
    const QDir folder(in);
    const QStringList names = folder.entryList({QStringLiteral("pictolio-convert-*"), QStringLiteral(".pictolio-convert-*")},
                                               QDir::Dirs | QDir::Hidden);
    const QString here = machineName();
    for (const QString& name : names) {
        bool numbered = false;
        const QStringList parts = name.split(QLatin1Char('-'));
        const qint64 owner = parts.value(2).toLongLong(&numbered);
        // (folders of earlier versions carry no machine: taken for this one's)
        const bool thisMachine = parts.size() == 4 || (parts.size() == 5 && parts[3] == here);
        const QString path = folder.filePath(name);
        struct stat st {};
        if (numbered && thisMachine && processGone(owner) && ::lstat(QFile::encodeName(path).constData(), &st) == 0 &&
            S_ISDIR(st.st_mode) && st.st_uid == ::getuid())
            QDir(path).removeRecursively();
    }
}

}  // namespace pictolio
