// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "imaging/imagesource.h"

namespace cleaning {

// A picture made by the program (a cleaned page, the layers of a compact one) as the PDF takes
// it, its data already encoded: kept in a file of no name below the user's cache folder while its
// page waits to be written (a long joined run holds hundreds; nothing is left behind by a run
// that is killed), else in memory.
class SpooledImage : public imaging::ImageSource {
public:
    SpooledImage(std::vector<std::uint8_t> data, imaging::ImageFormat format, std::string description);
    ~SpooledImage() override;
    SpooledImage(const SpooledImage&) = delete;
    SpooledImage& operator=(const SpooledImage&) = delete;

    imaging::ImageFormat format() const override { return m_format; }
    void writeData(const imaging::DataSink& sink) const override;
    void copyData(imaging::DataOut& out) const override;
    std::string description() const override { return m_description; }
    bool stillAsChecked() const override { return true; }  // its pixels are its own
    // JPEG data decoded to grey; Group 4 fax data to grey at its full size.
    imaging::GreyImage grey(int shrink) const override;

    // The encoded data. Throws std::runtime_error when it cannot be read back.
    std::vector<std::uint8_t> bytes() const;
    // `length` bytes of the data from `offset`, for pictures kept together in one file (a compact
    // page's layers). Throw like writeData.
    void writeRange(std::size_t offset, std::size_t length, const imaging::DataSink& sink) const;
    void copyRange(std::size_t offset, std::size_t length, imaging::DataOut& out) const;

private:
    imaging::ImageFormat m_format;
    std::string m_description;
    std::size_t m_size;
    int m_fd = -1;
    std::vector<std::uint8_t> m_data;  // when there is no file
};

// JPEG data decoded to grey (at most `shrink` times smaller), Group 4 fax data to grey at its full
// size; a null image for anything else, or when it cannot be read.
imaging::GreyImage greyOfEncoded(const imaging::ImageSource& picture, int shrink);

// A picture that is part of a SpooledImage's data: several pictures in one file, one open file
// for all of them.
class SpooledPart : public imaging::ImageSource {
public:
    SpooledPart(std::shared_ptr<const SpooledImage> whole, std::size_t offset, std::size_t length, imaging::ImageFormat format)
        : m_whole(std::move(whole)), m_offset(offset), m_length(length), m_format(std::move(format)) {}
    imaging::ImageFormat format() const override { return m_format; }
    void writeData(const imaging::DataSink& sink) const override { m_whole->writeRange(m_offset, m_length, sink); }
    void copyData(imaging::DataOut& out) const override { m_whole->copyRange(m_offset, m_length, out); }
    std::string description() const override { return m_whole->description(); }
    bool stillAsChecked() const override { return true; }
    imaging::GreyImage grey(int shrink) const override { return greyOfEncoded(*this, shrink); }

private:
    std::shared_ptr<const SpooledImage> m_whole;
    std::size_t m_offset, m_length;
    imaging::ImageFormat m_format;
};

}  // namespace cleaning
