// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/support/picturefiles.h"
#include "tests/support/testpictures.h"

#include <gtest/gtest.h>
#include <libheif/heif.h>
#include <png.h>
#include <zlib.h>
#include <tiffio.h>

#include <QBuffer>
#include <QFile>
#include <QFont>
#include <QFontMetrics>
#include <QPainter>
#include <QImageWriter>
#include <QTransform>
#include <cmath>
#include <csetjmp>

namespace pictolio::testing {

int pngSample(const PngRecipe& r, int x, int y, int c) {
    const int largest = (1 << r.bitDepth) - 1;
    if ((r.colorType == 4 && c == 1) || (r.colorType == 6 && c == 3))
        return ((x + y) % 4 == 0) ? 0 : ((x * 7 + y) % 3 == 0) ? largest : (x * 11 + y * 5) * 257 % (largest + 1);
    const int sample = ((x * 37 + y * 91 + c * 53) ^ (x * y * 13)) & 255;
    // 16-bit samples as different in their high bytes as 8-bit ones are.
    return r.bitDepth == 16 ? (sample << 8) | (sample ^ 0x5A) : sample % (largest + 1);
}

QByteArray makePng(const PngRecipe& r) {
    QByteArray out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        ADD_FAILURE() << "libpng could not write the picture";
        return {};
    }
    png_set_write_fn(
        png, &out,
        [](png_structp p, png_bytep data, png_size_t n) {
            static_cast<QByteArray*>(png_get_io_ptr(p))->append(reinterpret_cast<const char*>(data), qsizetype(n));
        },
        nullptr);
    png_set_IHDR(png, info, png_uint_32(r.width), png_uint_32(r.height), r.bitDepth, r.colorType,
                 r.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    std::vector<png_color> palette;
    if (r.colorType == 3) {
        for (int i = 0; i < (1 << r.bitDepth); ++i)
            palette.push_back({png_byte(i * 71 % 256), png_byte(i * 29 % 256), png_byte(i * 113 % 256)});
        png_set_PLTE(png, info, palette.data(), int(palette.size()));
    }
    std::vector<png_byte> alphas;
    png_color_16 key{};
    if (!r.transparency.empty()) {
        if (r.colorType == 3) {
            for (const int a : r.transparency) alphas.push_back(png_byte(a));
            png_set_tRNS(png, info, alphas.data(), int(alphas.size()), nullptr);
        } else {
            key.gray = png_uint_16(r.transparency[0]);
            key.red = png_uint_16(r.transparency[0]);
            if (r.transparency.size() == 3) key.green = png_uint_16(r.transparency[1]), key.blue = png_uint_16(r.transparency[2]);
            png_set_tRNS(png, info, nullptr, 0, &key);
        }
    }
    if (r.pixelsPerMetre > 0)
        png_set_pHYs(png, info, png_uint_32(r.pixelsPerMetre), png_uint_32(r.pixelsPerMetre), PNG_RESOLUTION_METER);
    png_write_info(png, info);
    const int channels = r.colorType == 2 ? 3 : r.colorType == 4 ? 2 : r.colorType == 6 ? 4 : 1;
    const std::size_t rowBytes = (std::size_t(r.width) * channels * r.bitDepth + 7) / 8;
    std::vector<std::vector<png_byte>> rows(std::size_t(r.height), std::vector<png_byte>(rowBytes, 0));
    for (int y = 0; y < r.height; ++y)
        for (int x = 0; x < r.width; ++x)
            for (int c = 0; c < channels; ++c) {
                const int v = pngSample(r, x, y, c);
                const std::size_t bit = (std::size_t(x) * channels + c) * r.bitDepth;
                png_byte* row = rows[std::size_t(y)].data();
                if (r.bitDepth == 16) {
                    row[bit / 8] = png_byte(v >> 8);
                    row[bit / 8 + 1] = png_byte(v);
                } else {
                    row[bit / 8] |= png_byte(v << (8 - r.bitDepth - bit % 8));
                }
            }
    std::vector<png_bytep> pointers;
    for (auto& row : rows) pointers.push_back(row.data());
    png_write_image(png, pointers.data());
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return out;
}

QImage storedFor(const QImage& upright, int orientation) {
    switch (orientation) {
        case 2: return upright.mirrored(true, false);
        case 3: return upright.transformed(QTransform().rotate(180));
        case 4: return upright.mirrored(false, true);
        case 6: return upright.transformed(QTransform().rotate(-90));
        case 8: return upright.transformed(QTransform().rotate(90));
        default: return upright;
    }
}

void writeTiff(const QString& path, const std::vector<TiffPage>& pages) {
    TIFF* tif = TIFFOpen(QFile::encodeName(path).constData(), "w");
    ASSERT_NE(tif, nullptr);
    for (const TiffPage& p : pages) {
        const QImage stored = storedFor(p.upright, p.orientation).convertToFormat(QImage::Format_ARGB32);
        const int w = stored.width(), h = stored.height();
        const int samples = (p.bilevel || p.gray ? 1 : 3) + (p.alpha ? 1 : 0);
        const int bits = p.bilevel ? 1 : p.gray ? p.bits : 8;
        TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, w);
        TIFFSetField(tif, TIFFTAG_IMAGELENGTH, h);
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, bits);
        TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, samples);
        TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(tif, TIFFTAG_COMPRESSION, p.compression);
        TIFFSetField(tif, TIFFTAG_ORIENTATION, p.orientation);
        TIFFSetField(tif, TIFFTAG_XRESOLUTION, float(p.dpi));
        TIFFSetField(tif, TIFFTAG_YRESOLUTION, float(p.dpi));
        TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
        TIFFSetField(tif, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
        if (p.alpha) {
            const std::uint16_t extra = EXTRASAMPLE_UNASSALPHA;
            TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, &extra);
        }
        if (p.bilevel)
            TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, p.whiteIsZero ? PHOTOMETRIC_MINISWHITE : PHOTOMETRIC_MINISBLACK);
        else if (p.gray) {
            TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
            TIFFSetField(tif, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
        } else if (p.compression == COMPRESSION_JPEG) {
            TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_YCBCR);
            TIFFSetField(tif, TIFFTAG_JPEGQUALITY, 95);
            TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
        } else
            TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
        if (p.compression == COMPRESSION_CCITTFAX3) TIFFSetField(tif, TIFFTAG_GROUP3OPTIONS, p.group3Options);
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, p.rowsPerStrip > 0 ? p.rowsPerStrip : h);
        std::vector<std::uint8_t> row(std::size_t(w) * 8);
        const auto put = [&](int sample, int value) {  // a sample of 0 to 255, in the machine's order
            if (bits == 16)
                reinterpret_cast<std::uint16_t*>(row.data())[sample] = std::uint16_t(value * 257);
            else
                row[std::size_t(sample)] = std::uint8_t(value);
        };
        for (int y = 0; y < h; ++y) {
            std::fill(row.begin(), row.end(), 0);
            const auto* px = reinterpret_cast<const QRgb*>(stored.constScanLine(y));
            for (int x = 0; x < w; ++x) {
                if (p.bilevel) {
                    const bool black = qGray(px[x]) < 128;
                    if (black == p.whiteIsZero) row[std::size_t(x / 8)] |= std::uint8_t(0x80 >> (x % 8));
                } else if (p.gray) {
                    put(x * samples, 255 - qGray(px[x]));
                    if (p.alpha) put(x * samples + 1, qAlpha(px[x]));
                } else {
                    std::uint8_t* s = &row[std::size_t(x) * samples];
                    s[0] = std::uint8_t(qRed(px[x])), s[1] = std::uint8_t(qGreen(px[x])), s[2] = std::uint8_t(qBlue(px[x]));
                    if (p.alpha) s[3] = std::uint8_t(qAlpha(px[x]));
                }
            }
            ASSERT_EQ(TIFFWriteScanline(tif, row.data(), std::uint32_t(y), 0), 1);
        }
        ASSERT_TRUE(TIFFWriteDirectory(tif));
    }
    TIFFClose(tif);
}

