// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

#include "pictures/picture.h"

namespace pictolio {

// The next picture of a run read in a thread of its own while the one before it is printed: a
// JPEG file is read and checked whole, which takes as long as writing it. Only JPEG files are
// read ahead (their bytes are all they keep); any other file is loaded when it is asked for.
class PictureReadAhead {
public:
    explicit PictureReadAhead(const PictureDecoder& decoder) : m_decoder(decoder) {}
    ~PictureReadAhead();
    PictureReadAhead(const PictureReadAhead&) = delete;
    PictureReadAhead& operator=(const PictureReadAhead&) = delete;

    // Starts reading the file; what was read ahead before and not taken is let go of.
    void start(const QString& path);
    // The picture of the file: the one read ahead when it is of this path and the file is still
    // as it was read, else loaded by the decoder now.
    Picture load(const QString& path, PictureDecoder::Frames frames);
    // Lets go of what was read ahead (a run that stopped), once the read under way is done.
    void forget();
    // Waits until the file started is read.
    void wait();

private:
    void work();
    std::unique_lock<std::mutex> idle();

    const PictureDecoder& m_decoder;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::thread m_thread;
    QString m_path;        // the file asked for last
    bool m_asked = false;  // and not yet read
    bool m_reading = false;
    bool m_ending = false;
    std::optional<PictureDecoder::JpegRead> m_read;
};

}  // namespace pictolio
