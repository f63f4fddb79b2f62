// SPDX-License-Identifier: GPL-3.0-or-later
// pictolio-convert: Pictolio's conversion for scripts, terminals and file managers. The same
// engine, printing service, PDF printer and page preferences as the window, without a window.

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <optional>
#include <vector>

#include "appconfig.h"
#include "cli/archive.h"
#include "cli/options.h"
#include "cli/outputfiles.h"
#include "common/dialogs.h"
#include "common/paths.h"
#include "convert/conversion.h"
#include "convert/pdfprinter.h"
#include "filelist/folderscan.h"
#include "filelist/naturalorder.h"
#include "pdfwriter/driver.h"
#include "platform/filesystem.h"
#include "pictures/picture.h"
#include "platform/printservice.h"
#include "platform/registry.h"

using namespace pictolio;

namespace {

std::atomic<bool> interrupted{false};
extern "C" void onInterrupt(int) { interrupted = true; }

// Messages from the folder scan go to the terminal; nothing here asks questions.
class TerminalDialogs : public Dialogs {
public:
    QString browseForFolder(const QString&, const QString&) override { return {}; }
    QString openFile(const OpenFileRequest&) override { return {}; }
    QString inputBox(const QString&, const QString&, const QString&) override { return {}; }

protected:
    MessageAnswer showMessage(const MessageRequest& request) override {
        std::fprintf(stderr, "pictolio-convert: %s\n", qPrintable(messageTextForDisplay(request.text)));
        return MessageAnswer::No;
    }
};

// The arguments whose bytes are not valid in the file-name encoding, as they read once decoded.
QStringList argumentsLostInEncoding(int argc, char* argv[]) {
    QStringList lost;
    for (int i = 1; i < argc; ++i)
        if (QFile::encodeName(QFile::decodeName(argv[i])) != QByteArray(argv[i])) lost << QFile::decodeName(argv[i]);
    return lost;
}

// Shows how far the run is: a bar redrawn in place on a terminal, a line per file otherwise.
// A file's path as a line of the terminal shows it: control characters in the name (a newline)
// written as \n, \t or \xHH, so that one file stays one line.
QString standardInputFile;  // where the picture read from standard input ("-") is kept

QString shown(const QString& path) {
    if (!standardInputFile.isEmpty() && path == standardInputFile) return QStringLiteral("(standard input)");
    QString out;
    for (const QChar c : path) {
        if (c == QLatin1Char('\n')) out += QStringLiteral("\\n");
        else if (c == QLatin1Char('\t')) out += QStringLiteral("\\t");
        else if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            out += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        else out += c;
    }
    return out;
}

// Progress on a terminal: a bar, the pace and the time left, by files drawn or, with text
// recognition on, by pages recognised (which take most of the time); elsewhere a line a file.
class Progress {
public:
    explicit Progress(int total) : m_total(total), m_terminal(::isatty(STDERR_FILENO)) { m_clock.start(); }
    void file(int index, const QString& path) {
        m_index = index;
        m_name = QFileInfo(path).fileName();
        if (!m_terminal) {
            std::fprintf(stderr, "[%d/%d] %s\n", index, m_total, qPrintable(shown(path)));
            return;
        }
        show();
    }
    void recognised(int pages, int started) {
        m_pages = pages;
        m_pagesTotal = std::max(started, m_total);
        if (m_terminal) show();
    }
    void done() {
        if (m_terminal) std::fprintf(stderr, "\r\033[K");
    }

private:
    void show() {
        const bool reading = m_pagesTotal > 0;
        const int done = reading ? m_pages : m_index - 1, total = reading ? m_pagesTotal : m_total;
        const double seconds = m_clock.elapsed() / 1000.0;
        const double rate = done > 0 && seconds > 0 ? done / seconds : 0;
        const int left = rate > 0 ? int((total - done) / rate + 0.5) : -1;
        const int width = 24, filled = total ? width * done / total : 0;
        const QString bar = QString(filled, QLatin1Char('#')) + QString(width - filled, QLatin1Char('.'));
        const QString eta = left < 0 ? QStringLiteral("--:--")
                                     : QStringLiteral("%1:%2").arg(left / 60).arg(left % 60, 2, 10, QLatin1Char('0'));
        const QString count = reading ? QStringLiteral("%1/%2 files, %3/%4 pages read").arg(m_index).arg(m_total).arg(done).arg(total)
                                      : QStringLiteral("%1/%2 %3 files/s").arg(m_index).arg(m_total).arg(rate, 0, 'f', 1);
        std::fprintf(stderr, "\r\033[K[%s] %s %s left  %s", qPrintable(bar), qPrintable(count), qPrintable(eta),
                     qPrintable(shown(m_name).left(40)));
        std::fflush(stderr);
    }

