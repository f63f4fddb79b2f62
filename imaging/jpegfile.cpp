// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/jpegfile.h"
#include "imaging/huffmanscan.h"
#include "imaging/jpeglibrary.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <stdexcept>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

extern "C" {
#include <jpeglib.h>
#include <jerror.h>
}

namespace imaging {

const char* toString(JpegStatus status) {
    switch (status) {
        case JpegStatus::Ok:
            return "valid JPEG";
        case JpegStatus::NotJpeg:
            return "not a JPEG file";
        case JpegStatus::Truncated:
            return "the JPEG data ends too early";
        case JpegStatus::DataMissing:
            return "part of the JPEG picture data is missing";
        case JpegStatus::Corrupt:
            return "the JPEG data is damaged";
        case JpegStatus::Unsupported:
            return "a kind of JPEG that is not supported (12-bit, lossless, hierarchical or too "
                   "many scans)";
        case JpegStatus::TooLarge:
            return "the picture is too large";
    }
    return "unknown";
}

const std::uint8_t adobeRgbSegment[16] = {0xFF, 0xEE, 0x00, 0x0E, 'A',  'd',  'o',  'b',
                                          'e',  0x00, 0x64, 0x00, 0x00, 0x00, 0x00, 0x00};

namespace {

unsigned be16(const std::uint8_t* p) { return (unsigned(p[0]) << 8) | p[1]; }

// Reads EXIF's TIFF structure with every offset checked against the segment.
class TiffReader {
public:
    TiffReader(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}

    bool init() {
        if (m_size < 8) return false;
        if (m_data[0] == 'I' && m_data[1] == 'I')
            m_little = true;
        else if (m_data[0] == 'M' && m_data[1] == 'M')
            m_little = false;
        else
            return false;
        return u16(2) == 42;
    }
    std::uint32_t u16(std::size_t at) const {
        if (at + 2 > m_size) return 0;
        const std::uint8_t* p = m_data + at;
        return m_little ? (p[0] | (p[1] << 8)) : ((p[0] << 8) | p[1]);
    }
    std::uint32_t u32(std::size_t at) const {
        if (at + 4 > m_size) return 0;
        const std::uint8_t* p = m_data + at;
        return m_little ? (std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) |
                           (std::uint32_t(p[2]) << 16) | (std::uint32_t(p[3]) << 24))
                        : ((std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) |
                           (std::uint32_t(p[2]) << 8) | std::uint32_t(p[3]));
    }
    double rational(std::size_t at) const {
        const std::uint32_t num = u32(at), den = u32(at + 4);
        return den == 0 ? 0.0 : double(num) / double(den);
    }
    std::size_t size() const { return m_size; }

private:
    const std::uint8_t* m_data;
    std::size_t m_size;
    bool m_little = false;
};

void parseExif(const std::uint8_t* p, std::size_t len, JpegInfo* info, double* xRes,
               double* yRes, int* resUnit) {
    if (len < 6 || std::memcmp(p, "Exif\0\0", 6) != 0) return;
    TiffReader tiff(p + 6, len - 6);
    if (!tiff.init()) return;
    const std::size_t ifd = tiff.u32(4);
    if (ifd < 8 || ifd + 2 > tiff.size()) return;
    const unsigned count = tiff.u16(ifd);
    for (unsigned i = 0; i < count; ++i) {
        const std::size_t e = ifd + 2 + std::size_t(i) * 12;
        if (e + 12 > tiff.size()) break;
        const unsigned tag = tiff.u16(e), type = tiff.u16(e + 2);
        switch (tag) {
            case 0x0112:  // Orientation, SHORT
                if (type == 3) {
                    const unsigned o = tiff.u16(e + 8);
                    info->orientation = (o >= 1 && o <= 8) ? int(o) : 1;
                }
                break;
            case 0x011A:  // XResolution, RATIONAL
                if (type == 5) *xRes = tiff.rational(tiff.u32(e + 8));
                break;
            case 0x011B:  // YResolution
                if (type == 5) *yRes = tiff.rational(tiff.u32(e + 8));
                break;
            case 0x0128:  // ResolutionUnit, SHORT
                if (type == 3) *resUnit = int(tiff.u16(e + 8));
                break;
            default:
                break;
        }
    }
}

}  // namespace

