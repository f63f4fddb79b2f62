// SPDX-License-Identifier: GPL-3.0-or-later
// Seeing the pictures in the list: a tooltip with a row's thumbnail and what page it makes, and
// a large preview on Space.
#include <QCryptographicHash>
#include <QHelpEvent>
#include <QLocale>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QToolTip>
#include <QTransform>

#include "app/form1.h"
#include "app/previewwindow.h"
#include "filelist/filelist.h"
#include "pdfwriter/pagesetup.h"
#include "platform/printservice.h"
#include "pictures/thumbnails.h"

namespace pictolio {

namespace {

QString inches(double value) { return QLocale().toString(value, 'f', value < 10 ? 1 : 0); }

}  // namespace

// The page a picture makes with the options as they are now and the printer's preferences.
QString Form1::pageDescription(const PictureFacts& facts) const {
    const pdfwriter::PageSetup setup = m_services.printing.pageSetup();
    const double w = facts.widthInches * setup.dpi, h = facts.heightInches * setup.dpi;
    const pdfwriter::LaidOut page = pdfwriter::pageFor(setup, w, h);
    const QString paper = setup.fitToPicture ? tr("a page of its own size")
                          : QStringLiteral("%1 %2").arg(setup.paperName == QLatin1String("Custom") ? tr("custom")
                                                                                                  : setup.paperName,
                                                        page.pageWidth > page.pageHeight ? tr("landscape")
                                                                                         : tr("portrait"));
    if (Option3->isChecked() && !Option4->isChecked()) return tr("stretched over %1").arg(paper);
    const pdfwriter::LaidOut laid = pdfwriter::layOut(setup, page, {true, 0, 0, w, h, w, h});
    const QString size = tr("%1 x %2 in").arg(inches(laid.target.width / 72), inches(laid.target.height / 72));
    if (laid.target.width < facts.widthInches * 72 - 0.01) return tr("shrunk to fit %1 (%2)").arg(paper, size);
    return tr("%1 at its own size on %2").arg(size, paper);
}

// A row's tooltip shows its picture turned as the row says (quarter turns clockwise), and the
// page it makes so.
QString Form1::rowToolTip(const PictureFacts& shown, int turn) {
    const QString name = shown.path.mid(shown.path.lastIndexOf(QLatin1Char('/')) + 1).toHtmlEscaped();
    if (!shown.valid) return tr("<b>%1</b><br>not a valid picture").arg(name);
    PictureFacts facts = shown;
    turn = (turn % 4 + 4) % 4;
    if (turn % 2) {
        std::swap(facts.width, facts.height);
        std::swap(facts.widthInches, facts.heightInches);
    }
    if (turn && !facts.thumbnail.isNull()) {
        // The turned thumbnail in a folder of the window's own.
        if (!m_turnedThumbnails) m_turnedThumbnails = std::make_unique<QTemporaryDir>();
        const QString file = m_turnedThumbnails->filePath(
            QStringLiteral("%1-%2.png").arg(QString::fromLatin1(QCryptographicHash::hash(facts.path.toUtf8(),
                                                                                         QCryptographicHash::Sha1)
                                                                     .toHex()))
                .arg(turn));
        const bool saved = m_turnedThumbnails->isValid() &&
                           facts.thumbnail.transformed(QTransform().rotate(90 * turn)).save(file, "png");
        facts.thumbnailFile = saved ? file : QString();
    }
    QString html;
    if (!facts.thumbnailFile.isEmpty())
        html += QStringLiteral("<img src=\"%1\"><br>").arg(facts.thumbnailFile.toHtmlEscaped());
    html += QStringLiteral("<b>%1</b><br>").arg(name);
    if (turn) html += (turn == 1 ? tr("turned right") : turn == 2 ? tr("turned upside down") : tr("turned left")) +
                      QStringLiteral("<br>");
    html += tr("%1 x %2 pixels, %3 dpi, %4").arg(facts.width).arg(facts.height).arg(qRound(facts.dpi))
                .arg(QLocale().formattedDataSize(facts.fileSize));
    html += QStringLiteral("<br>") + pageDescription(facts).toHtmlEscaped();
    return html;
}

// A tooltip over a row tells of its picture; over the rest of the list, the list's own.
bool Form1::listToolTip(QHelpEvent* event) {
    const int row = ListView1->positionAt(event->pos());
    if (row == 0) {
        m_toolTipPath.clear();
        return false;
    }
    m_toolTipPath = ListView1->rowText(row);
    m_toolTipTurn = ListView1->rowTurn(row);
    m_toolTipRect = ListView1->visualItemRect(ListView1->rowItem(row));
    m_thumbnails->keepOnly({m_toolTipPath});
    const PictureFacts* facts = m_thumbnails->facts(m_toolTipPath);
    const QString text = facts ? rowToolTip(*facts, m_toolTipTurn)
                               : tr("<b>%1</b><br>reading ...")
                                     .arg(m_toolTipPath.mid(m_toolTipPath.lastIndexOf(QLatin1Char('/')) + 1).toHtmlEscaped());
    QToolTip::showText(event->globalPos(), text, ListView1->viewport(), m_toolTipRect);
    return true;
}

void Form1::thumbnailReady(const QString& path) {
    // The tooltip still waiting for this picture gets it.
    if (path != m_toolTipPath || !QToolTip::isVisible()) return;
    if (const PictureFacts* facts = m_thumbnails->facts(path))
        QToolTip::showText(QCursor::pos(), rowToolTip(*facts, m_toolTipTurn), ListView1->viewport(), m_toolTipRect);
}

void Form1::showPreview() {
    if (ListView1->selectedPosition() == 0) return;
    auto* preview = new PreviewWindow(ListView1, this);
    connect(preview, &PreviewWindow::turnAsked, this, &Form1::rotateSelected);
    preview->show();
    preview->raise();
    preview->activateWindow();
}

}  // namespace pictolio
