// SPDX-License-Identifier: GPL-3.0-or-later
// PNG files: taken as they are where a PDF can hold their samples, else decoded.

#include <QBuffer>
#include <QFile>
#include <QImageReader>

#include "imaging/pngfile.h"
#include "pictures/picturereaders.h"

namespace pictolio::readers {

namespace {

// The chunk that closes every PNG file.
constexpr std::uint8_t iend[12] = {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82};

// The picture of a PNG file's bytes that lack their closing chunk, decoded with that chunk after them.
QImage decodeUnended(const std::vector<std::uint8_t>& data) {
    QByteArray bytes(reinterpret_cast<const char*>(data.data()), qsizetype(data.size()));
    bytes.append(reinterpret_cast<const char*>(iend), sizeof iend);
    QBuffer buffer(&bytes);
    QImageReader reader(&buffer, "png");
    reader.setAutoTransform(true);
    return reader.read();
}

// A PNG file whose image data is whole but which lacks its closing chunk, and which has to be
// decoded (Qt's reader would stop at the end of the file).
PictureRead loadUnended(const QString& path, int fd, const imaging::FileIdentity& identity,
                        const imaging::PngInfo& info) {
    const std::uint64_t bytes = std::uint64_t(info.width) * std::uint64_t(info.height) * 4;
    if (bytes > (std::uint64_t(qtDefaultLimitMb) << 20))
        return tooLarge(info.width, info.height, bytes, qtDefaultLimitMb);
    std::vector<std::uint8_t> data;
    if (!readWhole(fd, std::size_t(identity.size), &data)) return unreadable();
    const QImage image = decodeUnended(data);
    if (image.isNull())
        return Failure{QStringLiteral("damaged PNG: %1").arg(ReadingFile::firstMessage().isEmpty()
                                                                 ? QStringLiteral("its image data cannot be decoded")
                                                                 : ReadingFile::firstMessage()),
                       Failure::Kind::Damaged};
    if (!(imaging::FileIdentity::ofDescriptor(fd) == identity)) return changedWhileRead();
    const auto source = std::make_shared<BytesDecodedImage>(path, identity, image.width(), image.height(),
                                                            image.isGrayscale(), hasTransparency(image), decodeUnended);
    PngExtras extras = pngExtras(fd, identity.size);
    if (!extras.srgb) source->setProfile(std::move(extras.profile));
    source->keep(image);
    return pictureOf({pageOf(image.width(), image.height(), info.xDpi, info.yDpi, extras.orientation, source)});
}

}  // namespace

// not interlaced, transparency (if any) a single colour or a range of palette entries. Other
// PNG files are decoded, their alpha channel kept.
PictureRead loadPng(const QString& path, int fd, const imaging::FileIdentity& identity) {
    imaging::PngInfo info;
    bool unended = false;
    const auto read = [fd](std::size_t offset, std::size_t length, std::uint8_t* to) {
        return readAt(fd, offset, length, to);
    };
    const auto size = std::size_t(identity.size);
    std::string why;
    imaging::PngStatus status = imaging::checkPng(size, read, &info, &why);
    if (status == imaging::PngStatus::Truncated) {
        // A file whose image data is whole, which lacks only its closing IEND chunk (a copy that
        // stopped just short): taken as the file with that chunk after it.
        const auto ended = [&](std::size_t offset, std::size_t length, std::uint8_t* to) {
            const std::size_t inFile = offset < size ? std::min(length, size - offset) : 0;
            if (inFile > 0 && !readAt(fd, offset, inFile, to)) return false;
            for (std::size_t i = inFile; i < length; ++i) {
                if (offset + i - size >= sizeof iend) return false;
                to[i] = iend[offset + i - size];
            }
            return true;
        };
        imaging::PngInfo endedInfo;
        if (imaging::checkPng(size + sizeof iend, ended, &endedInfo) == imaging::PngStatus::Ok) {
            info = std::move(endedInfo);
            status = imaging::PngStatus::Ok;
            unended = true;
        }
    }
    // What every decoder refuses is told here, in its own words (libpng would print its own).
    if (status != imaging::PngStatus::Ok && !why.empty()) {
        using imaging::PngStatus;
        const char* kind = status == PngStatus::Corrupt     ? "damaged PNG: "
                           : status == PngStatus::Truncated ? "truncated PNG: "
                           : status == PngStatus::TooLarge  ? "too large: "
                                                            : "unsupported PNG: ";
        return Failure{QLatin1String(kind) + QString::fromStdString(why),
                       status == PngStatus::TooLarge      ? Failure::Kind::TooLarge
                       : status == PngStatus::Unsupported ? Failure::Kind::Unsupported
                                                          : Failure::Kind::Damaged};
    }
    // A file cut short is no picture (Qt's reader would show what it has of it).
    if (status == imaging::PngStatus::Truncated)
        return Failure{QStringLiteral("truncated PNG: the data ends at byte %1, before its last chunk")
                           .arg(byteCount(identity.size)),
                       Failure::Kind::Damaged, identity.size};
    if (status != imaging::PngStatus::Ok) return loadOther(path, fd, identity);
    if (!(imaging::FileIdentity::ofDescriptor(fd) == identity)) return changedWhileRead();
    imaging::ImageFormat f;
    f.width = info.width;
    f.height = info.height;
    f.bitsPerComponent = info.bitDepth;
    f.encoding = imaging::ImageEncoding::Flate;
    bool asStored = !info.interlaced;
    // A transparent colour of 16-bit samples is written as the PDF says (Qt's reader cannot
    // decode such a picture; some renderers show the colour rather than the paper).
    const std::vector<std::uint8_t>& t = info.transparency;
    const int largest = (1 << info.bitDepth) - 1;
    const auto sample = [&](std::size_t at) { return (t[at] << 8) | t[at + 1]; };
    switch (info.colorType) {
        case 0:
            f.colorSpace = imaging::ColorSpace::Gray;
            if (t.size() == 2 && sample(0) <= largest) f.colorKey = {sample(0), sample(0)};
            break;
        case 2:
            f.colorSpace = imaging::ColorSpace::Rgb;
            if (t.size() == 6 && sample(0) <= largest && sample(2) <= largest && sample(4) <= largest)
                f.colorKey = {sample(0), sample(0), sample(2), sample(2), sample(4), sample(4)};
            break;
        case 3: {
            f.colorSpace = imaging::ColorSpace::Indexed;
            f.palette = info.palette;
            // Entries fully transparent or fully opaque, the transparent ones side by side: a
            // range of indices. Anything else needs a soft mask.
            int first = -1, last = -1;
            for (std::size_t i = 0; i < t.size() && asStored; ++i) {
                if (t[i] == 255) continue;
                if (t[i] != 0 || (last >= 0 && std::size_t(last) + 1 != i)) asStored = false;
                if (first < 0) first = int(i);
                last = int(i);
            }
            if (first >= 0) f.colorKey = {first, last};
            break;
        }
        default:
            asStored = false;  // an alpha channel, which the PDF keeps apart
    }
    if (!asStored && unended) return loadUnended(path, fd, identity, info);
    if (!asStored) return loadOther(path, fd, identity, info.xDpi, info.yDpi);
    std::vector<imaging::FileSlicesImage::Slice> slices;
    for (const imaging::PngInfo::Range& r : info.imageData)
        slices.push_back({std::int64_t(r.offset), std::int64_t(r.length)});
    PngExtras extras = pngExtras(fd, identity.size);
    if (!extras.srgb) f.iccProfile = usableProfile(std::move(extras.profile), info.colorType == 0 ? 1 : 3);
    auto image = std::make_shared<imaging::FileSlicesImage>(QFile::encodeName(path).toStdString(), identity,
                                                              std::move(f), std::move(slices));
    return pictureOf({pageOf(info.width, info.height, info.xDpi, info.yDpi, extras.orientation, std::move(image))});
}


}  // namespace pictolio::readers
