// SPDX-License-Identifier: GPL-3.0-or-later
// JPEG files: checked whole, then embedded as they are.

#include <unistd.h>

#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>
#include <jerror.h>

#include <QFile>
#include <memory>
#include <optional>
#include <vector>

#include "imaging/jpegfile.h"
#include "pictures/picturereaders.h"

namespace pictolio::readers {

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

// A JPEG file with what its bytes alone do not give the PDF: the colour profile it carries, and
// for a file whose data is whole but for its closing end-of-image marker (a camera's or a
// download's that stopped a moment early), that marker after its bytes.
class CompletedJpegImage : public imaging::ImageSource {
public:
    CompletedJpegImage(std::shared_ptr<const imaging::JpegFileImage> file, bool ended, ColourProfile profile)
        : m_file(std::move(file)), m_ended(ended), m_profile(std::move(profile)) {}
    imaging::ImageFormat format() const override {
        imaging::ImageFormat f = m_file->format();
        f.iccProfile = m_profile;
        return f;
    }
    void writeData(const imaging::DataSink& sink) const override {
        m_file->writeData(sink);
        if (!m_ended) sink(endOfImage, sizeof endOfImage);
    }
    void copyData(imaging::DataOut& out) const override {
        m_file->copyData(out);
        if (!m_ended) out.write(endOfImage, sizeof endOfImage);
    }
    imaging::GreyImage grey(int shrink) const override { return m_file->grey(shrink); }
    std::string description() const override { return m_file->description(); }
    bool stillAsChecked() const override { return m_file->stillAsChecked(); }
    void letGoOfKeptBytes() const override { m_file->letGoOfKeptBytes(); }

private:
    static constexpr std::uint8_t endOfImage[2] = {0xFF, 0xD9};
    std::shared_ptr<const imaging::JpegFileImage> m_file;
    bool m_ended;
    ColourProfile m_profile;
};

// Whether the JPEG library decodes every scan of the data to its end without a word of
// complaint (at an eighth of the size: the coded data is read whole all the same). The check of
// the file's structure cannot tell data that stops at its last marker from data cut in a scan.
bool decodesWhole(const std::uint8_t* data, std::size_t size) {
    struct Errors {
        jpeg_error_mgr pub;
        std::jmp_buf jump;
    } errors;
    jpeg_decompress_struct cinfo {};
    cinfo.err = jpeg_std_error(&errors.pub);
    errors.pub.error_exit = [](j_common_ptr c) { std::longjmp(reinterpret_cast<Errors*>(c->err)->jump, 1); };
    errors.pub.emit_message = [](j_common_ptr c, int level) {
        // Warnings of data that is damaged or missing; not those of extra bytes or odd markers.
        const int code = c->err->msg_code;
        if (level < 0 && code != JWRN_EXTRANEOUS_DATA && code != JWRN_ADOBE_XFORM && code != JWRN_JFIF_MAJOR &&
            code != JWRN_BOGUS_ICC)
            std::longjmp(reinterpret_cast<Errors*>(c->err)->jump, 1);
    };
    volatile bool whole = false;
    std::vector<JSAMPLE> row;  // outside the jumps: never left behind by one
    jpeg_create_decompress(&cinfo);
    if (!setjmp(errors.jump)) {
        jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
        jpeg_read_header(&cinfo, TRUE);
        cinfo.scale_num = 1;
        cinfo.scale_denom = 8;
        jpeg_start_decompress(&cinfo);
        row.resize(std::size_t(cinfo.output_width) * std::size_t(cinfo.output_components));
        JSAMPROW rows[1] = {row.data()};
        while (cinfo.output_scanline < cinfo.output_height) jpeg_read_scanlines(&cinfo, rows, 1);
        jpeg_finish_decompress(&cinfo);
        whole = true;
    }
    jpeg_destroy_decompress(&cinfo);
    return whole;
}

// Whether the data is a whole JPEG file but for the end-of-image marker it lacks; the check's
// findings in *info. Not an arithmetic-coded one: its data is re-encoded from the file's bytes as
// they are, which the coder refuses without their end.
bool wholeButForItsEnd(const std::uint8_t* data, std::size_t size, imaging::JpegInfo* info) {
    if (size < 2 || (data[size - 2] == 0xFF && data[size - 1] == 0xD9)) return false;
    std::vector<std::uint8_t> ended(data, data + size);
    ended.push_back(0xFF);
    ended.push_back(0xD9);
    *info = {};
    return imaging::checkJpeg(ended.data(), ended.size(), info) == imaging::JpegStatus::Ok && !info->arithmetic &&
           decodesWhole(ended.data(), ended.size());
}

// Why the check refused the data, as far as its frame header tells.
Failure jpegFault(const std::uint8_t* data, std::size_t size, imaging::JpegStatus status) {
    using imaging::JpegStatus;
    if (status == JpegStatus::Truncated)
        return {QStringLiteral("truncated JPEG: the data ends at byte %1, before its end-of-image marker")
                    .arg(byteCount(qint64(size))),
                Failure::Kind::Damaged, qint64(size)};
    if (status == JpegStatus::DataMissing)
        return {QStringLiteral("truncated JPEG: part of its picture data is missing, though the file ends as a whole "
                               "one does"),
                Failure::Kind::Damaged};
    if (status != JpegStatus::Unsupported && status != JpegStatus::TooLarge)
        return {QStringLiteral("damaged JPEG: a marker, segment or table in it is wrong"), Failure::Kind::Damaged};
    // The start-of-frame segment: its process, sample precision and size.
    unsigned marker = 0, precision = 8, width = 0, height = 0;
    for (std::size_t at = 2; at + 9 <= size && data[at] == 0xFF; at += 2 + ((data[at + 2] << 8) | data[at + 3])) {
        const unsigned m = data[at + 1];
        if ((m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC) || m == 0xF7) {
            marker = m, precision = data[at + 4];
            height = (data[at + 5] << 8) | data[at + 6], width = (data[at + 7] << 8) | data[at + 8];
            break;
        }
    }
    if (status == JpegStatus::TooLarge)
        return {QStringLiteral("too large: %1 x %2 pixels, more than the %3 a JPEG picture may have")
                    .arg(width)
                    .arg(height)
                    .arg(byteCount(qint64(imaging::maxJpegPixels))),
                Failure::Kind::TooLarge};
    QString kind;
    if (marker == 0xF7)
        kind = QStringLiteral("JPEG-LS coding");
    else if (marker == 0xC3 || marker == 0xC7 || marker == 0xCB || marker == 0xCF)
        kind = QStringLiteral("lossless coding");
    else if (marker == 0xC5 || marker == 0xC6 || marker == 0xCD || marker == 0xCE)
        kind = QStringLiteral("hierarchical coding");
    else if (precision != 8)
        kind = QStringLiteral("%1-bit samples (only 8-bit ones are taken)").arg(precision);
    else if (width == 0 || height == 0)
        kind = QStringLiteral("no size in its frame header");
    else
        kind = QStringLiteral("more than %1 scans").arg(imaging::maxJpegScans);
    return {QStringLiteral("unsupported JPEG: %1").arg(kind), Failure::Kind::Unsupported};
}

}  // namespace

