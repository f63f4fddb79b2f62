#include <fcntl.h>
#include <malloc.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QStandardPaths>
#include <atomic>
#include <cerrno>
#include <vector>
#include <stdexcept>
#include <cstring>
#include <memory>
#include <mutex>
#include <utility>
#include <optional>

#include "pdfwriter/deflate.h"
#include "pdfwriter/jpegfile.h"
#include "pdfwriter/pngfile.h"
#include "platform/picture.h"
#include "platform/picturereaders.h"

namespace pictolio {

namespace readers {

namespace {
std::atomic<quint64> nextHandle{1};
}  // namespace

double usableDpi(double dpi) { return (dpi >= 10 && dpi <= 10000) ? dpi : PictureDecoder::defaultDpi; }

PicturePage pageOf(int storedWidth, int storedHeight, double xDpi, double yDpi, int orientation,
                   std::shared_ptr<const pdfwriter::ImageSource> image) {
    PicturePage page;
    page.orientation = (orientation >= 1 && orientation <= 8) ? orientation : 1;
    const bool turned = page.orientation >= 5;
    page.width = turned ? storedHeight : storedWidth;
    page.height = turned ? storedWidth : storedHeight;
    const double w = storedWidth / usableDpi(xDpi) * himetricPerInch;
    const double h = storedHeight / usableDpi(yDpi) * himetricPerInch;
    page.widthHimetric = turned ? h : w;
    page.heightHimetric = turned ? w : h;
    page.image = std::move(image);
    return page;
}

Picture pictureOf(std::vector<PicturePage> pages) {
    Picture picture;
    const PicturePage& first = pages.front();
    picture.width = first.width;
    picture.height = first.height;
    picture.widthHimetric = first.widthHimetric;
    picture.heightHimetric = first.heightHimetric;
    picture.orientation = first.orientation;
    picture.image = first.image;
    picture.morePages.assign(std::make_move_iterator(pages.begin() + 1), std::make_move_iterator(pages.end()));
    picture.handle = nextHandle++;
    return picture;
}

bool hasTransparency(const QImage& image) {
    if (!image.hasAlphaChannel()) return false;
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < argb.height(); ++y) {
        const auto* px = reinterpret_cast<const QRgb*>(argb.constScanLine(y));
        for (int x = 0; x < argb.width(); ++x)
            if (qAlpha(px[x]) != 255) return true;
    }
    return false;
}

// Reads the whole file (a read error is an answer, where a mapped file's would be a crash).
bool readAt(int fd, std::size_t offset, std::size_t length, std::uint8_t* to) {
    std::size_t done = 0;
    while (done < length) {
        const ssize_t n = ::pread(fd, to + done, length - done, off_t(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;  // an error, or the file got shorter
        done += std::size_t(n);
    }
    return true;
}

bool readWhole(int fd, std::size_t size, std::uint8_t* data) { return readAt(fd, 0, size, data); }

bool readWhole(int fd, std::size_t size, std::vector<std::uint8_t>* data) {
    data->resize(size);
    return readWhole(fd, size, data->data());
}

bool readWhole(int fd, std::size_t size, pdfwriter::JpegFileImage::Bytes* data) {
    data->resize(size);
    return readWhole(fd, size, data->data());
}

namespace {

// Room for a file that is read only to be checked. Files of a photo's size share one buffer,
// kept from picture to picture by each thread: a new one every time would be cleared and
// mapped in again by the system each time. Larger files get one of their own, let go of after.
class CheckBuffer {
public:
    explicit CheckBuffer(std::size_t size) {
        constexpr std::size_t shared = std::size_t(8) << 20;
        thread_local std::unique_ptr<std::uint8_t[]> reused;
        if (size > shared) {
            m_own.reset(new std::uint8_t[size]);
            m_data = m_own.get();
            return;
        }
        if (!reused) reused.reset(new std::uint8_t[shared]);
        m_data = reused.get();
    }
    std::uint8_t* data() const { return m_data; }

private:
    std::unique_ptr<std::uint8_t[]> m_own;
    std::uint8_t* m_data;
};

}  // namespace

DecodedImage::DecodedImage(QString path, pdfwriter::FileIdentity identity, int width, int height,
                           bool gray, bool alpha)
    : m_path(std::move(path)), m_identity(identity), m_width(width), m_height(height), m_gray(gray),
      m_alpha(alpha) {}

namespace {
// The pixels one decoded picture keeps from its loading (DecodedImage::keep).
std::mutex keptMutex;
const DecodedImage* keptBy = nullptr;
QImage keptPixels;
}  // namespace

DecodedImage::~DecodedImage() {
    for (const Spooled& spooled : m_spooled)
        if (!spooled.path.empty()) ::unlink(spooled.path.c_str());
    const std::lock_guard lock(keptMutex);
    if (keptBy == this) keptBy = nullptr, keptPixels = QImage();
}

namespace {
thread_local bool factsOnly = false;
}  // namespace

DecodedImage::FactsOnly::FactsOnly(bool on) : m_was(factsOnly) { factsOnly = factsOnly || on; }
DecodedImage::FactsOnly::~FactsOnly() { factsOnly = m_was; }

void DecodedImage::keep(QImage image) const {
    if (factsOnly || spool(image)) return;
    const std::lock_guard lock(keptMutex);
    keptBy = this;
    keptPixels = std::move(image);
}

namespace {

// The folder of spool files, below the user's cache folder; files left there by a copy of the
// program that is gone (it was killed) are removed the first time.
QString spoolFolder() {
    static const QString folder = [] {
        QString base = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
        if (base.isEmpty()) base = QDir::tempPath();
        const QString path = base + QStringLiteral("/pictolio/spool");
        QDir().mkpath(path);
        for (const QString& name : QDir(path).entryList({QStringLiteral("picture-*")}, QDir::Files)) {
            const pid_t owner = pid_t(name.section(QLatin1Char('-'), 1, 1).toLongLong());
            if (owner > 0 && ::kill(owner, 0) != 0 && errno == ESRCH) QFile::remove(path + QLatin1Char('/') + name);
        }
        return path;
    }();
    return folder;
}

// A new spool file, removed unless kept.
class SpoolFile : public pdfwriter::DataOut {
public:
    SpoolFile() {
        QByteArray name = QFile::encodeName(spoolFolder() + QStringLiteral("/picture-%1-XXXXXX").arg(::getpid()));
        m_fd = ::mkostemp(name.data(), O_CLOEXEC);
        if (m_fd >= 0) m_path = name.toStdString();
    }
    ~SpoolFile() override {
        if (m_fd >= 0) ::close(m_fd);
        if (!m_kept && !m_path.empty()) ::unlink(m_path.c_str());
    }
    SpoolFile(const SpoolFile&) = delete;
    SpoolFile& operator=(const SpoolFile&) = delete;

    bool opened() const { return m_fd >= 0; }
    void write(const std::uint8_t* data, std::size_t size) override {
        while (size > 0) {
            const ssize_t n = ::write(m_fd, data, size);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) throw std::runtime_error("cannot write the spool file");
            data += n, size -= std::size_t(n);
        }
    }
    // The file as written, kept for the picture; false when it could not be closed.
    bool keep(std::string* path, pdfwriter::FileIdentity* identity) {
        *identity = pdfwriter::FileIdentity::ofDescriptor(m_fd);
        const int fd = std::exchange(m_fd, -1);
        if (::close(fd) != 0 || identity->size < 0) return false;
        *path = m_path;
        m_kept = true;
        return true;
    }

private:
    int m_fd = -1;
    std::string m_path;
    bool m_kept = false;
};

}  // namespace

// The samples (and alpha channel) deflated as the writer would, into spool files; false when
// they cannot be written (no room, no cache folder), and nothing is left behind.
bool DecodedImage::spool(const QImage& image) const {
    SpoolFile data;
    std::optional<SpoolFile> alpha;
    if (m_alpha) alpha.emplace();
    if (!data.opened() || (alpha && !alpha->opened())) return false;
    try {
        const pdfwriter::ImageFormat f = format();
        // (Each holds a 64 KiB buffer: not on the stack of whichever thread loads.)
        const auto dataOut = std::make_unique<pdfwriter::Deflater>(data, pdfwriter::filteredRowBytes(f, false));
        std::unique_ptr<pdfwriter::Deflater> alphaOut;
        if (alpha) alphaOut = std::make_unique<pdfwriter::Deflater>(*alpha, pdfwriter::filteredRowBytes(f, true));
        const pdfwriter::DataSink toData = [&](const std::uint8_t* d, std::size_t n) { dataOut->write(d, n); };
        const pdfwriter::DataSink toAlpha = [&](const std::uint8_t* d, std::size_t n) { alphaOut->write(d, n); };
        rowsOf(image, toData, m_alpha ? &toAlpha : nullptr);
        dataOut->finish();
        if (alphaOut) alphaOut->finish();
    } catch (const std::exception&) {
        return false;
    }
    Spooled spooled[2];
    if (!data.keep(&spooled[0].path, &spooled[0].identity)) return false;
    if (alpha && !alpha->keep(&spooled[1].path, &spooled[1].identity)) {
        ::unlink(spooled[0].path.c_str());
        return false;
    }
    m_spooled[0] = spooled[0];
    m_spooled[1] = spooled[1];
    return true;
}

bool DecodedImage::copyDeflated(pdfwriter::DataOut& out, bool mask) const {
    // A spool file serves one printing and goes once it is copied: the room it takes is not kept
    // while the picture stays loaded after its page (a picture printed again is decoded again).
    Spooled spooled;
    {
        const std::lock_guard lock(m_mutex);
        spooled = std::exchange(m_spooled[mask ? 1 : 0], Spooled{});
    }
    if (spooled.path.empty()) return false;
    struct Remove {
        const std::string& path;
        ~Remove() { ::unlink(path.c_str()); }
    } remove{spooled.path};
    const std::string name = description();
    if (!(pdfwriter::FileIdentity::ofPath(name) == m_identity))
        throw std::runtime_error(name + ": changed since it was checked");
    const int fd = ::open(spooled.path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || !(pdfwriter::FileIdentity::ofDescriptor(fd) == spooled.identity)) {
        if (fd >= 0) ::close(fd);
        throw std::runtime_error(name + ": its spool file " + spooled.path + " changed or went");
    }
    try {
        out.copyFrom(fd, 0, spooled.identity.size, spooled.path);
    } catch (...) {
        ::close(fd);
        throw;
    }
    ::close(fd);
    return true;
}

void DecodedImage::forgetKept() {
    QImage gone;  // let go of outside the lock
    const std::lock_guard lock(keptMutex);
    keptBy = nullptr;
    std::swap(gone, keptPixels);
}

QImage DecodedImage::takeKept() const {
    const std::lock_guard lock(keptMutex);
    if (keptBy != this) return {};
    keptBy = nullptr;
    return std::exchange(keptPixels, QImage());
}

pdfwriter::ImageFormat DecodedImage::format() const {
    pdfwriter::ImageFormat f;
    f.width = m_width;
    f.height = m_height;
    f.colorSpace = m_gray ? pdfwriter::ColorSpace::Gray : pdfwriter::ColorSpace::Rgb;
    f.encoding = pdfwriter::ImageEncoding::Raw;
    f.softMask = m_alpha;
    return f;
}

std::string DecodedImage::description() const { return QFile::encodeName(m_path).toStdString(); }

bool DecodedImage::stillAsChecked() const {
    return pdfwriter::FileIdentity::ofPath(description()) == m_identity;
}

QImage DecodedImage::decodeChecked() const {
    const std::string name = description();
    if (!(pdfwriter::FileIdentity::ofPath(name) == m_identity))
        throw std::runtime_error(name + ": changed since it was checked");
    QImage image = takeKept();
    if (image.isNull()) {
        // Another picture's kept pixels would only add to these: it decodes again when its turn
        // comes (the last page of a joined PDF), so memory holds one decoded picture at a time.
        forgetKept();
        image = decode();
    }
    if (!(pdfwriter::FileIdentity::ofPath(name) == m_identity))
        throw std::runtime_error(name + ": changed while it was read");
    if (image.isNull() || image.width() != m_width || image.height() != m_height)
        throw std::runtime_error(name + ": can no longer be decoded");
    return image;
}

// 8-bit grey or RGB samples, rows without padding, the colours as they are where the picture
// is transparent (its soft mask hides them); the alpha channel kept for the soft mask.
void DecodedImage::writeData(const pdfwriter::DataSink& sink) const {
    if (!m_alpha) return rowsOf(decodeChecked(), sink, nullptr);
    std::vector<std::uint8_t> alpha;
    alpha.reserve(std::size_t(m_width) * std::size_t(m_height));
    const pdfwriter::DataSink toAlpha = [&](const std::uint8_t* d, std::size_t n) { alpha.insert(alpha.end(), d, d + n); };
    rowsOf(decodeChecked(), sink, &toAlpha);
    const std::lock_guard lock(m_mutex);
    m_alphaPlane = std::move(alpha);
}

void DecodedImage::rowsOf(QImage image, const pdfwriter::DataSink& data, const pdfwriter::DataSink* alpha) const {
    if (m_gray && !m_alpha) {
        const QImage g = std::move(image).convertToFormat(QImage::Format_Grayscale8);
        for (int y = 0; y < g.height(); ++y) data(g.constScanLine(y), std::size_t(g.width()));
        return;
    }
    // Rows of RGB samples go out as they are; anything else is read as 32-bit colours, converted
    // in place where Qt can (a copy of a large picture would double the memory it takes).
    if (!m_alpha && !m_gray && image.format() == QImage::Format_RGB888) {
        for (int y = 0; y < image.height(); ++y) data(image.constScanLine(y), std::size_t(image.width()) * 3);
        return;
    }
    const QImage::Format f = image.format();
    const QImage argb = f == QImage::Format_RGB32 || f == QImage::Format_ARGB32
                            ? std::move(image)
                            : std::move(image).convertToFormat(QImage::Format_ARGB32);
    image = QImage();
    std::vector<std::uint8_t> row(std::size_t(argb.width()) * (m_gray ? 1 : 3)), alphaRow(std::size_t(argb.width()));
    for (int y = 0; y < argb.height(); ++y) {
        const auto* px = reinterpret_cast<const QRgb*>(argb.constScanLine(y));
        std::uint8_t* to = row.data();
        for (int x = 0; x < argb.width(); ++x) {
            if (m_gray) {
                *to++ = std::uint8_t(qGray(px[x]));
            } else {
                *to++ = std::uint8_t(qRed(px[x]));
                *to++ = std::uint8_t(qGreen(px[x]));
                *to++ = std::uint8_t(qBlue(px[x]));
            }
            alphaRow[std::size_t(x)] = std::uint8_t(qAlpha(px[x]));
        }
        data(row.data(), row.size());
        if (m_alpha && alpha) (*alpha)(alphaRow.data(), alphaRow.size());
    }
}

void DecodedImage::writeSoftMask(const pdfwriter::DataSink& sink) const {
    std::vector<std::uint8_t> alpha;
    {
        const std::lock_guard lock(m_mutex);
        alpha.swap(m_alphaPlane);
    }
    if (alpha.size() != std::size_t(m_width) * std::size_t(m_height)) {
        const QImage argb = decodeChecked().convertToFormat(QImage::Format_ARGB32);
        alpha.clear();
        alpha.reserve(std::size_t(m_width) * std::size_t(m_height));
        for (int y = 0; y < argb.height(); ++y) {
            const auto* px = reinterpret_cast<const QRgb*>(argb.constScanLine(y));
            for (int x = 0; x < argb.width(); ++x) alpha.push_back(std::uint8_t(qAlpha(px[x])));
        }
    }
    sink(alpha.data(), alpha.size());
}

BytesDecodedImage::BytesDecodedImage(QString path, pdfwriter::FileIdentity identity, int width, int height, bool gray,
                                     bool alpha, Decoder decoder)
    : DecodedImage(std::move(path), identity, width, height, gray, alpha), m_identity(identity), m_decoder(decoder) {}

QImage BytesDecodedImage::decode() const {
    const int fd = ::open(QFile::encodeName(path()).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return {};
    std::vector<std::uint8_t> data;
    const bool read = pdfwriter::FileIdentity::ofDescriptor(fd) == m_identity &&
                      readWhole(fd, std::size_t(m_identity.size), &data) &&
                      pdfwriter::FileIdentity::ofDescriptor(fd) == m_identity;
    ::close(fd);
    return read ? m_decoder(data) : QImage();
}

}  // namespace readers

using namespace readers;

namespace {

constexpr off_t maxFileSize = off_t(2) << 30;

// Qt's own limit on one decoded picture, kept for the formats photos and scans do not come in.
constexpr int qtDefaultLimitMb = 128;

// Reads the picture into an image made and cleared beforehand. Some readers report success yet
// leave part of the image unwritten (BMP cut short, or RLE data that ends or skips early); the
// image they were handed keeps its clear colour there, never old memory. Unwritten parts show
// the paper: transparent where the image has transparency, white elsewhere; in a palette image
// they hold an index past the picture's palette, which is made white.
QImage readCleared(QImageReader& reader) {
    const QSize size = reader.size();
    const QImage::Format format = reader.imageFormat();
    // The limit on one picture's memory, as Qt applies it to an image it makes: a reader that
    // does not tell its pixel format yet is taken at 32 bits a pixel.
    if (size.isValid() && !size.isEmpty()) {
        const int bits = format != QImage::Format_Invalid ? QImage::toPixelFormat(format).bitsPerPixel() : 32;
        const qint64 rowBytes = (qint64(size.width()) * bits + 31) / 32 * 4;
        const int limitMb = reader.format() == "webp" ? QImageReader::allocationLimit() : qtDefaultLimitMb;
        if (limitMb > 0 && rowBytes > (qint64(limitMb) << 20) / size.height()) return {};
    }
    QImage image;
    if (size.isValid() && !size.isEmpty() && format != QImage::Format_Invalid) {
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
// A GIF file whose screen (which Qt's reader makes whole, whatever the frames in it) would take
// more memory than Qt's usual limit: a few bytes can claim one.
bool gifUnacceptable(int fd) {
    std::uint8_t h[10];
    if (::pread(fd, h, sizeof h, 0) != ssize_t(sizeof h) || std::memcmp(h, "GIF8", 4) != 0) return false;
    const std::uint64_t width = h[6] | (h[7] << 8), height = h[8] | (h[9] << 8);
    return width * height * 4 > (std::uint64_t(qtDefaultLimitMb) << 20);
}

// A BMP file Qt would take that is no picture to print: uncompressed pixels that end before the
// last row, sizes past any picture's, or run-length data far too short for the size it declares
// (a file of a hundred bytes announcing millions of rows keeps the reader busy for a minute).
bool bmpUnacceptable(int fd, std::int64_t fileSize) {
    std::uint8_t h[34] = {};
    if (::pread(fd, h, sizeof h, 0) != ssize_t(sizeof h) || h[0] != 'B' || h[1] != 'M')
        return false;
    const std::uint32_t pixelsAt = le32(h + 10), headerSize = le32(h + 14);
    std::int64_t width, height, bits;
    std::uint32_t compression = 0;
    if (headerSize == 12) {  // OS/2 header, never compressed
        width = h[18] | (h[19] << 8);
        height = h[20] | (h[21] << 8);
        bits = h[24] | (h[25] << 8);
    } else if (headerSize >= 40) {
        compression = le32(h + 30);
        width = std::int32_t(le32(h + 18));
        height = std::int32_t(le32(h + 22));
        bits = h[28] | (h[29] << 8);
    } else {
        return false;
    }
    constexpr std::int64_t most = std::int64_t(1) << 24;
    if (width <= 0 || width > most || height < -most || height > most || height == 0 || bits <= 0 || bits > 32)
        return true;
    const std::int64_t rows = height < 0 ? -height : height;
    // Run-length data: each pair of bytes gives at most 255 pixels.
    if (compression == 1 || compression == 2) return width * rows > fileSize * 256;
    if (compression != 0 && compression != 3 && compression != 6) return false;  // left to Qt
    const std::int64_t rowBytes = (width * bits + 31) / 32 * 4;
    return std::int64_t(pixelsAt) + rowBytes * rows > fileSize;
}

// A picture Qt reads, decoded again (turned upright) when its page is written.
class RasterFileImage : public DecodedImage {
public:
    using DecodedImage::DecodedImage;

protected:
    QImage decode() const override {
        QImageReader reader(path());
        reader.setAutoTransform(true);
        return readCleared(reader);
    }
};

Picture loadJpeg(const QString& path, int fd, const pdfwriter::FileIdentity& identity) {
    pdfwriter::JpegInfo info;
    // The bytes go into the picture while the budget for kept bytes lasts; otherwise the file
    // is read for the check alone, and its bytes are copied from the file when it is printed.
    const auto size = std::size_t(identity.size);
    pdfwriter::JpegFileImage::Bytes kept;
    std::optional<CheckBuffer> buffer;
    const std::uint8_t* data;
    if (pdfwriter::JpegFileImage::mayKeep(identity.size)) {
        if (!readWhole(fd, size, &kept)) return {};
        data = kept.data();
    } else {
        buffer.emplace(size);
        if (!readWhole(fd, size, buffer->data())) return {};
        data = buffer->data();
    }
    if (pdfwriter::checkJpeg(data, size, &info) != pdfwriter::JpegStatus::Ok) return {};
    // The bytes checked must be the bytes printed: a file written meanwhile is not taken.
    if (!(pdfwriter::FileIdentity::ofDescriptor(fd) == identity)) return {};

    const auto details = pdfwriter::JpegFileImage::Details::of(info);

    return pictureOf({pageOf(info.width, info.height, info.xDpi, info.yDpi, info.orientation,
                             std::make_shared<pdfwriter::JpegFileImage>(QFile::encodeName(path).toStdString(),
                                                                        identity, details, std::move(kept)))});
}

}  // namespace

// Qt's WebP reader does not turn pictures itself, nor does libwebp.
int readers::webpOrientation(int fd, std::int64_t fileSize) {
    std::uint8_t h[12];
    if (::pread(fd, h, 12, 0) != 12 || std::memcmp(h, "RIFF", 4) != 0 || std::memcmp(h + 8, "WEBP", 4) != 0)
        return 1;
    std::int64_t at = 12;
    for (int chunks = 0; chunks < 1000 && at + 8 <= fileSize; ++chunks) {
        if (::pread(fd, h, 8, at) != 8) return 1;
        const std::int64_t size = le32(h + 4);
        if (std::memcmp(h, "EXIF", 4) == 0) {
            if (size > (std::int64_t(1) << 20) || at + 8 + size > fileSize) return 1;
            std::vector<std::uint8_t> exif(static_cast<std::size_t>(size));
            if (::pread(fd, exif.data(), exif.size(), at + 8) != ssize_t(exif.size())) return 1;
            return pdfwriter::exifOrientation(exif.data(), exif.size());
        }
        at += 8 + size + (size & 1);
    }
    return 1;
}

namespace {

// xDpi, yDpi: the density the file states, when its own reader has found it.
Picture loadOther(const QString& path, int fd, const pdfwriter::FileIdentity& identity,
                  double xDpi = 0, double yDpi = 0) {
    if (bmpUnacceptable(fd, identity.size) || gifUnacceptable(fd)) return {};
    QImageReader reader(path);
    reader.setAutoTransform(true);
    const QImage image = readCleared(reader);
    if (image.isNull()) return {};
    if (!(pdfwriter::FileIdentity::ofPath(QFile::encodeName(path).toStdString()) == identity))
        return {};
    // Qt gives 72 dpi (2835 dots per metre) to a file that states no density.
    const auto dpiOf = [](int dotsPerMeter) { return dotsPerMeter == 2835 ? 0.0 : dotsPerMeter * 0.0254; };
    if (xDpi <= 0 || yDpi <= 0) xDpi = dpiOf(image.dotsPerMeterX()), yDpi = dpiOf(image.dotsPerMeterY());
    const bool alpha = hasTransparency(image);
    const bool gray = image.isGrayscale();
    // A reader that cannot turn the picture leaves it as stored: it is turned when placed.
    const int orientation = reader.supportsOption(QImageIOHandler::ImageTransformation)
                                ? 1
                                : webpOrientation(fd, identity.size);
    const auto source = std::make_shared<RasterFileImage>(path, identity, image.width(), image.height(), gray, alpha);
    source->keep(image);
    return pictureOf({pageOf(image.width(), image.height(), xDpi, yDpi, orientation, source)});
}

// A PNG file goes into the PDF as it is when a PDF can hold its samples: grey, RGB or palette,
// not interlaced, transparency (if any) a single colour or a range of palette entries. Other
// PNG files are decoded, their alpha channel kept.
Picture loadPng(const QString& path, int fd, const pdfwriter::FileIdentity& identity) {
    pdfwriter::PngInfo info;
    const auto read = [fd](std::size_t offset, std::size_t length, std::uint8_t* to) {
        return readAt(fd, offset, length, to);
    };
    if (pdfwriter::checkPng(std::size_t(identity.size), read, &info) != pdfwriter::PngStatus::Ok)
        return loadOther(path, fd, identity);
    if (!(pdfwriter::FileIdentity::ofDescriptor(fd) == identity)) return {};
    pdfwriter::ImageFormat f;
    f.width = info.width;
    f.height = info.height;
    f.bitsPerComponent = info.bitDepth;
    f.encoding = pdfwriter::ImageEncoding::Flate;
    bool asStored = !info.interlaced;
    // A transparent colour of 16-bit samples is written as the PDF says (Qt's reader cannot
    // decode such a picture; some renderers show the colour rather than the paper).
    const std::vector<std::uint8_t>& t = info.transparency;
    const int largest = (1 << info.bitDepth) - 1;
    const auto sample = [&](std::size_t at) { return (t[at] << 8) | t[at + 1]; };
    switch (info.colorType) {
        case 0:
            f.colorSpace = pdfwriter::ColorSpace::Gray;
            if (t.size() == 2 && sample(0) <= largest) f.colorKey = {sample(0), sample(0)};
            break;
        case 2:
            f.colorSpace = pdfwriter::ColorSpace::Rgb;
            if (t.size() == 6 && sample(0) <= largest && sample(2) <= largest && sample(4) <= largest)
                f.colorKey = {sample(0), sample(0), sample(2), sample(2), sample(4), sample(4)};
            break;
        case 3: {
            f.colorSpace = pdfwriter::ColorSpace::Indexed;
            f.palette = info.palette;
            // Entries fully transparent or fully opaque, the transparent ones side by side: a
            // range of indices. Anything else needs a soft mask.
            int first = -1, last = -1;
            for (std::size_t i = 0; i < t.size() && asStored; ++i) {
                if (t[i] == 255) continue;
                if (t[i] != 0 || (last >= 0 && std::size_t(last) + 1 != i)) asStored = false;
                if (first < 0) first = int(i);
                last = int(i);
            }
            if (first >= 0) f.colorKey = {first, last};
            break;
        }
        default:
            asStored = false;  // an alpha channel, which the PDF keeps apart
    }
    if (!asStored) return loadOther(path, fd, identity, info.xDpi, info.yDpi);
    std::vector<pdfwriter::FileSlicesImage::Slice> slices;
    for (const pdfwriter::PngInfo::Range& r : info.imageData)
        slices.push_back({std::int64_t(r.offset), std::int64_t(r.length)});
    return pictureOf({pageOf(info.width, info.height, info.xDpi, info.yDpi, 1,
                             std::make_shared<pdfwriter::FileSlicesImage>(QFile::encodeName(path).toStdString(),
                                                                          identity, std::move(f), std::move(slices)))});
}

}  // namespace

PictureDecoder::PictureDecoder(Use use) : m_use(use) {
    static std::once_flag raised;
    std::call_once(raised, [] {
        const int limit = QImageReader::allocationLimit();
        if (limit > 0 && limit < decodedLimitMb) QImageReader::setAllocationLimit(decodedLimitMb);
        // Decoded pictures come and go in two threads (checked when loaded, decoded again when
        // written if they kept nothing): memory of 4 MiB and more goes back to the system when
        // it is let go of, rather than stay with the thread that had it. A joined PDF of large
        // HEIC, WebP and PNG pictures peaked at 251 MiB without this, 172 MiB with it. JPEG files
        // of a photo's size still reuse their memory.
        ::mallopt(M_MMAP_THRESHOLD, 4 << 20);
        ::mallopt(M_TRIM_THRESHOLD, 4 << 20);
    });
}

Picture PictureDecoder::load(const QString& path) const {
    const readers::DecodedImage::FactsOnly facts(m_use == Use::Facts);
    if (m_use == Use::Printing) readers::DecodedImage::forgetKept();  // before another picture's pixels are decoded
    if (path.isEmpty() || path.contains(QChar(0))) return {};
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return {};
    struct stat st {};
    Picture picture;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0 &&
        st.st_size <= maxFileSize) {
        const pdfwriter::FileIdentity identity = pdfwriter::FileIdentity::ofDescriptor(fd);
        std::uint8_t head[32] = {};
        const ssize_t n = ::pread(fd, head, sizeof head, 0);
        const std::size_t got = n > 0 ? std::size_t(n) : 0;
        if (got >= 3 && head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF)
            picture = loadJpeg(path, fd, identity);
        else if (got >= 8 && std::memcmp(head, "\x89PNG\r\n\x1a\n", 8) == 0)
            picture = loadPng(path, fd, identity);
        else if (isTiff(head, got))
            picture = loadTiff(path, fd, identity);
        else if (isHeif(head, got))
            picture = loadHeif(path, fd, identity);
        else if (isStillWebp(head, got))
            picture = loadWebp(path, fd, identity);
        else
            picture = loadOther(path, fd, identity);
    }
    ::close(fd);
    return picture;
}

QStringList PictureDecoder::fileExtensions() {
    QStringList names = {"jpg", "jpeg", "jpe", "jfif", "png", "tif", "tiff", "heic", "heif", "hif", "avif", "webp"};
    for (const QByteArray& format : QImageReader::supportedImageFormats()) {
        const QString name = QString::fromLatin1(format).toLower();
        if (!names.contains(name)) names << name;
    }
    return names;
}

}  // namespace pictolio
