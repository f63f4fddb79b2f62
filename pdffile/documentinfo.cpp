// SPDX-License-Identifier: GPL-3.0-or-later
#include "pdffile/documentinfo.h"

#include "appconfig.h"
#include "imaging/deflate.h"

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iterator>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QUtil.hh>

#include <QList>
#include <QString>
#include <stdexcept>

namespace pdffile {

namespace {

// Text for the XML metadata: markup escaped, and what XML may not hold at all (control
// characters, U+FFFE, U+FFFF) left out.
std::string xmlEscaped(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' && c != '\r') continue;
        if (c == '\xEF' && i + 2 < text.size() && text[i + 1] == '\xBF' && (text[i + 2] == '\xBE' || text[i + 2] == '\xBF')) {
            i += 2;
            continue;
        }
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

// The documents' time: the one the job gives, else SOURCE_DATE_EPOCH's (so that the same
// pictures make the same file), else now.
std::time_t documentTime(const DocumentDetails& details) {
    if (details.date >= 0) return std::time_t(details.date);
    if (const char* epoch = std::getenv("SOURCE_DATE_EPOCH")) {
        char* end = nullptr;
        const long long seconds = std::strtoll(epoch, &end, 10);
        if (*epoch && end && !*end && seconds >= 0 && seconds < 253402300800) return std::time_t(seconds);
    }
    return std::time(nullptr);
}

// A time as PDF dates ("D:20261207103243+01'00'") and XMP dates ("2026-12-07T10:32:43+01:00")
// give it: in the local time zone, or in UTC for a time that was fixed (the same everywhere).
std::pair<std::string, std::string> datesOf(std::time_t t, bool utc) {
    std::tm when{};
    if (utc) gmtime_r(&t, &when);
    else localtime_r(&t, &when);
    char stamp[32], zone[8];
    std::strftime(stamp, sizeof stamp, "%Y%m%d%H%M%S", &when);
    std::strftime(zone, sizeof zone, "%z", &when);  // +0100
    const std::string z = utc ? std::string("+0000") : std::string(zone);
    const std::string pdfDate = "D:" + std::string(stamp) + (utc ? std::string("Z") : z.substr(0, 3) + "'" + z.substr(3, 2) + "'");
    char iso[32];
    std::strftime(iso, sizeof iso, "%Y-%m-%dT%H:%M:%S", &when);
    return {pdfDate, std::string(iso) + (utc ? std::string("Z") : z.substr(0, 3) + ":" + z.substr(3, 2))};
}

}  // namespace

std::string titleFor(const std::string& path) {
    std::string name = path.substr(path.rfind('/') + 1);
    if (name.size() > 4 && QUtil::str_compare_nocase(name.substr(name.size() - 4).c_str(), ".pdf") == 0)
        name.resize(name.size() - 4);
    // A control character in a file name (a line break, an escape) is a space in the title; a
    // noncharacter (U+FFFE, U+FFFF) is left out.
    const QString text = QString::fromUtf8(name);
    QString title;
    for (const char32_t c : text.toUcs4()) {
        if (QChar::isNonCharacter(c)) continue;
        if (QChar::category(c) == QChar::Other_Control) title += QLatin1Char(' ');
        else title += QString::fromUcs4(&c, 1);
    }
    return title.toStdString();
}

std::shared_ptr<const std::vector<std::uint8_t>> systemProfile(const ArchiveProfiles& profiles, bool cmyk) {
    const std::string path = cmyk ? (profiles.cmyk.empty() ? pictolio::config::cmykProfile : profiles.cmyk)
                                  : (profiles.srgb.empty() ? pictolio::config::srgbProfile : profiles.srgb);
    std::ifstream file(path, std::ios::binary);
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (!file.is_open() || imaging::profileComponents(bytes) != (cmyk ? 4 : 3))
        throw std::runtime_error("PDF/A needs the " + std::string(cmyk ? "CMYK" : "sRGB") + " colour profile " + path +
                                 " (Debian package " + (cmyk ? "libgs-common" : "icc-profiles-free") +
                                 "), which cannot be read");
    return std::make_shared<const std::vector<std::uint8_t>>(std::move(bytes));
}

namespace {

// What the document says of itself, as every reader shows it.
struct Details {
    const DocumentDetails& given;
    std::string title, creator, producer, pdfDate, xmpDate;
};

void writeInfo(QPDF& pdf, const Details& d) {
    QPDFObjectHandle info = QPDFObjectHandle::newDictionary();
    info.replaceKey("/Title", QPDFObjectHandle::newUnicodeString(d.title));
    if (!d.given.author.empty()) info.replaceKey("/Author", QPDFObjectHandle::newUnicodeString(d.given.author));
    if (!d.given.subject.empty()) info.replaceKey("/Subject", QPDFObjectHandle::newUnicodeString(d.given.subject));
    if (!d.given.keywords.empty()) info.replaceKey("/Keywords", QPDFObjectHandle::newUnicodeString(d.given.keywords));
    info.replaceKey("/Creator", QPDFObjectHandle::newUnicodeString(d.creator));
    info.replaceKey("/Producer", QPDFObjectHandle::newUnicodeString(d.producer));
    info.replaceKey("/CreationDate", QPDFObjectHandle::newString(d.pdfDate));
    info.replaceKey("/ModDate", QPDFObjectHandle::newString(d.pdfDate));
    if (!d.given.madeFrom.empty()) info.replaceKey(madeFromKey, QPDFObjectHandle::newString(d.given.madeFrom));
    pdf.getTrailer().replaceKey("/Info", pdf.makeIndirectObject(info));
}

// The same details as XMP metadata, which PDF/A asks for and archives read.
void writeMetadata(QPDF& pdf, const Details& d) {
    const DocumentDetails& given = d.given;
    const std::string xmp =
        "<?xpacket begin=\"\xEF\xBB\xBF\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>\n"
        "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\">\n"
        " <rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">\n"
        "  <rdf:Description rdf:about=\"\"\n"
        "    xmlns:dc=\"http://purl.org/dc/elements/1.1/\"\n"
        "    xmlns:xmp=\"http://ns.adobe.com/xap/1.0/\"\n"
        "    xmlns:pdf=\"http://ns.adobe.com/pdf/1.3/\"" +
        std::string(given.pdfa ? "\n    xmlns:pdfaid=\"http://www.aiim.org/pdfa/ns/id/\">\n"
                                 "   <pdfaid:part>2</pdfaid:part>\n"
                                 "   <pdfaid:conformance>B</pdfaid:conformance>\n"
                               : ">\n") +
        "   <dc:title><rdf:Alt><rdf:li xml:lang=\"x-default\">" + xmlEscaped(d.title) + "</rdf:li></rdf:Alt></dc:title>\n"
        "   <dc:format>application/pdf</dc:format>\n" +
        (given.author.empty() ? std::string()
                              : "   <dc:creator><rdf:Seq><rdf:li>" + xmlEscaped(given.author) + "</rdf:li></rdf:Seq></dc:creator>\n") +
        (given.subject.empty() ? std::string()
                               : "   <dc:description><rdf:Alt><rdf:li xml:lang=\"x-default\">" + xmlEscaped(given.subject) +
                                     "</rdf:li></rdf:Alt></dc:description>\n") +
        (given.keywords.empty() ? std::string() : "   <pdf:Keywords>" + xmlEscaped(given.keywords) + "</pdf:Keywords>\n") +
        "   <xmp:CreatorTool>" + xmlEscaped(d.creator) + "</xmp:CreatorTool>\n"
        "   <xmp:CreateDate>" + d.xmpDate + "</xmp:CreateDate>\n"
        "   <xmp:ModifyDate>" + d.xmpDate + "</xmp:ModifyDate>\n"
        "   <pdf:Producer>" + xmlEscaped(d.producer) + "</pdf:Producer>\n"
        "  </rdf:Description>\n"
        " </rdf:RDF>\n"
        "</x:xmpmeta>\n"
        "<?xpacket end=\"w\"?>";
    QPDFObjectHandle metadata = QPDFObjectHandle::newStream(&pdf, xmp);
    metadata.getDict().replaceKey("/Type", QPDFObjectHandle::newName("/Metadata"));
    metadata.getDict().replaceKey("/Subtype", QPDFObjectHandle::newName("/XML"));
    pdf.getRoot().replaceKey("/Metadata", metadata);
}

// PDF/A's output intent: colours in DeviceRGB and DeviceGray are taken as sRGB.
void writeOutputIntent(QPDF& pdf, const ArchiveProfiles& profiles) {
    const auto profile = systemProfile(profiles, false);
    QPDFObjectHandle destination =
        QPDFObjectHandle::newStream(&pdf, imaging::deflatedWhole(profile->data(), profile->size(), "a colour profile"));
    destination.getDict().replaceKey("/Filter", QPDFObjectHandle::newName("/FlateDecode"));
    destination.getDict().replaceKey("/N", QPDFObjectHandle::newInteger(3));
    QPDFObjectHandle intent = QPDFObjectHandle::parse(
        "<< /Type /OutputIntent /S /GTS_PDFA1 /OutputConditionIdentifier (sRGB IEC61966-2.1) "
        "/RegistryName (http://www.color.org) /Info (sRGB IEC61966-2.1) >>");
    intent.replaceKey("/DestOutputProfile", destination);
    pdf.getRoot().replaceKey("/OutputIntents", QPDFObjectHandle::newArray({pdf.makeIndirectObject(intent)}));
}

// Opened at the first page, whole; with several pages, a bookmark for each (its picture's title,
// or "Page N"), shown beside them.
void writeOutline(QPDF& pdf, const std::vector<Page>& pages) {
    const std::vector<QPDFObjectHandle> pageObjects = pdf.getAllPages();
    if (pageObjects.empty()) return;
    QPDFObjectHandle root = pdf.getRoot();
    root.replaceKey("/OpenAction", QPDFObjectHandle::parse("[null /Fit]"));
    root.getKey("/OpenAction").setArrayItem(0, pageObjects.front());
    if (pageObjects.size() < 2) return;
    QPDFObjectHandle outlines = pdf.makeIndirectObject(QPDFObjectHandle::newDictionary());
    outlines.replaceKey("/Type", QPDFObjectHandle::newName("/Outlines"));
    std::vector<QPDFObjectHandle> items;
    for (std::size_t i = 0; i < pageObjects.size(); ++i) {
        QPDFObjectHandle item = pdf.makeIndirectObject(QPDFObjectHandle::newDictionary());
        const std::string name = i >= pages.size() || pages[i].title.empty() ? "Page " + std::to_string(i + 1) : pages[i].title;
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

}  // namespace

void describeDocument(QPDF& pdf, const PrintJob& job, const std::string& title, const std::vector<Page>& pages,
                      const ArchiveProfiles& profiles) {
    const DocumentDetails& given = job.details;
    const bool fixedTime = given.date >= 0 || std::getenv("SOURCE_DATE_EPOCH");
    const auto [pdfDate, xmpDate] = datesOf(documentTime(given), fixedTime);
    const Details details{given, title, job.documentName.empty() ? "Pictolio" : job.documentName,
                          std::string("Tenbrook PDF Writer ") + pictolio::config::version, pdfDate, xmpDate};
    writeInfo(pdf, details);
    writeMetadata(pdf, details);
    if (given.pdfa) writeOutputIntent(pdf, profiles);
    writeOutline(pdf, pages);
}

std::string madeFromOf(const std::string& path) {
    try {
        QPDF pdf;
        pdf.setSuppressWarnings(true);
        pdf.processFile(path.c_str());
        QPDFObjectHandle made = pdf.getTrailer().getKey("/Info").getKey(madeFromKey);
        return made.isString() ? made.getStringValue() : std::string();
    } catch (const std::exception&) {
        return {};
    }
}

}  // namespace pdffile
