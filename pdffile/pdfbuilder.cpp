// SPDX-License-Identifier: GPL-3.0-or-later
#include "pdffile/pdfbuilder.h"

#include "appconfig.h"
#include "imaging/deflate.h"
#include "pdffile/documentinfo.h"
#include "pdffile/pdffile.h"
#include "recognition/recognition.h"
#include "pdffile/stagedfile.h"
#include "recognition/textlayer.h"

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
#include <sstream>
#include <stdexcept>

namespace pdffile {

namespace {

// The streams whose data is a picture's: its image data, or (mask) its alpha channel.
struct ImageData {
    std::shared_ptr<const imaging::ImageSource> image;
    bool mask = false;
};
using ImageStreams = std::map<QPDFObjGen, ImageData>;

void writeImageData(const ImageData& data, FileOutput& out) {
    // Raw samples and alpha channels are compressed here; everything else is already encoded.
    if (!data.mask && data.image->format().encoding != imaging::ImageEncoding::Raw) {
        data.image->copyData(out);
        return;
    }
    if (data.image->copyDeflated(out, data.mask)) return;
    const auto deflater = std::make_unique<imaging::Deflater>(out, filteredRowBytes(data.image->format(), data.mask));
    const imaging::DataSink sink = [&](const std::uint8_t* d, std::size_t n) { deflater->write(d, n); };
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
QPDFObjectHandle profileSpace(QPDF& pdf, const imaging::ImageFormat& f, int components, ProfileStreams& profiles) {
    const std::vector<std::uint8_t>* profile = f.iccProfile.get();
    const int n = profile ? imaging::profileComponents(*profile) : 0;
    if (n == 0 || n != components) return QPDFObjectHandle::newNull();
    QPDFObjectHandle& stream = profiles[*profile];
    if (stream.isInitialized()) return stream;
    QPDFObjectHandle data =
        QPDFObjectHandle::newStream(&pdf, imaging::deflatedWhole(profile->data(), profile->size(), "a colour profile"));
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
// stencil: a one-bit shape painted in the colour set (an image mask), not a picture of its own.
QPDFObjectHandle imageStream(QPDF& pdf, const std::shared_ptr<const imaging::ImageSource>& image, ImageStreams& streams,
                             ProfileStreams& profiles, const ArchiveProfiles* archive, bool stencil = false) {
    imaging::ImageFormat f = image->format();
    // PDF/A takes no DeviceCMYK beside an sRGB output intent: the inks get a CMYK profile.
    if (archive && f.colorSpace == imaging::ColorSpace::Cmyk && profileSpace(pdf, f, 4, profiles).isNull())
        f.iccProfile = systemProfile(*archive, true);
    QPDFObjectHandle space;
    int components = 3;
    switch (f.colorSpace) {
        case imaging::ColorSpace::Gray: space = QPDFObjectHandle::newName("/DeviceGray"), components = 1; break;
        case imaging::ColorSpace::Cmyk: space = QPDFObjectHandle::newName("/DeviceCMYK"), components = 4; break;
        case imaging::ColorSpace::Rgb: space = QPDFObjectHandle::newName("/DeviceRGB"); break;
        case imaging::ColorSpace::Indexed:
            space = QPDFObjectHandle::parse("[/Indexed /DeviceRGB 0 ()]");
            space.setArrayItem(2, QPDFObjectHandle::newInteger(int(f.palette.size() / 3) - 1));
            space.setArrayItem(3, QPDFObjectHandle::newString(std::string(f.palette.begin(), f.palette.end())));
            components = 1;
            break;
    }
    // (a palette's colours are RGB)
    QPDFObjectHandle tagged =
        profileSpace(pdf, f, f.colorSpace == imaging::ColorSpace::Indexed ? 3 : components, profiles);
    if (!tagged.isNull()) {
        if (f.colorSpace == imaging::ColorSpace::Indexed)
            space.setArrayItem(1, tagged);
        else
            space = tagged;
    }
    QPDFObjectHandle dict = imageDictionary(f.width, f.height, f.bitsPerComponent, space);
    if (stencil) {
        components = 1;
        dict.removeKey("/ColorSpace");
        dict.replaceKey("/BitsPerComponent", QPDFObjectHandle::newInteger(1));
        dict.replaceKey("/ImageMask", QPDFObjectHandle::newBool(true));
    }
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
        case imaging::ImageEncoding::Dct: filter = QPDFObjectHandle::newName("/DCTDecode"); break;
        case imaging::ImageEncoding::Raw:
            filter = QPDFObjectHandle::newName("/FlateDecode");
            if (filteredRowBytes(f, false) > 0) parameters = pngPredictor(components, f.bitsPerComponent, f.width);
            break;
        case imaging::ImageEncoding::Flate:
            filter = QPDFObjectHandle::newName("/FlateDecode");
            parameters = pngPredictor(components, f.bitsPerComponent, f.width);
            break;
        case imaging::ImageEncoding::Ccitt:
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
            const imaging::ImageFormat f = p.image->format();
            if (f.bitsPerComponent == 16) return "1.5";
            if (f.softMask) version = "1.4";
        }
    return version;
}

// The file's identifier: a digest of what the document says of itself (its dates among them)
// and its size, as PDF suggests: the same pictures and details give the same file, while two
// documents written at different times, or of different pictures, differ.
std::string fileIdentifier(QPDFObjectHandle info, std::int64_t size) {
    QCryptographicHash digest(QCryptographicHash::Md5);
    digest.addData(QByteArray::fromStdString(info.unparseResolved() + " " + std::to_string(size)));
    return digest.result().toHex().toStdString();
}

}  // namespace

// A PDF written page by page: each page's objects as soon as the page is added, a picture's
// data straight from its file; the catalog, the page tree and what the document says of itself
// when it ends, then the cross-reference table. The pages of a joined PDF go out while the
// next pictures are checked, and the file is the same whether its pages came one by one or all
// at once.
class DocumentWriter {
public:
    // archival: a PDF/A file, with the profiles options give.
    DocumentWriter(int fd, const WriteOptions& options, bool archival)
        : m_out(fd, options.progress, options.stop), m_archive(options.profiles), m_archival(archival) {
        m_pdf.emptyPDF();
        m_out.put("%PDF-1.3\n%\xE2\xE3\xCF\xD3\n");  // the version is raised in place at the end
        if (options.blankAfterHeader > 0) m_out.skip(options.blankAfterHeader);
    }

