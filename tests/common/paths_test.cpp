// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/paths.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace pictolio {
namespace {

struct Case {
    const char* input;
    const char* expected;
};

QString s(const char* text) { return QString::fromUtf8(text); }

TEST(PathHelpersWindows, ExtractFileName) {
    const Case cases[] = {
        {R"(C:\pics\a.jpg)", "a.jpg"}, {"a.jpg", "a.jpg"}, {R"(C:\pics\)", ""},
        {"", ""}, {R"(\\server\share\p.jpeg)", "p.jpeg"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(extractFileName(s(c.input), PathStyle::Windows), s(c.expected)) << c.input;
}

TEST(PathHelpersWindows, ExtractFolder) {
    const Case cases[] = {
        {R"(C:\pics\a.jpg)", R"(C:\pics\)"}, {"a.jpg", ""}, {R"(C:\a.jpg)", R"(C:\)"}, {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(extractFolder(s(c.input), PathStyle::Windows), s(c.expected)) << c.input;
}

TEST(PathHelpers, StripExtension) {
    const Case cases[] = {
        {"photo.jpg", "photo"}, {"a.b.jpeg", "a.b"}, {".jpg", ".jpg"}, {"x.", "x"},
        {"noext", "noext"},     {"", ""},            {"holiday.photo.jpg", "holiday.photo"},
    };
    for (const auto& c : cases) EXPECT_EQ(stripExtension(s(c.input)), s(c.expected)) << c.input;
}

TEST(PathHelpersWindows, CollapseBackslashes) {
    const Case cases[] = {
        {R"(C:\pics\\a.pdf)", R"(C:\pics\a.pdf)"},
        {R"(C:\\\a.pdf)", R"(C:\\a.pdf)"},  // three become two: one pass, no rescan
        {R"(C:\\\\a.pdf)", R"(C:\\a.pdf)"},
        {R"(\\server\share\\a.pdf)", R"(\\server\share\a.pdf)"},
        {R"(\\\\server\a.pdf)", R"(\\server\a.pdf)"},
        {R"(\dir\\a.pdf)", R"(\\dir\a.pdf)"},
        {R"(\)", R"(\\)"},
        {R"(\\\)", R"(\\)"},
        {"", ""},
        {R"(D:\out\holiday.photo.pdf)", R"(D:\out\holiday.photo.pdf)"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(collapseSeparators(s(c.input), PathStyle::Windows), s(c.expected)) << c.input;
}

TEST(PathHelpersWindows, RootJoinRepair) {
    const Case cases[] = {
        {R"(C:\\a.jpg)", R"(C:\a.jpg)"},
        {R"(C:\pics\a.jpg)", R"(C:\pics\a.jpg)"},
        {R"(\\server\share\a.jpg)", R"(\\server\share\a.jpg)"},  // UNC names stay
    };
    for (const auto& c : cases)
        EXPECT_EQ(repairRootJoin(s(c.input), PathStyle::Windows), s(c.expected)) << c.input;
}

TEST(PathHelpersPosix, TakingPathsApart) {
    EXPECT_EQ(extractFileName("/home/u/pics/a.jpg", PathStyle::Posix), "a.jpg");
    EXPECT_EQ(extractFileName("/home/u/pics/", PathStyle::Posix), "");
    EXPECT_EQ(extractFileName(R"(C:\pics\a.jpg)", PathStyle::Posix), R"(C:\pics\a.jpg)");
    EXPECT_EQ(extractFolder("/home/u/pics/a.jpg", PathStyle::Posix), "/home/u/pics/");
    EXPECT_EQ(extractFolder("/a.jpg", PathStyle::Posix), "/");
    EXPECT_EQ(extractFolder("a.jpg", PathStyle::Posix), "");
}

TEST(PathHelpersPosix, CollapseAndRepair) {
    const Case collapse[] = {
        {"/out//a.pdf", "/out/a.pdf"}, {"//a.pdf", "/a.pdf"}, {"///out///a.pdf", "/out/a.pdf"},
        {"/", "/"},                    {"", ""},              {"rel//a.pdf", "rel/a.pdf"},
    };
    for (const auto& c : collapse)
        EXPECT_EQ(collapseSeparators(s(c.input), PathStyle::Posix), s(c.expected)) << c.input;
    // Joining the root "/" with "/" and a name, as the list fillers do.
    EXPECT_EQ(repairRootJoin("//a.jpg", PathStyle::Posix), "/a.jpg");
    EXPECT_EQ(repairRootJoin("/home/u/a.jpg", PathStyle::Posix), "/home/u/a.jpg");
}

TEST(PathHelpers, ExistenceAndFolders) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString file = dir.filePath("a.jpg");
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    const QString weird = dir.filePath("名前 with spaces");
    ASSERT_TRUE(QDir().mkdir(weird));

    struct {
        QString path;
        bool exists;
        bool folder;
    } const cases[] = {
        {file, true, false},
        {dir.path(), true, true},
        {dir.path() + "/", true, true},
        {weird, true, true},
        {dir.filePath("missing.jpg"), false, false},
        {dir.filePath("a.jpg/below"), false, false},
        {"", false, false},
        {QString("a") + QChar(0) + "b", false, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(pathExists(c.path), c.exists) << c.path.toStdString();
        EXPECT_EQ(isFolder(c.path), c.folder) << c.path.toStdString();
    }
}

// The desktop folder comes from the XDG user folders; a desktop that does not exist must not
// become the default output folder.
TEST(PathHelpers, DesktopFolderFallsBackToHome) {
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    const QByteArray oldHome = qgetenv("HOME"), oldConfig = qgetenv("XDG_CONFIG_HOME");
    qputenv("HOME", QFile::encodeName(home.path()));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.filePath(".config")));
    QDir(home.path()).mkpath(".config");
    QFile dirs(home.filePath(".config/user-dirs.dirs"));
    ASSERT_TRUE(dirs.open(QIODevice::WriteOnly));
    dirs.write("XDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n");
    dirs.close();

    EXPECT_EQ(getDesktopFolder(), home.path() + "/");
    ASSERT_TRUE(QDir(home.path()).mkdir("Schreibtisch"));
    EXPECT_EQ(getDesktopFolder(), home.path() + "/Schreibtisch/");

    qputenv("HOME", oldHome);
    if (oldConfig.isEmpty())
        qunsetenv("XDG_CONFIG_HOME");
    else
        qputenv("XDG_CONFIG_HOME", oldConfig);
}

}  // namespace
}  // namespace pictolio
