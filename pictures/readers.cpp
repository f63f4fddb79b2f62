// SPDX-License-Identifier: GPL-3.0-or-later
// What the picture readers share: pages and pictures of what they read, and reading files.

#include <unistd.h>

#include <QHash>
#include <QImage>
#include <atomic>
#include <cstdio>
#include <mutex>
#include <cerrno>
#include <cstring>
#include <algorithm>

#include "pictures/picturereaders.h"

namespace pictolio {

namespace readers {

namespace {
std::atomic<quint64> nextHandle{1};
thread_local const QString* fileBeingRead = nullptr;
thread_local QString firstMessageOfFile;
thread_local std::vector<ReadingFile::Message> heldMessages;
QtMessageHandler handlerBefore = nullptr;

void write(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (handlerBefore)
        handlerBefore(type, context, text);
    else
        std::fprintf(stderr, "%s\n", qPrintable(text));
}

void nameTheFile(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (!fileBeingRead) return write(type, context, message);
    if (type == QtFatalMsg) {  // the program ends: what was held first, then this, naming the file
        for (const ReadingFile::Message& m : heldMessages)
            write(m.type, QMessageLogContext(nullptr, 0, nullptr, m.category), m.text);
        heldMessages.clear();
        return write(type, context, *fileBeingRead + QStringLiteral(": ") + message);
    }
    if (type != QtDebugMsg && type != QtInfoMsg && firstMessageOfFile.isEmpty()) firstMessageOfFile = message;
    heldMessages.push_back({type, context.category, *fileBeingRead + QStringLiteral(": ") + message});
}
}  // namespace

ReadingFile::ReadingFile(const QString& path)
    : m_was(fileBeingRead), m_messageWas(std::move(firstMessageOfFile)), m_heldWas(std::move(heldMessages)) {
    fileBeingRead = &path;
    firstMessageOfFile.clear();
    heldMessages.clear();
}
ReadingFile::~ReadingFile() {
    std::vector<Message> held = std::move(heldMessages);
    fileBeingRead = m_was;
    firstMessageOfFile = std::move(m_messageWas);
    heldMessages = std::move(m_heldWas);
    for (Message& m : held) {
        if (fileBeingRead) {  // held with those of the file read around this one
            heldMessages.push_back(std::move(m));
            continue;
        }
        const QMessageLogContext context(nullptr, 0, nullptr, m.category);
        write(m.type, context, m.text);
    }
}

QString ReadingFile::firstMessage() { return firstMessageOfFile; }

void ReadingFile::dropMessages() { heldMessages.clear(); }

void ReadingFile::nameFilesInMessages() {
    static std::once_flag installed;
    std::call_once(installed, [] { handlerBefore = qInstallMessageHandler(nameTheFile); });
}

Failure tooLarge(int width, int height, std::uint64_t bytes, int limitMb, const char* kind) {
    const QString picture = kind ? QStringLiteral("a %1 picture").arg(QLatin1String(kind))
                                 : QStringLiteral("a picture of this kind");
    return {QStringLiteral("too large: %1 x %2 pixels take %3 MB decoded, more than the %4 MB %5 may take")
                .arg(width)
                .arg(height)
                .arg((bytes + (1 << 20) - 1) >> 20)
                .arg(limitMb)
                .arg(picture),
            Failure::Kind::TooLarge};
}

Failure unreadable() {
    const int error = errno;
    return {QStringLiteral("cannot be read whole: %1")
                .arg(error ? QString::fromLocal8Bit(std::strerror(error)) : QStringLiteral("it got shorter")),
            Failure::Kind::Unreadable};
}

Failure changedWhileRead() { return {QStringLiteral("changed while it was read"), Failure::Kind::Unreadable}; }

QString formatNamed(const QString& extension) {
    static const QHash<QString, QString> formats = {
        {"jpg", "JPEG"}, {"jpeg", "JPEG"}, {"jpe", "JPEG"}, {"jfif", "JPEG"}, {"tif", "TIFF"},
        {"tiff", "TIFF"}, {"heic", "HEIF"}, {"heif", "HEIF"}, {"hif", "HEIF"}, {"avif", "AVIF"},
        {"webp", "WebP"}, {"png", "PNG"}};
    return formats.value(extension.toLower(), extension.toUpper());
}

QString formatOfName(const QString& path) {
    const QString extension = path.section(QLatin1Char('.'), -1).toLower();
    if (extension == path.toLower() || extension.contains(QLatin1Char('/'))) return {};
    return PictureDecoder::fileExtensions().contains(extension) ? formatNamed(extension) : QString();
}

Failure unknownSignature(const QString& path, const std::uint8_t* head, std::size_t size) {
    QString bytes;
    for (std::size_t i = 0; i < std::min<std::size_t>(size, 8); ++i)
        bytes += QStringLiteral("%1 ").arg(head[i], 2, 16, QLatin1Char('0')).toUpper();
    const QString format = formatOfName(path);
    const QString starts = QStringLiteral("the file starts with the bytes %1which no supported picture format begins with")
                               .arg(bytes);
    if (format.isEmpty()) return {starts};  // (said after "not a picture")
    const bool an = QStringLiteral("AEIOX").contains(format.front());  // "an ICO file", "a PNG file"
    return {QStringLiteral("not %1 %2 file: %3").arg(an ? QStringLiteral("an") : QStringLiteral("a"), format, starts)};
}

double usableDpi(double dpi) { return (dpi >= 10 && dpi <= 10000) ? dpi : PictureDecoder::defaultDpi; }

PicturePage pageOf(int storedWidth, int storedHeight, double xDpi, double yDpi, int orientation,
                   std::shared_ptr<const imaging::ImageSource> image) {
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
    picture.firstPage() = std::move(pages.front());
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
        if (n == 0) errno = 0;     // the file got shorter: no error to tell
        if (n <= 0) return false;
        done += std::size_t(n);
    }
    return true;
}

bool readWhole(int fd, std::size_t size, std::uint8_t* data) { return readAt(fd, 0, size, data); }

bool readWhole(int fd, std::size_t size, std::vector<std::uint8_t>* data) {
    data->resize(size);
    return readWhole(fd, size, data->data());
}

bool readWhole(int fd, std::size_t size, imaging::JpegFileImage::Bytes* data) {
    // In whole mebibytes: a buffer let go of by one picture then takes the next of about its size,
    // rather than the heap growing (and its new pages faulting in) for every photo.
    data->reserve((size + (1u << 20) - 1) & ~std::size_t((1u << 20) - 1));
    data->resize(size);
    return readWhole(fd, size, data->data());
}

}  // namespace readers

}  // namespace pictolio
