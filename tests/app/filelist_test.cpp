// SPDX-License-Identifier: GPL-3.0-or-later
#include <QApplication>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <QToolTip>

#include <QDir>
#include <functional>

#include "app/listhistory.h"
#include "common/errortrap.h"
#include "tests/support/testpictures.h"
#include "filelist/filelist.h"
#include "tests/app/appfixture.h"

namespace pictolio {
namespace {

using testing::AppFixture;

class FileListEditing : public AppFixture {
protected:
    void SetUp() override {
        AppFixture::SetUp();
        installPdfPrinter();
        shipResources();
        loadedForm();
        window->show();
        list = window->ListView1;
    }
    void fill(const QStringList& rows) {
        list->removeAllRows();
        for (const QString& r : rows) list->appendRow(r);
    }
    QPoint rowPoint(int position) {
        return list->visualItemRect(list->rowItem(position)).center();
    }
    void send(QEvent::Type type, QPoint at, int screenY, Qt::MouseButtons buttons) {
        const QPoint global(list->viewport()->mapToGlobal(at).x(), screenY);
        QMouseEvent e(type, at, global, type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton,
                      buttons, Qt::NoModifier);
        QApplication::sendEvent(list->viewport(), &e);
    }
    void press(int position) { send(QEvent::MouseButtonPress, rowPoint(position), 330, Qt::LeftButton); }
    void dragOver(int position, int screenY = 330) {
        send(QEvent::MouseMove, rowPoint(position), screenY, Qt::LeftButton);
    }
    void release(QPoint at) { send(QEvent::MouseButtonRelease, at, 330, Qt::NoButton); }
    void key(int k, Qt::KeyboardModifiers mods = Qt::NoModifier) { QTest::keyClick(list, Qt::Key(k), mods); }