int exifOrientation(const std::uint8_t* data, std::size_t size) {
    JpegInfo info;
    double xRes = 0, yRes = 0;
    int unit = 2;
    if (size >= 6 && std::memcmp(data, "Exif\0\0", 6) == 0) {
        parseExif(data, size, &info, &xRes, &yRes, &unit);
    } else {
        std::vector<std::uint8_t> block(6 + size);
        std::memcpy(block.data(), "Exif\0\0", 6);
        if (size > 0) std::memcpy(block.data() + 6, data, size);
        parseExif(block.data(), block.size(), &info, &xRes, &yRes, &unit);
    }
    return info.orientation;
}

namespace {

// The next marker in entropy-coded data from `at`: the 0xFF that starts it, or `size` when the
// data ends first. Stuffed zero bytes (0xFF 0x00) and fill bytes (0xFF 0xFF) are passed over, and
// restart markers counted, with where the data after the last one begins. The data holds a 0xFF
// every few hundred bytes, nearly all of them stuffed (followed by 0x00): sixty-four bytes are
// looked at a time, and only a 0xFF followed by another byte is judged.
std::size_t nextMarker(const std::uint8_t* data, std::size_t at, std::size_t size, std::size_t* restarts,
                       std::size_t* lastInterval) {
    // 1: a marker starts at p; 0: passed over.
    const auto startsMarker = [&](std::size_t p) {
        const unsigned b = data[p + 1];
        if (b == 0x00 || b == 0xFF) return false;
        if (b >= 0xD0 && b <= 0xD7) {
            ++*restarts, *lastInterval = p + 2;
            return false;
        }
        return true;
    };
#if defined(__SSE2__)
    const __m128i ff = _mm_set1_epi8(char(0xFF));
    const __m128i zero = _mm_setzero_si128();
    const auto hitsAt = [&](std::size_t i) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
        const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i + 1));
        const __m128i unstuffed = _mm_andnot_si128(_mm_cmpeq_epi8(next, zero), _mm_cmpeq_epi8(bytes, ff));
        return std::uint64_t(unsigned(_mm_movemask_epi8(unstuffed)));
    };
    for (; at + 65 <= size; at += 64)
        for (std::uint64_t hits = hitsAt(at) | hitsAt(at + 16) << 16 | hitsAt(at + 32) << 32 | hitsAt(at + 48) << 48;
             hits; hits &= hits - 1)
            if (const std::size_t p = at + std::size_t(__builtin_ctzll(hits)); startsMarker(p)) return p;
#endif
    for (; at + 1 < size; ++at)
        if (data[at] == 0xFF && startsMarker(at)) return at;
    return size;
}

bool saneDensity(double x, double y) { return x >= 10 && x <= 10000 && y >= 10 && y <= 10000; }

// --- the JPEG library, with errors leaving through setjmp/longjmp ---



extern "C" void onJpegError(j_common_ptr cinfo) {
    auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->message);
    std::longjmp(*err->jump, 1);
}

// Warnings about markers rather than picture data: the picture decodes the same.
bool harmlessWarning(int code) {
    return code == JWRN_EXTRANEOUS_DATA || code == JWRN_ADOBE_XFORM || code == JWRN_JFIF_MAJOR ||
           code == JWRN_BOGUS_ICC;
}

extern "C" void onJpegMessage(j_common_ptr cinfo, int level) {
    auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    if (level < 0 && err->warningsAreErrors && !harmlessWarning(cinfo->err->msg_code))
        onJpegError(cinfo);
}

