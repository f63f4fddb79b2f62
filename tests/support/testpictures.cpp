// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/support/testpictures.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QtGlobal>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

extern "C" {
#include <jpeglib.h>
}

namespace pictolio::testing {

namespace {

struct Err {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

extern "C" void testJpegError(j_common_ptr c) {
    std::longjmp(reinterpret_cast<Err*>(c->err)->jump, 1);
}

void put16(QByteArray& b, int v, bool little) {
    if (little) {
        b.append(char(v & 255));
        b.append(char((v >> 8) & 255));
    } else {
        b.append(char((v >> 8) & 255));
        b.append(char(v & 255));
    }
}
void put32(QByteArray& b, quint32 v, bool little) {
    for (int i = 0; i < 4; ++i) b.append(char(little ? (v >> (8 * i)) & 255 : (v >> (24 - 8 * i)) & 255));
}

// A small EXIF block (big-endian, IFD0 only).
QByteArray exifBlock(const JpegRecipe& s) {
    const bool little = false;
    struct Entry {
        int tag, type;
        quint32 count, value;
    };
    std::vector<Entry> entries;
    const int n = (s.orientation ? 1 : 0) + (s.exifXRes > 0 ? 3 : 0);
    const quint32 dataStart = 8 + 2 + 12 * n + 4;
    if (s.orientation) entries.push_back({0x0112, 3, 1, quint32(s.orientation) << 16});
    if (s.exifXRes > 0) {
        entries.push_back({0x011A, 5, 1, dataStart});
        entries.push_back({0x011B, 5, 1, dataStart + 8});
        entries.push_back({0x0128, 3, 1, quint32(s.exifResUnit) << 16});
    }
    QByteArray b("Exif\0\0", 6);
    b.append("MM");
    put16(b, 42, little);
    put32(b, 8, little);
    put16(b, n, little);
    for (const Entry& e : entries) {
        put16(b, e.tag, little);
        put16(b, e.type, little);
        put32(b, e.count, little);
        put32(b, e.value, little);
    }
    put32(b, 0, little);
    if (s.exifXRes > 0) {
        put32(b, quint32(s.exifXRes * 100), little);
        put32(b, 100, little);
        put32(b, quint32(s.exifYRes * 100), little);
        put32(b, 100, little);
    }
    return b;
}

struct Compress {
    jpeg_compress_struct c;
    Err err;
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    std::vector<jpeg_scan_info> scans;
};

// The DC of all components in one scan, then each AC coefficient of each component alone,
// its bits in the given number of steps.
void setManyScans(Compress* k, int steps) {
    k->scans.push_back({k->c.num_components, {0, 1, 2, 3}, 0, 0, 0, 0});
    for (int c = 0; c < k->c.num_components; ++c)
        for (int coefficient = 1; coefficient < 64; ++coefficient) {
            k->scans.push_back({1, {c}, coefficient, coefficient, 0, steps - 1});
            for (int bit = steps - 1; bit > 0; --bit)
                k->scans.push_back({1, {c}, coefficient, coefficient, bit, bit - 1});
        }
    k->c.scan_info = k->scans.data();
    k->c.num_scans = int(k->scans.size());
}

bool compress(Compress* k, const JpegRecipe& s, const std::vector<unsigned char>& pixels,
              int components, J_COLOR_SPACE in, const QByteArray& exif) {
    k->c.err = jpeg_std_error(&k->err.pub);
    k->err.pub.error_exit = testJpegError;
    if (setjmp(k->err.jump)) return false;
    jpeg_CreateCompress(&k->c, JPEG_LIB_VERSION, sizeof k->c);
    jpeg_mem_dest(&k->c, &k->buffer, &k->size);
    k->c.image_width = JDIMENSION(s.width);
    k->c.image_height = JDIMENSION(s.height);
    k->c.input_components = components;
    k->c.in_color_space = in;
    jpeg_set_defaults(&k->c);
    switch (s.kind) {
        case JpegRecipe::Kind::Rgb:
            jpeg_set_colorspace(&k->c, JCS_RGB);
            k->c.write_Adobe_marker = FALSE;
            k->c.comp_info[0].component_id = 'R';
            k->c.comp_info[1].component_id = 'G';
            k->c.comp_info[2].component_id = 'B';
            break;
        case JpegRecipe::Kind::Ycck:
            jpeg_set_colorspace(&k->c, JCS_YCCK);
            break;
        case JpegRecipe::Kind::PlainCmyk:
            k->c.write_Adobe_marker = FALSE;
            break;
        default:
            break;
    }
    jpeg_set_quality(&k->c, s.quality, TRUE);
    if (s.progressive) jpeg_simple_progression(&k->c);
    if (s.approximationSteps > 0) setManyScans(k, s.approximationSteps);
    if (s.scanPerComponent) {
        for (int c = 0; c < k->c.num_components; ++c) k->scans.push_back({1, {c}, 0, 63, 0, 0});
        k->c.scan_info = k->scans.data();
        k->c.num_scans = int(k->scans.size());
    }
    k->c.restart_interval = unsigned(s.restartInterval);
    k->c.arith_code = s.arithmetic ? TRUE : FALSE;
    k->c.write_JFIF_header = s.jfif && (components == 1 || components == 3) &&
                                     s.kind != JpegRecipe::Kind::Rgb
                                 ? TRUE
                                 : FALSE;
    k->c.density_unit = UINT8(s.densityUnit);
    k->c.X_density = UINT16(s.xDensity);
    k->c.Y_density = UINT16(s.yDensity);
    jpeg_start_compress(&k->c, TRUE);
    if (!exif.isEmpty())
        jpeg_write_marker(&k->c, JPEG_APP0 + 1, reinterpret_cast<const JOCTET*>(exif.constData()),
                          unsigned(exif.size()));
    const int stride = s.width * components;
    while (k->c.next_scanline < k->c.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(pixels.data() + std::size_t(k->c.next_scanline) * stride);
        jpeg_write_scanlines(&k->c, &row, 1);
    }
    jpeg_finish_compress(&k->c);
    return true;
}

struct Decompress {
    jpeg_decompress_struct d;
    Err err;
};

bool decompress(Decompress* k, const QByteArray& data, std::vector<unsigned char>* out, int* w,
                int* h, int* comps) {
    k->d.err = jpeg_std_error(&k->err.pub);
    k->err.pub.error_exit = testJpegError;
    if (setjmp(k->err.jump)) return false;
    jpeg_CreateDecompress(&k->d, JPEG_LIB_VERSION, sizeof k->d);
    jpeg_mem_src(&k->d, reinterpret_cast<const unsigned char*>(data.constData()),
                 static_cast<unsigned long>(data.size()));
    jpeg_read_header(&k->d, TRUE);
    jpeg_start_decompress(&k->d);
    *w = int(k->d.output_width);
    *h = int(k->d.output_height);
    *comps = k->d.output_components;
    out->resize(std::size_t(*w) * std::size_t(*h) * std::size_t(*comps));
    while (k->d.output_scanline < k->d.output_height) {
        JSAMPROW row = out->data() + std::size_t(k->d.output_scanline) * std::size_t(*w * *comps);
        jpeg_read_scanlines(&k->d, &row, 1);
    }
    jpeg_finish_decompress(&k->d);
    return true;
}

}  // namespace

void testPixel(int x, int y, int* r, int* g, int* b) {
    // Smooth gradients with a few blocks, so JPEG keeps them close and orientation shows.
    *r = (x * 255) / 64 % 256;
    *g = (y * 255) / 48 % 256;
    *b = ((x / 16 + y / 16) % 2) ? 200 : 40;
}

namespace {

int componentsOf(JpegRecipe::Kind kind, J_COLOR_SPACE* in) {
    switch (kind) {
        case JpegRecipe::Kind::Gray:
            *in = JCS_GRAYSCALE;
            return 1;
        case JpegRecipe::Kind::AdobeCmyk:
        case JpegRecipe::Kind::Ycck:
        case JpegRecipe::Kind::PlainCmyk:
            *in = JCS_CMYK;
            return 4;
        default:
            *in = JCS_RGB;
            return 3;
    }
}

}  // namespace

QByteArray makeJpeg(const JpegRecipe& s) {
    std::vector<unsigned char> rgb(std::size_t(s.width) * s.height * 3);
    for (int y = 0; y < s.height; ++y)
        for (int x = 0; x < s.width; ++x) {
            int r, g, b;
            testPixel(x, y, &r, &g, &b);
            unsigned char* p = rgb.data() + (std::size_t(y) * s.width + x) * 3;
            p[0] = static_cast<unsigned char>(r);
            p[1] = static_cast<unsigned char>(g);
            p[2] = static_cast<unsigned char>(b);
        }
    return makeJpegFromRgb(s, rgb.data());
}

QByteArray makeJpegFromRgb(const JpegRecipe& s, const unsigned char* rgb) {
    J_COLOR_SPACE in = JCS_RGB;
    const int components = componentsOf(s.kind, &in);
    std::vector<unsigned char> pixels(std::size_t(s.width) * s.height * components);
    for (std::size_t i = 0; i < std::size_t(s.width) * s.height; ++i) {
        const unsigned char* p = rgb + i * 3;
        unsigned char* q = pixels.data() + i * components;
        if (components == 1) {
            q[0] = static_cast<unsigned char>((p[0] + p[1] + p[2]) / 3);
        } else if (components == 3) {
            q[0] = p[0], q[1] = p[1], q[2] = p[2];
        } else if (s.kind == JpegRecipe::Kind::PlainCmyk) {  // ink amounts
            q[0] = uchar(255 - p[0]), q[1] = uchar(255 - p[1]), q[2] = uchar(255 - p[2]), q[3] = 0;
        } else {  // Adobe CMYK and YCCK store the ink amounts inverted
            q[0] = p[0], q[1] = p[1], q[2] = p[2], q[3] = 255;
        }
    }
    const QByteArray exif = s.exif ? exifBlock(s) : QByteArray();
    auto* k = new Compress();
    const bool ok = compress(k, s, pixels, components, in, exif);
    QByteArray result;
    if (ok) result = QByteArray(reinterpret_cast<const char*>(k->buffer), qsizetype(k->size));
    jpeg_destroy_compress(&k->c);
    std::free(k->buffer);
    delete k;
    if (!ok) throw std::runtime_error("test JPEG could not be made");
    return result;
}

std::vector<unsigned char> decodeJpeg(const QByteArray& data, int* width, int* height,
                                      int* components) {
    auto* k = new Decompress();
    std::vector<unsigned char> out;
    const bool ok = decompress(k, data, &out, width, height, components);
    jpeg_destroy_decompress(&k->d);
    delete k;
    if (!ok) throw std::runtime_error("test JPEG could not be decoded");
    return out;
}

void writeFile(const QString& path, const QByteArray& data) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << path.toStdString();
    ASSERT_EQ(f.write(data), data.size());
}

QByteArray readFile(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return f.readAll();
}

}  // namespace pictolio::testing