QByteArray makeHeif(const QImage& upright, int compression, int orientation, const QByteArray& profile, int primaries,
                    int transfer) {
    const QImage stored = storedFor(upright, orientation).convertToFormat(QImage::Format_RGB888);
    heif_context* context = heif_context_alloc();
    heif_encoder* encoder = nullptr;
    const heif_compression_format format = compression == 2 ? heif_compression_AV1 : heif_compression_HEVC;
    if (heif_context_get_encoder_for_format(context, format, &encoder).code != heif_error_Ok) {
        heif_context_free(context);
        ADD_FAILURE() << "libheif has no encoder for format " << compression;
        return {};
    }
    heif_encoder_set_lossy_quality(encoder, 95);
    heif_image* image = nullptr;
    heif_image_create(stored.width(), stored.height(), heif_colorspace_RGB, heif_chroma_interleaved_RGB, &image);
    heif_image_add_plane(image, heif_channel_interleaved, stored.width(), stored.height(), 8);
    int stride = 0;
    std::uint8_t* plane = heif_image_get_plane(image, heif_channel_interleaved, &stride);
    for (int y = 0; y < stored.height(); ++y)
        std::memcpy(plane + std::size_t(y) * std::size_t(stride), stored.constScanLine(y), std::size_t(stored.width()) * 3);
    if (!profile.isEmpty()) heif_image_set_raw_color_profile(image, "prof", profile.constData(), std::size_t(profile.size()));
    heif_color_profile_nclx* nclx = heif_nclx_color_profile_alloc();
    heif_encoding_options* options = heif_encoding_options_alloc();
    if (primaries != 0) {  // (libheif leaves the code points out by default, for macOS)
        heif_nclx_color_profile_set_color_primaries(nclx, std::uint16_t(primaries));
        heif_nclx_color_profile_set_transfer_characteristics(nclx, std::uint16_t(transfer));
        heif_image_set_nclx_color_profile(image, nclx);
        options->output_nclx_profile = nclx;
        options->macOS_compatibility_workaround_no_nclx_profile = 0;
    }
    options->image_orientation = heif_orientation(orientation);
    const heif_error encoded = heif_context_encode_image(context, image, encoder, options, nullptr);
    heif_encoding_options_free(options);
    heif_nclx_color_profile_free(nclx);
    heif_image_release(image);
    heif_encoder_release(encoder);
    QByteArray out;
    heif_writer writer{};
    writer.writer_api_version = 1;
    writer.write = [](heif_context*, const void* data, size_t size, void* user) {
        static_cast<QByteArray*>(user)->append(static_cast<const char*>(data), qsizetype(size));
        return heif_error{heif_error_Ok, heif_suberror_Unspecified, ""};
    };
    if (encoded.code == heif_error_Ok) heif_context_write(context, &writer, &out);
    heif_context_free(context);
    EXPECT_EQ(encoded.code, heif_error_Ok) << encoded.message;
    return out;
}

