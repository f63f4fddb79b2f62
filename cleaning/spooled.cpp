// SPDX-License-Identifier: GPL-3.0-or-later
#include "cleaning/spooled.h"

#include <fcntl.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <algorithm>
#include <cerrno>
#include <stdexcept>

#include "common/paths.h"
#include "imaging/jpegfile.h"
#include "imaging/reducedimage.h"

namespace cleaning {

namespace {

// A file of no name below the user's cache folder (gone with its descriptor); -1 when none can
// be made.
int unnamedFile() {
    QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    folder = folder.isEmpty() ? QDir::tempPath() : folder + QStringLiteral("/pictolio/spool");
    pictolio::makePrivatePath(folder);
    return ::open(QFile::encodeName(folder).constData(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
}

}  // namespace

SpooledImage::SpooledImage(std::vector<std::uint8_t> data, imaging::ImageFormat format, std::string description)
    : m_format(std::move(format)), m_description(std::move(description)), m_size(data.size()) {
    m_fd = unnamedFile();
    std::size_t written = 0;
    while (m_fd >= 0 && written < data.size()) {
        const ssize_t n = ::write(m_fd, data.data() + written, data.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ::close(m_fd);
            m_fd = -1;
            break;
        }
        written += std::size_t(n);
    }
    if (m_fd < 0) m_data = std::move(data);
}

SpooledImage::~SpooledImage() {
    if (m_fd >= 0) ::close(m_fd);
}

void SpooledImage::writeData(const imaging::DataSink& sink) const {
    if (m_fd < 0) return sink(m_data.data(), m_data.size());
    std::vector<std::uint8_t> buffer(std::min<std::size_t>(m_size, 1 << 20));
    for (std::size_t at = 0; at < m_size;) {
        const ssize_t n = ::pread(m_fd, buffer.data(), std::min(buffer.size(), m_size - at), off_t(at));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) throw std::runtime_error(m_description + ": its cleaned page could not be read back");
        sink(buffer.data(), std::size_t(n));
        at += std::size_t(n);
    }
}

void SpooledImage::copyData(imaging::DataOut& out) const {
    if (m_fd < 0) return out.write(m_data.data(), m_data.size());
    out.copyFrom(m_fd, 0, std::int64_t(m_size), m_description + " (cleaned)");
}

std::vector<std::uint8_t> SpooledImage::bytes() const {
    std::vector<std::uint8_t> data;
    data.reserve(m_size);
    writeData([&](const std::uint8_t* d, std::size_t n) { data.insert(data.end(), d, d + n); });
    return data;
}

imaging::GreyImage SpooledImage::grey(int shrink) const {
    imaging::GreyImage out;
    try {
        const std::vector<std::uint8_t> data = bytes();
        if (m_format.encoding == imaging::ImageEncoding::Ccitt) {
            out.pixels = imaging::greyOfGroup4(data, m_format.width, m_format.height);
            out.width = m_format.width, out.height = m_format.height;
            return out;
        }
        if (m_format.encoding != imaging::ImageEncoding::Dct) return {};
        int components = 1;
        const bool ok = imaging::decodeJpegRows(
            data.data(), data.size(), shrink, false,
            [&](int w, int h, int c) { out.width = w, out.height = h, components = c; },
            [&](const std::uint8_t* row) { out.pixels.insert(out.pixels.end(), row, row + out.width); });
        if (!ok || components != 1 || out.pixels.size() != std::size_t(out.width) * std::size_t(out.height)) return {};
    } catch (const std::exception&) {
        return {};
    }
    return out;
}

}  // namespace cleaning
