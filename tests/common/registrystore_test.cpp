// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/registrystore.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDirIterator>
#include <QTemporaryDir>
#include <atomic>
#include <thread>

namespace pictolio {
namespace {

TEST(RegistryStore, ValuesComeBackExactly) {
    QTemporaryDir root;
    RegistryStore store(root.path());
    const QString key = "Software\\Tenbrook PDF Writer";
    EXPECT_FALSE(store.keyExists(key));
    EXPECT_FALSE(store.getString(key, "OutputFile").has_value());
    EXPECT_TRUE(store.createKey(key));
    EXPECT_TRUE(store.keyExists(key));
    const QString values[] = {"/out/a.pdf", "", "tab\there", "two\nlines\r\n", R"(C:\out\\a.pdf)",
                              "ünïcødé ✓", "=;#[]\"'", "trailing\\"};
    for (const QString& v : values) {
        ASSERT_TRUE(store.setString(key, "OutputFile", v));
        ASSERT_TRUE(store.setString(key, "BypassSaveAs", "1"));
        EXPECT_EQ(store.getString(key, "OutputFile"), v);
        EXPECT_EQ(store.getString(key, "BypassSaveAs"), "1");
    }
}

TEST(RegistryStore, KeyNamesStayBelowTheRoot) {
    QTemporaryDir root;
    RegistryStore store(root.path() + "/HKCU");
    for (const QString key : {"Software\\..\\..\\escape", "Software\\a/b", "Software\\.", "Software\\%2F"}) {
        ASSERT_TRUE(store.setString(key, "v", key)) << key.toStdString();
        EXPECT_EQ(store.getString(key, "v"), key);
        EXPECT_TRUE(store.keyFile(key).startsWith(root.path() + "/HKCU/Software/"));
    }
    EXPECT_NE(store.keyFile("Software\\a/b"), store.keyFile("Software\\a\\b"));
    EXPECT_NE(store.keyFile("Software\\%2F"), store.keyFile("Software\\/"));
}

// The driver reads while the program writes: a reader sees a whole old or new value, never a
// torn or missing one.
TEST(RegistryStore, AReaderNeverSeesHalfAWrite) {
    QTemporaryDir root;
    RegistryStore store(root.path());
    const QString key = "Software\\Tenbrook PDF Writer";
    ASSERT_TRUE(store.setString(key, "OutputFile", "/out/file-0.pdf"));
    std::atomic<bool> done{false};
    std::atomic<int> bad{0};
    std::thread reader([&] {
        while (!done) {
            const auto v = store.getString(key, "OutputFile");
            if (!v || !v->startsWith("/out/file-") || !v->endsWith(".pdf")) ++bad;
        }
    });
    for (int i = 1; i <= 300; ++i) store.setString(key, "OutputFile", QString("/out/file-%1.pdf").arg(i));
    done = true;
    reader.join();
    EXPECT_EQ(bad, 0);
    // No temporary files are left beside the key.
    int files = 0;
    for (QDirIterator it(root.path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories); it.hasNext(); it.next())
        ++files;
    EXPECT_EQ(files, 1);
}

// The values name the user's files: the folders the store makes and every values file are the
// user's alone, also a file an earlier version left readable by all.
TEST(RegistryStore, ValuesAreTheUsersAlone) {
    QTemporaryDir root;
    RegistryStore store(root.filePath("registry/HKEY_CURRENT_USER"));
    const QString key = "Software\\Tenbrook PDF Writer";
    const auto mode = [](const QString& path) {
        struct stat st {};
        return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 0777 : 0u;
    };
    ASSERT_TRUE(store.setString(key, "OutputFile", "/home/me/a.pdf"));
    for (const QString folder : {"registry", "registry/HKEY_CURRENT_USER", "registry/HKEY_CURRENT_USER/Software"})
        EXPECT_EQ(mode(root.filePath(folder)), 0700u) << folder.toStdString();
    EXPECT_EQ(mode(store.keyFile(key)), 0600u);
    ASSERT_TRUE(QFile::setPermissions(store.keyFile(key), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther));
    ASSERT_TRUE(store.setString(key, "OutputFile", "/home/me/b.pdf"));
    EXPECT_EQ(mode(store.keyFile(key)), 0600u);
}

}  // namespace
}  // namespace pictolio
