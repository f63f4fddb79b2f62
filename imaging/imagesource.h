// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <cstddef>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "imaging/geometry.h"
#include "imaging/jpegfile.h"

namespace imaging {

// Indexed: one sample per pixel, an index into a palette of RGB colours.
enum class ColorSpace { Gray, Rgb, Cmyk, Indexed };

// How an image's data goes into the PDF.
enum class ImageEncoding {
    Dct,    // JPEG data, embedded as it is (DCTDecode)
    Raw,    // samples row by row, each row padded to a whole byte; compressed on the way (FlateDecode)
    Flate,  // a PNG's image data as stored: zlib data of rows with PNG filters (FlateDecode, predictor 15)
    Ccitt,  // CCITT Group 3 or Group 4 fax data as stored (CCITTFaxDecode)
};

// How CCITT fax data is coded, as the CCITTFaxDecode filter's parameters say it.
struct FaxCoding {
    int k = -1;               // -1: Group 4; 0: Group 3 one-dimensional; above 0: Group 3 mixed 1-D and 2-D
    bool blackIs1 = false;    // the codes' black runs are the picture's white (1 bits show black)
    bool encodedByteAlign = false;  // every coded row starts on a byte boundary
};

struct ImageFormat {
    int width = 0;   // as stored, before any rotation
    int height = 0;
    ColorSpace colorSpace = ColorSpace::Rgb;
    ImageEncoding encoding = ImageEncoding::Dct;
    int bitsPerComponent = 8;  // 1, 2, 4, 8 or 16 (16-bit samples big-endian)
    // Samples are stored inverted (Adobe CMYK JPEG; white-is-zero bilevel pictures).
    bool inverted = false;
    std::vector<std::uint8_t> palette;  // Indexed: the colours, three bytes each
    // Pixels shown as transparent: an inclusive range of sample values per component, as
    // stored (a PNG's transparent colour or palette entries). Empty: none.
    std::vector<int> colorKey;
    // The picture has an alpha channel, which writeSoftMask gives.
    bool softMask = false;
    FaxCoding fax;  // Ccitt
    // The picture's colour profile (ICC), when it carries one other than sRGB: the PDF gives the
    // image (an Indexed image, its palette) an ICC-based colour space of it. Ignored when the
    // profile's colours are not the image's (an RGB profile on a grey image).
    std::shared_ptr<const std::vector<std::uint8_t>> iccProfile;
};

// The number of colour components (1 grey, 3 RGB, 4 CMYK) of the colours a profile describes, from
// its header; 0 when it is no ICC profile or describes others.
int profileComponents(const std::vector<std::uint8_t>& profile);

using DataSink = std::function<void(const std::uint8_t* data, std::size_t size)>;

// A picture's pixels as 8-bit grey, row by row, for text recognition: as stored (not turned),
// possibly smaller than the picture by a whole factor.
struct GreyImage {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> pixels;  // width * height
    bool isNull() const { return width <= 0 || height <= 0; }
};
using GreyReader = std::function<GreyImage(int shrink)>;

// Where image data goes: pieces of memory, and parts of open files, which a receiver that writes
// to a file can copy without the bytes passing through the program (the kernel copies them).
class DataOut {
public:
    virtual ~DataOut() = default;
    virtual void write(const std::uint8_t* data, std::size_t size) = 0;
    // length bytes of the open file fd from offset on; name names the file in errors. This one
    // reads them and writes them. Throws std::runtime_error when the file cannot be read or ends
    // before (it changed since it was checked).
    virtual void copyFrom(int fd, std::int64_t offset, std::int64_t length, const std::string& name);
};

class ImageSource;

// A shape painted over a picture in one colour: a one-bit image over the same square, its black
// pixels painted (the print of a compact page, sharp over a background of low resolution).
struct Stencil {
    std::shared_ptr<const ImageSource> shape;  // grey, one bit a pixel: Ccitt, or Flate rows
    std::array<std::uint8_t, 3> colour{};      // RGB
};

// One picture of a print job. The job keeps only this small description; the data is read
// when the PDF is written, so a job of a thousand pages never holds a thousand pictures.
class ImageSource {
public:
    virtual ~ImageSource() = default;

