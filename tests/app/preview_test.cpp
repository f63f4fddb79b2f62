// SPDX-License-Identifier: GPL-3.0-or-later
// Seeing the pictures of the list: row tooltips with thumbnails from the desktop's cache, and
// the preview window.
#include <QImageReader>
#include <QLabel>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <QToolTip>

#include "app/previewwindow.h"
#include "filelist/filelist.h"
#include "pictures/thumbnails.h"
#include "tests/app/appfixture.h"
#include "tests/support/picturefiles.h"
#include "tests/support/testpictures.h"

namespace pictolio {
namespace {

class Preview : public testing::AppFixture {
protected:
    void SetUp() override {
        AppFixture::SetUp();
        installPdfPrinter();
        loadedForm();
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        list = window->ListView1;
    }
    QString photo(const QString& name, const testing::JpegRecipe& recipe) {
        const QString path = work.filePath(name);
        testing::writeFile(path, testing::makeJpeg(recipe));
        return path;
    }
    // The tooltip over a row, once its picture is read.
    QString toolTipOf(int row) {
        const QPoint at = list->visualItemRect(list->rowItem(row)).center();
        QHelpEvent help(QEvent::ToolTip, at, list->viewport()->mapToGlobal(at));
        QApplication::sendEvent(list->viewport(), &help);
        const bool read = QTest::qWaitFor([] { return !QToolTip::text().contains("reading"); }, 5000);
        return read ? QToolTip::text() : QString("(still reading)");
    }
    FileList* list = nullptr;
};

TEST_F(Preview, RowToolTipsTellOfThePictureAndItsPage) {
    const QString wide = photo("wide.jpg", {.width = 600, .height = 300, .densityUnit = 1, .xDensity = 300, .yDensity = 300});
    const QString turned = photo("turned.jpg", {.width = 400, .height = 200, .densityUnit = 1, .xDensity = 10,
                                                .yDensity = 10, .exif = true, .orientation = 6});
    const QString notes = work.filePath("notes.jpg");
    testing::writeFile(notes, "not a picture");
    for (const QString& p : {wide, turned, notes}) list->appendRow(p);

    const QString first = toolTipOf(1);
    EXPECT_TRUE(first.contains("wide.jpg")) << first.toStdString();
    EXPECT_TRUE(first.contains("600 x 300 pixels, 300 dpi")) << first.toStdString();
    EXPECT_TRUE(first.contains("2.0 x 1.0 in at its own size")) << first.toStdString();
    // Turned upright: 20 x 40 inches, larger than any paper, shrinks onto a portrait page.
    const QString second = toolTipOf(2);
    EXPECT_TRUE(second.contains("200 x 400 pixels, 10 dpi")) << second.toStdString();
    EXPECT_TRUE(second.contains("shrunk to fit") && second.contains("portrait")) << second.toStdString();
    window->Option3->setChecked(true);
    EXPECT_TRUE(toolTipOf(2).contains("stretched over")) << toolTipOf(2).toStdString();
    EXPECT_TRUE(toolTipOf(3).contains("not a valid picture"));

    // The thumbnail is the upright picture, in the desktop's cache under the file's address.
    ThumbnailCache& cache = window->thumbnailer().cache();
    const QImage image(cache.fileFor(turned, ThumbnailCache::Size::Normal));
    EXPECT_EQ(image.text("Thumb::URI"), "file://" + turned);
    EXPECT_EQ(image.text("Thumb::MTime").toLongLong(), QFileInfo(turned).lastModified().toSecsSinceEpoch());
    EXPECT_EQ(image.size(), QSize(64, 128));
    EXPECT_TRUE(second.contains(cache.fileFor(turned, ThumbnailCache::Size::Normal)));
    // Never made on the window's thread.
    EXPECT_NE(cache.lastMadeOn(), nullptr);
    EXPECT_NE(cache.lastMadeOn(), QThread::currentThread());

    // Another program's thumbnailer reads it, does not decode again; a rewritten file is made anew.
    Thumbnailer other(cache.fileFor(wide, ThumbnailCache::Size::Normal).section('/', 0, -3));
    QSignalSpy ready(&other, &Thumbnailer::ready);
    EXPECT_EQ(other.facts(turned), nullptr);
    ASSERT_TRUE(ready.wait(5000));
    EXPECT_EQ(other.cache().made(), 0);
    testing::writeFile(turned, testing::makeJpeg({.width = 50, .height = 40}));
    QFile rewritten(turned);
    ASSERT_TRUE(rewritten.open(QIODevice::ReadWrite));
    ASSERT_TRUE(rewritten.setFileTime(QDateTime::currentDateTime().addSecs(10), QFileDevice::FileModificationTime));
    rewritten.close();
    EXPECT_TRUE(other.cache().lookUp(turned, ThumbnailCache::Size::Normal).isNull());
}

TEST_F(Preview, SpaceOpensALargePreviewThatFollowsTheList) {
    const QString a = photo("a.jpg", {.width = 300, .height = 200}), b = photo("b.jpg", {.width = 200, .height = 300});
    list->appendRow(a);
    list->appendRow(b);
    list->selectRow(1);
    list->setFocus();
    QTest::keyClick(list, Qt::Key_Space);
    auto* preview = window->findChild<PreviewWindow*>();
    ASSERT_NE(preview, nullptr);
    QSignalSpy shown(preview, &PreviewWindow::shown);
    ASSERT_TRUE(shown.wait(5000) || preview->shownPath() == a);
    EXPECT_EQ(preview->shownPath(), a);
    EXPECT_TRUE(preview->windowTitle().startsWith("a.jpg"));
    QTest::keyClick(preview, Qt::Key_Down);
    EXPECT_EQ(list->selectedPosition(), 2);
    ASSERT_TRUE(QTest::qWaitFor([&] { return preview->shownPath() == b; }, 5000));
    EXPECT_TRUE(preview->windowTitle().startsWith("b.jpg"));
    QPointer<PreviewWindow> open(preview);
    QTest::keyClick(preview, Qt::Key_Escape);
    EXPECT_TRUE(QTest::qWaitFor([&] { return open.isNull(); }, 2000));
}

// A turned row's tooltip and preview show it turned; the preview turns it too.
TEST_F(Preview, TurnedRowsShowTurned) {
    const QString wide = photo("wide.jpg", {.width = 300, .height = 200});
    list->appendRow(wide);
    list->selectRow(1);
    window->rotateSelected(1);
    const QString tip = toolTipOf(1);
    EXPECT_TRUE(tip.contains("turned right") && tip.contains("200 x 300 pixels")) << tip.toStdString();
    const QImage thumbnail(QRegularExpression("src=\"([^\"]+)\"").match(tip).captured(1));
    EXPECT_GT(thumbnail.height(), thumbnail.width());

    list->setFocus();
    QTest::keyClick(list, Qt::Key_Space);
    auto* preview = window->findChild<PreviewWindow*>();
    ASSERT_NE(preview, nullptr);
    ASSERT_TRUE(QTest::qWaitFor([&] { return preview->shownPath() == wide; }, 5000));
    const auto shownTall = [&] {
        const QPixmap p = preview->findChild<QLabel*>()->pixmap();
        return p.height() > p.width();
    };
    EXPECT_TRUE(shownTall());
    ASSERT_TRUE(QTest::qWaitForWindowActive(preview));
    QTest::keyClick(preview, Qt::Key_L, Qt::ControlModifier);
    EXPECT_EQ(list->rowTurn(1), 0);
    EXPECT_FALSE(shownTall());
}

// A HEIF photo, which Qt's own readers do not take, has its thumbnail and its preview.
TEST_F(Preview, HeifPhotosHaveThumbnailsAndPreviews) {
    const QString heic = work.filePath("photo.heic");
    testing::writeFile(heic, testing::makeHeif(testing::cornersPicture(64, 48), 1));
    list->appendRow(heic);
    const QString tip = toolTipOf(1);
    EXPECT_TRUE(tip.contains("64 x 48 pixels")) << tip.toStdString();
    EXPECT_EQ(QImage(window->thumbnailer().cache().fileFor(heic, ThumbnailCache::Size::Normal)).size(), QSize(64, 48));
    list->selectRow(1);
    list->setFocus();
    QTest::keyClick(list, Qt::Key_Space);
    auto* preview = window->findChild<PreviewWindow*>();
    ASSERT_NE(preview, nullptr);
    ASSERT_TRUE(QTest::qWaitFor([&] { return preview->shownPath() == heic; }, 5000));
    const auto* label = preview->findChild<QLabel*>();
    ASSERT_NE(label, nullptr);
    EXPECT_FALSE(label->text().contains("not a valid picture")) << label->text().toStdString();
    EXPECT_FALSE(label->pixmap().isNull());
}

}  // namespace
}  // namespace pictolio
