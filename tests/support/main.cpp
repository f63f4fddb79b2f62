// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryDir>

// Every test binary gets a QApplication (offscreen in ctest), so widget and event-loop code
// runs as it does in the program.
int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // Listing the tests at build time happens outside ctest's environment too.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    // Thumbnails the tests make go to a cache of their own, not the user's.
    QTemporaryDir cache;
    if (qEnvironmentVariableIsEmpty("XDG_CACHE_HOME")) qputenv("XDG_CACHE_HOME", cache.path().toLocal8Bit());
    // Dates follow the clock unless a test fixes them: a package build sets SOURCE_DATE_EPOCH for
    // the whole build, which would turn every date into UTC.
    qunsetenv("SOURCE_DATE_EPOCH");
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
