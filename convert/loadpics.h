// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include "pictures/picture.h"
#include "pictures/readahead.h"

namespace pictolio {

// Loads the picture at path into the holder, replacing what it held (read ahead, when it was).
// True when it loaded; otherwise the holder is left empty and, when an invalid list is given,
// "\r\n" and the path are added to it. Nothing is reported.
bool tryLoadPicture(Picture& holder, PictureReadAhead& reader, const QString& path,
                    QString* invalidPictures = nullptr,
                    PictureDecoder::Frames frames = PictureDecoder::Frames::First);

}  // namespace pictolio