    FileList* list = nullptr;
};

TEST_F(FileListEditing, DraggingCarriesThePathAlong) {
    fill({"A", "B", "C"});
    press(3);
    dragOver(2);
    EXPECT_EQ(list->rowTexts(), (QStringList{"A", "C", "B"}));
    EXPECT_EQ(list->selectedPosition(), 2);
    dragOver(1);
    EXPECT_EQ(list->rowTexts(), (QStringList{"C", "A", "B"}));
    EXPECT_EQ(list->selectedPosition(), 1);
    release(rowPoint(1));
    EXPECT_FALSE(window->DragActive);
    EXPECT_EQ(list->viewport()->cursor().shape(), Qt::ArrowCursor);
    // Once released, moving over the rows changes nothing.
    dragOver(3);
    EXPECT_EQ(list->rowTexts(), (QStringList{"C", "A", "B"}));
}

TEST_F(FileListEditing, AJumpExchangesJustTwoRows) {
    fill({"1", "2", "3", "4"});
    press(1);
    dragOver(4);
    EXPECT_EQ(list->rowTexts(), (QStringList{"4", "2", "3", "1"}));
}

TEST_F(FileListEditing, DuplicatePathsDoNotSwap) {
    fill({"X", "Y", "X"});
    press(1);
    dragOver(3);
    EXPECT_EQ(list->rowTexts(), (QStringList{"X", "Y", "X"}));
    EXPECT_EQ(list->selectedPosition(), 1);
}

TEST_F(FileListEditing, TheDragPointerShowsFromClickToRelease) {
    fill({"A", "B"});
    press(1);
    EXPECT_EQ(list->viewport()->cursor().shape(), Qt::BitmapCursor);
    release(rowPoint(1));
    EXPECT_EQ(list->viewport()->cursor().shape(), Qt::ArrowCursor);
    // Without a readable drag pointer file the arrow serves.
    QFile::remove(programFolder.filePath("drag.ico"));
    press(2);
    EXPECT_EQ(list->viewport()->cursor().shape(), Qt::ArrowCursor);
}

TEST_F(FileListEditing, ARemovedDraggedRowIsForgotten) {
    fill({"A", "B", "C"});
    press(3);
    key(Qt::Key_Delete);  // the dragged row goes, the button still held
    EXPECT_EQ(list->rowTexts(), (QStringList{"A", "B"}));
    dragOver(1);
    dragOver(2);
    EXPECT_EQ(list->rowTexts(), (QStringList{"A", "B"}));
    window->PushButton6_Click();
    dragOver(1);
    EXPECT_EQ(list->rowCount(), 0);
}

TEST_F(FileListEditing, EdgeScrollingFollowsTheScreenHeight) {
    QStringList rows;
    for (int i = 1; i <= 60; ++i) rows << QString("row %1").arg(i);
    // Row 30 at the top of the view (row 29 just above it) or at the bottom (row 31 just
    // below); a row beside it is dragged over it.
    const struct {
        int screenY;
        QAbstractItemView::ScrollHint place;
        int dragged;
        bool scrolls;
    } cases[] = {
        {304, QAbstractItemView::PositionAtTop, 31, true},
        {305, QAbstractItemView::PositionAtTop, 31, false},
        {364, QAbstractItemView::PositionAtBottom, 29, false},
        {365, QAbstractItemView::PositionAtBottom, 29, true},
        {0, QAbstractItemView::PositionAtTop, 31, true},
    };
    for (const auto& c : cases) {
        fill(rows);
        list->scrollToItem(list->rowItem(30), c.place);
        press(c.dragged);
        const int before = list->verticalScrollBar()->value();
        dragOver(30, c.screenY);
        ASSERT_EQ(list->rowText(30), QString("row %1").arg(c.dragged));
        EXPECT_EQ(list->verticalScrollBar()->value() != before, c.scrolls) << c.screenY;
        release(rowPoint(30));
    }
    // Row 1 under the pointer has no row above it to show.
    fill({"A", "B"});
    press(2);
    dragOver(1, 10);
    EXPECT_EQ(list->rowTexts(), (QStringList{"B", "A"}));
}

TEST_F(FileListEditing, DeleteAndDoubleClickRemoveTheSelectedRow) {
    fill({"A", "B", "C"});
    list->selectRow(2);
    key(Qt::Key_Backspace);
    key(Qt::Key_Insert);
    EXPECT_EQ(list->rowCount(), 3);
    key(Qt::Key_Delete, Qt::ShiftModifier);
    EXPECT_EQ(list->rowTexts(), (QStringList{"A", "C"}));
    list->selectRow(2);
    key(Qt::Key_Delete, Qt::ControlModifier);
    EXPECT_EQ(list->rowTexts(), QStringList{"A"});
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, rowPoint(1));
    EXPECT_EQ(list->rowCount(), 0);
    // On an empty list nothing happens, and nothing is reported.
    key(Qt::Key_Delete);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, QPoint(10, 10));
    window->PushButton6_Click();
    EXPECT_EQ(list->rowCount(), 0);
    EXPECT_TRUE(dialogs.messages.isEmpty());
}

TEST_F(FileListEditing, NothingIsRemovedOrMovedWhileBusy) {
    fill({"A", "B", "C"});
    list->selectRow(2);
    window->setMousePointer(Form1::Hourglass);
    key(Qt::Key_Delete);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, rowPoint(2));
    window->PushButton6_Click();
    window->PushButton4_Click();
    window->PushButton5_Click();
    EXPECT_EQ(list->rowTexts(), (QStringList{"A", "B", "C"}));
    EXPECT_EQ(list->viewport()->cursor().shape(), Qt::WaitCursor);
    window->setMousePointer(Form1::Default);
    window->PushButton6_Click();
    EXPECT_EQ(list->rowCount(), 0);
}

