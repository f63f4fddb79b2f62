// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/cursors.h"

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QPixmap>

namespace pictolio {

std::optional<QCursor> loadCursorFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    QByteArray data = file.read(1 << 20);
    // ICONDIR: reserved 0, type (1 icon, 2 cursor), count; then 16-byte entries.
    if (data.size() < 22) return std::nullopt;
    const auto u16 = [&](int at) { return int(uchar(data[at])) | (int(uchar(data[at + 1])) << 8); };
    const int type = u16(2);
    if (u16(0) != 0 || (type != 1 && type != 2) || u16(4) < 1) return std::nullopt;
    int hotX = -1, hotY = -1;
    if (type == 2) {
        hotX = u16(6 + 4);
        hotY = u16(6 + 6);
        // Qt reads cursor files through its icon reader: present the data as an icon.
        data[2] = 1;
    }
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "ico");
    const QImage image = reader.read();
    if (image.isNull()) return std::nullopt;
    if (hotX < 0 || hotX >= image.width()) hotX = image.width() / 2;
    if (hotY < 0 || hotY >= image.height()) hotY = image.height() / 2;
    return QCursor(QPixmap::fromImage(image), hotX, hotY);
}

}  // namespace pictolio
