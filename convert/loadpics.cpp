// SPDX-License-Identifier: GPL-3.0-or-later
#include "convert/loadpics.h"

namespace pictolio {

bool tryLoadPicture(Picture& holder, PictureReadAhead& reader, const QString& path,
                    QString* invalidPictures, PictureDecoder::Frames frames) {
    holder = Picture();  // nothing of the previous picture survives
    holder = reader.load(path, frames);
    if (holder.handle != 0) return true;
    if (invalidPictures) *invalidPictures += QStringLiteral("\r\n") + path;
    return false;
}

}  // namespace pictolio
