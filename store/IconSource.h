#pragma once
// The icon source seam: icons extracted from a file by index, and the stock icons. The
// desktop's implementation and the choice of source live in platform/.

#include <QImage>
#include <cstdint>
#include <optional>
#include <string>

namespace kestrova {

// A large and a small icon. QImage is implicitly shared: copies are cheap and the pixels
// live until the last holder lets go, so a window keeps what it shows whatever the lookup
// that produced it does next.
struct IconPair {
  QImage large;
  QImage small;
};

class IconSource {
 public:
  static constexpr int kLargeSize = 32;
  static constexpr int kSmallSize = 16;
  // Stock indexes, as the lookup asks for them.
  static constexpr int32_t kStockDocument = 0;
  static constexpr int32_t kStockApplication = 2;

  virtual ~IconSource() = default;

  // The icon at `index` of `file`, the text taken as it stands (no unquoting, no
  // expansion). An index >= 0 is a position in the file; a negative index names the icon
  // group with resource identifier -index in a program or library. Both images are
  // kLargeSize and kSmallSize square; nullopt when the file gives no icon there.
  virtual std::optional<IconPair> Extract(const std::string& file, int32_t index) = 0;

  // How many icons Extract finds at the indexes 0, 1, ... of `file`.
  virtual int Count(const std::string& file) = 0;

  // kStockDocument: a generic document; kStockApplication: a program. nullopt otherwise.
  virtual std::optional<IconPair> Stock(int32_t index) = 0;
};

}  // namespace kestrova
