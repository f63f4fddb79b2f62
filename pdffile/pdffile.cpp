// SPDX-License-Identifier: GPL-3.0-or-later
#include "pdffile/pdffile.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace pdffile {

namespace {

// The largest offset a cross-reference table's ten-digit entry holds.
constexpr std::int64_t tableLimit = 9999999999;

}  // namespace

void FileOutput::write(const std::uint8_t* data, std::size_t size) {
    if (m_buffer.size() + size < bufferSize) {
        m_buffer.append(reinterpret_cast<const char*>(data), size);
    } else {
        flush();
        reserve(std::int64_t(size));
        writeAll(data, size);
    }
    count(size);
}

void FileOutput::reserve(std::int64_t length) {
    // Errors are left to the writing: a file system that cannot, or a disk without the room,
    // says so there in its own words.
    if (length >= reserveFrom) (void)::fallocate(m_fd, FALLOC_FL_KEEP_SIZE, off_t(m_written), off_t(length));
}

void FileOutput::copyFrom(int fd, std::int64_t offset, std::int64_t length, const std::string& name) {
    flush();
    reserve(length);
    while (length > 0 && m_kernelCopies) {
        checkStop();
        loff_t from = offset;
        // (a piece at a time, so that a stop is heard)
        const ssize_t n =
            ::copy_file_range(fd, &from, m_fd, nullptr, std::size_t(std::min<std::int64_t>(length, 64 << 20)), 0);
        if (n > 0) {
            offset += n, length -= n, m_written += n;
            count(std::size_t(n));
        } else if (n == 0) {
            break;  // the file ended early: reading it says so
        } else if (errno != EINTR) {
            // Not between these files (other file systems, some kinds of file), or a
            // failure reading or writing, which the plain way tells apart.
            m_kernelCopies = false;
        }
    }
    if (length > 0) imaging::DataOut::copyFrom(fd, offset, length, name);
}

void FileOutput::flush() {
    if (m_buffer.empty()) return;
    writeAll(reinterpret_cast<const std::uint8_t*>(m_buffer.data()), m_buffer.size());
    m_buffer.clear();
}

void FileOutput::skip(std::int64_t bytes) {
    flush();
    if (::lseek(m_fd, off_t(bytes), SEEK_CUR) < 0) {
        m_failed = true;
        throw std::runtime_error(std::string("cannot write: ") + std::strerror(errno));
    }
    m_written += bytes;
}

void FileOutput::overwrite(std::int64_t at, const std::string& text) {
    flush();
    if (::pwrite(m_fd, text.data(), text.size(), off_t(at)) != ssize_t(text.size())) {
        m_failed = true;
        throw std::runtime_error(std::string("cannot write: ") + std::strerror(errno));
    }
}

void FileOutput::writeAll(const std::uint8_t* data, std::size_t size) {
    checkStop();
    while (size > 0) {
        const ssize_t n = ::write(m_fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            m_failed = true;
            throw std::runtime_error(std::string("cannot write: ") + std::strerror(n < 0 ? errno : ENOSPC));
        }
        data += n, size -= std::size_t(n), m_written += n;
    }
}

void writeCrossReference(FileOutput& out, std::vector<std::int64_t> offsets, const std::string& version,
                         const std::string& rootAndInfo, const std::string& identifier) {
    const std::string id = "<" + identifier + ">";
    const std::string ids = " /ID [" + id + id + "]";
    const std::int64_t xref = out.offset();
    const auto tail = [&] { out.put("startxref\n" + std::to_string(xref) + "\n%%EOF\n"); };

    if (*std::max_element(offsets.begin(), offsets.end()) <= tableLimit) {
        out.put("xref\n0 " + std::to_string(offsets.size()) + "\n0000000000 65535 f \n");
        char entry[40];
        for (std::size_t n = 1; n < offsets.size(); ++n) {
            if (offsets[n] < 0)
                out.put("0000000000 65535 f \n");  // a number qpdf did not use
            else {
                std::snprintf(entry, sizeof entry, "%010lld 00000 n \n", static_cast<long long>(offsets[n]));
                out.put(entry);
            }
        }
        out.put("trailer\n<< /Size " + std::to_string(offsets.size()) + rootAndInfo + ids + " >>\n");
        tail();
        out.flush();
        return;
    }

    // The stream is an object of its own, the last; its entries are a type byte (0 free, 1 in
    // use), the offset in as many bytes as the largest takes, and a two-byte generation.
    const std::size_t streamId = offsets.size();
    offsets.push_back(xref);
    int width = 1;
    while (width < 8 && (xref >> (8 * width)) != 0) ++width;
    std::string entries;
    entries.reserve(offsets.size() * std::size_t(3 + width));
    for (std::size_t n = 0; n < offsets.size(); ++n) {
        const bool used = n > 0 && offsets[n] >= 0;
        entries += char(used ? 1 : 0);
        for (int shift = 8 * (width - 1); shift >= 0; shift -= 8)
            entries += char(used ? (offsets[n] >> shift) & 0xFF : 0);
        entries += used ? std::string(2, '\0') : std::string("\xFF\xFF");
    }
    out.put(std::to_string(streamId) + " 0 obj\n<< /Type /XRef /Size " + std::to_string(offsets.size()) +
            " /W [1 " + std::to_string(width) + " 2]" + rootAndInfo + ids +
            " /Length " + std::to_string(entries.size()) + " >>\nstream\n");
    out.put(entries);
    out.put("\nendstream\nendobj\n");
    tail();
    out.flush();
    if (version < "1.5") out.overwrite(5, "1.5");  // "%PDF-1.x": the same length
}

}  // namespace pdffile