// Called as the decoder goes: stops it past maxJpegScans scans.
extern "C" void limitScans(j_common_ptr cinfo) {
    if (!cinfo->is_decompressor) return;
    if (reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number <= maxJpegScans) return;
    auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    std::snprintf(err->message, sizeof err->message, "more than %d scans", maxJpegScans);
    std::longjmp(*err->jump, 1);
}



// Reads the headers up to the first scan. Locals that live across setjmp are plain data.
bool readHeaders(const std::uint8_t* data, std::size_t size, J_COLOR_SPACE* space) {
    jpeg_decompress_struct cinfo;
    ErrorManager err;
    std::jmp_buf jump;
    setUp(&err, &jump, false);
    cinfo.err = &err.pub;
    if (setjmp(jump)) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    jpeg_CreateDecompress(&cinfo, JPEG_LIB_VERSION, sizeof cinfo);
    cinfo.mem->max_memory_to_use = jpegMemoryLimit;
    jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
    jpeg_read_header(&cinfo, TRUE);
    *space = cinfo.jpeg_color_space;
    jpeg_destroy_decompress(&cinfo);
    return true;
}

// A destination that grows a vector: what was written stays owned by the vector, whatever
// happens, so an error half way leaks and double-frees nothing.
struct VectorDestination {
    jpeg_destination_mgr pub;
    std::vector<std::uint8_t>* out;
};

constexpr std::size_t destinationChunk = 1 << 16;

// Grows the vector; an allocation failure leaves through the JPEG library's error exit, never
// as a C++ exception through its C frames.
void growDestination(j_compress_ptr cinfo, std::size_t size) {
    auto* d = reinterpret_cast<VectorDestination*>(cinfo->dest);
    const std::size_t used = d->out->size() - d->pub.free_in_buffer;
    bool failed = false;
    try {
        d->out->resize(size);
    } catch (const std::exception&) {
        failed = true;
    }
    if (failed) {
        cinfo->err->msg_code = JERR_OUT_OF_MEMORY;
        (*cinfo->err->error_exit)(reinterpret_cast<j_common_ptr>(cinfo));
    }
    d->pub.next_output_byte = d->out->data() + used;
    d->pub.free_in_buffer = d->out->size() - used;
}

extern "C" void destinationInit(j_compress_ptr cinfo) {
    auto* d = reinterpret_cast<VectorDestination*>(cinfo->dest);
    d->pub.free_in_buffer = 0;
    d->out->clear();
    growDestination(cinfo, destinationChunk);
}

extern "C" boolean destinationEmpty(j_compress_ptr cinfo) {
    // Called when the whole buffer is full.
    auto* d = reinterpret_cast<VectorDestination*>(cinfo->dest);
    d->pub.free_in_buffer = 0;
    growDestination(cinfo, d->out->size() * 2);
    return TRUE;
}

extern "C" void destinationTerm(j_compress_ptr cinfo) {
    auto* d = reinterpret_cast<VectorDestination*>(cinfo->dest);
    d->out->resize(d->out->size() - d->pub.free_in_buffer);
}

struct Transcoding {
    jpeg_decompress_struct in;
    jpeg_compress_struct out;
    ErrorManager inErr;
    ErrorManager outErr;
    jpeg_progress_mgr progress;
    std::jmp_buf jump;
    VectorDestination destination;
    std::vector<std::uint8_t> result;
    bool inCreated = false;
    bool outCreated = false;

    ~Transcoding() {
        if (outCreated) jpeg_destroy_compress(&out);
        if (inCreated) jpeg_destroy_decompress(&in);
    }
    std::string message() const { return inErr.message[0] ? inErr.message : outErr.message; }
};

