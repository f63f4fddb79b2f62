// SPDX-License-Identifier: GPL-3.0-or-later
// TIFF files, read with libtiff: every page of the file, in file order. Fax data (CCITT Group 3
// and 4) and JPEG data go into the PDF as they are stored where a PDF filter takes them whole;
// other pages are decoded when they are printed.

#include <fcntl.h>
#include <tiffio.h>
#include <unistd.h>

#include <QFile>
#include <QImageReader>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <algorithm>
#include <stdexcept>

#include "imaging/jpegfile.h"
#include "pictures/picturereaders.h"
#include "pictures/tifffile.h"

namespace pictolio::readers {

namespace {

// The most pages we take from one file.
constexpr int maxPages = 10000;

// A file opened again to print its pages, at the directory last read.
struct OpenTiff {
    std::string name;
    imaging::FileIdentity identity;
    int fd = -1;
    std::unique_ptr<TiffFile> file;
    ~OpenTiff() {
        file.reset();
        if (fd >= 0) ::close(fd);
    }
};

// The file a page was last read from, kept open at that page until a page of it is asked for
// again: pages printed in order each read one directory more, where finding each from the first
// would make a file of many pages cost the square of their number. Let go of after its last page.
std::mutex keptMutex;
std::unique_ptr<OpenTiff> kept;

// The file opened again when a page is written, at the page's directory, unchanged since it was
// checked.
class OpenedPage {
public:
    OpenedPage(const std::string& name, const imaging::FileIdentity& identity, tdir_t directory)
        : m_name(name), m_identity(identity) {
        {
            std::lock_guard lock(keptMutex);
            if (kept && kept->name == name && kept->identity == identity &&
                TIFFCurrentDirectory(kept->file->get()) <= directory)
                m_open = std::move(kept);
        }
        if (!m_open) {
            m_open = std::make_unique<OpenTiff>();
            m_open->name = name;
            m_open->identity = identity;
            m_open->fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
            if (m_open->fd < 0) throw std::runtime_error(name + ": cannot be opened: " + std::strerror(errno));
            if (!(imaging::FileIdentity::ofDescriptor(m_open->fd) == identity))
                throw std::runtime_error(name + ": changed since it was checked");
            m_open->file = std::make_unique<TiffFile>(m_open->fd, identity.size, name);
            if (!m_open->file->get()) fail();
        }
        TIFF* tif = m_open->file->get();
        while (TIFFCurrentDirectory(tif) < directory)
            if (!TIFFReadDirectory(tif)) fail();
        if (m_open->file->failed()) fail();
    }
    ~OpenedPage() {
        if (!m_open) return;
        TIFF* tif = m_open->file->get();
        if (!tif || m_open->file->failed() || TIFFLastDirectory(tif)) return;
        std::lock_guard lock(keptMutex);
        kept = std::move(m_open);
    }
    OpenedPage(const OpenedPage&) = delete;
    OpenedPage& operator=(const OpenedPage&) = delete;

    TIFF* tiff() const { return m_open->file->get(); }
    const TiffFile& file() const { return *m_open->file; }
    [[noreturn]] void fail() {
        const std::string error = m_open->file ? m_open->file->error() : std::string();
        m_open.reset();
        throw std::runtime_error(m_name + ": can no longer be decoded" + (error.empty() ? "" : ": " + error));
    }
    // After the page is read: it was read cleanly from the file as it was checked.
    void finish() {
        if (m_open->file->failed()) fail();
        if (!(imaging::FileIdentity::ofDescriptor(m_open->fd) == m_identity)) {
            m_open.reset();
            throw std::runtime_error(m_name + ": changed while it was read");
        }
    }

private:
    std::string m_name;
    imaging::FileIdentity m_identity;
    std::unique_ptr<OpenTiff> m_open;
};

// A page of strips of 1-bit or 8-bit grey or 8-bit RGB samples that is not data the PDF can take
// as it is: its rows decoded when printed, one at a time.
class TiffRowsImage : public imaging::ImageSource {
public:
    TiffRowsImage(std::string name, imaging::FileIdentity identity, tdir_t directory, imaging::ImageFormat format)
        : m_name(std::move(name)), m_identity(identity), m_directory(directory), m_format(std::move(format)) {}

