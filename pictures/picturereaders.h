// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The picture decoder's readers of particular formats, and what they share.

#include <QImage>
#include <QString>
#include <mutex>
#include <vector>

#include "common/outcome.h"
#include "pictures/picture.h"

namespace pictolio::readers {

constexpr double himetricPerInch = 2540.0;

// Qt's own limit on one decoded picture, kept for the formats photos and scans do not come in.
constexpr int qtDefaultLimitMb = 128;

// A little-endian 32-bit number.
inline std::uint32_t le32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) |
           (std::uint32_t(p[3]) << 24);
}

// What a reader gives: the picture, or why the file is none.
using PictureRead = Outcome<Picture>;

// While one lives, the messages Qt's image readers and the libraries under them (libpng, ...)
// write from this thread name the file they are about: "x.png: libpng warning: ...". They are
// held until it ends, and written then unless dropped (a file that is no picture: its reason
// says what the first of them said).
class ReadingFile {
public:
    explicit ReadingFile(const QString& path);
    ~ReadingFile();
    ReadingFile(const ReadingFile&) = delete;
    ReadingFile& operator=(const ReadingFile&) = delete;
    // Puts the message handler that does so in place, once, in front of the one there was.
    static void nameFilesInMessages();
    // The first warning or error such a library wrote about the file being read on this thread
    // ("libpng error: IDAT: invalid distance too far back"); "" when none.
    static QString firstMessage();
    // Forgets the messages held about the file being read on this thread.
    static void dropMessages();

    struct Message {
        QtMsgType type;
        const char* category;  // a logging category's name, which lives as long as the program
        QString text;
    };

private:
    const QString* m_was;
    QString m_messageWas;
    std::vector<Message> m_heldWas;
};

// Why a picture of width x height pixels that would take `bytes` decoded is not read, past a
// limit of limitMb; `kind` names the format ("TIFF"), when it is one the limit is for.
Failure tooLarge(int width, int height, std::uint64_t bytes, int limitMb, const char* kind = nullptr);
// Why a file could not be read whole, or was written to while it was read.
Failure unreadable();
Failure changedWhileRead();
// The file, named `path`, starts with bytes no reader takes: which format its name promises,
// and the bytes it starts with.
Failure unknownSignature(const QString& path, const std::uint8_t* head, std::size_t size);
// The format an extension or a Qt reader's format names, as people write it ("JPEG" for jpg,
// "WebP" for webp, "GIF" for gif).
QString formatNamed(const QString& extension);
// The format a file's name promises ("JPEG" for x.jpg); "" when its extension names none.
QString formatOfName(const QString& path);

// A density that can be believed (dots per inch); else the decoder's default.
double usableDpi(double dpi);

// A page of a picture stored width x height at the given density, turned upright as the
// orientation (EXIF values) says.
PicturePage pageOf(int storedWidth, int storedHeight, double xDpi, double yDpi, int orientation,
                   std::shared_ptr<const imaging::ImageSource> image);

// The picture of these pages (at least one), with a handle of its own.
Picture pictureOf(std::vector<PicturePage> pages);

// Whether any pixel of the image is less than opaque.
bool hasTransparency(const QImage& image);

// Reads the whole file (a read error is an answer, where a mapped file's would be a crash).
bool readAt(int fd, std::size_t offset, std::size_t length, std::uint8_t* to);
bool readWhole(int fd, std::size_t size, std::uint8_t* data);
bool readWhole(int fd, std::size_t size, std::vector<std::uint8_t>* data);
bool readWhole(int fd, std::size_t size, imaging::JpegFileImage::Bytes* data);

// A picture's colour profile (ICC) as the PDF takes it: null for none.
using ColourProfile = std::shared_ptr<const std::vector<std::uint8_t>>;

// The largest profile taken: a file that claims more is kept untagged (profiles are a few
// kilobytes; the largest printers' profiles about 2 MB).
constexpr std::size_t maxProfileBytes = std::size_t(4) << 20;

// The profile as the PDF takes it for an image of `components` colour components: null when it
// is none, larger than maxProfileBytes, for colours other than the image's, or sRGB (the colours
// of untagged pictures, which the PDF gives no profile).
ColourProfile usableProfile(std::vector<std::uint8_t> profile, int components);

// The profile a JPEG file's APP2 "ICC_PROFILE" segments carry, joined in the order they number;
// empty when it has none, or one with segments missing, repeated or larger than maxProfileBytes.
std::vector<std::uint8_t> jpegProfile(const std::uint8_t* data, std::size_t size);

// What a PNG file says beside its pixels: its iCCP profile (inflated), whether it is sRGB, and its
// eXIf orientation. Chunks whose checksum fails are ignored.
struct PngExtras {
    bool png = false;  // the file is a PNG file
    std::vector<std::uint8_t> profile;
    bool srgb = false;
    int orientation = 1;
};
PngExtras pngExtras(int fd, std::int64_t fileSize);

// zlib data inflated; empty when it is damaged or inflates to more than `most` bytes.
std::vector<std::uint8_t> inflated(const std::uint8_t* data, std::size_t size, std::size_t most);

// The contents of a WebP file's first chunk of this type ("EXIF", "ICCP"); empty when it has none,
// or one larger than `most` bytes.
std::vector<std::uint8_t> webpChunk(int fd, std::int64_t fileSize, const char* type, std::size_t most);

// A picture decoded again when it is printed, so a long job holds no pixels in memory: 8-bit
// grey or RGB samples, and its alpha channel (if it has one) as a soft mask. The file must not
// have changed since it was checked.
class DecodedImage : public imaging::ImageSource {
public:
    DecodedImage(QString path, imaging::FileIdentity identity, int width, int height, bool gray,
                 bool alpha);
    ~DecodedImage() override;

