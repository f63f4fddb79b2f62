// SPDX-License-Identifier: GPL-3.0-or-later
// WebP files, decoded by libwebp straight into 8-bit RGB samples (RGBA when the file has an alpha
// channel): three bytes a pixel where Qt's reader makes four, and no conversion after. Animated
// files are left to Qt's reader, which gives their first frame.

#include <webp/decode.h>

#include <QImageReader>
#include <cstring>
#include <vector>

#include "pdfwriter/jpegfile.h"

#include "pictures/picturereaders.h"

namespace pictolio::readers {

namespace {

// The picture as stored (not turned); null when it cannot be decoded or would take more memory
// than one picture may.
QImage decodeWebp(const std::vector<std::uint8_t>& data) {
    WebPBitstreamFeatures features;
    if (WebPGetFeatures(data.data(), data.size(), &features) != VP8_STATUS_OK || features.has_animation)
        return {};
    const int width = features.width, height = features.height;
    const int bytes = features.has_alpha ? 4 : 3;
    const int limitMb = QImageReader::allocationLimit();
    if (width <= 0 || height <= 0 ||
        (limitMb > 0 && std::uint64_t(width) * std::uint64_t(height) * bytes > (std::uint64_t(limitMb) << 20)))
        return {};
    QImage image(width, height, features.has_alpha ? QImage::Format_RGBA8888 : QImage::Format_RGB888);
    if (image.isNull()) return {};
    WebPDecoderConfig config;
    if (!WebPInitDecoderConfig(&config)) return {};
    config.output.colorspace = features.has_alpha ? MODE_RGBA : MODE_RGB;
    config.output.is_external_memory = 1;
    config.output.u.RGBA.rgba = image.bits();
    config.output.u.RGBA.stride = int(image.bytesPerLine());
    config.output.u.RGBA.size = std::size_t(image.sizeInBytes());
    const bool ok = WebPDecode(data.data(), data.size(), &config) == VP8_STATUS_OK;
    WebPFreeDecBuffer(&config.output);
    return ok ? image : QImage();
}

}  // namespace

bool isStillWebp(const std::uint8_t* head, std::size_t size) {
    if (size < 21 || std::memcmp(head, "RIFF", 4) != 0 || std::memcmp(head + 8, "WEBP", 4) != 0) return false;
    const bool animated = std::memcmp(head + 12, "VP8X", 4) == 0 && (head[20] & 0x02);
    return !animated;
}

Picture loadWebp(const QString& path, int fd, const pdfwriter::FileIdentity& identity) {
    std::vector<std::uint8_t> data;
    if (!readWhole(fd, std::size_t(identity.size), &data)) return {};
    const QImage image = decodeWebp(data);
    if (image.isNull() || !(pdfwriter::FileIdentity::ofDescriptor(fd) == identity)) return {};
    auto source = std::make_shared<BytesDecodedImage>(path, identity, image.width(), image.height(),
                                                      image.isGrayscale(), hasTransparency(image), decodeWebp);
    source->setProfile(webpChunk(fd, identity.size, "ICCP", maxProfileBytes));
    source->keep(image);
    return pictureOf({pageOf(image.width(), image.height(), 0, 0, webpOrientation(fd, identity.size), source)});
}

// Qt's WebP reader does not turn pictures itself, nor does libwebp.
int webpOrientation(int fd, std::int64_t fileSize) {
    const std::vector<std::uint8_t> exif = webpChunk(fd, fileSize, "EXIF", std::size_t(1) << 20);
    return exif.empty() ? 1 : pdfwriter::exifOrientation(exif.data(), exif.size());
}

}  // namespace pictolio::readers