// Decodes the coefficients of the whole file and writes them again with optimised Huffman
// tables into t->result.
bool transcode(Transcoding* t, const std::uint8_t* data, std::size_t size) {
    setUp(&t->inErr, &t->jump, true);
    setUp(&t->outErr, &t->jump, true);
    t->in.err = &t->inErr.pub;
    t->out.err = &t->outErr.pub;
    if (setjmp(t->jump)) return false;
    jpeg_CreateDecompress(&t->in, JPEG_LIB_VERSION, sizeof t->in);
    t->inCreated = true;
    t->in.mem->max_memory_to_use = jpegMemoryLimit;
    t->progress = {};
    t->progress.progress_monitor = limitScans;
    t->in.progress = &t->progress;
    jpeg_mem_src(&t->in, data, static_cast<unsigned long>(size));
    jpeg_read_header(&t->in, TRUE);
    jvirt_barray_ptr* coefficients = jpeg_read_coefficients(&t->in);
    jpeg_CreateCompress(&t->out, JPEG_LIB_VERSION, sizeof t->out);
    t->outCreated = true;
    t->out.mem->max_memory_to_use = jpegMemoryLimit;
    jpeg_copy_critical_parameters(&t->in, &t->out);
    t->out.arith_code = FALSE;
    t->out.optimize_coding = TRUE;
    t->destination.out = &t->result;
    t->destination.pub.init_destination = destinationInit;
    t->destination.pub.empty_output_buffer = destinationEmpty;
    t->destination.pub.term_destination = destinationTerm;
    t->out.dest = &t->destination.pub;
    jpeg_write_coefficients(&t->out, coefficients);
    jpeg_finish_compress(&t->out);
    jpeg_finish_decompress(&t->in);
    return true;
}

}  // namespace

void setUp(ErrorManager* err, std::jmp_buf* jump, bool warningsAreErrors) {
    jpeg_std_error(&err->pub);
    err->jump = jump;
    err->pub.error_exit = onJpegError;
    err->pub.emit_message = onJpegMessage;
    err->warningsAreErrors = warningsAreErrors;
    err->message[0] = 0;
}

namespace {

// What a JPEG file's marker segments say, read one segment at a time: each step returns Ok to go
// on, or why the file is refused.
class JpegStructure {
public:
    // A start-of-frame segment (SOFn): the picture's size, components and coding.
    JpegStatus frame(unsigned marker, const std::uint8_t* seg, std::size_t segLen) {
        if (m_sawFrame) return JpegStatus::Corrupt;
        m_sawFrame = true;
        if (segLen < 6) return JpegStatus::Corrupt;
        const unsigned precision = seg[0];
        out.height = int(be16(seg + 1));
        out.width = int(be16(seg + 3));
        out.components = seg[5];
        if (out.components < 1 || out.components > 4 || out.components == 2 || segLen != 6 + 3 * std::size_t(out.components))
            return JpegStatus::Corrupt;
        if (out.width == 0 || out.height == 0) return JpegStatus::Unsupported;
        switch (marker) {
            case 0xC0:
            case 0xC1:
                break;
            case 0xC2:
                out.progressive = true;
                break;
            case 0xC9:
                out.arithmetic = true;
                m_huffman = false;
                break;
            case 0xCA:
                out.arithmetic = out.progressive = true;
                m_huffman = false;
                break;
            default:  // lossless and hierarchical processes
                return JpegStatus::Unsupported;
        }
        if (precision != 8) return JpegStatus::Unsupported;
        if (std::uint64_t(out.width) * std::uint64_t(out.height) > maxJpegPixels) return JpegStatus::TooLarge;
        for (int c = 0; c < out.components; ++c) {
            const std::uint8_t* comp = seg + 6 + 3 * c;
            const unsigned h = comp[1] >> 4, v = comp[1] & 15;
            if (h < 1 || h > 4 || v < 1 || v > 4 || comp[2] > 3) return JpegStatus::Corrupt;
            m_componentIds[c] = comp[0];
            m_componentQuant[c] = comp[2];
            m_sampling[c][0] = h, m_sampling[c][1] = v;
            m_samplingMost[0] = std::max(m_samplingMost[0], h), m_samplingMost[1] = std::max(m_samplingMost[1], v);
        }
        return JpegStatus::Ok;
    }

