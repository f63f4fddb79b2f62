// SPDX-License-Identifier: GPL-3.0-or-later
#include "pdffile/stagedfile.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>

#include "common/paths.h"

namespace pdffile {

namespace {

const char hiddenPrefix[] = ".pictolio-";

std::string folderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The process a hidden name ".pictolio-PID-XXXXXX" belongs to; 0 for other names.
pid_t ownerOf(const char* name) {
    if (std::strncmp(name, hiddenPrefix, sizeof hiddenPrefix - 1) != 0) return 0;
    const char* digits = name + sizeof hiddenPrefix - 1;
    char* end = nullptr;
    errno = 0;
    const long pid = std::strtol(digits, &end, 10);
    if (end == digits || *end != '-' || std::strlen(end + 1) != 6 || errno != 0 || pid <= 0 || pid > 0x3FFFFFFF)
        return 0;
    return pid_t(pid);
}

// Removes the files of the user's processes that are gone from the folder, once a process.
void removeLeftovers(const std::string& folder) {
    static std::mutex mutex;
    static std::set<std::string> cleared;
    {
        std::lock_guard lock(mutex);
        if (!cleared.insert(folder).second) return;
    }
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return;
    while (const dirent* entry = ::readdir(dir)) {
        const pid_t owner = ownerOf(entry->d_name);
        if (!pictolio::processGone(owner)) continue;
        struct stat st {};
        if (::fstatat(::dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) &&
            st.st_uid == ::getuid())
            ::unlinkat(::dirfd(dir), entry->d_name, 0);
    }
    ::closedir(dir);
}

// A new hidden name in the folder, made as an empty file of its own; -1 when it cannot be.
int makeHidden(const std::string& folder, std::string* name) {
    removeLeftovers(folder);
    *name = folder + "/" + hiddenPrefix + std::to_string(::getpid()) + "-XXXXXX";
    return ::mkostemp(name->data(), O_CLOEXEC);
}

std::string failure(const std::string& what, int error) { return what + ": " + std::strerror(error); }

// A file that could not be written, in words.
pictolio::Failure written(const std::string& why) {
    return {QString::fromLocal8Bit(why.c_str()), pictolio::Failure::Kind::Unreadable};
}

}  // namespace

StagedFile::StagedFile(const std::string& path, unsigned mode) : m_path(path), m_folder(folderOf(path)) {
    // An unnamed file is given its name through /proc; older kernels and some file systems
    // have no unnamed files: a hidden name instead.
    static const bool canLink = ::access("/proc/self/fd", X_OK) == 0;
    if (canLink)
        m_fd = ::open(m_folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, mode_t(mode));
    else
        errno = EOPNOTSUPP;
    if (m_fd < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL))
        m_fd = makeHidden(m_folder, &m_temp);
    if (m_fd < 0) {
        m_error = failure("cannot write in " + m_folder, errno);
        m_temp.clear();
        return;
    }
    ::fchmod(m_fd, mode_t(mode));  // exactly these, whatever the umask
}

StagedFile::~StagedFile() { abandon(); }

void StagedFile::abandon() {
    if (m_fd < 0) return;
    ::close(m_fd);
    m_fd = -1;
    if (!m_temp.empty()) ::unlink(m_temp.c_str());
    m_temp.clear();
}

pictolio::Outcome<pictolio::Done> StagedFile::commit() {
    if (m_fd < 0) return written(m_error);
    if (m_temp.empty()) {
        // Linked in under its name when it is new; otherwise under a hidden one, renamed below.
        char self[64];
        std::snprintf(self, sizeof self, "/proc/self/fd/%d", m_fd);
        if (::linkat(AT_FDCWD, self, AT_FDCWD, m_path.c_str(), AT_SYMLINK_FOLLOW) == 0) {
            const int closed = ::close(m_fd);
            const int e = errno;
            m_fd = -1;
            if (closed == 0) return pictolio::Done{};
            ::unlink(m_path.c_str());
            return written(failure("cannot write", e));
        }
        if (errno != EEXIST) {
            const std::string error = failure("cannot create " + m_path, errno);
            abandon();
            return written(error);
        }
        std::string name;
        const int placeholder = makeHidden(m_folder, &name);
        if (placeholder < 0) {
            const std::string error = failure("cannot write in " + m_folder, errno);
            abandon();
            return written(error);
        }
        ::close(placeholder);
        // linkat never replaces a name: the placeholder goes, and the file takes its name.
        ::unlink(name.c_str());
        if (::linkat(AT_FDCWD, self, AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) != 0) {
            const std::string error = failure("cannot write in " + m_folder, errno);
            abandon();
            return written(error);
        }
        m_temp = name;
    }
    if (::close(m_fd) != 0) {
        const int e = errno;
        m_fd = -1;
        ::unlink(m_temp.c_str());
        m_temp.clear();
        return written(failure("cannot write", e));
    }
    m_fd = -1;
    if (::rename(m_temp.c_str(), m_path.c_str()) != 0) {
        const int e = errno;
        ::unlink(m_temp.c_str());
        m_temp.clear();
        return written(failure("cannot create " + m_path, e));
    }
    m_temp.clear();
    return pictolio::Done{};
}

}  // namespace pdffile
