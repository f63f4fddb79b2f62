// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/preferenceswindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QListWidget>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QPainter>
#include <QTimer>
#include <QVBoxLayout>
#include <array>
#include <cmath>
#include <tuple>

#include "pdfwriter/driver.h"
#include "pictures/picture.h"

namespace pictolio {

using pdfwriter::PageSetup;
using pdfwriter::PdfWriterDriver;

namespace {

constexpr double mm = 72 / 25.4;
const QString fitChoice = QStringLiteral("Fit each page to its picture");
const QString customChoice = QStringLiteral("Custom");

// Draws the picture on the page as the printer will lay it: at its own size, and stretched.
class PagePreview : public QWidget {
public:
    PagePreview(const PreferencesWindow& window, const QImage& image, double pictureWidth, double pictureHeight)
        : m_window(window), m_image(image), m_pictureWidth(pictureWidth), m_pictureHeight(pictureHeight) {
        setMinimumSize(420, 260);
        setObjectName(QStringLiteral("preview"));
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.fillRect(rect(), palette().window());
        const PageSetup setup = m_window.shown();
        const double w = m_pictureWidth * setup.dpi / 72, h = m_pictureHeight * setup.dpi / 72;
        const pdfwriter::LaidOut page = pdfwriter::pageFor(setup, w, h);
        const pdfwriter::Drawing drawings[] = {
            {true, 0, 0, w, h, w, h},
            {false, 0, 0, double(setup.printableWidthPx()), double(setup.printableHeightPx()), w, h},
        };
        const QString captions[] = {tr("At its own size"), tr("Stretched")};
        const int half = width() / 2;
        for (int i = 0; i < 2; ++i) {
            const QRectF box(i * half + 10, 24, half - 20, height() - 34);
            p.setPen(palette().color(QPalette::WindowText));
            p.drawText(QRectF(box.x(), 4, box.width(), 18), Qt::AlignCenter, captions[i]);
            const pdfwriter::LaidOut laid = pdfwriter::layOut(setup, page, drawings[i]);
            const double k = std::min(box.width() / laid.pageWidth, box.height() / laid.pageHeight);
            const QPointF origin(box.center().x() - laid.pageWidth * k / 2, box.center().y() - laid.pageHeight * k / 2);
            const auto toWidget = [&](const imaging::Rect& r) {
                return QRectF(origin.x() + r.x * k, origin.y() + (laid.pageHeight - r.y - r.height) * k, r.width * k,
                              r.height * k);
            };
            const QRectF paper(origin, QSizeF(laid.pageWidth * k, laid.pageHeight * k));
            p.fillRect(paper, Qt::white);
            p.setPen(Qt::gray);
            p.drawRect(paper);
            const QRectF printable = toWidget(laid.clip);
            p.setPen(QPen(Qt::lightGray, 1, Qt::DotLine));
            p.drawRect(printable);
            p.save();
            p.setClipRect(printable);
            const QRectF target = toWidget(laid.target);
            p.drawImage(target, m_image);
            p.setPen(QPen(QColor(30, 100, 230), 1));
            p.setBrush(QColor(30, 100, 230, 50));
            for (const QRectF& word : m_window.wordBoxes())
                p.drawRect(QRectF(target.x() + word.x() * target.width(), target.y() + word.y() * target.height(),
                                  word.width() * target.width(), word.height() * target.height()));
            p.restore();
        }
    }

private:
    const PreferencesWindow& m_window;
    const QImage& m_image;
    double m_pictureWidth, m_pictureHeight;
};

}  // namespace

PreferencesWindow::PreferencesWindow(RegistryStore registry, const PictureDecoder& decoder, const QString& picture,
                                     QWidget* parent)
    : QDialog(parent), m_registry(std::move(registry)) {
    setObjectName(QStringLiteral("PreferencesWindow"));
    setWindowTitle(QString::fromLatin1(PdfWriterDriver::printerName) + QStringLiteral(" Preferences"));
    showPicture(decoder, picture);
    auto* form = new QFormLayout;
    addPageControls(form);
    addTextControls(form);
    addPictureControls(form);
    addDocumentControls(form);

    m_preview = new PagePreview(*this, m_image, m_pictureWidth, m_pictureHeight);
    textStatus = new QLabel;
    textStatus->setObjectName(QStringLiteral("textStatus"));
    m_poll = new QTimer(this);
    m_poll->setInterval(100);
    connect(m_poll, &QTimer::timeout, this, [this] { showRecognised(); });
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    connect(buttons, &QDialogButtonBox::accepted, this, [this] {
        // Values that disagree (a margin too large for the paper) are said, and not kept.
        if (const QString why = disagreement(); !why.isEmpty())
            textStatus->setText(why);
        else if (save())
            accept();
    });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(m_preview, 1);
    layout->addWidget(textStatus);
    layout->addWidget(buttons);

    load();
    const auto changed = [this] { updateControls(); };
    for (QComboBox* box : {paper, customUnit, orientation, oversize, stretch, pictures})
        connect(box, &QComboBox::currentIndexChanged, this, changed);
    for (QDoubleSpinBox* box : {customWidth, customHeight, margin})
        connect(box, &QDoubleSpinBox::valueChanged, this, changed);
    for (QCheckBox* box : {center, searchable, turnPages, compact}) connect(box, &QCheckBox::toggled, this, changed);
    connect(languages, &QListWidget::itemChanged, this, changed);
    updateControls();
}

void PreferencesWindow::showPicture(const PictureDecoder& decoder, const QString& picture) {
    // The picture to show: its physical size from the decoder, its pixels upright and small.
    const Picture loaded = picture.isEmpty() ? Picture{} : decoder.load(picture);
    if (!loaded.isEmpty()) {
        m_pictureWidth = loaded.widthHimetric / 2540.0 * 72;
        m_pictureHeight = loaded.heightHimetric / 2540.0 * 72;
        m_source = loaded.image;
        m_orientation = loaded.orientation;
        m_dpi = loaded.width / (loaded.widthHimetric / 2540.0);
        QImageReader reader(picture);
        reader.setAutoTransform(true);
        const QSize stored = reader.size();
        const bool turned = loaded.orientation >= 5;
        if (stored.isValid()) {
            QSize upright = turned ? stored.transposed() : stored;
            upright.scale(400, 400, Qt::KeepAspectRatio);
            reader.setScaledSize(turned ? upright.transposed() : upright);
        }
        m_image = reader.read();
    }
    if (m_image.isNull()) {
        // A stand-in: sky over a field, 4 x 3 inches.
        m_pictureWidth = 288;
        m_pictureHeight = 216;
        m_image = QImage(400, 300, QImage::Format_RGB32);
        QPainter p(&m_image);
        p.fillRect(0, 0, 400, 200, QColor(120, 170, 230));
        p.fillRect(0, 200, 400, 100, QColor(90, 160, 80));
        p.setBrush(QColor(250, 210, 60));
        p.drawEllipse(QPoint(300, 70), 35, 35);
    }
}

// The page: paper, orientation, margins, and how pictures sit on it.
void PreferencesWindow::addPageControls(QFormLayout* form) {
    paper = new QComboBox;
    paper->setObjectName(QStringLiteral("paper"));
    paper->addItems(pdfwriter::preferences::paperNames());
    paper->addItem(customChoice);
    paper->addItem(fitChoice);
    customWidth = new QDoubleSpinBox;
    customHeight = new QDoubleSpinBox;
    for (QDoubleSpinBox* box : {customWidth, customHeight}) {
        box->setDecimals(1);
        box->setRange(1, 5080);
    }
    customUnit = new QComboBox;
    customUnit->addItems({QStringLiteral("mm"), QStringLiteral("in")});
    auto* custom = new QHBoxLayout;
    custom->addWidget(customWidth);
    custom->addWidget(new QLabel(QStringLiteral("×")));
    custom->addWidget(customHeight);
    custom->addWidget(customUnit);
    orientation = new QComboBox;
    orientation->addItems({tr("Portrait"), tr("Landscape"), tr("Automatic (each page turned to suit its picture)")});
    margin = new QDoubleSpinBox;
    margin->setRange(0, 25.4);
    margin->setDecimals(1);
    margin->setSuffix(QStringLiteral(" mm"));
    oversize = new QComboBox;
    oversize->addItems({tr("Shrink to fit the page"), tr("Cut off as drawn")});
    stretch = new QComboBox;
    stretch->addItems({tr("Fill the printable area"), tr("Keep their proportions, centred")});
    center = new QCheckBox(tr("Centre pictures on the page"));
    form->addRow(tr("Paper:"), paper);
    form->addRow(tr("Custom size:"), custom);
    form->addRow(tr("Orientation:"), orientation);
    form->addRow(tr("Margins:"), margin);
    form->addRow(tr("Pictures larger than the page:"), oversize);
    form->addRow(tr("Stretched pictures:"), stretch);
    form->addRow(QString(), center);
}

// Text recognition: on or off, its languages, and pages turned by their text.
void PreferencesWindow::addTextControls(QFormLayout* form) {
    searchable = new QCheckBox(tr("Make text searchable"));
    searchable->setObjectName(QStringLiteral("searchable"));
    languages = new QListWidget;
    languages->setObjectName(QStringLiteral("languages"));
    for (const QString& code : recognition::languages::installed()) {
        auto* item = new QListWidgetItem(QStringLiteral("%1 (%2)").arg(recognition::languages::displayName(code), code));
        item->setData(Qt::UserRole, code);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Unchecked);
        languages->addItem(item);
    }
    languages->setMaximumHeight(languages->sizeHintForRow(0) * 4 + 2 * languages->frameWidth() + 4);
    turnPages = new QCheckBox(tr("Turn pages whose text is sideways or upside down"));
    form->addRow(tr("Text recognition:"), searchable);
    form->addRow(tr("Languages of the text:"), languages);
    form->addRow(QString(), turnPages);
}

