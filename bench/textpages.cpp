// SPDX-License-Identifier: GPL-3.0-or-later
// make-text-pages FOLDER COUNT: A4 pages of printed text as a 300-dpi scanner saves them (grey
// JPEG, a slightly uneven paper tone), and truth.txt, the text they carry, for measuring text
// recognition against.
#include <QDir>
#include <QFile>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QStringList>
#include <cstdio>

namespace {

const char* const words[] = {
    "the", "letter", "invoice", "account", "payment", "received", "number", "office", "meeting", "report",
    "quarterly", "customer", "service", "delivery", "address", "please", "contact", "should", "would",
    "between", "because", "insurance", "agreement", "following", "question", "answer", "company",
    "department", "schedule", "tomorrow", "morning", "evening", "library", "building", "council",
    "window", "garden", "kitchen", "history", "science", "market", "village", "country", "station"};

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: make-text-pages FOLDER COUNT\n");
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
        font.setPixelSize(46);  // 11 points at 300 dpi
        painter.setFont(font);
        painter.setPen(QColor(30, 30, 30));
        QStringList lines;
        for (int line = 0; line < 50; ++line) {
            QStringList text;
            for (int w = 0; w < 11; ++w) text << QString::fromLatin1(words[next() % (sizeof words / sizeof *words)]);
            if (line % 5 == 0) text[0][0] = text[0][0].toUpper();
            lines << text.join(' ');
            painter.drawText(QPointF(250, 300 + line * 60), lines.back());
        }
        painter.end();
        truth.write(lines.join('\n').toUtf8() + "\n\f");
        image.save(QStringLiteral("%1/page%2.jpg").arg(folder).arg(page, 3, 10, QLatin1Char('0')), "JPEG", 85);
    }
    return 0;
}