    // Adds the page and writes it. notes: what the text layer lacks. Throws when a picture's
    // data fails (current() names it), when writing fails, and when recognition was stopped.
    void add(const Page& page, std::vector<std::string>* notes) {
        const std::size_t pageNumber = m_pages.size() + 1;
        QPDFObjectHandle xobjects = QPDFObjectHandle::newDictionary();
        std::ostringstream content;
        std::string text, pageText;
        std::u32string beyondBmp;  // characters of the text past U+FFFF
        int turn = 0;
        int n = 0;
        for (const Placement& p : page.images) {
            std::shared_ptr<const imaging::ImageSource> image = p.image;
            if (p.text) {
                const recognition::Recognised& outcome = p.text->get();
                if (outcome.failure().kind == pictolio::Failure::Kind::Stopped) throw std::runtime_error("stopped");
                if (!outcome && notes)
                    notes->push_back("no text on page " + std::to_string(pageNumber) + ": " + outcome.reason().toStdString());
                static const recognition::RecognisedText none;
                const recognition::RecognisedText& recognised = outcome ? *outcome : none;
                if (recognised.readsPoorly() && notes)
                    notes->push_back("poor text on page " + std::to_string(pageNumber) + ": the recogniser is " +
                                     std::to_string(recognised.confidence) + " % sure of its words");
                if (n == 0 && recognised.turnsPage) turn = recognised.turn;
                text += textLayerContent(recognised, p.matrix, &beyondBmp);
                pageText += recognition::plainText(recognised);
                m_recognised = true;
                // Where the words are makes some pictures better (a compact page's print).
                if (!recognised.words.empty())
                    if (auto guided = image->guidedBy(recognition::wordBoxes(recognised))) image = std::move(guided);
            }
            const std::string name = "/Im" + std::to_string(n++);
            xobjects.replaceKey(name, imageStream(m_pdf, image, m_streams, m_profiles, m_archival ? &m_archive : nullptr));
            const imaging::Matrix& m = p.matrix;
            content << "q " << num(p.clip.x) << ' ' << num(p.clip.y) << ' '
                    << num(p.clip.width) << ' ' << num(p.clip.height) << " re W n " << num(m.a)
                    << ' ' << num(m.b) << ' ' << num(m.c) << ' ' << num(m.d) << ' ' << num(m.e)
                    << ' ' << num(m.f) << " cm " << name << " Do";
            // What is painted over the picture, each shape in its colour.
            for (const imaging::Stencil& stencil : image->stencils()) {
                const std::string shape = "/Im" + std::to_string(n++);
                xobjects.replaceKey(shape, imageStream(m_pdf, stencil.shape, m_streams, m_profiles, nullptr, true));
                content << ' ' << num(stencil.colour[0] / 255.0) << ' ' << num(stencil.colour[1] / 255.0) << ' '
                        << num(stencil.colour[2] / 255.0) << " rg " << shape << " Do";
            }
            content << " Q\n";
        }
        content << text;
        QPDFObjectHandle resources = QPDFObjectHandle::newDictionary();
        resources.replaceKey("/XObject", xobjects);
        if (!text.empty()) {
            if (!m_font) m_font = recognition::textLayerFont(m_pdf);
            QPDFObjectHandle fonts = QPDFObjectHandle::newDictionary();
            fonts.replaceKey("/F0", *m_font);
            if (!beyondBmp.empty()) fonts.replaceKey("/F1", recognition::supplementaryFont(m_pdf, *m_font, beyondBmp));
            resources.replaceKey("/Font", fonts);
        }
        QPDFObjectHandle pageDict = QPDFObjectHandle::newDictionary();
        pageDict.replaceKey("/Type", QPDFObjectHandle::newName("/Page"));
        pageDict.replaceKey("/MediaBox",
                            QPDFObjectHandle::parse("[0 0 " + num(page.width) + " " + num(page.height) + "]"));
        pageDict.replaceKey("/Resources", resources);
        if (turn != 0) pageDict.replaceKey("/Rotate", QPDFObjectHandle::newInteger(turn));
        pageDict.replaceKey("/Contents", QPDFObjectHandle::newStream(&m_pdf, content.str()));
        QPDFPageDocumentHelper(m_pdf).addPage(m_pdf.makeIndirectObject(pageDict), false);
        m_pages.push_back(page);
        m_text += pageText + '\f';
        writeNew();
    }

