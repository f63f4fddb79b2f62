// SPDX-License-Identifier: GPL-3.0-or-later
// Decoded pictures: samples kept from the check (spooled deflated below the user's cache
// folder) or decoded again when their page is written.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QStandardPaths>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <utility>
#include <vector>

#include "common/paths.h"
#include "imaging/deflate.h"
#include "pictures/picturereaders.h"

namespace pictolio {

namespace readers {

DecodedImage::DecodedImage(QString path, imaging::FileIdentity identity, int width, int height,
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

void DecodedImage::setProfile(std::vector<std::uint8_t> profile) {
    m_profile = profile.empty() ? nullptr : usableProfile(std::move(profile), m_gray ? 1 : 3);
}

void DecodedImage::matchSamples(const QImage& image) {
    const QImage::Format f = image.format();
    m_deep = f == QImage::Format_RGBA64 || f == QImage::Format_RGBX64 || f == QImage::Format_RGBA64_Premultiplied ||
             f == QImage::Format_Grayscale16;
    if (m_gray || f != QImage::Format_Indexed8 || image.colorCount() == 0) return;
    m_colours = image.colorTable();
    m_palette.clear();
    for (const QRgb c : m_colours) m_palette.insert(m_palette.end(), {std::uint8_t(qRed(c)), std::uint8_t(qGreen(c)), std::uint8_t(qBlue(c))});
}

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
        // Spool files hold the user's pictures: the folder is for the user alone, also when an
        // earlier version made it readable by all.
        makePrivatePath(path);
        ::chmod(QFile::encodeName(path).constData(), 0700);
        for (const QString& name : QDir(path).entryList({QStringLiteral("picture-*")}, QDir::Files)) {
            if (processGone(name.section(QLatin1Char('-'), 1, 1).toLongLong())) QFile::remove(path + QLatin1Char('/') + name);
        }
        return path;
    }();
    return folder;
}

// A new spool file, removed unless kept.
class SpoolFile : public imaging::DataOut {
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
    bool keep(std::string* path, imaging::FileIdentity* identity) {
        *identity = imaging::FileIdentity::ofDescriptor(m_fd);
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
        const imaging::ImageFormat f = format();
        // (Each holds a 64 KiB buffer: not on the stack of whichever thread loads.)
        const auto dataOut = std::make_unique<imaging::Deflater>(data, imaging::filteredRowBytes(f, false));
        std::unique_ptr<imaging::Deflater> alphaOut;
        if (alpha) alphaOut = std::make_unique<imaging::Deflater>(*alpha, imaging::filteredRowBytes(f, true));
        const imaging::DataSink toData = [&](const std::uint8_t* d, std::size_t n) { dataOut->write(d, n); };
        const imaging::DataSink toAlpha = [&](const std::uint8_t* d, std::size_t n) { alphaOut->write(d, n); };
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

bool DecodedImage::copyDeflated(imaging::DataOut& out, bool mask) const {
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
    if (!(imaging::FileIdentity::ofPath(name) == m_identity))
        throw std::runtime_error(name + ": changed since it was checked");
    const int fd = ::open(spooled.path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || !(imaging::FileIdentity::ofDescriptor(fd) == spooled.identity)) {
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

imaging::ImageFormat DecodedImage::format() const {
    imaging::ImageFormat f;
    f.width = m_width;
    f.height = m_height;
    f.colorSpace = m_gray ? imaging::ColorSpace::Gray : imaging::ColorSpace::Rgb;
    if (!m_palette.empty()) f.colorSpace = imaging::ColorSpace::Indexed, f.palette = m_palette;
    if (m_deep) f.bitsPerComponent = 16;
    f.encoding = imaging::ImageEncoding::Raw;
    f.softMask = m_alpha;
    f.iccProfile = m_profile;
    return f;
}

std::string DecodedImage::description() const { return QFile::encodeName(m_path).toStdString(); }

bool DecodedImage::stillAsChecked() const {
    return imaging::FileIdentity::ofPath(description()) == m_identity;
}

QImage DecodedImage::decodeChecked() const {
    const std::string name = description();
    if (!(imaging::FileIdentity::ofPath(name) == m_identity))
        throw std::runtime_error(name + ": changed since it was checked");
    QImage image = takeKept();
    if (image.isNull()) {
        // Another picture's kept pixels would only add to these: it decodes again when its turn
        // comes (the last page of a joined PDF), so memory holds one decoded picture at a time.
        forgetKept();
        const ReadingFile reading(m_path);
        image = decode();
    }
    if (!(imaging::FileIdentity::ofPath(name) == m_identity))
        throw std::runtime_error(name + ": changed while it was read");
    if (image.isNull() || image.width() != m_width || image.height() != m_height)
        throw std::runtime_error(name + ": can no longer be decoded");
    return image;
}

// 8-bit grey or RGB samples, rows without padding, the colours as they are where the picture
// is transparent (its soft mask hides them); the alpha channel kept for the soft mask.
void DecodedImage::writeData(const imaging::DataSink& sink) const {
    if (!m_alpha) return rowsOf(decodeChecked(), sink, nullptr);
    std::vector<std::uint8_t> alpha;
    alpha.reserve(std::size_t(m_width) * std::size_t(m_height));
    const imaging::DataSink toAlpha = [&](const std::uint8_t* d, std::size_t n) { alpha.insert(alpha.end(), d, d + n); };
    rowsOf(decodeChecked(), sink, &toAlpha);
    const std::lock_guard lock(m_mutex);
    m_alphaPlane = std::move(alpha);
}

void DecodedImage::rowsOf(QImage image, const imaging::DataSink& data, const imaging::DataSink* alpha) const {
    if (!m_colours.isEmpty()) {
        // Indices into the palette as checked; a decoding turned by Qt (EXIF) may come back in
        // another form, whose colours are all the palette's.
        if (image.format() != QImage::Format_Indexed8 || image.colorTable() != m_colours)
            image = std::move(image).convertToFormat(QImage::Format_Indexed8, m_colours);
        std::vector<std::uint8_t> alphaRow(std::size_t(image.width()));
        for (int y = 0; y < image.height(); ++y) {
            const uchar* row = image.constScanLine(y);
            data(row, std::size_t(image.width()));
            if (!m_alpha || !alpha) continue;
            for (int x = 0; x < image.width(); ++x) alphaRow[std::size_t(x)] = std::uint8_t(qAlpha(m_colours.value(row[x])));
            (*alpha)(alphaRow.data(), alphaRow.size());
        }
        return;
    }
    if (m_deep) return deepRowsOf(std::move(image), data, alpha);
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

// 16-bit samples, big-endian as the PDF holds them; alpha as 8-bit.
void DecodedImage::deepRowsOf(QImage image, const imaging::DataSink& data, const imaging::DataSink* alpha) const {
    const QImage deep = std::move(image).convertToFormat(QImage::Format_RGBA64);
    const int components = m_gray ? 1 : 3;
    std::vector<std::uint8_t> row(std::size_t(deep.width()) * std::size_t(components) * 2), alphaRow(std::size_t(deep.width()));
    for (int y = 0; y < deep.height(); ++y) {
        const auto* px = reinterpret_cast<const QRgba64*>(deep.constScanLine(y));
        std::uint8_t* to = row.data();
        for (int x = 0; x < deep.width(); ++x) {
            const quint16 samples[3] = {px[x].red(), px[x].green(), px[x].blue()};
            for (int c = 0; c < components; ++c) *to++ = std::uint8_t(samples[c] >> 8), *to++ = std::uint8_t(samples[c]);
            alphaRow[std::size_t(x)] = px[x].alpha8();
        }
        data(row.data(), row.size());
        if (m_alpha && alpha) (*alpha)(alphaRow.data(), alphaRow.size());
    }
}

void DecodedImage::writeSoftMask(const imaging::DataSink& sink) const {
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

BytesDecodedImage::BytesDecodedImage(QString path, imaging::FileIdentity identity, int width, int height, bool gray,
                                     bool alpha, Decoder decoder)
    : DecodedImage(std::move(path), identity, width, height, gray, alpha), m_identity(identity), m_decoder(decoder) {}

QImage BytesDecodedImage::decode() const {
    const int fd = ::open(QFile::encodeName(path()).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return {};
    std::vector<std::uint8_t> data;
    const bool read = imaging::FileIdentity::ofDescriptor(fd) == m_identity &&
                      readWhole(fd, std::size_t(m_identity.size), &data) &&
                      imaging::FileIdentity::ofDescriptor(fd) == m_identity;
    ::close(fd);
    return read ? m_decoder(data) : QImage();
}

}  // namespace readers

}  // namespace pictolio
