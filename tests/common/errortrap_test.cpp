// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/errortrap.h"

#include <gtest/gtest.h>

#include "appconfig.h"
#include "tests/fakes/fakedialogs.h"

namespace pictolio {
namespace {

const QString location = QStringLiteral("in Jovemark2021/08/31.Form1.PushButton2_Click ");

TEST(ErrorReport, TextIsBuiltExactly) {
    const QString expected = QStringLiteral("Type mismatch\r\nin Jovemark2021/08/31.Form1."
                                            "PushButton2_Click at line 128\r\rPlease email "
                                            "screenshot of this message to ") +
                             QString::fromUtf8(config::supportAddress);
    EXPECT_EQ(errorReportText("Type mismatch", location, 128), expected);
}

TEST(ErrorTrap, ReportsEachFailingStepAndGoesOn) {
    testing::FakeDialogs dialogs;
    ErrorTrap trap(dialogs, location);
    QStringList ran;

    EXPECT_TRUE(trap.at(100, [&] { ran << "100"; }));
    EXPECT_FALSE(trap.at(102, [&] { throw AppError(ErrorCode::TypeMismatch); }));
    EXPECT_FALSE(trap.at(104, [&] {
        ran << "104";
        throw AppError(ErrorCode::PathNotFound, "Path not found: /x");
    }));
    EXPECT_FALSE(trap.at(106, [&] { throw std::runtime_error("disk on fire"); }));
    EXPECT_TRUE(trap.at(108, [&] { ran << "108"; }));

    EXPECT_EQ(ran, (QStringList{"100", "104", "108"}));
    EXPECT_EQ(trap.errorCount(), 3);
    ASSERT_EQ(dialogs.messages.size(), 3);
    const struct {
        QString description;
        int line;
    } expected[] = {{"Type mismatch", 102}, {"Path not found: /x", 104}, {"disk on fire", 106}};
    for (int i = 0; i < 3; ++i) {
        const auto& m = dialogs.messages[i];
        EXPECT_EQ(m.text, errorReportText(expected[i].description, location, expected[i].line));
        EXPECT_EQ(m.title, "Application Error");
        EXPECT_EQ(m.icon, MessageIcon::Warning);
        EXPECT_EQ(m.buttons, MessageButtons::Ok);
    }
}

TEST(ErrorCodes, CarryThePlatformDescriptions) {
    const struct {
        ErrorCode code;
        int number;
        const char* description;
    } cases[] = {
        {ErrorCode::InvalidArgument, 5, "Invalid procedure call or argument"},
        {ErrorCode::TypeMismatch, 13, "Type mismatch"},
        {ErrorCode::PermissionDenied, 70, "Permission denied"},
        {ErrorCode::PathNotFound, 76, "Path not found"},
        {ErrorCode::FileNameBufferTooSmall, 20476,
         "The buffer at which the member lpstrFile points is too small"},
    };
    for (const auto& c : cases) {
        const AppError e(c.code);
        EXPECT_EQ(static_cast<int>(e.code()), c.number);
        EXPECT_EQ(e.description(), c.description);
    }
}

TEST(Messages, TitleDefaultsToTheApplicationTitle) {
    testing::FakeDialogs dialogs;
    dialogs.setApplicationTitle("Pictolio");
    dialogs.message("No files added.");
    dialogs.message("x", MessageButtons::Ok, MessageIcon::None, "Own title");
    EXPECT_EQ(dialogs.messages[0].title, "Pictolio");
    EXPECT_EQ(dialogs.messages[1].title, "Own title");
}

TEST(Messages, LineBreaksShowAsWindowsShowsThem) {
    const struct {
        const char* text;
        const char* shown;
    } cases[] = {
        {"a\r\nb", "a\nb"}, {"a\rb", "a\nb"},   {"a\nb", "a\nb"},
        {"a\r\rb", "a\n\nb"}, {"a\r\n\r\nb", "a\n\nb"}, {"a\n\rb", "a\n\nb"},
    };
    for (const auto& c : cases) EXPECT_EQ(messageTextForDisplay(c.text), c.shown) << c.text;
}

}  // namespace
}  // namespace pictolio
