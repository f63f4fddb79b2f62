// SPDX-License-Identifier: GPL-3.0-or-later
#include "recognition/recogniser.h"

#include <leptonica/allheaders.h>
#include <omp.h>
#include <tesseract/baseapi.h>
#include <tesseract/ocrclass.h>
#include <tesseract/resultiterator.h>

#include <QDir>
#include <QFile>
#include <QLocale>
#include <QMap>
#include <QRegularExpression>
#include <algorithm>
#include <cmath>

namespace recognition {

namespace languages {

QString dataFolder() {
    const QString prefix = qEnvironmentVariable("TESSDATA_PREFIX");
    if (!prefix.isEmpty()) return QDir::cleanPath(prefix);
    for (const char* folder : {"/usr/share/tesseract-ocr/5/tessdata", "/usr/share/tesseract-ocr/4.00/tessdata",
                               "/usr/share/tessdata"})
        if (QDir(QString::fromLatin1(folder)).exists()) return QString::fromLatin1(folder);
    return QStringLiteral("/usr/share/tesseract-ocr/5/tessdata");
}

QStringList installed() {
    QStringList codes;
    for (const QString& file : QDir(dataFolder()).entryList({QStringLiteral("*.traineddata")}, QDir::Files)) {
        const QString code = file.chopped(int(sizeof(".traineddata") - 1));
        if (code != QLatin1String("osd") && code != QLatin1String("equ")) codes << code;
    }
    codes.sort();
    return codes;
}

QString displayName(const QString& code) {
    const QString base = code.section(QLatin1Char('_'), 0, 0);
    QLocale::Language language = QLocale::codeToLanguage(base, QLocale::ISO639Part2);
    if (language == QLocale::AnyLanguage) language = QLocale::codeToLanguage(base, QLocale::ISO639Part3);
    if (language == QLocale::AnyLanguage) return code;
    QString name = QLocale::languageToString(language);
    if (code.contains(QLatin1Char('_'))) name += QStringLiteral(" (%1)").arg(code.section(QLatin1Char('_'), 1));
    return name;
}

QString packageOf(const QString& code) {
    return QStringLiteral("tesseract-ocr-") + code.toLower().replace(QLatin1Char('_'), QLatin1Char('-'));
}

pictolio::Outcome<pictolio::Done> check(const QString& languages) {
    using pictolio::Failure;
    const auto refused = [](const QString& why) { return Failure{why, Failure::Kind::Refused}; };
    if (languages.trimmed().isEmpty()) return refused(QStringLiteral("no language given"));
    const QStringList have = installed();
    for (const QString& code : languages.split(QLatin1Char('+'))) {
        static const QRegularExpression form(QStringLiteral("^[A-Za-z][A-Za-z0-9_]*$"));
        if (!form.match(code).hasMatch()) return refused(QStringLiteral("\"%1\" is not a language name").arg(code));
        if (have.contains(code)) continue;
        if (code == QLatin1String("osd"))
            return refused(QStringLiteral("\"osd\" finds how pages are turned, and reads no text: name a language (%1)")
                               .arg(have.isEmpty() ? QStringLiteral("eng") : have.join(QStringLiteral(", "))));
        for (const QString& installedCode : have)
            if (installedCode.compare(code, Qt::CaseInsensitive) == 0)
                return refused(QStringLiteral("there is no language \"%1\": language names are written \"%2\"")
                                   .arg(code, installedCode));
        return Failure{QStringLiteral("the text recognition data for \"%1\" is not installed (Debian package %2)")
                           .arg(code, packageOf(code)),
                       Failure::Kind::Missing};
    }
    return pictolio::Done{};
}

}  // namespace languages

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

}  // namespace

