// SPDX-License-Identifier: GPL-3.0-or-later
// make-document-photos FOLDER: twelve 12-megapixel photos of printed pages as a phone takes them
// (doc01.jpg ...: on wood, cloth or a dark desk, seen at 10 to 35 degrees, turned, under a lamp,
// a shadow across, blurred a little, grain, JPEG quality 80; the last two with a thumb over the
// edge and the sheet not quite flat), corners.txt (each photo's paper
// size in millimetres and its true corners: top left, top right, bottom right, bottom left), truth-NN.txt (the words each page
// carries), landscape.jpg (a photo with no sheet), and scan01.jpg, scan02.jpg (300-dpi scans
// turned 3 and -6 degrees, a dark border where the lid was).
// make-document-photos --scans FOLDER N: N colour scans of A4 pages of print at 300 dpi as a
// flatbed gives them (text-NN.jpg, JPEG quality 90) and N of pages with a colour photo in their
// lower third (mixed-NN.jpg), with the words each carries (text-NN.txt, mixed-NN.txt).
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <cstdio>
#include <cstdlib>

#include "tests/support/documentphoto.h"

using namespace pictolio::testing;

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc == 4 && QByteArray(argv[1]) == "--scans") {
        const QString folder = QString::fromLocal8Bit(argv[2]);
        QDir().mkpath(folder);
        for (int i = 1; i <= std::atoi(argv[3]); ++i)
            for (const bool photo : {false, true}) {
                QStringList lines;
                const QImage page = documentPage({210, 297}, 300, &lines, std::uint32_t(200 + i), photo);
                QImage scan = flatbedScan(page, std::uint32_t(i));
                scan.setDotsPerMeterX(11811), scan.setDotsPerMeterY(11811);
                const QString name = QStringLiteral("%1/%2-%3").arg(folder, photo ? "mixed" : "text").arg(i, 2, 10, QLatin1Char('0'));
                if (!scan.save(name + ".jpg", "JPEG", 90)) return 1;
                QFile truth(name + ".txt");
                if (truth.open(QIODevice::WriteOnly)) truth.write(lines.join('\n').toUtf8() + "\n");
            }
        return 0;
    }
    if (argc != 2) {
        std::fprintf(stderr, "usage: make-document-photos FOLDER\n");
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(folder);
    QFile corners(folder + "/corners.txt");
    if (!corners.open(QIODevice::WriteOnly)) return 1;
    const struct {
        Surface surface;
        double tilt, turn;
        QSizeF paper;
        bool thumb = false;
        double curl = 0;
    } shots[] = {{Surface::Wood, 10, 2, {210, 297}},      {Surface::Wood, 25, -6, {210, 297}},
                 {Surface::Cloth, 35, 4, {210, 297}},     {Surface::DarkDesk, 20, 12, {215.9, 279.4}},
                 {Surface::Wood, 30, -15, {215.9, 279.4}}, {Surface::Cloth, 15, 25, {210, 297}},
                 {Surface::DarkDesk, 35, -3, {210, 297}},  {Surface::Wood, 20, 8, {148, 210}},
                 {Surface::Cloth, 28, -10, {215.9, 355.6}}, {Surface::DarkDesk, 12, 0, {210, 297}},
                 {Surface::Wood, 22, 3, {210, 297}, true, 6},  {Surface::Cloth, 18, -4, {215.9, 279.4}, true, 10}};
    int n = 0;
    for (const auto& shot : shots) {
        ++n;
        PhotoSetup setup;
        setup.surface = shot.surface, setup.tilt = shot.tilt, setup.turn = shot.turn, setup.paperMm = shot.paper;
        setup.seed = std::uint32_t(n);
        setup.thumb = shot.thumb, setup.curl = shot.curl;
        setup.pageDpi = 250;
        const DocumentPhoto photo = documentPhoto(setup);
        const QString name = QStringLiteral("doc%1.jpg").arg(n, 2, 10, QLatin1Char('0'));
        photo.photo.save(folder + "/" + name, "JPEG", 80);
        QStringList line{name, QString::number(shot.paper.width()), QString::number(shot.paper.height())};
        for (const QPointF& p : photo.corners) line << QString::number(p.x(), 'f', 1) << QString::number(p.y(), 'f', 1);
        corners.write(line.join(' ').toUtf8() + "\n");
        QFile truth(folder + QStringLiteral("/truth-%1.txt").arg(n, 2, 10, QLatin1Char('0')));
        if (truth.open(QIODevice::WriteOnly)) truth.write(photo.lines.join('\n').toUtf8() + "\n");
    }
    landscapePhoto({4032, 3024}).save(folder + "/landscape.jpg", "JPEG", 85);
    // Scans: the page at 300 dpi, turned on the glass, the lid's dark border along two sides.
    int s = 0;
    for (const double degrees : {3.0, -6.0}) {
        QStringList lines;
        QImage scan = scanOnGlass(documentPage({210, 297}, 300, &lines, std::uint32_t(100 + s)), degrees);
        ++s;
        scan.setDotsPerMeterX(11811), scan.setDotsPerMeterY(11811);
        scan.save(folder + QStringLiteral("/scan%1.jpg").arg(s, 2, 10, QLatin1Char('0')), "JPEG", 85);
        QFile truth(folder + QStringLiteral("/truth-scan%1.txt").arg(s, 2, 10, QLatin1Char('0')));
        if (truth.open(QIODevice::WriteOnly)) truth.write(lines.join('\n').toUtf8() + "\n");
    }
    return 0;
}