// How the pictures go in: as they are, smaller, black and white or cleaned, and compact.
void PreferencesWindow::addPictureControls(QFormLayout* form) {
    pictures = new QComboBox;
    pictures->setObjectName(QStringLiteral("pictures"));
    pictures->addItems({tr("As they are"), tr("Smaller: at most"), tr("Black and white (documents)"),
                        tr("Photos of documents, cleaned")});
    maxDpi = new QSpinBox;
    maxDpi->setRange(pdfwriter::preferences::maxDpiRange.least, pdfwriter::preferences::maxDpiRange.most);
    maxDpi->setSuffix(tr(" dpi"));
    jpegQuality = new QSpinBox;
    jpegQuality->setRange(pdfwriter::preferences::jpegQualityRange.least, pdfwriter::preferences::jpegQualityRange.most);
    jpegQuality->setPrefix(tr("JPEG quality "));
    compact = new QCheckBox(tr("Compact documents"));
    compact->setObjectName(QStringLiteral("compact"));
    compact->setToolTip(tr("Pages of print made small: the print kept sharp, in its colours, over a background of "
                           "about 100 dpi at the JPEG quality given; photos on a page stay in the background, and "
                           "a page with no print stays as chosen"));
    auto* picturesRow = new QHBoxLayout;
    picturesRow->addWidget(pictures, 1);
    picturesRow->addWidget(maxDpi);
    picturesRow->addWidget(jpegQuality);
    form->addRow(tr("Pictures:"), picturesRow);
    form->addRow(QString(), compact);
}

