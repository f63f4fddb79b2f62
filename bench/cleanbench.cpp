// SPDX-License-Identifier: GPL-3.0-or-later
// clean-bench FOLDER: each photo of make-document-photos made a clean page, as --document does:
// the processor time it takes, how far the corners found are from the true ones (per cent of
// the photo's diagonal), the page's proportions against its paper's, the paper's median grey
// and the print's (the median of the pixels darker than the middle grey), how it was stored; the page
// itself as clean-NAME.png, for looking at.
#include <QCoreApplication>
#include <QFile>
#include <QImage>
#include <QTextStream>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>

#include "cleaning/page.h"
#include "pictures/picture.h"

using namespace cleaning;

namespace {

double processorSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: clean-bench FOLDER\n");
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    QFile cornerFile(folder + "/corners.txt");
    if (!cornerFile.open(QIODevice::ReadOnly)) return 1;
    QStringList names;
    QHash<QString, Corners> truth;
    QHash<QString, double> trueProportions;
    for (const QString& line : QString::fromUtf8(cornerFile.readAll()).split('\n', Qt::SkipEmptyParts)) {
        const QStringList f = line.split(' ');
        Corners c;
        for (std::size_t i = 0; i < 4; ++i) c[i] = {f[int(3 + 2 * i)].toDouble(), f[int(4 + 2 * i)].toDouble()};
        truth.insert(f[0], c);
        trueProportions.insert(f[0], f[1].toDouble() / f[2].toDouble());
        names << f[0];
    }
    names << "landscape.jpg" << "scan01.jpg" << "scan02.jpg";
    std::printf("| photo | processor s | corners off, %% of diagonal | proportions off | paper | paper grey | print grey | stored |\n");
    std::printf("|---|---|---|---|---|---|---|---|\n");
    const pictolio::PictureDecoder decoder;
    for (const QString& name : names) {
        const pictolio::Picture picture = decoder.load(folder + "/" + name);
        if (picture.isEmpty()) {
            std::printf("| %s | not a picture |\n", qPrintable(name));
            continue;
        }
        const double start = processorSeconds();
        const pictolio::Outcome<CleanedPage> page = cleanPhoto(*picture.image, {});
        const double seconds = processorSeconds() - start;
        if (!page) {
            std::printf("| %s | %.2f | %s |\n", qPrintable(name), seconds, qPrintable(page.reason()));
            continue;
        }
        QString cornersOff = "-", proportionsOff = "-";
        if (truth.contains(name)) {
            const RgbImage pixels = rgbPixels(*picture.image);
            const RgbImage small = shrunk(pixels, 800);
            if (const std::optional<Corners> found = findSheet(small)) {
                const double sx = double(pixels.width) / small.width, sy = double(pixels.height) / small.height;
                Corners full = *found;
                for (Point& p : full) p.x *= sx, p.y *= sy;
                full = sharpened(pixels, full, 3 * std::max(sx, sy));
                double worst = 0;
                for (const Point& p : full) {
                    double nearest = 1e300;
                    for (const Point& t : truth[name]) nearest = std::min(nearest, std::hypot(p.x - t.x, p.y - t.y));
                    worst = std::max(worst, nearest);
                }
                cornersOff = QString::number(100 * worst / std::hypot(pixels.width, pixels.height), 'f', 2);
                double measured = sheetProportions(full, pixels.width / 2.0, pixels.height / 2.0);
                if (measured > 1) measured = 1 / measured;
                proportionsOff = QString::number(100 * (measured / trueProportions[name] - 1), 'f', 2) + " %";
            }
        }
        const imaging::GreyImage grey = page->image->grey(1);
        std::vector<std::uint8_t> all = grey.pixels;
        std::sort(all.begin(), all.end());
        const std::uint8_t paperGrey = all[all.size() / 2];
        const std::size_t dark = std::size_t(std::lower_bound(all.begin(), all.end(), std::uint8_t(128)) - all.begin());
        const std::uint8_t printGrey = all[dark / 2];
        const imaging::ImageFormat f = page->image->format();

        const char* stored = page->stored == Colours::Colour ? "colour JPEG" : page->stored == Colours::Grey ? "grey JPEG" : "black and white, G4";
        std::size_t bytes = 0;
        page->image->writeData([&](const std::uint8_t*, std::size_t n) { bytes += n; });
        std::printf("| %s | %.2f | %s | %s | %s %dx%d, %.0fx%.0f mm | %d | %d | %s, %zu KB |\n", qPrintable(name), seconds,
                    qPrintable(cornersOff), qPrintable(proportionsOff), page->paper.c_str(), f.width, f.height, page->widthMm, page->heightMm,
                    paperGrey, printGrey, stored, bytes / 1024);
        QImage shown(grey.pixels.data(), grey.width, grey.height, grey.width, QImage::Format_Grayscale8);
        shown.save(folder + "/clean-" + QString(name).replace(".jpg", ".png"));
    }
    return 0;
}
