// SPDX-License-Identifier: GPL-3.0-or-later
// A TIFF file read through libtiff, and a page's samples: as stored, a row at a time, or decoded
// to RGBA.
#pragma once

#include <tiffio.h>

#include <QImage>
#include <QImageReader>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "common/outcome.h"
#include "imaging/imagesource.h"

namespace pictolio::readers {

// libtiff reading through pread on a descriptor the caller keeps open, never mapping the file
// (a mapped file that shrinks would be a crash), and saying nothing on the terminal: its first
// error is kept.
class TiffFile {
public:
    TiffFile(int fd, std::int64_t size, const std::string& name) : m_fd(fd), m_size(size), m_name(name) {
        TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
        TIFFOpenOptionsSetMaxSingleMemAlloc(options, tmsize_t(QImageReader::allocationLimit()) << 20);
        TIFFOpenOptionsSetErrorHandlerExtR(options, &TiffFile::onError, this);
        TIFFOpenOptionsSetWarningHandlerExtR(options, &TiffFile::onWarning, this);
        m_tiff = TIFFClientOpenExt(name.c_str(), "rm", this, &TiffFile::read, &TiffFile::write,
                                   &TiffFile::seek, &TiffFile::close, &TiffFile::sizeOf,
                                   &TiffFile::map, &TiffFile::unmap, options);
        TIFFOpenOptionsFree(options);
    }
    ~TiffFile() {
        if (m_tiff) TIFFClose(m_tiff);
    }
    TiffFile(const TiffFile&) = delete;
    TiffFile& operator=(const TiffFile&) = delete;

    TIFF* get() const { return m_tiff; }
    bool failed() const { return m_failed; }
    const std::string& error() const { return m_error; }

private:
    static TiffFile* self(thandle_t h) { return static_cast<TiffFile*>(h); }
    static tmsize_t read(thandle_t h, void* buffer, tmsize_t size) {
        TiffFile* f = self(h);
        ssize_t n;
        do n = ::pread(f->m_fd, buffer, std::size_t(size), off_t(f->m_at));
        while (n < 0 && errno == EINTR);
        if (n > 0) f->m_at += n;
        return n;
    }
    static tmsize_t write(thandle_t, void*, tmsize_t) { return -1; }
    static toff_t seek(thandle_t h, toff_t offset, int whence) {
        TiffFile* f = self(h);
        const std::int64_t base = whence == SEEK_CUR ? f->m_at : whence == SEEK_END ? f->m_size : 0;
        f->m_at = base + std::int64_t(offset);
        return toff_t(f->m_at);
    }
    static int close(thandle_t) { return 0; }
    static toff_t sizeOf(thandle_t h) { return toff_t(self(h)->m_size); }
    static int map(thandle_t, void**, toff_t*) { return 0; }
    static void unmap(thandle_t, void*, toff_t) {}
    static int onError(TIFF*, void* user, const char*, const char* format, va_list args) {
        auto* f = static_cast<TiffFile*>(user);
        if (!f->m_failed) {
            char text[512];
            std::vsnprintf(text, sizeof text, format, args);
            f->m_error = text;
            // (some of libtiff's messages start with the file's name, which the reason has already)
            if (f->m_error.rfind(f->m_name + ": ", 0) == 0) f->m_error.erase(0, f->m_name.size() + 2);
        }
        f->m_failed = true;
        return 1;
    }
    static int onWarning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

    int m_fd;
    std::int64_t m_size;
    std::int64_t m_at = 0;
    std::string m_name;
    TIFF* m_tiff = nullptr;
    bool m_failed = false;
    std::string m_error;
};

// Hands the page's rows to the sink as stored (bilevel rows packed eight pixels a byte), one
// row in memory at a time; false when its data cannot be decoded.
bool readRows(TIFF* tif, int height, const TiffFile* file, const imaging::DataSink& sink);

// The page at the current directory as 8-bit RGBA (16-bit for grey and alpha of 16 bits), as
// stored (not turned); null when it cannot be decoded or would take more memory than Qt allows
// one picture (and why, in *why, when it is not damage that libtiff reports).
QImage decodeRgba(TIFF* tif, const TiffFile& file, std::optional<Failure>* why = nullptr);

}  // namespace pictolio::readers
