// SPDX-License-Identifier: GPL-3.0-or-later
// HEIF files (HEIC, AVIF), read with libheif: the primary image, turned and mirrored as the
// file's transformations say (libheif applies them when it decodes).

#include <libheif/heif.h>

#include <QColorSpace>
#include <QFile>
#include <QPointF>
#include <QImageReader>
#include <cstring>
#include <dlfcn.h>
#include <memory>

#include "pictures/picturereaders.h"

namespace pictolio::readers {

namespace {

// libheif, loaded the first time a HEIF file is met: it brings HEVC and AV1 codecs that take
// milliseconds to load, which a run of other pictures need not pay.
#define PICTOLIO_HEIF_FUNCTIONS(X) \
    X(heif_check_filetype) \
    X(heif_context_alloc) \
    X(heif_context_free) \
    X(heif_context_get_primary_image_handle) \
    X(heif_context_read_from_memory_without_copy) \
    X(heif_decode_image) \
    X(heif_image_get_height) \
    X(heif_image_get_nclx_color_profile) \
    X(heif_image_get_plane_readonly) \
    X(heif_image_get_width) \
    X(heif_image_handle_get_color_profile_type) \
    X(heif_image_handle_get_height) \
    X(heif_image_handle_get_nclx_color_profile) \
    X(heif_image_handle_get_raw_color_profile) \
    X(heif_image_handle_get_raw_color_profile_size) \
    X(heif_image_handle_get_width) \
    X(heif_image_handle_has_alpha_channel) \
    X(heif_image_handle_release) \
    X(heif_image_release) \
    X(heif_nclx_color_profile_free)

struct Libheif {
#define PICTOLIO_HEIF_POINTER(name) decltype(&::name) name = nullptr;
    PICTOLIO_HEIF_FUNCTIONS(PICTOLIO_HEIF_POINTER)
#undef PICTOLIO_HEIF_POINTER
    QString error;  // why it cannot be loaded; empty when it is
};

const Libheif& libheif() {
    static const Libheif library = [] {
        Libheif l;
        void* handle = ::dlopen("libheif.so.1", RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
            l.error = QString::fromLocal8Bit(::dlerror());
            return l;
        }
#define PICTOLIO_HEIF_LOOKUP(name)                                                  \
    l.name = reinterpret_cast<decltype(l.name)>(::dlsym(handle, #name));            \
    if (!l.name && l.error.isEmpty()) l.error = QStringLiteral("libheif.so.1 has no " #name);
        PICTOLIO_HEIF_FUNCTIONS(PICTOLIO_HEIF_LOOKUP)
#undef PICTOLIO_HEIF_LOOKUP
        return l;
    }();
    return library;
}

struct HeifDeleter {
    void operator()(heif_context* c) const { libheif().heif_context_free(c); }
    void operator()(heif_image_handle* h) const { libheif().heif_image_handle_release(h); }
    void operator()(heif_image* i) const { libheif().heif_image_release(i); }
};
template <typename T>
using HeifPtr = std::unique_ptr<T, HeifDeleter>;

// The ICC profile of colours described by their code points (ITU-T H.273), as phones write
// HEIF: empty for sRGB's primaries (the PDF's own RGB), for unstated ones, and for transfers a
// profile cannot hold (PQ and HLG video).
std::vector<std::uint8_t> profileOf(const heif_color_profile_nclx& nclx) {
    if (nclx.color_primaries == heif_color_primaries_ITU_R_BT_709_5 ||
        nclx.color_primaries == heif_color_primaries_unspecified)
        return {};
    QColorSpace::TransferFunction transfer = QColorSpace::TransferFunction::SRgb;
    float gamma = 0;
    switch (nclx.transfer_characteristics) {
        case heif_transfer_characteristic_linear: transfer = QColorSpace::TransferFunction::Linear; break;
        case heif_transfer_characteristic_ITU_R_BT_470_6_System_M: transfer = QColorSpace::TransferFunction::Gamma, gamma = 2.2f; break;
        case heif_transfer_characteristic_ITU_R_BT_470_6_System_B_G: transfer = QColorSpace::TransferFunction::Gamma, gamma = 2.8f; break;
        case heif_transfer_characteristic_ITU_R_BT_2100_0_PQ:
        case heif_transfer_characteristic_ITU_R_BT_2100_0_HLG: return {};
        default: break;  // sRGB's, and the video curves of BT.709 and BT.2020, shown alike
    }
    const QColorSpace space({nclx.color_primary_white_x, nclx.color_primary_white_y},
                            {nclx.color_primary_red_x, nclx.color_primary_red_y},
                            {nclx.color_primary_green_x, nclx.color_primary_green_y},
                            {nclx.color_primary_blue_x, nclx.color_primary_blue_y}, transfer, gamma);
    const QByteArray icc = space.isValid() ? space.iccProfile() : QByteArray();
    return {icc.begin(), icc.end()};
}

// Why libheif refused the file's bytes, in its own words.
Failure heifFault(const heif_error& error, const std::vector<std::uint8_t>& data) {
    const QString kind = data.size() >= 12 && std::memcmp(data.data() + 8, "avi", 3) == 0 ? QStringLiteral("AVIF")
                                                                                          : QStringLiteral("HEIF");
    const QString said = QString::fromUtf8(error.message ? error.message : "");
    // A top-level box that runs past the end: the file is cut short, whatever libheif makes of it.
    for (std::uint64_t at = 0; at + 8 <= data.size();) {
        const std::uint8_t* box = data.data() + at;
        std::uint64_t size = (std::uint64_t(box[0]) << 24) | (box[1] << 16) | (box[2] << 8) | box[3];
        if (size == 1 && at + 16 <= data.size())
            for (int i = 8; i < 16; ++i) size = (i == 8 ? 0 : size << 8) | box[i];
        if (size == 0) break;  // to the end of the file
        if (size < 8) break;   // damaged
        const QString type = QString::fromLatin1(reinterpret_cast<const char*>(box + 4), 4);
        if (size > data.size() - at && size > (std::uint64_t(1) << 48))  // past any file's end (and 2^64)
            return {QStringLiteral("damaged %1: its '%2' box claims %3 bytes").arg(kind, type).arg(size)};
        if (size > data.size() - at)
            return {QStringLiteral("truncated %1: its '%2' box runs to byte %3, the file ends at byte %4")
                        .arg(kind, type, byteCount(qint64(at + size)), byteCount(qint64(data.size())))};
        at += size;
    }
    if (error.code == heif_error_Invalid_input && error.subcode == heif_suberror_End_of_data)
        return {QStringLiteral("truncated %1: the data ends at byte %2 (libheif: %3)")
                    .arg(kind, byteCount(qint64(data.size())), said)};
    if (error.code == heif_error_Unsupported_feature || error.code == heif_error_Unsupported_filetype ||
        error.code == heif_error_Plugin_loading_error)
        return {QStringLiteral("unsupported %1: libheif: %2").arg(kind, said)};
    return {QStringLiteral("damaged %1: libheif: %2").arg(kind, said)};
}

// The primary image of the file's bytes, upright, 8-bit RGB or RGBA; or why it cannot be
// decoded (damaged, a codec libheif lacks, more memory than Qt allows one picture). profile:
// gets the image's ICC profile, when it has one or its colour code points call for one.
Outcome<QImage> decodePrimary(const std::vector<std::uint8_t>& data, std::vector<std::uint8_t>* profile) {
    const Libheif& heif = libheif();
    if (!heif.error.isEmpty()) return Failure{QStringLiteral("unsupported HEIF: libheif cannot be loaded: %1").arg(heif.error)};
    HeifPtr<heif_context> context(heif.heif_context_alloc());
    if (!context) return Failure{QStringLiteral("unsupported HEIF: libheif cannot start")};
    if (const heif_error e = heif.heif_context_read_from_memory_without_copy(context.get(), data.data(), data.size(), nullptr);
        e.code != heif_error_Ok)
        return heifFault(e, data);
    heif_image_handle* h = nullptr;
    if (const heif_error e = heif.heif_context_get_primary_image_handle(context.get(), &h); e.code != heif_error_Ok)
        return heifFault(e, data);
    const HeifPtr<heif_image_handle> handle(h);
    const heif_color_profile_type kind = heif.heif_image_handle_get_color_profile_type(handle.get());
    if (profile && (kind == heif_color_profile_type_prof || kind == heif_color_profile_type_rICC)) {
        const std::size_t size = heif.heif_image_handle_get_raw_color_profile_size(handle.get());
        profile->resize(size <= maxProfileBytes ? size : 0);
        if (!profile->empty() &&
            heif.heif_image_handle_get_raw_color_profile(handle.get(), profile->data()).code != heif_error_Ok)
            profile->clear();
    }
    const int width = heif.heif_image_handle_get_width(handle.get());
    const int height = heif.heif_image_handle_get_height(handle.get());
    const bool alpha = heif.heif_image_handle_has_alpha_channel(handle.get()) != 0;
    const int limitMb = QImageReader::allocationLimit();
    if (width <= 0 || height <= 0) return Failure{QStringLiteral("damaged HEIF: its primary image has no size")};
    if (limitMb > 0 && std::uint64_t(width) * std::uint64_t(height) * 4 > (std::uint64_t(limitMb) << 20))
        return tooLarge(width, height, std::uint64_t(width) * std::uint64_t(height) * 4, limitMb, "HEIF");
    heif_image* decoded = nullptr;
    if (const heif_error e = heif.heif_decode_image(handle.get(), &decoded, heif_colorspace_RGB,
                                               alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB,
                                               nullptr);
        e.code != heif_error_Ok)
        return heifFault(e, data);
    HeifPtr<heif_image> image(decoded);
    // Code points come in a box of the file or in the coded picture; the decoded image has both.
    if (profile && profile->empty() && kind != heif_color_profile_type_prof && kind != heif_color_profile_type_rICC) {
        heif_color_profile_nclx* nclx = nullptr;
        if ((heif.heif_image_handle_get_nclx_color_profile(handle.get(), &nclx).code == heif_error_Ok ||
             heif.heif_image_get_nclx_color_profile(image.get(), &nclx).code == heif_error_Ok) && nclx)
            *profile = profileOf(*nclx);
        heif.heif_nclx_color_profile_free(nclx);
    }
    int stride = 0;
    const std::uint8_t* plane = heif.heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &stride);
    const int w = heif.heif_image_get_width(image.get(), heif_channel_interleaved);
    const int h2 = heif.heif_image_get_height(image.get(), heif_channel_interleaved);
    if (!plane || w <= 0 || h2 <= 0 || stride < w * (alpha ? 4 : 3))
        return Failure{QStringLiteral("damaged HEIF: libheif decodes no pixels of it")};
    // The picture is the decoded plane itself, let go of with the last copy of the image.
    QImage out(plane, w, h2, stride, alpha ? QImage::Format_RGBA8888 : QImage::Format_RGB888,
               [](void* owner) { libheif().heif_image_release(static_cast<heif_image*>(owner)); }, image.get());
    if (out.isNull()) return Failure{QStringLiteral("too large: no memory for %1 x %2 pixels").arg(w).arg(h2)};
    image.release();
    return out;
}

QImage decodeHeif(const std::vector<std::uint8_t>& data) { return decodePrimary(data, nullptr).valueOr({}); }

}  // namespace

bool isHeif(const std::uint8_t* head, std::size_t size) {
    // Every HEIF file starts with its 'ftyp' box; libheif is asked only about those.
    if (size < 12 || std::memcmp(head + 4, "ftyp", 4) != 0) return false;
    if (!libheif().error.isEmpty()) return true;  // said when it is read
    const heif_filetype_result kind = libheif().heif_check_filetype(head, int(size));
    return kind == heif_filetype_yes_supported || kind == heif_filetype_yes_unsupported;
}

PictureRead loadHeif(const QString& path, int fd, const imaging::FileIdentity& identity) {
    std::vector<std::uint8_t> data;
    if (!readWhole(fd, std::size_t(identity.size), &data)) return unreadable();
    std::vector<std::uint8_t> profile;
    const Outcome<QImage> decoded = decodePrimary(data, &profile);
    if (!decoded) return Failure{decoded.reason()};
    if (!(imaging::FileIdentity::ofDescriptor(fd) == identity)) return changedWhileRead();
    const QImage& image = *decoded;
    const auto source = std::make_shared<BytesDecodedImage>(path, identity, image.width(), image.height(), false,
                                                            hasTransparency(image), decodeHeif);
    source->setProfile(std::move(profile));
    source->keep(image);
    return pictureOf({pageOf(image.width(), image.height(), 0, 0, 1, source)});
}

QImage decodeHeifFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > (qint64(2) << 30)) return {};
    const QByteArray bytes = file.readAll();
    const auto* head = reinterpret_cast<const std::uint8_t*>(bytes.constData());
    if (!isHeif(head, std::size_t(bytes.size()))) return {};
    return decodeHeif(std::vector<std::uint8_t>(head, head + bytes.size()));
}

}  // namespace pictolio::readers
