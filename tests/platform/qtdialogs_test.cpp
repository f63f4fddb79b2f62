// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/qtdialogs.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <functional>

namespace pictolio {
namespace {

// Acts on the dialog once it is open, as the user would.
void whenOpen(std::function<void(QWidget*)> act) {
    QTimer::singleShot(0, [act] { act(QApplication::activeModalWidget()); });
}

TEST(QtDialogs, MessageBoxesAnswerAndBreakLinesAsWindowsDoes) {
    QtDialogs dialogs;
    dialogs.setApplicationTitle("Pictolio");
    const struct {
        QMessageBox::StandardButton press;
        MessageAnswer answer;
    } cases[] = {{QMessageBox::Yes, MessageAnswer::Yes}, {QMessageBox::No, MessageAnswer::No}};
    for (const auto& c : cases) {
        QString shownText, shownTitle;
        whenOpen([&](QWidget* w) {
            auto* box = qobject_cast<QMessageBox*>(w);
            ASSERT_NE(box, nullptr);
            shownText = box->text();
            shownTitle = box->windowTitle();
            box->button(c.press)->click();
        });
        EXPECT_EQ(dialogs.message("Open it?\r\rNow.\r\nReally", MessageButtons::YesNo), c.answer);
        EXPECT_EQ(shownText, "Open it?\n\nNow.\nReally");
        EXPECT_EQ(shownTitle, "Pictolio");
    }
}

TEST(QtDialogs, TheFolderBrowserOpensOnTheStartFolder) {
    QTemporaryDir dir;
    QDir(dir.path()).mkpath("Pictures/2026");
    const QString start = dir.filePath("Pictures/2026");
    QtDialogs dialogs;
    const struct {
        QString start;
        bool accept;
        QString expected;
    } cases[] = {
        {start, true, start},            // OK at once returns the start folder
        {start, false, ""},              // cancelled
        {"/", true, "/"},                // the root comes back as "/"
    };
    for (const auto& c : cases) {
        whenOpen([&](QWidget* w) {
            auto* d = qobject_cast<QFileDialog*>(w);
            ASSERT_NE(d, nullptr);
            if (c.accept)
                QMetaObject::invokeMethod(d, "accept");
            else
                d->reject();
        });
        EXPECT_EQ(dialogs.browseForFolder("Please select folder:", c.start), c.expected) << c.start.toStdString();
    }
}

TEST(QtDialogs, TheOpenFileDialogOffersJpegsInEitherLetterCase) {
    QtDialogs dialogs;
    QStringList filters;
    whenOpen([&](QWidget* w) {
        auto* d = qobject_cast<QFileDialog*>(w);
        ASSERT_NE(d, nullptr);
        filters = d->nameFilters();
        d->reject();
    });
    EXPECT_EQ(dialogs.openFile({"Add File(s)", "All JPEG (*.jpeg;*.jpg)|*.jpeg;*.jpg|All pictures (*.png;*.tif)|*.png;*.tif",
                                true, 30000}),
              "");
    EXPECT_EQ(filters, (QStringList{"All JPEG (*.jpeg *.JPEG *.jpg *.JPG)", "All pictures (*.png *.PNG *.tif *.TIF)"}));
}

}  // namespace
}  // namespace pictolio
