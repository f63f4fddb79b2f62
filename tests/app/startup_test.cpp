// SPDX-License-Identifier: GPL-3.0-or-later
#include <sys/xattr.h>

#include <QAccessible>
#include <QApplication>
#include <QFrame>
#include <QGroupBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include "app/startwindow.h"
#include "common/errortrap.h"
#include "common/paths.h"
#include "convert/pdfprinter.h"
#include "filelist/filelist.h"
#include "tests/app/appfixture.h"
#include "tests/support/testpictures.h"

namespace pictolio {
namespace {

using testing::AppFixture;

const QString loadLocation = "in Jovemark2021/08/31.Form1.Form_Load ";

class StartUp : public AppFixture {
protected:
    void TearDown() override { qApp->setStyleSheet(QString()); }

    // The on/off states of Option1 to Option6.
    QString optionStates() {
        QString s;
        for (QRadioButton* o : {window->Option1, window->Option2, window->Option3, window->Option4,
                                window->Option5, window->Option6})
            s += o->isChecked() ? '1' : '0';
        return s;
    }
};

TEST_F(StartUp, FirstStartWithNothingStored) {
    installPdfPrinter();
    // The user's desktop, as the desktop's own settings name it.
    QTemporaryDir home;
    const QByteArray oldHome = qgetenv("HOME"), oldConfig = qgetenv("XDG_CONFIG_HOME");
    qputenv("HOME", QFile::encodeName(home.path()));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.filePath(".config")));
    QDir(home.path()).mkpath(".config");
    QDir(home.path()).mkpath("Bureau");
    testing::writeFile(home.filePath(".config/user-dirs.dirs"), "XDG_DESKTOP_DIR=\"$HOME/Bureau\"\n");
    Form1& f = loadedForm();
    qputenv("HOME", oldHome);
    if (oldConfig.isEmpty())
        qunsetenv("XDG_CONFIG_HOME");
    else
        qputenv("XDG_CONFIG_HOME", oldConfig);
    EXPECT_EQ(optionStates(), "100110");
    EXPECT_EQ(f.Text1->text(), home.filePath("Bureau") + "/");
    EXPECT_TRUE(f.Frame3->isEnabled());
    EXPECT_EQ(f.windowTitle(), "Pictolio Software");
    EXPECT_EQ(dialogs.applicationTitle(), "Pictolio");
    EXPECT_EQ(f.ListView1->headerItem()->text(0), "JPG File(s)");
    EXPECT_EQ(f.ListView1->columnWidth(0), 6500 / 15);
    EXPECT_TRUE(dialogs.messages.isEmpty()) << dialogs.messageTexts().join("|").toStdString();
    // The text box's change handler stored the folder; the options were on as designed.
    EXPECT_EQ(stored("Text1"), home.filePath("Bureau") + "/");
    EXPECT_EQ(settings->saved, QStringList{"Text1=" + home.filePath("Bureau") + "/"});
}

TEST_F(StartUp, StoredChoicesComeBack) {
    const struct {
        const char* name;
        QList<QPair<QString, QString>> values;
        const char* states;
        bool frame3;
    } cases[] = {
        {"results beside the sources", {{"Option5", "False"}, {"Option6", "True"}}, "100101", false},
        {"both of a pair on: the later one wins", {{"Option1", "True"}, {"Option2", "True"}}, "010110", true},
        {"-1 is on", {{"Option3", "-1"}, {"Option4", "False"}}, "101010", true},
        {"5 is on", {{"Option3", "5"}, {"Option4", "0"}}, "101010", true},
        {"both of a pair off", {{"Option1", "False"}, {"Option2", "False"}}, "000110", true},
        {"what the program writes", {{"Option1", "False"}, {"Option2", "True"}, {"Option4", "False"},
                                     {"Option3", "True"}, {"Option5", "True"}, {"Option6", "False"}},
         "011010", true},
    };
    for (const auto& c : cases) {
        window.reset();
        QDir(settingsRoot.path()).removeRecursively();
        for (const auto& [key, value] : c.values) store(key, value);
        loadedForm();
        EXPECT_EQ(optionStates(), c.states) << c.name;
        EXPECT_EQ(window->Frame3->isEnabled(), c.frame3) << c.name;
        EXPECT_EQ(window->Text1->isEnabled() && window->PushButton9->isEnabled(), c.frame3) << c.name;
    }
}

