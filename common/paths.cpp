// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/paths.h"

#include <sys/resource.h>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include <QDir>
#include <QFile>
#include <QStandardPaths>

namespace pictolio {

QChar pathSeparator(PathStyle style) {
    return style == PathStyle::Windows ? QLatin1Char('\\') : QLatin1Char('/');
}

QString extractFileName(const QString& path, PathStyle style) {
    const qsizetype last = path.lastIndexOf(pathSeparator(style));
    return last < 0 ? path : path.mid(last + 1);
}

QString extractFolder(const QString& path, PathStyle style) {
    const qsizetype last = path.lastIndexOf(pathSeparator(style));
    return last < 0 ? QString() : path.left(last + 1);
}

QString stripExtension(const QString& name) {
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot >= 1 ? name.left(dot) : name;
}

namespace {

// One left-to-right pass over non-overlapping pairs of the separator.
QString halvePairs(const QString& text, QChar sep) {
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        out.append(text[i]);
        if (text[i] == sep && i + 1 < text.size() && text[i + 1] == sep) ++i;
    }
    return out;
}

QString collapseRuns(const QString& text, QChar sep) {
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        if (c == sep && !out.isEmpty() && out.back() == sep) continue;
        out.append(c);
    }
    return out;
}

}  // namespace

QString collapseSeparators(const QString& path, PathStyle style) {
    const QChar sep = pathSeparator(style);
    if (style == PathStyle::Posix) return collapseRuns(path, sep);
    if (!path.startsWith(sep)) return halvePairs(path, sep);
    qsizetype k = 0;
    while (k < path.size() && path[k] == sep) ++k;
    return QString(2, sep) + halvePairs(path.mid(k), sep);
}

QString repairRootJoin(const QString& path, PathStyle style) {
    if (style == PathStyle::Windows) {
        QString out = path;
        return out.replace(QStringLiteral(":\\\\"), QStringLiteral(":\\"));
    }
    return collapseRuns(path, QLatin1Char('/'));
}

namespace {

bool statPath(const QString& path, struct stat* st) {
    if (path.isEmpty() || path.contains(QChar(0))) return false;
    return ::stat(QFile::encodeName(path).constData(), st) == 0;
}

}  // namespace

bool pathExists(const QString& path) {
    struct stat st {};
    return statPath(path, &st);
}

bool isFolder(const QString& path) {
    struct stat st {};
    return statPath(path, &st) && S_ISDIR(st.st_mode);
}

void raiseOpenFileLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

bool processGone(qint64 pid) {
    return pid > 0 && pid != ::getpid() && ::kill(pid_t(pid), 0) != 0 && errno == ESRCH;
}

bool makePrivatePath(const QString& path) {
    if (path.isEmpty() || path.contains(QChar(0))) return false;
    const QByteArray full = QFile::encodeName(QDir::cleanPath(QDir::current().absoluteFilePath(path)));
    // Each parent in turn, from the root down; one that exists already is simply passed.
    for (qsizetype slash = full.indexOf('/', 1); slash != -1; slash = full.indexOf('/', slash + 1))
        ::mkdir(full.left(slash).constData(), 0700);
    ::mkdir(full.constData(), 0700);
    return isFolder(path);
}

QString getDesktopFolder() {
    QString folder = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    if (folder.isEmpty() || !isFolder(folder)) folder = QDir::homePath();
    const QChar sep = pathSeparator();
    if (!folder.endsWith(sep)) folder.append(sep);
    return folder;
}

}  // namespace pictolio
