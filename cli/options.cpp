// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/options.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <cstdio>

#include "appconfig.h"
#include "pdfwriter/driver.h"
#include "pdfwriter/pagesetup.h"
#include "platform/registry.h"

namespace pictolio {

namespace {

// One option: its names (short first), what --help says of it, the name of its value (none for a
// switch), and the printer's preference it sets (checked as the preferences table checks it).
struct OptionSpec {
    const char* names;
    const char* help;
    const char* value = nullptr;
    const char* preference = nullptr;
};

// In the order --help lists them.
const OptionSpec optionTable[] = {
    {"j,join", "All pictures as the pages of one PDF, named after the first."},
    {"s,stretch", "Stretch each picture over the printable area of its page."},
    {"o,output",
     "The folder for the PDF files (default: the current folder). With --join, or for one picture, also a file name "
     "ending in .pdf, or - for standard output.",
     "DIR"},
    {"b,beside", "Each PDF in the folder of its picture."},
    {"paper", "A4, Letter, Legal, A3, A5, Tabloid, WIDTHxHEIGHT in mm or in, or fit (each page its picture's size).",
     "NAME", "paper"},
    {"orientation", "portrait, landscape or auto.", "WHICH", "orientation"},
    {"margin", "The margin: 10mm, 0.5in, 12pt.", "LEN", "margin"},
    {"fit", "Pictures larger than the page: shrink (default) or clip.", "RULE", "oversize"},
    {"ocr", "Make the text on the pictures searchable, recognised in these languages (eng, eng+deu), or off.", "LANGS",
     "ocr"},
    {"title", "The title of every PDF (default: its file name).", "TEXT", "title"},
    {"author", "The author of every PDF.", "TEXT", "author"},
    {"subject", "The subject of every PDF.", "TEXT", "subject"},
    {"keywords", "The keywords of every PDF.", "TEXT", "keywords"},
    {"date",
     "The PDFs' dates: now, seconds since 1970, or 2026-12-07T10:30:00Z (default: SOURCE_DATE_EPOCH if set, else "
     "now). A fixed date makes the same pictures give the same file.",
     "WHEN", "date"},
    {"max-dpi",
     "Smaller files: pictures finer than N dots per inch on their page are scaled down to it and stored as JPEG "
     "(others keep their bytes).",
     "N", "max-dpi"},
    {"jpeg-quality",
     "The JPEG quality (10 to 100, default 75) of the pictures made smaller; alone, it makes them smaller at 150 dpi.",
     "Q", "jpeg-quality"},
    {"mono",
     "Black and white (documents): pictures turned to one bit, at most 300 dpi, stored as fax data (CCITT Group 4); "
     "those with transparency keep their colours."},
    {"document",
     "Photos of documents made clean pages: the sheet found and squared to its paper size, a scan straightened, the "
     "light evened out, each page in colour, grey or black and white by what it shows (JPEG quality as "
     "--jpeg-quality says); a photo with no sheet in it stays as it is."},
    {"compact",
     "Pages of print made compact: the print kept sharp at full resolution, in its colours, over a background of "
     "about 100 dpi (a scanned letter in tens of kilobytes); photos on a page stay in the background, and a page "
     "with no print stays as the other options say. Goes with --document, not with --mono."},
    {"original", "Every picture as it is, whatever the printer's preferences say."},
    {"rotate",
     "Turn every picture 90, 180 or 270 degrees clockwise, on top of its EXIF orientation (its data kept as it is).",
     "DEGREES"},
    {"frames",
     "Animated GIF and WebP pictures: first frame, or all (each frame a page). Default: the printer's preference, "
     "first unless set.",
     "WHICH", "frames"},
    {"pdfa",
     "PDF/A-2b files, for archives: each carries the sRGB colour profile (about 3 KB) and its details as XMP "
     "metadata."},
    {"set",
     "Any of the printer's preferences for this run, as pictolio-printer preferences --set takes it (center=on, "
     "resolution=300); may be given again. The options above win over it.",
     "NAME=VALUE"},
    {"sort", "The order of the pictures a folder gives: natural (default: p1, p2, p10) or plain (by character: p1, "
             "p10, p2).",
     "ORDER"},
    {"sidecar", "Also write the recognised text to FILE (- for standard output), each page's followed by a form feed.",
     "FILE"},
    {"tree",
     "Archives: the folders' trees mirrored under --output, a PDF per picture at its relative path (with --join, one "
     "per folder of pictures, named after it, beside its sub-folders' PDFs)."},
    {"update",
     "With --tree: a PDF newer than its pictures and made from them with the same settings is left as it is."},
    {"shard",
     "With --tree: only share K of N of the PDFs (by a hash of their path), for N runs side by side; auto: a Slurm "
     "job array's task, auto/N: share SLURM_ARRAY_TASK_ID, or JOB_COMPLETION_INDEX + 1, of N.",
     "K/N"},
    {"report",
     "With --tree: a JSON line for each PDF (made, kept or failed, and why) and one for the whole run, to FILE or - "
     "(standard output).",
     "FILE"},
    {"defaults", "Leave out the printer's stored preferences: only the options given here change the defaults."},
    {"q,quiet", "No progress, only the problems."},
};

bool isPdfName(const QString& name) { return name.endsWith(QLatin1String(".pdf"), Qt::CaseInsensitive); }

// Reproducible builds date their files by SOURCE_DATE_EPOCH; one that is no date is said, not
// passed over.
void warnOfSourceDateEpoch() {
    const QByteArray epoch = qgetenv("SOURCE_DATE_EPOCH");
    if (epoch.isEmpty()) return;
    bool ok = false;
    const qlonglong seconds = epoch.toLongLong(&ok);
    if (!ok || seconds < 0 || seconds >= 253402300800)
        std::fprintf(stderr, "pictolio-convert: SOURCE_DATE_EPOCH \"%s\" is not seconds since 1970 (before the year "
                             "10000): the PDFs are dated by --date or now\n", epoch.constData());
}

// The printer's preferences the options give: --set first, so that the options named after a
// preference win; then how the pictures go in.
Outcome<QList<std::pair<QString, QString>>> preferencesGiven(const QCommandLineParser& parser) {
    namespace preferences = pdfwriter::preferences;
    QList<std::pair<QString, QString>> given;
    for (const QString& assignment : parser.values(QStringLiteral("set"))) {
        const qsizetype eq = assignment.indexOf(QLatin1Char('='));
        const QString name = assignment.left(eq);
        const auto checked = preferences::check(name, assignment.mid(eq + 1));
        if (eq < 0) return Failure{QStringLiteral("--set: \"%1\" is not NAME=VALUE").arg(assignment), Failure::Kind::Refused};
        if (!checked) return Failure{QStringLiteral("--set: %1").arg(checked.reason()), Failure::Kind::Refused};
        given.append({preferences::valueName(name), *checked});
    }
    const auto isSet = [&](const char* name) { return parser.isSet(QString::fromLatin1(name)); };
    if (isSet("pdfa")) given.append({QStringLiteral("Pdfa"), QStringLiteral("1")});
    // How the pictures go in: --max-dpi or --jpeg-quality make them smaller, --mono black and white,
    // --document photos of documents clean pages (at the JPEG quality given).
    const bool reduce = isSet("max-dpi") || (isSet("jpeg-quality") && !isSet("document"));
    if (int(isSet("mono")) + int(isSet("original")) + int(isSet("document")) + int(reduce) > 1)
        return Failure{QStringLiteral("--mono, --document, --original and --max-dpi or --jpeg-quality cannot go together")};
    if (isSet("compact") && isSet("mono")) return Failure{QStringLiteral("--compact and --mono cannot go together")};
    for (const OptionSpec& option : optionTable) {
        if (!option.preference) continue;
        const QString name = QString::fromLatin1(option.names).split(QLatin1Char(',')).last();
        if (!parser.isSet(name)) continue;
        const auto checked = preferences::check(QString::fromLatin1(option.preference), parser.value(name));
        if (!checked) return Failure{QStringLiteral("--%1: %2").arg(name, checked.reason()), Failure::Kind::Refused};
        given.append({preferences::valueName(QString::fromLatin1(option.preference)), *checked});
    }
    const auto picturesGo = [&](const char* how) { given.append({QStringLiteral("Pictures"), QString::fromLatin1(how)}); };
    if (reduce) picturesGo("Reduce");
    if (isSet("document")) picturesGo("Document");
    if (isSet("mono")) picturesGo("Mono");
    if (isSet("compact")) given.append({QStringLiteral("Compact"), QStringLiteral("1")});
    if (isSet("original")) {
        picturesGo("Original");
        if (!isSet("compact")) given.append({QStringLiteral("Compact"), QStringLiteral("0")});
    }
    return given;
}

// Where the PDFs go: line.folder, and line.joinedFile for one named PDF or standard output.
Outcome<bool> placeOutput(const QCommandLineParser& parser, CommandLine& line) {
    const QString named = parser.value(QStringLiteral("output"));
    // Made absolute here: the run works on paths that do not depend on its current folder.
    QString folder = parser.isSet(QStringLiteral("output")) ? named : QDir::currentPath();
    if (folder != QLatin1String("-")) folder = QDir::cleanPath(QDir::current().absoluteFilePath(folder));
    if (line.joined && (folder == QLatin1String("-") || isPdfName(folder))) {
        line.joinedFile = folder;
        folder = folder == QLatin1String("-") ? QString() : QFileInfo(folder).absolutePath();
    } else if (folder == QLatin1String("-")) {
        return Failure{QStringLiteral("--output -: standard output takes one PDF, with --join or of one picture")};
    } else if (!line.beside && !(line.tree && QDir().mkpath(folder)) && !QFileInfo(folder).isDir()) {
        return Failure{QStringLiteral("--output: \"%1\" is not a folder").arg(folder)};
    }
    line.folder = folder;
    return true;
}

}  // namespace

void usageError(const QString& text) {
    std::fprintf(stderr, "pictolio-convert: %s\nTry 'pictolio-convert --help'.\n", qPrintable(text));
}

Outcome<CommandLine> readCommandLine(const QStringList& arguments, const RegistryStore& users) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Converts pictures into PDF files: one PDF per picture, or all of them as the pages of one PDF.\n"
        "Folders are searched, with their subfolders, for pictures.\n\n"
        "Exit status: 0 when every PDF was made, 1 when a file was not a picture or a PDF was not made\n"
        "(or the run was interrupted), 2 when the command line is wrong."));
    parser.addHelpOption();
    parser.addVersionOption();
    for (const OptionSpec& option : optionTable) {
        const QStringList names = QString::fromLatin1(option.names).split(QLatin1Char(','));
        parser.addOption(option.value ? QCommandLineOption(names, QString::fromUtf8(option.help), QString::fromLatin1(option.value))
                                      : QCommandLineOption(names, QString::fromUtf8(option.help)));
    }
    parser.addPositionalArgument(QStringLiteral("FILE|FOLDER"), QStringLiteral("Pictures, and folders of pictures."),
                                 QStringLiteral("FILE|FOLDER..."));
    if (!parser.parse(arguments)) return Failure{parser.errorText()};
    const auto isSet = [&](const char* name) { return parser.isSet(QString::fromLatin1(name)); };
    const auto value = [&](const char* name) { return parser.value(QString::fromLatin1(name)); };

    CommandLine line;
    if (isSet("help")) {
        // The usage line names the program as the user calls it, not the path it was run from.
        line.answer = parser.helpText();
        const QString runAs = arguments.value(0);
        if (const qsizetype at = line.answer.indexOf(runAs); !runAs.isEmpty() && at >= 0 && at < line.answer.indexOf(QLatin1Char('\n')))
            line.answer.replace(at, runAs.size(), QStringLiteral("pictolio-convert"));
        return line;
    }
    if (isSet("version")) {
        line.answer = QStringLiteral("pictolio-convert %1\n").arg(QString::fromLatin1(config::version));
        return line;
    }

    const QString order = isSet("sort") ? value("sort") : QStringLiteral("natural");
    if (order != QLatin1String("natural") && order != QLatin1String("plain"))
        return Failure{QStringLiteral("--sort: \"%1\" is neither natural nor plain").arg(order)};
    line.natural = order == QLatin1String("natural");
    const QStringList turns{QStringLiteral("0"), QStringLiteral("90"), QStringLiteral("180"), QStringLiteral("270")};
    line.quarterTurns = isSet("rotate") ? int(turns.indexOf(value("rotate").trimmed())) : 0;
    if (line.quarterTurns < 0) return Failure{QStringLiteral("--rotate: \"%1\" is not 90, 180 or 270").arg(value("rotate"))};
    if (isSet("output") && isSet("beside")) return Failure{QStringLiteral("--output and --beside cannot go together")};
    line.tree = isSet("tree");
    if (!line.tree && (isSet("update") || isSet("shard") || isSet("report")))
        return Failure{QStringLiteral("--update, --shard and --report go with --tree")};
    if (line.tree && (!isSet("output") || value("output") == QLatin1String("-") || isPdfName(value("output"))))
        return Failure{QStringLiteral("--tree: --output names the folder the PDFs' tree goes in")};
    if (isSet("shard")) {
        QString why;
        const std::optional<Shard> given = parseShard(value("shard"), &why);
        if (!given) return Failure{QStringLiteral("--shard: %1").arg(why)};
        line.shard = *given;
    }
    Outcome<QList<std::pair<QString, QString>>> given = preferencesGiven(parser);
    if (!given) return Failure{given.reason()};
    line.preferences = std::move(*given);

    // Values that depend on each other (the margin on the paper), the user's preferences standing
    // for those not given, refused as the driver would refuse them.
    line.storedApply = !isSet("defaults");
    const QString key = pdfwriter::PdfWriterDriver::registryKey();
    const QMap<QString, QString> stored = line.storedApply ? users.values(key) : QMap<QString, QString>{};
    QMap<QString, QString> merged = stored;
    for (const auto& [valueName, setting] : line.preferences) merged.insert(valueName, setting);
    const QString localPaper = pdfwriter::PdfWriterDriver::localPaperName();
    const QString conflict = pdfwriter::preferences::checkTogether(merged, localPaper).reason();
    if (!conflict.isEmpty() && conflict != pdfwriter::preferences::checkTogether(stored, localPaper).reason())
        return Failure{conflict, Failure::Kind::Refused};
    warnOfSourceDateEpoch();

    line.arguments = parser.positionalArguments();
    const QString named = isSet("output") ? value("output") : QString();
    // One picture needs no --join to go to a PDF of the name given, or to standard output.
    const bool onePicture = line.arguments.size() == 1 && !QFileInfo(line.arguments.first()).isDir();
    line.joined = isSet("join") || (onePicture && (named == QLatin1String("-") || isPdfName(named)));
    // A joined PDF given its own name is titled after it, as every PDF is after its file.
    line.titled = std::any_of(line.preferences.begin(), line.preferences.end(),
                              [](const auto& p) { return p.first == QLatin1String("Title"); });
    if (line.joined && !line.titled && isPdfName(named)) {
        line.preferences.append({QStringLiteral("Title"), QFileInfo(named).completeBaseName()});
        line.titled = true;
    }
    if (line.arguments.isEmpty()) return Failure{QStringLiteral("no pictures given")};
    if (line.arguments.count(QStringLiteral("-")) > 1)
        return Failure{QStringLiteral("standard input (-) can be read only once")};

    line.stretch = isSet("stretch");
    line.beside = isSet("beside");
    if (const Outcome<bool> placed = placeOutput(parser, line); !placed) return Failure{placed.reason()};

    // The recognised text, as PDFs are made, to its own file or to standard output.
    line.reportPath = value("report");
    if (isSet("sidecar"))
        line.sidecar = value("sidecar") == QLatin1String("-") ? value("sidecar") : QDir::current().absoluteFilePath(value("sidecar"));
    if (line.sidecar == QLatin1String("-") && line.joinedFile == QLatin1String("-"))
        return Failure{QStringLiteral("--sidecar -: standard output already takes the PDF")};
    if (line.sidecar == QLatin1String("-") && line.reportPath == QLatin1String("-"))
        return Failure{QStringLiteral("--sidecar -: standard output already takes the report")};
    line.update = isSet("update");
    line.quiet = isSet("quiet");
    return line;
}

}  // namespace pictolio