TEST_F(StartUp, AStoredEmptyFolderStaysEmpty) {
    store("Text1", "");
    loadedForm();
    EXPECT_EQ(window->Text1->text(), "");
    EXPECT_EQ(stored("Text1"), "");
}

TEST_F(StartUp, ABadStoredOptionIsReportedAndStartUpGoesOn) {
    installPdfPrinter();
    store("Option1", "maybe");
    store("Option4", "yes");
    store("Text1", "/somewhere/");
    loadedForm();
    EXPECT_EQ(dialogs.messageTexts(),
              (QStringList{errorReportText("Type mismatch", loadLocation, 128),
                           errorReportText("Type mismatch", loadLocation, 132)}));
    EXPECT_EQ(dialogs.messages[0].title, "Application Error");
    EXPECT_EQ(dialogs.messages[0].icon, MessageIcon::Warning);
    EXPECT_EQ(optionStates(), "100110");  // as designed
    EXPECT_EQ(window->Text1->text(), "/somewhere/");
    EXPECT_EQ(window->ListView1->headerItem()->text(0), "JPG File(s)");
}

TEST_F(StartUp, MissingPdfPrinterIsExplainedBeforeTheWindowShows) {
    QList<bool> windowShownAtMessage;
    dialogs.onMessage = [&](const MessageRequest&) { windowShownAtMessage << form().isVisible(); };
    dialogs.answers = {MessageAnswer::Ok, MessageAnswer::No};
    showMainWindow(form());
    EXPECT_EQ(windowShownAtMessage, (QList<bool>{false, false}));
    EXPECT_TRUE(window->isVisible());
    ASSERT_EQ(dialogs.messages.size(), 2);
    EXPECT_EQ(dialogs.messages[1].text, "Install the PDF printer for this user now?");
    EXPECT_EQ(dialogs.messages[0].text, pdfprinter::notInstalledMessage());
    EXPECT_EQ(dialogs.messages[0].title, "Pictolio");
    EXPECT_EQ(dialogs.messages[0].icon, MessageIcon::None);
}

TEST_F(StartUp, SkinAndHandCursorComeFromBesideTheProgram) {
    loadedForm();
    EXPECT_EQ(window->palette().color(QPalette::Window), QColor(Qt::white));
    EXPECT_EQ(window->Option2->palette().color(QPalette::Window), QColor(Qt::white));
    EXPECT_TRUE(qApp->styleSheet().isEmpty());
    window->setMousePointer(Form1::Custom);
    EXPECT_EQ(window->cursor().shape(), Qt::ArrowCursor);  // no hand file: the designed pointer

    window.reset();
    shipResources();
    loadedForm();
    const QColor face = window->palette().color(QPalette::Button);
    EXPECT_EQ(window->palette().color(QPalette::Window), face);
    for (QWidget* w : std::initializer_list<QWidget*>{window->Frame1, window->Frame3, window->Option2,
                                                      window->Option6})
        EXPECT_EQ(w->palette().color(QPalette::Window), face) << w->objectName().toStdString();
    EXPECT_EQ(window->Text1->palette().color(QPalette::Base), QColor(Qt::white));
    EXPECT_TRUE(qApp->styleSheet().contains("QPushButton"));
    window->setMousePointer(Form1::Custom);
    EXPECT_EQ(window->cursor().shape(), Qt::BitmapCursor);
    EXPECT_EQ(window->cursor().hotSpot(), QPoint(11, 1));

    // A damaged hand file is reported; the designed pointer stays.
    window.reset();
    testing::writeFile(programFolder.filePath("HAND-M.CUR"), "not a cursor");
    loadedForm();
    EXPECT_EQ(dialogs.messageTexts().count(errorReportText("Invalid picture", loadLocation, 106)), 1);
    window->setMousePointer(Form1::Custom);
    EXPECT_EQ(window->cursor().shape(), Qt::ArrowCursor);
}

