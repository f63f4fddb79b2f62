// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/installdirs.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

namespace pictolio {
namespace {

// The folders found from the program's folder, in a build tree and in installations under
// /usr and /usr/local shapes (etc/ beside or above the prefix, as the build's install folders say).
TEST(InstallDirs, FoundFromTheProgramsFolder) {
    QTemporaryDir root;
    ASSERT_TRUE(root.isValid());
    const QString build = root.filePath("build/bin"), prefix = root.filePath("usr");
    ASSERT_TRUE(QDir().mkpath(build) && QDir().mkpath(prefix + "/bin") &&
                QDir().mkpath(prefix + "/share/pictolio"));

    EXPECT_EQ(dataFolder(build), build);
    EXPECT_EQ(systemConfigFolder(build), build);
    EXPECT_EQ(dataFolder(prefix + "/bin"), prefix + "/share/pictolio");
    const QString config = systemConfigFolder(prefix + "/bin");
    EXPECT_TRUE(config == root.filePath("etc/pictolio") || config == prefix + "/etc/pictolio") << config.toStdString();
    EXPECT_EQ(dataFolder(QString()), QString());
}

}  // namespace
}  // namespace pictolio