TEST_F(FileListEditing, MoveUpAndMoveDown) {
    const struct {
        const char* name;
        QStringList rows;
        int selected;
        bool up;
        int presses;
        QStringList expected;
        int selectedAfter;
    } cases[] = {
        {"C up once", {"A", "B", "C"}, 3, true, 1, {"A", "C", "B"}, 2},
        {"C up twice", {"A", "B", "C"}, 3, true, 2, {"C", "A", "B"}, 1},
        {"C up three times", {"A", "B", "C"}, 3, true, 3, {"C", "A", "B"}, 1},
        {"A down once", {"A", "B", "C"}, 1, false, 1, {"B", "A", "C"}, 2},
        {"A down twice", {"A", "B", "C"}, 1, false, 2, {"B", "C", "A"}, 3},
        {"A down three times", {"A", "B", "C"}, 1, false, 3, {"B", "C", "A"}, 3},
        {"one row up", {"A"}, 1, true, 1, {"A"}, 1},
        {"one row down", {"A"}, 1, false, 1, {"A"}, 1},
        {"duplicates", {"X", "Y", "X", "Z"}, 3, false, 1, {"X", "Y", "Z", "X"}, 4},
        {"no selection", {"A", "B"}, 0, true, 1, {"A", "B"}, 0},
    };
    for (const auto& c : cases) {
        fill(c.rows);
        list->clearSelection();
        if (c.selected) list->selectRow(c.selected);
        window->PushButton1->setFocus();
        for (int i = 0; i < c.presses; ++i) c.up ? window->PushButton4_Click() : window->PushButton5_Click();
        EXPECT_EQ(list->rowTexts(), c.expected) << c.name;
        EXPECT_EQ(list->selectedPosition(), c.selectedAfter) << c.name;
        if (c.selected) {
            EXPECT_EQ(window->focusWidget(), list) << c.name;
        }
    }
    // An empty list: nothing happens and the focus stays where it was.
    fill({});
    window->PushButton1->setFocus();
    window->PushButton4_Click();
    window->PushButton5_Click();
    EXPECT_EQ(window->focusWidget(), window->PushButton1);
    EXPECT_TRUE(dialogs.messages.isEmpty());
}

TEST_F(FileListEditing, AddingFilesFromTheDialog) {
    const QChar nul(0);
    const struct {
        const char* name;
        QString answer;
        QStringList rows;
    } cases[] = {
        {"cancelled", "", {}},
        {"one file", "/pics/holiday one.jpg", {"/pics/holiday one.jpg"}},
        {"three files", QString("/pics") + nul + "c.jpg" + nul + "a.jpg" + nul + "b.jpeg",
         {"/pics/c.jpg", "/pics/a.jpg", "/pics/b.jpeg"}},
        {"two in the root", QString("/") + nul + "a.jpg" + nul + "b.jpg", {"/a.jpg", "/b.jpg"}},
    };
    for (const auto& c : cases) {
        fill({});
        dialogs.openAnswers = {c.answer};
        window->PushButton1_Click();
        EXPECT_EQ(list->rowTexts(), c.rows) << c.name;
    }
    const OpenFileRequest& r = dialogs.openRequests.last();
    EXPECT_EQ(r.title, "Add File(s) - Hold Ctrl or Shift to select multiple files");
    // JPEG first, as always; then every picture the decoder takes.
    const QStringList filter = r.filter.split('|');
    ASSERT_EQ(filter.size(), 4);
    EXPECT_EQ(filter[0], "All JPEG (*.jpeg;*.jpg)");
    EXPECT_EQ(filter[1], "*.jpeg;*.jpg");
    EXPECT_EQ(filter[2], "All pictures (" + filter[3] + ")");
    const QStringList patterns = filter[3].split(';');
    for (const char* kind : {"jpg", "jpeg", "png", "tif", "tiff", "webp", "heic", "heif", "avif", "bmp", "gif"})
        EXPECT_TRUE(patterns.contains(QStringLiteral("*.") + kind)) << kind;
    // The decoder's one list, as pictolio-convert's folder search takes it.
    for (const QString& kind : PictureDecoder::fileExtensions()) EXPECT_TRUE(patterns.contains("*." + kind)) << kind.toStdString();
    EXPECT_TRUE(patterns.contains("*.hif"));
    EXPECT_TRUE(r.multiSelect);
    EXPECT_EQ(r.bufferSize, 30000);
    // No duplicate check: the same file again is a second row.
    fill({});
    dialogs.openAnswers = {QString("/pics/a.jpg")};
    window->PushButton1_Click();
    dialogs.openAnswers = {QString("/pics/a.jpg")};
    window->PushButton1_Click();
    EXPECT_EQ(list->rowCount(), 2);
    EXPECT_TRUE(dialogs.messages.isEmpty());
}

