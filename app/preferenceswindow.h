// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>
#include <QImage>

#include "common/registrystore.h"
#include "pdfwriter/pagesetup.h"

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QListWidget;

namespace pictolio {

class PictureDecoder;

// "Tenbrook PDF Writer Preferences": the PDF printer's printing preferences, kept in its
// registry key, with a preview of a picture on the page as it will land, at its own size and
// stretched.
class PreferencesWindow : public QDialog {
    Q_OBJECT
public:
    // picture: the one to preview (the list's selected row, or a sample); "" for a stand-in.
    PreferencesWindow(RegistryStore registry, const PictureDecoder& decoder, const QString& picture,
                      QWidget* parent = nullptr);

    // The preferences as the controls show them now.
    pdfwriter::PageSetup shown() const;
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

private:
    void load();
    void updateControls();

    RegistryStore m_registry;
    QWidget* m_preview;
    QImage m_image;                    // the picture, upright, small enough to draw quickly
    double m_pictureWidth = 4, m_pictureHeight = 3;  // its physical size, any unit
};

}  // namespace pictolio
