// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/support/pdfreader.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <algorithm>
#include <stdexcept>
#include <qpdf/Buffer.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>

namespace pictolio::testing {

namespace {

std::string text(const std::shared_ptr<Buffer>& b) {
    return std::string(reinterpret_cast<const char*>(b->getBuffer()), b->getSize());
}

// Parts of a file, read where they are.
class Bytes {
public:
    explicit Bytes(const QString& path) : m_file(path) { m_open = m_file.open(QIODevice::ReadOnly); }
    bool isOpen() const { return m_open; }
    qint64 size() const { return m_file.size(); }
    QByteArray at(qint64 offset, qint64 n) {
        if (offset < 0 || n < 0 || !m_file.seek(offset)) return {};
        return m_file.read(n);
    }

private:
    QFile m_file;
    bool m_open = false;
};

bool allDigits(const QByteArray& b) {
    return !b.isEmpty() && std::all_of(b.begin(), b.end(), [](char c) { return c >= '0' && c <= '9'; });
}

QString shown(const QByteArray& bytes) { return QString::fromLatin1(bytes.toPercentEncoding(" /<>[]")); }

// What the trailer (or the cross-reference stream's dictionary) says beside the entries.
struct TrailerKeys {
    qint64 size = 0, root = 0, info = 0;
};

// "/Root R 0 R /Info I 0 R /ID [<id><id>]" as the writer puts them, the two halves of the ID the
// same; from capture `first` of the match on.
QString trailerKeysProblem(const QRegularExpressionMatch& m, int first, TrailerKeys* keys) {
    keys->root = m.captured(first).toLongLong();
    keys->info = m.captured(first + 1).toLongLong();
    if (m.captured(first + 2) != m.captured(first + 3)) return QStringLiteral("the /ID's two parts differ");
    return {};
}

}  // namespace

QString layoutProblems(const QString& path) {
    Bytes file(path);
    if (!file.isOpen()) return QStringLiteral("cannot be read");
    const qint64 size = file.size();

    // The header: the version, then a comment of four bytes above 127 that marks the file binary.
    const QByteArray head = file.at(0, 15);
    if (head.size() != 15 || !head.startsWith("%PDF-1.") || head[7] < '3' || head[7] > '7' ||
        head.mid(8, 2) != "\n%" || head[14] != '\n' ||
        !std::all_of(head.begin() + 10, head.begin() + 14, [](char c) { return uchar(c) >= 128; }))
        return QStringLiteral("header \"%1\"").arg(shown(head));
    const char version = head[7];

    // The end: "startxref", the cross-reference section's offset, "%%EOF", each on its line.
    const QByteArray end = file.at(std::max<qint64>(0, size - 40), 40);
    const qsizetype at = end.lastIndexOf("\nstartxref\n");
    if (at < 0 || !end.endsWith("\n%%EOF\n")) return QStringLiteral("end \"%1\"").arg(shown(end));
    const QByteArray number = end.mid(at + 11, end.size() - at - 11 - 7);
    if (!allDigits(number) || (number.size() > 1 && number[0] == '0'))
        return QStringLiteral("startxref \"%1\"").arg(shown(number));
    const qint64 xref = number.toLongLong();
    const qint64 tailStart = size - (end.size() - at - 1);  // where "startxref" begins
    if (xref < 15 || xref >= tailStart) return QStringLiteral("startxref %1 is outside the file").arg(xref);

    std::vector<qint64> offsets;  // by object number; -1 for a free one
    TrailerKeys keys;
    qint64 objectsEnd = xref;
    const QByteArray section = file.at(xref, 320);
    if (section.startsWith("xref\n")) {
        const qsizetype line = section.indexOf('\n', 5);
        const QByteArray subsection = section.mid(5, line - 5);
        if (line < 0 || !subsection.startsWith("0 ") || !allDigits(subsection.mid(2)))
            return QStringLiteral("xref subsection \"%1\"").arg(shown(subsection));
        const qint64 count = subsection.mid(2).toLongLong();
        const qint64 entriesAt = xref + line + 1;
        if (count < 1 || entriesAt + count * 20 > tailStart) return QStringLiteral("xref of %1 entries passes the end").arg(count);
        const QByteArray entries = file.at(entriesAt, count * 20);
        for (qint64 n = 0; n < count; ++n) {
            const QByteArray e = entries.mid(n * 20, 20);
            const bool shape = allDigits(e.left(10)) && e[10] == ' ' && allDigits(e.mid(11, 5)) && e[16] == ' ' &&
                               (e[17] == 'n' || e[17] == 'f') && e.endsWith(" \n");
            if (!shape) return QStringLiteral("xref entry %1 \"%2\" is not 20 bytes: offset, generation, n or f, space, newline").arg(n).arg(shown(e));
            if (e[17] == 'f' && e.left(17) != "0000000000 65535 ")
                return QStringLiteral("xref entry %1 \"%2\": a free entry as the writer makes none").arg(n).arg(shown(e));
            if (e[17] == 'n' && (n == 0 || e.mid(11, 5) != "00000"))
                return QStringLiteral("xref entry %1 \"%2\"").arg(n).arg(shown(e));
            offsets.push_back(e[17] == 'n' ? e.left(10).toLongLong() : -1);
        }
        const QByteArray trailer = file.at(entriesAt + count * 20, tailStart - entriesAt - count * 20);
        static const QRegularExpression shape(QStringLiteral(
            "^trailer\\n<< /Size (\\d+) /Root (\\d+) 0 R /Info (\\d+) 0 R /ID \\[<([0-9a-f]{32})><([0-9a-f]{32})>\\] >>\\n$"));
        const QRegularExpressionMatch m = shape.match(QString::fromLatin1(trailer));
        if (!m.hasMatch()) return QStringLiteral("trailer \"%1\"").arg(shown(trailer));
        keys.size = m.captured(1).toLongLong();
        if (const QString p = trailerKeysProblem(m, 2, &keys); !p.isEmpty()) return p;
    } else {
        // A cross-reference stream, uncompressed: a type byte, the offset, a two-byte generation.
        static const QRegularExpression shape(QStringLiteral(
            "^(\\d+) 0 obj\\n<< /Type /XRef /Size (\\d+) /W \\[1 ([1-8]) 2\\] /Root (\\d+) 0 R /Info (\\d+) 0 R "
            "/ID \\[<([0-9a-f]{32})><([0-9a-f]{32})>\\] /Length (\\d+) >>\\nstream\\n"));
        const QRegularExpressionMatch m = shape.match(QString::fromLatin1(section));
        if (!m.hasMatch()) return QStringLiteral("cross-reference section \"%1\"").arg(shown(section.left(200)));
        if (version < '5') return QStringLiteral("a cross-reference stream in a PDF 1.%1 file").arg(version);
        const qint64 self = m.captured(1).toLongLong();
        keys.size = m.captured(2).toLongLong();
        const int width = m.captured(3).toInt();
        if (const QString p = trailerKeysProblem(m, 4, &keys); !p.isEmpty()) return p;
        const qint64 length = m.captured(8).toLongLong();
        const qint64 dataAt = xref + m.capturedLength(0);
        if (length != keys.size * (3 + width) || dataAt + length + 18 != tailStart ||
            file.at(dataAt + length, 18) != "\nendstream\nendobj\n")
            return QStringLiteral("cross-reference stream of %1 bytes for %2 entries, or not ended where startxref is")
                .arg(length).arg(keys.size);
        const QByteArray entries = file.at(dataAt, length);
        for (qint64 n = 0; n < keys.size; ++n) {
            const QByteArray e = entries.mid(n * (3 + width), 3 + width);
            qint64 field = 0;
            for (int i = 1; i <= width; ++i) field = field << 8 | uchar(e[i]);
            const QByteArray generation = e.right(2);
            if (e[0] == 0 && field == 0 && generation == "\xFF\xFF") {
                offsets.push_back(-1);
            } else if (e[0] == 1 && n > 0 && generation == QByteArray(2, '\0')) {
                offsets.push_back(field);
            } else {
                return QStringLiteral("cross-reference stream entry %1 \"%2\"").arg(n).arg(QString::fromLatin1(e.toHex()));
            }
        }
        if (self != keys.size - 1 || offsets.back() != xref)
            return QStringLiteral("the cross-reference stream is not the last object, at startxref");
        offsets.back() = -1;  // checked: not one of the objects before it
    }
    if (qint64(offsets.size()) != keys.size || offsets[0] != -1)
        return QStringLiteral("/Size %1 for %2 entries, the first one in use").arg(keys.size).arg(offsets.size());

    // Every object where its entry says, each at an offset of its own, before the section.
    std::vector<qint64> seen;
    for (std::size_t n = 0; n < offsets.size(); ++n) {
        if (offsets[n] < 0) continue;
        const QByteArray line = QByteArray::number(qint64(n)) + " 0 obj\n";
        if (offsets[n] < 15 || offsets[n] + line.size() > objectsEnd || file.at(offsets[n], line.size()) != line)
            return QStringLiteral("object %1: its offset %2 does not land on \"%1 0 obj\"").arg(n).arg(offsets[n]);
        seen.push_back(offsets[n]);
    }
    std::sort(seen.begin(), seen.end());
    if (std::adjacent_find(seen.begin(), seen.end()) != seen.end()) return QStringLiteral("two objects at one offset");
    for (const qint64 id : {keys.root, keys.info})
        if (id <= 0 || id >= keys.size || offsets[std::size_t(id)] < 0)
            return QStringLiteral("the trailer names object %1, which is not in use").arg(id);
    return {};
}

std::vector<PdfPage> readPdf(const QString& path) {
    QPDF pdf;
    pdf.setAttemptRecovery(false);  // a damaged cross-reference table is an error, not mended
    pdf.processFile(QFile::encodeName(path).constData());
    if (const QString problem = layoutProblems(path); !problem.isEmpty())
        throw std::runtime_error(path.toStdString() + ": " + problem.toStdString());
    std::vector<PdfPage> pages;
    for (QPDFPageObjectHelper& page : QPDFPageDocumentHelper(pdf).getAllPages()) {
        PdfPage out;
        QPDFObjectHandle box = page.getObjectHandle().getKey("/MediaBox");
        for (int i = 0; i < 4; ++i) out.mediaBox[i] = box.getArrayItem(i).getNumericValue();
        const std::string content = text(page.getObjectHandle().getKey("/Contents").getStreamData());
        const QRegularExpression drawing(
            QStringLiteral("q (\\S+) (\\S+) (\\S+) (\\S+) re W n (\\S+) (\\S+) (\\S+) (\\S+) (\\S+) (\\S+) cm (/\\w+) Do"
                           "((?: \\S+ \\S+ \\S+ rg /\\w+ Do)*) Q"));
        // Image masks painted over an image, each in its colour.
        const QRegularExpression stencil(QStringLiteral("(\\S+ \\S+ \\S+) rg (/\\w+) Do"));
        QPDFObjectHandle xobjects = page.getObjectHandle().getKey("/Resources").getKey("/XObject");
        auto it = drawing.globalMatch(QString::fromStdString(content));
        while (it.hasNext()) {
            const auto m = it.next();
            std::vector<std::pair<QString, QString>> drawn{{m.captured(11), QString()}};
            for (auto over = stencil.globalMatch(m.captured(12)); over.hasNext();) {
                const auto s = over.next();
                drawn.emplace_back(s.captured(2), s.captured(1));
            }
            for (const auto& [name, fill] : drawn) {
                PdfImage image;
                image.fill = fill.toStdString();
                for (int i = 0; i < 4; ++i) image.clip[i] = m.captured(1 + i).toDouble();
                for (int i = 0; i < 6; ++i) image.matrix[i] = m.captured(5 + i).toDouble();
                QPDFObjectHandle stream = xobjects.getKey(name.toStdString());
                QPDFObjectHandle dict = stream.getDict();
                image.filter = dict.getKey("/Filter").unparse();
                image.colorSpace = dict.getKey("/ColorSpace").unparse();
                image.bitsPerComponent = dict.getKey("/BitsPerComponent").getIntValueAsInt();
                QPDFObjectHandle space = dict.getKey("/ColorSpace");
                if (space.isArray() && space.getArrayItem(0).isNameAndEquals("/Indexed")) space = space.getArrayItem(1);
                if (space.isArray() && space.getArrayItem(0).isNameAndEquals("/ICCBased")) {
                    QPDFObjectHandle profile = space.getArrayItem(1);
                    image.profile = text(profile.getStreamData(qpdf_dl_generalized));
                    image.profileComponents = profile.getDict().getKey("/N").getIntValueAsInt();
                    image.profileAlternate = profile.getDict().getKey("/Alternate").unparse();
                    image.profileObject = profile.getObjectID();
                }
                image.decode = dict.hasKey("/Decode") ? dict.getKey("/Decode").unparse() : "";
                image.width = dict.getKey("/Width").getIntValueAsInt();
                image.height = dict.getKey("/Height").getIntValueAsInt();
                image.rawData = text(stream.getRawStreamData());
                if (image.filter == "/FlateDecode")
                    image.decodedData = text(stream.getStreamData(qpdf_dl_generalized));
                if (dict.hasKey("/Mask")) image.mask = dict.getKey("/Mask").unparse();
                if (dict.hasKey("/SMask"))
                    image.softMask = text(dict.getKey("/SMask").getStreamData(qpdf_dl_generalized));
                out.images.push_back(std::move(image));
            }
        }
        pages.push_back(std::move(out));
    }
    return pages;
}

std::vector<QImage> renderPdf(const QString& path, int dpi) {
    QTemporaryDir dir;
    QProcess pdftoppm;
    pdftoppm.start(QStringLiteral("pdftoppm"),
                   {QStringLiteral("-r"), QString::number(dpi), QStringLiteral("-png"), path, dir.filePath("page")});
    if (!pdftoppm.waitForFinished(120000) || pdftoppm.exitCode() != 0) return {};
    std::vector<QImage> pages;
    const QStringList files = QDir(dir.path()).entryList({QStringLiteral("page-*.png")}, QDir::Files, QDir::Name);
    for (const QString& file : files) pages.push_back(QImage(dir.filePath(file)).convertToFormat(QImage::Format_RGB32));
    return pages;
}

QString qpdfCheckProblems(const QString& path) {
    QProcess qpdf;
    qpdf.start(QStringLiteral("qpdf"), {QStringLiteral("--check"), path});
    if (!qpdf.waitForFinished(60000)) return QStringLiteral("qpdf did not run");
    if (qpdf.exitCode() != 0) return QString::fromLocal8Bit(qpdf.readAllStandardOutput() + qpdf.readAllStandardError());
    return layoutProblems(path);
}

}  // namespace pictolio::testing
