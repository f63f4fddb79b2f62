// SPDX-License-Identifier: GPL-3.0-or-later
// make-corpus FOLDER COUNT: photo-like 12-megapixel JPEGs at quality 90, a few odd ones
// (progressive, grey, CMYK, a portrait phone photo, arithmetic-coded), and pictures at the sizes
// people have (a phone photo at 72 dpi, a 9000-pixel panorama, an A4 page scanned at 600 dpi).
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <cmath>
#include <cstdio>

#include "tests/support/testpictures.h"

using pictolio::testing::JpegRecipe;

namespace {

// Soft shapes, gradients and sensor-like noise: compresses like a photograph does.
QImage photo(int width, int height, unsigned seed, const QString& label) {
    QImage image(width, height, QImage::Format_RGB888);
    std::uint32_t state = seed * 2654435761u + 1;
    const auto noise = [&state] {
        state ^= state << 13, state ^= state >> 17, state ^= state << 5;
        return int(state % 17) - 8;
    };
    const double cx = width * (0.3 + 0.4 * ((seed * 37) % 100) / 100.0), cy = height * 0.45;
    for (int y = 0; y < height; ++y) {
        uchar* row = image.scanLine(y);
        for (int x = 0; x < width; ++x) {
            const double d = std::hypot(x - cx, y - cy) / width;
            const int sky = int(120 + 100 * double(y) / height);
            const int r = int(60 + 140 * std::exp(-d * 6)) + noise();
            const int g = int(sky * 0.8 + 30 * std::sin(x / 97.0)) + noise();
            const int b = int(200 - 90 * double(y) / height + 20 * std::cos(y / 61.0)) + noise();
            row[3 * x] = uchar(std::clamp(r, 0, 255));
            row[3 * x + 1] = uchar(std::clamp(g, 0, 255));
            row[3 * x + 2] = uchar(std::clamp(b, 0, 255));
        }
    }
    QPainter painter(&image);
    painter.setPen(Qt::white);
    QFont font;
    font.setPixelSize(height / 8);
    font.setBold(true);
    painter.setFont(font);
    painter.drawText(QRect(0, 0, width, height / 4), Qt::AlignCenter, label);
    return image;
}

bool save(const QString& path, const JpegRecipe& recipe, const QImage& image) {
    std::vector<unsigned char> rgb(std::size_t(image.width()) * image.height() * 3);
    for (int y = 0; y < image.height(); ++y)
        std::memcpy(rgb.data() + std::size_t(y) * image.width() * 3, image.constScanLine(y),
                    std::size_t(image.width()) * 3);
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(pictolio::testing::makeJpegFromRgb(recipe, rgb.data())) > 0;
}

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: make-corpus FOLDER COUNT\n");
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    const int count = std::atoi(argv[2]);
    QDir().mkpath(folder + "/photos");
    QDir().mkpath(folder + "/odd");
    for (int i = 0; i < count; ++i) {
        const QString path = folder + QStringLiteral("/photos/photo-%1.jpg").arg(i + 1, 3, 10, QLatin1Char('0'));
        if (QFile::exists(path)) continue;  // made by an earlier run
        JpegRecipe recipe{.width = 4000, .height = 3000, .quality = 90, .densityUnit = 1, .xDensity = 300, .yDensity = 300};
        if (!save(path, recipe, photo(4000, 3000, unsigned(i), QStringLiteral("Photo %1").arg(i + 1)))) return 1;
    }
    const QImage small = photo(1600, 1200, 99, QStringLiteral("TOP"));
    const struct {
        const char* name;
        JpegRecipe recipe;
        QImage image;
    } odd[] = {
        {"progressive.jpg", {.width = 1600, .height = 1200, .progressive = true}, small},
        {"grey.jpg", {.width = 1600, .height = 1200, .kind = JpegRecipe::Kind::Gray}, small},
        {"cmyk.jpg", {.width = 1600, .height = 1200, .kind = JpegRecipe::Kind::AdobeCmyk}, small},
        {"rgb-no-app14.jpg", {.width = 1600, .height = 1200, .kind = JpegRecipe::Kind::Rgb}, small},
        {"arithmetic.jpg", {.width = 1600, .height = 1200, .arithmetic = true}, small},
        // Stored as a camera held upright stores it: turned, with orientation 6 to undo it.
        {"portrait-exif6.jpg",
         {.width = 1200, .height = 1600, .exif = true, .orientation = 6},
         small.transformed(QTransform().rotate(-90))},
    };
    for (const auto& o : odd)
        if (!save(folder + "/odd/" + o.name, o.recipe, o.image)) return 1;

    QDir().mkpath(folder + "/large");
    const struct {
        const char* name;
        int width, height, dpi;
    } large[] = {
        {"phone-4032x3024-72dpi", 4032, 3024, 72},
        {"panorama-9000x3000", 9000, 3000, 300},
        {"scan-a4-600dpi", 4960, 7016, 600},
    };
    for (const auto& l : large) {
        const QImage image = photo(l.width, l.height, 7, QString::fromLatin1(l.name));
        const JpegRecipe recipe{.width = l.width, .height = l.height, .densityUnit = 1, .xDensity = l.dpi, .yDensity = l.dpi};
        if (!save(folder + "/large/" + l.name + ".jpg", recipe, image)) return 1;
        // The same as PNG and WebP (lossy), as a phone or the web saves them.
        QImage png = image;
        png.setDotsPerMeterX(int(l.dpi / 0.0254 + 0.5));
        png.setDotsPerMeterY(int(l.dpi / 0.0254 + 0.5));
        if (!png.save(folder + "/large/" + l.name + ".png")) return 1;
        if (!image.save(folder + "/large/" + l.name + ".webp", "webp", 80)) return 1;
    }
    return 0;
}
