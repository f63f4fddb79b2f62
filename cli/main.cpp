// SPDX-License-Identifier: GPL-3.0-or-later
// pictolio-convert: Pictolio's conversion for scripts, terminals and file managers. The same
// engine, printing service, PDF printer and page preferences as the window, without a window.

#include <QCollator>
#include <QCommandLineParser>
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
#include "cli/outputfiles.h"
#include "common/dialogs.h"
#include "common/paths.h"
#include "convert/conversion.h"
#include "convert/pdfprinter.h"
#include "filelist/folderscan.h"
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

void usageError(const QString& text) {
    std::fprintf(stderr, "pictolio-convert: %s\nTry 'pictolio-convert --help'.\n", qPrintable(text));
}

// The file system with each folder's files and subfolders in natural order (p1, p2, p10; letter
// case aside), as a file manager shows them; plain: in the order of their upper-cased characters
// (p1, p10, p2), as the window lists them.
class SortedFileSystem : public PosixFileSystem {
public:
    explicit SortedFileSystem(bool natural) : m_natural(natural) {
        // The C locale compares characters alone: numbers are compared as English does.
        if (QLocale().language() == QLocale::C) m_collator = QCollator(QLocale(QLocale::English));
        m_collator.setNumericMode(true);
        m_collator.setCaseSensitivity(Qt::CaseInsensitive);
    }
    QStringList listFiles(const QString& folder, const QString& pattern) const override {
        return sorted(PosixFileSystem::listFiles(folder, pattern));
    }
    QStringList subFolders(const QString& folder) const override { return sorted(PosixFileSystem::subFolders(folder)); }

private:
    QStringList sorted(QStringList names) const {
        if (m_natural)
            std::stable_sort(names.begin(), names.end(),
                             [this](const QString& a, const QString& b) { return m_collator.compare(a, b) < 0; });
        return names;
    }
    bool m_natural;
    QCollator m_collator;
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

}  // namespace