QByteArray makeWebp(const QImage& upright, int quality, int orientation) {
    QByteArray plain;
    QBuffer buffer(&plain);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "webp");
    writer.setQuality(quality);
    const QImage::Format format = upright.hasAlphaChannel() ? QImage::Format_ARGB32 : QImage::Format_RGB32;
    EXPECT_TRUE(writer.write(storedFor(upright, orientation).convertToFormat(format)))
        << writer.errorString().toStdString();
    if (orientation == 1) return plain;
    const auto le = [](quint32 v, int bytes) {
        QByteArray b;
        for (int i = 0; i < bytes; ++i) b.append(char((v >> (8 * i)) & 255));
        return b;
    };
    const QImage stored = storedFor(upright, orientation);
    // The extended format: VP8X saying an EXIF chunk follows the image.
    const QByteArray vp8x = "VP8X" + le(10, 4) + le(0x08, 4) + le(quint32(stored.width() - 1), 3) +
                            le(quint32(stored.height() - 1), 3);
    QByteArray exif("MM\0\x2a\0\0\0\x08\0\x01\x01\x12\0\x03\0\0\0\x01\0\0\0\0\0\0\0\0", 26);
    exif[19] = char(orientation);
    const QByteArray body = "WEBP" + vp8x + plain.mid(12) + "EXIF" + le(quint32(exif.size()), 4) + exif;
    return "RIFF" + le(quint32(body.size()), 4) + body;
}