PictureRead loadJpeg(const QString& path, int fd, const imaging::FileIdentity& identity,
                     bool keptOnly) {
    imaging::JpegInfo info;
    // The bytes go into the picture while the budget for kept bytes lasts; otherwise the file
    // is read for the check alone, and its bytes are copied from the file when it is printed.
    const auto size = std::size_t(identity.size);
    imaging::JpegFileImage::Bytes kept;
    std::optional<CheckBuffer> buffer;
    const std::uint8_t* data;
    if (imaging::JpegFileImage::mayKeep(identity.size)) {
        if (!readWhole(fd, size, &kept)) return unreadable();
        data = kept.data();
    } else {
        if (keptOnly) return Failure{};
        buffer.emplace(size);
        if (!readWhole(fd, size, buffer->data())) return unreadable();
        data = buffer->data();
    }
    bool ended = true;
    if (const imaging::JpegStatus status = imaging::checkJpeg(data, size, &info);
        status != imaging::JpegStatus::Ok) {
        if (!wholeButForItsEnd(data, size, &info)) return jpegFault(data, size, status);
        ended = false;
    }
    // The bytes checked must be the bytes printed: a file written meanwhile is not taken.
    if (!(imaging::FileIdentity::ofDescriptor(fd) == identity)) return changedWhileRead();

    const auto details = imaging::JpegFileImage::Details::of(info);
    ColourProfile profile = usableProfile(jpegProfile(data, size), info.components);

    auto file = std::make_shared<const imaging::JpegFileImage>(QFile::encodeName(path).toStdString(), identity,
                                                                 details, std::move(kept));
    std::shared_ptr<const imaging::ImageSource> image = file;
    if (!ended || profile) image = std::make_shared<CompletedJpegImage>(std::move(file), ended, std::move(profile));
    return pictureOf({pageOf(info.width, info.height, info.xDpi, info.yDpi, info.orientation, std::move(image))});
}

}  // namespace pictolio::readers