// The document's author and PDF/A.
void PreferencesWindow::addDocumentControls(QFormLayout* form) {
    author = new QLineEdit;
    author->setObjectName(QStringLiteral("author"));
    author->setMaxLength(1000);
    author->setPlaceholderText(tr("Left out of the PDF files when empty"));
    pdfa = new QCheckBox(tr("Archive (PDF/A-2b)"));
    pdfa->setObjectName(QStringLiteral("pdfa"));
    pdfa->setToolTip(tr("PDF files made for archives: each carries the sRGB colour profile (about 3 KB) and "
                        "its details as XMP metadata"));
    form->addRow(tr("Author:"), author);
    form->addRow(QString(), pdfa);
}

PreferencesWindow::~PreferencesWindow() = default;

void PreferencesWindow::load() {
    const PageSetup s = pdfwriter::preferences::read(m_registry, PdfWriterDriver::registryKey(),
                                                     PdfWriterDriver::localPaperName());
    paper->setCurrentText(s.fitToPicture ? fitChoice : s.paperName);
    customUnit->setCurrentIndex(0);
    customWidth->setValue(s.paperWidth / mm);
    customHeight->setValue(s.paperHeight / mm);
    orientation->setCurrentIndex(int(s.orientation));
    margin->setValue(s.margin / mm);
    oversize->setCurrentIndex(int(s.oversize));
    stretch->setCurrentIndex(int(s.stretch));
    center->setChecked(s.center);
    // Recognition off still shows the languages it would use: English when none was chosen.
    const QStringList chosen = s.ocr.isEmpty() ? QStringList{QStringLiteral("eng")} : s.ocr.split(QLatin1Char('+'));
    for (int i = 0; i < languages->count(); ++i)
        languages->item(i)->setCheckState(chosen.contains(languages->item(i)->data(Qt::UserRole).toString())
                                              ? Qt::Checked
                                              : Qt::Unchecked);
    searchable->setChecked(!s.ocr.isEmpty());
    turnPages->setChecked(s.turnPages);
    author->setText(s.author);
    pdfa->setChecked(s.pdfa);
    pictures->setCurrentIndex(int(s.pictures.mode));
    maxDpi->setValue(s.pictures.maxDpi);
    jpegQuality->setValue(s.pictures.jpegQuality);
    compact->setChecked(s.pictures.compact);
}

