#include "pdfwriter/pdfbuilder.h"

#include "appconfig.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <optional>
#include <qpdf/Pl_Flate.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFWriter.hh>
#include <qpdf/QUtil.hh>
#include <sstream>
#include <stdexcept>

namespace pdfwriter {

namespace {

// Gives qpdf each image's data when the writer reaches it, one image at a time.
class ImageProvider : public QPDFObjectHandle::StreamDataProvider {
public:
    explicit ImageProvider(std::atomic<std::uint64_t>* progress) : m_progress(progress) {}

    void add(QPDFObjGen og, std::shared_ptr<const ImageSource> image) {
        m_images[og] = std::move(image);
    }

    void provideStreamData(QPDFObjGen const& og, Pipeline* pipeline) override {
        const std::shared_ptr<const ImageSource>& image = m_images.at(og);
        const bool dct = image->format().encoding == ImageEncoding::Dct;
        std::optional<Pl_Flate> flate;
        if (!dct) flate.emplace("image", pipeline, Pl_Flate::a_deflate);
        Pipeline* to = dct ? pipeline : &*flate;
        bool outputFailed = false;
        try {
            image->writeData([&](const std::uint8_t* d, std::size_t n) {
                try {
                    to->write(d, n);
                } catch (...) {
                    outputFailed = true;
                    throw;
                }
                count(n);
            });
        } catch (...) {
            if (!outputFailed) m_failed = image;
            throw;
        }
        to->finish();
    }

    // The picture whose data could not be given, when that is why the writing stopped.
    const std::shared_ptr<const ImageSource>& failed() const { return m_failed; }

private:
    void count(std::size_t n) {
        if (m_progress) m_progress->fetch_add(n, std::memory_order_relaxed);
    }

    std::map<QPDFObjGen, std::shared_ptr<const ImageSource>> m_images;
    std::atomic<std::uint64_t>* m_progress;
    std::shared_ptr<const ImageSource> m_failed;
};

std::string num(double v) { return QUtil::double_to_string(v, 4, true); }

QPDFObjectHandle imageStream(QPDF& pdf, const ImageSource& image) {
    const ImageFormat f = image.format();
    QPDFObjectHandle dict = QPDFObjectHandle::newDictionary();
    dict.replaceKey("/Type", QPDFObjectHandle::newName("/XObject"));
    dict.replaceKey("/Subtype", QPDFObjectHandle::newName("/Image"));
    dict.replaceKey("/Width", QPDFObjectHandle::newInteger(f.width));
    dict.replaceKey("/Height", QPDFObjectHandle::newInteger(f.height));
    dict.replaceKey("/BitsPerComponent", QPDFObjectHandle::newInteger(8));
    const char* space = f.colorSpace == ColorSpace::Gray   ? "/DeviceGray"
                        : f.colorSpace == ColorSpace::Cmyk ? "/DeviceCMYK"
                                                           : "/DeviceRGB";
    dict.replaceKey("/ColorSpace", QPDFObjectHandle::newName(space));
    if (f.invertedCmyk) dict.replaceKey("/Decode", QPDFObjectHandle::parse("[1 0 1 0 1 0 1 0]"));
    QPDFObjectHandle stream = QPDFObjectHandle::newStream(&pdf);
    stream.replaceDict(dict);
    return stream;
}

// The document's title: the file's name without ".pdf", as the file system spells it.
std::string titleFor(const std::string& path) {
    std::string name = path.substr(path.rfind('/') + 1);
    if (name.size() > 4 && QUtil::str_compare_nocase(name.substr(name.size() - 4).c_str(), ".pdf") == 0)
        name.resize(name.size() - 4);
    return name;
}

std::string xmlEscaped(const std::string& text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default: out += c;
        }
    }
    return out;
}

// The time now, as PDF dates ("D:20261207103243+01'00'") and XMP dates ("2026-12-07T10:32:43+01:00") give it.
std::pair<std::string, std::string> now() {
    const std::time_t t = std::time(nullptr);
    std::tm local{};
    localtime_r(&t, &local);
    char stamp[32], zone[8];
    std::strftime(stamp, sizeof stamp, "%Y%m%d%H%M%S", &local);
    std::strftime(zone, sizeof zone, "%z", &local);  // +0100
    const std::string z(zone);
    const std::string pdfDate = "D:" + std::string(stamp) + z.substr(0, 3) + "'" + z.substr(3, 2) + "'";
    char iso[32];
    std::strftime(iso, sizeof iso, "%Y-%m-%dT%H:%M:%S", &local);
    return {pdfDate, std::string(iso) + z.substr(0, 3) + ":" + z.substr(3, 2)};
}

