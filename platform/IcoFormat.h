#pragma once
// Icon images from bytes: .ico/.cur directories, DIB and PNG entries, and the choice of size.

#include <QByteArrayView>
#include <QImage>
#include <optional>
#include <vector>

#include "store/IconSource.h"

// Every function here is pure over the bytes it is given and treats each count, size and
// offset in them as hostile: malformed input gives an empty result, never a crash, and no
// allocation grows beyond what the bytes present justify.
namespace kestrova::ico {

// Largest icon image side accepted: DIB icons stop at 256, PNG entries get some room.
inline constexpr int kMaxDibSide = 256;
inline constexpr int kMaxPngSide = 1024;

// The true size and depth of one icon image, read from its own header (the directory's
// bytes are often wrong).
struct ImageInfo {
  int width = 0;
  int height = 0;
  int depth = 0;
  bool png = false;
};

// True when `file` starts with an icon or cursor directory header.
bool LooksLikeIco(QByteArrayView file);

// The image blobs of an .ico/.cur file, as views into `file`, in directory order. Entries
// whose range lies outside the file are left out; a directory that claims more entries
// than the file holds gives none.
std::vector<QByteArrayView> SplitIcoFile(QByteArrayView file);

// The header of one image: a DIB (BITMAPINFOHEADER, colours, XOR bitmap, AND mask) or a
// whole PNG file. nullopt when it is not one we can decode.
std::optional<ImageInfo> ProbeImage(QByteArrayView image);

// The image as ARGB32 (transparency from the alpha channel or the AND mask); null when
// malformed.
QImage DecodeImage(QByteArrayView image);

// Picks the best image for a square of `side` (exact size, else the smallest larger, else
// the largest smaller; then the greatest depth; then the first) and scales it to exactly
// side by side. Null when none decodes.
QImage BestImage(const std::vector<QByteArrayView>& images, int side);

// The large and small icons from a set of images (an .ico file or a program's icon group).
std::optional<IconPair> IconsFromImages(const std::vector<QByteArrayView>& images);

// Scales an image of any size into a transparent square of `side`, keeping its aspect.
QImage FitSquare(const QImage& image, int side);

}  // namespace kestrova::ico
