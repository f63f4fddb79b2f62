// SPDX-License-Identifier: GPL-3.0-or-later
#include "pdfwriter/pdfbuilder.h"

#include "appconfig.h"
#include "pdfwriter/deflate.h"
#include "pdfwriter/documentinfo.h"
#include "pdfwriter/recognition.h"
#include "pdfwriter/stagedfile.h"
#include "pdfwriter/textlayer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <map>
#include <optional>
#include <qpdf/Buffer.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QUtil.hh>
#include <zlib.h>
#include <sstream>
#include <stdexcept>

namespace pdfwriter {

namespace {

// Thrown when the job is abandoned while its file is written.
struct Abandoned : std::runtime_error {
    Abandoned() : std::runtime_error("abandoned before it was whole") {}
};

// The new file, written through a buffer. Parts of other files are copied by the kernel where
// it can, so a picture's bytes need not pass through the program.
class FileOutput : public DataOut {
public:
    FileOutput(int fd, std::atomic<std::uint64_t>* progress, const std::atomic<bool>* stop)
        : m_fd(fd), m_progress(progress), m_stop(stop) {}

    // Throws Abandoned once the job is to be dropped.
    void checkStop() const {
        if (m_stop && m_stop->load(std::memory_order_relaxed)) throw Abandoned();
    }

    void put(const std::string& text) {
        m_buffer += text;
        if (m_buffer.size() >= bufferSize) flush();
    }

    void write(const std::uint8_t* data, std::size_t size) override {
        if (m_buffer.size() + size < bufferSize) {
            m_buffer.append(reinterpret_cast<const char*>(data), size);
        } else {
            flush();
            writeAll(data, size);
        }
        count(size);
    }

    void copyFrom(int fd, std::int64_t offset, std::int64_t length, const std::string& name) override {
        flush();
        while (length > 0 && m_kernelCopies) {
            checkStop();
            loff_t from = offset;
            // (a piece at a time, so that a stop is heard)
            const ssize_t n =
                ::copy_file_range(fd, &from, m_fd, nullptr, std::size_t(std::min<std::int64_t>(length, 64 << 20)), 0);
            if (n > 0) {
                offset += n, length -= n, m_written += n;
                count(std::size_t(n));
            } else if (n == 0) {
                break;  // the file ended early: reading it says so
            } else if (errno != EINTR) {
                // Not between these files (other file systems, some kinds of file), or a
                // failure reading or writing, which the plain way tells apart.
                m_kernelCopies = false;
            }
        }
        if (length > 0) DataOut::copyFrom(fd, offset, length, name);
    }

    void flush() {
        if (m_buffer.empty()) return;
        writeAll(reinterpret_cast<const std::uint8_t*>(m_buffer.data()), m_buffer.size());
        m_buffer.clear();
    }

    // Leaves the next bytes of the file blank (a hole, read as zeros, white space to a PDF reader).
    void skip(std::int64_t bytes) {
        flush();
        if (::lseek(m_fd, off_t(bytes), SEEK_CUR) < 0) {
            m_failed = true;
            throw std::runtime_error(std::string("cannot write: ") + std::strerror(errno));
        }
        m_written += bytes;
    }

    // Writes text over what the file holds at the offset, once everything is written.
    void overwrite(std::int64_t at, const std::string& text) {
        flush();
        if (::pwrite(m_fd, text.data(), text.size(), off_t(at)) != ssize_t(text.size())) {
            m_failed = true;
            throw std::runtime_error(std::string("cannot write: ") + std::strerror(errno));
        }
    }

    std::int64_t offset() const { return m_written + std::int64_t(m_buffer.size()); }
    // Whether writing the file itself failed (rather than reading a picture).
    bool failed() const { return m_failed; }

private:
    static constexpr std::size_t bufferSize = 64 << 10;

    void writeAll(const std::uint8_t* data, std::size_t size) {
        checkStop();
        while (size > 0) {
            const ssize_t n = ::write(m_fd, data, size);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                m_failed = true;
                throw std::runtime_error(std::string("cannot write: ") + std::strerror(n < 0 ? errno : ENOSPC));
            }
            data += n, size -= std::size_t(n), m_written += n;
        }
    }

    void count(std::size_t n) {
        if (m_progress) m_progress->fetch_add(n, std::memory_order_relaxed);
    }

