// SPDX-License-Identifier: GPL-3.0-or-later
// The recogniser's module: Tesseract, loaded by the program when it first recognises text.
#include "recognition/recogniser.h"

#include <leptonica/allheaders.h>
#include <omp.h>
#include <tesseract/baseapi.h>
#include <tesseract/ocrclass.h>
#include <tesseract/resultiterator.h>

#include <QByteArray>
#include <algorithm>
#include <cmath>

namespace recognition {

namespace {

// Tesseract asks this as it goes: true stops it. The words found so far count as progress.
struct Watch {
    const std::atomic<bool>* cancel;
    std::atomic<std::uint64_t>* progress;
};

bool stopAsked(void* data, int) {
    const auto* watch = static_cast<const Watch*>(data);
    if (watch->progress) watch->progress->fetch_add(1, std::memory_order_relaxed);
    return watch->cancel && watch->cancel->load(std::memory_order_relaxed);
}

void quieten(tesseract::TessBaseAPI& api) {
    api.SetVariable("debug_file", "/dev/null");  // its warnings would go to the program's stderr
}

// The line the iterator stands in: its baseline, and the height of its letters above it, the
// same for all its words, so that readers take them for one line whatever their descenders.
RecognisedLine lineAt(const tesseract::PageIterator& it) {
    RecognisedLine line;
    int left = 0, top = 0, right = 0, bottom = 0, x1 = 0, y1 = 0, x2 = 0, y2 = 0;
    it.BoundingBox(tesseract::RIL_TEXTLINE, &left, &top, &right, &bottom);
    if (!it.Baseline(tesseract::RIL_TEXTLINE, &x1, &y1, &x2, &y2) || x2 <= x1) x1 = left, x2 = right, y1 = y2 = bottom;
    line.x1 = x1, line.y1 = y1, line.x2 = x2, line.y2 = y2;
    // The box of a sloping line is taller than its letters by the slope across it.
    const double middle = (left + right) / 2.0;
    const double slope = std::abs(double(y2 - y1) / double(x2 - x1)) * (right - left);
    line.size = line.baselineAt(middle) - (top + slope / 2);
    if (line.size < 0.3 * (bottom - top)) line.size = 0.75 * (bottom - top);
    line.size = std::max(line.size, 1.0);
    return line;
}


imaging::GreyImage levelled(const imaging::GreyImage& image, double* angle) {
    *angle = 0;
    if (image.width < 64 || image.height < 64) return {};
    const auto freed = [](PIX* p) { pixDestroy(&p); };
    const std::unique_ptr<PIX, decltype(freed)> grey(pixCreate(image.width, image.height, 8), freed);
    if (!grey) return {};
    for (int y = 0; y < image.height; ++y) {
        l_uint32* line = pixGetData(grey.get()) + std::ptrdiff_t(y) * pixGetWpl(grey.get());
        const std::uint8_t* row = image.pixels.data() + std::size_t(y) * std::size_t(image.width);
        for (int x = 0; x < image.width; ++x) SET_DATA_BYTE(line, x, row[x]);
    }
    const std::unique_ptr<PIX, decltype(freed)> ink(pixThresholdToBinary(grey.get(), 128), freed);
    l_float32 degrees = 0, confidence = 0;
    if (!ink || pixFindSkew(ink.get(), &degrees, &confidence) != 0) return {};
    // Lines within half a degree read as well as level ones; a weak finding (a photo, a few
    // words) leaves the picture as it is.
    if (std::abs(degrees) < 0.5f || confidence < 3.0f) return {};
    const std::unique_ptr<PIX, decltype(freed)> level(
        pixRotate(grey.get(), degrees * float(M_PI / 180), L_ROTATE_AREA_MAP, L_BRING_IN_WHITE, 0, 0), freed);
    if (!level || pixGetWidth(level.get()) != image.width || pixGetHeight(level.get()) != image.height) return {};
    imaging::GreyImage out;
    out.width = image.width, out.height = image.height;
    out.pixels.resize(image.pixels.size());
    for (int y = 0; y < image.height; ++y) {
        const l_uint32* line = pixGetData(level.get()) + std::ptrdiff_t(y) * pixGetWpl(level.get());
        std::uint8_t* row = out.pixels.data() + std::size_t(y) * std::size_t(image.width);
        for (int x = 0; x < image.width; ++x) row[x] = std::uint8_t(GET_DATA_BYTE(line, x));
    }
    *angle = degrees;
    return out;
}



// Words and lines found on the levelled picture, put back where they stand on the picture as it
// was (turned back by angle degrees about its centre).
void unlevel(RecognisedText& text, int width, int height, double angle) {
    const double r = angle * M_PI / 180, c = std::cos(r), s = std::sin(r), cx = width / 2.0, cy = height / 2.0;
    const auto back = [&](double x, double y, double& outX, double& outY) {
        outX = cx + (x - cx) * c + (y - cy) * s;
        outY = cy - (x - cx) * s + (y - cy) * c;
    };
    for (RecognisedLine& line : text.lines) {
        back(line.x1, line.y1, line.x1, line.y1);
        back(line.x2, line.y2, line.x2, line.y2);
    }
    for (RecognisedWord& word : text.words) {
        double left = 1e18, top = 1e18, right = -1e18, bottom = -1e18;
        for (const auto& [x, y] : {std::pair{word.left, word.top}, {word.right, word.top}, {word.left, word.bottom},
                                   {word.right, word.bottom}}) {
            double px, py;
            back(x, y, px, py);
            left = std::min(left, px), right = std::max(right, px), top = std::min(top, py), bottom = std::max(bottom, py);
        }
        word.left = int(std::lround(left)), word.right = int(std::lround(right));
        word.top = int(std::lround(top)), word.bottom = int(std::lround(bottom));
    }
}

// Collects the recognised words, line by line. In logical order, Tesseract's result iterator
// turns right-to-left words and lines about (reordering each line at each word). Otherwise the
// words come as laid out, left to right; that fails, giving false, on the first right-to-left word.
bool readWords(tesseract::TessBaseAPI& api, RecognisedText& text, bool logical) {
    text.words.clear();
    text.lines.clear();
    const std::unique_ptr<tesseract::ResultIterator> it(api.GetIterator());
    if (!it) return true;
    using Iterator = tesseract::LTRResultIterator;
    bool newLine = true;
    do {
        newLine = newLine || (logical ? it->IsAtBeginningOf(tesseract::RIL_TEXTLINE)
                                      : it->Iterator::IsAtBeginningOf(tesseract::RIL_TEXTLINE));
        if (it->Empty(tesseract::RIL_WORD)) continue;
        const tesseract::StrongScriptDirection direction = it->WordDirection();
        const bool rightToLeft = direction == tesseract::DIR_RIGHT_TO_LEFT;
        if (!logical && (rightToLeft || direction == tesseract::DIR_MIX)) return false;
        const std::unique_ptr<char[]> utf8(logical ? it->GetUTF8Text(tesseract::RIL_WORD)
                                                   : it->Iterator::GetUTF8Text(tesseract::RIL_WORD));
        if (!utf8 || !*utf8.get()) continue;
        RecognisedWord word;
        it->BoundingBox(tesseract::RIL_WORD, &word.left, &word.top, &word.right, &word.bottom);
        if (word.right <= word.left || word.bottom <= word.top) continue;
        if (newLine) {
            if (!text.words.empty()) text.words.back().endsLine = true;
            text.lines.push_back(lineAt(*it));
            newLine = false;
        }
        word.text = utf8.get();
        word.line = text.lines.size() - 1;
        word.rightToLeft = rightToLeft;
        text.words.push_back(std::move(word));
    } while (logical ? it->Next(tesseract::RIL_WORD) : it->Iterator::Next(tesseract::RIL_WORD));
    return true;
}


class TesseractRecogniser : public Recogniser {
public:
    TesseractRecogniser(const std::string& languages, const QByteArray& dataFolder);
    const std::string& languages() const override { return m_languages; }
    Recognised read(const imaging::GreyImage& image, int dpi, int turn, const std::atomic<bool>* cancel,
                    std::atomic<std::uint64_t>* progress, int* confidence) override;
    int detectTurn(const imaging::GreyImage& image, int dpi) override;
    Print print(const imaging::GreyImage& image, int dpi, int turn, bool quick) override;

private:
    // Gives the recogniser the picture turned upright and levelled; the degrees it was levelled by.
    double setPicture(const imaging::GreyImage& stored, int dpi, int turn);

