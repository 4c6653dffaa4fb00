#pragma once
// AssocLookup: the icon the shell shows for an extension, found through its file type's
// DefaultIcon.

#include <QImage>
#include <cstdint>
#include <memory>
#include <string>

#include "store/IconSource.h"

namespace kestrova {

// The file and index named by a "DefaultIcon" value.
struct IconLocation {
  std::string file;
  int32_t index = 0;
};

// Splits a "DefaultIcon" value at its last comma into file and index. Of three or more
// fields the last is dropped and the one before it taken as the index. An index that
// does not read as a number (or reads as -65535, the unreadable mark) leaves the text
// whole as the file, with index 0.
IconLocation ParseDefaultIcon(const std::string& text);

// The number in `text` as a signed 32-bit value: leading blanks (spaces only), an
// optional sign, then decimal digits or hex digits after "$", "x", "X", "0x" or "0X".
// Anything else, an empty text or a value out of range gives kUnreadableIndex.
inline constexpr int32_t kUnreadableIndex = -65535;
int32_t ParseIconIndex(const std::string& text);

// The main window's one icon lookup. Setting the extension reads the store (read-only)
// and the icon file at once, on the caller's thread; the getters only return what the
// last lookup found. Icons are implicitly shared images: a copy that the window holds
// stays valid whatever the lookup does afterwards.
class AssocLookup {
 public:
  // The program passes the source that platform/IconSourceFactory.h picks; tests their own.
  explicit AssocLookup(std::shared_ptr<IconSource> source);

  // Does nothing when `text` equals the held extension byte for byte (case-sensitive, before
  // the dot is added); otherwise holds it with a leading "." and looks it up. The store's
  // ERegistryException reaches the caller after the stock icon has been set.
  void SetExtension(const std::string& text);

  const std::string& Extension() const { return m_extension; }
  // The ProgID: the extension key's default value.
  const std::string& ExtDescription() const { return m_extDescription; }
  const std::string& IconFile() const { return m_iconFile; }
  int32_t IconIndex() const { return m_iconIndex; }
  const QImage& LargeIcon() const { return m_largeIcon; }
  const QImage& SmallIcon() const { return m_smallIcon; }

 private:
  void LookUp();
  // Reads the store and extracts the named icon; true when an icon was found.
  bool ReadAndExtract();
  void StockIcon();

  std::shared_ptr<IconSource> m_source;
  std::string m_extension;
  std::string m_extDescription;
  std::string m_iconFile;
  int32_t m_iconIndex = 0;
  QImage m_largeIcon;
  QImage m_smallIcon;
};

}  // namespace kestrova
