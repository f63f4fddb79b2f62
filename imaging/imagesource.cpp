// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/imagesource.h"

#include <atomic>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <vector>

#include "imaging/jpegfile.h"

namespace imaging {

int profileComponents(const std::vector<std::uint8_t>& profile) {
    if (profile.size() < 132 || std::memcmp(profile.data() + 36, "acsp", 4) != 0) return 0;
    const char* kind = reinterpret_cast<const char*>(profile.data() + 16);
    return std::memcmp(kind, "GRAY", 4) == 0   ? 1
           : std::memcmp(kind, "RGB ", 4) == 0 ? 3
           : std::memcmp(kind, "CMYK", 4) == 0 ? 4
                                               : 0;
}

namespace {

FileIdentity identityOf(const struct stat& st) {
    FileIdentity id;
    id.device = st.st_dev;
    id.inode = st.st_ino;
    id.size = st.st_size;
    id.modifiedNs = std::int64_t(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec;
    return id;
}

class FileDescriptor {
public:
    explicit FileDescriptor(const std::string& path) : m_fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {}
    ~FileDescriptor() {
        if (m_fd >= 0) ::close(m_fd);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

[[noreturn]] void fail(const std::string& path, const std::string& why) {
    throw std::runtime_error(path + ": " + why);
}

}  // namespace

FileIdentity FileIdentity::ofDescriptor(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return {};
    return identityOf(st);
}

FileIdentity FileIdentity::ofPath(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return {};
    return identityOf(st);
}

void ImageSource::writeSoftMask(const DataSink&) const {
    throw std::runtime_error(description() + ": has no alpha channel");
}

bool ImageSource::copyDeflated(DataOut&, bool) const { return false; }

void ImageSource::copyData(DataOut& out) const {
    writeData([&](const std::uint8_t* d, std::size_t n) { out.write(d, n); });
}

void DataOut::copyFrom(int fd, std::int64_t offset, std::int64_t length, const std::string& name) {
    constexpr std::size_t chunk = std::size_t(1) << 20;
    const std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[std::size_t(std::min<std::int64_t>(chunk, length))]);
    const std::int64_t end = offset + length;
    while (offset < end) {
        const ssize_t n = ::pread(fd, buffer.get(), std::size_t(std::min<std::int64_t>(chunk, end - offset)), offset);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) fail(name, std::string("cannot be read: ") + std::strerror(errno));
        if (n == 0) fail(name, "changed since it was checked");
        write(buffer.get(), std::size_t(n));
        offset += n;
    }
}

namespace {

// Hands everything to a sink, reading file ranges itself.
class SinkOut : public DataOut {
public:
    explicit SinkOut(const DataSink& sink) : m_sink(sink) {}
    void write(const std::uint8_t* data, std::size_t size) override { m_sink(data, size); }

private:
    const DataSink& m_sink;
};

}  // namespace

FileSlicesImage::FileSlicesImage(std::string path, FileIdentity identity, ImageFormat format,
                                 std::vector<Slice> slices, std::vector<std::uint8_t> head)
    : m_path(std::move(path)), m_identity(identity), m_format(std::move(format)),
      m_slices(std::move(slices)), m_head(std::move(head)) {}

bool FileSlicesImage::stillAsChecked() const { return FileIdentity::ofPath(m_path) == m_identity; }

void FileSlicesImage::writeData(const DataSink& sink) const {
    SinkOut out(sink);
    copyData(out);
}

void FileSlicesImage::copyData(DataOut& out) const {
    FileDescriptor fd(m_path);
    if (fd.get() < 0) fail(m_path, std::string("cannot be opened: ") + std::strerror(errno));
    if (!(FileIdentity::ofDescriptor(fd.get()) == m_identity))
        fail(m_path, "changed since it was checked");
    if (!m_head.empty()) out.write(m_head.data(), m_head.size());
    for (const Slice& slice : m_slices)
        if (slice.length > 0) out.copyFrom(fd.get(), slice.offset, slice.length, m_path);
    if (!(FileIdentity::ofDescriptor(fd.get()) == m_identity))
        fail(m_path, "changed while it was read");
}

namespace {
std::atomic<std::int64_t> keptBytes{0};  // by all JPEG pictures alive
}  // namespace

JpegFileImage::JpegFileImage(std::string path, FileIdentity identity, Details details,
                             Bytes checked)
    : m_path(std::move(path)), m_identity(identity), m_details(details) {
    const auto size = std::int64_t(checked.size());
    if (size == 0 || size != identity.size) return;
    if (keptBytes.fetch_add(size) + size > keptBytesBudget) {
        keptBytes.fetch_sub(size);
        return;
    }
    // The budget gets the bytes back when the last reader is done with them.
    m_checked = std::shared_ptr<const Bytes>(new Bytes(std::move(checked)), [size](const Bytes* bytes) {
        delete bytes;
        keptBytes.fetch_sub(size);
    });
}

std::shared_ptr<const JpegFileImage::Bytes> JpegFileImage::kept() const {
    const std::lock_guard<std::mutex> hold(m_keptLock);
    return m_checked;
}

void JpegFileImage::letGoOfKeptBytes() const {
    std::shared_ptr<const Bytes> last;  // let go of after the lock
    const std::lock_guard<std::mutex> hold(m_keptLock);
    last.swap(m_checked);
}

namespace {

// Rooms let go of, kept for the next pictures up to the budget of kept bytes.
struct SpareRooms {
    std::mutex lock;
    std::vector<std::pair<void*, std::size_t>> rooms;
    std::size_t total = 0;
};
SpareRooms& spareRooms() {
    static SpareRooms* spare = new SpareRooms;  // outlives every picture, however late it goes
    return *spare;
}

}  // namespace

void* JpegFileImage::takeRoom(std::size_t size) {
    SpareRooms& spare = spareRooms();
    {
        const std::lock_guard<std::mutex> hold(spare.lock);
        for (auto it = spare.rooms.begin(); it != spare.rooms.end(); ++it)
            if (it->second == size) {
                void* room = it->first;
                spare.total -= size;
                spare.rooms.erase(it);
                return room;
            }
    }
    return ::operator new(size);
}

void JpegFileImage::giveBackRoom(void* room, std::size_t size) {
    SpareRooms& spare = spareRooms();
    {
        const std::lock_guard<std::mutex> hold(spare.lock);
        if (spare.total + size <= std::size_t(keptBytesBudget)) {
            spare.rooms.emplace_back(room, size);
            spare.total += size;
            return;
        }
    }
    ::operator delete(room);
}

bool JpegFileImage::mayKeep(std::int64_t size) { return size > 0 && keptBytes.load() + size <= keptBytesBudget; }

JpegFileImage::~JpegFileImage() = default;

bool JpegFileImage::stillAsChecked() const { return FileIdentity::ofPath(m_path) == m_identity; }

ImageFormat JpegFileImage::format() const {
    ImageFormat f;
    f.width = m_details.width;
    f.height = m_details.height;
    f.encoding = ImageEncoding::Dct;
    f.colorSpace = m_details.components == 1   ? ColorSpace::Gray
                   : m_details.components == 4 ? ColorSpace::Cmyk
                                               : ColorSpace::Rgb;
    f.inverted = m_details.components == 4 && m_details.adobe;
    return f;
}

void JpegFileImage::writeData(const DataSink& sink) const {
    SinkOut out(sink);
    copyData(out);
}

void JpegFileImage::copyData(DataOut& out) const {
    // The bytes that were checked, when they were kept; the file as it is now otherwise, when it
    // is still the one checked.
    const std::shared_ptr<const Bytes> kept = this->kept();
    std::optional<FileDescriptor> fd;
    if (!kept) fd.emplace(m_path);
    if (fd) {
        if (fd->get() < 0) fail(m_path, std::string("cannot be opened: ") + std::strerror(errno));
        if (!(FileIdentity::ofDescriptor(fd->get()) == m_identity)) fail(m_path, "changed since it was checked");
        ::posix_fadvise(fd->get(), 0, 0, POSIX_FADV_SEQUENTIAL);
    }
    const auto stillTheSame = [&] {
        if (fd && !(FileIdentity::ofDescriptor(fd->get()) == m_identity)) fail(m_path, "changed while it was read");
    };
    // The bytes [from, to) of the file.
    const auto part = [&](DataOut& to, std::int64_t from, std::int64_t end) {
        if (end <= from) return;
        if (kept)
            to.write(kept->data() + from, std::size_t(end - from));
        else
            to.copyFrom(fd->get(), from, end - from, m_path);
    };

    if (m_details.arithmetic) {
        class Collect : public DataOut {
        public:
            void write(const std::uint8_t* d, std::size_t n) override { bytes.insert(bytes.end(), d, d + n); }
            std::vector<std::uint8_t> bytes;
        } whole;
        if (!kept) {
            whole.bytes.reserve(std::size_t(m_identity.size));
            part(whole, 0, m_identity.size);
            stillTheSame();
        }
        const std::uint8_t* data = kept ? kept->data() : whole.bytes.data();
        const std::size_t size = kept ? kept->size() : whole.bytes.size();
        // The JPEG library writes the APP14 marker an RGB file needs by itself.
        const std::vector<std::uint8_t> huffman = transcodeToHuffman(data, size);
        out.write(huffman.data(), huffman.size());
        return;
    }

    // The file as it is, with what a renderer needs put in: an APP14 segment after the start
    // of image (RGB without one), the standard Huffman tables before the first scan (a
    // Motion-JPEG frame without tables).
    std::int64_t from = 0;
    const auto insert = [&](std::int64_t at, const std::uint8_t* data, std::size_t size) {
        part(out, from, at);
        out.write(data, size);
        from = at;
    };
    if (m_details.rgb && !m_details.adobe) insert(2, adobeRgbSegment, sizeof adobeRgbSegment);
    if (m_details.standardTablesAt > 0) {
        const std::vector<std::uint8_t>& tables = standardHuffmanTables();
        insert(std::int64_t(m_details.standardTablesAt), tables.data(), tables.size());
    }
    part(out, from, m_identity.size);
    stillTheSame();
}

}  // namespace imaging
