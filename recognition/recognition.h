// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "imaging/imagesource.h"
#include "recognition/recogniser.h"

namespace recognition {

class TextRecognition;

// The text of a picture on a page, recognised in the background. Letting go of the last handle
// to it stops the work.
class PendingText {
public:
    ~PendingText();
    PendingText(const PendingText&) = delete;
    PendingText& operator=(const PendingText&) = delete;

    // Waits until the text is recognised (or recognition failed or was stopped).
    const Recognised& get() const;
    // Whether get() would answer at once.
    bool ready() const;

    struct Task;
    explicit PendingText(std::shared_ptr<Task> task) : m_task(std::move(task)) {}

private:
    std::shared_ptr<Task> m_task;
};

// Pictures recognised by a pool of worker threads (one per core unless told), each with its own
// recogniser: pages are recognised in parallel while the program goes on drawing the next ones.
// At most one picture's grey pixels and one recogniser per worker are held at a time.
class TextRecognition {
public:
    // progress: moves while recognition makes progress.
    explicit TextRecognition(std::atomic<std::uint64_t>* progress, int workers = 0);
    ~TextRecognition();
    TextRecognition(const TextRecognition&) = delete;
    TextRecognition& operator=(const TextRecognition&) = delete;

    // Starts recognising the picture, shown at dpi on its page, in languages ("eng+deu"), as its
    // EXIF orientation turns it; findTurn: the page may be turned to its text.
    std::shared_ptr<const PendingText> start(std::shared_ptr<const imaging::ImageSource> image, const std::string& languages,
                                             double dpi, int orientation, bool findTurn);

    // Stops every recognition started so far.
    void stopAll();

    // Pictures started and not yet recognised.
    int unfinished() const;
    // Waits at most the given time for unfinished() to fall to at most `most`.
    void waitUntilAtMost(int most, int milliseconds) const;

    int workers() const { return m_workerCount; }

    // Pictures started, and pictures whose recognition has ended, since the pool was made.
    struct Count {
        int started = 0, ended = 0;
    };
    Count count() const;

private:
    void work();
    // What a worker keeps from picture to picture: its recogniser, and the size (a share of the
    // picture's) it read the last picture at, which the pages of one batch mostly share.
    struct Worker {
        std::unique_ptr<Recogniser> recogniser;
        double lastShare = 0;
    };
    // The task's picture recognised by the worker's recogniser (made, or made again for other
    // languages). Throws what the recogniser or the picture throws.
    Recognised recognise(PendingText::Task& task, Worker& worker);

    std::atomic<std::uint64_t>* m_progress;
    int m_workerCount;
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_wake;
    mutable std::condition_variable m_changed;
    std::deque<std::shared_ptr<PendingText::Task>> m_queue;
    std::vector<std::weak_ptr<PendingText::Task>> m_started;
    int m_unfinished = 0;
    Count m_count;
    bool m_stopping = false;
    std::vector<std::thread> m_threads;
};

}  // namespace recognition
