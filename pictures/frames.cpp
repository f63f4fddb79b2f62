// SPDX-License-Identifier: GPL-3.0-or-later
// The frames of an animated picture (GIF, WebP), each a page: composed as the animation shows
// it by Qt's readers, which draw every frame over the ones before it.

#include <QImageReader>

#include "pictures/picturereaders.h"

namespace pictolio::readers {

namespace {

// The most frames of one animation taken as pages, and the most pixels of them all.
constexpr int maxFrames = 1000;
constexpr std::uint64_t maxFramePixels = 1'000'000'000;

// Frame `index` (from 0) of an animated picture, decoded again when its page is written: the
// frames before it are read first, since each is drawn over the last.
class FrameImage : public DecodedImage {
public:
    FrameImage(QString path, imaging::FileIdentity identity, int width, int height, bool gray,
               bool alpha, int index)
        : DecodedImage(std::move(path), identity, width, height, gray, alpha), m_index(index) {}

protected:
    QImage decode() const override {
        QImageReader reader(path());
        reader.setAutoTransform(true);
        QImage image;
        for (int i = 0; i <= m_index; ++i) {
            image = reader.read();
            if (image.isNull()) return {};
        }
        return image;
    }

private:
    int m_index;
};

}  // namespace

std::optional<Failure> addFrames(Picture& picture, const QString& path, const imaging::FileIdentity& identity) {
    QImageReader reader(path);
    reader.setAutoTransform(true);
    if (!reader.supportsAnimation()) return {};
    const int count = reader.imageCount();  // counted from the file's blocks, no frame decoded
    if (count == 1) return {};
    // Each frame is a page of the animation's whole size, however little of it the frame
    // changes: a few bytes a frame could otherwise ask for hours of work. Too many are refused
    // before any is decoded.
    std::uint64_t pixels = std::uint64_t(picture.width) * std::uint64_t(picture.height);
    const auto tooLarge = [&](qint64 frames) {
        return Failure{QStringLiteral("too large: its %1 frames come to more than %2 pages or %3 pixels in all")
                           .arg(frames > 0 ? byteCount(frames) : QStringLiteral("many"))
                           .arg(maxFrames)
                           .arg(byteCount(qint64(maxFramePixels)))};
    };
    if (count > maxFrames || (count > 0 && pixels * std::uint64_t(count) > maxFramePixels)) return tooLarge(count);
    if (reader.read().isNull()) return {};
    // Every frame has the first one's density and orientation.
    const PicturePage first = picture.page(0);
    const bool turned = first.orientation >= 5;
    const double storedWidth = turned ? first.height : first.width;
    const double storedHeight = turned ? first.width : first.height;
    const double xDpi =
        storedWidth / (turned ? first.heightHimetric : first.widthHimetric) * himetricPerInch;
    const double yDpi =
        storedHeight / (turned ? first.widthHimetric : first.heightHimetric) * himetricPerInch;
    for (int index = 1;; ++index) {
        const QImage frame = reader.read();
        if (frame.isNull()) break;
        pixels += std::uint64_t(frame.width()) * std::uint64_t(frame.height());
        if (index >= maxFrames || pixels > maxFramePixels) return tooLarge(count > index ? count : 0);
        const auto source =
            std::make_shared<FrameImage>(path, identity, frame.width(), frame.height(),
                                         frame.isGrayscale(), hasTransparency(frame), index);
        source->keep(frame);
        picture.morePages.push_back(
            pageOf(frame.width(), frame.height(), xDpi, yDpi, first.orientation, source));
    }
    return {};
}

}  // namespace pictolio::readers
