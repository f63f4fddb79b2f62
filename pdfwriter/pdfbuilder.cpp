#include "pdfwriter/pdfbuilder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
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
        const ImageSource& image = *m_images.at(og);
        if (image.format().encoding == ImageEncoding::Dct) {
            image.writeData([this, pipeline](const std::uint8_t* d, std::size_t n) {
                pipeline->write(d, n);
                count(n);
            });
        } else {
            Pl_Flate flate("image", pipeline, Pl_Flate::a_deflate);
            image.writeData([this, &flate](const std::uint8_t* d, std::size_t n) {
                flate.write(d, n);
                count(n);
            });
            flate.finish();
            return;
        }
        pipeline->finish();
    }

private:
    void count(std::size_t n) {
        if (m_progress) m_progress->fetch_add(n, std::memory_order_relaxed);
    }

    std::map<QPDFObjGen, std::shared_ptr<const ImageSource>> m_images;
    std::atomic<std::uint64_t>* m_progress;
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

// Builds the document from the pages that still have pictures; false when none has.
bool buildDocument(QPDF& pdf, const std::vector<Page>& pagesToWrite, const PrintJob& job,
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
                            QPDFObjectHandle::parse("[0 0 " + num(job.pageWidth) + " " +
                                                    num(job.pageHeight) + "]"));
        pageDict.replaceKey("/Resources", resources);
        pageDict.replaceKey("/Contents", QPDFObjectHandle::newStream(&pdf, content.str()));
        pages.addPage(pdf.makeIndirectObject(pageDict), false);
    }
    QPDFObjectHandle info = QPDFObjectHandle::newDictionary();
    info.replaceKey("/Producer", QPDFObjectHandle::newUnicodeString("Tenbrook PDF Writer"));
    if (!job.documentName.empty())
        info.replaceKey("/Title", QPDFObjectHandle::newUnicodeString(job.documentName));
    pdf.getTrailer().replaceKey("/Info", pdf.makeIndirectObject(info));
    return !pagesToWrite.empty();
}

std::string folderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

WriteResult writePdfFile(const PrintJob& job, const std::string& path, const WriteOptions& options) {
    WriteResult result;
    // Pictures that changed since they were checked stay out of the PDF.
    std::vector<Page> pagesToWrite;
    for (const Page& page : job.pages) {
        Page kept;
        for (const Placement& p : page.images) {
            if (p.image->stillAsChecked())
                kept.images.push_back(p);
            else
                result.leftOut.push_back(p.image->description());
        }
        if (!kept.images.empty()) pagesToWrite.push_back(std::move(kept));
    }
    if (pagesToWrite.empty()) {
        result.error = "every picture of the job changed or vanished since it was checked";
        return result;
    }

    const std::string folder = folderOf(path);
    // A short temporary name: one made from the final name could pass the length limit.
    std::string temp = folder + "/.pictolio-XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) {
        result.error = "cannot write in " + folder + ": " + std::strerror(errno);
        return result;
    }
    ::fchmod(fd, options.fileMode);  // mkstemp makes the file for its owner only
    FILE* out = ::fdopen(fd, "wb");
    if (!out) {
        ::close(fd);
        ::unlink(temp.c_str());
        result.error = std::string("cannot write: ") + std::strerror(errno);
        return result;
    }
    try {
        QPDF pdf;
        auto provider = std::make_shared<ImageProvider>(options.progress);
        buildDocument(pdf, pagesToWrite, job, provider);
        QPDFWriter writer(pdf);
        writer.setOutputFile(temp.c_str(), out, false);
        writer.write();
        if (std::fflush(out) != 0 || std::ferror(out))
            throw std::runtime_error(std::string("cannot write: ") + std::strerror(errno));
    } catch (const std::exception& e) {
        std::fclose(out);
        ::unlink(temp.c_str());
        result.error = e.what();
        return result;
    }
    if (std::fclose(out) != 0) {
        ::unlink(temp.c_str());
        result.error = std::string("cannot write: ") + std::strerror(errno);
        return result;
    }
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        const int e = errno;
        ::unlink(temp.c_str());
        result.error = "cannot create " + path + ": " + std::strerror(e);
        return result;
    }
    result.written = true;
    return result;
}

}  // namespace pdfwriter
