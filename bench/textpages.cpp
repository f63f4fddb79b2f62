// SPDX-License-Identifier: GPL-3.0-or-later
// make-text-pages FOLDER COUNT [POINTS [DPI]]: A4 pages of printed text (11 points unless told)
// as a 300-dpi scanner saves them (grey JPEG, a slightly uneven paper tone), stating DPI (300
// unless told; 0: no density, as phones and many scanners write them), and truth.txt, the text
// they carry, for measuring text recognition against.
#include <QDir>
#include <QFile>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QStringList>
#include <cstdio>

#include "tests/support/documentphoto.h"

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc < 3 || argc > 5) {
        std::fprintf(stderr, "usage: make-text-pages FOLDER COUNT [POINTS [DPI]]\n");
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(folder);
    QFile truth(folder + "/truth.txt");
    if (!truth.open(QIODevice::WriteOnly)) return 1;
    std::uint32_t state = 12345;
    const auto next = [&state] {
        state ^= state << 13, state ^= state >> 17, state ^= state << 5;
        return state;
    };
    for (int page = 1; page <= atoi(argv[2]); ++page) {
        QImage image(2480, 3508, QImage::Format_Grayscale8);
        image.fill(238);
        QPainter painter(&image);
        QFont font(QStringLiteral("Liberation Serif"));
        const double points = argc > 3 ? atof(argv[3]) : 11;
        font.setPixelSize(int(points * 300 / 72 + 0.5));
        painter.setFont(font);
        painter.setPen(QColor(30, 30, 30));
        QStringList lines;
        for (int line = 0; line < int(3000 / (points * 300 / 72 * 1.3)); ++line) {
            QStringList text;
            for (int w = 0; w < 11; ++w) text << QString::fromLatin1(pictolio::testing::printWords[next() % pictolio::testing::printWordCount]);
            if (line % 5 == 0) text[0][0] = text[0][0].toUpper();
            lines << text.join(' ');
            painter.drawText(QPointF(250, 300 + line * points * 300 / 72 * 1.3), lines.back());
        }
        painter.end();
        const int dpi = argc > 4 ? atoi(argv[4]) : 300;
        image.setDotsPerMeterX(int(dpi / 0.0254 + 0.5));
        image.setDotsPerMeterY(int(dpi / 0.0254 + 0.5));
        truth.write(lines.join('\n').toUtf8() + "\n\f");
        image.save(QStringLiteral("%1/page%2.jpg").arg(folder).arg(page, 3, 10, QLatin1Char('0')), "JPEG", 85);
    }
    return 0;
}
