// SPDX-License-Identifier: GPL-3.0-or-later
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <atomic>
#include <thread>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QTimer>
#include <QUrl>

#include "app/singleinstance.h"
#include "common/errortrap.h"
#include "filelist/filelist.h"
#include "filelist/folderscan.h"
#include "platform/filesystem.h"
#include "tests/app/appfixture.h"
#include "tests/support/testpictures.h"

namespace pictolio {
namespace {

using testing::AppFixture;

// The real file system, except that some folders cannot be listed (as for a user without the
// rights; root on the test machine can read everything).
class DenyingFileSystem : public PosixFileSystem {
public:
    QStringList denied;
    QStringList subFolders(const QString& folder) const override {
        for (const QString& d : denied)
            if (QDir::cleanPath(folder) == QDir::cleanPath(d)) throw AppError(ErrorCode::PermissionDenied);
        return PosixFileSystem::subFolders(folder);
    }
};

bool setDosAttributes(const QString& path, const char* value) {
    return ::setxattr(QFile::encodeName(path).constData(), "user.DOSATTRIB", value, std::strlen(value), 0) == 0;
}

class Folders : public AppFixture {
protected:
    void SetUp() override {
        AppFixture::SetUp();
        files = &denying;
        installPdfPrinter();
        ASSERT_TRUE(tree.isValid());
        loadedForm();
        list = window->ListView1;
    }
    QString put(const QString& relative, const QByteArray& data = "x") {
        const QString path = tree.filePath(relative);
        QDir().mkpath(QFileInfo(path).path());
        testing::writeFile(path, data);
        return path;
    }
    QString root() const { return tree.path(); }
    // The rows, relative to the tree.
    QStringList rows() const {
        QStringList out;
        for (const QString& r : list->rowTexts()) out << (r.startsWith(root() + "/") ? r.mid(root().size() + 1) : r);
        return out;
    }
    void addFolder(const QString& extension, const QString& folder) {
        dialogs.inputAnswers = {extension};
        dialogs.folderAnswers = {folder};
        window->PushButton3_Click();
    }
    void drop(const QList<QUrl>& urls, const QString& text = {}) {
        QMimeData data;
        if (!urls.isEmpty()) data.setUrls(urls);
        if (!text.isEmpty()) data.setText(text);
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(list->viewport(), &enter);
        lastDropAccepted = enter.isAccepted();
        if (!lastDropAccepted) return;
        QDropEvent dropEvent(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(list->viewport(), &dropEvent);
    }

    DenyingFileSystem denying;
    QTemporaryDir tree;
    FileList* list = nullptr;
    bool lastDropAccepted = false;
};

TEST_F(Folders, ExtensionAnswersAndBreadthFirstOrder) {
    put("b.JPG"), put("a.jpg"), put("c.png"), put("notes.txt"), put("~$tmp.jpg"), put(".hidden.jpg");
    put("x/d.jpg"), put("x/y/e.jpg"), put("x/y/z/g.jpg"), put("Z/f.jpg"), put("x/y/e.txt");
    QDir(root()).mkdir("empty");
    const struct {
        const char* answer;
        QStringList rows;
    } cases[] = {
        {"jpg", {"a.jpg", "b.JPG", "x/d.jpg", "Z/f.jpg", "x/y/e.jpg", "x/y/z/g.jpg"}},
        {"JPG", {"a.jpg", "b.JPG", "x/d.jpg", "Z/f.jpg", "x/y/e.jpg", "x/y/z/g.jpg"}},
        {"*", {"a.jpg", "b.JPG", "c.png", "notes.txt", "x/d.jpg", "Z/f.jpg", "x/y/e.jpg", "x/y/e.txt", "x/y/z/g.jpg"}},
        {"txt", {"notes.txt", "x/y/e.txt"}},
        {"j?g", {"a.jpg", "b.JPG", "x/d.jpg", "Z/f.jpg", "x/y/e.jpg", "x/y/z/g.jpg"}},
        {"gif", {}},
    };
    for (const auto& c : cases) {
        list->removeAllRows();
        addFolder(c.answer, root());
        EXPECT_EQ(rows(), c.rows) << c.answer;
        EXPECT_EQ(stored("Extension"), c.answer);
        EXPECT_EQ(stored("LastFolder"), root());
        EXPECT_EQ(window->mousePointer(), Form1::Default);
    }
    const auto& prompt = dialogs.inputRequests.last();
    EXPECT_EQ(prompt.prompt, "Enter file extension to load:\r\r(* for all files, txt for all txt files, doc for all doc files, etc.)");
    EXPECT_EQ(prompt.title, "Pictolio");
    EXPECT_EQ(dialogs.inputRequests.first().defaultText, "jpg");
    EXPECT_EQ(prompt.defaultText, "j?g");  // the answer saved before ("gif" is asked with "j?g")
    EXPECT_EQ(dialogs.folderRequests.last().startFolder, root());
    EXPECT_TRUE(dialogs.messages.isEmpty());
    // The same folder again: every file twice.
    addFolder("jpg", root());
    addFolder("jpg", root());
    EXPECT_EQ(list->rowCount(), 12);
}

TEST_F(Folders, ClosingTheWindowStopsTheScan) {
    for (int i = 0; i < 30; ++i) put(QString("d%1/e/a.jpg").arg(i));
    int folderEvents = 0;
    QTimer::singleShot(0, window.get(), [&] {
        ++folderEvents;
        window->close();
    });
    addFolder("jpg", root());
    EXPECT_EQ(folderEvents, 1);
    EXPECT_EQ(list->rowCount(), 0);
}

TEST_F(Folders, ALaterStartHandsItsFilesToTheWindow) {
    const QString name = QString("pictolio-test-%1").arg(QCoreApplication::applicationPid());
    SingleInstance first(name);
    ASSERT_TRUE(first.listen());
    QStringList arrived;
    QObject::connect(&first, &SingleInstance::filesArrived, [&](const QStringList& paths) {
        arrived = paths;
        window->openPaths(paths);
    });
    const QStringList given{put("d/a b.jpg"), put("d/ünï.jpg")};
    std::atomic<int> handed{-1};
    std::thread later([&] { handed = SingleInstance(name).handOver(given); });
    QElapsedTimer waited;
    waited.start();
    while (handed < 0 && waited.elapsed() < 10000) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    later.join();
    EXPECT_EQ(handed, 1);
    EXPECT_EQ(arrived, given);
    EXPECT_EQ(list->rowTexts(), given);
    // Nobody listening: the start shows its own window.
    EXPECT_FALSE(SingleInstance(name + "-none").handOver(given, 200));
}

TEST_F(Folders, CancellingAskingEitherQuestion) {
    put("a.jpg");
    store("Extension", "png");
    dialogs.inputAnswers = {""};
    window->PushButton3_Click();
    EXPECT_EQ(stored("Extension"), "png");
    EXPECT_TRUE(dialogs.folderRequests.isEmpty());
    addFolder("jpg", "");  // the browser cancelled
    EXPECT_EQ(stored("Extension"), "jpg");
    EXPECT_EQ(stored("LastFolder"), "(absent)");
    EXPECT_EQ(list->rowCount(), 0);
    EXPECT_EQ(window->mousePointer(), Form1::Default);
}

TEST_F(Folders, UnsafeNamesUnreadableFoldersAndLinkLoops) {
    put("a.jpg"), put("café/b.jpg"), put("€uro/c.jpg"), put("名前/d.jpg"), put("ok/deep/€/e.jpg");
    put("locked/f.jpg"), put("locked2/g.jpg"), put("ok/h.jpg"), put("ok/locked3/i.jpg");
    denying.denied = {root() + "/locked", root() + "/locked2", root() + "/ok/locked3"};
    ASSERT_EQ(::symlink(QFile::encodeName(root()).constData(), QFile::encodeName(root() + "/ok/loop").constData()), 0);
    ASSERT_EQ(::symlink(QFile::encodeName(root() + "/ok").constData(), QFile::encodeName(root() + "/zz-again").constData()), 0);
    // Each folder once: the links lead to folders already collected. Every name the system
    // holds is scanned; a name that is not valid text in the file-name encoding is not.
    ASSERT_EQ(::mkdir(QFile::encodeName(root() + "/").append("bad\xff").constData(), 0755), 0);
    const int fd = ::open(QFile::encodeName(root() + "/").append("bad\xff/j.jpg").constData(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    ::close(fd);
    // A file of such a name is a row, which the run reports as no valid picture: not lost.
    ::close(::open(QFile::encodeName(root() + "/").append("bad\xff.jpg").constData(), O_CREAT | O_WRONLY, 0644));
    addFolder("jpg", root());
    EXPECT_EQ(rows(), (QStringList{"a.jpg", "bad\uFFFD.jpg", "café/b.jpg", "ok/h.jpg", "€uro/c.jpg", "名前/d.jpg",
                                   "ok/deep/€/e.jpg"}));
    ::unlink(QFile::encodeName(root() + "/").append("bad\xff.jpg").constData());
    ::unlink(QFile::encodeName(root() + "/").append("bad\xff/j.jpg").constData());
    ::rmdir(QFile::encodeName(root() + "/").append("bad\xff").constData());
    EXPECT_TRUE(dialogs.messages.isEmpty());
}

TEST_F(Folders, TheWastebasketStaysOut) {
    put("a.jpg"), put(".local/share/Trash/files/deleted.jpg"), put(".local/share/kept.jpg");
    put("usb/.Trash-1000/files/gone.jpg"), put("usb/b.jpg");
    addFolder("jpg", root());
    EXPECT_EQ(rows(), (QStringList{"a.jpg", "usb/b.jpg", ".local/share/kept.jpg"}));
    EXPECT_EQ(realFiles.attributes(root() + "/.local/share/Trash"), 22u);
}

TEST_F(Folders, DosAttributesWhereTheFileSystemKeepsThem) {
    const QString hiddenOnly = put("hidden-only.jpg"), hiddenArchive = put("hidden-archive.jpg");
    put("sys/a.jpg"), put("sys/below/b.jpg"), put("plain/c.jpg");
    if (!setDosAttributes(hiddenOnly, "0x2")) GTEST_SKIP() << "no extended attributes on this file system";
    ASSERT_TRUE(setDosAttributes(hiddenArchive, "0x22"));
    ASSERT_TRUE(setDosAttributes(root() + "/sys", "0x6"));  // hidden + system folder: 22
    const struct {
        QString path;
        quint32 attributes;
    } cases[] = {{hiddenOnly, 2}, {hiddenArchive, 34}, {root() + "/sys", 22}, {root() + "/plain", 16}};
    for (const auto& c : cases) EXPECT_EQ(realFiles.attributes(c.path), c.attributes) << c.path.toStdString();
    addFolder("jpg", root());
    EXPECT_EQ(rows(), (QStringList{"hidden-only.jpg", "plain/c.jpg"}));
    // Picked directly, the hidden system folder gives its own files, not its subfolders'.
    list->removeAllRows();
    addFolder("jpg", root() + "/sys");
    EXPECT_EQ(rows(), QStringList{"sys/a.jpg"});
}

TEST_F(Folders, DroppedFilesAndFolders) {
    const QString a = put("d1/a.jpg"), notes = put("d1/notes.txt");
    put("d1/~tmp.jpg"), put("d1/sub/s.jpg"), put("d2/b.jpg");
    const QString loose = put("loose.PNG");
    const struct {
        const char* name;
        QList<QUrl> urls;
        QStringList rows;
    } cases[] = {
        {"three files as given", {QUrl::fromLocalFile(loose), QUrl::fromLocalFile(root() + "/missing.doc"), QUrl::fromLocalFile(a)},
         {"loose.PNG", "missing.doc", "d1/a.jpg"}},
        {"a folder", {QUrl::fromLocalFile(root() + "/d1")}, {"d1/a.jpg", "d1/notes.txt", "d1/sub/s.jpg"}},
        {"a folder and a file", {QUrl::fromLocalFile(root() + "/d2"), QUrl::fromLocalFile(notes)}, {"d2/b.jpg", "d1/notes.txt"}},
        {"two folders", {QUrl::fromLocalFile(root() + "/d2"), QUrl::fromLocalFile(root() + "/d1/sub")}, {"d2/b.jpg", "d1/sub/s.jpg"}},
    };
    for (const auto& c : cases) {
        list->removeAllRows();
        drop(c.urls);
        EXPECT_TRUE(lastDropAccepted) << c.name;
        EXPECT_EQ(rows(), c.rows) << c.name;
        // The same given on the command line or by a later start.
        list->removeAllRows();
        QStringList paths;
        for (const QUrl& url : c.urls) paths << url.toLocalFile();
        window->openPaths(paths);
        EXPECT_EQ(rows(), c.rows) << c.name;
    }
    // Already listed: added again. Text is refused.
    drop({QUrl::fromLocalFile(notes)});
    EXPECT_EQ(list->rowCount(), 3);
    drop({}, "just some text");
    EXPECT_FALSE(lastDropAccepted);
    drop({QUrl("https://example.invalid/a.jpg")});
    EXPECT_FALSE(lastDropAccepted);
    EXPECT_EQ(list->rowCount(), 3);
}

TEST_F(Folders, SampleFiles) {
    shipResources();
    const QString samples = programFolder.filePath("Samples");
    QDir().mkpath(samples);
    for (const char* name : {"b.jpg", "A.jpg", "readme.txt"}) testing::writeFile(samples + "/" + name, "x");
    const QStringList expected{samples + "/A.jpg", samples + "/b.jpg", samples + "/readme.txt"};
    dialogs.answers = {MessageAnswer::No};
    window->PushButton7_Click();
    EXPECT_EQ(list->rowTexts(), expected);
    EXPECT_TRUE(shell.opened.isEmpty());
    const QString question = "Would you like this software to open the folder where these sample files are stored "
                             "(so that you can view them before working with them)?";
    ASSERT_EQ(dialogs.messages.size(), 1);
    EXPECT_EQ(dialogs.messages[0].text, question);
    EXPECT_EQ(dialogs.messages[0].buttons, MessageButtons::YesNo);
    EXPECT_EQ(dialogs.messages[0].title, "Pictolio");
    // Again: nothing added, asked again; Yes opens the folder.
    dialogs.answers = {MessageAnswer::Yes};
    window->PushButton7_Click();
    EXPECT_EQ(list->rowTexts(), expected);
    EXPECT_EQ(dialogs.messages.size(), 2);
    EXPECT_EQ(shell.opened, QStringList{"\"" + samples + "/\""});
    // A sample the user removed comes back; one differing only in letter case is another path.
    list->removeRow(1);
    list->appendRow(samples + "/a.jpg");
    window->PushButton7_Click();
    EXPECT_EQ(list->rowTexts(), (QStringList{samples + "/b.jpg", samples + "/readme.txt", samples + "/a.jpg", samples + "/A.jpg"}));
    // A Samples folder that cannot be read: reported, not asked.
    denying.denied = {samples + "/"};
    list->removeAllRows();
    window->PushButton7_Click();
    EXPECT_EQ(list->rowCount(), 0);
    ASSERT_EQ(dialogs.messages.size(), 4);
    EXPECT_EQ(dialogs.messages[3].text,
              errorReportText("Permission denied", "in Jovemark2021/08/31.Form1.PushButton7_Click ", 100));
    denying.denied.clear();
    dialogs.messages.clear();
    // No Samples folder: nothing added, still asked.
    QDir(samples).removeRecursively();
    list->removeAllRows();
    window->PushButton7_Click();
    EXPECT_EQ(list->rowCount(), 0);
    EXPECT_EQ(dialogs.messages.size(), 1);
}

TEST(FileSystemRules, WildcardsSortingAndUnsafeNames) {
    const struct {
        const char* pattern;
        const char* name;
        bool match;
    } wild[] = {
        {"*.jpg", "a.jpg", true},   {"*.jpg", "A.JPG", true},   {"*.jpg", "a.jpeg", false},
        {"*.jpg", "a.jpg.txt", false}, {"*.*", "noext", true},  {"*.*", ".hidden", true},
        {"*.j?g", "x.jpg", true},   {"*.j?g", "x.jg", false},   {"*.tar.gz", "a.tar.gz", true},
        {"*.", "noext", false},     {"*.jpg", "jpg", false},    {"*a*.jpg", "banana.jpg", true},
    };
    for (const auto& c : wild) EXPECT_EQ(wildcardMatch(c.pattern, c.name), c.match) << c.pattern << " " << c.name;

    QStringList names{"b.jpg", "A.jpg", "_x.jpg", "a.JPG", "Z.jpg", "10.jpg", "9.jpg", "~t.jpg"};
    sortAsNtfs(names);
    EXPECT_EQ(names, (QStringList{"10.jpg", "9.jpg", "A.jpg", "a.JPG", "b.jpg", "Z.jpg", "_x.jpg", "~t.jpg"}));

    const struct {
        QString name;
        bool unsafeOnWindows, unsafeOnPosix;
    } names2[] = {
        {"Holiday 2026", false, false}, {"café", false, false}, {"Ærø ÿ", false, false}, {"€uro", true, false},
        {"a?b", true, false}, {"名前", true, false}, {QString("a") + QChar(1), true, false},
        {QString("a") + QChar(127), true, false}, {QString("a") + QChar(0x9F), true, false}, {"", false, false},
        {"emoji 😀", true, false}, {QString("half ") + QChar(0xD800), true, true},
    };
    for (const auto& c : names2) {
        EXPECT_EQ(FolderScan::hasUnsafeChars(c.name, PathStyle::Windows), c.unsafeOnWindows) << c.name.toStdString();
        EXPECT_EQ(FolderScan::hasUnsafeChars(c.name, PathStyle::Posix), c.unsafeOnPosix) << c.name.toStdString();
    }
}

TEST(FileSystemRules, AttributesAsWindowsReportsThem) {
    QTemporaryDir dir;
    PosixFileSystem fs;
    const QString file = dir.filePath("a.jpg"), readOnly = dir.filePath("ro.jpg"), dot = dir.filePath(".dot");
    for (const QString& f : {file, readOnly, dot}) testing::writeFile(f, "x");
    ::chmod(QFile::encodeName(readOnly).constData(), 0444);
    QDir(dir.path()).mkdir("folder");
    QDir(dir.path()).mkdir(".dotfolder");
    ::symlink(QFile::encodeName(file).constData(), QFile::encodeName(dir.filePath("link.jpg")).constData());
    ::symlink(QFile::encodeName(dir.filePath("folder")).constData(), QFile::encodeName(dir.filePath("dirlink")).constData());
    const struct {
        QString path;
        std::optional<quint32> attributes;
    } cases[] = {
        {file, 32}, {readOnly, 33}, {dot, 34}, {dir.filePath("folder"), 16}, {dir.filePath(".dotfolder"), 18},
        {dir.filePath("link.jpg"), 32 | 1024}, {dir.filePath("dirlink"), 16 | 1024}, {dir.filePath("missing"), std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(fs.attributes(c.path), c.attributes) << c.path.toStdString();
    EXPECT_TRUE(fs.isOpenableFile(file));
    EXPECT_FALSE(fs.isOpenableFile(dir.filePath("folder")));
    EXPECT_FALSE(fs.isOpenableFile(dir.filePath("missing")));
    EXPECT_EQ(fs.listFiles(dir.path(), "*.*"), (QStringList{".dot", "a.jpg", "link.jpg", "ro.jpg"}));
    EXPECT_EQ(fs.subFolders(dir.path()), (QStringList{".dotfolder", "dirlink", "folder"}));
    EXPECT_THROW(fs.subFolders(dir.filePath("missing")), AppError);
}

}  // namespace
}  // namespace pictolio
