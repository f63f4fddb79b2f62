// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/pngfile.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <memory>

namespace imaging {

const char* toString(PngStatus status) {
    switch (status) {
        case PngStatus::Ok: return "ok";
        case PngStatus::NotPng: return "not a PNG file";
        case PngStatus::Truncated: return "cut short";
        case PngStatus::Corrupt: return "damaged";
        case PngStatus::Unsupported: return "not supported";
        case PngStatus::TooLarge: return "too large";
    }
    return "unknown";
}

int PngInfo::channels() const {
    switch (colorType) {
        case 2: return 3;
        case 4: return 2;
        case 6: return 4;
        default: return 1;
    }
}

namespace {

constexpr std::uint8_t signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr std::uint32_t largestChunk = 0x7FFFFFFF;

std::uint32_t be32(const std::uint8_t* p) {
    return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) |
           std::uint32_t(p[3]);
}

bool isType(const std::uint8_t* type, const char* name) { return std::memcmp(type, name, 4) == 0; }

bool validDepth(int colorType, int depth) {
    switch (colorType) {
        case 0: return depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16;
        case 3: return depth == 1 || depth == 2 || depth == 4 || depth == 8;
        case 2:
        case 4:
        case 6: return depth == 8 || depth == 16;
        default: return false;
    }
}

// The rows the image data holds: for an interlaced picture, those of each of its seven passes.
struct Rows {
    std::uint64_t count;
    std::uint64_t bytes;  // each, after its filter byte
};

std::vector<Rows> rowsOf(const PngInfo& info) {
    const std::uint64_t bitsPerPixel = std::uint64_t(info.channels()) * std::uint64_t(info.bitDepth);
    const auto rowBytes = [&](std::uint64_t width) { return (width * bitsPerPixel + 7) / 8; };
    const std::uint64_t w = std::uint64_t(info.width), h = std::uint64_t(info.height);
    if (!info.interlaced) return {{h, rowBytes(w)}};
    static const int passes[7][4] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                     {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
    std::vector<Rows> rows;
    for (const auto& p : passes) {
        const std::uint64_t pw = w > std::uint64_t(p[0]) ? (w - p[0] + p[2] - 1) / p[2] : 0;
        const std::uint64_t ph = h > std::uint64_t(p[1]) ? (h - p[1] + p[3] - 1) / p[3] : 0;
        if (pw > 0 && ph > 0) rows.push_back({ph, rowBytes(pw)});
    }
    return rows;
}

// How much of the file is read at a time.
constexpr std::size_t pieceSize = std::size_t(1) << 16;

// 1234567 as "1,234,567".
std::string grouped(std::uint64_t n) {
    std::string digits = std::to_string(n);
    for (int at = int(digits.size()) - 3; at > 0; at -= 3) digits.insert(std::size_t(at), ",");
    return digits;
}

// Inflates the image data and follows its rows: every row's filter byte known, exactly the
// rows declared, nothing after the stream. why: as checkPng's.
PngStatus checkImageData(const ReadAt& read, const PngInfo& info, std::string* why) {
    const std::vector<Rows> rows = rowsOf(info);
    std::size_t part = 0;  // which group of rows
    std::uint64_t rowsLeft = rows.empty() ? 0 : rows[0].count;
    std::uint64_t untilFilter = 0;  // bytes before the next row's filter byte
    bool done = rows.empty();

    z_stream z{};
    if (inflateInit(&z) != Z_OK) return PngStatus::Unsupported;
    const std::unique_ptr<z_stream, void (*)(z_stream*)> guard(&z, [](z_stream* s) { inflateEnd(s); });
    constexpr std::size_t chunk = 1 << 16;
    const std::unique_ptr<std::uint8_t[]> out(new std::uint8_t[chunk]);
    const std::unique_ptr<std::uint8_t[]> in(new std::uint8_t[pieceSize]);
    bool ended = false;
    for (const PngInfo::Range& range : info.imageData) {
        for (std::size_t from = 0; from < range.length;) {
            if (ended) return PngStatus::Unsupported;  // data after the stream
            const std::size_t n = std::min(pieceSize, range.length - from);
            if (!read(range.offset + from, n, in.get())) return PngStatus::Truncated;
            from += n;
            z.next_in = in.get();
            z.avail_in = uInt(n);
            // Until this piece is used up and zlib holds back no output.
            for (bool full = true; !ended && (z.avail_in > 0 || full);) {
                z.next_out = out.get();
                z.avail_out = chunk;
                const int r = inflate(&z, Z_NO_FLUSH);
                if (r == Z_STREAM_END)
                    ended = true;
                else if (r == Z_BUF_ERROR)
                    break;  // nothing more without more data
                else if (r != Z_OK) {
                    *why = std::string("its image data cannot be inflated (zlib: ") + (z.msg ? z.msg : "error") + ")";
                    return PngStatus::Corrupt;
                }
                full = z.avail_out == 0;
                const std::size_t produced = chunk - z.avail_out;
                for (std::size_t at = 0; at < produced;) {
                    if (untilFilter > 0) {
                        const std::uint64_t skip = std::min<std::uint64_t>(untilFilter, produced - at);
                        untilFilter -= skip;
                        at += std::size_t(skip);
                        continue;
                    }
                    if (done) return PngStatus::Unsupported;  // more data than rows
                    if (out[at] > 4) {
                        *why = "a row of its image data has filter type " + std::to_string(out[at]) +
                               ", which is none of the five";
                        return PngStatus::Corrupt;
                    }
                    ++at;
                    untilFilter = rows[part].bytes;
                    if (--rowsLeft == 0) {
                        if (++part == rows.size())
                            done = true;
                        else
                            rowsLeft = rows[part].count;
                    }
                }
            }
            if (ended && z.avail_in > 0) return PngStatus::Unsupported;
        }
    }
    if (!ended || !done || untilFilter > 0) {
        *why = "its image data stops short of the " + grouped(std::uint64_t(info.height)) + " rows its header declares";
        return PngStatus::Truncated;
    }
    return PngStatus::Ok;
}

}  // namespace

namespace {

// A chunk as the check reads it: where it is, its type, and (for small chunks the picture needs)
// its contents, its checksum checked.
struct Chunk {
    std::size_t at = 0;
    std::uint32_t length = 0;
    std::uint8_t type[4] = {};
    bool critical = false;
    bool crcOk = false;
    std::vector<std::uint8_t> body;  // read whole when small and used; the image data is not
    bool is(const char* name) const { return isType(type, name); }
    std::string name() const { return std::string(reinterpret_cast<const char*>(type), 4); }
};

// Reads the chunk at `at`: its length and type checked, and the checksum of each chunk that makes
// the picture or that the picture uses.
PngStatus readChunk(std::size_t size, const ReadAt& read, std::size_t at, std::uint8_t* piece, Chunk& chunk,
                    std::string* why) {
    if (size - at < 12) return PngStatus::Truncated;
    std::uint8_t chunkHead[8];
    if (!read(at, 8, chunkHead)) return PngStatus::Truncated;
    chunk.at = at;
    chunk.length = be32(chunkHead);
    std::memcpy(chunk.type, chunkHead + 4, 4);
    if (chunk.length > largestChunk) return PngStatus::Corrupt;
    for (const std::uint8_t c : chunk.type)
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))) return PngStatus::Corrupt;
    if (size - at - 12 < chunk.length) return PngStatus::Truncated;
    chunk.critical = chunk.type[0] >= 'A' && chunk.type[0] <= 'Z';
    chunk.crcOk = false;
    chunk.body.clear();
    if (!chunk.critical && !chunk.is("tRNS") && !chunk.is("pHYs")) return PngStatus::Ok;
    uLong crc = crc32(0, chunk.type, 4);
    if (!chunk.is("IDAT") && chunk.length <= 1024) {
        chunk.body.resize(chunk.length);
        if (chunk.length > 0 && !read(at + 8, chunk.length, chunk.body.data())) return PngStatus::Truncated;
        crc = crc32(crc, chunk.body.data(), uInt(chunk.length));
    } else {
        for (std::size_t from = 0; from < chunk.length;) {
            const std::size_t n = std::min<std::size_t>(pieceSize, chunk.length - from);
            if (!read(at + 8 + from, n, piece)) return PngStatus::Truncated;
            crc = crc32(crc, piece, uInt(n));
            from += n;
        }
    }
    std::uint8_t stored[4];
    if (!read(at + 8 + chunk.length, 4, stored)) return PngStatus::Truncated;
    chunk.crcOk = std::uint32_t(crc) == be32(stored);
    if (chunk.critical && !chunk.crcOk) {
        *why = "its " + chunk.name() + " chunk at byte " + grouped(at) + " fails its checksum";
        return PngStatus::Corrupt;
    }
    return PngStatus::Ok;
}