    // The text recognised on the pages written, each page's followed by a form feed; "" when
    // none was recognised.
    std::string text() const { return m_recognised ? m_text : std::string(); }

    // Ends the document: what it says of itself (title: the file's name at path unless the job
    // gives one), the catalog and page tree, the cross-reference table.
    void finish(const PrintJob& job, const std::string& path) {
        describeDocument(m_pdf, job, job.details.title.empty() ? titleFor(path) : job.details.title, m_pages, m_archive);
        writeNew();
        m_final = true;
        writeNew();
        const std::string version = versionFor(m_pages, m_archival);
        if (version != "1.3") m_out.overwrite(5, version);
        QPDFObjectHandle trailer = m_pdf.getTrailer();
        writeCrossReference(m_out, std::move(m_offsets), version,
                            " /Root " + trailer.getKey("/Root").unparse() + " /Info " + trailer.getKey("/Info").unparse(),
                            fileIdentifier(trailer.getKey("/Info"), m_out.offset()));
    }

    // The picture whose data was being written when writing failed.
    const std::shared_ptr<const imaging::ImageSource>& current() const { return m_current; }
    bool failed() const { return m_out.failed(); }
    std::size_t pageCount() const { return m_pages.size(); }

private:
    void begin(int id) {
        if (m_offsets.size() <= std::size_t(id)) m_offsets.resize(std::size_t(id) + 1, -1);
        m_offsets[std::size_t(id)] = m_out.offset();
        m_out.put(std::to_string(id) + " 0 obj\n");
    }

