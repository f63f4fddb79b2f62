// SPDX-License-Identifier: GPL-3.0-or-later
// Colour profiles (ICC) as pictures carry them, and what PNG files say beside their pixels.

#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>

#include "imaging/jpegfile.h"
#include "pictures/picturereaders.h"

namespace pictolio::readers {

namespace {

std::uint32_t be32(const std::uint8_t* p) {
    return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) | p[3];
}

// The text of the profile's description tag ('desc': ASCII in a version 2 profile, UTF-16 in
// the first record of a version 4 'mluc'), as far as ASCII goes; "" when it has none.
std::string description(const std::vector<std::uint8_t>& p) {
    const std::size_t tags = be32(p.data() + 128);
    for (std::size_t i = 0; i < tags && 132 + 12 * (i + 1) <= p.size(); ++i) {
        const std::uint8_t* entry = p.data() + 132 + 12 * i;
        if (std::memcmp(entry, "desc", 4) != 0) continue;
        const std::size_t at = be32(entry + 4), size = be32(entry + 8);
        if (at > p.size() || size > p.size() - at || size < 12) return {};
        const std::uint8_t* tag = p.data() + at;
        std::string text;
        if (std::memcmp(tag, "desc", 4) == 0) {
            const std::size_t length = std::min<std::size_t>(be32(tag + 8), size - 12);
            text.assign(reinterpret_cast<const char*>(tag + 12), length);
        } else if (std::memcmp(tag, "mluc", 4) == 0 && size >= 28 && be32(tag + 8) > 0) {
            const std::size_t length = be32(tag + 20), from = be32(tag + 24);
            if (from > size || length > size - from) return {};
            for (std::size_t c = 0; c + 1 < length; c += 2) text += char(tag[from + c + 1]);
        }
        return text.substr(0, text.find('\0'));
    }
    return {};
}

// The profile bytes of a picture's image, shared by every page and image that carries them.
ColourProfile shared(std::vector<std::uint8_t> bytes) {
    return std::make_shared<const std::vector<std::uint8_t>>(std::move(bytes));
}

}  // namespace

ColourProfile usableProfile(std::vector<std::uint8_t> profile, int components) {
    if (profile.size() > maxProfileBytes || imaging::profileComponents(profile) != components ||
        be32(profile.data()) > profile.size())
        return nullptr;
    // sRGB is what untagged pictures are taken to be: such pictures stay as they were.
    if (description(profile).rfind("sRGB", 0) == 0) return nullptr;
    return shared(std::move(profile));
}

std::vector<std::uint8_t> jpegProfile(const std::uint8_t* data, std::size_t size) {
    static constexpr char mark[12] = {'I', 'C', 'C', '_', 'P', 'R', 'O', 'F', 'I', 'L', 'E', '\0'};
    std::map<int, std::pair<const std::uint8_t*, std::size_t>> chunks;  // by sequence number
    int count = 0;
    std::size_t total = 0;
    for (std::size_t at = 2; at + 4 <= size;) {
        if (data[at] != 0xFF) return {};
        const std::uint8_t marker = data[at + 1];
        if (marker == 0xFF) {
            ++at;
            continue;
        }
        if (marker == 0xDA || marker == 0xD9) break;  // the first scan: no more headers
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
            at += 2;
            continue;
        }
        const std::size_t length = (std::size_t(data[at + 2]) << 8) | data[at + 3];
        if (length < 2 || length > size - at - 2) return {};
        if (marker == 0xE2 && length >= 16 && std::memcmp(data + at + 4, mark, sizeof mark) == 0) {
            const int sequence = data[at + 16], of = data[at + 17];
            if (sequence == 0 || sequence > of || (count && of != count) || chunks.count(sequence)) return {};
            count = of;
            chunks[sequence] = {data + at + 18, length - 16};
            total += length - 16;
            if (total > maxProfileBytes) return {};
        }
        at += 2 + length;
    }
    if (count == 0 || int(chunks.size()) != count) return {};
    std::vector<std::uint8_t> profile;
    profile.reserve(total);
    for (const auto& [sequence, chunk] : chunks) profile.insert(profile.end(), chunk.first, chunk.first + chunk.second);
    return profile;
}

