#include "platform/IcoFormat.h"

#include <QPainter>
#include <algorithm>
#include <cstdint>
#include <tuple>

#include "platform/IconBytes.h"

namespace kestrova::ico {

namespace {

constexpr qsizetype kDirHeaderSize = 6;
constexpr qsizetype kDirEntrySize = 16;
constexpr qsizetype kInfoHeaderSize = 40;  // BITMAPINFOHEADER
constexpr char kPngSignature[] = "\x89PNG\r\n\x1a\n";

bool IsPng(QByteArrayView image) {
  return image.size() >= 8 && image.first(8) == QByteArrayView(kPngSignature, 8);
}

// The parts of a DIB icon image, each checked against the bytes present.
struct Dib {
  int width = 0;
  int height = 0;  // of the icon: half the bitmap's height, which covers XOR and AND
  int depth = 0;
  QByteArrayView palette;  // 4 bytes (B, G, R, unused) per colour
  QByteArrayView xorBits;
  QByteArrayView andBits;
  qsizetype xorStride = 0;
  qsizetype andStride = 0;
};

qsizetype Stride(int64_t width, int64_t depth) {
  return static_cast<qsizetype>(((width * depth + 31) / 32) * 4);
}

std::optional<Dib> ParseDib(QByteArrayView image) {
  bytes::Reader in(image);
  const auto headerSize = in.U32(0);
  const auto width = in.I32(4);
  const auto bitmapHeight = in.I32(8);
  const auto depth = in.U16(14);
  const auto compression = in.U32(16);
  const auto colorsUsed = in.U32(32);
  if (!headerSize || !width || !bitmapHeight || !depth || !compression || !colorsUsed)
    return std::nullopt;
  if (*headerSize < kInfoHeaderSize || *headerSize > static_cast<uint64_t>(image.size()))
    return std::nullopt;
  // Only uncompressed bitmaps; bottom-up only (a negative height has no mask layout).
  if (*compression != 0) return std::nullopt;
  if (*width < 1 || *width > kMaxDibSide) return std::nullopt;
  if (*bitmapHeight < 2 || *bitmapHeight > 2 * kMaxDibSide) return std::nullopt;
  if (*depth != 1 && *depth != 4 && *depth != 8 && *depth != 24 && *depth != 32)
    return std::nullopt;

  Dib dib;
  dib.width = *width;
  dib.height = *bitmapHeight / 2;
  dib.depth = *depth;
  qsizetype offset = static_cast<qsizetype>(*headerSize);
  if (dib.depth <= 8) {
    const uint32_t maxColors = 1u << dib.depth;
    const uint32_t colors = *colorsUsed ? *colorsUsed : maxColors;
    if (colors > maxColors) return std::nullopt;
    const auto palette = in.View(offset, static_cast<qsizetype>(colors) * 4);
    if (!palette) return std::nullopt;
    dib.palette = *palette;
    offset += palette->size();
  }
  dib.xorStride = Stride(dib.width, dib.depth);
  dib.andStride = Stride(dib.width, 1);
  const auto xorBits = in.View(offset, dib.xorStride * dib.height);
  if (!xorBits) return std::nullopt;
  offset += xorBits->size();
  const auto andBits = in.View(offset, dib.andStride * dib.height);
  if (!andBits) return std::nullopt;
  dib.xorBits = *xorBits;
  dib.andBits = *andBits;
  return dib;
}

QImage DecodeDib(const Dib& dib) {
  QImage out(dib.width, dib.height, QImage::Format_ARGB32);
  if (out.isNull()) return {};
  const auto* xorData = reinterpret_cast<const uint8_t*>(dib.xorBits.data());
  const auto* andData = reinterpret_cast<const uint8_t*>(dib.andBits.data());
  const auto* pal = reinterpret_cast<const uint8_t*>(dib.palette.data());
  const qsizetype paletteCount = dib.palette.size() / 4;

  // A 32-bit image whose alpha bytes are all zero predates alpha: Windows then takes
  // transparency from the mask, and so do we.
  bool useAlpha = false;
  if (dib.depth == 32) {
    for (qsizetype i = 3; i < dib.xorBits.size(); i += 4) {
      if (xorData[i] != 0) {
        useAlpha = true;
        break;
      }
    }
  }

  for (int y = 0; y < dib.height; ++y) {
    const uint8_t* row = xorData + static_cast<qsizetype>(dib.height - 1 - y) * dib.xorStride;
    const uint8_t* maskRow = andData + static_cast<qsizetype>(dib.height - 1 - y) * dib.andStride;
    auto* line = reinterpret_cast<QRgb*>(out.scanLine(y));
    for (int x = 0; x < dib.width; ++x) {
      QRgb rgb = 0;
      int alpha = 255;
      switch (dib.depth) {
        case 32: {
          const uint8_t* p = row + x * 4;
          rgb = qRgb(p[2], p[1], p[0]);
          if (useAlpha) alpha = p[3];
          break;
        }
        case 24: {
          const uint8_t* p = row + x * 3;
          rgb = qRgb(p[2], p[1], p[0]);
          break;
        }
        default: {
          const int perByte = 8 / dib.depth;
          const uint8_t byte = row[x / perByte];
          const int shift = 8 - dib.depth * (x % perByte + 1);
          const int index = (byte >> shift) & ((1 << dib.depth) - 1);
          // An index past a short colour table reads as black, as Windows draws it.
          if (index < paletteCount) {
            const uint8_t* c = pal + index * 4;
            rgb = qRgb(c[2], c[1], c[0]);
          }
          break;
        }
      }
      if (!useAlpha && ((maskRow[x / 8] >> (7 - x % 8)) & 1)) alpha = 0;
      line[x] = (rgb & 0x00ffffff) | (static_cast<QRgb>(alpha) << 24);
    }
  }
  return out;
}

std::optional<ImageInfo> ProbePng(QByteArrayView image) {
  // The signature, then the IHDR chunk: length 13, "IHDR", width and height big-endian.
  bytes::Reader in(image);
  const auto type = in.View(12, 4);
  const auto width = in.U32BE(16);
  const auto height = in.U32BE(20);
  if (!type || *type != QByteArrayView("IHDR") || !width || !height) return std::nullopt;
  if (*width < 1 || *width > kMaxPngSide || *height < 1 || *height > kMaxPngSide)
    return std::nullopt;
  return ImageInfo{static_cast<int>(*width), static_cast<int>(*height), 32, true};
}

QImage DecodePng(QByteArrayView image) {
  const auto info = ProbePng(image);
  if (!info) return {};
  QImage decoded = QImage::fromData(image, "PNG");
  // The header was checked; a decoder that disagrees with it means a broken file.
  if (decoded.isNull() || decoded.width() != info->width || decoded.height() != info->height)
    return {};
  return decoded.convertToFormat(QImage::Format_ARGB32);
}

}  // namespace

bool LooksLikeIco(QByteArrayView file) {
  bytes::Reader in(file);
  const auto reserved = in.U16(0);
  const auto type = in.U16(2);
  const auto count = in.U16(4);
  return reserved && type && count && *reserved == 0 && (*type == 1 || *type == 2) && *count > 0;
}

std::vector<QByteArrayView> SplitIcoFile(QByteArrayView file) {
  std::vector<QByteArrayView> images;
  if (!LooksLikeIco(file)) return images;
  bytes::Reader in(file);
  const qsizetype count = *in.U16(4);
  // A directory longer than the file is a lie about everything after it.
  if (!in.View(kDirHeaderSize, count * kDirEntrySize)) return images;
  images.reserve(static_cast<size_t>(count));
  for (qsizetype i = 0; i < count; ++i) {
    const qsizetype entry = kDirHeaderSize + i * kDirEntrySize;
    const auto size = in.U32(entry + 8);
    const auto offset = in.U32(entry + 12);
    if (!size || !offset || *size == 0) continue;
    if (const auto blob = in.View(static_cast<int64_t>(*offset), static_cast<int64_t>(*size)))
      images.push_back(*blob);
  }
  return images;
}

std::optional<ImageInfo> ProbeImage(QByteArrayView image) {
  if (IsPng(image)) return ProbePng(image);
  const auto dib = ParseDib(image);
  if (!dib) return std::nullopt;
  return ImageInfo{dib->width, dib->height, dib->depth, false};
}

QImage DecodeImage(QByteArrayView image) {
  if (IsPng(image)) return DecodePng(image);
  const auto dib = ParseDib(image);
  return dib ? DecodeDib(*dib) : QImage();
}

QImage FitSquare(const QImage& image, int side) {
  if (image.isNull() || side < 1) return {};
  if (image.width() == side && image.height() == side)
    return image.convertToFormat(QImage::Format_ARGB32);
  const QImage scaled = image.scaled(side, side, Qt::KeepAspectRatio, Qt::SmoothTransformation);
  QImage out(side, side, QImage::Format_ARGB32);
  out.fill(Qt::transparent);
  QPainter painter(&out);
  painter.drawImage((side - scaled.width()) / 2, (side - scaled.height()) / 2, scaled);
  painter.end();
  return out;
}

QImage BestImage(const std::vector<QByteArrayView>& images, int side) {
  // Rank: exact size first, then the smallest larger (scaling down looks better), then the
  // largest smaller; within one size the greatest depth; then directory order.
  using Rank = std::tuple<int, int, int, size_t>;
  std::vector<std::pair<Rank, QByteArrayView>> ranked;
  for (size_t i = 0; i < images.size(); ++i) {
    const auto info = ProbeImage(images[i]);
    if (!info) continue;
    const int size = std::max(info->width, info->height);
    const int group = size == side ? 0 : size > side ? 1 : 2;
    const int closeness = size > side ? size : -size;
    ranked.push_back({Rank{group, closeness, -info->depth, i}, images[i]});
  }
  std::sort(ranked.begin(), ranked.end(),
            [](const auto& a, const auto& b) { return a.first < b.first; });
  // A header that probes well but does not decode is rare; a file full of them must not
  // make us decode thousands of images.
  constexpr size_t kMaxAttempts = 8;
  for (size_t i = 0; i < ranked.size() && i < kMaxAttempts; ++i) {
    const QImage decoded = DecodeImage(ranked[i].second);
    if (!decoded.isNull()) return FitSquare(decoded, side);
  }
  return {};
}

std::optional<IconPair> IconsFromImages(const std::vector<QByteArrayView>& images) {
  IconPair pair{BestImage(images, IconSource::kLargeSize),
                BestImage(images, IconSource::kSmallSize)};
  if (pair.large.isNull() || pair.small.isNull()) return std::nullopt;
  return pair;
}

}  // namespace kestrova::ico