    int m_fd;
    std::atomic<std::uint64_t>* m_progress;
    const std::atomic<bool>* m_stop;
    std::string m_buffer;
    std::int64_t m_written = 0;
    bool m_kernelCopies = true;
    bool m_failed = false;
};

// The streams whose data is a picture's: its image data, or (mask) its alpha channel.
struct ImageData {
    std::shared_ptr<const ImageSource> image;
    bool mask = false;
};
using ImageStreams = std::map<QPDFObjGen, ImageData>;

void writeImageData(const ImageData& data, FileOutput& out) {
    // Raw samples and alpha channels are compressed here; everything else is already encoded.
    if (!data.mask && data.image->format().encoding != ImageEncoding::Raw) {
        data.image->copyData(out);
        return;
    }
    if (data.image->copyDeflated(out, data.mask)) return;
    const auto deflater = std::make_unique<Deflater>(out, filteredRowBytes(data.image->format(), data.mask));
    const DataSink sink = [&](const std::uint8_t* d, std::size_t n) { deflater->write(d, n); };
    if (data.mask)
        data.image->writeSoftMask(sink);
    else
        data.image->writeData(sink);
    deflater->finish();
}

std::string num(double v) { return QUtil::double_to_string(v, 4, true); }

QPDFObjectHandle imageDictionary(int width, int height, int bitsPerComponent, QPDFObjectHandle colorSpace) {
    QPDFObjectHandle dict = QPDFObjectHandle::newDictionary();
    dict.replaceKey("/Type", QPDFObjectHandle::newName("/XObject"));
    dict.replaceKey("/Subtype", QPDFObjectHandle::newName("/Image"));
    dict.replaceKey("/Width", QPDFObjectHandle::newInteger(width));
    dict.replaceKey("/Height", QPDFObjectHandle::newInteger(height));
    dict.replaceKey("/BitsPerComponent", QPDFObjectHandle::newInteger(bitsPerComponent));
    dict.replaceKey("/ColorSpace", colorSpace);
    return dict;
}

QPDFObjectHandle intArray(const std::vector<int>& values) {
    QPDFObjectHandle array = QPDFObjectHandle::newArray();
    for (const int v : values) array.appendItem(QPDFObjectHandle::newInteger(v));
    return array;
}

// Flate data whose rows carry PNG filters.
QPDFObjectHandle pngPredictor(int colors, int bitsPerComponent, int columns) {
    QPDFObjectHandle parameters = QPDFObjectHandle::newDictionary();
    parameters.replaceKey("/Predictor", QPDFObjectHandle::newInteger(15));
    parameters.replaceKey("/Colors", QPDFObjectHandle::newInteger(colors));
    parameters.replaceKey("/BitsPerComponent", QPDFObjectHandle::newInteger(bitsPerComponent));
    parameters.replaceKey("/Columns", QPDFObjectHandle::newInteger(columns));
    return parameters;
}

// The colour spaces of the pictures' colour profiles, each written once: by the profile's bytes.
using ProfileStreams = std::map<std::vector<std::uint8_t>, QPDFObjectHandle>;

// The ICC-based colour space of the image's profile; null when it has none, or one whose
// colours (grey, RGB, CMYK) are not the image's `components`.
QPDFObjectHandle profileSpace(QPDF& pdf, const ImageFormat& f, int components, ProfileStreams& profiles) {
    const std::vector<std::uint8_t>* profile = f.iccProfile.get();
    if (!profile || profile->size() < 128) return QPDFObjectHandle::newNull();
    const std::string kind(profile->begin() + 16, profile->begin() + 20);
    const int n = kind == "GRAY" ? 1 : kind == "RGB " ? 3 : kind == "CMYK" ? 4 : 0;
    if (n != components) return QPDFObjectHandle::newNull();
    QPDFObjectHandle& stream = profiles[*profile];
    if (stream.isInitialized()) return stream;
    uLongf size = compressBound(uLong(profile->size()));
    std::string deflated(size, '\0');
    if (compress2(reinterpret_cast<Bytef*>(deflated.data()), &size, profile->data(), uLong(profile->size()), 9) != Z_OK)
        throw std::runtime_error("zlib cannot compress a colour profile");
    deflated.resize(size);
    QPDFObjectHandle data = QPDFObjectHandle::newStream(&pdf, deflated);
    data.getDict().replaceKey("/Filter", QPDFObjectHandle::newName("/FlateDecode"));
    data.getDict().replaceKey("/N", QPDFObjectHandle::newInteger(n));
    data.getDict().replaceKey("/Alternate", QPDFObjectHandle::newName(n == 1   ? "/DeviceGray"
                                                                       : n == 3 ? "/DeviceRGB"
                                                                                : "/DeviceCMYK"));
    stream = QPDFObjectHandle::parse("[/ICCBased null]");
    stream.setArrayItem(1, data);
    return stream;
}

// The image's stream and the stream of its alpha channel when it has one, their data to come from
// the picture when the file is written. archive: for PDF/A, the profiles that stand for the
// device colour spaces it does not take (CMYK); null otherwise.
QPDFObjectHandle imageStream(QPDF& pdf, const std::shared_ptr<const ImageSource>& image, ImageStreams& streams,
                             ProfileStreams& profiles, const ArchiveProfiles* archive) {
    ImageFormat f = image->format();
    // PDF/A takes no DeviceCMYK beside an sRGB output intent: the inks get a CMYK profile.
    if (archive && f.colorSpace == ColorSpace::Cmyk && profileSpace(pdf, f, 4, profiles).isNull())
        f.iccProfile = systemProfile(*archive, true);
    QPDFObjectHandle space;
    int components = 3;
    switch (f.colorSpace) {
        case ColorSpace::Gray: space = QPDFObjectHandle::newName("/DeviceGray"), components = 1; break;
        case ColorSpace::Cmyk: space = QPDFObjectHandle::newName("/DeviceCMYK"), components = 4; break;
        case ColorSpace::Rgb: space = QPDFObjectHandle::newName("/DeviceRGB"); break;
        case ColorSpace::Indexed:
            space = QPDFObjectHandle::parse("[/Indexed /DeviceRGB 0 ()]");
            space.setArrayItem(2, QPDFObjectHandle::newInteger(int(f.palette.size() / 3) - 1));
            space.setArrayItem(3, QPDFObjectHandle::newString(std::string(f.palette.begin(), f.palette.end())));
            components = 1;
            break;
    }
    // (a palette's colours are RGB)
    QPDFObjectHandle tagged =
        profileSpace(pdf, f, f.colorSpace == ColorSpace::Indexed ? 3 : components, profiles);
    if (!tagged.isNull()) {
        if (f.colorSpace == ColorSpace::Indexed)
            space.setArrayItem(1, tagged);
        else
            space = tagged;
    }
    QPDFObjectHandle dict = imageDictionary(f.width, f.height, f.bitsPerComponent, space);
    if (f.inverted) {
        std::vector<int> decode;
        for (int i = 0; i < components; ++i) decode.insert(decode.end(), {1, 0});
        dict.replaceKey("/Decode", intArray(decode));
    }
    if (!f.colorKey.empty()) dict.replaceKey("/Mask", intArray(f.colorKey));
    QPDFObjectHandle stream = QPDFObjectHandle::newStream(&pdf);
    stream.replaceDict(dict);

    QPDFObjectHandle filter, parameters = QPDFObjectHandle::newNull();
    switch (f.encoding) {
        case ImageEncoding::Dct: filter = QPDFObjectHandle::newName("/DCTDecode"); break;
        case ImageEncoding::Raw:
            filter = QPDFObjectHandle::newName("/FlateDecode");
            if (filteredRowBytes(f, false) > 0) parameters = pngPredictor(components, f.bitsPerComponent, f.width);
            break;
        case ImageEncoding::Flate:
            filter = QPDFObjectHandle::newName("/FlateDecode");
            parameters = pngPredictor(components, f.bitsPerComponent, f.width);
            break;
        case ImageEncoding::Ccitt:
            filter = QPDFObjectHandle::newName("/CCITTFaxDecode");
            parameters = QPDFObjectHandle::newDictionary();
            parameters.replaceKey("/K", QPDFObjectHandle::newInteger(f.fax.k));
            parameters.replaceKey("/Columns", QPDFObjectHandle::newInteger(f.width));
            parameters.replaceKey("/Rows", QPDFObjectHandle::newInteger(f.height));
            if (f.fax.blackIs1) parameters.replaceKey("/BlackIs1", QPDFObjectHandle::newBool(true));
            if (f.fax.encodedByteAlign)
                parameters.replaceKey("/EncodedByteAlign", QPDFObjectHandle::newBool(true));
            break;
    }
    stream.getDict().replaceKey("/Filter", filter);
    if (!parameters.isNull()) stream.getDict().replaceKey("/DecodeParms", parameters);
    streams[stream.getObjGen()] = {image, false};

    if (f.softMask) {
        QPDFObjectHandle mask = QPDFObjectHandle::newStream(&pdf);
        mask.replaceDict(imageDictionary(f.width, f.height, 8, QPDFObjectHandle::newName("/DeviceGray")));
        mask.getDict().replaceKey("/Filter", QPDFObjectHandle::newName("/FlateDecode"));
        mask.getDict().replaceKey("/DecodeParms", pngPredictor(1, 8, f.width));
        streams[mask.getObjGen()] = {image, true};
        stream.getDict().replaceKey("/SMask", mask);
    }
    return stream;
}

// The PDF version the images need: 1.4 for soft masks, 1.5 for 16-bit samples; 1.7, which
// PDF/A-2 is made of, for PDF/A.
std::string versionFor(const std::vector<Page>& pages, bool archival) {
    if (archival) return "1.7";
    std::string version = "1.3";
    for (const Page& page : pages)
        for (const Placement& p : page.images) {
            const ImageFormat f = p.image->format();
            if (f.bitsPerComponent == 16) return "1.5";
            if (f.softMask) version = "1.4";
        }
    return version;
}

// Builds the document from the pages that still have pictures; false when none has.
// notes: what the text layer lacks, page by page. Throws when recognition was stopped.
bool buildDocument(QPDF& pdf, const std::vector<Page>& pagesToWrite, const PrintJob& job, const std::string& path,
                   const ArchiveProfiles& archive, ImageStreams& streams, std::vector<std::string>* notes) {
    pdf.emptyPDF();
    QPDFPageDocumentHelper pages(pdf);
    std::optional<QPDFObjectHandle> font;  // the text layer's, made for the first page with text
    ProfileStreams profiles;
    for (std::size_t pageNumber = 1; pageNumber <= pagesToWrite.size(); ++pageNumber) {
        const Page& page = pagesToWrite[pageNumber - 1];
        QPDFObjectHandle xobjects = QPDFObjectHandle::newDictionary();
        std::ostringstream content;
        std::string text;
        int turn = 0;
        int n = 0;
        for (const Placement& p : page.images) {
            if (p.text) {
                const RecognisedText& recognised = p.text->get();
                if (recognised.cancelled) throw std::runtime_error("stopped");
                if (!recognised.error.empty() && notes)
                    notes->push_back("no text on page " + std::to_string(pageNumber) + ": " + recognised.error);
                if (n == 0 && recognised.turnsPage) turn = recognised.turn;
                text += textLayerContent(recognised, p.matrix, "/F0");
            }
            const std::string name = "/Im" + std::to_string(n++);
            xobjects.replaceKey(name, imageStream(pdf, p.image, streams, profiles, job.details.pdfa ? &archive : nullptr));
            const Matrix& m = p.matrix;
            content << "q " << num(p.clip.x) << ' ' << num(p.clip.y) << ' '
                    << num(p.clip.width) << ' ' << num(p.clip.height) << " re W n " << num(m.a)
                    << ' ' << num(m.b) << ' ' << num(m.c) << ' ' << num(m.d) << ' ' << num(m.e)
                    << ' ' << num(m.f) << " cm " << name << " Do Q\n";
        }
        content << text;
        QPDFObjectHandle resources = QPDFObjectHandle::newDictionary();
        resources.replaceKey("/XObject", xobjects);
        if (!text.empty()) {
            if (!font) font = textLayerFont(pdf);
            QPDFObjectHandle fonts = QPDFObjectHandle::newDictionary();
            fonts.replaceKey("/F0", *font);
            resources.replaceKey("/Font", fonts);
        }
        QPDFObjectHandle pageDict = QPDFObjectHandle::newDictionary();
        pageDict.replaceKey("/Type", QPDFObjectHandle::newName("/Page"));
        pageDict.replaceKey("/MediaBox",
                            QPDFObjectHandle::parse("[0 0 " + num(page.width > 0 ? page.width : job.pageWidth) + " " +
                                                    num(page.height > 0 ? page.height : job.pageHeight) + "]"));
        pageDict.replaceKey("/Resources", resources);
        if (turn != 0) pageDict.replaceKey("/Rotate", QPDFObjectHandle::newInteger(turn));
        pageDict.replaceKey("/Contents", QPDFObjectHandle::newStream(&pdf, content.str()));
        pages.addPage(pdf.makeIndirectObject(pageDict), false);
    }
    describeDocument(pdf, job, job.details.title.empty() ? titleFor(path) : job.details.title, pagesToWrite,
                     archive);
    return !pagesToWrite.empty();
}

// The largest offset a cross-reference table's ten-digit entry holds.
constexpr std::int64_t tableLimit = 9999999999;

// The cross-reference section and the trailer, after the objects (offsets[id]: where object id
// begins, -1 for a number not used), with the trailer's /Root and /Info given. A table of
// fixed-width entries while every offset fits ten digits; past that, from 10^10 bytes on, a
// cross-reference stream (PDF 1.5), the header's version raised to match. identifier: the
// file's, in hex.
void writeCrossReference(FileOutput& out, std::vector<std::int64_t> offsets, const std::string& version,
                         const std::string& rootAndInfo, const std::string& identifier) {
    const std::string id = "<" + identifier + ">";
    const std::string ids = " /ID [" + id + id + "]";
    const std::int64_t xref = out.offset();
    const auto tail = [&] { out.put("startxref\n" + std::to_string(xref) + "\n%%EOF\n"); };

    if (*std::max_element(offsets.begin(), offsets.end()) <= tableLimit) {
        out.put("xref\n0 " + std::to_string(offsets.size()) + "\n0000000000 65535 f \n");
        char entry[40];
        for (std::size_t n = 1; n < offsets.size(); ++n) {
            if (offsets[n] < 0)
                out.put("0000000000 65535 f \n");  // a number qpdf did not use
            else {
                std::snprintf(entry, sizeof entry, "%010lld 00000 n \n", static_cast<long long>(offsets[n]));
                out.put(entry);
            }
        }
        out.put("trailer\n<< /Size " + std::to_string(offsets.size()) + rootAndInfo + ids + " >>\n");
        tail();
        out.flush();
        return;
    }

    // The stream is an object of its own, the last; its entries are a type byte (0 free, 1 in
    // use), the offset in as many bytes as the largest takes, and a two-byte generation.
    const std::size_t streamId = offsets.size();
    offsets.push_back(xref);
    int width = 1;
    while (width < 8 && (xref >> (8 * width)) != 0) ++width;
    std::string entries;
    entries.reserve(offsets.size() * std::size_t(3 + width));
    for (std::size_t n = 0; n < offsets.size(); ++n) {
        const bool used = n > 0 && offsets[n] >= 0;
        entries += char(used ? 1 : 0);
        for (int shift = 8 * (width - 1); shift >= 0; shift -= 8)
            entries += char(used ? (offsets[n] >> shift) & 0xFF : 0);
        entries += used ? std::string(2, '\0') : std::string("\xFF\xFF");
    }
    out.put(std::to_string(streamId) + " 0 obj\n<< /Type /XRef /Size " + std::to_string(offsets.size()) +
            " /W [1 " + std::to_string(width) + " 2]" + rootAndInfo + ids +
            " /Length " + std::to_string(entries.size()) + " >>\nstream\n");
    out.put(entries);
    out.put("\nendstream\nendobj\n");
    tail();
    out.flush();
    if (version < "1.5") out.overwrite(5, "1.5");  // "%PDF-1.x": the same length
}

// Writes the document: every object in turn, a picture's data straight from its file, then the
// cross-reference table. *current names the picture whose data is being written.
// The file's identifier: a digest of what the document says of itself (its dates among them)
// and its size, as PDF suggests: the same pictures and details give the same file, while two
// documents written at different times, or of different pictures, differ.
std::string fileIdentifier(QPDFObjectHandle info, std::int64_t size) {
    QCryptographicHash digest(QCryptographicHash::Md5);
    digest.addData(QByteArray::fromStdString(info.unparseResolved() + " " + std::to_string(size)));
    return digest.result().toHex().toStdString();
}

void writeDocument(QPDF& pdf, const ImageStreams& streams, const std::string& version, FileOutput& out,
                   std::shared_ptr<const ImageSource>* current, const WriteOptions& options) {
    out.put("%PDF-" + version + "\n%\xE2\xE3\xCF\xD3\n");
    if (options.blankAfterHeader > 0) out.skip(options.blankAfterHeader);
    std::vector<QPDFObjectHandle> objects = pdf.getAllObjects();
    int next = 1;  // the first free object number: the lengths of the pictures' data go there
    for (QPDFObjectHandle& object : objects) next = std::max(next, object.getObjectID() + 1);
    std::vector<std::int64_t> offsets(std::size_t(next), -1);
    const auto begin = [&](int id) {
        if (offsets.size() <= std::size_t(id)) offsets.resize(std::size_t(id) + 1, -1);
        offsets[std::size_t(id)] = out.offset();
        out.put(std::to_string(id) + " 0 obj\n");
    };
    for (QPDFObjectHandle& object : objects) {
        out.checkStop();
        const int id = object.getObjectID();
        if (!object.isStream()) {
            begin(id);
            out.put(object.unparseResolved() + "\nendobj\n");
            continue;
        }
        QPDFObjectHandle dict = object.getDict();
        const auto image = streams.find(object.getObjGen());
        if (image == streams.end()) {
            const std::shared_ptr<Buffer> data = object.getRawStreamData();
            dict.replaceKey("/Length", QPDFObjectHandle::newInteger(std::int64_t(data->getSize())));
            begin(id);
            out.put(dict.unparse() + "\nstream\n");
            out.write(data->getBuffer(), data->getSize());
            out.put("\nendstream\nendobj\n");
            continue;
        }
        // The length is known once the data is written: it follows as an object of its own.
        const int lengthId = next++;
        dict.removeKey("/Length");
        std::string head = dict.unparse();
        head.insert(head.size() - 2, "/Length " + std::to_string(lengthId) + " 0 R ");
        begin(id);
        out.put(head + "\nstream\n");
        const std::int64_t start = out.offset();
        *current = image->second.image;
        writeImageData(image->second, out);
        current->reset();
        const std::int64_t length = out.offset() - start;
        out.put("\nendstream\nendobj\n");
        begin(lengthId);
        out.put(std::to_string(length) + "\nendobj\n");
    }

    QPDFObjectHandle trailer = pdf.getTrailer();
    writeCrossReference(out, std::move(offsets), version,
                        " /Root " + trailer.getKey("/Root").unparse() + " /Info " + trailer.getKey("/Info").unparse(),
                        fileIdentifier(trailer.getKey("/Info"), out.offset()));
}

// Writes the pages to a new file at path; "" when done. When a picture's data could not be
// given, nothing is left behind and *failed names the picture.
std::string writeAttempt(const PrintJob& job, const std::vector<Page>& pagesToWrite,
                         const std::string& path, const WriteOptions& options,
                         std::shared_ptr<const ImageSource>* failed, std::vector<std::string>* textNotes) {
    StagedFile file(path, options.fileMode);
    if (file.fd() < 0) return file.error();
    FileOutput out(file.fd(), options.progress, options.stop);
    std::shared_ptr<const ImageSource> current;
    try {
        QPDF pdf;
        ImageStreams streams;
        std::vector<std::string> notes;
        buildDocument(pdf, pagesToWrite, job, path, options.profiles, streams, &notes);
        *textNotes = std::move(notes);
        writeDocument(pdf, streams, versionFor(pagesToWrite, job.details.pdfa), out, &current, options);
    } catch (const std::exception& e) {
        // (a picture's reader may have passed the stop on as an error of its own)
        if (options.stop && options.stop->load()) return Abandoned().what();
        if (!out.failed()) *failed = current;
        return e.what();
    }
    return file.commit();
}

}  // namespace