    imaging::ImageFormat format() const override { return m_format; }
    void writeData(const imaging::DataSink& sink) const override {
        OpenedPage page(m_name, m_identity, m_directory);
        // libtiff gives 16-bit samples in the machine's byte order; a PDF holds them big-endian.
        std::vector<std::uint8_t> swapped;
        const imaging::DataSink bigEndian = [&](const std::uint8_t* row, std::size_t size) {
            swapped.resize(size);
            for (std::size_t i = 0; i + 1 < size; i += 2) swapped[i] = row[i + 1], swapped[i + 1] = row[i];
            sink(swapped.data(), size);
        };
        const bool swap = m_format.bitsPerComponent == 16 && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;
        if (!readRows(page.tiff(), m_format.height, &page.file(), swap ? bigEndian : sink)) page.fail();
        page.finish();
    }
    std::string description() const override { return m_name; }
    bool stillAsChecked() const override { return imaging::FileIdentity::ofPath(m_name) == m_identity; }

private:
    std::string m_name;
    imaging::FileIdentity m_identity;
    tdir_t m_directory;
    imaging::ImageFormat m_format;
};

class TiffDecodedImage : public DecodedImage {
public:
    TiffDecodedImage(QString path, imaging::FileIdentity identity, tdir_t directory, int width,
                     int height, bool gray, bool alpha)
        : DecodedImage(std::move(path), identity, width, height, gray, alpha), m_identity(identity),
          m_directory(directory) {}

protected:
    QImage decode() const override {
        OpenedPage page(description(), m_identity, m_directory);
        QImage image = decodeRgba(page.tiff(), page.file());
        page.finish();
        return image;
    }

private:
    imaging::FileIdentity m_identity;
    tdir_t m_directory;
};

// Why the page at the current directory (number `page` from 1) cannot be read: its data runs
// past the end of the file, or libtiff's first error.
Failure tiffFault(TIFF* tif, const TiffFile& file, int page, std::int64_t fileSize) {
    std::uint64_t* offsets = nullptr;
    std::uint64_t* counts = nullptr;
    const std::uint32_t parts = TIFFIsTiled(tif) ? TIFFNumberOfTiles(tif) : TIFFNumberOfStrips(tif);
    std::uint64_t end = 0;
    if (TIFFGetField(tif, TIFFTAG_STRIPOFFSETS, &offsets) && TIFFGetField(tif, TIFFTAG_STRIPBYTECOUNTS, &counts) &&
        offsets && counts)
        for (std::uint32_t i = 0; i < parts; ++i)  // (the sum kept from wrapping past 2^64)
            end = std::max(end, offsets[i] + std::min(counts[i], ~std::uint64_t(0) - offsets[i]));
    if (end > std::uint64_t(fileSize))
        return {QStringLiteral("truncated TIFF: page %1's data runs to byte %2, the file ends at byte %3")
                    .arg(page)
                    .arg(byteCount(qint64(end)), byteCount(fileSize))};
    if (!file.error().empty())
        return {QStringLiteral("damaged TIFF: libtiff: %1").arg(QString::fromStdString(file.error()))};
    return {QStringLiteral("damaged TIFF: page %1 cannot be decoded").arg(page)};
}

// What one page of the file is and how it goes into the PDF, or why it cannot be printed.
Outcome<PicturePage> readPage(TIFF* tif, const TiffFile& file, tdir_t directory, const QString& path,
                     const std::string& name, int fd, const imaging::FileIdentity& identity) {
    std::uint32_t width = 0, height = 0;
    std::uint16_t bits = 1, samples = 1, photometric = 0, compression = 1, planar = 1, fillOrder = 1;
    std::uint16_t orientation = 1, unit = RESUNIT_INCH, extraCount = 0;
    std::uint16_t* extra = nullptr;
    float xRes = 0, yRes = 0;
    const int number = int(directory) + 1;
    if (!TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width) || !TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height) ||
        !TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric))
        return Failure{QStringLiteral("damaged TIFF: page %1 lacks its width, height or photometric tag").arg(number)};
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
    TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetFieldDefaulted(tif, TIFFTAG_FILLORDER, &fillOrder);
    TIFFGetFieldDefaulted(tif, TIFFTAG_ORIENTATION, &orientation);
    TIFFGetFieldDefaulted(tif, TIFFTAG_RESOLUTIONUNIT, &unit);
    TIFFGetFieldDefaulted(tif, TIFFTAG_EXTRASAMPLES, &extraCount, &extra);
    if (!TIFFGetField(tif, TIFFTAG_XRESOLUTION, &xRes)) xRes = 0;
    if (!TIFFGetField(tif, TIFFTAG_YRESOLUTION, &yRes)) yRes = xRes;
    if (width == 0 || height == 0)
        return Failure{QStringLiteral("damaged TIFF: page %1 is %2 x %3 pixels").arg(number).arg(width).arg(height)};
    if (!TIFFIsCODECConfigured(compression))
        return Failure{QStringLiteral("unsupported TIFF: page %1 is compressed by scheme %2, which libtiff cannot decode")
                           .arg(number)
                           .arg(compression)};
    std::uint16_t sampleFormat = SAMPLEFORMAT_UINT;
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &sampleFormat);
    if (sampleFormat == SAMPLEFORMAT_INT || sampleFormat == SAMPLEFORMAT_IEEEFP || sampleFormat >= SAMPLEFORMAT_COMPLEXINT) {
        const char* kind = sampleFormat == SAMPLEFORMAT_INT      ? "signed integer"
                           : sampleFormat == SAMPLEFORMAT_IEEEFP ? "floating-point"
                                                                 : "complex";
        return Failure{QStringLiteral("unsupported TIFF: page %1 holds %2 samples, which have no one way to be shown")
                           .arg(number)
                           .arg(QLatin1String(kind))};
    }
    if (width > 0x7FFFFFFF || height > 0x7FFFFFFF || std::uint64_t(width) * height > imaging::maxJpegPixels)
        return Failure{QStringLiteral("too large: %1 x %2 pixels, more than the %3 a TIFF page may have")
                           .arg(width)
                           .arg(height)
                           .arg(byteCount(qint64(imaging::maxJpegPixels)))};
    const double perInch = unit == RESUNIT_INCH ? 1.0 : unit == RESUNIT_CENTIMETER ? 2.54 : 0.0;
    const double xDpi = xRes * perInch, yDpi = yRes * perInch;
    const int w = int(width), h = int(height);
    const auto page = [&](std::shared_ptr<const imaging::ImageSource> image) {
        return pageOf(w, h, xDpi, yDpi, orientation, std::move(image));
    };

    // Buffers sized by the header: a tile far larger than the page (writers use tiles of up to
    // 4096 pixels on small pages too), or a row or tile of more bytes than one picture may take,
    // is refused before anything is allocated for it.
    const std::uint64_t limit = std::uint64_t(QImageReader::allocationLimit()) << 20;
    std::uint32_t tileWidth = 0, tileHeight = 0;
    if (TIFFIsTiled(tif) && (!TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tileWidth) ||
                             !TIFFGetField(tif, TIFFTAG_TILELENGTH, &tileHeight) || tileWidth > std::max(width, 4096u) + 16 ||
                             tileHeight > std::max(height, 4096u) + 16 || (limit > 0 && TIFFTileSize64(tif) > limit)))
        return Failure{QStringLiteral("damaged TIFF: page %1 of %2 x %3 pixels has tiles of %4 x %5")
                           .arg(number)
                           .arg(width)
                           .arg(height)
                           .arg(tileWidth)
                           .arg(tileHeight)};
    if (limit > 0 && TIFFScanlineSize64(tif) > limit)
        return Failure{QStringLiteral("too large: a row of page %1 takes %2 MB, more than the %3 MB a picture may take")
                           .arg(number)
                           .arg(TIFFScanlineSize64(tif) >> 20)
                           .arg(limit >> 20)};

    const bool oneStrip = !TIFFIsTiled(tif) && TIFFNumberOfStrips(tif) == 1;
    std::uint64_t* offsets = nullptr;
    std::uint64_t* counts = nullptr;
    const bool stripInFile = oneStrip && TIFFGetField(tif, TIFFTAG_STRIPOFFSETS, &offsets) &&
                             TIFFGetField(tif, TIFFTAG_STRIPBYTECOUNTS, &counts) && offsets && counts &&
                             counts[0] > 0 && offsets[0] <= std::uint64_t(identity.size) &&
                             counts[0] <= std::uint64_t(identity.size) - offsets[0];
    const bool bilevel = bits == 1 && samples == 1 &&
                         (photometric == PHOTOMETRIC_MINISWHITE || photometric == PHOTOMETRIC_MINISBLACK);
    // Inks: cyan, magenta, yellow and black unless the file names others.
    std::uint16_t inkSet = INKSET_CMYK;
    TIFFGetFieldDefaulted(tif, TIFFTAG_INKSET, &inkSet);
    const bool cmyk = samples == 4 && photometric == PHOTOMETRIC_SEPARATED && inkSet == INKSET_CMYK;
    // The page's colour profile, given to each kind of image it is for.
    std::uint32_t profileSize = 0;
    void* profileData = nullptr;
    std::vector<std::uint8_t> profile;
    if (TIFFGetField(tif, TIFFTAG_ICCPROFILE, &profileSize, &profileData) && profileData &&
        profileSize <= maxProfileBytes)
        profile.assign(static_cast<const std::uint8_t*>(profileData),
                       static_cast<const std::uint8_t*>(profileData) + profileSize);
    const std::vector<imaging::FileSlicesImage::Slice> strip =
        stripInFile ? std::vector<imaging::FileSlicesImage::Slice>{{std::int64_t(offsets[0]), std::int64_t(counts[0])}}
                    : std::vector<imaging::FileSlicesImage::Slice>{};

    // Fax data in one strip, bits in the usual order: the PDF's CCITT filter takes it as it is.
    if (bilevel && stripInFile && fillOrder == FILLORDER_MSB2LSB &&
        (compression == COMPRESSION_CCITTFAX3 || compression == COMPRESSION_CCITTFAX4)) {
        std::uint32_t options = 0;
        imaging::ImageFormat f;
        f.width = w;
        f.height = h;
        f.colorSpace = imaging::ColorSpace::Gray;
        f.encoding = imaging::ImageEncoding::Ccitt;
        f.bitsPerComponent = 1;
        f.fax.blackIs1 = photometric == PHOTOMETRIC_MINISBLACK;
        f.iccProfile = usableProfile(profile, 1);
        bool asStored = true;
        if (compression == COMPRESSION_CCITTFAX4) {
            TIFFGetField(tif, TIFFTAG_GROUP4OPTIONS, &options);
            f.fax.k = -1;
            asStored = (options & GROUP4OPT_UNCOMPRESSED) == 0;
        } else {
            TIFFGetField(tif, TIFFTAG_GROUP3OPTIONS, &options);
            // Two-dimensional coding mixes 1-D and 2-D rows, each saying which it is: any
            // number of 2-D rows may follow a 1-D one.
            f.fax.k = (options & GROUP3OPT_2DENCODING) ? h : 0;
            f.fax.encodedByteAlign = (options & GROUP3OPT_FILLBITS) != 0;
            asStored = (options & GROUP3OPT_UNCOMPRESSED) == 0;
        }
        if (asStored) {
            auto image = std::make_shared<imaging::FileSlicesImage>(name, identity, std::move(f), strip);
            // Read for text recognition by libtiff, a row at a time.
            imaging::ImageFormat rows;
            rows.width = w, rows.height = h, rows.colorSpace = imaging::ColorSpace::Gray;
            rows.encoding = imaging::ImageEncoding::Raw, rows.bitsPerComponent = 1;
            rows.inverted = photometric == PHOTOMETRIC_MINISWHITE;
            image->setGreyReader([name, identity, directory, rows](int shrink) {
                return TiffRowsImage(name, identity, directory, rows).grey(shrink);
            });
            return page(std::move(image));
        }
    }

    // JPEG data in one strip, with the tables kept apart merged in: a whole JPEG stream, taken
    // when it checks out and needs nothing added.
    if (compression == COMPRESSION_JPEG && stripInFile && bits == 8 && planar == PLANARCONFIG_CONTIG &&
        ((samples == 1 && photometric == PHOTOMETRIC_MINISBLACK) || cmyk ||
         (samples == 3 && (photometric == PHOTOMETRIC_YCBCR || photometric == PHOTOMETRIC_RGB)))) {
        std::uint32_t tablesSize = 0;
        const std::uint8_t* tables = nullptr;
        std::vector<std::uint8_t> head;
        if (TIFFGetField(tif, TIFFTAG_JPEGTABLES, &tablesSize, &tables) && tables && tablesSize >= 4 &&
            tables[0] == 0xFF && tables[1] == 0xD8 && tables[tablesSize - 2] == 0xFF && tables[tablesSize - 1] == 0xD9)
            head.assign(tables, tables + tablesSize - 2);
        std::vector<std::uint8_t> stream(static_cast<std::size_t>(counts[0]));
        bool read = ::pread(fd, stream.data(), stream.size(), off_t(offsets[0])) == ssize_t(stream.size()) &&
                    stream.size() > 2 && stream[0] == 0xFF && stream[1] == 0xD8;
        std::vector<imaging::FileSlicesImage::Slice> slices = strip;
        if (read && !head.empty()) {
            stream.erase(stream.begin(), stream.begin() + 2);
            stream.insert(stream.begin(), head.begin(), head.end());
            slices[0].offset += 2, slices[0].length -= 2;
        }
        imaging::JpegInfo info;
        if (read && imaging::checkJpeg(stream.data(), stream.size(), &info) == imaging::JpegStatus::Ok &&
            info.width == w && info.height == h && info.components == samples && !info.arithmetic &&
            info.standardTablesAt == 0 &&
            (samples == 1 || (photometric == PHOTOMETRIC_RGB ? info.rgbColorSpace && info.hasAdobe
                                                              : !info.rgbColorSpace))) {
            imaging::ImageFormat f;
            f.width = w;
            f.height = h;
            f.colorSpace = samples == 1 ? imaging::ColorSpace::Gray
                           : cmyk       ? imaging::ColorSpace::Cmyk
                                        : imaging::ColorSpace::Rgb;
            f.encoding = imaging::ImageEncoding::Dct;
            // CMYK JPEG data with an Adobe marker holds its inks inverted, as Adobe's programs write it.
            f.inverted = cmyk && info.hasAdobe;
            f.iccProfile = usableProfile(profile, samples);
            auto image = std::make_shared<imaging::FileSlicesImage>(name, identity, std::move(f), slices, head);
            // Read for text recognition as the JPEG stream it is.
            image->setGreyReader([name, slice = slices[0], head](int shrink) {
                std::vector<std::uint8_t> jpeg = head;
                const int stripFd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
                if (stripFd < 0) return imaging::GreyImage{};
                jpeg.resize(head.size() + std::size_t(slice.length));
                const bool got = ::pread(stripFd, jpeg.data() + head.size(), std::size_t(slice.length),
                                         slice.offset) == ssize_t(slice.length);
                ::close(stripFd);
                imaging::GreyImage grey;
                if (got) grey.pixels = imaging::decodeJpegGrey(jpeg.data(), jpeg.size(), shrink, &grey.width, &grey.height);
                return grey;
            });
            return page(std::move(image));
        }
    }

    // Other pages in strips of bilevel, grey, RGB or CMYK samples of 8 or 16 bits, or palette
    // indices (as scanners and image editors make them, LZW or Deflate): decoded now to see they
    // can be, and again, a row at a time, when printed.
    const bool wide = bits == 8 || bits == 16;
    const bool contiguous = planar == PLANARCONFIG_CONTIG;
    const bool gray = wide && samples == 1 &&
                      (photometric == PHOTOMETRIC_MINISWHITE || photometric == PHOTOMETRIC_MINISBLACK);
    const bool rgb = wide && samples == 3 && photometric == PHOTOMETRIC_RGB && contiguous;
    std::uint16_t *red = nullptr, *green = nullptr, *blue = nullptr;
    const bool palette = (bits == 1 || bits == 2 || bits == 4 || bits == 8) && samples == 1 &&
                         photometric == PHOTOMETRIC_PALETTE && TIFFGetField(tif, TIFFTAG_COLORMAP, &red, &green, &blue) &&
                         red && green && blue;
    if ((bilevel || gray || rgb || (cmyk && wide && contiguous) || palette) && !TIFFIsTiled(tif) &&
        compression != COMPRESSION_JPEG && compression != COMPRESSION_OJPEG) {
        imaging::ImageFormat f;
        f.width = w;
        f.height = h;
        f.colorSpace = rgb       ? imaging::ColorSpace::Rgb
                       : cmyk    ? imaging::ColorSpace::Cmyk
                       : palette ? imaging::ColorSpace::Indexed
                                 : imaging::ColorSpace::Gray;
        f.encoding = imaging::ImageEncoding::Raw;
        f.bitsPerComponent = bits;
        f.inverted = photometric == PHOTOMETRIC_MINISWHITE;
        if (palette) {
            // 16-bit colours; some old files hold 8-bit ones, every value below 256.
            const std::size_t entries = std::size_t(1) << bits;
            bool eightBit = true;
            for (std::size_t i = 0; i < entries; ++i) eightBit = eightBit && red[i] < 256 && green[i] < 256 && blue[i] < 256;
            for (std::size_t i = 0; i < entries; ++i)
                for (const std::uint16_t* c : {red, green, blue})
                    f.palette.push_back(std::uint8_t(eightBit ? c[i] : c[i] >> 8));
        }
        f.iccProfile = usableProfile(profile, palette ? 3 : int(samples));
        if (!readRows(tif, h, &file, [](const std::uint8_t*, std::size_t) {}))
            return tiffFault(tif, file, number, identity.size);
        return page(std::make_shared<TiffRowsImage>(name, identity, directory, std::move(f)));
    }

    // Everything else libtiff can turn into RGBA.
    std::optional<Failure> why;
    const QImage image = decodeRgba(tif, file, &why);
    if (image.isNull()) return why && !file.failed() ? *why : tiffFault(tif, file, number, identity.size);
    const bool grey = (photometric == PHOTOMETRIC_MINISWHITE || photometric == PHOTOMETRIC_MINISBLACK) &&
                      samples - extraCount == 1;
    const auto source =
        std::make_shared<TiffDecodedImage>(path, identity, directory, w, h, grey, hasTransparency(image));
    source->setProfile(std::move(profile));
    source->keep(image);
    return page(source);
}

}  // namespace