    // DHT: one or more Huffman tables.
    JpegStatus huffmanTables(const std::uint8_t* seg, std::size_t segLen) {
        for (std::size_t at = 0; at < segLen;) {
            if (at + 17 > segLen) return JpegStatus::Corrupt;
            const unsigned cls = seg[at] >> 4, id = seg[at] & 15;
            if (cls > 1 || id > 3) return JpegStatus::Corrupt;
            std::size_t symbols = 0;
            for (int i = 1; i <= 16; ++i) symbols += seg[at + i];
            if (symbols > 256 || at + 17 + symbols > segLen) return JpegStatus::Corrupt;
            (cls == 0 ? m_dcDefined : m_acDefined) |= 1u << id;
            // A table that will not build leaves its scans unwalked; the decoder judges it.
            (cls == 0 ? m_dcCodes : m_acCodes)[id].define(seg + at + 1, seg + at + 17);
            at += 17 + symbols;
        }
        return JpegStatus::Ok;
    }

    // DQT: one or more quantisation tables.
    JpegStatus quantisationTables(const std::uint8_t* seg, std::size_t segLen) {
        for (std::size_t at = 0; at < segLen;) {
            const unsigned precision = seg[at] >> 4, id = seg[at] & 15;
            if (precision > 1 || id > 3) return JpegStatus::Corrupt;
            const std::size_t tableLen = 1 + (precision ? 128 : 64);
            if (at + tableLen > segLen) return JpegStatus::Corrupt;
            m_quantDefined |= 1u << id;
            at += tableLen;
        }
        return JpegStatus::Ok;
    }

    // DRI.
    JpegStatus restartInterval(const std::uint8_t* seg, std::size_t segLen) {
        if (segLen < 2) return JpegStatus::Corrupt;
        m_restartInterval = be16(seg);
        return JpegStatus::Ok;
    }

    // SOS: the scan's components and tables, then its entropy-coded data, which runs from `at` to
    // the next marker other than a restart marker; `at` is left there.
    JpegStatus scan(const std::uint8_t* data, std::size_t size, std::size_t markerAt, const std::uint8_t* seg,
                    std::size_t segLen, std::size_t& at) {
        if (!m_sawFrame || segLen < 1) return JpegStatus::Corrupt;
        if (++m_scans > maxJpegScans) return JpegStatus::Unsupported;
        std::uint64_t mcus = 0;
        std::vector<ScanBlock> mcu;
        if (const JpegStatus status = scanHeader(markerAt, seg, segLen, &mcus, &mcu); status != JpegStatus::Ok)
            return status;
        m_sawScan = true;
        const std::size_t dataAt = at;
        std::size_t restarts = 0, lastInterval = at;
        at = nextMarker(data, at, size, &restarts, &lastInterval);
        if (at + 1 >= size) return JpegStatus::Truncated;
        // With restart markers, a scan cut short shows: a file cut and given its end-of-image
        // marker again (its lower part would be grey) is refused. A first progressive scan is
        // whole too.
        if (m_restartInterval > 0 && mcus > 0 && (!out.progressive || m_scans == 1) &&
            restarts + 1 < (mcus + m_restartInterval - 1) / m_restartInterval)
            return JpegStatus::DataMissing;
        // The data of a sequential scan holds every block of it: a cut file given its
        // end-of-image marker again stops part-way through a block. With restart markers, its last
        // interval is walked; without, a quick look at its end clears a whole scan.
        if (mcu.empty() || out.progressive) return JpegStatus::Ok;
        if (m_restartInterval == 0) {
            if (!scanIsWhole({data + dataAt, at - dataAt, std::move(mcu), mcus})) return JpegStatus::DataMissing;
        } else if (restarts + 1 == (mcus + m_restartInterval - 1) / m_restartInterval) {
            const std::uint64_t last = mcus - std::uint64_t(restarts) * m_restartInterval;
            if (!holdsEveryMcu({data + lastInterval, at - lastInterval, std::move(mcu), last}))
                return JpegStatus::DataMissing;
        }
        return JpegStatus::Ok;
    }

