// SPDX-License-Identifier: GPL-3.0-or-later
#include <QApplication>
#include <QFrame>
#include <QGroupBox>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include "common/errortrap.h"
#include "filelist/filelist.h"
#include "tests/app/appfixture.h"

namespace pictolio {
namespace {

using testing::AppFixture;

class Options : public AppFixture {
protected:
    void SetUp() override {
        AppFixture::SetUp();
        installPdfPrinter();
        store("Text1", "/start/");
        loadedForm();
        settings->saved.clear();
    }
};

TEST_F(Options, EachClickSavesBothButtonsOfItsPairInOrder) {
    const struct {
        QRadioButton* Form1::*option;
        QStringList saved;
    } cases[] = {
        {&Form1::Option2, {"Option1=False", "Option2=True"}},
        {&Form1::Option1, {"Option1=True", "Option2=False"}},
        {&Form1::Option3, {"Option4=False", "Option3=True"}},
        {&Form1::Option4, {"Option4=True", "Option3=False"}},
        {&Form1::Option6, {"Option5=False", "Option6=True"}},
        {&Form1::Option5, {"Option5=True", "Option6=False"}},
    };
    for (const auto& c : cases) {
        settings->saved.clear();
        QTest::mouseClick(window.get()->*c.option, Qt::LeftButton);
        EXPECT_EQ(settings->saved, c.saved) << c.saved.join(",").toStdString();
    }
}

TEST_F(Options, ResultsBesideTheSourcesDisableTheFolderBox) {
    QTest::mouseClick(window->Option6, Qt::LeftButton);
    EXPECT_FALSE(window->Text1->isEnabled());
    EXPECT_FALSE(window->PushButton9->isEnabled());
    QTest::mouseClick(window->Option5, Qt::LeftButton);
    EXPECT_TRUE(window->Text1->isEnabled());
    EXPECT_TRUE(window->PushButton9->isEnabled());
}

TEST_F(Options, EveryEditOfTheFolderIsSaved) {
    window->Text1->clear();
    settings->saved.clear();
    window->show();
    QTest::keyClicks(window->Text1, "/x/");
    EXPECT_EQ(settings->saved, (QStringList{"Text1=/", "Text1=/x", "Text1=/x/"}));
    EXPECT_EQ(stored("Text1"), "/x/");
}

TEST_F(Options, BrowsingForTheOutputFolder) {
    store("LastFolderDot", "/pics/last");
    const struct {
        QString answer;
        QString text1, lastFolderDot;
    } cases[] = {
        {"/pics/out", "/pics/out/", "/pics/out"},
        {"/", "/", "/"},                    // the root keeps its one separator
        {"", "/", "/"},                     // cancelled: nothing changes
        {"/a b/ü", "/a b/ü/", "/a b/ü"},
    };
    QString expectedStart = "/pics/last";
    for (const auto& c : cases) {
        dialogs.folderAnswers = {c.answer};
        window->PushButton9_Click();
        EXPECT_EQ(dialogs.folderRequests.last().title, "Please select folder:");
        EXPECT_EQ(dialogs.folderRequests.last().startFolder, expectedStart);
        EXPECT_EQ(window->Text1->text(), c.text1) << c.answer.toStdString();
        EXPECT_EQ(stored("Text1"), c.text1) << c.answer.toStdString();
        EXPECT_EQ(stored("LastFolderDot"), c.lastFolderDot) << c.answer.toStdString();
        expectedStart = c.lastFolderDot;
    }
    EXPECT_TRUE(dialogs.messages.isEmpty());
}

TEST_F(Options, SettingsThatCannotBeSavedAreSaidOnce) {
    QDir(settingsRoot.path()).removeRecursively();
    ASSERT_TRUE(QDir().mkpath(settingsRoot.filePath("Tenbrook/Pictolio Software.conf")));
    QTest::mouseClick(window->Option2, Qt::LeftButton);
    window->Text1->setText("/other/");
    ASSERT_EQ(dialogs.messages.size(), 1);
    EXPECT_TRUE(dialogs.messages[0].text.contains("cannot be saved"));
    EXPECT_TRUE(window->Option2->isChecked());  // the choice itself still holds
}

TEST_F(Options, HelpShowsTheNoticeThenOpensThePage) {
    QList<qsizetype> noticesBeforeEachPage;
    shell.onOpen = [&](const QString&) { noticesBeforeEachPage << dialogs.messages.size(); };
    for (int press = 1; press <= 2; ++press) {
        window->PushButton8_Click();
        ASSERT_EQ(dialogs.messages.size(), press);
        EXPECT_EQ(dialogs.messages.last().text,
                  "You must have Acrobat Reader (or Acrobat) installed to use this software.");
        EXPECT_EQ(dialogs.messages.last().title, "Pictolio");
        ASSERT_EQ(shell.opened.size(), press);
        EXPECT_EQ(shell.opened.last(), "\"" + programFolder.filePath("help/index.html") + "\"");
    }
    EXPECT_EQ(noticesBeforeEachPage, (QList<qsizetype>{1, 2}));
    // Busy or not, Help acts.
    window->setMousePointer(Form1::Hourglass);
    window->PushButton8_Click();
    EXPECT_EQ(shell.opened.size(), 3);
    // A desktop with no program for the page: the window says so, and where the page is.
    shell.canOpen = false;
    window->PushButton8_Click();
    ASSERT_EQ(dialogs.messages.size(), 5);
    EXPECT_TRUE(dialogs.messages.last().text.contains("No program could be found to open the help page " +
                                                      programFolder.filePath("help/index.html")))
        << dialogs.messages.last().text.toStdString();
}

void moveOver(QWidget* w) {
    QMouseEvent move(QEvent::MouseMove, QPointF(2, 2), w->mapToGlobal(QPointF(2, 2)), Qt::NoButton,
                     Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(w, &move);
}

TEST_F(Options, PointerFeedback) {
    Form1& f = *window;
    const struct {
        QWidget* over;
        int pointer;
    } moves[] = {
        {f.PushButton1, 99}, {f.Frame1, 0},      {f.PushButton9, 99}, {f.Option5, 99},
        {f.ProgressBar1, 99}, {f.Option6, 99},   {f.Text1, 0},        {f.PushButton2, 99},
        {f.ListView1->viewport(), 0}, {f.PushButton8, 99}, {f.Option3, 0}, {&f, 0},
    };
    for (const auto& m : moves) {
        moveOver(m.over);
        EXPECT_EQ(f.mousePointer(), m.pointer) << m.over->objectName().toStdString();
    }
    f.setMousePointer(Form1::Hourglass);
    for (QWidget* w : std::initializer_list<QWidget*>{f.PushButton1, f.Frame2, f.Text1, &f}) {
        moveOver(w);
        EXPECT_EQ(f.mousePointer(), Form1::Hourglass);
        EXPECT_EQ(f.cursor().shape(), Qt::WaitCursor);
        EXPECT_EQ(f.Text1->cursor().shape(), Qt::WaitCursor);
    }
    f.setMousePointer(Form1::Default);
    moveOver(f.PushButton4);
    EXPECT_EQ(f.mousePointer(), Form1::Custom);
}

}  // namespace
}  // namespace pictolio
