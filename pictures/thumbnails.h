// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QCache>
#include <QImage>
#include <QMutex>
#include <QObject>
#include <QSet>
#include <QThreadPool>
#include <atomic>

namespace pictolio {

// What a picture is, as a tooltip tells it: its thumbnail (upright), its pixels and density, the
// file's size. valid false for a file that is not a picture.
struct PictureFacts {
    QString path;
    bool valid = false;
    QImage thumbnail;
    QString thumbnailFile;  // the thumbnail in the desktop's cache, "" when it could not be saved
    int width = 0, height = 0;        // pixels, upright
    double widthInches = 0, heightInches = 0;
    double dpi = 0;
    qint64 fileSize = 0;
};

// The desktop's thumbnail cache (freedesktop's Thumbnail Managing Standard): thumbnails that file
// managers made are used, and the ones made here serve them. A thumbnail counts only while the
// file keeps the modification time it was made from.
// The picture in the file, upright, no larger than box (when it is valid): what previews and
// thumbnails show. Qt's readers where they take the file (JPEG files are decoded at a fraction of
// their size), libheif for HEIF files (HEIC, AVIF); a null image for anything else.
QImage readShown(const QString& path, QSize box = {});

class ThumbnailCache {
public:
    enum class Size { Normal = 128, Large = 256 };
    // "$XDG_CACHE_HOME/thumbnails", or "~/.cache/thumbnails".
    static QString defaultRoot();
    explicit ThumbnailCache(QString root = defaultRoot());

    static QString uriOf(const QString& path);
    QString fileFor(const QString& path, Size size) const;
    // The cached thumbnail, when there is one for the file as it is now.
    QImage lookUp(const QString& path, Size size) const;
    // Makes the thumbnail (from the picture's EXIF thumbnail when that is large enough, else by a
    // scaled decode) and stores it; a null image for a file that is not a picture.
    QImage make(const QString& path, Size size) const;
    // How many thumbnails make() has decoded, not taken from the cache (for tests).
    int made() const { return m_made.load(); }
    // The thread the last thumbnail was made on (for tests).
    QThread* lastMadeOn() const { return m_madeOn.load(); }

private:
    QString m_root;
    mutable std::atomic<int> m_made{0};
    mutable std::atomic<QThread*> m_madeOn{nullptr};
};

// Finds pictures' facts and thumbnails on a pool of threads (at most one per processor), never
// on the caller's; keeps the latest ones in memory; drops requests nobody waits for any more.
class Thumbnailer : public QObject {
    Q_OBJECT
public:
    explicit Thumbnailer(const QString& cacheRoot = ThumbnailCache::defaultRoot(), QObject* parent = nullptr);
    ~Thumbnailer() override;

    // The facts if known (from memory), else nullptr and a request: ready() follows.
    const PictureFacts* facts(const QString& path);
    // Only these are still wanted: queued work for the others is dropped.
    void keepOnly(const QStringList& paths);

    ThumbnailCache& cache() { return m_cache; }
    void waitForDone() { m_pool.waitForDone(); }

signals:
    void ready(const QString& path);

private:
    PictureFacts find(const QString& path) const;

    ThumbnailCache m_cache;
    QThreadPool m_pool;
    QCache<QString, PictureFacts> m_memory;  // cost: bytes of the thumbnail
    QMutex m_wantedMutex;
    QSet<QString> m_wanted;  // requested and not yet done
};

}  // namespace pictolio
