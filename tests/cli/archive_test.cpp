// SPDX-License-Identifier: GPL-3.0-or-later
// pictolio-convert's PDF/A files, rule by rule: no validator comes with Debian, so each rule of
// PDF/A-2b that applies to what the writer makes is checked here on a real file, read back with
// libqpdf. And preferences set for one run with --set.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <functional>
#include <map>
#include <qpdf/Buffer.hh>
#include <qpdf/QPDF.hh>

#include "appconfig.h"
#include "tests/cli/commandfixture.h"
#include "tests/support/pdfreader.h"
#include "tests/support/picturefiles.h"
#include "tests/support/testpictures.h"

namespace pictolio {
namespace {

class ArchiveFiles : public testing::ConvertCommand {
protected:
    void SetUp() override {
        ConvertCommand::SetUp();
        variables = {{"TZ", "UTC"}, {"SOURCE_DATE_EPOCH", QString()}};
        waitMs = 180000;
    }
};

std::string bytesOf(QPDFObjectHandle stream) {
    const std::shared_ptr<Buffer> data = stream.getStreamData();
    return {reinterpret_cast<const char*>(data->getBuffer()), data->getSize()};
}

// The XMP properties by name ("dc:title"), the text of their rdf:li for lists; "parse error"
// when the packet is not well-formed XML.
std::map<QString, QString> xmpProperties(const std::string& packet) {
    std::map<QString, QString> properties;
    QXmlStreamReader xml(QByteArray::fromStdString(packet));
    QStringList open;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement()) open << xml.qualifiedName().toString();
        if (xml.isEndElement()) open.removeLast();
        if (xml.isCharacters() && !xml.isWhitespace() && !open.isEmpty()) {
            QString owner = open.last();
            for (int i = int(open.size()) - 1; i >= 0 && open[i].startsWith("rdf:"); --i) owner = i ? open[i - 1] : "";
            properties[owner] += xml.text().toString();
        }
        if (xml.isStartElement() && xml.prefix() == QLatin1String("pdfaid") &&
            xml.namespaceUri() != QLatin1String("http://www.aiim.org/pdfa/ns/id/"))
            properties["pdfaid namespace"] = xml.namespaceUri().toString();
    }
    if (xml.hasError()) properties["parse error"] = xml.errorString();
    return properties;
}

// "D:20261207103243+05'30'" as XMP writes it: "2026-12-07T10:32:43+05:30".
QString xmpDate(const std::string& pdfDate) {
    const QString d = QString::fromStdString(pdfDate);
    const QString zone = d.mid(16) == "Z" ? "Z" : d.mid(16, 3) + ":" + d.mid(20, 2);
    return QStringLiteral("%1-%2-%3T%4:%5:%6%7")
        .arg(d.mid(2, 4), d.mid(6, 2), d.mid(8, 2), d.mid(10, 2), d.mid(12, 2), d.mid(14, 2), zone);
}

// Each key anywhere in the file that PDF/A forbids, or forbids with this value, as "where: key".
void forbiddenKeys(QPDFObjectHandle object, const std::string& where, std::vector<std::string>& found) {
    if (object.isStream()) object = object.getDict();
    if (object.isArray())
        for (int i = 0; i < object.getArrayNItems(); ++i)
            if (!object.getArrayItem(i).isIndirect()) forbiddenKeys(object.getArrayItem(i), where, found);
    if (!object.isDictionary()) return;
    for (const std::string& key : object.getKeys()) {
        QPDFObjectHandle value = object.getKey(key);
        const std::string text = value.isIndirect() ? "" : value.unparse();
        if (key == "/Encrypt" || key == "/JS" || key == "/JavaScript" || key == "/AA" || key == "/TR" ||
            key == "/TR2" || key == "/Alternates" || key == "/OPI" || key == "/EmbeddedFiles" ||
            (key == "/Interpolate" && value.isBool() && value.getBoolValue()) ||
            (key == "/Filter" && text.find("LZW") != std::string::npos) ||
            (key == "/ColorSpace" && text.find("/DeviceCMYK") != std::string::npos))
            found.push_back(where + ": " + key + " " + text);
        if (!value.isIndirect()) forbiddenKeys(value, where, found);
    }
}

