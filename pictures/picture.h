// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>
#include <memory>
#include <optional>
#include <vector>

#include "common/outcome.h"
#include "imaging/imagesource.h"

namespace pictolio {

// One page of a picture: its size and how it turns upright, with the image that prints it.
struct PicturePage {
    int width = 0;  // pixels, upright
    int height = 0;
    double widthHimetric = 0;  // physical size, hundredths of a millimetre, upright
    double heightHimetric = 0;
    int orientation = 1;  // how the stored image turns upright (EXIF values 1 to 8)
    std::shared_ptr<const imaging::ImageSource> image;
};

// A decoded picture as a picture holder keeps it: its first (usually only) page, and the pages
// after it. The pixel data itself stays in the file until the picture is printed.
struct Picture : PicturePage {
    quint64 handle = 0;  // 0: the empty picture
    // The pages after the first, in file order (a multi-page TIFF file).
    std::vector<PicturePage> morePages;
    // The empty picture: why the file is none it can take, in words a person can read
    // ("truncated JPEG: ..."); "" for a picture.
    QString refusal;

    bool isEmpty() const { return handle == 0; }
    int pageCount() const { return 1 + int(morePages.size()); }
    PicturePage page(int index) const { return index > 0 ? morePages.at(std::size_t(index - 1)) : firstPage(); }
    const PicturePage& firstPage() const { return *this; }
    PicturePage& firstPage() { return *this; }
};

// The EXIF orientation (1 to 8) of a picture stored as `orientation` says, turned a further
// quarterTurns quarter turns clockwise (negative: anticlockwise).
int turnedOrientation(int orientation, int quarterTurns);
// Turns every page of the picture quarterTurns quarter turns clockwise, as it will be printed:
// its orientation composed with the turn, its sizes swapped by a quarter turn. The image data
// is left as it is.
void turnPicture(Picture& picture, int quarterTurns);

// Turns picture files into pictures: JPEG files (checked whole, kept as they are), PNG files
// (kept as they are where a PDF can hold them), TIFF files (every page; fax and JPEG data kept
// as they are), HEIF and AVIF files, and whatever else Qt's image readers take (WebP, BMP, GIF,
// ICO, ...).
class PictureDecoder {
public:
    // Printing: a decoded picture keeps what its page needs from the decoding that checks it
    // (its samples deflated in a spool file below the user's cache folder, or its pixels), so
    // that it is not decoded again when printed. Facts: only what the picture is (its size, that
    // it is one), for tooltips and previews, which keep nothing and leave what others keep alone.
    enum class Use { Printing, Facts };

    // Raises the limit Qt puts on one decoded picture (128 MB: a 600-dpi A4 scan or a
    // 48-megapixel phone photo passes it) to decodedLimitMb for the whole program, once.
    explicit PictureDecoder(Use use = Use::Printing);

    // A photo or a scan decoded whole (WebP, HEIF, TIFF) may take up to this much memory: 134
    // megapixels at four bytes each (a 600-dpi A3 scan, a 100-megapixel camera). Other formats
    // (GIF, BMP, ICO, ...) keep Qt's 128 MB: a few bytes of such a file can claim a picture of
    // that size, which would cost seconds to decode and print.
    static constexpr int decodedLimitMb = 512;

    // The empty picture for anything that is not a picture we can print: a missing or
    // unreadable file, a folder, an empty file, a damaged or absurdly large picture.
    // Frames::All: every frame of an animated picture (GIF, WebP) is a page, each composed as the
    // animation shows it; First: its first frame alone.
    enum class Frames { First, All };
    // The picture, or why the file is none ("truncated JPEG: the data ends at byte 51,200 ...").
    Outcome<Picture> read(const QString& path, Frames frames = Frames::First) const;
    // As read, for a picture holder: the empty picture for a file that is none, with the reason
    // in its refusal.
    Picture load(const QString& path, Frames frames = Frames::First) const;
    // A JPEG file read and checked as read does, with the file as it was read; nothing for a file
    // of another kind, one larger than the bytes a picture may keep, or one read refuses (read
    // says why). Safe in a thread of its own beside read: it keeps nothing of other pictures.
    struct JpegRead {
        Picture picture;
        imaging::FileIdentity identity;
    };
    std::optional<JpegRead> readJpeg(const QString& path) const;

    // The density assumed when a file states none.
    static constexpr double defaultDpi = 96.0;

    // The file name extensions of the pictures it takes, in lower case without the dot
    // ("jpg", "png", "tif", ...): the one list the window's open dialog and pictolio-convert's
    // folder search both go by. Qt's readers are found once, the first time it is asked for.
    static QStringList fileExtensions();
    // Whether the file's name ends in one of them, in any case ("a.HIF").
    static bool hasPictureExtension(const QString& path);

private:
    Use m_use;
};

}  // namespace pictolio