    // Keeps what printing needs from the image decoded when the picture was loaded, so that it
    // is not decoded again (a HEIF photo takes a second to decode): its samples deflated as the
    // PDF holds them, in spool files that go with the picture; or, when they cannot be written,
    // the image itself, which one picture in the whole program keeps at a time (keeping one
    // lets go of the last, and so does loading another). Nothing while the picture is loaded
    // for its facts alone (FactsOnly).
    void keep(QImage image) const;
    static void forgetKept();

    // The picture's colour profile, which its image takes when it is for its colours (grey or
    // RGB); call before keep.
    void setProfile(std::vector<std::uint8_t> profile);
    // Samples as the decoded image has them: a palette image in colour (a GIF, an 8-bit BMP)
    // written as indices into its palette, a third of the bytes; 16-bit samples (a PNG with
    // alpha) kept 16-bit, their alpha as 8-bit. Otherwise 8-bit grey or RGB. Call before keep.
    void matchSamples(const QImage& image);

    // While one lives, the thread's loadings are for the pictures' facts: nothing is kept.
    class FactsOnly {
    public:
        explicit FactsOnly(bool on);
        ~FactsOnly();
        FactsOnly(const FactsOnly&) = delete;
        FactsOnly& operator=(const FactsOnly&) = delete;

    private:
        bool m_was;
    };

    imaging::ImageFormat format() const override;
    void writeData(const imaging::DataSink& sink) const override;
    bool copyDeflated(imaging::DataOut& out, bool mask) const override;
    void writeSoftMask(const imaging::DataSink& sink) const override;
    std::string description() const override;
    bool stillAsChecked() const override;

protected:
    // The image as stored (not turned); a null image when it cannot be decoded.
    virtual QImage decode() const = 0;
    const QString& path() const { return m_path; }

private:
    QImage decodeChecked() const;
    QImage takeKept() const;
    // The image's rows as written: 8-bit grey or RGB samples to data, and (when the picture has
    // an alpha channel and alpha is given) its alpha samples to alpha.
    void rowsOf(QImage image, const imaging::DataSink& data, const imaging::DataSink* alpha) const;
    void deepRowsOf(QImage image, const imaging::DataSink& data, const imaging::DataSink* alpha) const;
    bool spool(const QImage& image) const;

    QString m_path;
    imaging::FileIdentity m_identity;
    int m_width, m_height;
    bool m_gray, m_alpha;
    ColourProfile m_profile;
    QList<QRgb> m_colours;               // a palette image's colours, alpha included; else empty
    std::vector<std::uint8_t> m_palette;  // the same, three bytes each, as the PDF holds them
    bool m_deep = false;                  // 16-bit samples
    // The alpha channel of the last decoding, kept for the soft mask that follows the data.
    mutable std::mutex m_mutex;
    mutable std::vector<std::uint8_t> m_alphaPlane;
    // The spool files of the samples and the alpha channel, deflated; empty when none.
    struct Spooled {
        std::string path;
        imaging::FileIdentity identity;
    };
    mutable Spooled m_spooled[2];
};

// A picture decoded from its file's bytes, read whole (HEIF, WebP), by the given function; when
// it keeps nothing from its check, the file is read again as it was checked and decoded.
class BytesDecodedImage : public DecodedImage {
public:
    using Decoder = QImage (*)(const std::vector<std::uint8_t>& data);
    BytesDecodedImage(QString path, imaging::FileIdentity identity, int width, int height, bool gray, bool alpha,
                      Decoder decoder);

protected:
    QImage decode() const override;

private:
    imaging::FileIdentity m_identity;
    Decoder m_decoder;
};

// JPEG files, checked whole and kept as they are. keptOnly: a file whose bytes the budget cannot
// keep is not read (an empty failure).
PictureRead loadJpeg(const QString& path, int fd, const imaging::FileIdentity& identity,
                     bool keptOnly = false);

// PNG files: as stored where a PDF can hold them, else decoded by loadOther.
PictureRead loadPng(const QString& path, int fd, const imaging::FileIdentity& identity);

// Whatever Qt's image readers take, decoded; xDpi, yDpi: the density the file states, when its
// own reader has found it.
PictureRead loadOther(const QString& path, int fd, const imaging::FileIdentity& identity, double xDpi = 0,
                  double yDpi = 0);

// The frames after the first of an animated picture Qt's readers take (GIF, WebP), added to it as
// pages, each composed as the animation shows it; nothing for a picture of one frame. Why it is
// not taken, when its frames are too many or too large in all.
std::optional<Failure> addFrames(Picture& picture, const QString& path, const imaging::FileIdentity& identity);

// TIFF files: every page, in file order.
bool isTiff(const std::uint8_t* head, std::size_t size);
PictureRead loadTiff(const QString& path, int fd, const imaging::FileIdentity& identity);

// HEIF files (HEIC, AVIF): the primary image, turned as the file says.
bool isHeif(const std::uint8_t* head, std::size_t size);
PictureRead loadHeif(const QString& path, int fd, const imaging::FileIdentity& identity);
// The primary image of a HEIF file, upright; null when the file is none or cannot be decoded.
QImage decodeHeifFile(const QString& path);

// WebP files of one picture (animated ones are left to Qt's reader, which gives the first frame).
bool isStillWebp(const std::uint8_t* head, std::size_t size);
PictureRead loadWebp(const QString& path, int fd, const imaging::FileIdentity& identity);
// The orientation a WebP file's EXIF chunk gives; 1 when it has none.
int webpOrientation(int fd, std::int64_t fileSize);

}  // namespace pictolio::readers