    // Every object not yet written, in the order of their numbers; the catalog and the page tree
    // (which change with every page) only at the end.
    void writeNew() {
        const int root = m_pdf.getRoot().getObjectID(), tree = m_pdf.getRoot().getKey("/Pages").getObjectID();
        // (from the first number not yet looked at: a joined PDF of a thousand pages has tens of
        // thousands of objects)
        for (int id = m_final ? 1 : m_next; id <= int(m_pdf.getObjectCount()); ++id) {
            if (!m_final) m_next = id + 1;
            if ((std::size_t(id) < m_offsets.size() && m_offsets[std::size_t(id)] >= 0) ||
                (!m_final && (id == root || id == tree)))
                continue;
            if (m_final && id < m_next && id != root && id != tree) continue;  // looked at before
            QPDFObjectHandle object = m_pdf.getObjectByID(id, 0);
            if (object.isNull()) continue;  // a number qpdf did not use
            m_out.checkStop();
            write(object);
        }
    }

    void write(QPDFObjectHandle& object) {
        const int id = object.getObjectID();
        if (!object.isStream()) {
            begin(id);
            m_out.put(object.unparseResolved() + "\nendobj\n");
            return;
        }
        QPDFObjectHandle dict = object.getDict();
        const auto image = m_streams.find(object.getObjGen());
        if (image == m_streams.end()) {
            const std::shared_ptr<Buffer> data = object.getRawStreamData();
            dict.replaceKey("/Length", QPDFObjectHandle::newInteger(std::int64_t(data->getSize())));
            begin(id);
            m_out.put(dict.unparse() + "\nstream\n");
            m_out.write(data->getBuffer(), data->getSize());
            m_out.put("\nendstream\nendobj\n");
            return;
        }
        // The length is known once the data is written: it follows as an object of its own.
        const int lengthId = m_pdf.makeIndirectObject(QPDFObjectHandle::newInteger(0)).getObjectID();
        dict.removeKey("/Length");
        std::string head = dict.unparse();
        head.insert(head.size() - 2, "/Length " + std::to_string(lengthId) + " 0 R ");
        begin(id);
        m_out.put(head + "\nstream\n");
        const std::int64_t start = m_out.offset();
        m_current = image->second.image;
        writeImageData(image->second, m_out);
        m_current.reset();
        const std::int64_t length = m_out.offset() - start;
        m_out.put("\nendstream\nendobj\n");
        begin(lengthId);
        m_out.put(std::to_string(length) + "\nendobj\n");
    }

