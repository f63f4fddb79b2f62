// SPDX-License-Identifier: GPL-3.0-or-later
// "Start Converting": every row printed on the PDF printer, one PDF per picture or one for
// all, with the progress on the bar and a report at the end. The run itself is the conversion
// job's; the window hands it the rows and options, the progress and the error trap.
#include <QGroupBox>
#include <QLineEdit>
#include <QRadioButton>

#include <algorithm>

#include "app/conversionlines.h"
#include "app/form1.h"
#include "common/errortrap.h"
#include "convert/conversion.h"
#include "convert/outputpath.h"
#include "convert/pdfprinter.h"
#include "filelist/filelist.h"
#include "platform/events.h"
#include "platform/printservice.h"

namespace pictolio {

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

bool Form1::passIsOver(int i) const { return m_unloading || i > ListView1->rowCount(); }

// What stops a run before it starts, beyond the two checks: a size or folder pair with neither
// on (edited settings; with neither mode on the run is joined), or no PDF printer. "" when the
// run can start.
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

// The run as the window drives it: the rows and options read from the controls for every row,
// each step under the handler's error trap, the picture in the picture holder.
ConversionJob::Caller Form1::conversionCaller(ErrorTrap& trap, bool joined) {
    ConversionJob::Caller caller;
    caller.rowCount = [this] { return ListView1->rowCount(); };
    caller.rowText = [this](int row) { return ListView1->rowText(row); };
    caller.options = [this] {
        RowOptions o;
        o.inFolder = Option5->isChecked();
        o.besideSource = Option6->isChecked();
        o.folder = Text1->text();
        o.keepSize = Option4->isChecked();
        o.stretch = Option3->isChecked();
        return o;
    };
    // The run's steps at the handler's line numbers.
    caller.step = [&trap, joined](ConversionJob::Step step, const std::function<void()>& f) {
        trap.at(conversionLine(joined, step), f);
    };
    caller.beginPass = [this, &trap, joined](int row, QString* source) {
        return !m_stopping && beginPass(trap, row, passLine(joined), source);
    };
    // Stopped by the user, a run of one PDF a picture finishes the PDF under way and starts no
    // other; one PDF of all the pictures is abandoned, leaving nothing.
    caller.cancelled = [this, joined] { return m_unloading || (joined && m_stopping); };
    caller.holder = &Creator->pictureSlot();
    caller.rowTurn = [this](int row) { return ListView1->rowTurn(row); };
    // While the run waits for text recognition, the bar counts the pages recognised.
    caller.recognitionProgress = [this](int recognised, int started) {
        const int pages = std::max(started, ListView1->rowCount());
        ProgressBar1->setExactValue(100.0 * recognised / std::max(1, pages));
        ProgressBar1->setBarText(QStringLiteral("Recognising text: %1 of %2 pages").arg(recognised).arg(pages));
    };
    return caller;
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
                bool perPicture = true;
                trap.at(110, [&] { perPicture = Option1->isChecked(); });
                ConversionJob job(m_services.printing, m_services.registry, m_services.decoder, m_config.outputWaitMs,
                                  conversionCaller(trap, !perPicture));
                m_stopping = false;
                const ConversionReport report = perPicture ? job.runPerPicture() : job.runJoined();
                if (m_stopping && !perPicture) {
                    m_services.printing.pdfDriver().abandonAll();
                    m_services.printing.pdfDriver().waitUntilIdle();
                }
                if (m_unloading) return;  // the window is gone: no report
                const bool stopped = m_stopping;
                const auto lines = [](const QStringList& paths) {
                    QString text;
                    for (const QString& path : paths) text += QStringLiteral("\r\n") + path;
                    return text;
                };
                InvalidPictures = lines(report.invalidPictures);

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
                if (!report.notCreated.isEmpty())
                    notCreated = QStringLiteral("\r\n\r\nThe following PDF files were not created: \r\n") +
                                 lines(report.notCreated);
                if (!report.incomplete.isEmpty())
                    notCreated += QStringLiteral("\r\n\r\nThe following PDF files lack pictures that changed "
                                                 "or were removed before they were printed: \r\n") +
                                  lines(report.incomplete);
                // After the lists, each failure's reason in words, as the log has it.
                QString reasons;
                for (const QString& path : report.invalidPictures)
                    if (const QString why = report.refusals.value(path); !why.isEmpty())
                        reasons += QStringLiteral("\r\n") + path + QStringLiteral(": ") + why;
                for (const QString& path : report.notCreated)
                    if (const QString why = report.whyNotCreated.value(path); !why.isEmpty())
                        reasons += QStringLiteral("\r\n") + path + QStringLiteral(": ") + why;
                if (!reasons.isEmpty()) reasons = QStringLiteral("\r\n\r\nReasons:") + reasons;
                trap.at(250, [&] {
                    m_services.dialogs.message((stopped ? QStringLiteral("Stopped.") : QStringLiteral("Done.")) +
                                               InvalidPictures + notCreated + reasons);
                });
            }
        }
    }
    trap.at(256, [&] { IsConverting = false; });
}

}  // namespace pictolio
