// SPDX-License-Identifier: GPL-3.0-or-later
// PNG files: taken as they are where a PDF can hold their samples, else decoded.

#include <QFile>

#include "pdfwriter/pngfile.h"
#include "pictures/picturereaders.h"

namespace pictolio::readers {

// not interlaced, transparency (if any) a single colour or a range of palette entries. Other
// PNG files are decoded, their alpha channel kept.
Picture loadPng(const QString& path, int fd, const pdfwriter::FileIdentity& identity) {
    pdfwriter::PngInfo info;
    const auto read = [fd](std::size_t offset, std::size_t length, std::uint8_t* to) {
        return readAt(fd, offset, length, to);
    };
    if (pdfwriter::checkPng(std::size_t(identity.size), read, &info) != pdfwriter::PngStatus::Ok)
        return loadOther(path, fd, identity);
    if (!(pdfwriter::FileIdentity::ofDescriptor(fd) == identity)) return {};
    pdfwriter::ImageFormat f;
    f.width = info.width;
    f.height = info.height;
    f.bitsPerComponent = info.bitDepth;
    f.encoding = pdfwriter::ImageEncoding::Flate;
    bool asStored = !info.interlaced;
    // A transparent colour of 16-bit samples is written as the PDF says (Qt's reader cannot
    // decode such a picture; some renderers show the colour rather than the paper).
    const std::vector<std::uint8_t>& t = info.transparency;
    const int largest = (1 << info.bitDepth) - 1;
    const auto sample = [&](std::size_t at) { return (t[at] << 8) | t[at + 1]; };
    switch (info.colorType) {
        case 0:
            f.colorSpace = pdfwriter::ColorSpace::Gray;
            if (t.size() == 2 && sample(0) <= largest) f.colorKey = {sample(0), sample(0)};
            break;
        case 2:
            f.colorSpace = pdfwriter::ColorSpace::Rgb;
            if (t.size() == 6 && sample(0) <= largest && sample(2) <= largest && sample(4) <= largest)
                f.colorKey = {sample(0), sample(0), sample(2), sample(2), sample(4), sample(4)};
            break;
        case 3: {
            f.colorSpace = pdfwriter::ColorSpace::Indexed;
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
    if (!asStored) return loadOther(path, fd, identity, info.xDpi, info.yDpi);
    std::vector<pdfwriter::FileSlicesImage::Slice> slices;
    for (const pdfwriter::PngInfo::Range& r : info.imageData)
        slices.push_back({std::int64_t(r.offset), std::int64_t(r.length)});
    auto image = std::make_shared<pdfwriter::FileSlicesImage>(QFile::encodeName(path).toStdString(), identity,
                                                              std::move(f), std::move(slices));
    return pictureOf({pageOf(info.width, info.height, info.xDpi, info.yDpi, 1, std::move(image))});
}


}  // namespace pictolio::readers