    // Whether every component of the frame was in a scan: one left out has no picture data.
    bool everyComponentScanned() const { return m_scanned == (1u << out.components) - 1; }

    // APPn segments before the first scan: JFIF's density, EXIF's orientation and density,
    // Adobe's colour transform. (Decoders read what describes the picture before the first scan
    // only.)
    void application(unsigned marker, const std::uint8_t* seg, std::size_t segLen) {
        if (m_sawScan) return;
        if (marker == 0xE0 && segLen >= 12 && std::memcmp(seg, "JFIF\0", 5) == 0) {
            out.hasJfif = true;
            m_jfifUnits = seg[7];
            m_jfifX = be16(seg + 8);
            m_jfifY = be16(seg + 10);
        } else if (marker == 0xE1) {
            parseExif(seg, segLen, &out, &m_exifX, &m_exifY, &m_exifUnit);
        } else if (marker == 0xEE && segLen >= 12 && std::memcmp(seg, "Adobe", 5) == 0) {
            out.hasAdobe = true;
            out.adobeTransform = seg[11];
        }
    }

    // The density in dots per inch: JFIF's when usable, else EXIF's.
    void settleDensity() {
        const auto take = [&](double x, double y) {
            if (!saneDensity(x, y)) return false;
            out.xDpi = x, out.yDpi = y;
            return true;
        };
        if (m_jfifUnits == 1 && take(m_jfifX, m_jfifY)) return;
        if (m_jfifUnits == 2 && take(m_jfifX * 2.54, m_jfifY * 2.54)) return;
        if (m_exifUnit == 2 && take(m_exifX, m_exifY)) return;
        if (m_exifUnit == 3) take(m_exifX * 2.54, m_exifY * 2.54);
    }

    bool sawFrame() const { return m_sawFrame; }
    bool sawScan() const { return m_sawScan; }

    JpegInfo out;

private:
    // The scan's components, each with its tables defined; the MCUs of the scan (of every
    // component at once, or of the one component alone) in *mcus.
    // The blocks of an MCU of a sequential Huffman-coded scan in *mcu, each with its tables; left
    // empty when a table cannot be walked.
    JpegStatus scanHeader(std::size_t markerAt, const std::uint8_t* seg, std::size_t segLen, std::uint64_t* mcus,
                          std::vector<ScanBlock>* mcu) {
        const auto blocks = [](std::uint64_t extent, unsigned part, unsigned whole) {
            return (extent * part + 8 * whole - 1) / (8 * whole);
        };
        const unsigned ns = seg[0];
        if (ns < 1 || ns > 4 || segLen != 4 + 2 * std::size_t(ns)) return JpegStatus::Corrupt;
        bool walkable = true;
        for (unsigned s = 0; s < ns; ++s) {
            const int id = seg[1 + 2 * s];
            const unsigned dc = seg[2 + 2 * s] >> 4, ac = seg[2 + 2 * s] & 15;
            int index = -1;
            for (int c = 0; c < out.components; ++c)
                if (m_componentIds[c] == id) index = c;
            if (index < 0) return JpegStatus::Corrupt;
            m_scanned |= 1u << index;
            if (!(m_quantDefined & (1u << m_componentQuant[index]))) return JpegStatus::Corrupt;
            if (ns == 1)
                *mcus = blocks(out.width, m_sampling[index][0], m_samplingMost[0]) *
                        blocks(out.height, m_sampling[index][1], m_samplingMost[1]);
            else
                *mcus = blocks(out.width, 1, m_samplingMost[0]) * blocks(out.height, 1, m_samplingMost[1]);
            if (!m_huffman) continue;
            const unsigned ss = seg[1 + 2 * ns], se = seg[2 + 2 * ns];
            const bool needsDc = ss == 0, needsAc = se > 0;
            if (dc > 3 || ac > 3) return JpegStatus::Corrupt;
            // Motion-JPEG frames (webcam and IP camera stills) carry no Huffman tables and mean
            // the standard ones: a baseline file without any table gets them.
            if (m_dcDefined == 0 && m_acDefined == 0 && !out.progressive && !m_sawScan && dc <= 1 && ac <= 1) {
                if (out.standardTablesAt == 0) useStandardCodes();
                out.standardTablesAt = markerAt;
            } else {
                if (needsDc && !(m_dcDefined & (1u << dc)) && !out.progressive) return JpegStatus::Corrupt;
                if (needsAc && !(m_acDefined & (1u << ac))) return JpegStatus::Corrupt;
            }
            walkable = walkable && ss == 0 && se == 63 && m_dcCodes[dc].defined() && m_acCodes[ac].defined();
            const unsigned count = ns == 1 ? 1 : m_sampling[index][0] * m_sampling[index][1];
            for (unsigned i = 0; i < count; ++i) mcu->push_back({&m_dcCodes[dc], &m_acCodes[ac]});
        }
        if (!walkable || !m_huffman || out.progressive || mcu->size() > maxMcuBlocks) mcu->clear();
        return JpegStatus::Ok;
    }