    int m_total, m_index = 0, m_pages = 0, m_pagesTotal = 0;
    bool m_terminal;
    QString m_name;
    QElapsedTimer m_clock;
};

// Entries of the folders with a picture's name that are no file to read: a link that leads
// nowhere, a pipe, a device. The scan passes them over; a run names each, as it does one given
// by name.
QStringList noFilesAmong(const QStringList& folders) {
    QStringList found;
    for (const QString& folder : folders) {
        const QDir dir(folder);
        for (const QString& name : dir.entryList(QDir::System | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name)) {
            const QString path = dir.filePath(name);
            const QFileInfo info(path);
            if (name.startsWith(QLatin1Char('~')) || !PictureDecoder::hasPictureExtension(path) || info.isDir() ||
                info.isFile())
                continue;
            found << path;
        }
    }
    return found;
}

// "-": one picture read from standard input, kept in a file of the run's own ("stdin", so its PDF
// is stdin.pdf) while it is converted. False, said, when it cannot be.
bool readStandardInput(std::optional<QTemporaryDir>& fromInput, QString& inputPicture) {
    fromInput.emplace(runFolderTemplate(QDir::tempPath()));
    inputPicture = standardInputFile = fromInput->filePath(QStringLiteral("stdin"));
    QFile in, copy(inputPicture);
    const bool read = fromInput->isValid() && in.open(stdin, QIODevice::ReadOnly) && copy.open(QIODevice::WriteOnly);
    bool copied = read;
    for (QByteArray piece; copied && !(piece = in.read(1 << 20)).isEmpty();) copied = copy.write(piece) == piece.size();
    if (copied && copy.flush() && in.error() == QFileDevice::NoError) return true;
    std::fprintf(stderr, "pictolio-convert: standard input cannot be read into %s: %s\n", qPrintable(shown(QDir::tempPath())),
                 qPrintable(!fromInput->isValid() ? fromInput->errorString() : copy.errorString()));
    return false;
}

// The run's pictures in order: files as given, folders searched for pictures, or the trees' jobs'.
struct Rows {
    QStringList pictures;
    QStringList lostInEncoding;  // names whose bytes are not valid in the file-name encoding
    QStringList noFiles;         // a folder's entries with a picture's name that are no file
    std::vector<ArchiveJob> jobs;
};

// A name that cannot be opened is reported, not taken for another file. A Failure is a wrong
// command line.
Outcome<Rows> gatherRows(const CommandLine& line, const QStringList& lostArguments, const QString& inputPicture) {
    TerminalDialogs dialogs;
    SortedFileSystem files(line.natural);
    FolderScan scan(files, dialogs, [] {}, [] { return interrupted.load(); });
    Rows rows;
    if (line.tree) {
        QStringList roots;
        for (const QString& argument : line.arguments) {
            if (!QFileInfo(argument).isDir()) return Failure{QStringLiteral("--tree: \"%1\" is not a folder").arg(shown(argument))};
            roots << QDir::cleanPath(QFileInfo(argument).absoluteFilePath());
        }
        rows.jobs = archiveJobs(roots, line.folder, line.joined);
        if (const QString shared = sharedOutput(rows.jobs); !shared.isEmpty())
            return Failure{QStringLiteral("--tree: %1").arg(shown(shared))};
        for (const ArchiveJob& job : rows.jobs) rows.pictures << job.pictures;
        return rows;
    }
    for (const QString& argument : line.arguments) {
        const QString path = argument == QLatin1String("-") ? inputPicture : QFileInfo(argument).absoluteFilePath();
        if (lostArguments.contains(argument) && !QFileInfo::exists(path)) {
            rows.lostInEncoding << path;
        } else if (QFileInfo(path).isDir()) {
            QStringList folders{path + QLatin1Char('/')};
            scan.getSubDirectories2016(folders);
            rows.lostInEncoding << scan.foldersLostInEncoding();
            rows.noFiles << noFilesAmong(folders);
            for (const QString& row : scan.filesOf(folders, QStringLiteral("*.*"))) {
                if (!PictureDecoder::hasPictureExtension(row)) continue;  // others are passed over quietly
                (nameLostInEncoding(row) ? rows.lostInEncoding : rows.pictures) << row;
            }
        } else {
            rows.pictures << path;
        }
    }
    return rows;
}

// A preference stored in the window changes every run: the ones that do here (set, not the
// default, not given on this command line) are said in one line.
void tellStoredPreferences(const CommandLine& line, const RegistryStore& users, const QString& key, const QString& localPaper) {
    namespace preferences = pdfwriter::preferences;
    const auto plain = preferences::describe(preferences::defaults(localPaper));
    const auto kept = preferences::describe(preferences::read(users, key, localPaper));
    QStringList applying;
    for (qsizetype i = 0; i < kept.size() && i < plain.size(); ++i) {
        const QString valueName = preferences::valueName(kept[i].first);
        const bool given = std::any_of(line.preferences.begin(), line.preferences.end(),
                                       [&](const auto& p) { return p.first == valueName; });
        if (kept[i].second != plain[i].second && !given && users.getString(key, valueName))
            applying << kept[i].first + QLatin1Char('=') + kept[i].second;
    }
    if (!applying.isEmpty())
        std::fprintf(stderr, "pictolio-convert: stored preferences apply: %s (--defaults leaves them out)\n",
                     qPrintable(applying.join(QStringLiteral(", "))));
}

// The joined PDF, made in the staging folder, to its name or to standard output; one not made is
// named as the user asked for it.
void deliverJoined(const CommandLine& line, const QString& staging, ConversionReport& report) {
    const bool toOutput = line.joinedFile == QLatin1String("-");
    const QString target = toOutput ? QStringLiteral("(standard output)") : line.joinedFile;
    if (!report.created.isEmpty()) {
        const QString failure =
            (toOutput ? copyToStandardOutput(report.created.first()) : moveTo(report.created.first(), target)).reason();
        if (!failure.isEmpty()) {
            report.notCreated << target;
            report.whyNotCreated.insert(target, failure);
            report.created.clear();
        } else if (!toOutput) {
            report.created = QStringList{target};
        }
    }
    // Notes on the PDF ("PATH: no text on page 1: ...") name it as the user asked for it too.
    const QString staged = staging + QLatin1Char('/');
    for (QStringList* notes : {&report.textNotes, &report.pageNotes})
        for (QString& note : *notes)
            if (const qsizetype colon = note.indexOf(QLatin1String(": "), staged.size()); note.startsWith(staged) && colon > 0)
                note = target + note.mid(colon);
    for (QString& path : report.notCreated) {
        if (!path.startsWith(staging + QLatin1Char('/'))) continue;
        const QString why = report.whyNotCreated.take(path);
        path = target;
        if (!why.isEmpty()) report.whyNotCreated.insert(path, why);
    }
}

// What went wrong, each file with its reason (and the text file's, when it was not all written),
// then the PDFs made.
void tellReport(const CommandLine& line, const ConversionReport& report, const QString& textFailure) {
    // "not a picture: PATH: why", the reason as the decoder gave it.
    for (const QString& path : report.invalidPictures) {
        const QString why = report.refusals.value(path);
        if (!QFileInfo::exists(path) && !QFileInfo(path).isSymLink())  // (a link that leads nowhere has a reason)
            std::fprintf(stderr, "pictolio-convert: no such file: %s\n", qPrintable(shown(path)));
        else
            std::fprintf(stderr, "pictolio-convert: not a picture: %s%s%s\n", qPrintable(shown(path)),
                         why.isEmpty() ? "" : ": ", qPrintable(why));
    }
    for (const QString& path : report.notCreated) {
        const QString why = report.whyNotCreated.value(path);
        std::fprintf(stderr, "pictolio-convert: PDF not created: %s%s%s\n", qPrintable(shown(path)), why.isEmpty() ? "" : ": ",
                     qPrintable(why));
    }
    for (const QStringList* notes : {&report.textNotes, &report.pageNotes})
        for (const QString& note : *notes) std::fprintf(stderr, "pictolio-convert: %s\n", qPrintable(note));
    for (const QString& path : report.incomplete)
        std::fprintf(stderr, "pictolio-convert: PDF lacks pictures that changed while it was made: %s\n",
                     qPrintable(shown(path)));
    if (!textFailure.isEmpty()) std::fprintf(stderr, "pictolio-convert: %s\n", qPrintable(textFailure));
    if (interrupted) std::fprintf(stderr, "pictolio-convert: interrupted\n");
    if (line.quiet) return;
    if (line.joinedFile != QLatin1String("-") && line.sidecar != QLatin1String("-"))
        for (const QString& path : report.created) std::printf("%s\n", qPrintable(path));
    // Pages, not pictures: a TIFF file gives one page for each of its own.
    if (!report.created.isEmpty()) {
        const auto count = [](qsizetype n, const char* one, const char* many) {
            return QStringLiteral("%1 %2").arg(n).arg(QLatin1String(n == 1 ? one : many));
        };
        std::fprintf(stderr, "pictolio-convert: made %s, %s in all\n",
                     qPrintable(count(report.created.size(), "PDF file", "PDF files")),
                     qPrintable(count(report.pages, "page", "pages")));
    }
}

}  // namespace

