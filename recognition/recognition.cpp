// SPDX-License-Identifier: GPL-3.0-or-later
#include "recognition/recognition.h"

#include <sched.h>

#include <algorithm>
#include <cmath>

namespace recognition {

struct PendingText::Task {
    std::shared_ptr<const imaging::ImageSource> image;
    std::string languages;
    int dpi = 300;
    bool findTurn = false;
    int knownTurn = 0;
    std::atomic<bool> cancelled{false};
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    Recognised result = pictolio::Failure{};
};

PendingText::~PendingText() { m_task->cancelled = true; }

const Recognised& PendingText::get() const {
    std::unique_lock lock(m_task->mutex);
    m_task->done.wait(lock, [&] { return m_task->finished; });
    return m_task->result;
}

bool PendingText::ready() const {
    std::lock_guard lock(m_task->mutex);
    return m_task->finished;
}

namespace {

// One worker for each processor the program may run on (a batch system's share of a machine, as
// its affinity says), at most OMP_THREAD_LIMIT when that is set.
int processorsToUse() {
    cpu_set_t set;
    CPU_ZERO(&set);
    int count = ::sched_getaffinity(0, sizeof set, &set) == 0 ? CPU_COUNT(&set) : int(std::thread::hardware_concurrency());
    bool ok = false;
    const int limit = qEnvironmentVariableIntValue("OMP_THREAD_LIMIT", &ok);
    if (ok && limit > 0) count = std::min(count, limit);
    return std::max(1, count);
}

}  // namespace

TextRecognition::TextRecognition(std::atomic<std::uint64_t>* progress, int workers)
    : m_progress(progress), m_workerCount(workers > 0 ? workers : processorsToUse()) {}

TextRecognition::~TextRecognition() {
    stopAll();
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    for (std::thread& t : m_threads) t.join();
}

std::shared_ptr<const PendingText> TextRecognition::start(std::shared_ptr<const imaging::ImageSource> image,
                                                         const std::string& languages, double dpi, int orientation,
                                                         bool findTurn) {
    auto task = std::make_shared<PendingText::Task>();
    task->image = std::move(image);
    task->languages = languages;
    task->dpi = int(std::lround(std::clamp(dpi, 50.0, 2400.0)));
    task->findTurn = findTurn;
    // EXIF orientations that mirror the picture are read as the nearest turn: mirrored text is
    // not read, and no words are better than wrong ones.
    task->knownTurn = orientation == 3 || orientation == 4 ? 180 : orientation == 5 || orientation == 6 ? 90
                      : orientation == 7 || orientation == 8                                  ? 270
                                                                                              : 0;
    {
        std::lock_guard lock(m_mutex);
        // The workers start with the first picture: a program that never recognises has none.
        while (int(m_threads.size()) < m_workerCount) m_threads.emplace_back([this] { work(); });
        m_queue.push_back(task);
        m_started.erase(std::remove_if(m_started.begin(), m_started.end(), [](const auto& t) { return t.expired(); }),
                        m_started.end());
        m_started.push_back(task);
        ++m_unfinished;
        ++m_count.started;
    }
    m_wake.notify_one();
    return std::make_shared<const PendingText>(task);
}

void TextRecognition::stopAll() {
    std::lock_guard lock(m_mutex);
    for (const auto& started : m_started)
        if (const auto task = started.lock()) task->cancelled = true;
}

int TextRecognition::unfinished() const {
    std::lock_guard lock(m_mutex);
    return m_unfinished;
}

TextRecognition::Count TextRecognition::count() const {
    std::lock_guard lock(m_mutex);
    return m_count;
}

void TextRecognition::waitUntilAtMost(int most, int milliseconds) const {
    std::unique_lock lock(m_mutex);
    m_changed.wait_for(lock, std::chrono::milliseconds(milliseconds), [&] { return m_unfinished <= most; });
}

namespace {

// Recognition reads pictures at about 300 dpi: a finer one is read smaller, by a power of two.
// So is one of more than 16 megapixels (a photo of a page shown at its camera's 72 dpi reads as
// well halved), which keeps each worker's memory to about a hundred megabytes.
int shrinkFor(int dpi, const imaging::ImageFormat& f) {
    constexpr double mostPixels = 16e6;
    int shrink = 1;
    while (shrink < 8 && (dpi / (shrink * 2) >= 300 || double(f.width / shrink) * double(f.height / shrink) > mostPixels))
        shrink *= 2;
    return shrink;
}

// The density a grey copy of the task's picture stands at (50 dpi at least).
int dpiOf(const PendingText::Task& task, const imaging::GreyImage& copy) {
    return std::max(50, task.dpi * copy.width / std::max(1, task.image->format().width));
}

// The picture in grey, at the size its print reads best at, turned clockwise by turn. Lines are
// read at the size where their letters stand tallLetters pixels high: the recogniser scales
// each line to a fixed height, and a line of fewer pixels takes less time (12-point print at a
// third of 300 dpi, in two thirds of the time of half). The letters are measured on a copy at a
// quarter of the size, roughly (the lines of one block: a twentieth of a reading), or at half
// when small print is lost at a quarter, with the layout the reading at half then takes; a
// picture whose lines are too few or slope too much is read at 1/shrink of its size.
imaging::GreyImage sizedFor(const PendingText::Task& task, Recogniser& recogniser, int shrink, int turn, double& guess) {
    const imaging::ImageFormat& format = task.image->format();
    const auto share = [&](const imaging::GreyImage& copy) { return double(copy.width) / std::max(1, format.width); };
    // A copy at the share of its size the picture is read at, from the power of two just larger.
    const auto copyAt = [&](double wanted) {
        int power = 1;
        while (shrink * power * 2 <= 8 && double(shrink * power * 2) * wanted <= 1) power *= 2;
        imaging::GreyImage from = task.image->grey(shrink * power);
        const double by = from.isNull() ? 1 : wanted / share(from);
        if (by > 0.95) return from;
        imaging::GreyImage made = scaled(from, std::max(1, int(std::lround(from.width * by))), std::max(1, int(std::lround(from.height * by))));
        return made.isNull() ? from : made;
    };
    // First at the size the last picture was read at: when its letters stand about as tall as
    // wanted there, it is read so, with the layout just found.
    if (guess > 0 && guess * shrink < 1) {
        imaging::GreyImage copy = copyAt(guess);
        if (copy.isNull()) return copy;
        const Recogniser::Print print = recogniser.print(copy, dpiOf(task, copy), turn);
        if (print.slope <= Recogniser::levelSlope && print.letters >= Recogniser::tallLetters - 0.5 &&
            print.letters <= Recogniser::tallLetters * 1.15)
            return copy;
    }
    guess = 0;
    for (int sample = 4; sample >= 2; sample /= 2) {
        if (shrink * sample > 8) continue;
        imaging::GreyImage small = task.image->grey(shrink * sample);
        if (small.isNull()) break;
        const Recogniser::Print print = recogniser.print(small, dpiOf(task, small), turn, sample == 4);
        if (print.letters < Recogniser::measurableLetters && sample > 2) continue;
        if (print.letters <= 0 || print.slope > Recogniser::levelSlope) break;
        // The size to read at, as a share of the picture's; at least the size read otherwise.
        const double wanted = Recogniser::tallLetters / print.letters * share(small);
        if (wanted * shrink >= 1) break;
        guess = wanted;
        // The copy just measured, when it is no more than 5 % too large, is read as it is, with
        // its layout.
        if (const double by = wanted / share(small); by > 0.95 && by <= 1) return small;
        return copyAt(wanted);
    }
    return task.image->grey(shrink);
}

}  // namespace

Recognised TextRecognition::recognise(PendingText::Task& task, Worker& worker) {
    std::unique_ptr<Recogniser>& recogniser = worker.recogniser;
    const imaging::ImageFormat& format = task.image->format();
    const int shrink = shrinkFor(task.dpi, format);
    if (!recogniser || recogniser->languages() != task.languages)
        recogniser = Recogniser::make(task.languages);
    // Most pages stand as their picture says: read so, they are looked at for another turn only
    // when they read badly. A picture turned by hand, or a page scanned sideways or upside down,
    // reads badly as it stands.
    imaging::GreyImage grey = sizedFor(task, *recogniser, shrink, task.knownTurn, worker.lastShare);
    if (grey.isNull()) return pictolio::Failure{QStringLiteral("the picture could not be read for text recognition")};
    int confidence = 0;
    Recognised first = recogniser->read(grey, dpiOf(task, grey), task.knownTurn, &task.cancelled, m_progress, &confidence);
    if (!first || Recogniser::readsWell(*first, confidence)) return first;
    // The turn is looked for on a copy of at least half the size.
    const int half = std::min(8, shrink * 2);
    if (double(grey.width) * half < format.width) grey = task.image->grey(half);
    const int turn = grey.isNull() ? -1 : recogniser->detectTurn(grey, dpiOf(task, grey));
    if (turn < 0 || turn == task.knownTurn) return first;
    // Turned, the print is measured again: a page on its side has lines of other heights.
    double turnedShare = 0;
    grey = sizedFor(task, *recogniser, shrink, turn, turnedShare);
    if (grey.isNull()) return first;
    int turnedConfidence = 0;
    Recognised text = recogniser->read(grey, dpiOf(task, grey), turn, &task.cancelled, m_progress, &turnedConfidence);
    if (!text || turnedConfidence <= confidence) return first;
    text->turnsPage = task.findTurn;
    worker.lastShare = turnedShare;
    return text;
}

void TextRecognition::work() {
    Worker worker;
    for (;;) {
        std::shared_ptr<PendingText::Task> task;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stopping || !m_queue.empty(); });
            if (m_queue.empty()) return;
            task = std::move(m_queue.front());
            m_queue.pop_front();
        }
        using pictolio::Failure;
        Recognised result = Failure{QStringLiteral("stopped"), Failure::Kind::Stopped};
        if (!task->cancelled) {
            // A failure ends this picture's recognition, never the program: the page is made
            // without its text, and says why.
            try {
                result = recognise(*task, worker);
            } catch (const std::bad_alloc&) {
                worker = {};
                result = Failure{QStringLiteral("not enough memory to recognise the text"), Failure::Kind::TooLarge};
            } catch (const std::exception& e) {
                worker = {};
                result = Failure{QStringLiteral("recognition failed: %1").arg(QString::fromLocal8Bit(e.what()))};
            }
        }
        if (m_progress) m_progress->fetch_add(1, std::memory_order_relaxed);
        {
            std::lock_guard lock(task->mutex);
            task->result = std::move(result);
            task->finished = true;
            task->image.reset();
        }
        task->done.notify_all();
        {
            std::lock_guard lock(m_mutex);
            --m_unfinished;
            ++m_count.ended;
        }
        m_changed.notify_all();
    }
}

}  // namespace recognition
