#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QImage>
#include <QImageReader>
#include <atomic>
#include <cerrno>
#include <vector>
#include <stdexcept>

#include "pdfwriter/jpegfile.h"
#include "platform/picture.h"

namespace pictolio {

namespace {

std::atomic<quint64> nextHandle{1};

constexpr double himetricPerInch = 2540.0;
constexpr off_t maxFileSize = off_t(2) << 30;

// Reads the picture into an image made and cleared beforehand. Some readers report success yet
// leave part of the image unwritten (BMP cut short, or RLE data that ends or skips early); the
// image they were handed keeps its clear colour there, never old memory. Unwritten parts show
// the paper: transparent where the image has transparency, white elsewhere; in a palette image
// they hold an index past the picture's palette, which is made white.
QImage readCleared(QImageReader& reader) {
    const QSize size = reader.size();
    const QImage::Format format = reader.imageFormat();
    QImage image;
    if (size.isValid() && !size.isEmpty() && format != QImage::Format_Invalid) {
        // Qt's own limit on one picture's memory, which it would apply to an image it made.
        const qint64 rowBytes =
            (qint64(size.width()) * QImage::toPixelFormat(format).bitsPerPixel() + 31) / 32 * 4;
        const int limitMb = QImageReader::allocationLimit();
        if (limitMb > 0 && rowBytes > (qint64(limitMb) << 20) / size.height()) return {};
        image = QImage(size, format);
        if (image.isNull()) return {};
        if (format == QImage::Format_Indexed8)
            image.fill(255u);
        else
            image.fill(image.hasAlphaChannel() ? Qt::transparent : Qt::white);
    }
    if (!reader.read(&image)) return {};
    if (image.format() == QImage::Format_Indexed8 && image.colorCount() < 256) {
        QList<QRgb> colors = image.colorTable();
        colors.resize(256, qRgb(255, 255, 255));
        image.setColorTable(colors);
    }
    return image;
}

std::uint32_t le32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) |
           (std::uint32_t(p[3]) << 24);
}

// Whether an uncompressed BMP file ends before its last row: Qt's reader takes such a file and
// leaves the missing rows unwritten, where the picture is damaged.
bool bmpCutShort(int fd, std::int64_t fileSize) {
    std::uint8_t h[34] = {};
    if (::pread(fd, h, sizeof h, 0) != ssize_t(sizeof h) || h[0] != 'B' || h[1] != 'M')
        return false;
    const std::uint32_t pixelsAt = le32(h + 10), headerSize = le32(h + 14);
    std::int64_t width, height, bits;
    if (headerSize == 12) {  // OS/2 header, never compressed
        width = h[18] | (h[19] << 8);
        height = h[20] | (h[21] << 8);
        bits = h[24] | (h[25] << 8);
    } else if (headerSize >= 40) {
        const std::uint32_t compression = le32(h + 30);
        if (compression != 0 && compression != 3 && compression != 6) return false;  // RLE, ...
        width = std::int32_t(le32(h + 18));
        height = std::int32_t(le32(h + 22));
        bits = h[28] | (h[29] << 8);
    } else {
        return false;
    }
    // Sizes past this are refused by Qt's allocation limit anyway.
    constexpr std::int64_t most = std::int64_t(1) << 24;
    if (width <= 0 || width > most || height < -most || height > most || bits <= 0 || bits > 32)
        return false;
    const std::int64_t rowBytes = (width * bits + 31) / 32 * 4;
    return std::int64_t(pixelsAt) + rowBytes * (height < 0 ? -height : height) > fileSize;
}

// A picture Qt reads, other than JPEG. Its pixels are decoded again when the page is written,
// so a long job holds no pixels in memory; the file must not have changed by then.
class RasterFileImage : public pdfwriter::ImageSource {
public:
    RasterFileImage(QString path, pdfwriter::FileIdentity identity, int width, int height,
                    bool gray)
        : m_path(std::move(path)), m_identity(identity), m_width(width), m_height(height),
          m_gray(gray) {}

    pdfwriter::ImageFormat format() const override {
        pdfwriter::ImageFormat f;
        f.width = m_width;
        f.height = m_height;
        f.colorSpace = m_gray ? pdfwriter::ColorSpace::Gray : pdfwriter::ColorSpace::Rgb;
        f.encoding = pdfwriter::ImageEncoding::Raw;
        return f;
    }

    void writeData(const pdfwriter::DataSink& sink) const override {
        const std::string name = description();
        if (!(pdfwriter::FileIdentity::ofPath(name) == m_identity))
            throw std::runtime_error(name + ": changed since it was checked");
        QImageReader reader(m_path);
        reader.setAutoTransform(true);
        const QImage image = readCleared(reader);
        if (!(pdfwriter::FileIdentity::ofPath(name) == m_identity))
            throw std::runtime_error(name + ": changed while it was read");
        if (image.isNull() || image.width() != m_width || image.height() != m_height)
            throw std::runtime_error(name + ": can no longer be decoded");
        writePixels(image, m_gray, sink);
    }

    std::string description() const override { return QFile::encodeName(m_path).toStdString(); }
    bool stillAsChecked() const override {
        return pdfwriter::FileIdentity::ofPath(description()) == m_identity;
    }