TEST_F(FileListEditing, FilesPickedAcrossFoldersKeepTheirPaths) {
    fill({});
    const QStringList picked{"/a/x.jpg", "/b/y.jpg", "/b/c/z.jpg", "/a/w.jpg"};
    dialogs.openAnswers = {commonDialogFileName(picked, 30000)};
    window->PushButton1_Click();
    EXPECT_EQ(list->rowTexts(), picked);
}

TEST_F(FileListEditing, EveryEditCanBeUndoneAndRedone) {
    const QString folder = work.filePath("pics");
    QDir().mkpath(folder);
    for (const char* name : {"x.jpg", "y.jpg"}) testing::writeFile(folder + "/" + name, "x");
    const auto select = [&](int row) { list->selectRow(row); };
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    const struct {
        const char* name;
        std::function<void()> edit;
    } cases[] = {
        {"Delete", [&] { select(2); key(Qt::Key_Delete); }},
        {"double-click", [&] { select(1); QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, rowPoint(1)); }},
        {"Clear List", [&] { window->PushButton6_Click(); }},
        {"Move Up", [&] { select(3); window->PushButton4_Click(); }},
        {"Move Down", [&] { select(1); window->PushButton5_Click(); }},
        {"a drag", [&] { press(3); dragOver(2); dragOver(1); release(rowPoint(1)); }},
        {"the open-file dialog", [&] { dialogs.openAnswers = {QString("/p") + QChar(0) + "n.jpg" + QChar(0) + "m.jpg"}; window->PushButton1_Click(); }},
        {"a folder", [&] { dialogs.inputAnswers = {"jpg"}; dialogs.folderAnswers = {folder}; window->PushButton3_Click(); }},
        {"files from elsewhere", [&] { window->openPaths({folder, "/q/z.jpg"}); }},
    };
    for (const auto& c : cases) {
        const QStringList before{"A", "B", "C"};
        fill(before);
        window->listHistory().stack().clear();
        c.edit();
        const QStringList after = list->rowTexts();
        ASSERT_NE(after, before) << c.name;
        key(Qt::Key_Z, Qt::ControlModifier);
        EXPECT_EQ(list->rowTexts(), before) << c.name;
        key(Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
        EXPECT_EQ(list->rowTexts(), after) << c.name;
        key(Qt::Key_Z, Qt::ControlModifier);
        key(Qt::Key_Y, Qt::ControlModifier);
        EXPECT_EQ(list->rowTexts(), after) << c.name;
    }
    // A run does not forget the list's history; the hourglass refuses undo as it refuses edits.
    fill({"A", "B"});
    window->listHistory().stack().clear();
    window->PushButton6_Click();
    window->PushButton2_Click();
    window->setMousePointer(Form1::Hourglass);
    key(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(list->rowCount(), 0);
    window->setMousePointer(Form1::Default);
    key(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(list->rowTexts(), (QStringList{"A", "B"}));
    // At least a hundred steps back.
    for (int i = 0; i < 150; ++i) {
        select(1);
        window->PushButton5_Click();
    }
    for (int i = 0; i < 150; ++i) window->undoListEdit();
    EXPECT_EQ(list->rowTexts(), (QStringList{"A", "B"}));
}

// Each drag is a step of its own to undo, however many rows it passes over.
TEST_F(FileListEditing, TwoDragsAreTwoStepsToUndo) {
    fill({"A", "B", "C"});
    window->listHistory().stack().clear();
    press(3);
    dragOver(2);
    dragOver(1);
    release(rowPoint(1));
    press(3);
    dragOver(2);
    release(rowPoint(2));
    ASSERT_EQ(list->rowTexts(), (QStringList{"C", "B", "A"}));
    window->undoListEdit();
    EXPECT_EQ(list->rowTexts(), (QStringList{"C", "A", "B"}));
    window->undoListEdit();
    EXPECT_EQ(list->rowTexts(), (QStringList{"A", "B", "C"}));
}

// Over its empty space the list tells what it is for; its right button opens no menu (the
// window's own menu is for the window).
TEST_F(FileListEditing, TheListsEmptySpaceAndRightButton) {
    fill({"A", "B"});
    const QPoint empty(10, list->viewport()->height() - 5);
    ASSERT_EQ(list->positionAt(empty), 0);
    QHelpEvent help(QEvent::ToolTip, empty, list->viewport()->mapToGlobal(empty));
    QApplication::sendEvent(list->viewport(), &help);
    EXPECT_TRUE(QToolTip::text().startsWith("Drag and drop files here.")) << QToolTip::text().toStdString();

    bool menuShown = false;
    QTimer closer;  // a menu that opened would wait for a choice: closed, and noted
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (QWidget* popup = QApplication::activePopupWidget()) {
            menuShown = true;
            popup->close();
        }
    });
    closer.start(50);
    const QPoint row = rowPoint(1);
    QContextMenuEvent menu(QContextMenuEvent::Mouse, row, list->viewport()->mapToGlobal(row));
    QApplication::sendEvent(list->viewport(), &menu);
    QTest::qWait(200);
    EXPECT_FALSE(menuShown);
    // Beside the list, the window's menu does open.
    const QPoint beside = window->PushButton6->geometry().bottomRight() + QPoint(5, 5);
    QContextMenuEvent windowMenu(QContextMenuEvent::Mouse, beside, window->mapToGlobal(beside));
    QApplication::sendEvent(window.get(), &windowMenu);
    EXPECT_TRUE(menuShown);
}

