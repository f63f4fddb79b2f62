// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/support/pdfreader.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <qpdf/Buffer.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>

namespace pictolio::testing {

namespace {

std::string text(const std::shared_ptr<Buffer>& b) {
    return std::string(reinterpret_cast<const char*>(b->getBuffer()), b->getSize());
}

}  // namespace

std::vector<PdfPage> readPdf(const QString& path) {
    QPDF pdf;
    pdf.setAttemptRecovery(false);  // a damaged cross-reference table is an error, not mended
    pdf.processFile(QFile::encodeName(path).constData());
    std::vector<PdfPage> pages;
    for (QPDFPageObjectHelper& page : QPDFPageDocumentHelper(pdf).getAllPages()) {
        PdfPage out;
        QPDFObjectHandle box = page.getObjectHandle().getKey("/MediaBox");
        for (int i = 0; i < 4; ++i) out.mediaBox[i] = box.getArrayItem(i).getNumericValue();
        const std::string content = text(page.getObjectHandle().getKey("/Contents").getStreamData());
        const QRegularExpression drawing(
            QStringLiteral("q (\\S+) (\\S+) (\\S+) (\\S+) re W n (\\S+) (\\S+) (\\S+) (\\S+) (\\S+) (\\S+) cm (/\\w+) Do Q"));
        QPDFObjectHandle xobjects = page.getObjectHandle().getKey("/Resources").getKey("/XObject");
        auto it = drawing.globalMatch(QString::fromStdString(content));
        while (it.hasNext()) {
            const auto m = it.next();
            PdfImage image;
            for (int i = 0; i < 4; ++i) image.clip[i] = m.captured(1 + i).toDouble();
            for (int i = 0; i < 6; ++i) image.matrix[i] = m.captured(5 + i).toDouble();
            QPDFObjectHandle stream = xobjects.getKey(m.captured(11).toStdString());
            QPDFObjectHandle dict = stream.getDict();
            image.filter = dict.getKey("/Filter").unparse();
            image.colorSpace = dict.getKey("/ColorSpace").unparse();
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
    if (qpdf.exitCode() == 0) return {};
    return QString::fromLocal8Bit(qpdf.readAllStandardOutput() + qpdf.readAllStandardError());
}

}  // namespace pictolio::testing
