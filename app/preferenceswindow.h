// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>
#include <QImage>
#include <memory>

#include "common/registrystore.h"
#include "pdfwriter/pagesetup.h"
#include "recognition/recognition.h"

class QCheckBox;
class QLabel;
class QTimer;
class QComboBox;
class QDoubleSpinBox;
class QFormLayout;
class QLineEdit;
class QListWidget;
class QSpinBox;

namespace pictolio {

class PictureDecoder;

// "Tenbrook PDF Writer Preferences": the PDF printer's printing preferences, kept in its
// registry key, with a preview of a picture on the page as it will land, at its own size and
// stretched; with text recognition on, the boxes of the words recognised on it.
class PreferencesWindow : public QDialog {
    Q_OBJECT
public:
    // picture: the one to preview (the list's selected row, or a sample); "" for a stand-in.
    PreferencesWindow(RegistryStore registry, const PictureDecoder& decoder, const QString& picture,
                      QWidget* parent = nullptr);
    ~PreferencesWindow() override;

    // The preferences as the controls show them now.
    pdfwriter::PageSetup shown() const;
    // Why the values shown cannot be kept together (a margin too large for the paper); "" when
    // they can.
    QString disagreement() const;
    // Writes them into the printer's registry key; false when that fails.
    bool save();

    QComboBox* paper;
    QDoubleSpinBox* customWidth;
    QDoubleSpinBox* customHeight;
    QComboBox* customUnit;
    QComboBox* orientation;
    QDoubleSpinBox* margin;  // mm
    QComboBox* oversize;
    QComboBox* stretch;
    QCheckBox* center;
    QCheckBox* searchable;   // text recognition on
    QListWidget* languages;  // the installed languages, checked: recognised
    QCheckBox* turnPages;
    QComboBox* pictures;     // as they are, made smaller, black and white
    QSpinBox* maxDpi;        // made smaller: the finest kept
    QSpinBox* jpegQuality;   // made smaller: their JPEG quality
    QCheckBox* compact;      // pages of print made compact
    QLineEdit* author;   // the documents' author
    QCheckBox* pdfa;     // PDF/A-2b files
    QLabel* textStatus;  // what recognition of the previewed picture found

    // The words recognised on the previewed picture, once recognised with the languages and
    // page turning shown now: boxes as shares of the upright picture (0 to 1).
    QList<QRectF> wordBoxes() const;

private:
    void showPicture(const PictureDecoder& decoder, const QString& picture);
    void addPageControls(QFormLayout* form);
    void addTextControls(QFormLayout* form);
    void addPictureControls(QFormLayout* form);
    void addDocumentControls(QFormLayout* form);
    void load();
    void updateControls();
    void recognisePreview();
    void showRecognised();

    RegistryStore m_registry;
    QWidget* m_preview;
    QImage m_image;                    // the picture, upright, small enough to draw quickly
    double m_pictureWidth = 4, m_pictureHeight = 3;  // its physical size, any unit
    std::shared_ptr<const imaging::ImageSource> m_source;  // the picture as printed; null for the stand-in
    int m_orientation = 1;
    double m_dpi = 96;
    std::unique_ptr<recognition::TextRecognition> m_recognition;
    std::shared_ptr<const recognition::PendingText> m_pending;
    QString m_pendingFor;  // languages and turning of m_pending ("eng+deu/turn")
    QList<QRectF> m_words;
    QTimer* m_poll;
};

}  // namespace pictolio