TEST_F(FileListEditing, TooManyFilesForTheBuffer) {
    fill({"kept"});
    dialogs.openAnswers = {ErrorCode::FileNameBufferTooSmall};
    window->PushButton1_Click();
    EXPECT_EQ(list->rowTexts(), QStringList{"kept"});
    ASSERT_EQ(dialogs.messages.size(), 1);
    EXPECT_EQ(dialogs.messages[0].text,
              "You've selected too many files to add.\r\rPlease try adding via the \"Add All\" button.");
    EXPECT_EQ(dialogs.messages[0].title, "Pictolio");
    EXPECT_EQ(dialogs.messages[0].icon, MessageIcon::None);
}

TEST(CommonDialogFileName, AsTheCommonDialogReturnsIt) {
    const QChar nul(0);
    EXPECT_EQ(commonDialogFileName({"/p/a.jpg"}, 30000), "/p/a.jpg");
    EXPECT_EQ(commonDialogFileName({"/p/a.jpg", "/p/b.jpg"}, 30000), QString("/p") + nul + "a.jpg" + nul + "b.jpg");
    EXPECT_EQ(commonDialogFileName({"/a.jpg", "/b.jpg"}, 30000), QString("/") + nul + "a.jpg" + nul + "b.jpg");
    EXPECT_EQ(commonDialogFileName({}, 30000), "");
    EXPECT_EQ(commonDialogFileName({"/p/x/a.jpg", "/p/xy/b.jpg"}, 30000), QString("/p") + nul + "x/a.jpg" + nul + "xy/b.jpg");
    // 29,999 characters fit; one more does not.
    const QString name(29999 - 3, 'n');
    EXPECT_EQ(commonDialogFileName({"/p/" + name}, 30000).size(), 29999);
    try {
        commonDialogFileName({"/p/" + name + "x"}, 30000);
        ADD_FAILURE() << "a name longer than the buffer was returned";
    } catch (const AppError& e) {
        EXPECT_EQ(static_cast<int>(e.code()), 20476);
    }
}

}  // namespace
}  // namespace pictolio