int main(int argc, char* argv[]) {
    // A reader of standard output that goes away (| head) is a failed write, reported, with the
    // temporary folders removed, rather than a death that leaves them behind.
    std::signal(SIGPIPE, SIG_IGN);
    raiseOpenFileLimit();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("pictolio-convert"));
    QCoreApplication::setApplicationVersion(QString::fromLatin1(config::version));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Converts pictures into PDF files: one PDF per picture, or all of them as the pages of one PDF.\n"
        "Folders are searched, with their subfolders, for pictures.\n\n"
        "Exit status: 0 when every PDF was made, 1 when a file was not a picture or a PDF was not made\n"
        "(or the run was interrupted), 2 when the command line is wrong."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption join({QStringLiteral("j"), QStringLiteral("join")},
                                  QStringLiteral("All pictures as the pages of one PDF, named after the first."));
    const QCommandLineOption stretch({QStringLiteral("s"), QStringLiteral("stretch")},
                                     QStringLiteral("Stretch each picture over the printable area of its page."));
    const QCommandLineOption output({QStringLiteral("o"), QStringLiteral("output")},
                                    QStringLiteral("The folder for the PDF files (default: the current folder). "
                                                   "With --join, or for one picture, also a file name ending "
                                                   "in .pdf, or - for standard output."),
                                    QStringLiteral("DIR"));
    const QCommandLineOption beside({QStringLiteral("b"), QStringLiteral("beside")},
                                    QStringLiteral("Each PDF in the folder of its picture."));
    const QCommandLineOption paper(QStringLiteral("paper"),
                                   QStringLiteral("A4, Letter, Legal, A3, A5, Tabloid, WIDTHxHEIGHT in mm or in, "
                                                  "or fit (each page its picture's size)."),
                                   QStringLiteral("NAME"));
    const QCommandLineOption orientation(QStringLiteral("orientation"),
                                         QStringLiteral("portrait, landscape or auto."), QStringLiteral("WHICH"));
    const QCommandLineOption margin(QStringLiteral("margin"), QStringLiteral("The margin: 10mm, 0.5in, 12pt."),
                                    QStringLiteral("LEN"));
    const QCommandLineOption fit(QStringLiteral("fit"),
                                 QStringLiteral("Pictures larger than the page: shrink (default) or clip."),
                                 QStringLiteral("RULE"));
    const QCommandLineOption ocr(QStringLiteral("ocr"),
                                 QStringLiteral("Make the text on the pictures searchable, recognised in these "
                                                "languages (eng, eng+deu), or off."),
                                 QStringLiteral("LANGS"));
    const QCommandLineOption maxDpi(QStringLiteral("max-dpi"),
                                    QStringLiteral("Smaller files: pictures finer than N dots per inch on their page "
                                                   "are scaled down to it and stored as JPEG (others keep their bytes)."),
                                    QStringLiteral("N"));
    const QCommandLineOption jpegQuality(QStringLiteral("jpeg-quality"),
                                         QStringLiteral("The JPEG quality (10 to 100, default 75) of the pictures made "
                                                        "smaller; alone, it makes them smaller at 150 dpi."),
                                         QStringLiteral("Q"));
    const QCommandLineOption mono(QStringLiteral("mono"),
                                  QStringLiteral("Black and white (documents): pictures turned to one bit, at most "
                                                 "300 dpi, stored as fax data (CCITT Group 4); those with "
                                                 "transparency keep their colours."));
    const QCommandLineOption document(QStringLiteral("document"),
                                      QStringLiteral("Photos of documents made clean pages: the sheet found and squared to "
                                                     "its paper size, a scan straightened, the light evened out, each "
                                                     "page in colour, grey or black and white by what it shows (JPEG "
                                                     "quality as --jpeg-quality says); a photo with no sheet in it stays "
                                                     "as it is."));
    const QCommandLineOption compact(QStringLiteral("compact"),
                                     QStringLiteral("Pages of print made compact: the print kept sharp at full "
                                                    "resolution, in its colours, over a background of about 100 dpi "
                                                    "(a scanned letter in tens of kilobytes); photos on a page stay in "
                                                    "the background, and a page with no print stays as the other "
                                                    "options say. Goes with --document, not with --mono."));
    const QCommandLineOption original(QStringLiteral("original"),
                                      QStringLiteral("Every picture as it is, whatever the printer's preferences say."));
    const QCommandLineOption title(QStringLiteral("title"),
                                   QStringLiteral("The title of every PDF (default: its file name)."),
                                   QStringLiteral("TEXT"));
    const QCommandLineOption author(QStringLiteral("author"), QStringLiteral("The author of every PDF."),
                                    QStringLiteral("TEXT"));
    const QCommandLineOption subject(QStringLiteral("subject"), QStringLiteral("The subject of every PDF."),
                                     QStringLiteral("TEXT"));
    const QCommandLineOption keywords(QStringLiteral("keywords"), QStringLiteral("The keywords of every PDF."),
                                      QStringLiteral("TEXT"));
    const QCommandLineOption date(QStringLiteral("date"),
                                  QStringLiteral("The PDFs' dates: now, seconds since 1970, or 2026-12-07T10:30:00Z "
                                                 "(default: SOURCE_DATE_EPOCH if set, else now). A fixed date "
                                                 "makes the same pictures give the same file."),
                                  QStringLiteral("WHEN"));
    const QCommandLineOption rotate(QStringLiteral("rotate"),
                                    QStringLiteral("Turn every picture 90, 180 or 270 degrees clockwise, on top of "
                                                   "its EXIF orientation (its data kept as it is)."),
                                    QStringLiteral("DEGREES"));
    const QCommandLineOption frames(QStringLiteral("frames"),
                                    QStringLiteral("Animated GIF and WebP pictures: first frame, or all (each frame a "
                                                   "page). Default: the printer's preference, first unless set."),
                                    QStringLiteral("WHICH"));
    const QCommandLineOption pdfa(QStringLiteral("pdfa"),
                                  QStringLiteral("PDF/A-2b files, for archives: each carries the sRGB colour profile "
                                                 "(about 3 KB) and its details as XMP metadata."));
    const QCommandLineOption set(QStringLiteral("set"),
                                 QStringLiteral("Any of the printer's preferences for this run, as pictolio-printer "
                                                "preferences --set takes it (center=on, resolution=300); may be "
                                                "given again. The options above win over it."),
                                 QStringLiteral("NAME=VALUE"));
    const QCommandLineOption sort(QStringLiteral("sort"),
                                  QStringLiteral("The order of the pictures a folder gives: natural (default: p1, p2, "
                                                 "p10) or plain (by character: p1, p10, p2)."),
                                  QStringLiteral("ORDER"), QStringLiteral("natural"));
    const QCommandLineOption sidecar(QStringLiteral("sidecar"),
                                     QStringLiteral("Also write the recognised text to FILE (- for standard output), "
                                                    "each page's followed by a form feed."),
                                     QStringLiteral("FILE"));
    const QCommandLineOption useDefaults(
        QStringLiteral("defaults"),
        QStringLiteral("Leave out the printer's stored preferences: only the options given here change the defaults."));
    const QCommandLineOption tree(QStringLiteral("tree"),
                                  QStringLiteral("Archives: the folders' trees mirrored under --output, a PDF per picture "
                                                 "at its relative path (with --join, one per folder of pictures, named "
                                                 "after it, beside its sub-folders' PDFs)."));
    const QCommandLineOption update(QStringLiteral("update"),
                                    QStringLiteral("With --tree: a PDF newer than its pictures and made from them with the "
                                                   "same settings is left as it is."));
    const QCommandLineOption shard(QStringLiteral("shard"),
                                   QStringLiteral("With --tree: only share K of N of the PDFs (by a hash of their path), "
                                                  "for N runs side by side; auto: a Slurm job array's task, auto/N: "
                                                  "share SLURM_ARRAY_TASK_ID, or JOB_COMPLETION_INDEX + 1, of N."),
                                   QStringLiteral("K/N"));
    const QCommandLineOption reportTo(QStringLiteral("report"),
                                    QStringLiteral("With --tree: a JSON line for each PDF (made, kept or failed, and why) "
                                                   "and one for the whole run, to FILE or - (standard output)."),
                                    QStringLiteral("FILE"));
    const QCommandLineOption quiet({QStringLiteral("q"), QStringLiteral("quiet")},
                                   QStringLiteral("No progress, only the problems."));
    parser.addOptions({join, stretch, output, beside, paper, orientation, margin, fit, ocr, title, author, subject,
                       keywords, date, maxDpi, jpegQuality, mono, document, compact, original, rotate, frames, pdfa, set, sort,
                       sidecar, tree, update, shard, reportTo, useDefaults, quiet});
    parser.addPositionalArgument(QStringLiteral("FILE|FOLDER"), QStringLiteral("Pictures, and folders of pictures."),
                                 QStringLiteral("FILE|FOLDER..."));
    if (!parser.parse(app.arguments())) {
        usageError(parser.errorText());
        return 2;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        // The usage line names the program as the user calls it, not the path it was run from.
        QString help = parser.helpText();
        const QString runAs = app.arguments().constFirst();
        if (const qsizetype at = help.indexOf(runAs); at >= 0 && at < help.indexOf(QLatin1Char('\n')))
            help.replace(at, runAs.size(), QStringLiteral("pictolio-convert"));
        std::fputs(qPrintable(help), stdout);
        return 0;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        std::printf("pictolio-convert %s\n", config::version);
        return 0;
    }
    const QString order = parser.value(sort);
    if (order != QLatin1String("natural") && order != QLatin1String("plain")) {
        usageError(QStringLiteral("--sort: \"%1\" is neither natural nor plain").arg(order));
        return 2;
    }
    const QStringList turns{QStringLiteral("0"), QStringLiteral("90"), QStringLiteral("180"), QStringLiteral("270")};
    const int quarterTurns = parser.isSet(rotate) ? int(turns.indexOf(parser.value(rotate).trimmed())) : 0;
    if (quarterTurns < 0) {
        usageError(QStringLiteral("--rotate: \"%1\" is not 90, 180 or 270").arg(parser.value(rotate)));
        return 2;
    }
    if (parser.isSet(output) && parser.isSet(beside)) {
        usageError(QStringLiteral("--output and --beside cannot go together"));
        return 2;
    }
    const bool inTree = parser.isSet(tree);
    if (!inTree && (parser.isSet(update) || parser.isSet(shard) || parser.isSet(reportTo))) {
        usageError(QStringLiteral("--update, --shard and --report go with --tree"));
        return 2;
    }
    if (inTree && (!parser.isSet(output) || parser.value(output) == QLatin1String("-") ||
                   parser.value(output).endsWith(QLatin1String(".pdf"), Qt::CaseInsensitive))) {
        usageError(QStringLiteral("--tree: --output names the folder the PDFs' tree goes in"));
        return 2;
    }
    Shard share;
    if (parser.isSet(shard)) {
        QString why;
        const std::optional<Shard> given = parseShard(parser.value(shard), &why);
        if (!given) {
            usageError(QStringLiteral("--shard: %1").arg(why));
            return 2;
        }
        share = *given;
    }
    // The page preferences given: checked before anything is done; --set first, so that the
    // options named after a preference win.
    QList<std::pair<QString, QString>> preferences;
    for (const QString& assignment : parser.values(set)) {
        const qsizetype eq = assignment.indexOf(QLatin1Char('='));
        const QString name = assignment.left(eq);
        const auto checked = pdfwriter::preferences::check(name, assignment.mid(eq + 1));
        if (eq < 0 || !checked.error.isEmpty()) {
            usageError(QStringLiteral("--set: %1").arg(eq < 0 ? QStringLiteral("\"%1\" is not NAME=VALUE").arg(assignment)
                                                              : checked.error));
            return 2;
        }
        preferences.append({pdfwriter::preferences::valueName(name), checked.stored});
    }
    if (parser.isSet(pdfa)) preferences.append({QStringLiteral("Pdfa"), QStringLiteral("1")});
    for (const auto& [option, name] : {std::pair{&paper, "paper"}, std::pair{&orientation, "orientation"},
                                       std::pair{&margin, "margin"}, std::pair{&fit, "oversize"},
                                       std::pair{&ocr, "ocr"}, std::pair{&title, "title"},
                                       std::pair{&author, "author"}, std::pair{&subject, "subject"},
                                       std::pair{&keywords, "keywords"}, std::pair{&date, "date"},
                                       std::pair{&frames, "frames"}}) {
        if (!parser.isSet(*option)) continue;
        const auto checked = pdfwriter::preferences::check(QString::fromLatin1(name), parser.value(*option));
        if (!checked.error.isEmpty()) {
            usageError(QStringLiteral("--%1: %2").arg(option->names().last(), checked.error));
            return 2;
        }
        preferences.append({pdfwriter::preferences::valueName(QString::fromLatin1(name)), checked.stored});
    }
    // How the pictures go in: --max-dpi or --jpeg-quality make them smaller, --mono black and white,
    // --document photos of documents clean pages (at the JPEG quality given).
    const bool reduce = parser.isSet(maxDpi) || (parser.isSet(jpegQuality) && !parser.isSet(document));
    if (int(parser.isSet(mono)) + int(parser.isSet(original)) + int(parser.isSet(document)) + int(reduce) > 1) {
        usageError(QStringLiteral("--mono, --document, --original and --max-dpi or --jpeg-quality cannot go together"));
        return 2;
    }
    if (parser.isSet(compact) && parser.isSet(mono)) {
        usageError(QStringLiteral("--compact and --mono cannot go together"));
        return 2;
    }
    for (const auto& [option, name] : {std::pair{&maxDpi, "max-dpi"}, std::pair{&jpegQuality, "jpeg-quality"}}) {
        if (!parser.isSet(*option)) continue;
        const auto checked = pdfwriter::preferences::check(QString::fromLatin1(name), parser.value(*option));
        if (!checked.error.isEmpty()) {
            usageError(QStringLiteral("--%1: %2").arg(option->names().last(), checked.error));
            return 2;
        }
        preferences.append({pdfwriter::preferences::valueName(QString::fromLatin1(name)), checked.stored});
    }
    if (reduce) preferences.append({QStringLiteral("Pictures"), QStringLiteral("Reduce")});
    if (parser.isSet(document)) preferences.append({QStringLiteral("Pictures"), QStringLiteral("Document")});
    if (parser.isSet(mono)) preferences.append({QStringLiteral("Pictures"), QStringLiteral("Mono")});
    if (parser.isSet(compact)) preferences.append({QStringLiteral("Compact"), QStringLiteral("1")});
    if (parser.isSet(original)) preferences.append({QStringLiteral("Pictures"), QStringLiteral("Original")});
    if (parser.isSet(original) && !parser.isSet(compact)) preferences.append({QStringLiteral("Compact"), QStringLiteral("0")});
    // Values that depend on each other (the margin on the paper), the user's preferences standing
    // for those not given, refused as the driver would refuse them.
    const QString key = pdfwriter::PdfWriterDriver::registryKey();
    const RegistryStore users = PrintService::registryOf(PrintService::defaultRoot());
    const bool storedApply = !parser.isSet(useDefaults);
    const QMap<QString, QString> stored = storedApply ? users.values(key) : QMap<QString, QString>{};
    QMap<QString, QString> merged = stored;
    for (const auto& [valueName, value] : preferences) merged.insert(valueName, value);
    const QString localPaper = pdfwriter::PdfWriterDriver::localPaperName();
    const QString conflict = pdfwriter::preferences::checkTogether(merged, localPaper);
    if (!conflict.isEmpty() && conflict != pdfwriter::preferences::checkTogether(stored, localPaper)) {
        usageError(conflict);
        return 2;
    }
    // Reproducible builds date their files by SOURCE_DATE_EPOCH; one that is no date is said, not
    // passed over.
    if (const QByteArray epoch = qgetenv("SOURCE_DATE_EPOCH"); !epoch.isEmpty()) {
        bool ok = false;
        const qlonglong seconds = epoch.toLongLong(&ok);
        if (!ok || seconds < 0 || seconds >= 253402300800)
            std::fprintf(stderr, "pictolio-convert: SOURCE_DATE_EPOCH \"%s\" is not seconds since 1970 (before the year "
                                 "10000): the PDFs are dated by --date or now\n", epoch.constData());
    }
    const QStringList arguments = parser.positionalArguments();
    const QString named = parser.isSet(output) ? parser.value(output) : QString();
    // One picture needs no --join to go to a PDF of the name given, or to standard output.
    const bool onePicture = arguments.size() == 1 && !QFileInfo(arguments.first()).isDir();
    const bool joined = parser.isSet(join) || (onePicture && (named == QLatin1String("-") ||
                                                              named.endsWith(QLatin1String(".pdf"), Qt::CaseInsensitive)));
    // A joined PDF given its own name is titled after it, as every PDF is after its file.
    const bool titled = std::any_of(preferences.begin(), preferences.end(),
                                    [](const auto& p) { return p.first == QLatin1String("Title"); });
    if (joined && !titled && named.endsWith(QLatin1String(".pdf"), Qt::CaseInsensitive))
        preferences.append({QStringLiteral("Title"), QFileInfo(named).completeBaseName()});
    if (arguments.isEmpty()) {
        usageError(QStringLiteral("no pictures given"));
        return 2;
    }
    if (arguments.count(QStringLiteral("-")) > 1) {
        usageError(QStringLiteral("standard input (-) can be read only once"));
        return 2;
    }
    // "-": one picture read from standard input, kept in a file of the run's own ("stdin", so
    // its PDF is stdin.pdf) while it is converted.
    std::optional<QTemporaryDir> fromInput;
    QString inputPicture;
    if (arguments.contains(QStringLiteral("-"))) {
        fromInput.emplace(runFolderTemplate(QDir::tempPath()));
        inputPicture = standardInputFile = fromInput->filePath(QStringLiteral("stdin"));
        QFile in, copy(inputPicture);
        const bool read = fromInput->isValid() && in.open(stdin, QIODevice::ReadOnly) && copy.open(QIODevice::WriteOnly);
        bool copied = read;
        for (QByteArray piece; copied && !(piece = in.read(1 << 20)).isEmpty();)
            copied = copy.write(piece) == piece.size();
        if (!copied || !copy.flush() || in.error() != QFileDevice::NoError) {
            std::fprintf(stderr, "pictolio-convert: standard input cannot be read into %s: %s\n",
                         qPrintable(shown(QDir::tempPath())),
                         qPrintable(!fromInput->isValid() ? fromInput->errorString() : copy.errorString()));
            return 1;
        }
    }
    // Made absolute here: the run works on paths that do not depend on its current folder.
    QString folder = parser.isSet(output) ? parser.value(output) : QDir::currentPath();
    if (folder != QLatin1String("-")) folder = QDir::cleanPath(QDir::current().absoluteFilePath(folder));
    QString joinedFile;  // --join --output NAME.pdf, or - for standard output
    if (joined && (folder == QLatin1String("-") || folder.endsWith(QLatin1String(".pdf"), Qt::CaseInsensitive))) {
        joinedFile = folder;
        folder = folder == QLatin1String("-") ? QString() : QFileInfo(folder).absolutePath();
    } else if (folder == QLatin1String("-")) {
        usageError(QStringLiteral("--output -: standard output takes one PDF, with --join or of one picture"));
        return 2;
    } else if (!parser.isSet(beside) && !(inTree && QDir().mkpath(folder)) && !QFileInfo(folder).isDir()) {
        usageError(QStringLiteral("--output: \"%1\" is not a folder").arg(folder));
        return 2;
    }

    // The recognised text, as PDFs are made, to its own file or to standard output.
    const bool textToOutput = parser.value(sidecar) == QLatin1String("-");
    if (textToOutput && joinedFile == QLatin1String("-")) {
        usageError(QStringLiteral("--sidecar -: standard output already takes the PDF"));
        return 2;
    }
    if (textToOutput && parser.value(reportTo) == QLatin1String("-")) {
        usageError(QStringLiteral("--sidecar -: standard output already takes the report"));
        return 2;
    }
    QFile textFile(parser.isSet(sidecar) && !textToOutput ? QDir::current().absoluteFilePath(parser.value(sidecar)) : QString());
    if (parser.isSet(sidecar) && !(textToOutput ? textFile.open(stdout, QIODevice::WriteOnly)
                                                : textFile.open(QIODevice::WriteOnly | QIODevice::Truncate))) {
        std::fprintf(stderr, "pictolio-convert: cannot write the text to %s: %s\n", qPrintable(shown(textFile.fileName())),
                     qPrintable(textFile.errorString()));
        return 1;
    }
    bool textWritten = true;

    // The rows: files as given, folders searched for pictures. A name whose bytes are not valid in
    // the file-name encoding cannot be opened: it is reported, not taken for another file.
    TerminalDialogs dialogs;
    SortedFileSystem files(order == QLatin1String("natural"));
    FolderScan scan(files, dialogs, [] {}, [] { return interrupted.load(); });
    QStringList rows, lostInEncoding, noFiles;
    const QStringList lostArguments = argumentsLostInEncoding(argc, argv);
    std::vector<ArchiveJob> jobs;
    if (inTree) {
        QStringList roots;
        for (const QString& argument : arguments) {
            if (!QFileInfo(argument).isDir()) {
                usageError(QStringLiteral("--tree: \"%1\" is not a folder").arg(shown(argument)));
                return 2;
            }
            roots << QDir::cleanPath(QFileInfo(argument).absoluteFilePath());
        }
        jobs = archiveJobs(roots, folder, joined);
        if (const QString shared = sharedOutput(jobs); !shared.isEmpty()) {
            usageError(QStringLiteral("--tree: %1").arg(shown(shared)));
            return 2;
        }
        for (const ArchiveJob& job : jobs) rows << job.pictures;
    }
    for (const QString& argument : inTree ? QStringList() : arguments) {
        const QString path = argument == QLatin1String("-") ? inputPicture : QFileInfo(argument).absoluteFilePath();
        if (lostArguments.contains(argument) && !QFileInfo::exists(path)) {
            lostInEncoding << path;
        } else if (QFileInfo(path).isDir()) {
            QStringList folders{path + QLatin1Char('/')};
            scan.getSubDirectories2016(folders);
            lostInEncoding << scan.foldersLostInEncoding();
            noFiles << noFilesAmong(folders);
            for (const QString& row : scan.filesOf(folders, QStringLiteral("*.*"))) {
                if (!PictureDecoder::hasPictureExtension(row)) continue;  // others are passed over quietly
                if (nameLostInEncoding(row))
                    lostInEncoding << row;
                else
                    rows << row;
            }
        } else {
            rows << path;
        }
    }
    for (const QString& path : lostInEncoding)
        std::fprintf(stderr, "pictolio-convert: %s: cannot be opened: the name is not valid in the file-name encoding\n",
                     qPrintable(shown(path)));
    for (const QString& path : noFiles)
        std::fprintf(stderr, "pictolio-convert: not a picture: %s: %s\n", qPrintable(shown(path)),
                     qPrintable(PictureDecoder().read(path).reason()));
    if (rows.isEmpty()) {
        if (!lostInEncoding.isEmpty() || !noFiles.isEmpty()) return 1;
        std::fprintf(stderr, "pictolio-convert: no pictures found\n");
        return 1;
    }

    // A printing set-up of the run's own: the PDF printer with the user's preferences, and the
    // ones given here on top. Scripts and a window running at once never share its settings.
    // The joined PDF is made beside its name, as one PDF per picture is in its folder: a small
    // temporary folder never holds it whole, and it gets its name by a rename. Standard output
    // takes it from the temporary folder, and so does a folder that takes no new folder (the
    // move then says why the PDF is not made).
    const QString besideTarget = inTree ? folder
                                 : joinedFile.isEmpty() || joinedFile == QLatin1String("-")
                                     ? QString()
                                     : QFileInfo(joinedFile).absolutePath();
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
    if (storedApply)
        for (const QString& name : pdfwriter::preferences::names()) {
            const QString valueName = pdfwriter::preferences::valueName(name);
            if (const auto value = users.getString(key, valueName)) mine.setString(key, valueName, *value);
        }
    // A preference stored in the window changes every run: the ones that do here (set, not the
    // default, not given on this command line) are said in one line.
    if (storedApply && !parser.isSet(quiet)) {
        const auto plain = pdfwriter::preferences::describe(pdfwriter::preferences::defaults(localPaper));
        const auto kept = pdfwriter::preferences::describe(pdfwriter::preferences::read(users, key, localPaper));
        QStringList applying;
        for (qsizetype i = 0; i < kept.size() && i < plain.size(); ++i) {
            const QString valueName = pdfwriter::preferences::valueName(kept[i].first);
            const bool given = std::any_of(preferences.begin(), preferences.end(),
                                           [&](const auto& p) { return p.first == valueName; });
            if (kept[i].second != plain[i].second && !given && users.getString(key, valueName))
                applying << kept[i].first + QLatin1Char('=') + kept[i].second;
        }
        if (!applying.isEmpty())
            std::fprintf(stderr, "pictolio-convert: stored preferences apply: %s (--defaults leaves them out)\n",
                         qPrintable(applying.join(QStringLiteral(", "))));
    }
    for (const auto& [valueName, value] : preferences) mine.setString(key, valueName, value);

    PrintService printing(root.path());
    Registry registry(mine);
    PictureDecoder decoder;
    Progress progress(int(rows.size()));
    const bool quietly = parser.isSet(quiet);

    std::signal(SIGINT, onInterrupt);
    std::signal(SIGTERM, onInterrupt);
    ConversionJob::Caller caller;
    caller.rowCount = [&] { return int(rows.size()); };
    caller.rowText = [&](int row) { return rows.value(row - 1); };
    const QString outputFolder = !joinedFile.isEmpty() || inTree ? staging->path() : folder;
    caller.options = [&] {
        RowOptions o;
        o.inFolder = !parser.isSet(beside) || !joinedFile.isEmpty() || inTree;
        o.besideSource = !o.inFolder;
        o.folder = outputFolder;
        o.keepSize = !parser.isSet(stretch);
        o.stretch = parser.isSet(stretch);
        return o;
    };
    caller.beginPass = [&](int row, QString* source) {
        if (interrupted || row > rows.size()) return false;
        *source = rows[row - 1];
        if (!quietly && !inTree) progress.file(row, *source);
        return true;
    };
    caller.cancelled = [] { return interrupted.load(); };
    caller.rowTurn = [quarterTurns](int) { return quarterTurns; };
    caller.recognitionProgress = [&](int pages, int started) {
        if (!quietly) progress.recognised(pages, started);
    };
    caller.recognisedText = [&](const QString&, const std::string& text) {
        if (textFile.isOpen())
            textWritten = textWritten && textFile.write(text.data(), qint64(text.size())) == qint64(text.size()) && textFile.flush();
    };
    if (inTree) {
        // Each PDF made on its own, its pictures joined, staged beside the tree and moved in whole.
        ArchiveRun run;
        run.jobs = std::move(jobs);
        run.shard = share;
        run.update = parser.isSet(update);
        run.quiet = quietly;
        run.reportPath = parser.value(reportTo);
        run.stagedIn = staging->path();
        // The settings a PDF is made with: the printer's preferences as this run has them (not what
        // else the registry holds, which the window's runs change), and the run's own options.
        QStringList settings;
        for (const auto& [name, value] : pdfwriter::preferences::describe(pdfwriter::preferences::read(mine, key, localPaper)))
            settings << name + QLatin1Char('=') + value;
        settings << QStringLiteral("join=%1 stretch=%2 rotate=%3").arg(joined).arg(parser.isSet(stretch)).arg(quarterTurns);
        run.settings = settings.join(QLatin1Char('\n'));
        run.convert = [&](const ArchiveJob& archiveJob, const QString& made) {
            rows = archiveJob.pictures;
            mine.setString(key, QString::fromLatin1(pdfwriter::PdfWriterDriver::madeFromValue), made);
            if (!titled) mine.setString(key, QStringLiteral("Title"), QFileInfo(archiveJob.output).completeBaseName());
            ConversionJob conversion(printing, registry, decoder, config::outputWaitSeconds * 1000, caller);
            ConversionReport converted = conversion.runJoined();
            if (interrupted) printing.pdfDriver().abandonAll();
            printing.pdfDriver().waitUntilIdle();
            return converted;
        };
        run.progress = [&](int index, int total, const QString& pdf) {
            if (!quietly) std::fprintf(stderr, "[%d/%d] %s\n", index, total, qPrintable(shown(pdf)));
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
    ConversionReport report = joined ? job.runJoined() : job.runPerPicture();
    // Interrupted, the PDF under way is abandoned, and nothing of it is left; otherwise every PDF
    // is finished whole.
    if (interrupted) printing.pdfDriver().abandonAll();
    printing.pdfDriver().waitUntilIdle();
    if (!quietly) progress.done();

    // The joined PDF to its name, or to standard output.
    if (!joinedFile.isEmpty() && !report.created.isEmpty()) {
        const QString made = report.created.first();
        const bool toOutput = joinedFile == QLatin1String("-");
        const QString target = toOutput ? QStringLiteral("(standard output)") : joinedFile;
        const QString failure = toOutput ? copyToStandardOutput(made) : moveTo(made, target);
        if (!failure.isEmpty()) {
            report.notCreated << target;
            report.whyNotCreated.insert(target, failure);
            report.created.clear();
        } else if (!toOutput) {
            report.created = QStringList{target};
        }
    }
    // A joined PDF made in the staging folder, not moved: named as the user asked for it.
    for (QString& path : report.notCreated) {
        if (joinedFile.isEmpty() || !path.startsWith(staging->path() + QLatin1Char('/'))) continue;
        const QString why = report.whyNotCreated.take(path);
        path = joinedFile == QLatin1String("-") ? QStringLiteral("(standard output)") : joinedFile;
        if (!why.isEmpty()) report.whyNotCreated.insert(path, why);
    }

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
    for (const QString& note : report.textNotes)
        std::fprintf(stderr, "pictolio-convert: %s\n", qPrintable(note));
    for (const QString& note : report.pageNotes)
        std::fprintf(stderr, "pictolio-convert: %s\n", qPrintable(note));
    for (const QString& path : report.incomplete)
        std::fprintf(stderr, "pictolio-convert: PDF lacks pictures that changed while it was made: %s\n",
                     qPrintable(shown(path)));
    if (!textWritten)
        std::fprintf(stderr, "pictolio-convert: the text was not all written to %s: %s\n",
                     qPrintable(shown(textFile.fileName())), qPrintable(textFile.errorString()));
    if (interrupted) std::fprintf(stderr, "pictolio-convert: interrupted\n");
    if (!quietly && joinedFile != QLatin1String("-") && !textToOutput)
        for (const QString& path : report.created) std::printf("%s\n", qPrintable(path));
    // Pages, not pictures: a TIFF file gives one page for each of its own.
    if (!quietly && !report.created.isEmpty()) {
        const auto count = [](qsizetype n, const char* one, const char* many) {
            return QStringLiteral("%1 %2").arg(n).arg(QLatin1String(n == 1 ? one : many));
        };
        std::fprintf(stderr, "pictolio-convert: made %s, %s in all\n",
                     qPrintable(count(report.created.size(), "PDF file", "PDF files")),
                     qPrintable(count(report.pages, "page", "pages")));
    }
    const bool allMade = lostInEncoding.isEmpty() && noFiles.isEmpty() && report.invalidPictures.isEmpty() && report.notCreated.isEmpty() &&
                         report.incomplete.isEmpty() && !interrupted && !report.created.isEmpty() && textWritten;
    return allMade ? 0 : 1;
}
