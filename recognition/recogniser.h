// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "common/outcome.h"
#include <QString>
#include <QStringList>
#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "imaging/imagesource.h"

namespace recognition {

// The recognition data installed (Tesseract's "traineddata" files), and what users call it.
namespace languages {

// The folder of recognition data: $TESSDATA_PREFIX, else the system's.
QString dataFolder();
// The languages whose data is installed ("eng", "deu", ...), sorted; not the orientation data.
QStringList installed();
// "English", "German", ...; the code itself when it has no name.
QString displayName(const QString& code);
// The Debian package that brings a language's data ("tesseract-ocr-deu").
QString packageOf(const QString& code);
// Checks languages joined with "+" ("eng+deu"): each installed, or why not.
pictolio::Outcome<pictolio::Done> check(const QString& languages);

}  // namespace languages

// One word recognised, on the picture turned so that its text reads upright; pixels of the grey
// picture recognised, y downwards.
struct RecognisedWord {
    int left = 0, top = 0, right = 0, bottom = 0;
    std::string text;  // UTF-8, in the order it is read
    bool endsLine = false;
    std::size_t line = 0;  // its line, in RecognisedText::lines
    bool rightToLeft = false;
};

// A line of text: its words stand on one baseline, through (x1, y1) and (x2, y2), and share one
// size, the height of its letters above the baseline (same pixels as the words).
struct RecognisedLine {
    double x1 = 0, y1 = 0, x2 = 1, y2 = 0;
    double size = 0;
    // The baseline's height at x.
    double baselineAt(double x) const { return x2 != x1 ? y1 + (y2 - y1) * (x - x1) / (x2 - x1) : y1; }
};

// What recognition found on one picture.
struct RecognisedText {
    int width = 0, height = 0;  // the grey picture recognised, as stored (before the turn)
    int turn = 0;               // degrees clockwise the stored picture turns to read upright
    bool turnsPage = false;     // the turn was found from the text: the page turns with it
    std::vector<RecognisedWord> words;  // in reading order
    std::vector<RecognisedLine> lines;
    int confidence = -1;                // how sure the recogniser is of its words, 0 to 100

    // Whether the words read so poorly that they are likely wrong: worth a warning.
    bool readsPoorly() const { return words.size() >= 3 && confidence >= 0 && confidence < 50; }
};

// The text of a picture, or why there is none (Failure::Kind::Stopped when it was stopped).
using Recognised = pictolio::Outcome<RecognisedText>;

// Each word's box on the picture as stored (before its turn), as shares of its width and height,
// y downwards.
std::vector<imaging::Rect> wordBoxes(const RecognisedText& text);

// The text as a reader takes it out: words in reading order, a space between the words of a
// line, a line break after each line.
std::string plainText(const RecognisedText& text);

// Tesseract, set up for the given languages: one per thread, kept from picture to picture. It
// lives in a module of its own, loaded when the first recogniser is made: Tesseract and the sixty
// libraries it needs take longer to load than a run without recognition takes to convert dozens
// of photos.
class Recogniser {
public:
    virtual ~Recogniser() = default;

    // A recogniser for the given languages ("eng+deu"); when Tesseract or the languages cannot be
    // loaded, one whose readings fail, saying why.
    static std::unique_ptr<Recogniser> make(const std::string& languages);

    virtual const std::string& languages() const = 0;

    // Recognises the words of a grey picture shown at dpi, turned clockwise by turn to stand
    // upright. Stops soon after *cancel becomes true; *progress moves while it works.
    // confidence: gets how well it read (0 to 100), for readsWell.
    virtual Recognised read(const imaging::GreyImage& image, int dpi, int turn, const std::atomic<bool>* cancel,
                            std::atomic<std::uint64_t>* progress, int* confidence) = 0;
    // Whether words so read read well enough not to be looked at for another turn: upright printed
    // text reads at 85 to 95, text on its side or upside down far below 70.
    static bool readsWell(const RecognisedText& text, int confidence) {
        return confidence >= 70 && text.words.size() >= 3;
    }
    // How far the stored picture turns clockwise for its text to stand upright; -1 when that
    // cannot be told. Orientation detection costs a fifth of a reading, and needs larger letters
    // than reading does (about twice).
    virtual int detectTurn(const imaging::GreyImage& image, int dpi) = 0;

    // The print of a grey picture, as the layout finds its lines of text (a fraction of the time
    // reading takes, which a reading of the same picture next does not take again; quick: the
    // lines of one block, a third of the time, and not kept for the reading): how tall its
    // letters stand above their baselines, in its pixels, and how steeply its lines slope; the
    // medians over its lines (0 when it has fewer than three). turn: degrees clockwise the
    // picture turns to stand upright.
    struct Print {
        double letters = 0, slope = 0;
    };
    virtual Print print(const imaging::GreyImage& image, int dpi, int turn, bool quick = false) = 0;

    // Level letters read as well at this height (pixels above the baseline) as at any greater:
    // the recogniser scales each line to a fixed height of its own. 12-point print stands 13
    // pixels tall at 108 dpi, 8-point print at 150 dpi, and both read as at 300 dpi; at 11 pixels
    // they make errors, and so do small letters on lines that slope a degree or more.
    static constexpr double tallLetters = 13;
    // Letters measured at fewer pixels than this on a small copy are measured again on a larger.
    static constexpr double measurableLetters = 8;
    static constexpr double levelSlope = 0.015;
};

// What the recogniser's module gives: a recogniser for the languages, with its recognition data
// in dataFolder; never null.
extern "C" {
using MakeRecogniser = Recogniser* (*)(const char* languages, const char* dataFolder);
}

// The grey picture made smaller, to width x height (each no greater than the picture's), each
// pixel the mean of what it covers; a null image when it cannot be.
imaging::GreyImage scaled(const imaging::GreyImage& image, int width, int height);

// The grey picture turned clockwise by 90, 180 or 270 degrees.
imaging::GreyImage turned(const imaging::GreyImage& image, int degrees);

}  // namespace recognition