    std::string m_languages;
    QByteArray m_dataFolder;
    std::string m_error;
    std::unique_ptr<tesseract::TessBaseAPI> m_api;
    std::unique_ptr<tesseract::TessBaseAPI> m_osd;  // orientation detection, set up when first needed
    bool m_osdFailed = false;
    // The picture laid out last (by print(), as turned), whose reading reuses its layout.
    struct LaidOut {
        const void* pixels = nullptr;
        int width = 0, height = 0, turn = 0;
        double angle = 0;  // what the picture was turned by to level its lines
    } m_laidOut;
};

TesseractRecogniser::TesseractRecogniser(const std::string& languages, const QByteArray& dataFolder)
    : m_languages(languages), m_dataFolder(dataFolder) {
    // Tesseract asks OpenMP for four threads on parts of every line, on top of the recognisers'
    // own, one per core: they fought over the cores and took 8 times as long (a 300-dpi page: 22 s
    // against 2.5 s). No parallel regions at all. OpenMP keeps the setting for each thread: it is
    // made once in each thread that recognises.
    static thread_local const bool oneThreadEach = [] {
        omp_set_max_active_levels(0);
        return true;
    }();
    (void)oneThreadEach;
    m_api = std::make_unique<tesseract::TessBaseAPI>();
    const QByteArray& data = m_dataFolder;
    if (m_api->Init(data.constData(), languages.c_str(), tesseract::OEM_LSTM_ONLY) != 0) {
        m_error = "the recognition data for \"" + languages + "\" cannot be loaded from " + data.toStdString();
        m_api.reset();
        return;
    }
    quieten(*m_api);
    m_api->SetPageSegMode(tesseract::PSM_AUTO);
    // Reading every doubtful line again inverted (white on black) costs a third more time and
    // finds nothing on pages of dark text on light paper, which scans and photos of paper are.
    m_api->SetVariable("tessedit_do_invert", "0");
}

}  // namespace

double TesseractRecogniser::setPicture(const imaging::GreyImage& stored, int dpi, int turn) {
    const imaging::GreyImage turnedImage = turn ? turned(stored, turn) : imaging::GreyImage{};
    const imaging::GreyImage& upright = turn ? turnedImage : stored;
    double angle = 0;
    const imaging::GreyImage level = levelled(upright, &angle);
    const imaging::GreyImage& image = level.isNull() ? upright : level;
    m_api->SetImage(image.pixels.data(), image.width, image.height, 1, image.width);  // (copied)
    m_api->SetSourceResolution(dpi);
    return angle;
}

Recogniser::Print TesseractRecogniser::print(const imaging::GreyImage& stored, int dpi, int turn, bool quick) {
    if (!m_api) return {};
    const double angle = setPicture(stored, dpi, turn);
    if (quick) m_api->SetPageSegMode(tesseract::PSM_SINGLE_BLOCK);
    std::vector<double> sizes, slopes;
    if (const std::unique_ptr<tesseract::PageIterator> it(m_api->AnalyseLayout()); it) {
        do {
            if (it->Empty(tesseract::RIL_TEXTLINE)) continue;
            const RecognisedLine line = lineAt(*it);
            sizes.push_back(line.size);
            slopes.push_back(std::abs((line.y2 - line.y1) / (line.x2 - line.x1)));
        } while (it->Next(tesseract::RIL_TEXTLINE));
    }
    // Read next, the picture needs no layout again.
    m_laidOut = {stored.pixels.data(), stored.width, stored.height, turn, angle};
    if (quick) {
        m_api->Clear();
        m_api->SetPageSegMode(tesseract::PSM_AUTO);
        m_laidOut = {};
    }
    if (sizes.size() < 3) return {};  // a few lines (a photo's) say little of the print
    const auto median = [](std::vector<double>& v) {
        std::nth_element(v.begin(), v.begin() + std::ptrdiff_t(v.size() / 2), v.end());
        return v[v.size() / 2];
    };
    return {median(sizes), median(slopes)};
}

int TesseractRecogniser::detectTurn(const imaging::GreyImage& image, int dpi) {
    if (m_osdFailed) return -1;
    if (!m_osd) {
        m_osd = std::make_unique<tesseract::TessBaseAPI>();
        const QByteArray data = m_dataFolder;
        if (m_osd->Init(data.constData(), "osd", tesseract::OEM_TESSERACT_ONLY) != 0) {
            m_osd.reset();
            m_osdFailed = true;
            return -1;
        }
        quieten(*m_osd);
        m_osd->SetPageSegMode(tesseract::PSM_OSD_ONLY);
    }
    m_osd->SetImage(image.pixels.data(), image.width, image.height, 1, image.width);
    m_osd->SetSourceResolution(dpi);
    int degrees = 0;
    float confidence = 0, scriptConfidence = 0;
    const char* script = nullptr;
    const bool found = m_osd->DetectOrientationScript(&degrees, &confidence, &script, &scriptConfidence);
    m_osd->Clear();
    // Tesseract names how far the picture is turned clockwise from upright; a weak guess (a
    // photo with a few words) leaves the page as it is.
    constexpr float sure = 2.0f;
    if (!found || confidence < sure) return -1;
    return (360 - degrees) % 360;
}

Recognised TesseractRecogniser::read(const imaging::GreyImage& stored, int dpi, int turn, const std::atomic<bool>* cancel,
                            std::atomic<std::uint64_t>* progress, int* confidence) {
    using pictolio::Failure;
    RecognisedText text;
    text.width = stored.width;
    text.height = stored.height;
    if (!m_api) return Failure{QString::fromStdString(m_error), Failure::Kind::Missing};
    text.turn = turn;
    const bool laidOut = m_laidOut.pixels == stored.pixels.data() && m_laidOut.width == stored.width &&
                         m_laidOut.height == stored.height && m_laidOut.turn == turn;
    const double angle = laidOut ? m_laidOut.angle : setPicture(stored, dpi, turn);
    m_laidOut = {};
    Watch watch{cancel, progress};
    tesseract::ETEXT_DESC monitor;
    monitor.cancel = stopAsked;
    monitor.cancel_this = &watch;
    if (m_api->Recognize(&monitor) != 0) {
        m_api->Clear();
        if (cancel && cancel->load()) return Failure{QStringLiteral("stopped"), Failure::Kind::Stopped};
        return Failure{QStringLiteral("recognition failed")};
    }
    // Lines with no right-to-left word are taken as laid out; Tesseract's own reading order, for
    // right-to-left lines, costs a twentieth of the reading again.
    if (!readWords(*m_api, text, false)) readWords(*m_api, text, true);
    if (!text.words.empty()) text.words.back().endsLine = true;
    // Tesseract reads lines on their side as they stand, each word as sure as upright: a page
    // whose longer words stand taller than wide does not read well, however sure the words.
    std::size_t longWords = 0, tall = 0;
    for (const RecognisedWord& word : text.words)
        if (word.text.size() >= 4) ++longWords, tall += word.bottom - word.top > word.right - word.left;
    text.confidence = m_api->MeanTextConf();
    if (angle != 0) {
        const bool sideways = turn == 90 || turn == 270;
        unlevel(text, sideways ? stored.height : stored.width, sideways ? stored.width : stored.height, angle);
    }
    if (confidence) *confidence = tall * 2 > longWords ? 0 : text.confidence;
    m_api->Clear();
    return text;
}


}  // namespace recognition

extern "C" __attribute__((visibility("default"))) recognition::Recogniser* pictolioMakeRecogniser(const char* languages,
                                                                                                const char* dataFolder) {
    return new recognition::TesseractRecogniser(languages, dataFolder);
}