QByteArray makeAnimatedWebp(const QImage& frame) {
    const QByteArray still = makeWebp(frame, 100);
    const auto le = [](quint32 v, int bytes) {
        QByteArray b;
        for (int i = 0; i < bytes; ++i) b.append(char((v >> (8 * i)) & 255));
        return b;
    };
    const quint32 w = quint32(frame.width() - 1), h = quint32(frame.height() - 1);
    const QByteArray vp8x = "VP8X" + le(10, 4) + le(0x02, 4) + le(w, 3) + le(h, 3);  // animation
    const QByteArray anim = "ANIM" + le(6, 4) + le(0xFFFFFFFF, 4) + le(0, 2);
    const QByteArray frameData = le(0, 3) + le(0, 3) + le(w, 3) + le(h, 3) + le(100, 3) + le(0, 1) + still.mid(12);
    const QByteArray anmf = "ANMF" + le(quint32(frameData.size()), 4) + frameData;
    const QByteArray body = "WEBP" + vp8x + anim + anmf;
    return "RIFF" + le(quint32(body.size()), 4) + body;
}

QByteArray makeAnimatedWebp(const std::vector<QImage>& frames) {
    const auto le = [](quint32 v, int bytes) {
        QByteArray b;
        for (int i = 0; i < bytes; ++i) b.append(char((v >> (8 * i)) & 255));
        return b;
    };
    const quint32 w = quint32(frames.at(0).width() - 1), h = quint32(frames.at(0).height() - 1);
    QByteArray body = "WEBP" + ("VP8X" + le(10, 4) + le(0x02, 4) + le(w, 3) + le(h, 3)) +
                      ("ANIM" + le(6, 4) + le(0xFFFFFFFF, 4) + le(0, 2));
    for (const QImage& frame : frames) {
        const QByteArray data = le(0, 3) + le(0, 3) + le(w, 3) + le(h, 3) + le(100, 3) + le(0x02, 1) +
                                makeWebp(frame, 100).mid(12);  // not blended: each frame whole
        body += "ANMF" + le(quint32(data.size()), 4) + data;
    }
    return "RIFF" + le(quint32(body.size()), 4) + body;
}

QByteArray makeAnimatedGif(const std::vector<GifFrame>& frames) {
    const auto le16 = [](int v) { return QByteArray(1, char(v & 255)) + char((v >> 8) & 255); };
    QList<QRgb> palette;
    for (const GifFrame& f : frames)
        for (int y = 0; y < f.image.height(); ++y)
            for (int x = 0; x < f.image.width(); ++x)
                if (const QRgb c = f.image.pixel(x, y) | 0xFF000000; !palette.contains(c)) palette << c;
    EXPECT_LE(palette.size(), 256);
    const QSize screen = frames.at(0).image.size();
    QByteArray gif = "GIF89a" + le16(screen.width()) + le16(screen.height()) + QByteArray("\xF7\x00\x00", 3);
    for (int i = 0; i < 256; ++i) {
        const QRgb c = palette.value(i);
        gif += char(qRed(c));
        gif += char(qGreen(c));
        gif += char(qBlue(c));
    }
    for (const GifFrame& f : frames) {
        gif += QByteArray("\x21\xF9\x04\x04\x0A\x00\x00\x00", 8);  // left in place, a tenth of a second
        gif += "\x2C" + le16(f.at.x()) + le16(f.at.y()) + le16(f.image.width()) + le16(f.image.height()) + '\0';
        // LZW of 8-bit codes sent as they are: 9-bit codes, the table cleared before it grows.
        QByteArray data;
        quint32 bits = 0;
        int count = 0;
        const auto put = [&](int code) {
            bits |= quint32(code) << count;
            for (count += 9; count >= 8; count -= 8, bits >>= 8) data.append(char(bits & 255));
        };
        int sinceClear = 0;
        put(256);
        for (int y = 0; y < f.image.height(); ++y)
            for (int x = 0; x < f.image.width(); ++x) {
                if (++sinceClear == 200) put(256), sinceClear = 1;
                put(int(palette.indexOf(f.image.pixel(x, y) | 0xFF000000)));
            }
        put(257);
        if (count > 0) data.append(char(bits & 255));
        gif += '\x08';
        for (qsizetype at = 0; at < data.size(); at += 255) {
            const QByteArray block = data.mid(at, 255);
            gif += char(block.size()) + block;
        }
        gif += '\0';
    }
    return gif + ';';
}

QImage cornersPicture(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const bool right = x >= width / 2, bottom = y >= height / 2;
            const QRgb corner = !right && !bottom ? qRgb(220, 30, 30)
                                : right && !bottom ? qRgb(30, 200, 40)
                                : !right            ? qRgb(30, 40, 210)
                                                    : qRgb(240, 230, 40);
            image.setPixel(x, y, corner);
        }
    return image;
}