// A font program's advance widths (TrueType hmtx), per glyph, in thousandths of its em.
std::vector<int> glyphWidths(const std::string& font) {
    const auto u16 = [&](std::size_t at) { return at + 2 <= font.size() ? (std::uint8_t(font[at]) << 8) | std::uint8_t(font[at + 1]) : 0; };
    const auto u32 = [&](std::size_t at) { return (std::size_t(u16(at)) << 16) | std::size_t(u16(at + 2)); };
    std::map<std::string, std::size_t> tables;
    for (int i = 0; i < u16(4); ++i) tables[font.substr(12 + 16 * std::size_t(i), 4)] = u32(12 + 16 * std::size_t(i) + 8);
    const int unitsPerEm = u16(tables["head"] + 18), metrics = u16(tables["hhea"] + 34);
    std::vector<int> widths;
    for (int g = 0; g < metrics && unitsPerEm > 0; ++g)
        widths.push_back(u16(tables["hmtx"] + 4 * std::size_t(g)) * 1000 / unitsPerEm);
    return widths;
}

// One PDF/A-2b rule: "" when the file keeps it, else what breaks it.
using Rule = std::function<std::string(QPDF&, const QByteArray&)>;

TEST_F(ArchiveFiles, EveryRuleThatAppliesIsKept) {
    const QString photo = pics.filePath("photo.jpg"), inks = pics.filePath("inks.jpg"), clear = pics.filePath("clear.png"),
                  letter = pics.filePath("letter.jpg");
    testing::writeFile(photo, testing::makeJpeg({}));
    testing::writeFile(inks, testing::makeJpeg({.kind = testing::JpegRecipe::Kind::PlainCmyk}));
    testing::writeFile(clear, testing::makePng({.colorType = 6}));
    testing::writeFile(letter, testing::textJpeg(testing::drawTextPage().image, 1, 300));
    const QString pdf = out.filePath("archive.pdf");
    variables["TZ"] = "Asia/Kolkata";
    ASSERT_EQ(run({"--pdfa", "--ocr", "eng", "-j", "-o", pdf, "--author", "Ann Ōkubo & co", "--subject", "Receipts",
                   "--keywords", "tax, 2026", photo, inks, clear, letter}),
              0)
        << errors.toStdString();
    const QByteArray bytes = testing::readFile(pdf);
    QPDF file;
    file.processFile(QFile::encodeName(pdf).constData());
    QPDFObjectHandle root = file.getRoot(), info = file.getTrailer().getKey("/Info");

    const std::pair<const char*, Rule> rules[] = {
        {"header: a version of PDF 1.7 at most, then a comment of four bytes over 127",
         [](QPDF&, const QByteArray& b) {
             bool binary = b.size() > 14 && b.at(9) == '%';
             for (int i = 10; i < 14 && binary; ++i) binary = std::uint8_t(b.at(i)) > 127;
             return b.startsWith("%PDF-1.") && b.at(7) <= '7' && b.at(8) == '\n' && binary ? "" : b.left(16).toStdString();
         }},
        {"trailer: a file identifier of two strings, no encryption",
         [](QPDF& q, const QByteArray&) {
             QPDFObjectHandle id = q.getTrailer().getKey("/ID");
             const bool ok = id.isArray() && id.getArrayNItems() == 2 && id.getArrayItem(0).isString() &&
                             id.getArrayItem(1).isString() && !q.getTrailer().hasKey("/Encrypt");
             return ok ? "" : q.getTrailer().unparse();
         }},
        {"XMP metadata: uncompressed, well-formed, saying PDF/A-2B",
         [&](QPDF&, const QByteArray&) {
             QPDFObjectHandle metadata = root.getKey("/Metadata");
             if (!metadata.isStream() || metadata.getDict().hasKey("/Filter")) return std::string("no plain /Metadata");
             auto xmp = xmpProperties(bytesOf(metadata));
             const bool ok = !xmp.count("parse error") && !xmp.count("pdfaid namespace") &&
                             xmp["pdfaid:part"] == "2" && xmp["pdfaid:conformance"] == "B";
             return ok ? "" : bytesOf(metadata);
         }},
        {"XMP metadata: the document information's values, dates included",
         [&](QPDF&, const QByteArray&) {
             auto xmp = xmpProperties(bytesOf(root.getKey("/Metadata")));
             std::string problems;
             for (const auto& [key, property] : {std::pair{"/Title", "dc:title"}, std::pair{"/Author", "dc:creator"},
                                                 std::pair{"/Subject", "dc:description"},
                                                 std::pair{"/Keywords", "pdf:Keywords"},
                                                 std::pair{"/Creator", "xmp:CreatorTool"},
                                                 std::pair{"/Producer", "pdf:Producer"},
                                                 std::pair{"/CreationDate", "xmp:CreateDate"},
                                                 std::pair{"/ModDate", "xmp:ModifyDate"}}) {
                 const std::string value = info.getKey(key).getUTF8Value();
                 const bool date = std::string(key).find("Date") != std::string::npos;
                 const QString expected = date ? xmpDate(value) : QString::fromStdString(value);
                 if (expected.isEmpty() || xmp[property] != expected || (date && !expected.endsWith("+05:30")))
                     problems += std::string(key) + " " + value + " against " + xmp[property].toStdString() + "; ";
             }
             return problems;
         }},
        {"output intent: GTS_PDFA1, sRGB, the profile of icc-profiles-free",
         [&](QPDF&, const QByteArray&) {
             QPDFObjectHandle intents = root.getKey("/OutputIntents");
             if (!intents.isArray() || intents.getArrayNItems() != 1) return std::string("not one output intent");
             QPDFObjectHandle intent = intents.getArrayItem(0), profile = intent.getKey("/DestOutputProfile");
             const bool ok = intent.getKey("/S").isNameAndEquals("/GTS_PDFA1") &&
                             intent.getKey("/OutputConditionIdentifier").getUTF8Value() == "sRGB IEC61966-2.1" &&
                             profile.isStream() && profile.getDict().getKey("/N").getIntValue() == 3 &&
                             bytesOf(profile) == testing::readFile(config::srgbProfile).toStdString();
             return ok ? "" : intent.unparse();
         }},
        {"fonts: embedded, a glyph for every code (no .notdef), widths as the font program's",
         [](QPDF& q, const QByteArray&) {
             std::string problems;
             int fonts = 0;
             for (QPDFObjectHandle font : q.getAllObjects()) {
                 if (!font.isDictionary() || !font.getKey("/Subtype").isNameAndEquals("/CIDFontType2")) continue;
                 ++fonts;
                 QPDFObjectHandle program = font.getKey("/FontDescriptor").getKey("/FontFile2");
                 QPDFObjectHandle map = font.getKey("/CIDToGIDMap");
                 if (!program.isStream() || !map.isStream()) {
                     problems += "not embedded, or no /CIDToGIDMap: " + font.unparse() + "; ";
                     continue;
                 }
                 const std::vector<int> widths = glyphWidths(bytesOf(program));
                 const std::string glyphs = bytesOf(map);
                 for (std::size_t cid = 0; cid + 1 < glyphs.size(); cid += 2) {
                     const std::size_t glyph = (std::uint8_t(glyphs[cid]) << 8) | std::uint8_t(glyphs[cid + 1]);
                     const int width = widths.empty() ? -1 : widths[std::min(glyph, widths.size() - 1)];
                     if (glyph == 0 || (!font.hasKey("/W") && width != font.getKey("/DW").getIntValue())) {
                         problems += "code " + std::to_string(cid / 2) + " shows glyph " + std::to_string(glyph) +
                                     " of width " + std::to_string(width) + "; ";
                         break;
                     }
                 }
             }
             return fonts == 1 ? problems : "fonts: " + std::to_string(fonts) + "; " + problems;
         }},
        {"nothing PDF/A forbids: encryption, scripts, actions, LZW, interpolation, transfer functions, "
         "device CMYK",
         [](QPDF& q, const QByteArray&) {
             std::vector<std::string> found;
             forbiddenKeys(q.getTrailer(), "trailer", found);
             for (QPDFObjectHandle object : q.getAllObjects()) forbiddenKeys(object, object.unparse(), found);
             return found.empty() ? std::string() : found.front();
         }},
        {"a file qpdf finds whole", [&](QPDF&, const QByteArray&) {
             return testing::qpdfCheckProblems(pdf).toStdString();
         }},
    };
    for (const auto& [rule, check] : rules) EXPECT_EQ(check(file, bytes), "") << rule;

    // The CMYK picture keeps its inks, with a CMYK profile; the others as they were.
    const auto pages = testing::readPdf(pdf);
    ASSERT_EQ(pages.size(), 4u);
    EXPECT_EQ(pages[1].images.at(0).profileComponents, 4);
    EXPECT_TRUE(QByteArray::fromStdString(pages[1].images.at(0).rawData) == testing::readFile(inks));
    EXPECT_EQ(pages[0].images.at(0).colorSpace, "/DeviceRGB");

    // Without --pdfa, none of it.
    ASSERT_EQ(run({"-j", "-o", pdf, photo, inks}), 0) << errors.toStdString();
    const QByteArray plain = testing::readFile(pdf);
    EXPECT_TRUE(plain.startsWith("%PDF-1.3\n"));
    EXPECT_FALSE(plain.contains("/OutputIntents") || plain.contains("pdfaid") || plain.contains("/ICCBased"));
}

