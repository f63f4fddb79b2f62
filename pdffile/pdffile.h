// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "imaging/imagesource.h"

namespace pdffile {

// Thrown when the job is abandoned while its file is written.
struct Abandoned : std::runtime_error {
    Abandoned() : std::runtime_error("abandoned before it was whole") {}
};

// The new file, written through a buffer. Parts of other files are copied by the kernel where
// it can, so a picture's bytes need not pass through the program.
class FileOutput : public imaging::DataOut {
public:
    FileOutput(int fd, std::atomic<std::uint64_t>* progress, const std::atomic<bool>* stop)
        : m_fd(fd), m_progress(progress), m_stop(stop) {}

    // Throws Abandoned once the job is to be dropped.
    void checkStop() const {
        if (m_stop && m_stop->load(std::memory_order_relaxed)) throw Abandoned();
    }

    void put(const std::string& text) {
        m_buffer += text;
        if (m_buffer.size() >= bufferSize) flush();
    }

    void write(const std::uint8_t* data, std::size_t size) override;
    void copyFrom(int fd, std::int64_t offset, std::int64_t length, const std::string& name) override;
    void flush();
    // Leaves the next bytes of the file blank (a hole, read as zeros, white space to a PDF reader).
    void skip(std::int64_t bytes);
    // Writes text over what the file holds at the offset, once everything is written.
    void overwrite(std::int64_t at, const std::string& text);

    std::int64_t offset() const { return m_written + std::int64_t(m_buffer.size()); }
    // Whether writing the file itself failed (rather than reading a picture).
    bool failed() const { return m_failed; }

private:
    static constexpr std::size_t bufferSize = 64 << 10;
    // Pictures' data is given its room in the file before it is written, in one piece: where a
    // file system allocates blocks as the pages come (ext4's delayed allocation), a photo's
    // megabytes are written a fifth faster.
    static constexpr std::int64_t reserveFrom = 256 << 10;
    void reserve(std::int64_t length);

    void writeAll(const std::uint8_t* data, std::size_t size);
    void count(std::size_t n) {
        if (m_progress) m_progress->fetch_add(n, std::memory_order_relaxed);
    }

    int m_fd;
    std::atomic<std::uint64_t>* m_progress;
    const std::atomic<bool>* m_stop;
    std::string m_buffer;
    std::int64_t m_written = 0;
    bool m_kernelCopies = true;
    bool m_failed = false;
};

// The cross-reference section and the trailer, after the objects (offsets[id]: where object id
// begins, -1 for a number not used), with the trailer's /Root and /Info given. A table of
// fixed-width entries while every offset fits ten digits; past that, from 10^10 bytes on, a
// cross-reference stream (PDF 1.5), the header's version raised to match. identifier: the
// file's, in hex.
void writeCrossReference(FileOutput& out, std::vector<std::int64_t> offsets, const std::string& version,
                         const std::string& rootAndInfo, const std::string& identifier);

}  // namespace pdffile