    // 8-bit grey or RGB samples, rows without padding, transparency laid over white paper.
    static void writePixels(const QImage& source, bool gray, const pdfwriter::DataSink& sink) {
        if (gray) {
            const QImage g = source.convertToFormat(QImage::Format_Grayscale8);
            for (int y = 0; y < g.height(); ++y)
                sink(g.constScanLine(y), std::size_t(g.width()));
            return;
        }
        const QImage argb = source.convertToFormat(QImage::Format_ARGB32);
        std::vector<std::uint8_t> row(std::size_t(argb.width()) * 3);
        for (int y = 0; y < argb.height(); ++y) {
            const auto* px = reinterpret_cast<const QRgb*>(argb.constScanLine(y));
            for (int x = 0; x < argb.width(); ++x) {
                const int a = qAlpha(px[x]);
                const auto over = [a](int c) { return std::uint8_t((c * a + 255 * (255 - a) + 127) / 255); };
                row[3 * x] = over(qRed(px[x]));
                row[3 * x + 1] = over(qGreen(px[x]));
                row[3 * x + 2] = over(qBlue(px[x]));
            }
            sink(row.data(), row.size());
        }
    }

private:
    QString m_path;
    pdfwriter::FileIdentity m_identity;
    int m_width, m_height;
    bool m_gray;
};

// Reads the whole file (a read error is an answer, where a mapped file's would be a crash).
bool readWhole(int fd, std::size_t size, std::vector<std::uint8_t>* data) {
    data->resize(size);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::pread(fd, data->data() + done, size - done, off_t(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;  // an error, or the file got shorter
        done += std::size_t(n);
    }
    return true;
}

Picture loadJpeg(const QString& path, int fd, const pdfwriter::FileIdentity& identity) {
    pdfwriter::JpegInfo info;
    {
        std::vector<std::uint8_t> data;
        if (!readWhole(fd, std::size_t(identity.size), &data)) return {};
        if (pdfwriter::checkJpeg(data.data(), data.size(), &info) != pdfwriter::JpegStatus::Ok)
            return {};
    }
    // The bytes checked must be the bytes printed: a file written meanwhile is not taken.
    if (!(pdfwriter::FileIdentity::ofDescriptor(fd) == identity)) return {};

    pdfwriter::JpegFileImage::Details details;
    details.width = info.width;
    details.height = info.height;
    details.components = info.components;
    details.adobe = info.hasAdobe;
    details.rgb = info.rgbColorSpace;
    details.arithmetic = info.arithmetic;
    details.standardTablesAt = info.standardTablesAt;

    Picture picture;
    picture.orientation = info.orientation;
    const bool turned = info.orientation >= 5;
    const double xDpi = info.xDpi > 0 ? info.xDpi : PictureDecoder::defaultDpi;
    const double yDpi = info.yDpi > 0 ? info.yDpi : PictureDecoder::defaultDpi;
    picture.width = turned ? info.height : info.width;
    picture.height = turned ? info.width : info.height;
    const double storedW = info.width / xDpi * himetricPerInch;
    const double storedH = info.height / yDpi * himetricPerInch;
    picture.widthHimetric = turned ? storedH : storedW;
    picture.heightHimetric = turned ? storedW : storedH;
    picture.image = std::make_shared<pdfwriter::JpegFileImage>(QFile::encodeName(path).toStdString(),
                                                               identity, details);
    picture.handle = nextHandle++;
    return picture;
}

Picture loadOther(const QString& path, int fd, const pdfwriter::FileIdentity& identity) {
    if (bmpCutShort(fd, identity.size)) return {};
    QImageReader reader(path);
    reader.setAutoTransform(true);
    const QImage image = readCleared(reader);
    if (image.isNull()) return {};
    if (!(pdfwriter::FileIdentity::ofPath(QFile::encodeName(path).toStdString()) == identity))
        return {};
    // Qt gives 72 dpi (2835 dots per metre) to a file that states no density.
    const auto dpiOf = [](int dotsPerMeter) {
        const double dpi = dotsPerMeter * 0.0254;
        return (dotsPerMeter == 2835 || dpi < 10 || dpi > 10000) ? PictureDecoder::defaultDpi
                                                                 : dpi;
    };
    const bool gray = image.isGrayscale() && !image.hasAlphaChannel();
    Picture picture;
    picture.width = image.width();
    picture.height = image.height();
    picture.widthHimetric = image.width() / dpiOf(image.dotsPerMeterX()) * himetricPerInch;
    picture.heightHimetric = image.height() / dpiOf(image.dotsPerMeterY()) * himetricPerInch;
    picture.image =
        std::make_shared<RasterFileImage>(path, identity, image.width(), image.height(), gray);
    picture.handle = nextHandle++;
    return picture;
}

}  // namespace

Picture PictureDecoder::load(const QString& path) const {
    if (path.isEmpty() || path.contains(QChar(0))) return {};
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return {};
    struct stat st {};
    Picture picture;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0 &&
        st.st_size <= maxFileSize) {
        const pdfwriter::FileIdentity identity = pdfwriter::FileIdentity::ofDescriptor(fd);
        std::uint8_t magic[3] = {0, 0, 0};
        const bool jpeg = ::pread(fd, magic, 3, 0) == 3 && magic[0] == 0xFF &&
                          magic[1] == 0xD8 && magic[2] == 0xFF;
        picture = jpeg ? loadJpeg(path, fd, identity) : loadOther(path, fd, identity);
    }
    ::close(fd);
    return picture;
}

}  // namespace pictolio
