// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What the fuzz targets share: the input as a file (the decoder and the PDF writer read files),
// the picture the decoder makes of it, and a check that stops the run with a message when the
// program breaks a promise.

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <QtGlobal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "pictures/picture.h"

namespace fuzz {

// Stops the run, so libFuzzer keeps the input that broke the promise.
inline void require(bool condition, const char* promise) {
    if (condition) return;
    std::fprintf(stderr, "broken promise: %s\n", promise);
    std::abort();
}

inline std::string& workFolderName() {
    static std::string name;
    return name;
}

inline void removeWorkFolder() {
    const std::string& folder = workFolderName();
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (const dirent* entry = ::readdir(dir))
            if (entry->d_name[0] != '.') ::unlink((folder + "/" + entry->d_name).c_str());
        ::closedir(dir);
    }
    ::rmdir(folder.c_str());
}

// A folder of this process's own, on a memory file system where there is one; it goes when the
// process ends normally.
inline const std::string& workFolder() {
    std::string& folder = workFolderName();
    if (folder.empty()) {
        const char* base = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        std::string name = std::string(base) + "/pictolio-fuzz-XXXXXX";
        require(::mkdtemp(name.data()) != nullptr, "a work folder can be made");
        folder = name;
        std::atexit(removeWorkFolder);
    }
    return folder;
}

// Writes the input to a file of the given name in the work folder; returns its path.
inline std::string inputFile(const std::uint8_t* data, std::size_t size, const char* name) {
    const std::string path = workFolder() + "/" + name;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    require(fd >= 0, "the input file can be made");
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, data + done, size - done);
        require(n > 0, "the input file can be written");
        done += std::size_t(n);
    }
    ::close(fd);
    return path;
}

// Qt's image readers say what they think of damaged files on stderr: not wanted here.
inline void quietQt() {
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
}

// The input loaded by the picture decoder as the program loads a file. The empty picture has no
// image, and says why it is none.
inline pictolio::Picture loadedPicture(const std::uint8_t* data, std::size_t size) {
    const std::string path = inputFile(data, size, "picture");
    pictolio::Picture picture = pictolio::PictureDecoder().load(QString::fromStdString(path));
    require(!picture.isEmpty() || picture.image == nullptr, "the empty picture has no image");
    require(!picture.isEmpty() || !picture.refusal.isEmpty(), "the empty picture says why");
    return picture;
}

}  // namespace fuzz
