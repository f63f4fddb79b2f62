// SPDX-License-Identifier: GPL-3.0-or-later
#include "recognition/recogniser.h"

#include "common/installdirs.h"

#include <dlfcn.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLocale>
#include <QMap>
#include <QRegularExpression>
#include <algorithm>
#include <cmath>
#include <mutex>

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

// The module's maker, loaded once for the whole program; null, with why, when it cannot be.
struct Module {
    MakeRecogniser make = nullptr;
    std::string error;
};

const Module& module() {
    static const Module loaded = [] {
        Module m;
        const QByteArray path = QFile::encodeName(pictolio::recogniserModule(QCoreApplication::applicationDirPath()));
        void* handle = ::dlopen(path.constData(), RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
            const char* why = ::dlerror();
            m.error = "the text recogniser cannot be loaded: " + std::string(why ? why : path.constData());
            return m;
        }
        m.make = reinterpret_cast<MakeRecogniser>(::dlsym(handle, "pictolioMakeRecogniser"));
        if (!m.make) m.error = "the text recogniser cannot be loaded: " + path.toStdString() + " is not the program's";
        return m;  // (kept loaded to the end)
    }();
    return loaded;
}

// A recogniser that cannot read, and says why.
class Unavailable : public Recogniser {
public:
    Unavailable(std::string languages, std::string why) : m_languages(std::move(languages)), m_why(std::move(why)) {}
    const std::string& languages() const override { return m_languages; }
    Recognised read(const imaging::GreyImage&, int, int, const std::atomic<bool>*, std::atomic<std::uint64_t>*,
                    int*) override {
        return pictolio::Failure{QString::fromStdString(m_why), pictolio::Failure::Kind::Missing};
    }
    int detectTurn(const imaging::GreyImage&, int) override { return -1; }
    Print print(const imaging::GreyImage&, int, int, bool) override { return {}; }

private:
    std::string m_languages, m_why;
};

}  // namespace

std::unique_ptr<Recogniser> Recogniser::make(const std::string& languages) {
    const Module& m = module();
    if (!m.make) return std::make_unique<Unavailable>(languages, m.error);
    const QByteArray data = QFile::encodeName(languages::dataFolder());
    return std::unique_ptr<Recogniser>(m.make(languages.c_str(), data.constData()));
}

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


}  // namespace recognition
