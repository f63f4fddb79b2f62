// SPDX-License-Identifier: GPL-3.0-or-later
// The picture decoder on a file of any kind, and the image data it gives when the page is
// printed and read for text recognition. A picture it takes must give exactly the data its format promises: JPEG data the
// check accepts, or one row of samples per pixel row, nothing more or less.

#include <cstdint>
#include <stdexcept>
#include <string>

#include "fuzz/fuzzsupport.h"
#include "imaging/jpegfile.h"
#include "pictures/picture.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::quietQt();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const pictolio::Picture picture = fuzz::loadedPicture(data, size);
    if (picture.isEmpty()) return 0;
    fuzz::require(picture.image != nullptr, "a picture has an image");
    fuzz::require(picture.width > 0 && picture.height > 0, "a picture has a size");
    fuzz::require(picture.widthHimetric > 0 && picture.heightHimetric > 0,
                  "a picture has a physical size");
    const imaging::ImageFormat format = picture.image->format();
    const bool turned = picture.orientation >= 5 && picture.orientation <= 8;
    fuzz::require((turned ? format.height : format.width) == picture.width &&
                      (turned ? format.width : format.height) == picture.height,
                  "the stored image turns into the upright picture");

    if (format.iccProfile) {
        const std::vector<std::uint8_t>& profile = *format.iccProfile;
        fuzz::require(profile.size() >= 132 && profile.size() <= (std::size_t(4) << 20), "a colour profile of a bounded size");
        const std::string kind(profile.begin() + 16, profile.begin() + 20);
        const int components = format.colorSpace == imaging::ColorSpace::Gray   ? 1
                               : format.colorSpace == imaging::ColorSpace::Cmyk ? 4
                                                                                  : 3;
        fuzz::require(kind == (components == 1 ? "GRAY" : components == 4 ? "CMYK" : "RGB "),
                      "a colour profile for the image's colours");
    }

    std::vector<std::uint8_t> out;
    try {
        picture.image->writeData(
            [&](const std::uint8_t* d, std::size_t n) { out.insert(out.end(), d, d + n); });
    } catch (const std::runtime_error& e) {
        std::fprintf(stderr, "%s\n", e.what());
        fuzz::require(false, "a picture that loaded can be printed");
    }
    if (format.encoding == imaging::ImageEncoding::Dct) {
        imaging::JpegInfo info;
        fuzz::require(
            imaging::checkJpeg(out.data(), out.size(), &info) == imaging::JpegStatus::Ok,
            "JPEG data passes the check");
        fuzz::require(info.width == format.width && info.height == format.height,
                      "JPEG data has the picture's size");
    } else if (format.encoding == imaging::ImageEncoding::Raw) {
        const std::size_t samples = format.colorSpace == imaging::ColorSpace::Rgb    ? 3
                                    : format.colorSpace == imaging::ColorSpace::Cmyk ? 4
                                                                                       : 1;
        const std::size_t rowBytes = (std::size_t(format.width) * samples * std::size_t(format.bitsPerComponent) + 7) / 8;
        fuzz::require(out.size() == rowBytes * std::size_t(format.height), "one row of samples per pixel row");
    } else {
        fuzz::require(!out.empty(), "PNG and fax data as stored");
    }
    // The same pixels read in grey for text recognition, halved each way.
    const imaging::GreyImage grey = picture.image->grey(2);
    fuzz::require(grey.isNull() || grey.pixels.size() == std::size_t(grey.width) * std::size_t(grey.height),
                  "a grey picture holds its pixels");
    fuzz::require(grey.isNull() || (grey.width <= format.width && grey.height <= format.height),
                  "a grey picture is no larger than the picture");
    return 0;
}
