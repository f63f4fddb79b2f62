// SPDX-License-Identifier: GPL-3.0-or-later
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QPushButton>
#include <QDoubleSpinBox>
#include <QLineEdit>
#include <QLabel>
#include <QListWidget>
#include <QTest>

#include "app/preferenceswindow.h"
#include "pdfwriter/driver.h"
#include "tests/app/appfixture.h"
#include "tests/support/picturefiles.h"
#include "tests/support/testpictures.h"

namespace pictolio {
namespace {

using pdfwriter::PdfWriterDriver;

class Preferences : public testing::AppFixture {
protected:
    void SetUp() override {
        AppFixture::SetUp();
        installPdfPrinter();
        loadedForm();
    }
    QString value(const char* name) const {
        return PrintService::registryOf(printRoot.path()).getString(PdfWriterDriver::registryKey(), name).value_or("(none)");
    }
    // The share of the preview's pixels in the picture's colour, in its left (own size) and right
    // (stretched) halves.
    static std::pair<double, double> pictureShare(QWidget* preview) {
        const QImage shot = preview->grab().toImage();
        int left = 0, right = 0;
        for (int y = 0; y < shot.height(); ++y)
            for (int x = 0; x < shot.width(); ++x)
                if (QColor(shot.pixel(x, y)).red() > 200 && QColor(shot.pixel(x, y)).green() < 80)
                    ++(x < shot.width() / 2 ? left : right);
        const double half = shot.width() / 2.0 * shot.height();
        return {left / half, right / half};
    }
};

TEST_F(Preferences, ChoicesRoundTripThroughThePrintersSettings) {
    PreferencesWindow first(registry->store(), decoder, QString());
    EXPECT_EQ(first.windowTitle(), "Tenbrook PDF Writer Preferences");
    EXPECT_EQ(first.orientation->currentIndex(), int(pdfwriter::Orientation::Automatic));  // a new install
    first.paper->setCurrentText("Custom");
    first.customWidth->setValue(100);
    first.customHeight->setValue(150);
    first.orientation->setCurrentIndex(1);
    first.margin->setValue(7.5);
    first.oversize->setCurrentIndex(1);
    first.stretch->setCurrentIndex(1);
    first.center->setChecked(true);
    EXPECT_FALSE(first.searchable->isChecked());  // recognition is off until asked for
    first.searchable->setChecked(true);
    first.turnPages->setChecked(false);
    first.author->setText("Ann Ōkubo");
    EXPECT_FALSE(first.pdfa->isChecked());
    first.pdfa->setChecked(true);
    ASSERT_TRUE(first.save());
    EXPECT_EQ(value("Pdfa"), "1");
    EXPECT_EQ(value("Author"), "Ann Ōkubo");
    EXPECT_EQ(value("Ocr"), "eng");  // English, chosen when nothing else was
    EXPECT_EQ(value("TurnPages"), "0");
    EXPECT_EQ(value("PaperSize"), "100x150mm");
    EXPECT_EQ(value("Orientation"), "Landscape");
    EXPECT_EQ(value("Margin"), "7.5mm");
    EXPECT_EQ(value("Oversize"), "Clip");
    EXPECT_EQ(value("Stretch"), "Proportional");
    EXPECT_EQ(value("Center"), "1");
    // The driver reads them so, and a window opened again shows them.
    const pdfwriter::PageSetup s = printing->pageSetup();
    EXPECT_NEAR(s.paperWidth, 100 * 72 / 25.4, 0.01);
    EXPECT_NEAR(s.margin, 7.5 * 72 / 25.4, 0.01);
    PreferencesWindow again(registry->store(), decoder, QString());
    EXPECT_EQ(again.paper->currentText(), "Custom");
    EXPECT_NEAR(again.customHeight->value(), 150, 0.05);
    EXPECT_EQ(again.orientation->currentIndex(), 1);
    EXPECT_NEAR(again.margin->value(), 7.5, 0.05);
    EXPECT_TRUE(again.center->isChecked());
    EXPECT_TRUE(again.searchable->isChecked());
    EXPECT_EQ(printing->pageSetup().ocr, "eng");
    EXPECT_EQ(again.author->text(), "Ann Ōkubo");
    EXPECT_TRUE(again.pdfa->isChecked());
    again.paper->setCurrentText("Fit each page to its picture");
    ASSERT_TRUE(again.save());
    EXPECT_EQ(value("PaperSize"), "Fit");
    // A margin too large for the paper is said, as pictolio-printer says it, and not kept.
    again.paper->setCurrentText("Custom");
    again.customWidth->setValue(30);
    again.customHeight->setValue(30);
    again.margin->setValue(9);
    again.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
    EXPECT_TRUE(again.textStatus->text().contains("too large for 30x30mm paper")) << again.textStatus->text().toStdString();
    EXPECT_EQ(value("PaperSize"), "Fit");
}

TEST_F(Preferences, ThePreviewShowsThePictureAsItWillLand) {
    // A red picture 4 x 1 inches: small on the page at its own size, filling it stretched.
    const QString wide = work.filePath("wide.jpg");
    std::vector<unsigned char> red(400 * 100 * 3);
    for (std::size_t i = 0; i < red.size(); i += 3) red[i] = 255;
    testing::writeFile(wide, testing::makeJpegFromRgb({.width = 400, .height = 100, .densityUnit = 1, .xDensity = 100,
                                                       .yDensity = 100}, red.data()));
    PreferencesWindow prefs(registry->store(), decoder, wide);
    prefs.resize(600, 600);
    QWidget* preview = prefs.findChild<QWidget*>("preview");
    ASSERT_NE(preview, nullptr);
    const auto [ownSize, stretched] = pictureShare(preview);
    EXPECT_GT(ownSize, 0.005);
    EXPECT_GT(stretched, 2 * ownSize);
    // Stretched keeping its proportions, it covers less than when it fills the area.
    prefs.stretch->setCurrentIndex(1);
    EXPECT_LT(pictureShare(preview).second, 0.6 * stretched);
}

// With text recognition on, the preview outlines the words recognised on the picture: on a page
// turned by its EXIF orientation, each box over its word as the preview shows it upright.
TEST_F(Preferences, ThePreviewOutlinesTheWordsRecognised) {
    const testing::TextPage page = testing::drawTextPage();
    const QString letter = work.filePath("letter.jpg");
    testing::writeFile(letter, testing::textJpeg(page.image, 6, 300));
    PreferencesWindow prefs(registry->store(), decoder, letter);
    EXPECT_TRUE(prefs.wordBoxes().isEmpty());
    prefs.searchable->setChecked(true);
    QTRY_VERIFY_WITH_TIMEOUT(!prefs.wordBoxes().isEmpty(), 30000);
    const QList<QRectF> boxes = prefs.wordBoxes();
    EXPECT_EQ(boxes.size(), page.words.size());
    int landed = 0;
    for (std::size_t i = 0; i < page.boxes.size(); ++i)
        for (const QRectF& box : boxes)
            if (box.intersected(page.boxes[i]).width() * box.intersected(page.boxes[i]).height() >
                0.5 * page.boxes[i].width() * page.boxes[i].height()) {
                ++landed;
                break;
            }
    EXPECT_GE(landed, int(page.boxes.size()) - 1);
    EXPECT_TRUE(prefs.findChild<QLabel*>("textStatus")->text().contains("words recognised"));
    prefs.searchable->setChecked(false);
    EXPECT_TRUE(prefs.wordBoxes().isEmpty());
}

TEST_F(Preferences, ReachedFromTheMainWindow) {
    QAction* action = window->findChild<QAction*>("PrinterPreferences");
    ASSERT_NE(action, nullptr);
    EXPECT_EQ(action->shortcut(), QKeySequence("Ctrl+P"));
    EXPECT_TRUE(window->actions().contains(action));  // the window's context menu
    EXPECT_EQ(window->contextMenuPolicy(), Qt::ActionsContextMenu);
    EXPECT_EQ(window->PushButton2->contextMenuPolicy(), Qt::DefaultContextMenu);  // passed on to the window
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    QTest::keyClick(window.get(), Qt::Key_P, Qt::ControlModifier);
    PreferencesWindow* opened = window->findChild<PreferencesWindow*>();
    ASSERT_NE(opened, nullptr);
    EXPECT_TRUE(opened->isVisible());
    opened->reject();
}

}  // namespace
}  // namespace pictolio
