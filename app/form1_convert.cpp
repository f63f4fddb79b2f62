// "Start Converting": every row printed on the PDF printer, one PDF per picture or one for
// all, with the progress on the bar and a report at the end.
#include <QGroupBox>
#include <algorithm>
#include <QLineEdit>
#include <QRadioButton>

#include "app/form1.h"
#include "common/errortrap.h"
#include "convert/loadpics.h"
#include "convert/outputpath.h"
#include "convert/outputwait.h"
#include "convert/pdfprinter.h"
#include "filelist/filelist.h"
#include "platform/events.h"
#include "platform/printservice.h"
#include "platform/registry.h"

namespace pictolio {

using pdfprinter::SettingsLock;

// The output path made from one row, each step reported at its own line from `line` on: test
// Option5, the path in Text1's folder, else test Option6, the path beside the picture, then the
// doubled separators cleaned out.
QString Form1::outputPathFor(ErrorTrap& trap, int line, const QString& source) const {
    const QString separator = pathSeparator(nativePathStyle);
    QString path;
    bool inFolder = false;
    trap.at(line, [&] { inFolder = Option5->isChecked(); });
    if (inFolder) {
        trap.at(line + 2, [&] { path = Text1->text() + separator + pdfFileName(source); });
    } else {
        bool beside = false;
        trap.at(line + 4, [&] { beside = Option6->isChecked(); });
        if (beside)
            trap.at(line + 6, [&] { path = extractFolder(source) + separator + pdfFileName(source); });
    }
    trap.at(line + 8, [&] { path = collapseSeparators(path); });
    return path;
}

// Draws the picture in the holder on the printer as the size options say, each step reported at
// its own line from `line` on: test Option4, keep-size drawing, else test Option3, stretch
// drawing. False when nothing was drawn.
bool Form1::drawPicture(ErrorTrap& trap, int line) {
    PrinterDevice& printer = m_services.printing.printer();
    bool keepSize = false, stretch = false, drawn = false;
    trap.at(line, [&] { keepSize = Option4->isChecked(); });
    if (keepSize) {
        trap.at(line + 2, [&] {
            printer.paintPicture(Creator->picture(), 0, 0);
            drawn = true;
        });
        return drawn;
    }
    trap.at(line + 4, [&] { stretch = Option3->isChecked(); });
    if (stretch) {
        trap.at(line + 6, [&] {
            printer.paintPicture(Creator->picture(), 0, 0, float(printer.scaleWidth()),
                                 float(printer.scaleHeight()));
            drawn = true;
        });
    }
    return drawn;
}

bool Form1::waitForOutput(const QString& outputPath, const pdfwriter::FileIdentity& before,
                          quint64 job) {
    const WaitResult result = waitForOutputFile(outputPath, before, m_services.printing, job,
                                                m_config.outputWaitMs, [this] { return m_unloading; });
    if (result == WaitResult::Failed || result == WaitResult::TimedOut)
        m_notCreated += QStringLiteral("\r\n") + outputPath;
    if (result == WaitResult::Incomplete) m_incomplete += QStringLiteral("\r\n") + outputPath;
    return result != WaitResult::Abandoned;
}

// Whether a job for this output path may print: the output folder is still there (it may have
// been edited during the run), the PDF would not replace one of the run's pictures (a picture
// named "x.pdf"), and the printer got the path (its settings could be written). When not, the
// PDF is reported as not created and nothing is printed: a job must never land at a path it
// was not meant for.
bool Form1::outputIsUsable(const QString& outputPath, const QString& source) {
    bool usable = !(Option5->isChecked() && !isOutputFolder(Text1->text()));
    const pdfwriter::FileIdentity existing = outputFileIdentity(outputPath);
    if (usable && existing.size >= 0) {
        const auto sameFile = [&](const pdfwriter::FileIdentity& id) {
            return id.device == existing.device && id.inode == existing.inode;
        };
        usable = !sameFile(outputFileIdentity(source)) &&
                 std::none_of(m_runSources.begin(), m_runSources.end(), sameFile);
    }
    if (usable) usable = pdfprinter::outputSettingsAre(m_services.registry, outputPath);
    if (!usable) m_notCreated += QStringLiteral("\r\n") + outputPath;
    return usable;
}

// Waits for the printer's settings while another copy of the program holds them. When they
// stay taken, the PDF is reported as not created and the reason logged; after that the run
// does not wait for them again.
SettingsLock::Result Form1::lockSettings(SettingsLock& lock, const QString& outputPath) {
    const SettingsLock::Result result =
        lock.acquire(m_settingsLockGivenUp ? 0 : m_config.outputWaitMs, [this] { return m_unloading; });
    if (result == SettingsLock::Result::TimedOut) {
        m_settingsLockGivenUp = true;
        m_notCreated += QStringLiteral("\r\n") + outputPath;
        m_services.printing.pdfDriver().log(
            QStringLiteral("%1 not created: %2").arg(outputPath, lock.failure()));
    }
    return result;
}

// The identities of the files in the list when the run starts: no PDF of the run may replace one.
void Form1::noteRunSources() {
    m_runSources.clear();
    for (const QString& row : ListView1->rowTexts()) {
        const pdfwriter::FileIdentity id = outputFileIdentity(row);
        if (id.size >= 0) m_runSources.push_back(id);
    }
}

// A pass whose row is gone (rows removed during the run) ends the run: there is nothing left
// to convert, and the previous row must not be printed again under the next one's name.
// The start of pass i, in both modes (its steps numbered from line): events, the hourglass,
// the progress value, the row's path, the progress text, events. False when the pass is over.
bool Form1::beginPass(ErrorTrap& trap, int i, int line, QString* source) {
    trap.at(line, [&] { doEvents(); });
    if (passIsOver(i)) return false;
    trap.at(line + 2, [&] { setMousePointer(Hourglass); });
    trap.at(line + 4, [&] { ProgressBar1->setExactValue(double(i) / ListView1->rowCount() * 100.0); });
    trap.at(line + 6, [&] { *source = ListView1->rowText(i); });
    trap.at(line + 8, [&] { ProgressBar1->setBarText(QStringLiteral("Processing: ") + extractFileName(*source)); });
    trap.at(line + 10, [&] { doEvents(); });
    return !passIsOver(i);
}

QString Form1::settingsLockFile() const {
    return m_services.printing.root() + QStringLiteral("/pdfwriter-settings.lock");
}

bool Form1::passIsOver(int i) const { return m_unloading || i > ListView1->rowCount(); }

// What stops a run before it starts, beyond the two checks: a size or folder pair with
// neither on (edited settings; with neither mode on the run is joined), or no PDF printer. "" when the run can start.
QString Form1::notReadyMessage() const {
    const struct {
        QRadioButton* a;
        QRadioButton* b;
        QGroupBox* frame;
    } pairs[] = {{Option4, Option3, Frame2}, {Option5, Option6, Frame5}};
    for (const auto& p : pairs)
        if (!p.a->isChecked() && !p.b->isChecked())
            return QStringLiteral("Please choose one of the \"%1\" before converting.").arg(p.frame->title());
    if (!pdfprinter::isPdfPrinterInstalled(m_services.printing)) return pdfprinter::notInstalledMessage();
    return {};
}

void Form1::PushButton2_Click() {
    ErrorTrap trap(m_services.dialogs, QStringLiteral("in Jovemark2021/08/31.Form1.PushButton2_Click "));
    bool stop = false;
    trap.at(100, [&] { stop = IsConverting; });
    if (stop) return;
    trap.at(102, [&] { IsConverting = true; });

    bool failed = false;
    trap.at(104, [&] { failed = !(ListView1->rowCount() > 0); });
    if (failed) {
        trap.at(254, [&] { m_services.dialogs.message(QStringLiteral("No files added.")); });
    } else {
        trap.at(106, [&] { failed = !isOutputFolder(Text1->text()) && !Option6->isChecked(); });
        if (failed) {
            trap.at(252, [&] {
                m_services.dialogs.message(QStringLiteral("Folder does not exist. Please select another folder."));
            });
        } else {
            const QString notReady = notReadyMessage();
            if (!notReady.isEmpty()) {
                m_services.dialogs.message(notReady);
            } else {
                trap.at(108, [&] { InvalidPictures.clear(); });
                m_notCreated.clear();
                m_incomplete.clear();
                noteRunSources();
                m_settingsLockGivenUp = false;
                bool perPicture = true;
                trap.at(110, [&] { perPicture = Option1->isChecked(); });
                if (perPicture)
                    runPerPicture(trap);
                else
                    runJoined(trap);
                if (m_unloading) return;  // the window is gone: no report

                trap.at(240, [&] { setMousePointer(Default); });
                trap.at(242, [&] { ProgressBar1->setExactValue(0); });
                trap.at(244, [&] { ProgressBar1->setBarText(QStringLiteral("Progress Bar")); });
                bool anyInvalid = false;
                trap.at(246, [&] { anyInvalid = !InvalidPictures.isEmpty(); });
                if (anyInvalid) {
                    trap.at(248, [&] {
                        InvalidPictures = QStringLiteral("\r\n") + QStringLiteral("\r\n") +
                                          QStringLiteral("The following files are not valid pictures: ") +
                                          QStringLiteral("\r\n") + InvalidPictures;
                    });
                }
                QString notCreated;
                if (!m_notCreated.isEmpty())
                    notCreated = QStringLiteral("\r\n\r\nThe following PDF files were not created: \r\n") +
                                 m_notCreated;
                if (!m_incomplete.isEmpty())
                    notCreated += QStringLiteral("\r\n\r\nThe following PDF files lack pictures that changed "
                                                 "or were removed before they were printed: \r\n") +
                                  m_incomplete;
                trap.at(250, [&] {
                    m_services.dialogs.message(QStringLiteral("Done.") + InvalidPictures + notCreated);
                });
            }
        }
    }
    trap.at(256, [&] { IsConverting = false; });
}

void Form1::runPerPicture(ErrorTrap& trap) {
    PrinterDevice& printer = m_services.printing.printer();
    int n = 0;
    trap.at(112, [&] { n = ListView1->rowCount(); });
    QString source;
    for (int i = 1; i <= n; ++i) {
        if (!beginPass(trap, i, 114, &source)) break;
        const QString output = outputPathFor(trap, 126, source);
        SettingsLock lock(settingsLockFile());
        const SettingsLock::Result locked = lockSettings(lock, output);
        if (locked == SettingsLock::Result::Abandoned) break;
        bool usable = false;
        if (locked == SettingsLock::Result::Acquired) {
            trap.at(136, [&] { pdfprinter::writeOutputSettings(m_services.registry, output); });
            trap.at(148, [&] { pdfprinter::selectPdfPrinter(m_services.printing); });
            usable = outputIsUsable(output, source);
        }
        // Loaded whatever became of the output, so that every row that is not a picture is listed.
        bool ok = false;
        trap.at(154, [&] {
            ok = tryLoadPicture(Creator->pictureSlot(), m_services.decoder, source, &InvalidPictures);
        });
        if (!ok || !usable) continue;
        trap.at(156, [&] { printer.setScaleMode(ScaleMode::Pixels); });
        const bool drawn = drawPicture(trap, 158);
        const pdfwriter::FileIdentity before = outputFileIdentity(output);
        quint64 job = 0;
        trap.at(166, [&] { job = printer.endDoc(); });
        lock.release();
        if (drawn && !waitForOutput(output, before, job)) break;
    }
}

void Form1::runJoined(ErrorTrap& trap) {
    PrinterDevice& printer = m_services.printing.printer();
    const QString output = outputPathFor(trap, 174, ListView1->rowText(1));
    SettingsLock lock(settingsLockFile());
    const SettingsLock::Result locked = lockSettings(lock, output);
    if (locked == SettingsLock::Result::Abandoned) return;
    bool usable = false;
    if (locked == SettingsLock::Result::Acquired) {
        trap.at(184, [&] { pdfprinter::writeOutputSettings(m_services.registry, output); });
        trap.at(196, [&] { pdfprinter::selectPdfPrinter(m_services.printing); });
        usable = outputIsUsable(output, ListView1->rowText(1));
    }
    int n = 0;
    trap.at(202, [&] { n = ListView1->rowCount(); });
    int drawn = 0;
    QString source;
    for (int i = 1; i <= n; ++i) {
        if (!beginPass(trap, i, 204, &source)) break;
        // Every row is loaded, also when the PDF cannot be made, so that every row that is not
        // a picture is listed.
        bool ok = false;
        trap.at(216, [&] {
            ok = tryLoadPicture(Creator->pictureSlot(), m_services.decoder, source, &InvalidPictures);
        });
        if (!ok || !usable) continue;
        trap.at(218, [&] { printer.setScaleMode(ScaleMode::Pixels); });
        if (drawPicture(trap, 220)) ++drawn;
        bool more = false;
        trap.at(228, [&] { more = i < ListView1->rowCount(); });
        if (more) trap.at(230, [&] { printer.newPage(); });
    }
    if (m_unloading || !usable) {
        // The window was closed half way (a PDF of some of the pictures is not what was asked),
        // or the PDF cannot be made.
        printer.killDoc();
        return;
    }
    const pdfwriter::FileIdentity before = outputFileIdentity(output);
    quint64 job = 0;
    trap.at(234, [&] { job = printer.endDoc(); });
    lock.release();
    if (drawn > 0) trap.at(236, [&] { waitForOutput(output, before, job); });
}

}  // namespace pictolio