    // The standard tables, for walking a scan that means them.
    void useStandardCodes() {
        // Read as the file's own tables are; which tables the file defines stays as it was.
        const unsigned dcDefined = m_dcDefined, acDefined = m_acDefined;
        const std::vector<std::uint8_t>& segments = standardHuffmanTables();
        for (std::size_t i = 0; i + 4 <= segments.size(); i += 2 + be16(&segments[i + 2]))
            huffmanTables(&segments[i + 4], be16(&segments[i + 2]) - 2u);
        m_dcDefined = dcDefined, m_acDefined = acDefined;
    }

    bool m_sawFrame = false, m_sawScan = false, m_huffman = true;
    int m_scans = 0;
    unsigned m_quantDefined = 0, m_dcDefined = 0, m_acDefined = 0, m_scanned = 0;
    HuffmanCode m_dcCodes[4], m_acCodes[4];
    int m_componentIds[4] = {-1, -1, -1, -1};
    int m_componentQuant[4] = {0, 0, 0, 0};
    unsigned m_sampling[4][2] = {}, m_samplingMost[2] = {1, 1};  // horizontal, vertical
    std::size_t m_restartInterval = 0;
    double m_jfifX = 0, m_jfifY = 0, m_exifX = 0, m_exifY = 0;
    int m_jfifUnits = 0, m_exifUnit = 2;
};

}  // namespace