TEST_F(StartUp, AHiddenSkinFileIsNoSkin) {
    shipResources();
    const QByteArray skin = QFile::encodeName(programFolder.filePath("x/o.cjs"));
    if (::setxattr(skin.constData(), "user.DOSATTRIB", "0x22", 4, 0) != 0)
        GTEST_SKIP() << "no extended attributes on this file system";
    loadedForm();
    EXPECT_EQ(window->palette().color(QPalette::Window), QColor(Qt::white));
    EXPECT_TRUE(qApp->styleSheet().isEmpty());
}

TEST_F(StartUp, TheMakersPageOpensOnOneStartInAHundred) {
    const struct {
        double random;
        bool opens;
    } cases[] = {{0.06, true}, {0.0699, true}, {0.05999, false}, {0.07, false}, {0.0, false}, {0.9999, false}};
    for (const auto& c : cases) {
        window.reset();
        shell.opened.clear();
        randomValue = c.random;
        loadedForm();
        EXPECT_EQ(shell.opened, c.opens ? QStringList{programFolder.filePath("help/about.html")} : QStringList())
            << c.random;
    }
}

TEST_F(StartUp, LayoutAsDesigned) {
    Form1& f = loadedForm();
    EXPECT_EQ(f.size(), QSize(536, 628));
    const struct {
        QWidget* control;
        QRect geometry;
    } cases[] = {
        {f.PushButton8, {8, 8, 520, 27}},   {f.ListView1, {8, 42, 456, 169}},
        {f.PushButton2, {8, 558, 520, 27}}, {f.ProgressBar1, {8, 592, 520, 27}},
        {f.Frame5, {8, 429, 520, 121}},     {f.Text1, {16, 20, 378, 23}},
        {f.Option6, {16, 94, 241, 17}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.control->geometry(), c.geometry) << c.control->objectName().toStdString();
    EXPECT_EQ(f.Text1->parentWidget(), f.Frame3);
    EXPECT_EQ(f.Frame3->parentWidget(), f.Frame5);
    EXPECT_EQ(f.PushButton2->font().family(), "Arial");
    EXPECT_TRUE(f.PushButton2->font().bold());
    EXPECT_EQ(f.PushButton2->font().pixelSize(), 15);  // 11.25 points at 96 dpi
    EXPECT_EQ(f.ListView1->font().pixelSize(), 12);    // 9 points
    // Every caption fits its control, whatever font size the desktop prefers.
    QApplication::setFont(QFont("Arial", 14));
    for (QAbstractButton* b : f.findChildren<QAbstractButton*>()) {
        const int needed = b->sizeHint().width();
        EXPECT_LE(needed, b->width() + (qobject_cast<QRadioButton*>(b) ? 0 : 40)) << b->text().toStdString();
    }
    QApplication::setFont(QFont());
    EXPECT_EQ(f.ProgressBar1->barText(), "Progress Bar");
    EXPECT_EQ(f.ProgressBar1->text(), "Progress Bar");
    EXPECT_EQ(f.ListView1->toolTip(), "Drag and drop files here. Double-click item to remove it. Move | line to "
                                      "right and out of window to reveal full names.");
    EXPECT_FALSE(f.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(f.windowFlags() & Qt::WindowMinimizeButtonHint);
    // A screen reader finds every button by what it says and can press it.
    for (QPushButton* b : f.findChildren<QPushButton*>()) {
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(b);
        ASSERT_NE(a, nullptr);
        const QString expected = b == f.PushButton9 ? "Browse for the output folder" : b->text();
        EXPECT_EQ(a->text(QAccessible::Name), expected);
        ASSERT_NE(a->actionInterface(), nullptr);
        EXPECT_TRUE(a->actionInterface()->actionNames().contains(QAccessibleActionInterface::pressAction()));
    }
    QAccessibleInterface* text = QAccessible::queryAccessibleInterface(f.Text1);
    EXPECT_EQ(text->text(QAccessible::Name), "Save results to this folder:");
}

}  // namespace
}  // namespace pictolio
