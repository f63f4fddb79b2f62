// SPDX-License-Identifier: GPL-3.0-or-later
// The picture decoder: which reader a file goes to, by what its first bytes say.

#include <fcntl.h>
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QImageReader>
#include <cerrno>
#include <cstring>
#include <mutex>

#include "pictures/picture.h"
#include "pictures/picturereaders.h"

namespace pictolio {

using namespace readers;

namespace {

constexpr off_t maxFileSize = off_t(2) << 30;

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
        ReadingFile::nameFilesInMessages();
    });
}

Outcome<Picture> PictureDecoder::read(const QString& path, Frames frames) const {
    const readers::DecodedImage::FactsOnly facts(m_use == Use::Facts);
    if (m_use == Use::Printing) readers::DecodedImage::forgetKept();  // before another picture's pixels are decoded
    if (path.isEmpty()) return Failure{QStringLiteral("no file given")};
    if (path.contains(QChar(0))) return Failure{QStringLiteral("no file can have this name: it holds a NUL character")};
    const ReadingFile reading(path);
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return Failure{QStringLiteral("cannot be opened: %1").arg(QString::fromLocal8Bit(std::strerror(errno))),
                       errno == ENOENT ? Failure::Kind::Missing : Failure::Kind::Unreadable};
    const auto readOpen = [&]() -> PictureRead {
        struct stat st {};
        if (::fstat(fd, &st) != 0) return unreadable();
        if (S_ISDIR(st.st_mode)) return Failure{QStringLiteral("a folder, not a file"), Failure::Kind::NotPicture};
        if (!S_ISREG(st.st_mode)) return Failure{QStringLiteral("not a regular file"), Failure::Kind::NotPicture};
        if (st.st_size == 0) return Failure{QStringLiteral("an empty file"), Failure::Kind::NotPicture};
        if (st.st_size > maxFileSize)
            return Failure{QStringLiteral("too large: the file has %1 bytes, more than the %2 a picture file may have")
                               .arg(byteCount(st.st_size), byteCount(maxFileSize)),
                           Failure::Kind::TooLarge};
        const imaging::FileIdentity identity = imaging::FileIdentity::ofDescriptor(fd);
        std::uint8_t head[32] = {};
        const ssize_t n = ::pread(fd, head, sizeof head, 0);
        const std::size_t got = n > 0 ? std::size_t(n) : 0;
        PictureRead read = Failure{};
        if (got >= 3 && head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF)
            read = loadJpeg(path, fd, identity);
        else if (got >= 8 && std::memcmp(head, "\x89PNG\r\n\x1a\n", 8) == 0)
            read = loadPng(path, fd, identity);
        else if (isTiff(head, got))
            read = loadTiff(path, fd, identity);
        else if (isHeif(head, got))
            read = loadHeif(path, fd, identity);
        else if (isStillWebp(head, got))
            read = loadWebp(path, fd, identity);
        else
            read = loadOther(path, fd, identity);
        // Animated pictures are read by Qt's readers (still WebP files by libwebp).
        if (frames == Frames::All && read && !isStillWebp(head, got) && got >= 4 &&
            (std::memcmp(head, "GIF8", 4) == 0 || std::memcmp(head, "RIFF", 4) == 0))
            if (std::optional<Failure> fault = addFrames(*read, path, identity)) return *fault;
        return read;
    };
    PictureRead picture = Failure{};
    try {
        picture = readOpen();
    } catch (const std::bad_alloc&) {  // a size no check foresaw: this file, not the whole run
        picture = Failure{QStringLiteral("too large: there is not enough memory to read it"), Failure::Kind::TooLarge};
    }
    ::close(fd);
    if (!picture) ReadingFile::dropMessages();  // its reason says the first of them
    return picture;
}

std::optional<PictureDecoder::JpegRead> PictureDecoder::readJpeg(const QString& path) const {
    if (path.isEmpty() || path.contains(QChar(0))) return std::nullopt;
    const ReadingFile reading(path);
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return std::nullopt;
    std::optional<JpegRead> done;
    try {
        struct stat st {};
        std::uint8_t head[3] = {};
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
            ::pread(fd, head, sizeof head, 0) == ssize_t(sizeof head) && head[0] == 0xFF &&
            head[1] == 0xD8 && head[2] == 0xFF) {
            const imaging::FileIdentity identity = imaging::FileIdentity::ofDescriptor(fd);
            if (PictureRead read = loadJpeg(path, fd, identity, true))
                done = JpegRead{std::move(*read), identity};
        }
    } catch (...) {  // read again in its turn, and refused then if it must be
    }
    ::close(fd);
    if (!done) ReadingFile::dropMessages();
    return done;
}

Picture PictureDecoder::load(const QString& path, Frames frames) const {
    Outcome<Picture> picture = read(path, frames);
    Picture empty;
    empty.refusal = picture.reason();
    return std::move(picture).valueOr(std::move(empty));
}

namespace {

// The kinds read by the program's own readers.
const QStringList& ownExtensions() {
    static const QStringList names = {"jpg", "jpeg", "jpe", "jfif", "png", "tif", "tiff", "heic", "heif", "hif", "avif", "webp"};
    return names;
}

}  // namespace

QStringList PictureDecoder::fileExtensions() {
    static const QStringList names = [] {
        QStringList known = ownExtensions();
        // Not documents drawn in lines and text, which Qt's plugins may read too: a folder of
        // pictures would take its own PDFs on the next run.
        const QStringList drawings = {"pdf", "svg", "svgz"};
        for (const QByteArray& format : QImageReader::supportedImageFormats()) {
            const QString name = QString::fromLatin1(format).toLower();
            if (!known.contains(name) && !drawings.contains(name)) known << name;
        }
        return known;
    }();
    return names;
}

bool PictureDecoder::hasPictureExtension(const QString& path) {
    const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
    if (dot <= path.lastIndexOf(QLatin1Char('/'))) return false;
    // Qt's plugins (each a library to load: milliseconds) are asked only about other names.
    const QString extension = path.mid(dot + 1).toLower();
    return ownExtensions().contains(extension) || fileExtensions().contains(extension);
}

}  // namespace pictolio