    FileOutput m_out;
    QPDF m_pdf;
    ImageStreams m_streams;
    ProfileStreams m_profiles;
    std::string m_text;
    bool m_recognised = false;
    std::optional<QPDFObjectHandle> m_font;  // the text layer's, made for the first page with text
    std::vector<Page> m_pages;
    std::vector<std::int64_t> m_offsets = std::vector<std::int64_t>(1, -1);
    std::shared_ptr<const imaging::ImageSource> m_current;
    ArchiveProfiles m_archive;
    bool m_archival;
    bool m_final = false;
    int m_next = 1;  // the first object number not yet looked at
};

namespace {

// A page as it is written: the job's page size when it gives none of its own.
Page sized(Page page, const PrintJob& job) {
    if (page.width <= 0) page.width = job.pageWidth;
    if (page.height <= 0) page.height = job.pageHeight;
    return page;
}

// Writes the pages to a new file at path. When a picture's data could not be given, nothing is
// left behind and *failed names the picture.
pictolio::Outcome<pictolio::Done> writeAttempt(const PrintJob& job, const std::vector<Page>& pagesToWrite,
                         const std::string& path, const WriteOptions& options,
                         std::shared_ptr<const imaging::ImageSource>* failed, std::vector<std::string>* textNotes,
                         std::string* text) {
    using pictolio::Failure;
    StagedFile file(path, options.fileMode);
    if (file.fd() < 0) return Failure{QString::fromLocal8Bit(file.error().c_str()), Failure::Kind::Unreadable};
    std::optional<DocumentWriter> writer;
    try {
        writer.emplace(file.fd(), options, job.details.pdfa);
        std::vector<std::string> notes;
        for (const Page& page : pagesToWrite) writer->add(sized(page, job), &notes);
        writer->finish(job, path);
        *textNotes = std::move(notes);
        *text = writer->text();
    } catch (const std::exception& e) {
        // (a picture's reader may have passed the stop on as an error of its own)
        if (options.stop && options.stop->load()) return Failure{QString::fromLatin1(Abandoned().what()), Failure::Kind::Stopped};
        if (writer && !writer->failed()) *failed = writer->current();
        return Failure{QString::fromLocal8Bit(e.what())};
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
            result.written = pictolio::Failure{QStringLiteral("no picture of the job could be written: each changed, "
                                                              "vanished or could not be read since it was checked"),
                                               pictolio::Failure::Kind::Unreadable};
            return result;
        }
        std::shared_ptr<const imaging::ImageSource> failed;
        result.written = writeAttempt(job, pagesToWrite, path, options, &failed, &result.notes, &result.text);
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
    return result;
}

StreamedPdf::StreamedPdf(const std::string& expectedPath, const WriteOptions& options, bool archival)
    : m_folder(expectedPath.substr(0, expectedPath.rfind('/') + 1)) {
    m_file = std::make_unique<StagedFile>(expectedPath, options.fileMode);
    if (m_file->fd() < 0) {
        drop();
        return;
    }
    try {
        m_writer = std::make_unique<DocumentWriter>(m_file->fd(), options, archival);
    } catch (const std::exception&) {
        drop();
    }
}

StreamedPdf::~StreamedPdf() = default;

void StreamedPdf::drop() {
    m_writer.reset();
    if (m_file) m_file->abandon();
}

void StreamedPdf::add(const Page& page) {
    if (!m_writer) return;
    // A picture that changed since it was checked is for writePdfFile to leave out.
    const bool unchanged = page.width > 0 && page.height > 0 &&
                           std::all_of(page.images.begin(), page.images.end(),
                                       [](const Placement& p) { return p.image->stillAsChecked(); });
    try {
        if (!unchanged) throw std::runtime_error("changed");
        m_writer->add(page, &m_notes);
        for (const Placement& p : page.images) p.image->letGoOfKeptBytes();
    } catch (const std::exception&) {
        drop();
    }
}

WriteResult StreamedPdf::finish(const PrintJob& job, const std::string& path) {
    WriteResult result;
    if (m_writer && job.pages.size() == m_writer->pageCount() &&
        path.substr(0, path.rfind('/') + 1) == m_folder) {
        try {
            m_writer->finish(job, path);
            result.written = m_file->commitAs(path);
            result.notes = std::move(m_notes);
            result.text = m_writer->text();
        } catch (const std::exception& e) {
            result.written = pictolio::Failure{QString::fromLocal8Bit(e.what())};
        }
    }
    if (!result.written && result.written.reason().isEmpty())
        result.written = pictolio::Failure{QStringLiteral("not written as it was drawn")};
    if (!result.written) drop();
    return result;
}

}  // namespace pdffile
