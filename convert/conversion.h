// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QHash>
#include <QMap>
#include <QString>
#include <QStringList>
#include <deque>
#include <functional>
#include <optional>
#include <vector>

#include "cleaning/page.h"
#include "convert/pdfprinter.h"
#include "imaging/imagesource.h"
#include "pictures/picture.h"
#include "pictures/readahead.h"
#include "recognition/recognition.h"

namespace pictolio {

class PrintService;
class Registry;

// How one row is converted, as its caller says when asked (the window reads its controls again
// for every row). One of each pair is normally on; with neither, nothing is drawn or no path is
// made, and the caller is expected to have refused to start.
struct RowOptions {
    bool inFolder = true;       // the PDF goes into `folder`
    bool besideSource = false;  // the PDF goes beside its picture
    QString folder;
    bool keepSize = true;  // drawn at its own size
    bool stretch = false;  // stretched over the printable area
};

// What became of a run: the rows that are not pictures, the PDF files made, those that did not
// come, and those that came without some pictures (changed or removed after they were checked).
struct ConversionReport {
    QStringList invalidPictures;
    QHash<QString, QString> refusals;  // why a file of invalidPictures is none ("truncated JPEG: ...")
    QStringList created;
    QStringList notCreated;
    QMap<QString, QString> whyNotCreated;  // a path of notCreated: why it was not made, when known
    QStringList incomplete;
    int pages = 0;  // pages printed, in all PDF files made
    QStringList textNotes;  // "x.pdf: no text on page 3: why": pages made without the text asked for
    QStringList pageNotes;  // "x.jpg: no page found, kept as it is": photos not made clean pages
    bool stopped = false;  // cancelled before the end
};

// The conversion run: every row printed on the PDF printer, one PDF per picture or all of them
// joined, each job handed its output path through the printer's settings and waited for. The
// window drives it from "Start Converting", pictolio-convert from the command line.
class ConversionJob {
public:
    // The steps of a run, as its caller is told of them (the window numbers them for its error
    // report). A joined run decides its output path first, then goes through the rows.
    enum class Step {
        CountRows,      // how many rows there are
        AskInFolder,    // whether the PDF goes into the folder
        PathInFolder,   // its path in the folder
        AskBeside,      // whether it goes beside its picture
        PathBeside,     // its path beside the picture
        CleanPath,      // doubled separators taken out of the path
        WriteSettings,  // the path handed to the PDF printer's settings
        SelectPrinter,  // the PDF printer made the current printer
        LoadPicture,    // the row's picture loaded into the holder
        PixelScale,     // the printer's scale set to pixels
        AskOwnSize,     // whether the picture is drawn at its own size
        DrawOwnSize,
        AskStretch,     // whether it is stretched over the printable area
        DrawStretched,
        AskMoreRows,    // joined: whether a row follows
        NewPage,        // joined: the next page begun
        EndDoc,         // the document handed to the printer
        WaitForPdf,     // joined: the wait for its PDF
    };

    struct Caller {
        std::function<int()> rowCount;            // asked again at every pass
        std::function<QString(int row)> rowText;  // rows from 1
        std::function<RowOptions()> options;      // asked whenever a row's output or drawing is decided
        // Runs a step of the run (the window: under its error trap). Default: runs it.
        std::function<void(Step, const std::function<void()>& step)> step;
        // The start of pass `row`: sets *source to the row's text. False ends the run. Default:
        // reads the row.
        std::function<bool(int row, QString* source)> beginPass;
        // True stops the run where it is (the window closed, Ctrl+C): no joined PDF is made.
        std::function<bool()> cancelled;
        // The picture being printed (the window's picture holder).
        Picture* holder = nullptr;
        // Quarter turns clockwise the picture of a row is printed turned by (on top of its EXIF
        // orientation). Default: none.
        std::function<int(int row)> rowTurn;
        // The text recognised in a PDF file just made, each page's followed by a form feed.
        // Default: not kept.
        std::function<void(const QString& pdf, const std::string& text)> recognisedText;
        // With text recognition on: pages whose text is recognised, of those started, in this
        // run; told as it changes. Default: not told.
        std::function<void(int recognised, int started)> recognitionProgress;
    };

    ConversionJob(PrintService& printing, Registry& registry, const PictureDecoder& decoder, int waitMs,
                  Caller caller);

    ConversionReport runPerPicture();
    ConversionReport runJoined();

private:
    QString outputPathFor(const QString& source);
    bool drawPicture();
    bool loadPicture(int row, const QString& source, QString* invalid);
    void cleanPages(const QString& source);
    void compactPages(const QString& source);
    void notePage(const QString& source, int page, const QString& note);
    void step(Step step, const std::function<void()>& f);
    bool cancelled() const { return m_caller.cancelled && m_caller.cancelled(); }
    bool beginPass(int row, QString* source);
    bool outputIsUsable(const QString& outputPath, const QString& source);
    // The steps both kinds of run take, in the order they take them.
    bool openOutput(pdfprinter::SettingsLock& lock, const QString& output, const QString& source, bool* abandoned);
    enum class Printed { Skipped, Nothing, Drawn };  // Skipped: not a picture, or no PDF to be made
    Printed printRow(int row, const QString& source, bool usable);
    // A PDF handed to the printer, to be waited for.
    struct Handed {
        QString output;
        imaging::FileIdentity before;   // what stood at its path before
        imaging::FileIdentity picture;  // the picture it is made of (one PDF per picture)
        quint64 job = 0;
        int pages = 0;
        int listedAt = -1;  // where it goes among the PDFs not created, were it not: in the order of the rows
    };
    std::optional<Handed> endDocument(pdfprinter::SettingsLock& lock, const QString& output, bool drawn);
    void waitForHanded(std::size_t keep, bool stoppable);
    ConversionReport finish(bool stopped);
    bool lockSettings(pdfprinter::SettingsLock& lock, const QString& outputPath, bool* abandoned);
    void keepPaceWithRecognition();
    // Tells the caller how far recognition has come in this run, when that changed.
    void tellRecognition();
    void waitForOutput(const Handed& pdf, bool stoppable = true);
    void noteRunSources();
    QString clearOfRunOutputs(const QString& outputPath, const QString& source) const;
    void notCreated(const QString& outputPath, const QString& why, bool logged = false, int at = -1);
    void noteInvalid(const QString& source);

    PrintService& m_printing;
    Registry& m_registry;
    PictureReadAhead m_readAhead;
    bool m_joined = false;  // the run under way makes one PDF of all its pictures
    int m_waitMs;
    Caller m_caller;
    Picture m_ownHolder;
    ConversionReport m_report;
    std::vector<imaging::FileIdentity> m_runSources;  // the files in the list when the run began
    struct RunOutput {
        imaging::FileIdentity pdf, picture;
    };
    std::vector<RunOutput> m_runOutputs;  // the PDFs the run has made, and the pictures they came from
    std::deque<Handed> m_handed;  // one PDF per picture: handed to the printer, not yet waited for
    bool m_settingsLockGivenUp = false;
    recognition::TextRecognition::Count m_recognitionBefore;  // the pool's count as the run began
    recognition::TextRecognition::Count m_recognitionTold;
    PictureDecoder::Frames m_frames = PictureDecoder::Frames::First;
    // As the printer's preferences say when the run begins: photos of documents made clean pages,
    // pages of print made compact (at the JPEG quality given; 0: not).
    std::optional<cleaning::CleaningOptions> m_cleaning;
    int m_compactQuality = 0;
};

}  // namespace pictolio
