// SPDX-License-Identifier: GPL-3.0-or-later
// What the tests of picture formats share: a printing set-up that prints each picture on a page of
// its own size, and picture files made as other programs write them.
#pragma once

#include <zlib.h>

#include <QBuffer>
#include <QImage>
#include <QString>
#include <QTemporaryDir>

#include "convert/pdfprinter.h"
#include "pictures/picture.h"
#include "platform/printservice.h"
#include "platform/registry.h"
#include "tests/support/picturefiles.h"
#include "tests/support/printingfixture.h"
#include "tests/support/testpictures.h"

namespace pictolio::testing {

// Every picture printed on a page of its own size, without margins, so the rendered page is
// the picture.
class PictureFormatsTest : public PrintingFixture {
protected:
    void SetUp() override { installPrinting({{"PaperSize", "Fit"}, {"Margin", "0"}}); }

    QString put(const QString& name, const QByteArray& data) {
        const QString path = dir.filePath(name);
        writeFile(path, data);
        return path;
    }

    // Prints the picture into a new PDF; its path.
    QString print(const Picture& picture, bool stretch = false) {
        const QString path = dir.filePath(QStringLiteral("out%1.pdf").arg(++printed));
        pdfprinter::writeOutputSettings(*registry, path);
        PrinterDevice& dc = service->printer();
        dc.setScaleMode(ScaleMode::Pixels);
        if (stretch)
            dc.paintPicture(picture, 0, 0, float(dc.scaleWidth()), float(dc.scaleHeight()));
        else
            dc.paintPicture(picture, 0, 0);
        dc.endDoc();
        service->pdfDriver().waitUntilIdle();
        return path;
    }

    QTemporaryDir dir;
    int printed = 0;
};

// Pages are rendered at four times the pictures' density or more: poppler smooths pictures it
// enlarges less than that.
// The picture a rendered page shows, each picture pixel `scale` device pixels wide: the
// middle of each.
inline QImage shown(const QImage& page, int width, int height, int scale) {
    QImage out(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) out.setPixel(x, y, page.pixel(x * scale + scale / 2, y * scale + scale / 2));
    return out;
}

// A file as Qt writes it ("jpg" at quality 95, "png"), untagged unless the picture has a colour space.
inline QByteArray saved(const QImage& picture, const char* format) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    picture.save(&buffer, format, 95);
    return bytes;
}

// The JPEG file with the colour profile in APP2 segments of at most `piece` bytes, written last
// segment first (their numbers give the order).
inline QByteArray withJpegProfile(const QByteArray& jpeg, const QByteArray& profile, int piece) {
    const int count = int((profile.size() + piece - 1) / piece);
    QByteArray segments;
    for (int i = 0; i < count; ++i) {
        const QByteArray chunk = profile.mid(qsizetype(i) * piece, piece);
        const int length = 2 + 12 + 2 + int(chunk.size());
        QByteArray segment("\xFF\xE2", 2);
        segment += char(length >> 8);
        segment += char(length & 255);
        segment += QByteArray("ICC_PROFILE\0", 12);
        segment += char(i + 1);
        segment += char(count);
        segments.prepend(segment + chunk);
    }
    return jpeg.left(2) + segments + jpeg.mid(2);
}

// The PNG file with a chunk of this type added after its header.
inline QByteArray withPngChunk(const QByteArray& png, const char* type, const QByteArray& data) {
    const QByteArray body = QByteArray(type, 4) + data;
    const quint32 crc = quint32(crc32(0, reinterpret_cast<const Bytef*>(body.constData()), uInt(body.size())));
    QByteArray chunk;
    for (const quint32 v : {quint32(data.size())})
        for (int i = 3; i >= 0; --i) chunk += char(v >> (8 * i));
    chunk += body;
    for (int i = 3; i >= 0; --i) chunk += char(crc >> (8 * i));
    return png.left(33) + chunk + png.mid(33);
}

// An iCCP chunk's contents: a name, the compression method, the profile deflated.
inline QByteArray iccpOf(const QByteArray& profile) { return QByteArray("ICC\0\0", 5) + qCompress(profile).mid(4); }

// A GIF of four colours in stripes, its codes kept 3 bits wide (a clear code before every second
// pixel): Qt reads GIF but does not write it.
inline QByteArray makeGif(int width, int height) {
    QByteArray gif("GIF89a");
    gif += char(width) + QByteArray(1, char(width >> 8)) + char(height) + QByteArray(1, char(height >> 8));
    gif += QByteArray("\xF1\0\0", 3) + QByteArray("\0\0\0\xFF\0\0\0\xFF\0\0\0\xFF", 12);
    gif += QByteArray(",\0\0\0\0", 5) + gif.mid(6, 4) + QByteArray("\0\x02", 2);
    QByteArray packed;
    quint32 bits = 0;
    int count = 0;
    const auto put = [&](int code) {
        bits |= quint32(code) << count;
        for (count += 3; count >= 8; count -= 8, bits >>= 8) packed += char(bits & 255);
    };
    for (int i = 0; i < width * height; ++i) {
        if (i % 2 == 0) put(4);
        put((i / width / 4) % 4);
    }
    put(5);
    if (count > 0) packed += char(bits & 255);
    for (qsizetype at = 0; at < packed.size(); at += 255) {
        const QByteArray block = packed.mid(at, 255);
        gif += char(block.size()) + block;
    }
    return gif + QByteArray("\0;", 2);
}
}  // namespace pictolio::testing