// The document information and the same in XMP metadata; for more than one page, a bookmark
// per page named after its picture. The viewer opens on the first page.
void describeDocument(QPDF& pdf, const PrintJob& job, const std::string& title, const std::vector<Page>& pages) {
    const std::string producer = std::string("Tenbrook PDF Writer ") + pictolio::config::version;
    const std::string creator = job.documentName.empty() ? "Pictolio" : job.documentName;
    const auto [pdfDate, xmpDate] = now();
    QPDFObjectHandle info = QPDFObjectHandle::newDictionary();
    info.replaceKey("/Title", QPDFObjectHandle::newUnicodeString(title));
    info.replaceKey("/Creator", QPDFObjectHandle::newUnicodeString(creator));
    info.replaceKey("/Producer", QPDFObjectHandle::newUnicodeString(producer));
    info.replaceKey("/CreationDate", QPDFObjectHandle::newString(pdfDate));
    info.replaceKey("/ModDate", QPDFObjectHandle::newString(pdfDate));
    pdf.getTrailer().replaceKey("/Info", pdf.makeIndirectObject(info));

    const std::string xmp =
        "<?xpacket begin=\"\xEF\xBB\xBF\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>\n"
        "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\">\n"
        " <rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">\n"
        "  <rdf:Description rdf:about=\"\"\n"
        "    xmlns:dc=\"http://purl.org/dc/elements/1.1/\"\n"
        "    xmlns:xmp=\"http://ns.adobe.com/xap/1.0/\"\n"
        "    xmlns:pdf=\"http://ns.adobe.com/pdf/1.3/\">\n"
        "   <dc:title><rdf:Alt><rdf:li xml:lang=\"x-default\">" + xmlEscaped(title) + "</rdf:li></rdf:Alt></dc:title>\n"
        "   <dc:format>application/pdf</dc:format>\n"
        "   <xmp:CreatorTool>" + xmlEscaped(creator) + "</xmp:CreatorTool>\n"
        "   <xmp:CreateDate>" + xmpDate + "</xmp:CreateDate>\n"
        "   <xmp:ModifyDate>" + xmpDate + "</xmp:ModifyDate>\n"
        "   <pdf:Producer>" + xmlEscaped(producer) + "</pdf:Producer>\n"
        "  </rdf:Description>\n"
        " </rdf:RDF>\n"
        "</x:xmpmeta>\n"
        "<?xpacket end=\"w\"?>";
    QPDFObjectHandle metadata = QPDFObjectHandle::newStream(&pdf, xmp);
    metadata.getDict().replaceKey("/Type", QPDFObjectHandle::newName("/Metadata"));
    metadata.getDict().replaceKey("/Subtype", QPDFObjectHandle::newName("/XML"));
    QPDFObjectHandle root = pdf.getRoot();
    root.replaceKey("/Metadata", metadata);

    const std::vector<QPDFObjectHandle> pageObjects = pdf.getAllPages();
    if (pageObjects.empty()) return;
    root.replaceKey("/OpenAction", QPDFObjectHandle::parse("[null /Fit]"));
    root.getKey("/OpenAction").setArrayItem(0, pageObjects.front());
    if (pageObjects.size() < 2) return;
    QPDFObjectHandle outlines = pdf.makeIndirectObject(QPDFObjectHandle::newDictionary());
    outlines.replaceKey("/Type", QPDFObjectHandle::newName("/Outlines"));
    std::vector<QPDFObjectHandle> items;
    for (std::size_t i = 0; i < pageObjects.size(); ++i) {
        QPDFObjectHandle item = pdf.makeIndirectObject(QPDFObjectHandle::newDictionary());
        const std::string name = pages[i].title.empty() ? "Page " + std::to_string(i + 1) : pages[i].title;
        item.replaceKey("/Title", QPDFObjectHandle::newUnicodeString(name));
        item.replaceKey("/Parent", outlines);
        QPDFObjectHandle dest = QPDFObjectHandle::parse("[null /Fit]");
        dest.setArrayItem(0, pageObjects[i]);
        item.replaceKey("/Dest", dest);
        if (!items.empty()) {
            item.replaceKey("/Prev", items.back());
            items.back().replaceKey("/Next", item);
        }
        items.push_back(item);
    }
    outlines.replaceKey("/First", items.front());
    outlines.replaceKey("/Last", items.back());
    outlines.replaceKey("/Count", QPDFObjectHandle::newInteger(int(items.size())));
    root.replaceKey("/Outlines", outlines);
    root.replaceKey("/PageMode", QPDFObjectHandle::newName("/UseOutlines"));
}

