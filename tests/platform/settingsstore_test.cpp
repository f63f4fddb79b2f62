// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/settingsstore.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

#include "common/apperror.h"

namespace pictolio {
namespace {

class SettingsStoreTest : public ::testing::Test {
protected:
    QTemporaryDir root;
    QString file() const { return root.filePath("Tenbrook/Pictolio Software.conf"); }
};

TEST_F(SettingsStoreTest, MissingValuesGiveTheDefaultAndCreateNothing) {
    PlatformSettingsStore store(root.path());
    ProgramSettings settings(store);
    EXPECT_EQ(settings.get("Extension", "jpg"), "jpg");
    EXPECT_EQ(settings.get("LastFolder", ""), "");
    EXPECT_TRUE(settings.getBoolean("Option1", 1));
    EXPECT_FALSE(settings.getBoolean("Option2", 0));
    EXPECT_FALSE(QFile::exists(file()));
    EXPECT_TRUE(QDir(root.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).isEmpty());
}

TEST_F(SettingsStoreTest, OnlyTheProgramsOwnFileIsRead) {
    // The store the program makes (no folder given) reads the user's configuration folder.
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, root.path());
    QDir().mkpath(root.filePath("Tenbrook"));
    QFile shared(root.filePath("Tenbrook.conf"));  // the maker's file, shared by its programs
    ASSERT_TRUE(shared.open(QIODevice::WriteOnly));
    shared.write("[General]\nExtension=png\n");
    shared.close();
    PlatformSettingsStore store;
    ProgramSettings settings(store);
    EXPECT_EQ(settings.get("Extension", "jpg"), "jpg");
    settings.save("LastFolder", "/pics");
    EXPECT_EQ(settings.get("LastFolder", ""), "/pics");
    EXPECT_TRUE(QFile::exists(file()));
}

TEST_F(SettingsStoreTest, ValuesReadBackExactlyAsSaved) {
    const QString values[] = {
        "",           R"(C:\Pics\Out\)", "/home/u/Desktop/", "a, b", " leading and trailing ",
        "x=y;z#w",    "Bilder/Ürlaub 2026/", "\"quoted\"",   "True",
    };
    PlatformSettingsStore store(root.path());
    ProgramSettings settings(store);
    for (const QString& v : values) {
        settings.save("Text1", v);
        // A second store reads the file afresh, as the next start of the program does.
        PlatformSettingsStore again(root.path());
        EXPECT_EQ(ProgramSettings(again).get("Text1", "default"), v) << v.toStdString();
    }
    EXPECT_TRUE(QFile::exists(file()));
}

TEST_F(SettingsStoreTest, OptionStatesRoundTrip) {
    PlatformSettingsStore store(root.path());
    ProgramSettings settings(store);
    settings.saveBoolean("Option3", true);
    settings.saveBoolean("Option4", false);
    EXPECT_EQ(settings.get("Option3", "0"), "True");
    EXPECT_EQ(settings.get("Option4", "1"), "False");
    EXPECT_TRUE(settings.getBoolean("Option3", 0));
    EXPECT_FALSE(settings.getBoolean("Option4", 1));
}

TEST_F(SettingsStoreTest, UnreadableOrDamagedFileGivesDefaults) {
    ASSERT_TRUE(QDir(root.path()).mkpath("Tenbrook"));
    QFile f(file());
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("\xff\xfe\x00garbage[[[\n=\n\x01\x02", 16);
    f.close();
    PlatformSettingsStore store(root.path());
    EXPECT_EQ(ProgramSettings(store).get("Extension", "jpg"), "jpg");

    // A folder where the file should be cannot be read at all.
    QFile::remove(file());
    ASSERT_TRUE(QDir().mkpath(file()));
    EXPECT_EQ(ProgramSettings(store).get("Extension", "jpg"), "jpg");
}

TEST_F(SettingsStoreTest, FailedWriteRaisesAClearError) {
    // The settings file's place is taken by a folder: nothing can be written there, even as
    // root, for whom permissions stop nothing.
    ASSERT_TRUE(QDir().mkpath(file()));
    PlatformSettingsStore store(root.path());
    ProgramSettings settings(store);
    try {
        settings.save("Text1", "/tmp/out/");
        FAIL() << "the write should have failed";
    } catch (const AppError& e) {
        EXPECT_EQ(e.code(), ErrorCode::PermissionDenied);
        EXPECT_TRUE(e.description().contains("Text1")) << e.description().toStdString();
        EXPECT_TRUE(e.description().contains(file())) << e.description().toStdString();
    }
}

TEST_F(SettingsStoreTest, TwoCopiesShareValuesAndTheLastWriteWins) {
    PlatformSettingsStore first(root.path()), second(root.path());
    ProgramSettings a(first), b(second);
    a.save("Extension", "png");
    EXPECT_EQ(b.get("Extension", "jpg"), "png");
    b.save("Extension", "tif");
    EXPECT_EQ(a.get("Extension", "jpg"), "tif");
}

TEST(BooleanConversion, AcceptsWhatTheLanguageAccepts) {
    const struct {
        const char* text;
        bool value;
    } accepted[] = {
        {"True", true}, {"False", false}, {"true", true}, {"FALSE", false}, {" True ", true},
        {"1", true},    {"0", false},     {"-1", true},   {"5", true},      {"0.0", false},
        {"2.5", true},  {" 7 ", true},    {"&H0", false}, {"&H1F", true},   {"1e3", true},
    };
    for (const auto& c : accepted) EXPECT_EQ(textToBoolean(c.text), c.value) << c.text;

    const char* rejected[] = {"", "yes", "on", "Tru", "1x", "nan", "inf", "&Hxyz"};
    for (const char* t : rejected) {
        try {
            textToBoolean(t);
            ADD_FAILURE() << "accepted " << t;
        } catch (const AppError& e) {
            EXPECT_EQ(e.code(), ErrorCode::TypeMismatch) << t;
            EXPECT_EQ(e.description(), "Type mismatch");
        }
    }
}

}  // namespace
}  // namespace pictolio
