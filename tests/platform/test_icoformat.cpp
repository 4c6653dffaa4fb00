// Icon images and .ico files: every depth decodes the right way up with its mask, the
// right size is chosen, and broken or lying files give nothing.

#include <gtest/gtest.h>

#include <limits>

#include "platform/IcoFormat.h"
#include "tests/platform/IconFixtures.h"

namespace kestrova {
namespace {

using test::DibImage;
using test::DibSpec;
using test::IcoFile;
using test::Put32;
using test::SolidDib;
using test::SolidPng;

constexpr QRgb kRed = 0xffff0000;
constexpr QRgb kGreen = 0xff00ff00;
constexpr QRgb kBlue = 0xff0000ff;

QByteArrayView View(const std::string& s) {
  return QByteArrayView(s.data(), static_cast<qsizetype>(s.size()));
}

std::optional<IconPair> IconsOfFile(const std::string& file) {
  return ico::IconsFromImages(ico::SplitIcoFile(View(file)));
}

QRgb Center(const QImage& image) { return image.pixel(image.width() / 2, image.height() / 2); }

// An odd-sized picture whose rows pad differently at every depth: top-left red, top-right
// green (red where only two colours exist), bottom half blue; the bottom row and one top
// pixel masked out.
DibSpec Quadrants(int depth) {
  DibSpec s;
  s.width = 13;
  s.height = 11;
  s.depth = depth;
  const bool twoColours = depth == 1;
  s.palette = twoColours ? std::vector<QRgb>{kBlue, kRed} : std::vector<QRgb>{kBlue, kRed, kGreen};
  s.pixel = [depth, twoColours](int x, int y) -> uint32_t {
    const int index = y >= 6 ? 0 : (x < 7 || twoColours) ? 1 : 2;
    if (depth <= 8) return static_cast<uint32_t>(index);
    const QRgb colours[] = {kBlue, kRed, kGreen};
    return colours[index] | 0xff000000u;
  };
  s.masked = [](int x, int y) { return y == 10 || (y == 0 && x == 3); };
  return s;
}

class DibDepth : public ::testing::TestWithParam<int> {};

TEST_P(DibDepth, DecodesTopDownWithPaddingPaletteAndMask) {
  const int depth = GetParam();
  // A 32-bit image with all alpha bytes set ignores its mask; clear them so the mask counts.
  DibSpec dib = Quadrants(depth);
  if (depth == 32) {
    auto colour = dib.pixel;
    dib.pixel = [colour](int x, int y) { return colour(x, y) & 0x00ffffffu; };
  }
  const QImage image = ico::DecodeImage(View(DibImage(dib)));
  ASSERT_FALSE(image.isNull());
  EXPECT_EQ(image.size(), QSize(13, 11));
  EXPECT_EQ(image.pixel(0, 0), kRed);
  EXPECT_EQ(image.pixel(12, 5), depth == 1 ? kRed : kGreen);
  EXPECT_EQ(image.pixel(12, 9), kBlue);
  EXPECT_EQ(qAlpha(image.pixel(3, 10)), 0);
  EXPECT_EQ(qAlpha(image.pixel(3, 9)), 255);
  EXPECT_EQ(qAlpha(image.pixel(3, 0)), 0);
  EXPECT_EQ(qAlpha(image.pixel(4, 0)), 255);
}

INSTANTIATE_TEST_SUITE_P(AllDepths, DibDepth, ::testing::Values(1, 4, 8, 24, 32));

TEST(IcoFormat, ThirtyTwoBitAlphaWinsOverTheMask) {
  DibSpec s;
  s.width = s.height = 4;
  s.pixel = [](int x, int) { return x == 0 ? 0x80ff0000u : 0xff00ff00u; };
  s.masked = [](int, int) { return true; };  // would hide everything if it counted
  const QImage image = ico::DecodeImage(View(DibImage(s)));
  ASSERT_FALSE(image.isNull());
  EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0x80);
  EXPECT_EQ(image.pixel(1, 0), kGreen);
}

TEST(IcoFormat, PngEntriesDecodeWithTheirAlpha) {
  QImage source(20, 20, QImage::Format_ARGB32);
  source.fill(Qt::transparent);
  source.setPixel(5, 5, kRed);
  const QImage image = ico::DecodeImage(View(test::PngImage(source)));
  ASSERT_FALSE(image.isNull());
  EXPECT_EQ(image.size(), QSize(20, 20));
  EXPECT_EQ(image.pixel(5, 5), kRed);
  EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0);
}