double meanDifference(const QImage& a, const QImage& b) {
    if (a.size() != b.size() || a.isNull()) return -1;
    const QImage x = a.convertToFormat(QImage::Format_RGB32), y = b.convertToFormat(QImage::Format_RGB32);
    double sum = 0;
    for (int j = 0; j < x.height(); ++j)
        for (int i = 0; i < x.width(); ++i) {
            const QRgb p = x.pixel(i, j), q = y.pixel(i, j);
            sum += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) + std::abs(qBlue(p) - qBlue(q));
        }
    return sum / (3.0 * x.width() * x.height());
}

const QStringList textParagraph = {
    "The quick brown fox jumps over the lazy dog while",
    "seven happy farmers carry fresh bread to market.",
    "Invoice number 4721 is due on the first of March.",
    "Please keep this letter with your other papers.",
};

TextPage drawTextPage() {
    TextPage page;
    page.image = QImage(1500, 420, QImage::Format_RGB888);
    page.image.fill(Qt::white);
    QPainter painter(&page.image);
    QFont font(QStringLiteral("Liberation Serif"));
    font.setPixelSize(50);  // 12 points at 300 dpi
    painter.setFont(font);
    painter.setPen(Qt::black);
    const QFontMetrics metrics(font);
    for (int line = 0; line < textParagraph.size(); ++line) {
        double x = 60;
        const double baseline = 90 + line * 85;
        for (const QString& word : textParagraph[line].split(' ')) {
            painter.drawText(QPointF(x, baseline), word);
            const QRectF ink = metrics.tightBoundingRect(word).translated(x, baseline);
            page.words << word;
            page.boxes.push_back(QRectF(ink.x() / page.image.width(), ink.y() / page.image.height(),
                                        ink.width() / page.image.width(), ink.height() / page.image.height()));
            x += metrics.horizontalAdvance(word + ' ');
        }
    }
    return page;
}

QByteArray textJpeg(const QImage& upright, int orientation, int dpi) {
    const QImage stored = storedFor(upright, orientation).convertToFormat(QImage::Format_RGB888);
    JpegRecipe recipe;
    recipe.width = stored.width();
    recipe.height = stored.height();
    recipe.densityUnit = 1;
    recipe.xDensity = recipe.yDensity = dpi;
    recipe.exif = orientation != 1;
    recipe.orientation = orientation;
    std::vector<unsigned char> rgb;
    for (int y = 0; y < stored.height(); ++y)
        rgb.insert(rgb.end(), stored.constScanLine(y), stored.constScanLine(y) + stored.width() * 3);
    return makeJpegFromRgb(recipe, rgb.data());
}

// A PNG file of transparent black RGBA pixels, written without holding them.
QByteArray transparentPng(int width, int height) {
    const auto be32 = [](quint32 v) {
        const char bytes[4] = {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
        return QByteArray(bytes, 4);
    };
    const auto chunk = [&](const QByteArray& typeAndData) {
        const auto crc = quint32(crc32(0, reinterpret_cast<const Bytef*>(typeAndData.constData()), uInt(typeAndData.size())));
        return be32(quint32(typeAndData.size() - 4)) + typeAndData + be32(crc);
    };
    z_stream z{};
    deflateInit(&z, 9);
    const std::vector<Bytef> row(std::size_t(width) * 4 + 1, 0);
    QByteArray data(1 << 16, 0), compressed;
    for (int y = 0; y <= height; ++y) {
        z.next_in = const_cast<Bytef*>(row.data());
        z.avail_in = y < height ? uInt(row.size()) : 0;
        do {
            z.next_out = reinterpret_cast<Bytef*>(data.data());
            z.avail_out = uInt(data.size());
            deflate(&z, y < height ? Z_NO_FLUSH : Z_FINISH);
            compressed += data.left(data.size() - qsizetype(z.avail_out));
        } while (z.avail_out == 0);
    }
    deflateEnd(&z);
    return QByteArray("\x89PNG\r\n\x1a\n", 8) +
           chunk("IHDR" + be32(quint32(width)) + be32(quint32(height)) + QByteArray("\x08\x06\0\0\0", 5)) +
           chunk("IDAT" + compressed) + chunk("IEND");
}

}  // namespace pictolio::testing
