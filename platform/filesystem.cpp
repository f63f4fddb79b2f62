// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/filesystem.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <QFile>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "common/apperror.h"

namespace pictolio {

namespace {

QByteArray native(const QString& path) { return QFile::encodeName(path); }

// DOS attributes kept by the file system, where it keeps them.
std::optional<quint32> dosAttributes(const QByteArray& path) {
    char buffer[64];
    ssize_t n = ::lgetxattr(path.constData(), "user.DOSATTRIB", buffer, sizeof buffer - 1);
    if (n > 0) {
        // Samba writes the attributes as text, "0x22"; newer versions a binary record, whose
        // text form still comes first.
        buffer[n] = 0;
        bool ok = false;
        const quint32 value = QByteArray(buffer).trimmed().toUInt(&ok, 0);
        if (ok) return value;
    }
    quint32 ntfs = 0;
    n = ::lgetxattr(path.constData(), "system.ntfs_attrib", &ntfs, sizeof ntfs);
    if (n == sizeof ntfs) return ntfs;
    return std::nullopt;
}

QString withSeparator(const QString& folder) {
    return folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
}

enum class Kind { File, Folder, Other };

// Reads a folder's entries with what they are (links followed); errno is kept when the folder
// cannot be opened.
bool readFolder(const QString& folder, QList<QPair<QString, Kind>>* entries) {
    DIR* dir = ::opendir(native(folder).constData());
    if (!dir) return false;
    const QByteArray base = native(withSeparator(folder));
    while (const dirent* entry = ::readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
        Kind kind = Kind::Other;
        if (entry->d_type == DT_REG) {
            kind = Kind::File;
        } else if (entry->d_type == DT_DIR) {
            kind = Kind::Folder;
        } else if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
            struct stat st {};
            if (::stat((base + entry->d_name).constData(), &st) == 0)
                kind = S_ISDIR(st.st_mode) ? Kind::Folder : S_ISREG(st.st_mode) ? Kind::File : Kind::Other;
        }
        entries->append({QFile::decodeName(entry->d_name), kind});
    }
    ::closedir(dir);
    return true;
}

}  // namespace

bool wildcardMatch(const QString& pattern, const QString& name) {
    if (pattern == QLatin1String("*.*") || pattern == QLatin1String("*")) return true;
    // Classic matching with backtracking over the last "*".
    const QString p = pattern.toUpper(), n = name.toUpper();
    qsizetype pi = 0, ni = 0, star = -1, mark = 0;
    while (ni < n.size()) {
        if (pi < p.size() && (p[pi] == QLatin1Char('?') || p[pi] == n[ni])) {
            ++pi, ++ni;
        } else if (pi < p.size() && p[pi] == QLatin1Char('*')) {
            star = pi++;
            mark = ni;
        } else if (star >= 0) {
            pi = star + 1;
            ni = ++mark;
        } else {
            return false;
        }
    }
    while (pi < p.size() && p[pi] == QLatin1Char('*')) ++pi;
    return pi == p.size();
}

bool nameLostInEncoding(const QString& path) {
    struct stat st {};
    return path.contains(QChar::ReplacementCharacter) && ::lstat(native(path).constData(), &st) != 0;
}

void sortAsNtfs(QStringList& names) {
    std::stable_sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
        return a.toUpper() < b.toUpper();
    });
}

std::optional<quint32> PosixFileSystem::attributes(const QString& path) const {
    const QByteArray p = native(path);
    struct stat link {}, target {};
    if (path.isEmpty() || ::lstat(p.constData(), &link) != 0) return std::nullopt;
    const bool isLink = S_ISLNK(link.st_mode);
    const struct stat& st = (isLink && ::stat(p.constData(), &target) == 0) ? target : link;
    quint32 a = 0;
    if (S_ISDIR(st.st_mode)) a |= attr::directory;
    if (isLink) a |= attr::alias;
    if (const auto dos = dosAttributes(p)) {
        a |= *dos & (attr::readOnly | attr::hidden | attr::system | attr::archive | attr::compressed);
        return a;
    }
    if (!S_ISDIR(st.st_mode)) a |= attr::archive;
    if (!(st.st_mode & S_IWUSR)) a |= attr::readOnly;
    QString name = path;
    while (name.size() > 1 && name.endsWith(QLatin1Char('/'))) name.chop(1);
    name = name.mid(name.lastIndexOf(QLatin1Char('/')) + 1);
    if (name.startsWith(QLatin1Char('.')) && name != QLatin1String(".") && name != QLatin1String(".."))
        a |= attr::hidden;
    // The desktop's wastebasket is what the Recycle Bin is on Windows, a hidden system folder:
    // a folder scan must not bring deleted pictures back.
    if (S_ISDIR(st.st_mode) && (name == QLatin1String(".Trash") || name.startsWith(QLatin1String(".Trash-")) ||
                                (name == QLatin1String("Trash") && path.contains(QLatin1String("/.local/share/")))))
        a |= attr::hidden | attr::system;
    return a;
}

QStringList PosixFileSystem::listFiles(const QString& folder, const QString& pattern) const {
    QList<QPair<QString, Kind>> entries;
    if (!readFolder(folder, &entries)) return {};
    QStringList files;
    for (const auto& [name, kind] : entries)
        if (kind == Kind::File && wildcardMatch(pattern, name)) files << name;
    sortAsNtfs(files);
    return files;
}

QStringList PosixFileSystem::subFolders(const QString& folder) const {
    QList<QPair<QString, Kind>> entries;
    if (!readFolder(folder, &entries)) {
        const int e = errno;
        if (e == EACCES || e == EPERM) throw AppError(ErrorCode::PermissionDenied);
        if (e == ENOENT || e == ENOTDIR) throw AppError(ErrorCode::PathNotFound);
        // Any other failure (a device error, no descriptors left) is neither: the scan keeps
        // the folder and what it found.
        throw std::runtime_error(std::strerror(e));
    }
    QStringList folders;
    for (const auto& [name, kind] : entries)
        if (kind == Kind::Folder) folders << name;
    sortAsNtfs(folders);
    return folders;
}

bool PosixFileSystem::isOpenableFile(const QString& path) const {
    // Opened for no access at all: a file the user may not read is still there (the run then
    // reports it as not a valid picture).
    const int fd = ::open(native(path).constData(), O_PATH | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    const bool file = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    ::close(fd);
    return file;
}

QString PosixFileSystem::folderIdentity(const QString& folder) const {
    struct stat st {};
    if (::stat(native(folder).constData(), &st) != 0) return {};
    return QStringLiteral("%1:%2").arg(QString::number(st.st_dev), QString::number(st.st_ino));
}

}  // namespace pictolio