bool isTiff(const std::uint8_t* head, std::size_t size) {
    if (size < 4) return false;
    return (head[0] == 'I' && head[1] == 'I' && (head[2] == 42 || head[2] == 43) && head[3] == 0) ||
           (head[0] == 'M' && head[1] == 'M' && head[2] == 0 && (head[3] == 42 || head[3] == 43));
}

PictureRead loadTiff(const QString& path, int fd, const imaging::FileIdentity& identity) {
    const std::string name = QFile::encodeName(path).toStdString();
    TiffFile file(fd, identity.size, name);
    TIFF* tif = file.get();
    if (!tif) {
        // The first directory past the end of the file: cut short (libtiff calls it a seek error).
        std::uint8_t h[16] = {};
        const bool big = ::pread(fd, h, sizeof h, 0) >= 8 && (h[2] == 43 || h[3] == 43);
        const int bytes = big ? 8 : 4, from = big ? 8 : 4;
        std::uint64_t at = 0;
        for (int i = 0; i < bytes; ++i) at = (at << 8) | h[from + (h[0] == 'I' ? bytes - 1 - i : i)];
        if (at >= std::uint64_t(identity.size))
            return Failure{QStringLiteral("truncated TIFF: its first directory is at byte %1, the file ends at byte %2")
                               .arg(byteCount(qint64(at)), byteCount(identity.size))};
        // Its entries (12 bytes each, 20 in a BigTIFF file) past the end of the file.
        std::uint8_t c[8] = {};
        if (::pread(fd, c, big ? 8 : 2, off_t(at)) == (big ? 8 : 2)) {
            std::uint64_t count = 0;
            for (int i = 0; i < (big ? 8 : 2); ++i) count = (count << 8) | c[h[0] == 'I' ? (big ? 7 : 1) - i : i];
            const std::uint64_t end = at + (big ? 8 : 2) + count * (big ? 20 : 12);
            if (count < (std::uint64_t(1) << 32) && end > std::uint64_t(identity.size))
                return Failure{QStringLiteral("truncated TIFF: its first directory runs to byte %1, the file ends at byte %2")
                                   .arg(byteCount(qint64(end)), byteCount(identity.size))};
        }
        if (file.error().empty()) return Failure{QStringLiteral("damaged TIFF: libtiff cannot read it")};
        return Failure{QStringLiteral("damaged TIFF: libtiff: %1").arg(QString::fromStdString(file.error()))};
    }
    std::vector<PicturePage> pages;
    tdir_t directory = 0;
    do {
        std::uint32_t kind = 0;
        TIFFGetFieldDefaulted(tif, TIFFTAG_SUBFILETYPE, &kind);
        if (kind & FILETYPE_REDUCEDIMAGE) continue;  // a thumbnail of another page
        Outcome<PicturePage> page = readPage(tif, file, directory, path, name, fd, identity);
        if (!page) return Failure{page.reason()};
        if (file.failed()) return tiffFault(tif, file, int(directory) + 1, identity.size);
        if (pages.size() >= std::size_t(maxPages))
            return Failure{QStringLiteral("unsupported TIFF: more than %1 pages").arg(maxPages)};
        pages.push_back(std::move(*page));
    } while (++directory > 0 && TIFFReadDirectory(tif));
    // A directory that cannot be read is damage, not the end of the file.
    if (file.failed()) return tiffFault(tif, file, int(directory) + 1, identity.size);
    if (pages.empty()) return Failure{QStringLiteral("damaged TIFF: it has no page but thumbnails")};
    if (!(imaging::FileIdentity::ofDescriptor(fd) == identity)) return changedWhileRead();
    return pictureOf(std::move(pages));
}

}  // namespace pictolio::readers