WriteResult writePdfFile(const PrintJob& job, const std::string& path, const WriteOptions& options) {
    WriteResult result;
    // Pictures that changed since they were checked stay out of the PDF.
    std::vector<Page> pagesToWrite;
    for (const Page& page : job.pages) {
        Page kept = page;
        kept.images.clear();
        for (const Placement& p : page.images) {
            if (p.image->stillAsChecked())
                kept.images.push_back(p);
            else
                result.leftOut.push_back(p.image->description());
        }
        if (!kept.images.empty()) pagesToWrite.push_back(std::move(kept));
    }
    // A picture whose data fails while the file is written stays out too: the file is written
    // again without it, so one bad picture never costs the others their pages.
    for (;;) {
        if (pagesToWrite.empty()) {
            result.error = "no picture of the job could be written: each changed, vanished or "
                           "could not be read since it was checked";
            return result;
        }
        std::shared_ptr<const ImageSource> failed;
        result.error = writeAttempt(job, pagesToWrite, path, options, &failed, &result.notes);
        if (!failed) break;
        result.leftOut.push_back(failed->description());
        // (erase and remove_if rather than erase_if: the fuzz build compiles this file as C++17)
        for (Page& page : pagesToWrite) {
            auto& images = page.images;
            images.erase(std::remove_if(images.begin(), images.end(),
                                        [&](const Placement& p) { return p.image == failed; }),
                         images.end());
        }
        pagesToWrite.erase(std::remove_if(pagesToWrite.begin(), pagesToWrite.end(),
                                          [](const Page& page) { return page.images.empty(); }),
                           pagesToWrite.end());
    }
    result.written = result.error.empty();
    return result;
}

}  // namespace pdfwriter
