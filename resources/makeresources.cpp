// SPDX-License-Identifier: GPL-3.0-or-later
// make-resources FOLDER: draws the program's cursors and sample pictures and writes them into
// FOLDER: HAND-M.CUR (the hand over push buttons), drag.ico (the pointer while a row is
// dragged) and Samples/ (pictures to try the program on:
// different sizes, densities and orientations, one of them a portrait photo stored turned, as
// a phone stores it, with an EXIF orientation to stand it upright).
#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <cstdio>

namespace {

void put16(QByteArray& b, int v) {
    b.append(char(v & 255));
    b.append(char((v >> 8) & 255));
}
void put32(QByteArray& b, quint32 v) {
    for (int i = 0; i < 4; ++i) b.append(char((v >> (8 * i)) & 255));
}

// A Windows icon (type 1) or cursor (type 2) file with one 32-bit image.
QByteArray iconFile(const QImage& source, int type, int hotX, int hotY) {
    const QImage image = source.convertToFormat(QImage::Format_ARGB32);
    const int w = image.width(), h = image.height();
    const int maskStride = ((w + 31) / 32) * 4;
    QByteArray dib;
    put32(dib, 40);
    put32(dib, quint32(w));
    put32(dib, quint32(h * 2));  // colour and mask together
    put16(dib, 1);
    put16(dib, 32);
    put32(dib, 0);
    put32(dib, quint32(w * h * 4 + maskStride * h));
    put32(dib, 0), put32(dib, 0), put32(dib, 0), put32(dib, 0);
    for (int y = h - 1; y >= 0; --y) {
        const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < w; ++x) put32(dib, row[x]);  // BGRA in memory
    }
    for (int y = h - 1; y >= 0; --y) {
        const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        QByteArray mask(maskStride, 0);
        for (int x = 0; x < w; ++x)
            if (qAlpha(row[x]) == 0) mask[x / 8] = char(mask[x / 8] | (0x80 >> (x % 8)));
        dib.append(mask);
    }
    QByteArray file;
    put16(file, 0);
    put16(file, type);
    put16(file, 1);
    file.append(char(w < 256 ? w : 0));
    file.append(char(h < 256 ? h : 0));
    file.append(char(0));
    file.append(char(0));
    put16(file, type == 2 ? hotX : 1);
    put16(file, type == 2 ? hotY : 32);
    put32(file, quint32(dib.size()));
    put32(file, 22);
    return file + dib;
}

QImage hand() {
    QImage image(32, 32, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    // Index finger pointing up, three folded fingers and the thumb, palm below.
    path.addRoundedRect(QRectF(9, 1, 5, 17), 2.5, 2.5);
    path.addRoundedRect(QRectF(13.5, 10, 4.5, 9), 2.2, 2.2);
    path.addRoundedRect(QRectF(17.5, 11, 4.5, 9), 2.2, 2.2);
    path.addRoundedRect(QRectF(21.5, 12.5, 4.5, 8), 2.2, 2.2);
    path.addRoundedRect(QRectF(4, 14, 7, 4.5), 2.2, 2.2);
    path.addRoundedRect(QRectF(7, 16, 19, 12), 4, 4);
    p.setPen(QPen(Qt::black, 1.2));
    p.setBrush(Qt::white);
    p.drawPath(path.simplified());
    return image;
}

QImage dragPointer() {
    QImage image(32, 32, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Qt::black, 1.2));
    p.setBrush(QColor(255, 255, 255));
    p.drawRect(QRectF(9.5, 9.5, 13, 13));  // the row being carried
    p.setBrush(Qt::black);
    const QPolygonF up({QPointF(16, 1), QPointF(11, 7), QPointF(21, 7)});
    const QPolygonF down({QPointF(16, 31), QPointF(11, 25), QPointF(21, 25)});
    p.drawPolygon(up);
    p.drawPolygon(down);
    p.drawLine(QPointF(12, 14), QPointF(20, 14));
    p.drawLine(QPointF(12, 18), QPointF(20, 18));
    return image;
}

