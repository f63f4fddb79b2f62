// SPDX-License-Identifier: GPL-3.0-or-later
#include "pictures/thumbnails.h"

#include <sys/stat.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QSaveFile>
#include <QStandardPaths>
#include <QThread>
#include <QUrl>

#include "pictures/picture.h"
#include "pictures/picturereaders.h"

namespace pictolio {

namespace {

// The file's modification time in whole seconds, as the standard keys thumbnails by; -1 when
// there is no such file.
qint64 mtimeOf(const QString& path) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0) return -1;
    return qint64(st.st_mtim.tv_sec);
}

quint32 read32(const uchar* p, bool little) {
    return little ? quint32(p[0]) | quint32(p[1]) << 8 | quint32(p[2]) << 16 | quint32(p[3]) << 24
                  : quint32(p[3]) | quint32(p[2]) << 8 | quint32(p[1]) << 16 | quint32(p[0]) << 24;
}
quint16 read16(const uchar* p, bool little) {
    return little ? quint16(p[0] | p[1] << 8) : quint16(p[1] | p[0] << 8);
}

// The JPEG thumbnail a camera put in the EXIF data (IFD1), from the start of the file.
QByteArray exifThumbnail(const QByteArray& head) {
    const auto* d = reinterpret_cast<const uchar*>(head.constData());
    const qsizetype n = head.size();
    if (n < 4 || d[0] != 0xFF || d[1] != 0xD8) return {};
    qsizetype at = 2;
    while (at + 4 <= n && d[at] == 0xFF) {
        const int marker = d[at + 1];
        const qsizetype length = qsizetype(d[at + 2]) << 8 | d[at + 3];
        if (marker == 0xDA || length < 2) return {};
        if (marker == 0xE1 && at + 4 + length - 2 <= n && length >= 16 &&
            std::memcmp(d + at + 4, "Exif\0\0", 6) == 0) {
            const uchar* tiff = d + at + 10;
            const qsizetype size = length - 8;
            if (size < 8) return {};
            const bool little = tiff[0] == 'I';
            const auto inside = [&](quint64 offset, quint64 bytes) { return offset + bytes <= quint64(size); };
            quint32 ifd = read32(tiff + 4, little);
            if (!inside(ifd, 2)) return {};
            const quint16 entries = read16(tiff + ifd, little);
            const quint64 next = quint64(ifd) + 2 + quint64(entries) * 12;
            if (!inside(next, 4)) return {};
            ifd = read32(tiff + next, little);  // IFD1: the thumbnail's
            if (ifd == 0 || !inside(ifd, 2)) return {};
            const quint16 count = read16(tiff + ifd, little);
            quint32 offset = 0, bytes = 0;
            for (quint16 i = 0; i < count; ++i) {
                const quint64 e = quint64(ifd) + 2 + quint64(i) * 12;
                if (!inside(e, 12)) return {};
                const quint16 tag = read16(tiff + e, little);
                if (tag == 0x0201) offset = read32(tiff + e + 8, little);
                if (tag == 0x0202) bytes = read32(tiff + e + 8, little);
            }
            if (bytes == 0 || !inside(offset, bytes)) return {};
            return QByteArray(reinterpret_cast<const char*>(tiff + offset), bytes);
        }
        at += 2 + length;
    }
    return {};
}

// Turns an image stored as the EXIF orientation says into its upright form.
QImage upright(const QImage& image, QImageIOHandler::Transformations t) {
    QImage out = image;
    if (t & QImageIOHandler::TransformationRotate90) out = out.transformed(QTransform().rotate(90));
    const bool h = t & QImageIOHandler::TransformationMirror, v = t & QImageIOHandler::TransformationFlip;
    if (h || v) out = out.mirrored(h, v);
    return out;
}

}  // namespace

QImage readShown(const QString& path, QSize box) {
    const readers::ReadingFile reading(path);
    QImageReader reader(path);
    reader.setAutoTransform(true);
    QImage image;
    if (reader.canRead()) {
        const QSize stored = reader.size();
        if (box.isValid() && stored.isValid() && (stored.width() > box.width() || stored.height() > box.height()))
            reader.setScaledSize(stored.scaled(box, Qt::KeepAspectRatio));
        image = reader.read();
    } else {
        image = readers::decodeHeifFile(path);
    }
    if (!image.isNull() && box.isValid() && (image.width() > box.width() || image.height() > box.height()))
        image = image.scaled(box, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    return image;
}

QString ThumbnailCache::defaultRoot() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) + QStringLiteral("/thumbnails");
}

ThumbnailCache::ThumbnailCache(QString root) : m_root(std::move(root)) {}

QString ThumbnailCache::uriOf(const QString& path) {
    return QString::fromLatin1(QUrl::fromLocalFile(path).toEncoded());
}

QString ThumbnailCache::fileFor(const QString& path, Size size) const {
    const QByteArray md5 = QCryptographicHash::hash(uriOf(path).toUtf8(), QCryptographicHash::Md5).toHex();
    return m_root + (size == Size::Normal ? QStringLiteral("/normal/") : QStringLiteral("/large/")) +
           QString::fromLatin1(md5) + QStringLiteral(".png");
}

