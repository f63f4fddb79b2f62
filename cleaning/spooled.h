// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
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

private:
    imaging::ImageFormat m_format;
    std::string m_description;
    std::size_t m_size;
    int m_fd = -1;
    std::vector<std::uint8_t> m_data;  // when there is no file
};

}  // namespace cleaning