int main(int argc, char* argv[]) {
    // A reader of standard output that goes away (| head) is a failed write, reported, with the
    // temporary folders removed, rather than a death that leaves them behind.
    std::signal(SIGPIPE, SIG_IGN);
    raiseOpenFileLimit();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("pictolio-convert"));
    QCoreApplication::setApplicationVersion(QString::fromLatin1(config::version));

    // The command line, checked before anything is done.
    const QString key = pdfwriter::PdfWriterDriver::registryKey();
    const QString localPaper = pdfwriter::PdfWriterDriver::localPaperName();
    const RegistryStore users = PrintService::registryOf(PrintService::defaultRoot());
    const Outcome<CommandLine> read = readCommandLine(app.arguments(), users);
    if (!read) {
        usageError(read.reason());
        return 2;
    }
    const CommandLine& line = *read;
    if (!line.answer.isEmpty()) {
        std::fputs(qPrintable(line.answer), stdout);
        return 0;
    }
    std::optional<QTemporaryDir> fromInput;
    QString inputPicture;
    if (line.arguments.contains(QStringLiteral("-")) && !readStandardInput(fromInput, inputPicture)) return 1;
    QFile textFile(line.sidecar == QLatin1String("-") ? QString() : line.sidecar);
    if (!line.sidecar.isEmpty() && !(line.sidecar == QLatin1String("-") ? textFile.open(stdout, QIODevice::WriteOnly)
                                                                        : textFile.open(QIODevice::WriteOnly | QIODevice::Truncate))) {
        std::fprintf(stderr, "pictolio-convert: cannot write the text to %s: %s\n", qPrintable(shown(textFile.fileName())),
                     qPrintable(textFile.errorString()));
        return 1;
    }
    bool textWritten = true;

    // The pictures.
    Outcome<Rows> gathered = gatherRows(line, argumentsLostInEncoding(argc, argv), inputPicture);
    if (!gathered) {
        usageError(gathered.reason());
        return 2;
    }
    Rows& rows = *gathered;
    for (const QString& path : rows.lostInEncoding)
        std::fprintf(stderr, "pictolio-convert: %s: cannot be opened: the name is not valid in the file-name encoding\n",
                     qPrintable(shown(path)));
    for (const QString& path : rows.noFiles)
        std::fprintf(stderr, "pictolio-convert: not a picture: %s: %s\n", qPrintable(shown(path)),
                     qPrintable(PictureDecoder().read(path).reason()));
    if (rows.pictures.isEmpty()) {
        if (rows.lostInEncoding.isEmpty() && rows.noFiles.isEmpty()) std::fprintf(stderr, "pictolio-convert: no pictures found\n");
        return 1;
    }

    // A printing set-up of the run's own: the PDF printer with the user's preferences, and the
    // ones given here on top. Scripts and a window running at once never share its settings.
    // The joined PDF is made beside its name, as one PDF per picture is in its folder: a small
    // temporary folder never holds it whole, and it gets its name by a rename. Standard output
    // takes it from the temporary folder, and so does a folder that takes no new folder (the
    // move then says why the PDF is not made).
    const QString besideTarget = line.tree                                                              ? line.folder
                                 : line.joinedFile.isEmpty() || line.joinedFile == QLatin1String("-") ? QString()
                                                                                                      : line.folder;
    removeFoldersOfKilledRuns(QDir::tempPath());
    if (!besideTarget.isEmpty()) removeFoldersOfKilledRuns(besideTarget);
    QTemporaryDir root(runFolderTemplate(QDir::tempPath()));
    std::optional<QTemporaryDir> staging;  // the joined PDF before its name or standard output
    if (!besideTarget.isEmpty()) staging.emplace(runFolderTemplate(besideTarget));
    if (!staging || !staging->isValid()) staging.emplace(runFolderTemplate(QDir::tempPath()));
    for (const QTemporaryDir* made : {&root, &*staging}) {
        if (made->isValid()) continue;
        std::fprintf(stderr, "pictolio-convert: cannot make a folder in %s: %s\n", qPrintable(shown(QDir::tempPath())),
                     qPrintable(made->errorString()));
        return 1;
    }
    const QString printer = pdfprinter::printerName();
    PrintService::addPrinter(root.path(), {printer, QString::fromLatin1(pdfwriter::PdfWriterDriver::port), printer});
    const RegistryStore mine = PrintService::registryOf(root.path());
    // The user's stored preferences, then the ones given here over them: one read, one write.
    QMap<QString, QString> preferences;
    if (line.storedApply) {
        const QMap<QString, QString> stored = users.values(key);
        for (const QString& name : pdfwriter::preferences::names()) {
            const QString valueName = pdfwriter::preferences::valueName(name);
            if (stored.contains(valueName)) preferences.insert(valueName, stored.value(valueName));
        }
        if (!line.quiet) tellStoredPreferences(line, users, key, localPaper);
    }
    for (const auto& [valueName, value] : line.preferences) preferences.insert(valueName, value);
    mine.setStrings(key, preferences);

    // The run.
    PrintService printing(root.path());
    Registry registry(mine);
    PictureDecoder decoder;
    Progress progress(int(rows.pictures.size()));
    std::signal(SIGINT, onInterrupt);
    std::signal(SIGTERM, onInterrupt);
    ConversionJob::Caller caller;
    caller.rowCount = [&] { return int(rows.pictures.size()); };
    caller.rowText = [&](int row) { return rows.pictures.value(row - 1); };
    const QString outputFolder = !line.joinedFile.isEmpty() || line.tree ? staging->path() : line.folder;
    caller.options = [&] {
        RowOptions o;
        o.inFolder = !line.beside || !line.joinedFile.isEmpty() || line.tree;
        o.besideSource = !o.inFolder;
        o.folder = outputFolder;
        o.keepSize = !line.stretch;
        o.stretch = line.stretch;
        return o;
    };
    caller.beginPass = [&](int row, QString* source) {
        if (interrupted || row > rows.pictures.size()) return false;
        *source = rows.pictures[row - 1];
        if (!line.quiet && !line.tree) progress.file(row, *source);
        return true;
    };
    caller.cancelled = [] { return interrupted.load(); };
    caller.rowTurn = [&](int) { return line.quarterTurns; };
    caller.recognitionProgress = [&](int pages, int started) {
        if (!line.quiet) progress.recognised(pages, started);
    };
    caller.recognisedText = [&](const QString&, const std::string& text) {
        if (textFile.isOpen())
            textWritten = textWritten && textFile.write(text.data(), qint64(text.size())) == qint64(text.size()) && textFile.flush();
    };
    if (line.tree) {
        // Each PDF made on its own, its pictures joined, staged beside the tree and moved in whole.
        ArchiveRun run;
        run.jobs = std::move(rows.jobs);
        run.shard = line.shard;
        run.update = line.update;
        run.quiet = line.quiet;
        run.reportPath = line.reportPath;
        run.stagedIn = staging->path();
        // The settings a PDF is made with: the printer's preferences as this run has them (not what
        // else the registry holds, which the window's runs change), and the run's own options.
        QStringList settings;
        for (const auto& [name, value] : pdfwriter::preferences::describe(pdfwriter::preferences::read(mine, key, localPaper)))
            settings << name + QLatin1Char('=') + value;
        settings << QStringLiteral("join=%1 stretch=%2 rotate=%3").arg(line.joined).arg(line.stretch).arg(line.quarterTurns);
        run.settings = settings.join(QLatin1Char('\n'));
        run.convert = [&](const ArchiveJob& archiveJob, const QString& made) {
            rows.pictures = archiveJob.pictures;
            mine.setString(key, QString::fromLatin1(pdfwriter::PdfWriterDriver::madeFromValue), made);
            if (!line.titled) mine.setString(key, QStringLiteral("Title"), QFileInfo(archiveJob.output).completeBaseName());
            ConversionJob conversion(printing, registry, decoder, config::outputWaitSeconds * 1000, caller);
            ConversionReport converted = conversion.runJoined();
            if (interrupted) printing.pdfDriver().abandonAll();
            printing.pdfDriver().waitUntilIdle();
            return converted;
        };
        run.progress = [&](int index, int total, const QString& pdf) {
            if (!line.quiet) std::fprintf(stderr, "[%d/%d] %s\n", index, total, qPrintable(shown(pdf)));
        };
        run.interrupted = [] { return interrupted.load(); };
        run.tellProblems = [&](const ConversionReport& converted) {
            for (const QString& path : converted.invalidPictures)
                std::fprintf(stderr, "pictolio-convert: not a picture: %s: %s\n", qPrintable(shown(path)),
                             qPrintable(converted.refusals.value(path, QStringLiteral("cannot be read"))));
            for (const QStringList* notes : {&converted.textNotes, &converted.pageNotes})
                for (const QString& note : *notes) std::fprintf(stderr, "pictolio-convert: %s\n", qPrintable(note));
        };
        return runArchive(run);
    }
    ConversionJob job(printing, registry, decoder, config::outputWaitSeconds * 1000, caller);
    ConversionReport report = line.joined ? job.runJoined() : job.runPerPicture();
    // Interrupted, the PDF under way is abandoned, and nothing of it is left; otherwise every PDF
    // is finished whole.
    if (interrupted) printing.pdfDriver().abandonAll();
    printing.pdfDriver().waitUntilIdle();
    if (!line.quiet) progress.done();

    // What came of it.
    if (!line.joinedFile.isEmpty()) deliverJoined(line, staging->path(), report);
    tellReport(line, report,
               textWritten ? QString()
                           : QStringLiteral("the text was not all written to %1: %2").arg(shown(textFile.fileName()), textFile.errorString()));
    const bool allMade = rows.lostInEncoding.isEmpty() && rows.noFiles.isEmpty() && report.invalidPictures.isEmpty() &&
                         report.notCreated.isEmpty() && report.incomplete.isEmpty() && !interrupted &&
                         !report.created.isEmpty() && textWritten;
    return allMade ? 0 : 1;
}