// Builds the document from the pages that still have pictures; false when none has.
bool buildDocument(QPDF& pdf, const std::vector<Page>& pagesToWrite, const PrintJob& job, const std::string& path,
                   const std::shared_ptr<ImageProvider>& provider) {
    pdf.emptyPDF();
    QPDFPageDocumentHelper pages(pdf);
    for (const Page& page : pagesToWrite) {
        QPDFObjectHandle xobjects = QPDFObjectHandle::newDictionary();
        std::ostringstream content;
        int n = 0;
        for (const Placement& p : page.images) {
            const std::string name = "/Im" + std::to_string(n++);
            QPDFObjectHandle stream = imageStream(pdf, *p.image);
            const bool dct = p.image->format().encoding == ImageEncoding::Dct;
            stream.replaceStreamData(
                provider, QPDFObjectHandle::newName(dct ? "/DCTDecode" : "/FlateDecode"),
                QPDFObjectHandle::newNull());
            // The data is already encoded as it should be: qpdf passes it on untouched and
            // asks for it once.
            stream.setFilterOnWrite(false);
            provider->add(stream.getObjGen(), p.image);
            xobjects.replaceKey(name, stream);
            const Matrix& m = p.matrix;
            content << "q " << num(p.clip.x) << ' ' << num(p.clip.y) << ' '
                    << num(p.clip.width) << ' ' << num(p.clip.height) << " re W n " << num(m.a)
                    << ' ' << num(m.b) << ' ' << num(m.c) << ' ' << num(m.d) << ' ' << num(m.e)
                    << ' ' << num(m.f) << " cm " << name << " Do Q\n";
        }
        QPDFObjectHandle resources = QPDFObjectHandle::newDictionary();
        resources.replaceKey("/XObject", xobjects);
        QPDFObjectHandle pageDict = QPDFObjectHandle::newDictionary();
        pageDict.replaceKey("/Type", QPDFObjectHandle::newName("/Page"));
        pageDict.replaceKey("/MediaBox",
                            QPDFObjectHandle::parse("[0 0 " + num(page.width > 0 ? page.width : job.pageWidth) + " " +
                                                    num(page.height > 0 ? page.height : job.pageHeight) + "]"));
        pageDict.replaceKey("/Resources", resources);
        pageDict.replaceKey("/Contents", QPDFObjectHandle::newStream(&pdf, content.str()));
        pages.addPage(pdf.makeIndirectObject(pageDict), false);
    }
    describeDocument(pdf, job, titleFor(path), pagesToWrite);
    return !pagesToWrite.empty();
}

std::string folderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Writes the pages to a new file at path; "" when done. When a picture's data could not be
// given, nothing is left behind and *failed names the picture.
std::string writeAttempt(const PrintJob& job, const std::vector<Page>& pagesToWrite,
                         const std::string& path, const WriteOptions& options,
                         std::shared_ptr<const ImageSource>* failed) {
    const std::string folder = folderOf(path);
    // A short temporary name: one made from the final name could pass the length limit.
    std::string temp = folder + "/.pictolio-XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) return "cannot write in " + folder + ": " + std::strerror(errno);
    ::fchmod(fd, options.fileMode);  // mkstemp makes the file for its owner only
    FILE* out = ::fdopen(fd, "wb");
    if (!out) {
        const int e = errno;
        ::close(fd);
        ::unlink(temp.c_str());
        return std::string("cannot write: ") + std::strerror(e);
    }
    auto provider = std::make_shared<ImageProvider>(options.progress);
    try {
        QPDF pdf;
        buildDocument(pdf, pagesToWrite, job, path, provider);
        QPDFWriter writer(pdf);
        writer.setOutputFile(temp.c_str(), out, false);
        writer.write();
        if (std::fflush(out) != 0 || std::ferror(out))
            throw std::runtime_error(std::string("cannot write: ") + std::strerror(errno));
    } catch (const std::exception& e) {
        std::fclose(out);
        ::unlink(temp.c_str());
        *failed = provider->failed();
        return e.what();
    }
    if (std::fclose(out) != 0) {
        const int e = errno;
        ::unlink(temp.c_str());
        return std::string("cannot write: ") + std::strerror(e);
    }
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        const int e = errno;
        ::unlink(temp.c_str());
        return "cannot create " + path + ": " + std::strerror(e);
    }
    return {};
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
        result.error = writeAttempt(job, pagesToWrite, path, options, &failed);
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