JpegStatus checkJpeg(const std::uint8_t* data, std::size_t size, JpegInfo* info) {
    if (size < 4 || data[0] != 0xFF || data[1] != 0xD8 || data[2] != 0xFF) return JpegStatus::NotJpeg;
    JpegStructure jpeg;
    for (std::size_t pos = 2;;) {
        // Between segments only markers belong; skip stray bytes as decoders do.
        while (pos < size && data[pos] != 0xFF) ++pos;
        while (pos < size && data[pos] == 0xFF) ++pos;
        if (pos >= size) return JpegStatus::Truncated;
        const unsigned marker = data[pos++];
        if (marker == 0xD9) {  // end of image
            if (!jpeg.sawScan()) return JpegStatus::Corrupt;
            if (!jpeg.everyComponentScanned()) return JpegStatus::DataMissing;
            break;
        }
        if (marker == 0xD8 || marker == 0x00) return JpegStatus::Corrupt;
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) continue;  // standalone

        if (pos + 2 > size) return JpegStatus::Truncated;
        const std::size_t length = be16(data + pos);
        if (length < 2) return JpegStatus::Corrupt;
        if (pos + length > size) return JpegStatus::Truncated;
        const std::uint8_t* seg = data + pos + 2;
        const std::size_t segLen = length - 2, markerAt = pos - 2;
        pos += length;
        JpegStatus status = JpegStatus::Ok;
        if (marker == 0xF7) return JpegStatus::Unsupported;  // a JPEG-LS frame
        if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC)
            status = jpeg.frame(marker, seg, segLen);
        else if (marker == 0xC4)
            status = jpeg.huffmanTables(seg, segLen);
        else if (marker == 0xDB)
            status = jpeg.quantisationTables(seg, segLen);
        else if (marker == 0xDD)
            status = jpeg.restartInterval(seg, segLen);
        else if (marker == 0xDA)
            status = jpeg.scan(data, size, markerAt, seg, segLen, pos);
        else
            jpeg.application(marker, seg, segLen);
        if (status != JpegStatus::Ok) return status;
    }
    if (!jpeg.sawFrame()) return JpegStatus::Corrupt;

    // What the structure cannot vouch for (table and sampling consistency, as the decoder
    // sees them) is left to the JPEG library's own header check.
    J_COLOR_SPACE space = JCS_UNKNOWN;
    if (!readHeaders(data, size, &space)) return JpegStatus::Corrupt;
    jpeg.out.rgbColorSpace = jpeg.out.components == 3 && space == JCS_RGB;
    // An arithmetic-coded file is re-encoded when it is printed: that must work now. Decoding
    // alone does not tell: the encoder refuses coefficients out of its range, and quantisation
    // tables redefined between scans.
    if (jpeg.out.arithmetic && !transcode(std::make_unique<Transcoding>().get(), data, size)) return JpegStatus::Corrupt;
    jpeg.settleDensity();
    if (info) *info = jpeg.out;
    return JpegStatus::Ok;
}

const std::vector<std::uint8_t>& standardHuffmanTables() {
    // The JPEG library writes the standard tables (Annex K of the JPEG standard) into any colour
    // file it makes without optimising them: make a tiny one and keep its table segments.
    static const std::vector<std::uint8_t> tables = [] {
        std::vector<std::uint8_t> jpeg;
        const auto t = std::make_unique<Transcoding>();
        setUp(&t->outErr, &t->jump, false);
        t->out.err = &t->outErr.pub;
        if (!setjmp(t->jump)) {
            jpeg_CreateCompress(&t->out, JPEG_LIB_VERSION, sizeof t->out);
            t->outCreated = true;
            t->destination.out = &jpeg;
            t->destination.pub.init_destination = destinationInit;
            t->destination.pub.empty_output_buffer = destinationEmpty;
            t->destination.pub.term_destination = destinationTerm;
            t->out.dest = &t->destination.pub;
            t->out.image_width = 8;
            t->out.image_height = 8;
            t->out.input_components = 3;
            t->out.in_color_space = JCS_RGB;
            jpeg_set_defaults(&t->out);
            t->out.optimize_coding = FALSE;
            jpeg_start_compress(&t->out, TRUE);
            std::uint8_t row[8 * 3] = {};
            JSAMPROW rows[1] = {row};
            while (t->out.next_scanline < 8) jpeg_write_scanlines(&t->out, rows, 1);
            jpeg_finish_compress(&t->out);
        }
        std::vector<std::uint8_t> segments;
        for (std::size_t i = 2; i + 4 <= jpeg.size();) {
            if (jpeg[i] != 0xFF || jpeg[i + 1] == 0xDA) break;
            const std::size_t length = 2 + ((std::size_t(jpeg[i + 2]) << 8) | jpeg[i + 3]);
            if (jpeg[i + 1] == 0xC4) segments.insert(segments.end(), jpeg.begin() + long(i), jpeg.begin() + long(i + length));
            i += length;
        }
        return segments;
    }();
    return tables;
}

std::vector<std::uint8_t> transcodeToHuffman(const std::uint8_t* data, std::size_t size) {
    const auto t = std::make_unique<Transcoding>();
    if (!transcode(t.get(), data, size))
        throw std::runtime_error("cannot re-encode arithmetic-coded JPEG: " + t->message());
    return std::move(t->result);
}

}  // namespace imaging