// IHDR: the picture's size, samples and interlace.
PngStatus readHeader(const Chunk& chunk, PngInfo& out, std::string* why) {
    if (chunk.length != 13) {
        *why = "its header (IHDR) is not 13 bytes long";
        return PngStatus::Corrupt;
    }
    const std::uint8_t* contents = chunk.body.data();
    const std::uint32_t w = be32(contents), h = be32(contents + 4);
    out.bitDepth = contents[8];
    out.colorType = contents[9];
    if (w == 0 || h == 0 || w > largestChunk || h > largestChunk) {
        *why = "its header gives " + std::to_string(w) + " x " + std::to_string(h) + " pixels";
        return PngStatus::Corrupt;
    }
    if (!validDepth(out.colorType, out.bitDepth)) {
        *why = "its header gives samples of " + std::to_string(out.bitDepth) + " bits in colour type " +
               std::to_string(out.colorType) + ", which PNG does not have";
        return PngStatus::Corrupt;
    }
    if (contents[10] != 0 || contents[12] > 1) {
        *why = "its header gives compression method " + std::to_string(contents[10]) + " and interlace method " +
               std::to_string(contents[12]) + " (PNG has 0, and 0 or 1)";
        return PngStatus::Corrupt;
    }
    if (contents[11] != 0) {  // a filter method of MNG's
        *why = "filter method " + std::to_string(contents[11]) + ", which only MNG files use";
        return PngStatus::Unsupported;
    }
    if (std::uint64_t(w) * h > maxPngPixels) {
        *why = std::to_string(w) + " x " + std::to_string(h) + " pixels, more than the " + grouped(maxPngPixels) +
               " a PNG picture may have";
        return PngStatus::TooLarge;
    }
    out.width = int(w);
    out.height = int(h);
    out.interlaced = contents[12] == 1;
    return PngStatus::Ok;
}