void PreferencesWindow::updateControls() {
    const bool custom = paper->currentText() == customChoice;
    customWidth->setEnabled(custom);
    customHeight->setEnabled(custom);
    customUnit->setEnabled(custom);
    orientation->setEnabled(paper->currentText() != fitChoice);
    languages->setEnabled(searchable->isChecked());
    turnPages->setEnabled(searchable->isChecked());
    maxDpi->setEnabled(pictures->currentIndex() == 1);
    // (black and white pages are compact already)
    compact->setEnabled(pictures->currentIndex() != 2);
    // (the JPEG quality is also that of the pages cleaned, and of compact pages' backgrounds)
    jpegQuality->setEnabled(pictures->currentIndex() == 1 || pictures->currentIndex() == 3 ||
                            (compact->isEnabled() && compact->isChecked()));
    recognisePreview();
    m_preview->update();
}

namespace {

// A point of a w x h picture, where it lands when the picture turns clockwise by degrees.
QPointF turnedPoint(QPointF p, double w, double h, int degrees) {
    switch (degrees) {
        case 90: return {h - p.y(), p.x()};
        case 180: return {w - p.x(), h - p.y()};
        case 270: return {p.y(), w - p.x()};
        default: return p;
    }
}

}  // namespace

QList<QRectF> PreferencesWindow::wordBoxes() const { return m_words; }

static QList<std::pair<QString, QString>> valuesOf(const PreferencesWindow& w);

// The previewed picture is recognised in the background as the printer would, again whenever
// the languages or the page turning change.
void PreferencesWindow::recognisePreview() {
    QString languagesShown;
    for (const auto& [name, value] : valuesOf(*this))
        if (name == QLatin1String("ocr")) languagesShown = value;
    const bool on = m_source && languagesShown != QLatin1String("off");
    const QString wanted = on ? languagesShown + (turnPages->isChecked() ? QStringLiteral("/turn") : QString()) : QString();
    if (wanted == m_pendingFor) return;
    m_pendingFor = wanted;
    m_pending.reset();
    m_words.clear();
    m_poll->stop();
    textStatus->setText(QString());
    if (!on) return;
    if (!m_recognition) m_recognition = std::make_unique<recognition::TextRecognition>(nullptr, 1);
    m_pending = m_recognition->start(m_source, languagesShown.toStdString(), m_dpi, m_orientation,
                                     turnPages->isChecked() && m_orientation == 1);
    textStatus->setText(tr("Recognising the text of this picture…"));
    m_poll->start();
}

void PreferencesWindow::showRecognised() {
    if (!m_pending || !m_pending->ready()) return;
    m_poll->stop();
    const recognition::Recognised& outcome = m_pending->get();
    static const recognition::RecognisedText none;
    const recognition::RecognisedText& text = outcome ? *outcome : none;
    // Words stand in the picture turned to read upright; the preview shows it as its EXIF
    // orientation turns it.
    const double w = text.width, h = text.height;
    const bool across = text.turn == 90 || text.turn == 270;
    const int shownTurn = m_orientation == 3 || m_orientation == 4 ? 180 : m_orientation == 5 || m_orientation == 6 ? 90
                          : m_orientation == 7 || m_orientation == 8                                          ? 270
                                                                                                              : 0;
    const bool shownAcross = shownTurn == 90 || shownTurn == 270;
    m_words.clear();
    for (const recognition::RecognisedWord& word : text.words) {
        const auto share = [&](QPointF corner) {
            const QPointF stored = turnedPoint(corner, across ? h : w, across ? w : h, (360 - text.turn) % 360);
            const QPointF shown = turnedPoint(stored, w, h, shownTurn);
            return QPointF(shown.x() / (shownAcross ? h : w), shown.y() / (shownAcross ? w : h));
        };
        m_words << QRectF(share(QPointF(word.left, word.top)), share(QPointF(word.right, word.bottom))).normalized();
    }
    if (!outcome)
        textStatus->setText(tr("No text recognised: %1").arg(outcome.reason()));
    else if (text.words.empty())
        textStatus->setText(tr("No text found in this picture"));
    else
        textStatus->setText(tr("%n words recognised%1", nullptr, int(text.words.size()))
                                .arg(text.turnsPage ? tr(", the page turned to its text") : QString()));
    m_preview->update();
}