QImage ThumbnailCache::lookUp(const QString& path, Size size) const {
    const qint64 mtime = mtimeOf(path);
    if (mtime < 0) return {};
    // The keys may stand before or after the pixels: read the whole (small) file, then look.
    const QImage image(fileFor(path, size), "png");
    if (image.text(QStringLiteral("Thumb::URI")) != uriOf(path) ||
        image.text(QStringLiteral("Thumb::MTime")) != QString::number(mtime))
        return {};
    return image;
}

QImage ThumbnailCache::make(const QString& path, Size size) const {
    m_madeOn = QThread::currentThread();
    const qint64 mtime = mtimeOf(path);
    if (mtime < 0) return {};
    const int edge = int(size);
    QImageReader reader(path);
    reader.setAutoTransform(true);
    QImage thumbnail;
    // A camera's own thumbnail, when it is large enough: no need to decode the photo.
    QFile file(path);
    if (file.open(QIODevice::ReadOnly)) {
        const QImage exif = QImage::fromData(exifThumbnail(file.read(128 * 1024)), "JPEG");
        if (!exif.isNull() && std::max(exif.width(), exif.height()) >= edge)
            thumbnail = upright(exif, reader.transformation());
    }
    if (thumbnail.isNull()) thumbnail = readShown(path, QSize(edge, edge));
    if (thumbnail.isNull()) return {};
    ++m_made;
    if (std::max(thumbnail.width(), thumbnail.height()) > edge)
        thumbnail = thumbnail.scaled(edge, edge, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    thumbnail.setText(QStringLiteral("Thumb::URI"), uriOf(path));
    thumbnail.setText(QStringLiteral("Thumb::MTime"), QString::number(mtime));
    thumbnail.setText(QStringLiteral("Software"), QStringLiteral("Pictolio"));
    // Written whole under another name, then renamed, readable by the user alone.
    const QString target = fileFor(path, size);
    QDir().mkpath(QFileInfo(target).path());
    QFile::setPermissions(m_root, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QSaveFile out(target);
    if (out.open(QIODevice::WriteOnly)) {
        out.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        if (thumbnail.save(&out, "png")) out.commit();
    }
    return thumbnail;
}

Thumbnailer::Thumbnailer(const QString& cacheRoot, QObject* parent)
    : QObject(parent), m_cache(cacheRoot), m_memory(32 * 1024 * 1024) {
    m_pool.setMaxThreadCount(std::max(1, QThread::idealThreadCount()));
}

Thumbnailer::~Thumbnailer() {
    keepOnly({});
    m_pool.waitForDone();
}

PictureFacts Thumbnailer::find(const QString& path) const {
    PictureFacts facts;
    facts.path = path;
    facts.fileSize = QFileInfo(path).size();
    const Picture picture = PictureDecoder(PictureDecoder::Use::Facts).load(path);
    if (picture.isEmpty()) return facts;
    facts.valid = true;
    facts.width = picture.width;
    facts.height = picture.height;
    facts.widthInches = picture.widthHimetric / 2540.0;
    facts.heightInches = picture.heightHimetric / 2540.0;
    facts.dpi = facts.widthInches > 0 ? picture.width / facts.widthInches : 0;
    facts.thumbnail = m_cache.lookUp(path, ThumbnailCache::Size::Normal);
    if (facts.thumbnail.isNull()) facts.thumbnail = m_cache.make(path, ThumbnailCache::Size::Normal);
    if (QFile::exists(m_cache.fileFor(path, ThumbnailCache::Size::Normal)))
        facts.thumbnailFile = m_cache.fileFor(path, ThumbnailCache::Size::Normal);
    return facts;
}

const PictureFacts* Thumbnailer::facts(const QString& path) {
    if (const PictureFacts* known = m_memory.object(path)) return known;
    {
        QMutexLocker lock(&m_wantedMutex);
        if (m_wanted.contains(path)) return nullptr;  // on its way
        m_wanted.insert(path);
    }
    m_pool.start([this, path] {
        {
            QMutexLocker lock(&m_wantedMutex);
            if (!m_wanted.contains(path)) return;  // nobody waits for it any more
        }
        auto* found = new PictureFacts(find(path));
        QMetaObject::invokeMethod(this, [this, found] {
            {
                QMutexLocker lock(&m_wantedMutex);
                m_wanted.remove(found->path);
            }
            const QString done = found->path;
            m_memory.insert(done, found, int(std::max<qsizetype>(1, found->thumbnail.sizeInBytes())));
            emit ready(done);
        }, Qt::QueuedConnection);
    });
    return nullptr;
}

void Thumbnailer::keepOnly(const QStringList& paths) {
    QMutexLocker lock(&m_wantedMutex);
    const QSet<QString> keep(paths.begin(), paths.end());
    m_wanted.intersect(keep);
}

}  // namespace pictolio