    virtual ImageFormat format() const = 0;

    // Hands the image data to the sink, in pieces. Throws std::runtime_error when the data
    // cannot be given exactly as it was when the picture was checked (the file changed or
    // vanished since): the page must fail rather than show something else.
    virtual void writeData(const DataSink& sink) const = 0;

    // The same data, with the parts that go in as the file holds them handed over as file
    // ranges. This one gives everything through writeData.
    virtual void copyData(DataOut& out) const;

    // Raw samples or (mask) the alpha channel as the writer deflates them (Deflater), when the
    // picture holds them so already: false when it does not, and the writer deflates what
    // writeData or writeSoftMask give. Throws like writeData.
    virtual bool copyDeflated(DataOut& out, bool mask) const;

    // Hands the alpha channel of a picture whose format has a soft mask to the sink: 8-bit
    // samples, row by row, written as they are given (compressed on the way). Throws like
    // writeData.
    virtual void writeSoftMask(const DataSink& sink) const;

    // The picture in grey, at most `shrink` times smaller each way (1, 2, 4 or 8: the caller's
    // wish; a picture may give more pixels); a null image when it cannot be read. This one reads
    // raw samples (grey, RGB, CMYK or palette, 1 to 16 bits) or a PNG's image data through
    // writeData, a row at a time, shrunk by averaging.
    virtual GreyImage grey(int shrink) const;

    // What is painted over the picture, in order; none for a picture of one layer.
    virtual std::vector<Stencil> stencils() const { return {}; }
    // The picture made again knowing where its words are (boxes as shares of its width and height
    // as stored, y downwards), when that makes it better: a compact page drops specks of dirt
    // from its print. None when nothing changes.
    virtual std::shared_ptr<const ImageSource> guidedBy(const std::vector<Rect>& words) const {
        (void)words;
        return nullptr;
    }

    // Names the picture in the driver's log.
    virtual std::string description() const = 0;

    // Whether the picture's file is still the one that was checked (not changed, moved or
    // removed since): a page is left out rather than show something else.
    virtual bool stillAsChecked() const = 0;
    // Its data is in the PDF: bytes kept from the check may go, for the next pictures to keep
    // theirs. Wanted again, it is read from its file (while that is still the one checked).
    virtual void letGoOfKeptBytes() const {}
};

// The identity of a file's contents as the file system reports it: the same file (device and
// inode), the same size, the same modification time to the nanosecond. Metadata changes (a new
// permission, a tag a sync tool writes) leave it alone; a rewrite does not.
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t size = -1;
    std::int64_t modifiedNs = 0;

    bool operator==(const FileIdentity&) const = default;
    static FileIdentity ofDescriptor(int fd);  // size -1 when it cannot be read
    static FileIdentity ofPath(const std::string& path);
};

// Parts of a file given as they are, after bytes of its own: a PNG's image data (its IDAT
// chunks' contents), a TIFF strip of fax data, a JPEG stream kept in a TIFF file.
class FileSlicesImage : public ImageSource {
public:
    struct Slice {
        std::int64_t offset = 0;
        std::int64_t length = 0;
    };

    FileSlicesImage(std::string path, FileIdentity identity, ImageFormat format,
                    std::vector<Slice> slices, std::vector<std::uint8_t> head = {});

    ImageFormat format() const override { return m_format; }
    void writeData(const DataSink& sink) const override;
    void copyData(DataOut& out) const override;
    std::string description() const override { return m_path; }
    bool stillAsChecked() const override;
    // Encoded data the writer does not decode: whoever made the picture says how to read it grey.
    void setGreyReader(GreyReader reader) { m_greyReader = std::move(reader); }
    GreyImage grey(int shrink) const override;

private:
    std::string m_path;
    FileIdentity m_identity;
    ImageFormat m_format;
    GreyReader m_greyReader;
    std::vector<Slice> m_slices;
    std::vector<std::uint8_t> m_head;
};

