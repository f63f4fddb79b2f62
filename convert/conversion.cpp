// SPDX-License-Identifier: GPL-3.0-or-later
#include "convert/conversion.h"

#include <algorithm>

#include <QFileInfo>
#include <QSize>

#include "cleaning/compact.h"
#include "cleaning/page.h"
#include "common/paths.h"
#include "convert/loadpics.h"
#include "convert/outputpath.h"
#include "convert/outputwait.h"
#include "platform/events.h"
#include "platform/printservice.h"
#include "platform/registry.h"

namespace pictolio {

ConversionJob::ConversionJob(PrintService& printing, Registry& registry,
                             const PictureDecoder& decoder, int waitMs, Caller caller)
    : m_printing(printing),
      m_registry(registry),
      m_readAhead(decoder),
      m_waitMs(waitMs),
      m_caller(std::move(caller)) {
    if (!m_caller.holder) m_caller.holder = &m_ownHolder;
}

void ConversionJob::step(Step s, const std::function<void()>& f) {
    if (m_caller.step)
        m_caller.step(s, f);
    else
        f();
}

bool ConversionJob::beginPass(int row, QString* source) {
    if (m_caller.beginPass) return m_caller.beginPass(row, source) && !cancelled();
    if (cancelled() || row > m_caller.rowCount()) return false;
    *source = m_caller.rowText(row);
    return true;
}

// The output path made from one row: test the folder choice, the path in the folder, else test
// the beside choice, the path beside the picture; then the doubled separators cleaned out.
QString ConversionJob::outputPathFor(const QString& source) {
    const QString separator = pathSeparator(nativePathStyle);
    QString path;
    bool inFolder = false;
    step(Step::AskInFolder, [&] { inFolder = m_caller.options().inFolder; });
    if (inFolder) {
        step(Step::PathInFolder, [&] { path = m_caller.options().folder + separator + pdfFileName(source); });
    } else {
        bool beside = false;
        step(Step::AskBeside, [&] { beside = m_caller.options().besideSource; });
        if (beside) step(Step::PathBeside, [&] { path = extractFolder(source) + separator + pdfFileName(source); });
    }
    step(Step::CleanPath, [&] { path = collapseSeparators(path); });
    return path;
}

// Draws the picture in the holder as the size options say: test own size, draw at own size, else
// test stretch, draw stretched. False when nothing was drawn.
bool ConversionJob::drawPicture() {
    PrinterDevice& printer = m_printing.printer();
    bool keepSize = false, stretch = false, drawn = false;
    step(Step::AskOwnSize, [&] { keepSize = m_caller.options().keepSize; });
    if (keepSize) {
        step(Step::DrawOwnSize, [&] {
            printer.paintPicture(*m_caller.holder, 0, 0);
            drawn = true;
        });
        return drawn;
    }
    step(Step::AskStretch, [&] { stretch = m_caller.options().stretch; });
    if (stretch) {
        step(Step::DrawStretched, [&] {
            printer.paintPicture(*m_caller.holder, 0, 0, float(printer.scaleWidth()), float(printer.scaleHeight()));
            drawn = true;
        });
    }
    return drawn;
}

// Whether a job for this output path may print: the output folder is still there (it may have
// been changed during the run), the PDF would not replace one of the run's pictures (a picture
// named "x.pdf"), and the printer got the path (its settings could be written). When not, the
// PDF is reported as not created and nothing is printed: a job must never land at a path it
// was not meant for.
bool ConversionJob::outputIsUsable(const QString& outputPath, const QString& source) {
    const RowOptions options = m_caller.options();
    if (options.inFolder && !isOutputFolder(options.folder)) {
        notCreated(outputPath, QStringLiteral("the folder %1 is gone").arg(options.folder));
        return false;
    }
    const imaging::FileIdentity existing = outputFileIdentity(outputPath);
    if (existing.size >= 0) {
        const auto sameFile = [&](const imaging::FileIdentity& id) {
            return id.device == existing.device && id.inode == existing.inode;
        };
        if (sameFile(outputFileIdentity(source)) || std::any_of(m_runSources.begin(), m_runSources.end(), sameFile)) {
            notCreated(outputPath, QStringLiteral("it would replace one of the pictures"));
            return false;
        }
    }
    if (!pdfprinter::outputSettingsAre(m_registry, outputPath)) {
        notCreated(outputPath, QStringLiteral("the PDF printer's settings could not be written"));
        return false;
    }
    return true;
}

// Reports the PDF as not created, and why; the reason also goes to the printer's log, unless it
// says so already.
void ConversionJob::notCreated(const QString& outputPath, const QString& why, bool logged, int at) {
    m_report.notCreated.insert(at >= 0 ? std::min<qsizetype>(at, m_report.notCreated.size()) : m_report.notCreated.size(),
                               outputPath);
    if (at >= 0)
        for (Handed& later : m_handed) ++later.listedAt;
    if (why.isEmpty()) return;
    m_report.whyNotCreated.insert(outputPath, why);
    if (!logged) m_printing.pdfDriver().log(QStringLiteral("%1 not created: %2").arg(outputPath, why));
}

// Waits for the printer's settings while another copy of the program holds them. When they stay
// taken, the PDF is reported as not created and the reason logged; after that the run does not
// wait for them again. False when the settings are not held.
bool ConversionJob::lockSettings(pdfprinter::SettingsLock& lock, const QString& outputPath, bool* abandoned) {
    using Result = pdfprinter::SettingsLock::Result;
    const Result result = lock.acquire(m_settingsLockGivenUp ? 0 : m_waitMs, [this] { return cancelled(); });
    *abandoned = result == Result::Abandoned;
    if (result == Result::TimedOut) {
        m_settingsLockGivenUp = true;
        notCreated(outputPath, lock.failure());
    }
    return result == Result::Acquired;
}

void ConversionJob::waitForOutput(const Handed& pdf, bool stoppable) {
    const QString& outputPath = pdf.output;
    const quint64 job = pdf.job;
    const WaitResult result =
        waitForOutputFile(outputPath, pdf.before, m_printing, job, m_waitMs, [this, stoppable] {
            tellRecognition();
            return stoppable && cancelled();
        });
    if (result == WaitResult::Failed) notCreated(outputPath, m_printing.pdfDriver().jobError(job), true, pdf.listedAt);
    if (result == WaitResult::TimedOut)
        notCreated(outputPath, QStringLiteral("the PDF printer made no progress for %1 seconds").arg(m_waitMs / 1000),
                   false, pdf.listedAt);
    if (result == WaitResult::Incomplete) m_report.incomplete << outputPath;
    if (result == WaitResult::Created || result == WaitResult::Incomplete) {
        for (const std::string& note : m_printing.pdfDriver().jobNotes(job))
            m_report.textNotes << QStringLiteral("%1: %2").arg(outputPath, QString::fromStdString(note));
        const std::string text = m_printing.pdfDriver().takeJobText(job);
        if (m_caller.recognisedText && !text.empty()) m_caller.recognisedText(outputPath, text);
        m_runOutputs.push_back({outputFileIdentity(outputPath), pdf.picture});
        m_report.created << outputPath;
        m_report.pages += pdf.pages;
    }
}

// Waits for the PDFs handed to the printer, the oldest first, until at most `keep` are left.
// Stoppable: a stopped run stops waiting for the newest. The PDFs of the rows before the one
// under way are always waited for: a stopped run keeps what it made before.
void ConversionJob::waitForHanded(std::size_t keep, bool stoppable) {
    while (m_handed.size() > keep) {
        const Handed pdf = std::move(m_handed.front());
        m_handed.pop_front();
        waitForOutput(pdf, stoppable && m_handed.empty());
    }
}

// With text recognition on, drawing the next pictures waits while the recognisers have enough
// to do: the progress shown moves with the pages recognised, and pictures are not checked long
// before they can be recognised.
void ConversionJob::keepPaceWithRecognition() {
    recognition::TextRecognition& recognition = m_printing.pdfDriver().recognition();
    const int ahead = recognition.workers() + 1;
    while (recognition.unfinished() > ahead && !cancelled()) {
        tellRecognition();
        doEvents();
        recognition.waitUntilAtMost(ahead, 20);
    }
}

void ConversionJob::tellRecognition() {
    if (!m_caller.recognitionProgress) return;
    const recognition::TextRecognition::Count now = m_printing.pdfDriver().recognition().count();
    const recognition::TextRecognition::Count run{now.started - m_recognitionBefore.started,
                                                  now.ended - m_recognitionBefore.ended};
    if (run.started == 0 || (run.started == m_recognitionTold.started && run.ended == m_recognitionTold.ended)) return;
    m_recognitionTold = run;
    m_caller.recognitionProgress(run.ended, run.started);
}

// A row that is not a picture, and why, as the decoder said; the reason goes to the printer's log
// too, beside the PDFs not made.
void ConversionJob::noteInvalid(const QString& source) {
    m_report.invalidPictures << source;
    const QString& why = m_caller.holder->refusal;
    if (why.isEmpty()) return;
    m_report.refusals.insert(source, why);
    m_printing.pdfDriver().log(QStringLiteral("%1 not a picture: %2").arg(source, why));
}

// Loads the row's picture into the holder, turned as the row says.
bool ConversionJob::loadPicture(int row, const QString& source, QString* invalid) {
    bool ok = false;
    step(Step::LoadPicture,
         [&] { ok = tryLoadPicture(*m_caller.holder, m_readAhead, source, invalid, m_frames); });
    // A joined run reads the next row's picture while this one is printed. (One PDF per picture
    // reads it here while the printer writes the PDF before: a third thread gains nothing then.)
    if (m_joined && row < m_caller.rowCount()) m_readAhead.start(m_caller.rowText(row + 1));
    if (ok && m_cleaning) cleanPages(source);
    else if (ok && m_compactQuality > 0) compactPages(source);
    if (ok && m_caller.rowTurn) turnPicture(*m_caller.holder, m_caller.rowTurn(row));
    return ok;
}

// Each page of the picture in the holder made a clean page of the document it shows; a page
// that shows none stays as it is, and the run says so.
void ConversionJob::cleanPages(const QString& source) {
    Picture& picture = *m_caller.holder;
    for (int i = 0; i < picture.pageCount(); ++i) {
        PicturePage& page = i == 0 ? picture.firstPage() : picture.morePages[std::size_t(i - 1)];
        if (!page.image) continue;
        const Outcome<cleaning::CleanedPage> cleaned = cleaning::cleanPhoto(*page.image, *m_cleaning);
        if (!cleaned) {
            notePage(source, i, cleaned.reason() + QStringLiteral(", kept as it is"));
            continue;
        }
        if (!cleaned->notCompact.isEmpty()) notePage(source, i, cleaned->notCompact + QStringLiteral(", not made compact"));
        // Sizes as the picture stands upright: a quarter turn of its orientation swaps them.
        const bool swapped = page.orientation >= 5;
        const QSize f(cleaned->width, cleaned->height);
        const double storedWidth = swapped ? page.height : page.width, storedHimetric = swapped ? page.heightHimetric : page.widthHimetric;
        // A scan keeps its density; a sheet squared has the size of its paper.
        const double himetricPerPixel = storedWidth > 0 ? storedHimetric / storedWidth : 2540.0 / 300;
        const double widthHimetric = cleaned->widthMm > 0 ? cleaned->widthMm * 100 : f.width() * himetricPerPixel;
        const double heightHimetric = cleaned->heightMm > 0 ? cleaned->heightMm * 100 : f.height() * himetricPerPixel;
        page.image = cleaned->image;
        page.width = swapped ? f.height() : f.width();
        page.height = swapped ? f.width() : f.height();
        page.widthHimetric = swapped ? heightHimetric : widthHimetric;
        page.heightHimetric = swapped ? widthHimetric : heightHimetric;
    }
}

// Each page of print of the picture in the holder made compact; a page that shows none stays as it
// is, and the run says so.
void ConversionJob::compactPages(const QString& source) {
    Picture& picture = *m_caller.holder;
    for (int i = 0; i < picture.pageCount(); ++i) {
        PicturePage& page = i == 0 ? picture.firstPage() : picture.morePages[std::size_t(i - 1)];
        if (!page.image) continue;
        const imaging::ImageFormat f = page.image->format();
        if (f.softMask || !f.colorKey.empty()) {
            notePage(source, i, QStringLiteral("it has transparency, not made compact"));
            continue;
        }
        const cleaning::RgbImage pixels = cleaning::rgbPixels(*page.image);
        auto compact = pixels.isNull() ? Outcome<std::shared_ptr<const imaging::ImageSource>>(Failure{QStringLiteral("its pixels cannot be read")})
                                       : cleaning::compactPage(pixels, m_compactQuality, page.image->description(), f.iccProfile);
        if (compact)
            page.image = std::move(*compact);
        else
            notePage(source, i, compact.reason() + QStringLiteral(", not made compact"));
    }
}

// A word on one page of a picture, for the report and the printer's log.
void ConversionJob::notePage(const QString& source, int page, const QString& note) {
    const QString where = m_caller.holder->pageCount() > 1 ? QStringLiteral("%1, page %2").arg(source).arg(page + 1) : source;
    m_report.pageNotes << QStringLiteral("%1: %2").arg(where, note);
    m_printing.pdfDriver().log(m_report.pageNotes.back());
}

// The identities of the files in the list when the run starts: no PDF of the run may replace one.
void ConversionJob::noteRunSources() {
    m_report = {};
    m_frames = m_printing.pageSetup().allFrames ? PictureDecoder::Frames::All : PictureDecoder::Frames::First;
    const imaging::PictureQuality pictures = m_printing.pageSetup().pictures;
    m_cleaning.reset();
    const bool compact = pictures.compact && pictures.mode != imaging::PictureQuality::Mode::Mono;
    m_compactQuality = compact ? pictures.jpegQuality : 0;
    if (pictures.mode == imaging::PictureQuality::Mode::Document)
        m_cleaning = cleaning::CleaningOptions{cleaning::Colours(int(pictures.pageColours)), pictures.jpegQuality, compact};
    m_settingsLockGivenUp = false;
    m_recognitionBefore = m_printing.pdfDriver().recognition().count();
    m_recognitionTold = {};
    m_runSources.clear();
    m_runOutputs.clear();
    const int n = m_caller.rowCount();
    for (int i = 1; i <= n; ++i) {
        const imaging::FileIdentity id = outputFileIdentity(m_caller.rowText(i));
        if (id.size >= 0) m_runSources.push_back(id);
    }
}

// A PDF the run made is never replaced by a later one of another picture (x.jpg and x.heic side
// by side, or one name in two folders saved to one folder): the later one takes the first of
// "x (2).pdf", "x (3).pdf", ... that the run has not made. The same picture listed twice makes
// its PDF again under the same name, and PDFs from before the run are replaced as ever, so a run
// made again gives the same names.
QString ConversionJob::clearOfRunOutputs(const QString& outputPath, const QString& source) const {
    const imaging::FileIdentity picture = outputFileIdentity(source);
    const auto sameFile = [](const imaging::FileIdentity& a, const imaging::FileIdentity& b) {
        return a.device == b.device && a.inode == b.inode;
    };
    // True when the run made a PDF at path from another picture than this one.
    const auto madeByRun = [&](const QString& path) {
        const imaging::FileIdentity id = outputFileIdentity(path);
        return id.size >= 0 && std::any_of(m_runOutputs.begin(), m_runOutputs.end(), [&](const RunOutput& made) {
                   return sameFile(made.pdf, id) && !(picture.size >= 0 && sameFile(made.picture, picture));
               });
    };
    if (!madeByRun(outputPath)) return outputPath;
    const QString stem = outputPath.endsWith(QLatin1String(".pdf")) ? outputPath.chopped(4) : outputPath;
    for (int n = 2;; ++n) {
        const QString path = stem + QStringLiteral(" (%1).pdf").arg(n);
        if (!madeByRun(path)) return path;
    }
}

// Takes the PDF printer's settings for the output path and hands it over, then makes the PDF
// printer the current printer. False when no PDF is to be printed there (see outputIsUsable);
// *abandoned: the run was stopped while it waited for the settings.
bool ConversionJob::openOutput(pdfprinter::SettingsLock& lock, const QString& output, const QString& source,
                               bool* abandoned) {
    if (!lockSettings(lock, output, abandoned)) return false;
    step(Step::WriteSettings, [&] { pdfprinter::writeOutputSettings(m_registry, output); });
    step(Step::SelectPrinter, [&] { pdfprinter::selectPdfPrinter(m_printing); });
    return outputIsUsable(output, source);
}

// Loads the row's picture into the holder and, when its PDF can be made, draws it at the
// printer's pixel scale. Every row is loaded, also when the PDF cannot be made, so that every row
// that is not a picture is listed.
ConversionJob::Printed ConversionJob::printRow(int row, const QString& source, bool usable) {
    QString invalid;
    const bool ok = loadPicture(row, source, &invalid);
    if (!ok) noteInvalid(source);
    if (!ok || !usable) return Printed::Skipped;
    step(Step::PixelScale, [&] { m_printing.printer().setScaleMode(ScaleMode::Pixels); });
    return drawPicture() ? Printed::Drawn : Printed::Nothing;
}

// Hands the document to the printer and lets go of its settings; the PDF to wait for when
// anything was drawn.
std::optional<ConversionJob::Handed> ConversionJob::endDocument(pdfprinter::SettingsLock& lock, const QString& output,
                                                                bool drawn) {
    PrinterDevice& printer = m_printing.printer();
    Handed pdf{output, outputFileIdentity(output), {}, 0, printer.pageCount()};
    step(Step::EndDoc, [&] { pdf.job = printer.endDoc(); });
    lock.release();
    if (!drawn) return std::nullopt;
    return pdf;
}

// The report of the run as it ends; a run stopped on the way stops the recognition under way too.
ConversionReport ConversionJob::finish(bool stopped) {
    m_readAhead.forget();
    m_report.stopped = stopped;
    if (m_report.stopped) m_printing.pdfDriver().recognition().stopAll();
    return m_report;
}

// One PDF per picture. The printer writes a picture's PDF while the next picture is loaded and
// checked: each PDF is waited for once the next one has been handed over. A stopped run stops
// waiting only for the PDF of the row under way: what it made before stays.
ConversionReport ConversionJob::runPerPicture() {
    noteRunSources();
    m_joined = false;
    int n = 0;
    step(Step::CountRows, [&] { n = m_caller.rowCount(); });
    QString source;
    bool rowUnderWay = false;  // the newest PDF handed over is the one of the row under way
    for (int i = 1; i <= n; ++i) {
        rowUnderWay = false;
        if (!beginPass(i, &source)) break;
        const QString wanted = outputPathFor(source);
        // A PDF of the same name still being written is waited for first: whether it is the
        // run's own decides the name of this one.
        const QString name = QFileInfo(wanted).fileName();
        if (std::any_of(m_handed.begin(), m_handed.end(), [&](const Handed& pdf) {
                return QFileInfo(pdf.output).fileName().compare(name, Qt::CaseInsensitive) == 0;
            }))
            waitForHanded(0, false);
        const QString output = clearOfRunOutputs(wanted, source);
        pdfprinter::SettingsLock lock(m_printing.root() + QStringLiteral("/pdfwriter-settings.lock"));
        bool abandoned = false;
        const bool usable = openOutput(lock, output, source, &abandoned);
        if (abandoned) break;
        const Printed printed = printRow(i, source, usable);
        if (printed == Printed::Skipped) continue;
        if (std::optional<Handed> pdf = endDocument(lock, output, printed == Printed::Drawn)) {
            pdf->picture = outputFileIdentity(source);
            pdf->listedAt = int(m_report.notCreated.size());
            m_handed.push_back(std::move(*pdf));
            rowUnderWay = true;
        }
        waitForHanded(1, false);
        if (cancelled()) break;
    }
    waitForHanded(0, rowUnderWay);
    return finish(cancelled());
}

ConversionReport ConversionJob::runJoined() {
    noteRunSources();
    m_joined = true;
    PrinterDevice& printer = m_printing.printer();
    const QString output = outputPathFor(m_caller.rowText(1));
    pdfprinter::SettingsLock lock(m_printing.root() + QStringLiteral("/pdfwriter-settings.lock"));
    bool abandoned = false;
    const bool usable = openOutput(lock, output, m_caller.rowText(1), &abandoned);
    if (abandoned) {
        m_report.stopped = true;
        return m_report;
    }
    int n = 0;
    step(Step::CountRows, [&] { n = m_caller.rowCount(); });
    int drawn = 0;
    QString source;
    for (int i = 1; i <= n; ++i) {
        if (!beginPass(i, &source)) break;
        const Printed printed = printRow(i, source, usable);
        if (printed == Printed::Skipped) continue;
        if (printed == Printed::Drawn) ++drawn;
        keepPaceWithRecognition();
        bool more = false;
        step(Step::AskMoreRows, [&] { more = i < m_caller.rowCount(); });
        if (more) step(Step::NewPage, [&] { printer.newPage(); });
    }
    if (cancelled() || !usable) {
        // Stopped half way (a PDF of some of the pictures is not what was asked), or the PDF
        // cannot be made.
        printer.killDoc();
        return finish(cancelled());
    }
    if (std::optional<Handed> pdf = endDocument(lock, output, drawn > 0))
        step(Step::WaitForPdf, [&] { waitForOutput(*pdf); });
    return finish(cancelled());
}

}  // namespace pictolio