TEST(IcoFormat, ChoosesExactSizesThenLargerThenSmaller) {
  // 32 at two depths (the deeper wins), 16 exact, 48 larger.
  const std::string file = IcoFile(
      {SolidDib(48, kBlue), SolidDib(32, kRed, 8), SolidDib(32, kGreen), SolidDib(16, kBlue)});
  auto icons = IconsOfFile(file);
  ASSERT_TRUE(icons);
  EXPECT_EQ(icons->large.size(), QSize(32, 32));
  EXPECT_EQ(icons->small.size(), QSize(16, 16));
  EXPECT_EQ(Center(icons->large), kGreen);
  EXPECT_EQ(Center(icons->small), kBlue);

  // No exact size: the smallest larger image is scaled down, before any smaller one.
  icons = IconsOfFile(IcoFile({SolidDib(24, kGreen), SolidDib(64, kBlue), SolidPng(48, kRed)}));
  ASSERT_TRUE(icons);
  EXPECT_EQ(Center(icons->large), kRed);
  EXPECT_EQ(Center(icons->small), kGreen);
  EXPECT_EQ(icons->large.size(), QSize(32, 32));

  // Only smaller images: the largest is scaled up.
  icons = IconsOfFile(IcoFile({SolidDib(8, kRed), SolidDib(12, kBlue)}));
  ASSERT_TRUE(icons);
  EXPECT_EQ(Center(icons->large), kBlue);
  EXPECT_EQ(icons->large.size(), QSize(32, 32));
}

TEST(IcoFormat, TrustsImageHeadersNotTheDirectory) {
  // The directory calls every entry 32 by 32; only the 16 really is what the small icon wants.
  const std::string file = IcoFile({SolidDib(32, kRed), SolidDib(16, kGreen)}, 32);
  const auto icons = IconsOfFile(file);
  ASSERT_TRUE(icons);
  EXPECT_EQ(Center(icons->large), kRed);
  EXPECT_EQ(Center(icons->small), kGreen);
}

TEST(IcoFormat, CursorFilesReadLikeIcons) {
  EXPECT_TRUE(IconsOfFile(IcoFile({SolidDib(32, kRed)}, 32, 2)));
  EXPECT_FALSE(IconsOfFile(IcoFile({SolidDib(32, kRed)}, 32, 3)));
}

TEST(IcoFormat, TruncatedEntriesAreLeftOut) {
  const std::string dib = SolidDib(16, kRed, 4);
  const std::string file = IcoFile({dib, SolidPng(32, kBlue)});
  ASSERT_TRUE(IconsOfFile(file));
  // Cut inside the PNG, the whole DIB still serves both sizes; cut anywhere earlier,
  // nothing is left.
  const size_t dibEnd = 6 + 2 * 16 + dib.size();
  for (size_t length = 0; length < file.size(); ++length) {
    const auto icons = IconsOfFile(file.substr(0, length));
    if (length >= dibEnd) {
      ASSERT_TRUE(icons) << "cut at " << length;
      EXPECT_EQ(Center(icons->large), kRed);
    } else {
      EXPECT_FALSE(icons) << "cut at " << length;
    }
  }
}

TEST(IcoFormat, LyingDirectoriesGiveNothing) {
  const std::string good = IcoFile({SolidDib(16, kRed)});
  auto edited = [&](size_t at, uint32_t value, bool wide = true) {
    std::string b = good;
    if (wide) {
      Put32(b, at, value);
    } else {
      test::Put16(b, at, value);
    }
    return IconsOfFile(b);
  };
  EXPECT_FALSE(edited(4, 0xFFFF, false)) << "count beyond the file";
  EXPECT_FALSE(edited(0, 1, false)) << "reserved field set";
  EXPECT_FALSE(edited(6 + 8, 0xFFFFFFFF)) << "size beyond the file";
  EXPECT_FALSE(edited(6 + 12, 0xFFFFFFF0)) << "offset beyond the file";
  EXPECT_FALSE(edited(6 + 12, 0)) << "offset inside the directory";
}

TEST(IcoFormat, HostileImageHeadersGiveNothing) {
  const std::string good = SolidDib(16, kRed, 8);
  ASSERT_FALSE(ico::DecodeImage(View(good)).isNull());
  auto broken = [&](size_t at, uint32_t value) {
    std::string b = good;
    Put32(b, at, value);
    return ico::DecodeImage(View(b)).isNull() && !ico::ProbeImage(View(b));
  };
  EXPECT_TRUE(broken(8, static_cast<uint32_t>(std::numeric_limits<int32_t>::min())))
      << "height INT_MIN";
  EXPECT_TRUE(broken(8, 0)) << "height 0";
  EXPECT_TRUE(broken(8, static_cast<uint32_t>(-32))) << "top-down height";
  EXPECT_TRUE(broken(8, 64)) << "height beyond the bytes";
  EXPECT_TRUE(broken(4, 0)) << "width 0";
  EXPECT_TRUE(broken(4, 100000)) << "width beyond any icon";
  EXPECT_TRUE(broken(32, 0xFFFFFFFF)) << "colour count beyond the depth";
  EXPECT_TRUE(broken(0, 0x7FFFFFFF)) << "header size beyond the bytes";
  EXPECT_TRUE(broken(0, 12)) << "header smaller than BITMAPINFOHEADER";
  EXPECT_TRUE(broken(16, 1)) << "RLE compression";
  EXPECT_TRUE(broken(12, 0x00100001)) << "16 bits per pixel";

  // A PNG whose header claims a giant image is refused before any decoding.
  const std::string png = test::PngClaiming(20000, 20000);
  EXPECT_FALSE(ico::ProbeImage(View(png)));
  EXPECT_TRUE(ico::DecodeImage(View(png)).isNull());
  // A PNG cut short does not decode.
  EXPECT_TRUE(ico::DecodeImage(View(SolidPng(16, kRed).substr(0, 40))).isNull());
}

}  // namespace
}  // namespace kestrova
