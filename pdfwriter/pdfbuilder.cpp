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
    void add(QPDFObjGen og, std::shared_ptr<const ImageSource> image) {
        m_images[og] = std::move(image);
    }

    void provideStreamData(QPDFObjGen const& og, Pipeline* pipeline) override {
        const ImageSource& image = *m_images.at(og);
        if (image.format().encoding == ImageEncoding::Dct) {
            image.writeData([pipeline](const std::uint8_t* d, std::size_t n) {
                pipeline->write(d, n);
            });
        } else {
            Pl_Flate flate("image", pipeline, Pl_Flate::a_deflate);
            image.writeData([&flate](const std::uint8_t* d, std::size_t n) {
                flate.write(d, n);
            });
            flate.finish();
            return;
        }
        pipeline->finish();
    }

private:
    std::map<QPDFObjGen, std::shared_ptr<const ImageSource>> m_images;
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

void buildDocument(QPDF& pdf, const PrintJob& job, const std::shared_ptr<ImageProvider>& provider) {
    pdf.emptyPDF();
    QPDFPageDocumentHelper pages(pdf);
    for (const Page& page : job.pages) {
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
}

std::string folderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

bool writePdfFile(const PrintJob& job, const std::string& path, std::string* error) {
    const std::string folder = folderOf(path);
    const auto slash = path.rfind('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    std::string temp = folder + "/." + name + ".XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) {
        if (error) *error = "cannot write in " + folder + ": " + std::strerror(errno);
        return false;
    }
    // mkstemp creates the file for its owner only; a PDF is an ordinary document.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
    FILE* out = ::fdopen(fd, "wb");
    if (!out) {
        ::close(fd);
        ::unlink(temp.c_str());
        if (error) *error = std::string("cannot write: ") + std::strerror(errno);
        return false;
    }
    try {
        QPDF pdf;
        auto provider = std::make_shared<ImageProvider>();
        buildDocument(pdf, job, provider);
        QPDFWriter writer(pdf);
        writer.setOutputFile(temp.c_str(), out, false);
        writer.write();
        if (std::fflush(out) != 0 || std::ferror(out))
            throw std::runtime_error(std::string("cannot write: ") + std::strerror(errno));
    } catch (const std::exception& e) {
        std::fclose(out);
        ::unlink(temp.c_str());
        if (error) *error = e.what();
        return false;
    }
    if (std::fclose(out) != 0) {
        ::unlink(temp.c_str());
        if (error) *error = std::string("cannot write: ") + std::strerror(errno);
        return false;
    }
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        const int e = errno;
        ::unlink(temp.c_str());
        if (error) *error = "cannot create " + path + ": " + std::strerror(e);
        return false;
    }
    return true;
}

}  // namespace pdfwriter
