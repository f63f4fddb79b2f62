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

void SpooledImage::writeData(const imaging::DataSink& sink) const { writeRange(0, m_size, sink); }

void SpooledImage::copyData(imaging::DataOut& out) const { copyRange(0, m_size, out); }

void SpooledImage::writeRange(std::size_t offset, std::size_t length, const imaging::DataSink& sink) const {
    if (offset > m_size || length > m_size - offset) throw std::runtime_error(m_description + ": a part beyond its page's data");
    if (m_fd < 0) return sink(m_data.data() + offset, length);
    std::vector<std::uint8_t> buffer(std::min<std::size_t>(length, 1 << 20));
    for (std::size_t at = offset, end = offset + length; at < end;) {
        const ssize_t n = ::pread(m_fd, buffer.data(), std::min(buffer.size(), end - at), off_t(at));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) throw std::runtime_error(m_description + ": its cleaned page could not be read back");
        sink(buffer.data(), std::size_t(n));
        at += std::size_t(n);
    }
}

void SpooledImage::copyRange(std::size_t offset, std::size_t length, imaging::DataOut& out) const {
    if (offset > m_size || length > m_size - offset) throw std::runtime_error(m_description + ": a part beyond its page's data");
    if (m_fd < 0) return out.write(m_data.data() + offset, length);
    out.copyFrom(m_fd, std::int64_t(offset), std::int64_t(length), m_description + " (cleaned)");
}

std::vector<std::uint8_t> SpooledImage::bytes() const {
    std::vector<std::uint8_t> data;
    data.reserve(m_size);
    writeData([&](const std::uint8_t* d, std::size_t n) { data.insert(data.end(), d, d + n); });
    return data;
}

imaging::GreyImage SpooledImage::grey(int shrink) const { return greyOfEncoded(*this, shrink); }

imaging::GreyImage greyOfEncoded(const imaging::ImageSource& picture, int shrink) {
    imaging::GreyImage out;
    const imaging::ImageFormat format = picture.format();
    try {
        std::vector<std::uint8_t> data;
        picture.writeData([&](const std::uint8_t* d, std::size_t n) { data.insert(data.end(), d, d + n); });
        if (format.encoding == imaging::ImageEncoding::Ccitt) {
            out.pixels = imaging::greyOfGroup4(data, format.width, format.height);
            out.width = format.width, out.height = format.height;
            return out;
        }
        if (format.encoding != imaging::ImageEncoding::Dct) return {};
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