// A JPEG file, embedded byte for byte. Two cases get help renderers need: an RGB file without
// an APP14 marker gets one (pixels unchanged), and an arithmetic-coded file is re-encoded with
// Huffman coding, coefficients copied.
class JpegFileImage : public ImageSource {
public:
    // Room for a file's bytes that is not cleared first: it is filled from the file at once.
    // Rooms of a mebibyte and more are taken from the ones pictures let go of, where one of the
    // same size is there: the system need not map and clear a photo's room again for every photo.
    template <typename T>
    struct Uncleared : std::allocator<T> {
        template <typename U>
        struct rebind {
            using other = Uncleared<U>;
        };
        T* allocate(std::size_t n) {
            if (n * sizeof(T) >= reusedFrom) return static_cast<T*>(takeRoom(n * sizeof(T)));
            return std::allocator<T>::allocate(n);
        }
        void deallocate(T* at, std::size_t n) {
            if (n * sizeof(T) >= reusedFrom) return giveBackRoom(at, n * sizeof(T));
            std::allocator<T>::deallocate(at, n);
        }
        template <typename U>
        void construct(U* at) noexcept {
            ::new (static_cast<void*>(at)) U;
        }
        template <typename U, typename... Args>
        void construct(U* at, Args&&... args) {
            ::new (static_cast<void*>(at)) U(std::forward<Args>(args)...);
        }
    };
    using Bytes = std::vector<std::uint8_t, Uncleared<std::uint8_t>>;
    static constexpr std::size_t reusedFrom = std::size_t(1) << 20;
    static void* takeRoom(std::size_t size);
    static void giveBackRoom(void* room, std::size_t size);

    struct Details {
        int width = 0;
        int height = 0;
        int components = 3;
        bool adobe = false;       // has an APP14 marker
        bool rgb = false;         // three components stored as RGB
        bool arithmetic = false;  // arithmetic-coded
        std::size_t standardTablesAt = 0;  // where the standard Huffman tables go; 0: none

        // What the check found that writing the file needs.
        static Details of(const JpegInfo& info) {
            return {info.width, info.height, info.components, info.hasAdobe, info.rgbColorSpace, info.arithmetic,
                    info.standardTablesAt};
        }
    };

    // checked: the file's bytes as they were checked, kept (while a small budget shared by all
    // pictures allows) so that the file is read once; otherwise it is read again when written.
    JpegFileImage(std::string path, FileIdentity identity, Details details,
                  Bytes checked = {});
    ~JpegFileImage() override;
    JpegFileImage(const JpegFileImage&) = delete;
    JpegFileImage& operator=(const JpegFileImage&) = delete;

    ImageFormat format() const override;
    void writeData(const DataSink& sink) const override;
    void copyData(DataOut& out) const override;
    std::string description() const override { return m_path; }
    bool stillAsChecked() const override;
    // Decoded by the JPEG library straight to grey, scaled in its DCT by 1/shrink.
    GreyImage grey(int shrink) const override;

    // How many bytes all pictures together keep at the most.
    static constexpr std::int64_t keptBytesBudget = 16 << 20;
    // Whether the budget would take a file of this size now.
    static bool mayKeep(std::int64_t size);
    bool keepsBytes() const { return kept() != nullptr; }
    void letGoOfKeptBytes() const override;

private:
    std::string m_path;
    FileIdentity m_identity;
    Details m_details;
    // The bytes kept, taken by each reader for as long as it reads, so that letting go of them
    // (from the thread that wrote the page) never pulls them from under another (recognition
    // reading the picture).
    std::shared_ptr<const Bytes> kept() const;
    mutable std::mutex m_keptLock;
    mutable std::shared_ptr<const Bytes> m_checked;
};

}  // namespace imaging
