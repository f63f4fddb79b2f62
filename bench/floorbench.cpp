// SPDX-License-Identifier: GPL-3.0-or-later
// floor-bench [--later] OUTFILE FILE...: the least work a run that checks each picture can do,
// without the program around it: read each file into memory, scan it for JPEG markers (every
// 0xFF byte), write it to OUTFILE. The check cannot do less than read and scan every byte, and
// the PDF holds every byte: this sets the floor under the "Start Converting" figures, beside
// cat's. --later: every file checked first, then each copied by the kernel (copy_file_range),
// as a joined PDF is written when the document ends.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

bool readFile(const char* path, std::vector<std::uint8_t>* data) {
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0) return false;
    data->resize(std::size_t(st.st_size));
    for (std::size_t got = 0; got < data->size();) {
        const ssize_t n = ::read(fd, data->data() + got, data->size() - got);
        if (n <= 0) return false;
        got += std::size_t(n);
    }
    return ::close(fd) == 0;
}

std::size_t markers(const std::vector<std::uint8_t>& data) {
    std::size_t count = 0;
    const std::uint8_t* end = data.data() + data.size();
    for (const std::uint8_t* p = data.data(); (p = static_cast<const std::uint8_t*>(std::memchr(p, 0xFF, std::size_t(end - p))));
         ++p)
        ++count;
    return count;
}

bool writeAll(int out, const std::vector<std::uint8_t>& data) {
    for (std::size_t put = 0; put < data.size();) {
        const ssize_t n = ::write(out, data.data() + put, data.size() - put);
        if (n <= 0) return false;
        put += std::size_t(n);
    }
    return true;
}

bool copyAll(int out, const char* path) {
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0) return false;
    for (off64_t at = 0; at < st.st_size;)
        if (::copy_file_range(fd, &at, out, nullptr, std::size_t(st.st_size - at), 0) <= 0) return false;
    return ::close(fd) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    const bool later = argc > 1 && std::strcmp(argv[1], "--later") == 0;
    const int first = later ? 2 : 1;
    if (argc < first + 2) {
        std::fprintf(stderr, "usage: floor-bench [--later] OUTFILE FILE...\n");
        return 2;
    }
    const int out = ::open(argv[first], O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (out < 0) return 1;
    std::vector<std::uint8_t> data;
    std::size_t found = 0;
    for (int i = first + 1; i < argc; ++i) {
        if (!readFile(argv[i], &data)) return 1;
        found += markers(data);
        if (!later && !writeAll(out, data)) return 1;
    }
    for (int i = first + 1; later && i < argc; ++i)
        if (!copyAll(out, argv[i])) return 1;
    std::printf("%zu bytes 0xFF\n", found);
    return ::close(out) == 0 ? 0 : 1;
}
