// The icon files shipped in data/icons, read by the production icon source exactly as the
// default classes name them.

#include <gtest/gtest.h>

#include <QColor>
#include <QFile>
#include <QRegularExpression>
#include <cstdlib>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/IcoFormat.h"
#include "platform/IconSourceDesktop.h"
#include "platform/PeResources.h"

namespace kestrova {
namespace {

// (file under data/, index) as a DefaultIcon value gives them.
using IconRef = std::pair<std::string, int32_t>;

std::string DataDir() {
  const char* source = std::getenv("KESTROVA_SOURCE_DIR");
  return source ? std::string(source) + "/data/" : std::string();
}

// Every "@DATADIR@/..." location that a DefaultIcon key of the bundled default classes
// gives as its value.
std::set<IconRef> ShippedRefs() {
  QFile reg(QString::fromStdString(DataDir() + "default-classes.reg"));
  if (!reg.open(QIODevice::ReadOnly)) return {};
  static const QRegularExpression value(QStringLiteral(R"(^@="@DATADIR@/([^",]+)(?:,(-?\d+))?"$)"));
  std::set<IconRef> refs;
  bool inDefaultIcon = false;
  for (const QByteArray& raw : reg.readAll().split('\n')) {
    const QString line = QString::fromUtf8(raw.trimmed());
    if (line.startsWith(u'[')) {
      inDefaultIcon = line.endsWith(QStringLiteral("\\DefaultIcon]"), Qt::CaseInsensitive);
      continue;
    }
    const auto match = value.match(line);
    if (inDefaultIcon && match.hasMatch())
      refs.insert(
          {match.captured(1).toStdString(), match.hasCaptured(2) ? match.captured(2).toInt() : 0});
  }
  return refs;
}

std::optional<IconPair> Extract(const IconRef& ref) {
  DesktopIconSource source;
  return source.Extract(DataDir() + ref.first, ref.second);
}

const std::string kLibrary = "icons/kestrova-types.dll";

// The share of an image's strongly coloured pixels whose hue lies in [from, to] degrees
// (wrapping past 360), and how many such pixels there are: the glyph that tells the types
// apart is the only saturated part of each icon.
std::pair<double, int> HueShare(const QImage& image, int from, int to) {
  int coloured = 0;
  int inRange = 0;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      const QColor c = QColor::fromRgba(image.pixel(x, y));
      if (c.alpha() < 128 || c.hsvSaturation() < 100 || c.value() < 80) continue;
      ++coloured;
      const int hue = c.hsvHue();
      if (from <= to ? (hue >= from && hue <= to) : (hue >= from || hue <= to)) ++inRange;
    }
  }
  return {coloured ? static_cast<double>(inRange) / coloured : 0.0, coloured};
}

TEST(ShippedIcons, EveryIconTheDefaultClassesNameGivesBothSizes) {
  ASSERT_FALSE(DataDir().empty()) << "KESTROVA_SOURCE_DIR is not set";
  const std::set<IconRef> refs = ShippedRefs();
  // Both index forms and the icon file must be among them, or this test checks too little.
  for (const IconRef& expected :
       {IconRef{kLibrary, 0}, IconRef{kLibrary, 5}, IconRef{kLibrary, -101},
        IconRef{kLibrary, -105}, IconRef{"icons/kestrova-types.ico", 0}}) {
    EXPECT_TRUE(refs.count(expected)) << expected.first << "," << expected.second;
  }
  for (const IconRef& ref : refs) {
    SCOPED_TRACE(ref.first + "," + std::to_string(ref.second));
    const auto icons = Extract(ref);
    ASSERT_TRUE(icons);
    EXPECT_EQ(icons->large.size(), QSize(32, 32));
    EXPECT_EQ(icons->small.size(), QSize(16, 16));
    // Drawn, not blank: the page's centre is opaque and the corners are see-through.
    for (const QImage& image : {icons->large, icons->small}) {
      const int mid = image.width() / 2;
      EXPECT_EQ(qAlpha(image.pixel(mid, mid)), 255);
      EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0);
    }
  }
}

TEST(ShippedIcons, EachTypeInTheLibraryShowsItsOwnPicture) {
  ASSERT_FALSE(DataDir().empty()) << "KESTROVA_SOURCE_DIR is not set";
  // The glyph colour of each type the default classes point at; -1 where it has no single
  // colour (grey, or several).
  struct Expected {
    int32_t index;
    const char* type;
    int hueFrom;
    int hueTo;
  };
  const std::vector<Expected> types = {
      {0, "text", -1, -1},        {1, "settings", -1, -1},   {2, "web", 195, 225},
      {3, "pdf", 345, 15},        {4, "audio", 255, 290},    {5, "batch", 110, 145},
      {-101, "registry", -1, -1}, {-105, "archive", 30, 50},
  };
  std::map<int32_t, IconPair> seen;
  for (const Expected& t : types) {
    SCOPED_TRACE(t.type);
    const auto icons = Extract({kLibrary, t.index});
    ASSERT_TRUE(icons);
    for (const auto& [index, other] : seen) {
      EXPECT_NE(icons->large, other.large) << "same large image as index " << index;
      EXPECT_NE(icons->small, other.small) << "same small image as index " << index;
    }
    seen[t.index] = *icons;
    if (t.hueFrom < 0) continue;
    for (const QImage& image : {icons->large, icons->small}) {
      const auto [share, coloured] = HueShare(image, t.hueFrom, t.hueTo);
      EXPECT_GE(coloured, image.width() / 4) << image.width() << " px";
      EXPECT_GE(share, 0.6) << image.width() << " px";
    }
  }
  // The text and settings icons are grey: a swap with a coloured type would show here.
  for (int32_t grey : {0, 1}) {
    EXPECT_LT(HueShare(seen[grey].large, 0, 360).second, 8) << grey;
  }
}

// Each size is drawn for itself (a 32 scaled down to 16 blurs), and the icon file carries one
// DIB and one PNG entry so that the program reads both kinds from its own data.
TEST(ShippedIcons, EveryIconHoldsItsOwnImageForEachSize) {
  ASSERT_FALSE(DataDir().empty()) << "KESTROVA_SOURCE_DIR is not set";
  auto read = [](const std::string& name) {
    QFile file(QString::fromStdString(DataDir() + name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
  };
  // Side -> whether that entry is a PNG.
  auto sizes = [](const std::vector<QByteArrayView>& images) {
    std::map<int, bool> pngBySide;
    for (QByteArrayView image : images) {
      const auto info = ico::ProbeImage(image);
      if (!info || info->depth != 32 || info->width != info->height) return std::map<int, bool>{};
      pngBySide[info->width] = info->png;
    }
    return images.size() == pngBySide.size() ? pngBySide : std::map<int, bool>{};
  };

  const QByteArray library = read(kLibrary);
  const int groups = pe::CountIconGroups(library);
  EXPECT_GE(groups, 8);
  for (int32_t index = 0; index < groups; ++index) {
    const auto pngBySide = sizes(pe::IconGroupImages(library, index));
    EXPECT_EQ(pngBySide, (std::map<int, bool>{{16, false}, {32, false}})) << "group " << index;
  }

  const auto pngBySide = sizes(ico::SplitIcoFile(read("icons/kestrova-types.ico")));
  ASSERT_EQ(pngBySide.size(), 2u);
  ASSERT_TRUE(pngBySide.count(16) && pngBySide.count(32));
  EXPECT_NE(pngBySide.at(16), pngBySide.at(32));
}

}  // namespace
}  // namespace kestrova