Recogniser::Recogniser(const std::string& languages) : m_languages(languages) {
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
    const QByteArray data = QFile::encodeName(languages::dataFolder());
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

Recogniser::~Recogniser() = default;

std::vector<imaging::Rect> wordBoxes(const RecognisedText& text) {
    std::vector<imaging::Rect> boxes;
    const double w = text.width, h = text.height;
    if (w <= 0 || h <= 0) return boxes;
    // A point of the upright picture, on the picture as stored: the turn undone.
    const auto stored = [&](double x, double y) -> std::pair<double, double> {
        switch (text.turn) {
            case 90: return {y, h - x};
            case 180: return {w - x, h - y};
            case 270: return {w - y, x};
            default: return {x, y};
        }
    };
    for (const RecognisedWord& word : text.words) {
        const auto [x1, y1] = stored(word.left, word.top);
        const auto [x2, y2] = stored(word.right, word.bottom);
        boxes.push_back({std::min(x1, x2) / w, std::min(y1, y2) / h, std::abs(x2 - x1) / w, std::abs(y2 - y1) / h});
    }
    return boxes;
}

std::string plainText(const RecognisedText& text) {
    std::string out;
    for (const RecognisedWord& word : text.words) {
        out += word.text;
        out += word.endsLine ? '\n' : ' ';
    }
    return out;
}

imaging::GreyImage turned(const imaging::GreyImage& image, int degrees) {
    degrees = ((degrees % 360) + 360) % 360;
    if (degrees == 0) return image;
    imaging::GreyImage out;
    const bool swap = degrees != 180;
    out.width = swap ? image.height : image.width;
    out.height = swap ? image.width : image.height;
    out.pixels.resize(image.pixels.size());
    const int w = image.width, h = image.height;
    for (int y = 0; y < h; ++y) {
        const std::uint8_t* row = image.pixels.data() + std::size_t(y) * std::size_t(w);
        for (int x = 0; x < w; ++x) {
            int tx, ty;
            if (degrees == 90) tx = h - 1 - y, ty = x;            // clockwise
            else if (degrees == 180) tx = w - 1 - x, ty = h - 1 - y;
            else tx = y, ty = w - 1 - x;                           // 270 clockwise
            out.pixels[std::size_t(ty) * std::size_t(out.width) + std::size_t(tx)] = row[x];
        }
    }
    return out;
}

imaging::GreyImage scaled(const imaging::GreyImage& image, int width, int height) {
    if (image.isNull() || width <= 0 || height <= 0 || width > image.width || height > image.height) return {};
    // Each pixel is the mean of the area it covers: the taps of one axis, a first source pixel and
    // the weights of it and those after it.
    struct Taps {
        int first = 0;
        std::vector<float> weights;
    };
    const auto tapsOf = [](int from, int to) {
        std::vector<Taps> all(std::size_t(to), Taps{});
        const double step = double(from) / to;
        for (int i = 0; i < to; ++i) {
            const double a = i * step, b = std::min(double(from), (i + 1) * step);
            Taps& t = all[std::size_t(i)];
            t.first = int(a);
            for (int k = t.first; k < b; ++k)
                t.weights.push_back(float((std::min(double(k + 1), b) - std::max(double(k), a)) / (b - a)));
        }
        return all;
    };
    const std::vector<Taps> across = tapsOf(image.width, width), down = tapsOf(image.height, height);
    std::vector<float> rows(std::size_t(width) * std::size_t(image.height));
    for (int y = 0; y < image.height; ++y) {
        const std::uint8_t* from = image.pixels.data() + std::size_t(y) * std::size_t(image.width);
        float* to = rows.data() + std::size_t(y) * std::size_t(width);
        for (int x = 0; x < width; ++x) {
            const Taps& t = across[std::size_t(x)];
            float sum = 0;
            for (std::size_t k = 0; k < t.weights.size(); ++k) sum += t.weights[k] * from[std::size_t(t.first) + k];
            to[x] = sum;
        }
    }
    imaging::GreyImage out;
    out.width = width;
    out.height = height;
    out.pixels.resize(std::size_t(width) * std::size_t(height));
    std::vector<float> sum(static_cast<std::size_t>(width));
    for (int y = 0; y < height; ++y) {
        const Taps& t = down[std::size_t(y)];
        std::fill(sum.begin(), sum.end(), 0.0f);
        for (std::size_t k = 0; k < t.weights.size(); ++k) {
            const float* row = rows.data() + (std::size_t(t.first) + k) * std::size_t(width);
            for (std::size_t x = 0; x < sum.size(); ++x) sum[x] += t.weights[k] * row[x];
        }
        std::uint8_t* to = out.pixels.data() + std::size_t(y) * std::size_t(width);
        for (std::size_t x = 0; x < sum.size(); ++x) to[x] = std::uint8_t(std::clamp(std::lround(sum[x]), 0L, 255L));
    }
    return out;
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

namespace {

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

}  // namespace

double Recogniser::setPicture(const imaging::GreyImage& stored, int dpi, int turn) {
    const imaging::GreyImage turnedImage = turn ? turned(stored, turn) : imaging::GreyImage{};
    const imaging::GreyImage& upright = turn ? turnedImage : stored;
    double angle = 0;
    const imaging::GreyImage level = levelled(upright, &angle);
    const imaging::GreyImage& image = level.isNull() ? upright : level;
    m_api->SetImage(image.pixels.data(), image.width, image.height, 1, image.width);  // (copied)
    m_api->SetSourceResolution(dpi);
    return angle;
}

Recogniser::Print Recogniser::print(const imaging::GreyImage& stored, int dpi, int turn, bool quick) {
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

int Recogniser::detectTurn(const imaging::GreyImage& image, int dpi) {
    if (m_osdFailed) return -1;
    if (!m_osd) {
        m_osd = std::make_unique<tesseract::TessBaseAPI>();
        const QByteArray data = QFile::encodeName(languages::dataFolder());
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

Recognised Recogniser::read(const imaging::GreyImage& stored, int dpi, int turn, const std::atomic<bool>* cancel,
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
