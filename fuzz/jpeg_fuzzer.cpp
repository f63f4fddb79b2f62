// SPDX-License-Identifier: GPL-3.0-or-later
// The JPEG check and the rewrites the PDF writer makes of a checked file: the APP14 segment an
// RGB file needs, the standard Huffman tables a Motion-JPEG frame lacks, arithmetic coding
// re-encoded as Huffman. Whatever the check accepts must come out of the rewrite as a file the
// check accepts again: same size and components, Huffman-coded with its own tables, an RGB file
// marked as RGB.

#include <cstdint>
#include <stdexcept>
#include <vector>

#include "fuzz/fuzzsupport.h"
#include "imaging/imagesource.h"
#include "imaging/jpegfile.h"

using namespace imaging;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    JpegInfo info;
    if (checkJpeg(data, size, &info) != JpegStatus::Ok) return 0;
    fuzz::require(info.width > 0 && info.height > 0, "a valid JPEG has a size");
    fuzz::require(info.orientation >= 1 && info.orientation <= 8, "orientation is 1 to 8");
    fuzz::require(info.standardTablesAt < size, "the tables go inside the file");

    const std::string path = fuzz::inputFile(data, size, "picture.jpg");
    const auto details = JpegFileImage::Details::of(info);
    const JpegFileImage image(path, FileIdentity::ofPath(path), details);
    std::vector<std::uint8_t> out;
    try {
        image.writeData(
            [&](const std::uint8_t* d, std::size_t n) { out.insert(out.end(), d, d + n); });
    } catch (const std::runtime_error& e) {
        std::fprintf(stderr, "%s\n", e.what());
        fuzz::require(false, "a checked file can be written");
    }

    JpegInfo again;
    fuzz::require(checkJpeg(out.data(), out.size(), &again) == JpegStatus::Ok,
                  "the rewritten file passes the check");
    fuzz::require(again.width == info.width && again.height == info.height &&
                      again.components == info.components,
                  "the rewritten file keeps size and components");
    fuzz::require(!again.arithmetic, "the rewritten file is Huffman-coded");
    fuzz::require(again.standardTablesAt == 0, "the rewritten file has its Huffman tables");
    if (info.rgbColorSpace)
        fuzz::require(again.rgbColorSpace && again.hasAdobe && again.adobeTransform == 0,
                      "an RGB file stays marked as RGB");
    if (!info.arithmetic && info.standardTablesAt == 0 && !(info.rgbColorSpace && !info.hasAdobe))
        fuzz::require(out.size() == size && std::equal(out.begin(), out.end(), data),
                      "a file that needs nothing goes in byte for byte");
    return 0;
}