// The values as the registry keeps them, by preference name.
static QList<std::pair<QString, QString>> valuesOf(const PreferencesWindow& w) {
    QString paperText = w.paper->currentText();
    if (paperText == fitChoice) paperText = QStringLiteral("fit");
    if (paperText == customChoice)
        paperText = QStringLiteral("%1x%2%3").arg(w.customWidth->value()).arg(w.customHeight->value()).arg(w.customUnit->currentText());
    static const char* orientations[] = {"portrait", "landscape", "auto"};
    QStringList chosen;
    for (int i = 0; i < w.languages->count(); ++i)
        if (w.languages->item(i)->checkState() == Qt::Checked)
            chosen << w.languages->item(i)->data(Qt::UserRole).toString();
    // Searchable with no language chosen would recognise nothing: it stays off.
    const QString ocr = w.searchable->isChecked() && !chosen.isEmpty() ? chosen.join(QLatin1Char('+'))
                                                                       : QStringLiteral("off");
    return {
        {QStringLiteral("ocr"), ocr},
        {QStringLiteral("turn-pages"), w.turnPages->isChecked() ? QStringLiteral("on") : QStringLiteral("off")},
        {QStringLiteral("paper"), paperText},
        {QStringLiteral("orientation"), QString::fromLatin1(orientations[w.orientation->currentIndex()])},
        {QStringLiteral("margin"), QString::number(w.margin->value()) + QStringLiteral("mm")},
        {QStringLiteral("oversize"), w.oversize->currentIndex() == 0 ? QStringLiteral("shrink") : QStringLiteral("clip")},
        {QStringLiteral("stretch"), w.stretch->currentIndex() == 0 ? QStringLiteral("fill") : QStringLiteral("proportional")},
        {QStringLiteral("center"), w.center->isChecked() ? QStringLiteral("on") : QStringLiteral("off")},
        {QStringLiteral("author"), w.author->text()},
        {QStringLiteral("pdfa"), w.pdfa->isChecked() ? QStringLiteral("on") : QStringLiteral("off")},
        {QStringLiteral("pictures"), QString::fromLatin1(std::array{"original", "reduce", "mono", "document"}[std::size_t(w.pictures->currentIndex())])},
        {QStringLiteral("max-dpi"), QString::number(w.maxDpi->value())},
        {QStringLiteral("jpeg-quality"), QString::number(w.jpegQuality->value())},
        {QStringLiteral("compact"), w.compact->isChecked() ? QStringLiteral("on") : QStringLiteral("off")},
    };
}

PageSetup PreferencesWindow::shown() const {
    // What is not shown (the resolution) as the printer has it; the paper of the locale for Fit.
    PageSetup s = pdfwriter::preferences::read(m_registry, PdfWriterDriver::registryKey(),
                                               PdfWriterDriver::localPaperName());
    if (s.fitToPicture) s = pdfwriter::preferences::defaults(PdfWriterDriver::localPaperName());
    const QString chosen = paper->currentText();
    s.fitToPicture = chosen == fitChoice;
    if (chosen == customChoice) {
        const double unit = customUnit->currentText() == QLatin1String("in") ? 72 : mm;
        s.paperName = customChoice;
        s.paperWidth = customWidth->value() * unit;
        s.paperHeight = customHeight->value() * unit;
    } else if (const auto size = pdfwriter::preferences::paperSize(chosen)) {
        s.paperName = chosen;
        std::tie(s.paperWidth, s.paperHeight) = *size;
    }
    s.orientation = pdfwriter::Orientation(orientation->currentIndex());
    s.margin = margin->value() * mm;
    s.oversize = pdfwriter::Oversize(oversize->currentIndex());
    s.stretch = pdfwriter::Stretch(stretch->currentIndex());
    s.center = center->isChecked();
    return s;
}

QString PreferencesWindow::disagreement() const {
    QMap<QString, QString> stored;
    for (const auto& [name, value] : valuesOf(*this))
        stored.insert(pdfwriter::preferences::valueName(name), pdfwriter::preferences::check(name, value).valueOr({}));
    return pdfwriter::preferences::checkTogether(stored, PdfWriterDriver::localPaperName()).reason();
}

bool PreferencesWindow::save() {
    const QString key = PdfWriterDriver::registryKey();
    m_registry.createKey(key);
    for (const auto& [name, value] : valuesOf(*this)) {
        const auto checked = pdfwriter::preferences::check(name, value);
        if (!checked) continue;  // the controls only offer valid values
        if (!m_registry.setString(key, pdfwriter::preferences::valueName(name), *checked)) return false;
    }
    return true;
}

}  // namespace pictolio