// Any preference, for one run: --set NAME=VALUE, refused as pictolio-printer refuses it.
TEST_F(ArchiveFiles, AnyPreferenceCanBeSetForOneRun) {
    const QString photo = pics.filePath("photo.jpg");
    testing::writeFile(photo, testing::makeJpeg({.width = 72, .height = 72, .densityUnit = 1, .xDensity = 72,
                                                 .yDensity = 72}));
    const struct {
        QStringList arguments;
        double x;  // where the picture lands on its A4 page
    } cases[] = {
        {{"--paper", "A4"}, 12},
        {{"--paper", "A4", "--set", "center=on"}, (595.28 - 72) / 2},
        {{"--set", "paper=A4", "--set", "center=on", "--set", "margin=1in"}, (595.28 - 72) / 2},
        {{"--set", "paper=A4", "--set", "margin=1in"}, 72},
        {{"--set", "paper=A5", "--paper", "A4", "--set", "margin=10pt"}, 10},  // the named option wins
    };
    for (const auto& c : cases) {
        ASSERT_EQ(run(c.arguments + QStringList{photo}), 0) << errors.toStdString();
        const auto pages = testing::readPdf(out.filePath("photo.pdf"));
        ASSERT_EQ(pages.size(), 1u);
        EXPECT_NEAR(pages[0].mediaBox[2], 595.28, 0.01) << c.arguments.join(' ').toStdString();
        EXPECT_NEAR(pages[0].images.at(0).matrix[4], c.x, 0.1) << c.arguments.join(' ').toStdString();
        QFile::remove(out.filePath("photo.pdf"));
    }
    // A title set so holds for a joined PDF given its own name too.
    ASSERT_EQ(run({"-j", "-o", "named.pdf", "--set", "title=Trip", photo}), 0) << errors.toStdString();
    QPDF named;
    named.processFile(QFile::encodeName(out.filePath("named.pdf")).constData());
    EXPECT_EQ(named.getTrailer().getKey("/Info").getKey("/Title").getUTF8Value(), "Trip");
}