// A scene to show: sky, sun, hills and a caption.
QImage scene(int width, int height, const QColor& sky, const QString& caption) {
    QImage image(width, height, QImage::Format_RGB32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient air(0, 0, 0, height);
    air.setColorAt(0, sky.darker(130));
    air.setColorAt(1, sky.lighter(150));
    p.fillRect(image.rect(), air);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 214, 90));
    p.drawEllipse(QPointF(width * 0.75, height * 0.28), height * 0.09, height * 0.09);
    for (int layer = 0; layer < 3; ++layer) {
        QPainterPath hills;
        const double base = height * (0.62 + 0.1 * layer);
        hills.moveTo(0, height);
        hills.lineTo(0, base);
        for (int x = 0; x <= width; x += width / 8)
            hills.quadTo(x + width / 16.0, base - height * (0.08 + 0.04 * ((x / (width / 8) + layer) % 3)),
                         x + width / 8.0, base);
        hills.lineTo(width, height);
        hills.closeSubpath();
        p.setBrush(QColor(40 + 30 * layer, 110 + 25 * layer, 60 + 10 * layer));
        p.drawPath(hills);
    }
    QFont font;
    font.setBold(true);
    font.setPixelSize(height / 12);
    p.setFont(font);
    p.setPen(Qt::white);
    p.drawText(QRect(0, height / 20, width, height / 6), Qt::AlignHCenter | Qt::AlignTop, caption);
    return image;
}

// JPEG data with a density; with orientation > 1, an EXIF segment saying how to turn it.
QByteArray jpeg(const QImage& image, int dpi, int orientation) {
    QImage copy = image;
    copy.setDotsPerMeterX(qRound(dpi / 0.0254));
    copy.setDotsPerMeterY(qRound(dpi / 0.0254));
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    copy.save(&buffer, "JPG", 88);
    if (orientation <= 1) return data;
    // APP1 "Exif": a big-endian TIFF header and one IFD entry, Orientation (SHORT).
    QByteArray exif("Exif\0\0MM\0\x2a\0\0\0\x08\0\x01\x01\x12\0\x03\0\0\0\x01", 24);
    exif.append(char(0));
    exif.append(char(orientation));
    exif.append(QByteArray(2, 0));
    exif.append(QByteArray(4, 0));  // no next IFD
    QByteArray segment("\xFF\xE1", 2);
    segment.append(char((exif.size() + 2) >> 8));
    segment.append(char((exif.size() + 2) & 255));
    segment.append(exif);
    // After the JFIF segment, which must come first.
    const int jfifEnd = 4 + ((uchar(data[4]) << 8) | uchar(data[5]));
    return data.left(jfifEnd) + segment + data.mid(jfifEnd);
}

bool write(const QString& path, const QByteArray& data) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
}

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: make-resources FOLDER\n");
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(folder);
    bool ok = write(folder + "/HAND-M.CUR", iconFile(hand(), 2, 11, 1)) &&
              write(folder + "/drag.ico", iconFile(dragPointer(), 1, 0, 0));
    QDir().mkpath(folder + "/Samples");
    const QImage portrait = scene(900, 1200, QColor(90, 140, 210), QStringLiteral("Portrait"));
    ok = ok &&
         write(folder + "/Samples/Sample 1 - Landscape.jpg",
               jpeg(scene(1500, 1000, QColor(70, 130, 200), QStringLiteral("Landscape")), 300, 1)) &&
         write(folder + "/Samples/Sample 2 - Portrait.jpg",
               jpeg(portrait.transformed(QTransform().rotate(-90)), 200, 6)) &&
         write(folder + "/Samples/Sample 3 - Evening.jpg",
               jpeg(scene(1200, 800, QColor(200, 110, 80), QStringLiteral("Evening")), 150, 1)) &&
         write(folder + "/Samples/Sample 4 - Square.jpg",
               jpeg(scene(800, 800, QColor(120, 120, 160), QStringLiteral("Square")), 72, 1));
    return ok ? 0 : 1;
}
