// SPDX-License-Identifier: GPL-3.0-or-later
// JPEG files: checked whole, then embedded as they are.

#include <unistd.h>

#include <QFile>
#include <memory>
#include <optional>

#include "pdfwriter/jpegfile.h"
#include "pictures/picturereaders.h"

namespace pictolio::readers {

namespace {

// Room for a file that is read only to be checked. Files of a photo's size share one buffer,
// kept from picture to picture by each thread: a new one every time would be cleared and
// mapped in again by the system each time. Larger files get one of their own, let go of after.
class CheckBuffer {
public:
    explicit CheckBuffer(std::size_t size) {
        constexpr std::size_t shared = std::size_t(8) << 20;
        thread_local std::unique_ptr<std::uint8_t[]> reused;
        if (size > shared) {
            m_own.reset(new std::uint8_t[size]);
            m_data = m_own.get();
            return;
        }
        if (!reused) reused.reset(new std::uint8_t[shared]);
        m_data = reused.get();
    }
    std::uint8_t* data() const { return m_data; }

private:
    std::unique_ptr<std::uint8_t[]> m_own;
    std::uint8_t* m_data;
};

}  // namespace

Picture loadJpeg(const QString& path, int fd, const pdfwriter::FileIdentity& identity) {
    pdfwriter::JpegInfo info;
    // The bytes go into the picture while the budget for kept bytes lasts; otherwise the file
    // is read for the check alone, and its bytes are copied from the file when it is printed.
    const auto size = std::size_t(identity.size);
    pdfwriter::JpegFileImage::Bytes kept;
    std::optional<CheckBuffer> buffer;
    const std::uint8_t* data;
    if (pdfwriter::JpegFileImage::mayKeep(identity.size)) {
        if (!readWhole(fd, size, &kept)) return {};
        data = kept.data();
    } else {
        buffer.emplace(size);
        if (!readWhole(fd, size, buffer->data())) return {};
        data = buffer->data();
    }
    if (pdfwriter::checkJpeg(data, size, &info) != pdfwriter::JpegStatus::Ok) return {};
    // The bytes checked must be the bytes printed: a file written meanwhile is not taken.
    if (!(pdfwriter::FileIdentity::ofDescriptor(fd) == identity)) return {};

    const auto details = pdfwriter::JpegFileImage::Details::of(info);

    return pictureOf({pageOf(info.width, info.height, info.xDpi, info.yDpi, info.orientation,
                             std::make_shared<pdfwriter::JpegFileImage>(QFile::encodeName(path).toStdString(),
                                                                        identity, details, std::move(kept)))});
}

}  // namespace pictolio::readers