// Preferences stored for the printer change a run only with a word about it; --defaults leaves
// them out.
TEST_F(ArchiveFiles, StoredPreferencesAreSaidOrLeftOut) {
    const QString photo = pics.filePath("photo.jpg");
    testing::writeFile(photo, testing::makeJpeg({.width = 72, .height = 72}));
    ASSERT_EQ(run({"preferences", "--set", "paper=A5", "center=on", "margin=10mm"}, nullptr, "pictolio-printer"), 0)
        << errors.toStdString();
    const struct {
        QStringList arguments;
        const char* said;  // the line on stderr, "" for none
        double width;      // of the page made
    } cases[] = {
        {{}, "stored preferences apply: paper=A5, margin=10mm, center=on (--defaults leaves them out)", 419.53},
        {{"-q"}, "", 419.53},
        {{"--paper", "A4", "--set", "margin=0"}, "stored preferences apply: center=on (", 595.28},
        {{"--defaults", "--paper", "A4"}, "", 595.28},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(run(c.arguments + QStringList{photo}), 0) << errors.toStdString();
        const QString line = errors.split('\n').filter("stored preferences").value(0);
        if (*c.said) EXPECT_TRUE(line.contains(c.said)) << errors.toStdString();
        else EXPECT_TRUE(line.isEmpty()) << line.toStdString();
        const auto pages = testing::readPdf(out.filePath("photo.pdf"));
        ASSERT_EQ(pages.size(), 1u);
        EXPECT_NEAR(pages[0].mediaBox[2], c.width, 0.01) << c.arguments.join(' ').toStdString();
        QFile::remove(out.filePath("photo.pdf"));
    }
    // Left out, the stored centring is too: the picture sits at the default margin.
    ASSERT_EQ(run({"--defaults", "--paper", "A4", photo}), 0);
    EXPECT_NEAR(testing::readPdf(out.filePath("photo.pdf"))[0].images.at(0).matrix[4], 12, 0.1);
}

}  // namespace
}  // namespace pictolio