PngExtras pngExtras(int fd, std::int64_t fileSize) {
    PngExtras extras;
    std::uint8_t head[8];
    if (fileSize < 8 || !readAt(fd, 0, 8, head) || std::memcmp(head, "\x89PNG\r\n\x1A\n", 8) != 0) return extras;
    extras.png = true;
    // The contents of a chunk, read when its checksum holds (else it is ignored, as decoders do).
    const auto contents = [&](std::int64_t at, std::size_t length, std::vector<std::uint8_t>* body) {
        std::vector<std::uint8_t> chunk(length + 8);
        if (!readAt(fd, std::size_t(at + 4), chunk.size(), chunk.data())) return false;
        if (std::uint32_t(crc32(0, chunk.data(), uInt(length + 4))) != be32(chunk.data() + length + 4)) return false;
        body->assign(chunk.begin() + 4, chunk.begin() + 4 + std::ptrdiff_t(length));
        return true;
    };
    bool imageData = false;  // past the first IDAT chunk: the colour chunks come before it
    std::vector<std::uint8_t> body;
    for (std::int64_t at = 8; at + 12 <= fileSize;) {
        std::uint8_t chunk[8];
        if (!readAt(fd, std::size_t(at), 8, chunk)) break;
        const std::uint32_t length = be32(chunk);
        if (length > 0x7FFFFFFF || std::int64_t(length) > fileSize - at - 12) break;
        const char* type = reinterpret_cast<const char*>(chunk + 4);
        if (std::memcmp(type, "IEND", 4) == 0) break;
        if (std::memcmp(type, "IDAT", 4) == 0) imageData = true;
        if (!imageData && std::memcmp(type, "sRGB", 4) == 0) extras.srgb = true;
        // iCCP: a name of 1 to 79 bytes, its end, the compression method (0), zlib data.
        if (!imageData && std::memcmp(type, "iCCP", 4) == 0 && length <= maxProfileBytes &&
            contents(at, length, &body)) {
            const auto end = std::find(body.begin(), body.end(), std::uint8_t(0));
            const std::size_t name = std::size_t(end - body.begin());
            if (name >= 1 && name <= 79 && name + 2 < body.size() && body[name + 1] == 0)
                extras.profile = inflated(body.data() + name + 2, body.size() - name - 2, maxProfileBytes);
        }
        if (std::memcmp(type, "eXIf", 4) == 0 && length <= (1u << 20) && contents(at, length, &body))
            extras.orientation = imaging::exifOrientation(body.data(), body.size());
        at += 12 + std::int64_t(length);
    }
    return extras;
}

std::vector<std::uint8_t> inflated(const std::uint8_t* data, std::size_t size, std::size_t most) {
    z_stream z{};
    if (inflateInit(&z) != Z_OK) return {};
    std::vector<std::uint8_t> out;
    std::uint8_t piece[16384];
    z.next_in = const_cast<Bytef*>(data);
    z.avail_in = uInt(size);
    int status = Z_OK;
    while (status == Z_OK) {
        z.next_out = piece;
        z.avail_out = sizeof piece;
        status = inflate(&z, Z_NO_FLUSH);
        out.insert(out.end(), piece, piece + (sizeof piece - z.avail_out));
        if (out.size() > most || (status == Z_BUF_ERROR && z.avail_in == 0)) break;
    }
    inflateEnd(&z);
    if (status != Z_STREAM_END || out.size() > most) return {};
    return out;
}

std::vector<std::uint8_t> webpChunk(int fd, std::int64_t fileSize, const char* type, std::size_t most) {
    std::uint8_t h[12];
    if (fileSize < 12 || !readAt(fd, 0, 12, h) || std::memcmp(h, "RIFF", 4) != 0 || std::memcmp(h + 8, "WEBP", 4) != 0)
        return {};
    std::int64_t at = 12;
    for (int chunks = 0; chunks < 1000 && at + 8 <= fileSize; ++chunks) {
        if (!readAt(fd, std::size_t(at), 8, h)) return {};
        const std::int64_t size = le32(h + 4);
        if (std::memcmp(h, type, 4) == 0) {
            if (size > std::int64_t(most) || at + 8 + size > fileSize) return {};
            std::vector<std::uint8_t> body(static_cast<std::size_t>(size));
            if (!readAt(fd, std::size_t(at + 8), body.size(), body.data())) return {};
            return body;
        }
        at += 8 + size + (size & 1);
    }
    return {};
}

}  // namespace pictolio::readers
