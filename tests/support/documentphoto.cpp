// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/support/documentphoto.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QRadialGradient>
#include <QTransform>
#include <cmath>

namespace pictolio::testing {

const char* const printWords[] = {
    "the", "letter", "invoice", "account", "payment", "received", "number", "office", "meeting", "report",
    "quarterly", "customer", "service", "delivery", "address", "please", "contact", "should", "would",
    "between", "because", "insurance", "agreement", "following", "question", "answer", "company",
    "department", "schedule", "tomorrow", "morning", "evening", "library", "building", "council",
    "window", "garden", "kitchen", "history", "science", "market", "village", "country", "station"};
const std::size_t printWordCount = sizeof printWords / sizeof *printWords;

namespace {

struct Random {
    std::uint32_t state;
    std::uint32_t next() {
        state ^= state << 13, state ^= state >> 17, state ^= state << 5;
        return state;
    }
    int within(int range) { return int(next() % std::uint32_t(2 * range + 1)) - range; }
};

std::uint8_t clamped(double v) { return std::uint8_t(std::clamp(v, 0.0, 255.0)); }

}  // namespace

QImage documentPage(QSizeF paperMm, double dpi, QStringList* lines, std::uint32_t seed, bool withPhoto) {
    const double px = dpi / 25.4;  // pixels a millimetre
    QImage page(int(paperMm.width() * px), int(paperMm.height() * px), QImage::Format_RGB888);
    page.fill(QColor(250, 250, 247));
    QPainter painter(&page);
    painter.setRenderHint(QPainter::Antialiasing);
    Random random{seed * 2654435761u + 1};
    const double margin = 20 * px;
    // A heading in colour.
    QFont heading(QStringLiteral("Liberation Sans"));
    heading.setBold(true);
    heading.setPixelSize(int(7 * px));
    painter.setFont(heading);
    painter.setPen(QColor(20, 60, 170));
    painter.drawText(QPointF(margin, margin + 7 * px), QStringLiteral("Quarterly Report"));
    lines->append(QStringLiteral("Quarterly Report"));
    // A table.
    QFont small(QStringLiteral("Liberation Sans"));
    small.setPixelSize(int(3.5 * px));
    painter.setFont(small);
    painter.setPen(QPen(QColor(30, 30, 30), std::max(1.0, 0.3 * px)));
    const double tableTop = margin + 14 * px, cellW = 40 * px, cellH = 7 * px;
    for (int r = 0; r < 3; ++r) {
        QStringList row;
        for (int c = 0; c < 3; ++c) {
            painter.drawRect(QRectF(margin + c * cellW, tableTop + r * cellH, cellW, cellH));
            const QString word = QString::fromLatin1(printWords[random.next() % printWordCount]);
            painter.drawText(QPointF(margin + c * cellW + 2 * px, tableTop + r * cellH + 5 * px), word);
            row << word;
        }
        lines->append(row.join(' '));
    }
    // Lines of print.
    QFont body(QStringLiteral("Liberation Serif"));
    body.setPixelSize(int(4.2 * px));  // about 12 points
    painter.setFont(body);
    painter.setPen(QColor(25, 25, 25));
    const double pitch = 6 * px;
    const double printEnds = withPhoto ? page.height() * 0.62 : page.height() - margin;
    if (withPhoto) {
        const QRectF at(margin, page.height() * 0.65, page.width() - 2 * margin, page.height() * 0.35 - margin);
        painter.drawImage(at, landscapePhoto(at.size().toSize()));
    }
    for (double y = tableTop + 3 * cellH + 12 * px; y < printEnds; y += pitch) {
        QStringList text;
        for (int w = 0; w < 9; ++w) text << QString::fromLatin1(printWords[random.next() % printWordCount]);
        painter.drawText(QPointF(margin, y), text.join(' '));
        lines->append(text.join(' '));
    }
    // A stamp in red, at a slant, over the top right.
    painter.save();
    painter.translate(page.width() - margin - 25 * px, margin + 22 * px);
    painter.rotate(-15);
    painter.setPen(QPen(QColor(200, 30, 35), 1.2 * px));
    painter.drawEllipse(QPointF(0, 0), 20 * px, 13 * px);
    QFont stamp(QStringLiteral("Liberation Sans"));
    stamp.setBold(true);
    stamp.setPixelSize(int(8 * px));
    painter.setFont(stamp);
    painter.drawText(QRectF(-20 * px, -13 * px, 40 * px, 26 * px), Qt::AlignCenter, QStringLiteral("PAID"));
    painter.restore();
    return page;
}

DocumentPhoto documentPhoto(const PhotoSetup& setup) {
    DocumentPhoto out;
    Random random{setup.seed * 747796405u + 7};
    const int w = setup.size.width(), h = setup.size.height();
    QImage photo(w, h, QImage::Format_RGB888);
    // The surface.
    for (int y = 0; y < h; ++y) {
        std::uint8_t* row = photo.scanLine(y);
        for (int x = 0; x < w; ++x) {
            double r, g, b;
            switch (setup.surface) {
            case Surface::Wood: {
                const double grain = 0.85 + 0.15 * std::sin(x * 0.02 + 3 * std::sin(y * 0.004) + std::sin(y * 0.05));
                r = 150 * grain, g = 102 * grain, b = 62 * grain;
                break;
            }
            case Surface::Cloth: {
                const double weave = ((x / 3 + y / 3) % 2) ? 10 : -10;
                r = 70 + weave, g = 88 + weave, b = 125 + weave;
                break;
            }
            case Surface::DarkDesk:
            default:
                r = 40 + 10.0 * x / w, g = 38 + 10.0 * x / w, b = 44 + 10.0 * x / w;
                break;
            }
            row[3 * x] = clamped(r), row[3 * x + 1] = clamped(g), row[3 * x + 2] = clamped(b);
        }
    }
    // The sheet, seen by a camera leaning `tilt` degrees, turned `turn` degrees on the table.
    QImage page = documentPage(setup.paperMm, setup.pageDpi, &out.lines, setup.seed);
    const double f = 0.8 * w, t = setup.tilt * M_PI / 180, a = setup.turn * M_PI / 180;
    const double sheetLong = std::max(setup.paperMm.width(), setup.paperMm.height());
    const double distance = f * sheetLong / (0.75 * h);
    const double shift = random.within(15);  // millimetres: the sheet a little off the photo's centre
    // A point of the sheet (millimetres from its centre, lifted `lift` towards the camera) on the
    // photo.
    const auto seen = [&](double px, double py, double lift) {
        const double X = px * std::cos(a) - py * std::sin(a) + shift;
        const double Y0 = px * std::sin(a) + py * std::cos(a);
        const double Y = Y0 * std::cos(t) + lift * std::sin(t), Z = Y0 * std::sin(t) - lift * std::cos(t);
        return QPointF(w / 2.0 + f * X / (distance + Z), h / 2.0 + f * Y / (distance + Z));
    };
    const double pw = setup.paperMm.width(), ph = setup.paperMm.height();
    const QPointF corners[4] = {{-pw / 2, -ph / 2}, {pw / 2, -ph / 2}, {pw / 2, ph / 2}, {-pw / 2, ph / 2}};
    for (int i = 0; i < 4; ++i) out.corners[std::size_t(i)] = seen(corners[i].x(), corners[i].y(), 0);
    {
        QPainter painter(&photo);
        painter.setRenderHints(QPainter::SmoothPixmapTransform | QPainter::Antialiasing);
        // In strips across, each flat: a sheet that bulges is drawn as many that lean.
        const int strips = setup.curl > 0 ? 24 : 1;
        for (int k = 0; k < strips; ++k) {
            const double u0 = double(k) / strips, u1 = double(k + 1) / strips;
            const double z0 = setup.curl * std::sin(M_PI * u0), z1 = setup.curl * std::sin(M_PI * u1);
            const QPolygonF quad({seen(-pw / 2 + u0 * pw, -ph / 2, z0), seen(-pw / 2 + u1 * pw, -ph / 2, z1),
                                  seen(-pw / 2 + u1 * pw, ph / 2, z1), seen(-pw / 2 + u0 * pw, ph / 2, z0)});
            const int x0 = int(u0 * page.width()), x1 = k + 1 == strips ? page.width() : int(u1 * page.width()) + 1;
            QTransform toQuad;
            QTransform::quadToQuad(QPolygonF(QRectF(0, 0, x1 - x0, page.height())).mid(0, 4), quad, toQuad);
            painter.setTransform(toQuad);
            painter.drawImage(QPointF(0, 0), page, QRectF(x0, 0, x1 - x0, page.height()));
        }
        painter.resetTransform();
        if (setup.thumb) {
            // A thumb from below, over the bottom edge a third of the way along.
            const QPointF at = seen(-pw / 6, ph / 2, 0);
            painter.setPen(Qt::NoPen);
            painter.setBrush(QColor(205, 150, 120));
            painter.drawEllipse(QRectF(at.x() - w * 0.03, at.y() - h * 0.03, w * 0.06, h * 0.2));
        }
        painter.resetTransform();
        painter.setCompositionMode(QPainter::CompositionMode_Multiply);
        if (setup.lamp) {
            QRadialGradient light(QPointF(w * 0.2, h * 0.1), std::hypot(w, h));
            light.setColorAt(0, QColor(255, 252, 245));
            light.setColorAt(1, QColor(150, 148, 145));
            painter.fillRect(photo.rect(), light);
        }
        if (setup.shadow) {
            // A soft shadow across, as a hand or the phone casts it.
            QImage shade(w / 8, h / 8, QImage::Format_RGB888);
            shade.fill(Qt::white);
            QPainter sp(&shade);
            sp.setRenderHint(QPainter::Antialiasing);
            sp.setPen(Qt::NoPen);
            sp.setBrush(QColor(165, 165, 172));
            sp.drawPolygon(QPolygonF({QPointF(shade.width() * 0.55, 0), QPointF(shade.width() * 0.75, 0),
                                      QPointF(shade.width() * 0.5, shade.height()), QPointF(shade.width() * 0.3, shade.height())}));
            sp.end();
            shade = shade.scaled(shade.width() / 4, shade.height() / 4, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                        .scaled(w, h, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
            painter.drawImage(0, 0, shade);
        }
    }
    if (setup.blur > 0) {
        const double k = 1 + setup.blur;
        photo = photo.scaled(int(w / k), int(h / k), Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                    .scaled(w, h, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    }
    if (setup.grain > 0)
        for (int y = 0; y < h; ++y) {
            std::uint8_t* row = photo.scanLine(y);
            for (int x = 0; x < 3 * w; ++x) row[x] = clamped(row[x] + random.within(setup.grain));
        }
    out.photo = photo.convertToFormat(QImage::Format_RGB888);
    return out;
}

QImage scanOnGlass(const QImage& page, double degrees) {
    QImage scan(page.size(), QImage::Format_RGB888);
    scan.fill(QColor(244, 244, 242));
    QPainter painter(&scan);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.translate(scan.width() / 2.0, scan.height() / 2.0);
    painter.rotate(degrees);
    painter.translate(-scan.width() / 2.0, -scan.height() / 2.0);
    painter.drawImage(0, 0, page);
    painter.resetTransform();
    painter.fillRect(0, 0, scan.width(), scan.width() / 41, QColor(25, 25, 25));
    painter.fillRect(0, 0, scan.width() / 50, scan.height(), QColor(25, 25, 25));
    return scan;
}

QImage flatbedScan(const QImage& page, std::uint32_t seed) {
    QImage soft = page.convertToFormat(QImage::Format_RGB888);
    QImage scan(soft.size(), QImage::Format_RGB888);
    Random random{seed * 2891336453u + 11};
    const int w = soft.width(), h = soft.height();
    for (int y = 0; y < h; ++y) {
        const std::uint8_t* above = soft.constScanLine(std::max(0, y - 1));
        const std::uint8_t* row = soft.constScanLine(y);
        const std::uint8_t* below = soft.constScanLine(std::min(h - 1, y + 1));
        std::uint8_t* out = scan.scanLine(y);
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c) {
                const int l = 3 * std::max(0, x - 1) + c, m = 3 * x + c, r = 3 * std::min(w - 1, x + 1) + c;
                const double v = (4.0 * row[m] + row[l] + row[r] + above[m] + below[m]) / 8;
                out[m] = clamped(v + random.within(4));
            }
    }
    return scan;
}

QImage landscapePhoto(QSize size) {
    const int w = size.width(), h = size.height();
    QImage photo(w, h, QImage::Format_RGB888);
    QPainter painter(&photo);
    QLinearGradient sky(0, 0, 0, h * 0.6);
    sky.setColorAt(0, QColor(90, 150, 225));
    sky.setColorAt(1, QColor(200, 220, 245));
    painter.fillRect(photo.rect(), sky);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(255, 240, 170));
    painter.drawEllipse(QPointF(w * 0.75, h * 0.2), h * 0.07, h * 0.07);
    QPainterPath hills;
    hills.moveTo(0, h);
    for (int x = 0; x <= w; x += 8) hills.lineTo(x, h * (0.55 + 0.08 * std::sin(x * 6.0 / w) + 0.04 * std::sin(x * 17.0 / w)));
    hills.lineTo(w, h);
    painter.setBrush(QColor(60, 125, 55));
    painter.drawPath(hills);
    return photo;
}

}  // namespace pictolio::testing