// tRNS and pHYs before the image data, when whole; a transparency that does not fit the colour
// type is ignored, as decoders do.
void readAncillary(const Chunk& chunk, bool havePalette, PngInfo& out) {
    const std::uint8_t* contents = chunk.body.data();
    const std::size_t length = chunk.length;
    if (chunk.is("tRNS")) {
        const bool fits = out.colorType == 0   ? length == 2
                          : out.colorType == 2 ? length == 6
                          : out.colorType == 3 ? havePalette && length <= out.palette.size() / 3
                                               : false;
        if (fits) out.transparency.assign(contents, contents + length);
    } else if (chunk.is("pHYs") && length == 9 && contents[8] == 1) {
        const double x = be32(contents) * 0.0254, y = be32(contents + 4) * 0.0254;
        if (x >= 10 && x <= 10000 && y >= 10 && y <= 10000) out.xDpi = x, out.yDpi = y;
    }
}

}  // namespace

PngStatus checkPng(std::size_t size, const ReadAt& read, PngInfo* info, std::string* why) {
    std::string unsaid;
    if (!why) why = &unsaid;
    why->clear();
    PngInfo out;
    std::uint8_t head[8];
    if (size < 8 || !read(0, 8, head) || std::memcmp(head, signature, 8) != 0) return PngStatus::NotPng;
    bool haveHeader = false, havePalette = false;
    int idatRun = 0;  // 0: none yet, 1: in the IDAT chunks, 2: past them
    const std::unique_ptr<std::uint8_t[]> piece(new std::uint8_t[pieceSize]);
    Chunk chunk;
    for (std::size_t at = 8;; at = chunk.at + 12 + chunk.length) {
        if (const PngStatus status = readChunk(size, read, at, piece.get(), chunk, why); status != PngStatus::Ok) return status;
        if (!haveHeader && !chunk.is("IHDR")) {
            *why = "its first chunk is " + chunk.name() + ", not the header (IHDR)";
            return PngStatus::Corrupt;
        }
        if (idatRun == 1 && !chunk.is("IDAT")) idatRun = 2;
        if (chunk.is("IHDR")) {
            if (haveHeader) {
                *why = "it has a second header (IHDR)";
                return PngStatus::Corrupt;
            }
            if (const PngStatus status = readHeader(chunk, out, why); status != PngStatus::Ok) return status;
            haveHeader = true;
        } else if (chunk.is("PLTE")) {
            const std::uint32_t length = chunk.length;
            if (havePalette || idatRun > 0 || length == 0 || length % 3 != 0 || length > 768) return PngStatus::Corrupt;
            if (out.colorType == 0 || out.colorType == 4) return PngStatus::Corrupt;
            if (out.colorType == 3) out.palette.assign(chunk.body.begin(), chunk.body.end());
            havePalette = true;
        } else if (chunk.is("IDAT")) {
            if (idatRun == 2) {
                *why = "its image data is in pieces (IDAT chunks) with other chunks between them";
                return PngStatus::Corrupt;
            }
            if (out.colorType == 3 && out.palette.empty()) {
                *why = "its image data (IDAT) comes before its palette (PLTE), or it has none";
                return PngStatus::Corrupt;
            }
            idatRun = 1;
            out.imageData.push_back({at + 8, chunk.length});
        } else if (chunk.is("IEND")) {
            if (idatRun == 0) {
                *why = "it ends (IEND) before any image data (IDAT)";
                return PngStatus::Corrupt;
            }
            break;
        } else if (chunk.critical) {
            *why = "its chunk " + chunk.name() + " must be understood to show the picture, and is of no kind PNG defines";
            return PngStatus::Unsupported;
        } else if (chunk.crcOk && idatRun == 0) {
            readAncillary(chunk, havePalette, out);
        }
    }
    const PngStatus image = checkImageData(read, out, why);
    if (image != PngStatus::Ok) return image;
    *info = std::move(out);
    return PngStatus::Ok;
}

}  // namespace imaging
