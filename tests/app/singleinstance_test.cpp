// SPDX-License-Identifier: GPL-3.0-or-later
// The hand-over between starts and the window: where its socket lies, and who may use it.
#include "app/singleinstance.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <atomic>
#include <thread>

#include "tests/support/testpictures.h"

namespace pictolio {
namespace {

mode_t modeOf(const QString& path) {
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 0777 : 0;
}

// The socket goes in $XDG_RUNTIME_DIR, or a folder of the user's own in the temporary folder;
// never in one someone else owns or can open. Whatever lies at its name is the user's own and
// does not keep the window from listening.
TEST(SingleInstanceSocket, LiesInAFolderOfTheUsersAlone) {
    enum class Fallback { Missing, OpenToOthers, AnotherUsers };
    const struct {
        mode_t runtime;  // the runtime folder's mode; 0: no $XDG_RUNTIME_DIR
        Fallback fallback;
        const char* expected;  // "runtime", "fallback" or "" (none: the window runs alone)
    } cases[] = {
        {0700, Fallback::Missing, "runtime"},
        {0755, Fallback::Missing, "fallback"},
        {0, Fallback::Missing, "fallback"},
        {0, Fallback::OpenToOthers, ""},
        {0, Fallback::AnotherUsers, ""},
    };
    const QByteArray oldRuntime = qgetenv("XDG_RUNTIME_DIR"), oldTemp = qgetenv("TMPDIR");
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << std::oct << c.runtime << " " << int(c.fallback));
        QTemporaryDir runtime, temp;
        ::chmod(QFile::encodeName(runtime.path()).constData(), c.runtime);
        const QString fallback = temp.filePath(QString("pictolio-%1").arg(::getuid()));
        if (c.fallback != Fallback::Missing) {
            ASSERT_TRUE(QDir().mkdir(fallback));
            ::chmod(QFile::encodeName(fallback).constData(), c.fallback == Fallback::OpenToOthers ? 0755 : 0700);
            if (c.fallback == Fallback::AnotherUsers) {
                ASSERT_EQ(::chown(QFile::encodeName(fallback).constData(), ::getuid() + 1, ::getgid()), 0);
            }
        }
        if (c.runtime)
            qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
        else
            qunsetenv("XDG_RUNTIME_DIR");
        qputenv("TMPDIR", QFile::encodeName(temp.path()));

        const QString name = SingleInstance::defaultName();
        const QString expected = QString(c.expected) == "runtime"    ? runtime.path()
                                 : QString(c.expected) == "fallback" ? fallback
                                                                     : QString();
        EXPECT_EQ((name.isEmpty() ? QString() : QFileInfo(name).path()).toStdString(), expected.toStdString());
        if (QString(c.expected) == "fallback") {
            EXPECT_EQ(modeOf(fallback), 0700u);
        }
        if (!expected.isEmpty()) testing::writeFile(name, "planted");
        SingleInstance window(name);
        EXPECT_EQ(window.listen(), !expected.isEmpty()) << window.errorString().toStdString();
    }
    qputenv("XDG_RUNTIME_DIR", oldRuntime);
    qputenv("TMPDIR", oldTemp);
    if (oldRuntime.isEmpty()) qunsetenv("XDG_RUNTIME_DIR");
    if (oldTemp.isEmpty()) qunsetenv("TMPDIR");
}

// The window takes files only from starts of its own user, and a start hands them only to a
// window of its own user (as the kernel reports the other end).
TEST(SingleInstanceSocket, FilesPassOnlyBetweenOneUsersStartsAndWindow) {
    const uid_t me = ::getuid(), someoneElse = ::getuid() + 1;
    const struct {
        uid_t windowTrusts, startTrusts;
        bool handed;
    } cases[] = {{me, me, true}, {someoneElse, me, false}, {me, someoneElse, false}};
    QTemporaryDir folder;
    const QStringList given{"/pictures/a.jpg", "/pictures/b c.jpg"};
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.windowTrusts << " " << c.startTrusts);
        SingleInstance window(folder.filePath("socket"), c.windowTrusts);
        ASSERT_TRUE(window.listen());
        QStringList arrived;
        QObject::connect(&window, &SingleInstance::filesArrived, [&](const QStringList& paths) { arrived = paths; });
        std::atomic<int> handed{-1};
        std::thread start([&] { handed = SingleInstance(folder.filePath("socket"), c.startTrusts).handOver(given); });
        QElapsedTimer waited;
        waited.start();
        while (handed < 0 && waited.elapsed() < 10000) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        start.join();
        QCoreApplication::processEvents();
        EXPECT_EQ(handed, int(c.handed));
        EXPECT_EQ(arrived.join('|').toStdString(), c.handed ? given.join('|').toStdString() : "");
    }
}

// Every start without files opens a window, beside one that runs, and leaves it the socket;
// a start with files hands them over and ends.
TEST(SingleInstanceSocket, AStartWithoutFilesIsAWindowOfItsOwn) {
    QTemporaryDir runtime, config, pics;
    ::chmod(QFile::encodeName(runtime.path()).constData(), 0700);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_RUNTIME_DIR", runtime.path());
    env.insert("XDG_CONFIG_HOME", config.path());
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("DISPLAY", ":pictolio-test");
    env.remove("WAYLAND_DISPLAY");
    const QString program = QCoreApplication::applicationDirPath() + "/pictolio";
    const QString socket = runtime.filePath("pictolio-_pictolio-test");
    QProcess first, second, third;
    for (QProcess* p : {&first, &second, &third}) p->setProcessEnvironment(env);
    first.start(program, {});
    ASSERT_TRUE(first.waitForStarted());
    QElapsedTimer waited;
    waited.start();
    while (!QFile::exists(socket) && waited.elapsed() < 30000) QThread::msleep(50);
    ASSERT_TRUE(QFile::exists(socket));
    second.start(program, {});
    ASSERT_TRUE(second.waitForStarted());
    EXPECT_FALSE(second.waitForFinished(3000)) << "the second start ended without a window";
    const QString a = pics.filePath("a.jpg");
    testing::writeFile(a, testing::makeJpeg({}));
    third.start(program, {a});
    EXPECT_TRUE(third.waitForFinished(30000));
    EXPECT_EQ(third.exitCode(), 0);
    EXPECT_FALSE(first.waitForFinished(100)) << "the first window ended";
    for (QProcess* p : {&first, &second}) {
        p->kill();
        p->waitForFinished();
    }
}

// A second window finds the first one's socket in use: it leaves it be, and hands to the first go on.
TEST(SingleInstanceSocket, ASecondWindowLeavesTheFirstItsSocket) {
    QTemporaryDir folder;
    SingleInstance first(folder.filePath("socket"));
    ASSERT_TRUE(first.listen());
    SingleInstance second(folder.filePath("socket"));
    EXPECT_FALSE(second.listen());
    EXPECT_TRUE(second.anotherWindowListens());
    QStringList arrived;
    QObject::connect(&first, &SingleInstance::filesArrived, [&](const QStringList& paths) { arrived = paths; });
    std::atomic<int> handed{-1};
    std::thread start([&] { handed = SingleInstance(folder.filePath("socket")).handOver({"/a.jpg"}); });
    QElapsedTimer waited;
    waited.start();
    while (handed < 0 && waited.elapsed() < 10000) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    start.join();
    QCoreApplication::processEvents();
    EXPECT_EQ(handed, 1);
    EXPECT_EQ(arrived, QStringList{"/a.jpg"});
}

}  // namespace
}  // namespace pictolio
