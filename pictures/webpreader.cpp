// SPDX-License-Identifier: GPL-3.0-or-later
// WebP files, decoded by libwebp straight into 8-bit RGB samples (RGBA when the file has an alpha
// channel): three bytes a pixel where Qt's reader makes four, and no conversion after. Animated
// files are left to Qt's reader, which gives their first frame.

#include <webp/decode.h>

#include <QImageReader>
#include <cstring>
#include <vector>

#include "imaging/jpegfile.h"

#include "pictures/picturereaders.h"

namespace pictolio::readers {

namespace {

// What libwebp's status says of a file that is no picture.
Failure webpFault(VP8StatusCode status, const std::vector<std::uint8_t>& data) {
    if (status == VP8_STATUS_NOT_ENOUGH_DATA) {
        // The RIFF header gives the size of the whole file.
        const std::size_t declared = data.size() >= 8 ? std::size_t(le32(data.data() + 4)) + 8 : 0;
        if (declared > data.size())
            return {QStringLiteral("truncated WebP: the data ends at byte %1 of %2")
                        .arg(byteCount(qint64(data.size())), byteCount(qint64(declared)))};
        return {QStringLiteral("damaged WebP: its image data ends before its picture does")};
    }
    if (status == VP8_STATUS_UNSUPPORTED_FEATURE)
        return {QStringLiteral("unsupported WebP: libwebp does not take a feature it uses")};
    return {QStringLiteral("damaged WebP: libwebp finds %1")
                .arg(status == VP8_STATUS_BITSTREAM_ERROR ? QStringLiteral("an error in its data")
                                                          : QStringLiteral("it invalid (status %1)").arg(int(status)))};
}

// The picture as stored (not turned), or why it cannot be decoded or would take more memory
// than one picture may.
Outcome<QImage> decodeWebp(const std::vector<std::uint8_t>& data) {
    WebPBitstreamFeatures features;
    if (const VP8StatusCode status = WebPGetFeatures(data.data(), data.size(), &features); status != VP8_STATUS_OK)
        return webpFault(status, data);
    if (features.has_animation) return Failure{QStringLiteral("unsupported WebP: animated, yet read as still")};
    const int width = features.width, height = features.height;
    const int bytes = features.has_alpha ? 4 : 3;
    const int limitMb = QImageReader::allocationLimit();
    if (width <= 0 || height <= 0) return Failure{QStringLiteral("damaged WebP: it declares no size")};
    if (limitMb > 0 && std::uint64_t(width) * std::uint64_t(height) * bytes > (std::uint64_t(limitMb) << 20))
        return tooLarge(width, height, std::uint64_t(width) * std::uint64_t(height) * bytes, limitMb, "WebP");
    QImage image(width, height, features.has_alpha ? QImage::Format_RGBA8888 : QImage::Format_RGB888);
    if (image.isNull()) return Failure{QStringLiteral("too large: no memory for %1 x %2 pixels").arg(width).arg(height)};
    WebPDecoderConfig config;
    if (!WebPInitDecoderConfig(&config)) return Failure{QStringLiteral("unsupported WebP: libwebp cannot start")};
    config.output.colorspace = features.has_alpha ? MODE_RGBA : MODE_RGB;
    config.output.is_external_memory = 1;
    config.output.u.RGBA.rgba = image.bits();
    config.output.u.RGBA.stride = int(image.bytesPerLine());
    config.output.u.RGBA.size = std::size_t(image.sizeInBytes());
    const VP8StatusCode status = WebPDecode(data.data(), data.size(), &config);
    WebPFreeDecBuffer(&config.output);
    if (status != VP8_STATUS_OK) return webpFault(status, data);
    return image;
}

QImage decodeWebpImage(const std::vector<std::uint8_t>& data) { return decodeWebp(data).valueOr({}); }

}  // namespace

bool isStillWebp(const std::uint8_t* head, std::size_t size) {
    if (size < 12 || std::memcmp(head, "RIFF", 4) != 0 || std::memcmp(head + 8, "WEBP", 4) != 0) return false;
    // (a file cut off before its flags is read as still: libwebp tells how it is cut short)
    const bool animated = size >= 21 && std::memcmp(head + 12, "VP8X", 4) == 0 && (head[20] & 0x02);
    return !animated;
}

PictureRead loadWebp(const QString& path, int fd, const imaging::FileIdentity& identity) {
    std::vector<std::uint8_t> data;
    if (!readWhole(fd, std::size_t(identity.size), &data)) return unreadable();
    const Outcome<QImage> decoded = decodeWebp(data);
    if (!decoded) return Failure{decoded.reason()};
    if (!(imaging::FileIdentity::ofDescriptor(fd) == identity)) return changedWhileRead();
    const QImage& image = *decoded;
    auto source = std::make_shared<BytesDecodedImage>(path, identity, image.width(), image.height(),
                                                      image.isGrayscale(), hasTransparency(image), decodeWebpImage);
    source->setProfile(webpChunk(fd, identity.size, "ICCP", maxProfileBytes));
    source->keep(image);
    return pictureOf({pageOf(image.width(), image.height(), 0, 0, webpOrientation(fd, identity.size), source)});
}

// Qt's WebP reader does not turn pictures itself, nor does libwebp.
int webpOrientation(int fd, std::int64_t fileSize) {
    const std::vector<std::uint8_t> exif = webpChunk(fd, fileSize, "EXIF", std::size_t(1) << 20);
    return exif.empty() ? 1 : imaging::exifOrientation(exif.data(), exif.size());
}

}  // namespace pictolio::readers
