// SPDX-License-Identifier: GPL-3.0-or-later
#include "pictures/readahead.h"

#include <QFile>
#include <system_error>

namespace pictolio {

PictureReadAhead::~PictureReadAhead() {
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_ending = true;
    }
    m_changed.notify_all();
    if (m_thread.joinable()) m_thread.join();
}

void PictureReadAhead::start(const QString& path) {
    {
        std::unique_lock<std::mutex> lock = idle();
        m_read.reset();
        m_path.clear();
        if (!m_thread.joinable()) {
            try {
                m_thread = std::thread([this] { work(); });
            } catch (const std::system_error&) {  // no thread to be had: each file read in its turn
                return;
            }
        }
        m_path = path;
        m_asked = true;
    }
    m_changed.notify_all();
}

void PictureReadAhead::wait() {
    idle();
}

std::unique_lock<std::mutex> PictureReadAhead::idle() {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [this] { return !m_asked && !m_reading; });
    return lock;
}

Picture PictureReadAhead::load(const QString& path, PictureDecoder::Frames frames) {
    std::optional<PictureDecoder::JpegRead> read;
    {
        std::unique_lock<std::mutex> lock = idle();
        if (m_path == path) read = std::move(m_read);
        m_read.reset();
        m_path.clear();
    }
    if (read &&
        imaging::FileIdentity::ofPath(QFile::encodeName(path).toStdString()) == read->identity)
        return std::move(read->picture);
    read.reset();  // its bytes let go of before the file is read again
    return m_decoder.load(path, frames);
}

void PictureReadAhead::forget() {
    std::unique_lock<std::mutex> lock = idle();
    m_read.reset();
    m_path.clear();
}

void PictureReadAhead::work() {
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [this] { return m_asked || m_ending; });
        if (m_ending) return;
        const QString path = m_path;
        m_asked = false;
        m_reading = true;
        lock.unlock();
        std::optional<PictureDecoder::JpegRead> read;
        try {
            read = m_decoder.readJpeg(path);
        } catch (...) {  // loaded again when asked for, and refused then if it must be
        }
        lock.lock();
        m_read = std::move(read);
        m_reading = false;
        m_changed.notify_all();
    }
}

}  // namespace pictolio
