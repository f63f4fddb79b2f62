// SPDX-License-Identifier: GPL-3.0-or-later
// Decoding JPEG data to rows of pixels (at a fraction of its size by the DCT) and encoding pixels
// as JPEG: for text recognition and smaller pictures.
#include "imaging/jpegfile.h"
#include "imaging/jpeglibrary.h"

#include <csetjmp>
#include <cstring>
#include <memory>
#include <stdexcept>

namespace imaging {

namespace {

// The state of one decoding, kept off the stack that setjmp returns to.
struct RowDecoding {
    jpeg_decompress_struct cinfo;
    ErrorManager err;
    std::jmp_buf jump;
    bool created = false;
    std::vector<std::uint8_t> row;  // one row as decoded
    std::vector<std::uint8_t> out;  // the same as handed on
    ~RowDecoding() {
        if (created) jpeg_destroy_decompress(&cinfo);
    }
};

bool decodeRows(RowDecoding* d, const std::uint8_t* data, std::size_t size, int shrink, bool colour,
                const JpegRowsStart& start, const std::function<void(const std::uint8_t*)>& rowSink) {
    setUp(&d->err, &d->jump, false);
    d->cinfo.err = &d->err.pub;
    if (setjmp(d->jump)) return false;
    jpeg_CreateDecompress(&d->cinfo, JPEG_LIB_VERSION, sizeof d->cinfo);
    d->created = true;
    d->cinfo.mem->max_memory_to_use = jpegMemoryLimit;
    jpeg_mem_src(&d->cinfo, data, static_cast<unsigned long>(size));
    jpeg_read_header(&d->cinfo, TRUE);
    d->cinfo.scale_num = 1;
    d->cinfo.scale_denom = unsigned(shrink);
    const bool cmyk = d->cinfo.jpeg_color_space == JCS_CMYK || d->cinfo.jpeg_color_space == JCS_YCCK;
    const bool grey = d->cinfo.num_components == 1;
    const int components = colour && !grey ? 3 : 1;
    d->cinfo.out_color_space = cmyk ? JCS_CMYK : components == 3 ? JCS_RGB : JCS_GRAYSCALE;
    jpeg_start_decompress(&d->cinfo);
    const std::size_t w = d->cinfo.output_width, h = d->cinfo.output_height;
    d->row.resize(w * std::size_t(d->cinfo.output_components));
    d->out.resize(w * std::size_t(components));
    start(int(w), int(h), components);
    // Adobe's CMYK files store the inks inverted, as most writers do.
    const bool adobeInverted = d->cinfo.saw_Adobe_marker;
    while (d->cinfo.output_scanline < h) {
        JSAMPROW rowPointer = d->row.data();
        jpeg_read_scanlines(&d->cinfo, &rowPointer, 1);
        if (!cmyk) {
            rowSink(d->row.data());
            continue;
        }
        for (std::size_t x = 0; x < w; ++x) {
            const std::uint8_t* p = d->row.data() + x * 4;
            int c = p[0], m = p[1], y = p[2], k = p[3];
            if (adobeInverted) c = 255 - c, m = 255 - m, y = 255 - y, k = 255 - k;
            const int r = (255 - c) * (255 - k) / 255, g = (255 - m) * (255 - k) / 255, b = (255 - y) * (255 - k) / 255;
            if (components == 3) d->out[3 * x] = std::uint8_t(r), d->out[3 * x + 1] = std::uint8_t(g), d->out[3 * x + 2] = std::uint8_t(b);
            else d->out[x] = std::uint8_t((r * 77 + g * 150 + b * 29) >> 8);
        }
        rowSink(d->out.data());
    }
    jpeg_finish_decompress(&d->cinfo);
    return true;
}

}  // namespace

bool decodeJpegRows(const std::uint8_t* data, std::size_t size, int shrink, bool colour, const JpegRowsStart& start,
                    const std::function<void(const std::uint8_t*)>& row) {
    const auto d = std::make_unique<RowDecoding>();
    return decodeRows(d.get(), data, size, shrink, colour, start, row);
}

std::vector<std::uint8_t> decodeJpegGrey(const std::uint8_t* data, std::size_t size, int shrink, int* width,
                                         int* height) {
    std::vector<std::uint8_t> pixels;
    std::size_t w = 0;
    const bool decoded = decodeJpegRows(
        data, size, shrink, false,
        [&](int dw, int dh, int) {
            *width = dw, *height = dh, w = std::size_t(dw);
            pixels.reserve(w * std::size_t(dh));
        },
        [&](const std::uint8_t* row) { pixels.insert(pixels.end(), row, row + w); });
    if (decoded) return pixels;
    *width = *height = 0;  // a picture cut short is no picture
    return {};
}

namespace {

struct Encoding {
    jpeg_compress_struct cinfo;
    ErrorManager err;
    std::jmp_buf jump;
    bool created = false;
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    ~Encoding() {
        if (created) jpeg_destroy_compress(&cinfo);
        std::free(buffer);
    }
};

bool encode(Encoding* e, const std::uint8_t* pixels, int width, int height, int components, int quality) {
    setUp(&e->err, &e->jump, false);
    e->cinfo.err = &e->err.pub;
    if (setjmp(e->jump)) return false;
    jpeg_CreateCompress(&e->cinfo, JPEG_LIB_VERSION, sizeof e->cinfo);
    e->created = true;
    jpeg_mem_dest(&e->cinfo, &e->buffer, &e->size);
    e->cinfo.image_width = JDIMENSION(width);
    e->cinfo.image_height = JDIMENSION(height);
    e->cinfo.input_components = components;
    e->cinfo.in_color_space = components == 3 ? JCS_RGB : JCS_GRAYSCALE;
    jpeg_set_defaults(&e->cinfo);
    jpeg_set_quality(&e->cinfo, quality, TRUE);
    e->cinfo.optimize_coding = TRUE;  // a few per cent smaller, for little time
    jpeg_start_compress(&e->cinfo, TRUE);
    const std::size_t rowBytes = std::size_t(width) * std::size_t(components);
    while (e->cinfo.next_scanline < e->cinfo.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(pixels + std::size_t(e->cinfo.next_scanline) * rowBytes);
        jpeg_write_scanlines(&e->cinfo, &row, 1);
    }
    jpeg_finish_compress(&e->cinfo);
    return true;
}

}  // namespace

std::vector<std::uint8_t> encodeJpeg(const std::uint8_t* pixels, int width, int height, int components, int quality) {
    const auto e = std::make_unique<Encoding>();
    if (!encode(e.get(), pixels, width, height, components, quality))
        throw std::runtime_error(std::string("cannot encode JPEG: ") + e->err.message);
    return std::vector<std::uint8_t>(e->buffer, e->buffer + e->size);
}

}  // namespace imaging
