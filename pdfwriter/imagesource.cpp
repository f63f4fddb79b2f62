#include "pdfwriter/imagesource.h"

#include <atomic>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <vector>

#include "pdfwriter/jpegfile.h"

namespace pdfwriter {

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

FileSlicesImage::FileSlicesImage(std::string path, FileIdentity identity, ImageFormat format,
                                 std::vector<Slice> slices, std::vector<std::uint8_t> head)
    : m_path(std::move(path)), m_identity(identity), m_format(std::move(format)),
      m_slices(std::move(slices)), m_head(std::move(head)) {}

bool FileSlicesImage::stillAsChecked() const { return FileIdentity::ofPath(m_path) == m_identity; }

void FileSlicesImage::writeData(const DataSink& sink) const {
    FileDescriptor fd(m_path);
    if (fd.get() < 0) fail(m_path, std::string("cannot be opened: ") + std::strerror(errno));
    if (!(FileIdentity::ofDescriptor(fd.get()) == m_identity))
        fail(m_path, "changed since it was checked");
    if (!m_head.empty()) sink(m_head.data(), m_head.size());
    constexpr std::size_t chunk = std::size_t(1) << 20;
    const std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[chunk]);
    for (const Slice& slice : m_slices) {
        std::int64_t at = slice.offset;
        const std::int64_t end = slice.offset + slice.length;
        while (at < end) {
            const ssize_t n = ::pread(fd.get(), buffer.get(), std::size_t(std::min<std::int64_t>(chunk, end - at)), at);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) fail(m_path, std::string("cannot be read: ") + std::strerror(errno));
            if (n == 0) fail(m_path, "changed since it was checked");
            sink(buffer.get(), std::size_t(n));
            at += n;
        }
    }
    if (!(FileIdentity::ofDescriptor(fd.get()) == m_identity))
        fail(m_path, "changed while it was read");
}

namespace {
std::atomic<std::int64_t> keptBytes{0};  // by all JPEG pictures alive
}  // namespace

JpegFileImage::JpegFileImage(std::string path, FileIdentity identity, Details details,
                             std::vector<std::uint8_t> checked)
    : m_path(std::move(path)), m_identity(identity), m_details(details) {
    const auto size = std::int64_t(checked.size());
    if (size == 0 || size != identity.size) return;
    if (keptBytes.fetch_add(size) + size <= keptBytesBudget)
        m_checked = std::move(checked);
    else
        keptBytes.fetch_sub(size);
}

JpegFileImage::~JpegFileImage() { keptBytes.fetch_sub(std::int64_t(m_checked.size())); }

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
    // The bytes that were checked, when they were kept; the file as it is now otherwise, when it
    // is still the one checked.
    FileDescriptor fd(m_checked.empty() ? m_path : std::string());
    if (m_checked.empty()) {
        if (fd.get() < 0) fail(m_path, std::string("cannot be opened: ") + std::strerror(errno));
        if (!(FileIdentity::ofDescriptor(fd.get()) == m_identity)) fail(m_path, "changed since it was checked");
        ::posix_fadvise(fd.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
    }
    const auto stillTheSame = [&] { return m_checked.empty() ? FileIdentity::ofDescriptor(fd.get()) == m_identity : true; };

    const auto readAll = [&](const DataSink& to) {
        if (!m_checked.empty()) {
            to(m_checked.data(), m_checked.size());
            return;
        }
        constexpr std::size_t chunk = std::size_t(1) << 20;
        const std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[chunk]);
        std::int64_t total = 0;
        for (;;) {
            const ssize_t n = ::read(fd.get(), buffer.get(), chunk);
            if (n < 0) {
                if (errno == EINTR) continue;
                fail(m_path, std::string("cannot be read: ") + std::strerror(errno));
            }
            if (n == 0) break;
            to(buffer.get(), std::size_t(n));
            total += n;
        }
        if (total != m_identity.size) fail(m_path, "changed since it was checked");
    };

    if (m_details.arithmetic) {
        std::vector<std::uint8_t> whole;
        whole.reserve(std::size_t(m_identity.size));
        readAll([&](const std::uint8_t* d, std::size_t n) { whole.insert(whole.end(), d, d + n); });
        if (!stillTheSame()) fail(m_path, "changed while it was read");
        // The JPEG library writes the APP14 marker an RGB file needs by itself.
        const std::vector<std::uint8_t> huffman = transcodeToHuffman(whole.data(), whole.size());
        sink(huffman.data(), huffman.size());
        return;
    }

    // The file as it is, with what a renderer needs put in: an APP14 segment after the start
    // of image (RGB without one), the standard Huffman tables before the first scan (a
    // Motion-JPEG frame without tables).
    struct Insert {
        std::int64_t at;
        const std::uint8_t* data;
        std::size_t size;
    };
    std::vector<Insert> inserts;
    if (m_details.rgb && !m_details.adobe) inserts.push_back({2, adobeRgbSegment, sizeof adobeRgbSegment});
    if (m_details.standardTablesAt > 0) {
        const std::vector<std::uint8_t>& tables = standardHuffmanTables();
        inserts.push_back({std::int64_t(m_details.standardTablesAt), tables.data(), tables.size()});
    }
    std::int64_t offset = 0;
    std::size_t next = 0;
    readAll([&](const std::uint8_t* d, std::size_t n) {
        while (next < inserts.size() && inserts[next].at < offset + std::int64_t(n)) {
            const std::size_t head = std::size_t(inserts[next].at - offset);
            sink(d, head);
            sink(inserts[next].data, inserts[next].size);
            d += head, n -= head, offset += std::int64_t(head);
            ++next;
        }
        sink(d, n);
        offset += std::int64_t(n);
    });
    if (!stillTheSame()) fail(m_path, "changed while it was read");
}

}  // namespace pdfwriter
