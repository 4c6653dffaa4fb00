#pragma once
// The production icon source: .ico files, Windows programs, images Qt reads, theme icons.

#include <QByteArrayView>

#include "store/IconSource.h"

namespace kestrova {

// Reads icons from the file a text names:
// - an icon or cursor file (.ico/.cur): index 0;
// - a Windows program or library (PE32, PE32+): its icon groups by position or, for a
//   negative index, by resource identifier;
// - an image that Qt reads (PNG, SVG, XPM, ...): index 0;
// - otherwise, when the text is no file's name, an icon name of the desktop's icon theme:
//   index 0.
// The stock icons come from the icon theme when it has them, else from the ones built
// into the program.
class DesktopIconSource : public IconSource {
 public:
  // Larger files are not read: no icon file or program library comes near it.
  static constexpr qint64 kMaxFileSize = 256LL * 1024 * 1024;

  std::optional<IconPair> Extract(const std::string& file, int32_t index) override;
  int Count(const std::string& file) override;
  std::optional<IconPair> Stock(int32_t index) override;
};

// The icon at `index` of a file's contents, recognised by content. Pure over the bytes
// (theme names and file access stay outside), for the fuzz target as much as for Extract.
std::optional<IconPair> IconsFromBytes(QByteArrayView bytes, int32_t index);
int CountIconsInBytes(QByteArrayView bytes);

std::shared_ptr<IconSource> CreateDesktopIconSource();

}  // namespace kestrova
