// Icon groups of PE32 and PE32+ files: index by position and by resource identifier, the
// language chosen, and files whose headers, counts or offsets lie.

#include <gtest/gtest.h>

#include <limits>

#include "platform/IcoFormat.h"
#include "platform/PeResources.h"
#include "tests/platform/IconFixtures.h"

namespace kestrova {
namespace {

using test::BuildPe;
using test::BuiltPe;
using test::IconGroupSpec;
using test::Put16;
using test::Put32;
using test::SolidDib;
using test::SolidPng;

constexpr QRgb kRed = 0xffff0000;
constexpr QRgb kGreen = 0xff00ff00;
constexpr QRgb kBlue = 0xff0000ff;
constexpr QRgb kYellow = 0xffffff00;

QByteArrayView View(const std::string& s) {
  return QByteArrayView(s.data(), static_cast<qsizetype>(s.size()));
}

// The colour of a file's icon at `index`, or 0 when it has none.
QRgb ColourAt(const std::string& file, int32_t index) {
  const auto icons = ico::IconsFromImages(pe::IconGroupImages(View(file), index));
  if (!icons) return 0;
  return icons->large.pixel(16, 16);
}

// The file offset of the data that the resource data entry at file offset `entry` names.
size_t DataAt(const std::string& file, size_t entry) {
  const uint32_t rva = static_cast<uint8_t>(file[entry]) | static_cast<uint8_t>(file[entry + 1])
                                                               << 8;
  return 0x200 + (rva - 0x1000);
}

// Two named groups and two numbered ones, given out of order; each a 16 DIB and a 32 PNG.
std::vector<IconGroupSpec> FourGroups() {
  auto group = [](test::ResName name, QRgb colour) {
    return IconGroupSpec{name, {SolidDib(16, colour), SolidPng(32, colour)}};
  };
  return {group(uint16_t{200}, kYellow), group(u"ZEBRA", kGreen), group(uint16_t{101}, kBlue),
          group(u"APPLE", kRed)};
}

class PeFlavour : public ::testing::TestWithParam<bool> {};

TEST_P(PeFlavour, IndexesGroupsByPositionAndByIdentifier) {
  const std::string file = BuildPe(GetParam(), FourGroups()).bytes;
  ASSERT_TRUE(pe::LooksLikePe(View(file)));
  EXPECT_EQ(pe::CountIconGroups(View(file)), 4);
  // Stored order: named groups first, then identifiers ascending.
  EXPECT_EQ(ColourAt(file, 0), kRed);
  EXPECT_EQ(ColourAt(file, 1), kGreen);
  EXPECT_EQ(ColourAt(file, 2), kBlue);
  EXPECT_EQ(ColourAt(file, 3), kYellow);
  EXPECT_EQ(ColourAt(file, 4), 0u);
  EXPECT_EQ(ColourAt(file, std::numeric_limits<int32_t>::max()), 0u);
  // A negative index is the identifier: -1 is identifier 1 (absent here), not a count.
  EXPECT_EQ(ColourAt(file, -101), kBlue);
  EXPECT_EQ(ColourAt(file, -200), kYellow);
  EXPECT_EQ(ColourAt(file, -1), 0u);
  EXPECT_EQ(ColourAt(file, -65536 - 101), 0u) << "identifiers are 16-bit";
  EXPECT_EQ(ColourAt(file, std::numeric_limits<int32_t>::min()), 0u);
  // A group's images are both sizes: the small icon comes from the 16 DIB.
  const auto icons = ico::IconsFromImages(pe::IconGroupImages(View(file), 2));
  ASSERT_TRUE(icons);
  EXPECT_EQ(icons->small.pixel(8, 8), kBlue);
}

INSTANTIATE_TEST_SUITE_P(Pe32AndPe32Plus, PeFlavour, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Pe32Plus" : "Pe32"; });

TEST(PeResources, PrefersNeutralThenUsEnglishThenTheFirstLanguage) {
  // Every language gets the same group; the ones that must not be chosen are broken by
  // pointing them to an icon identifier that does not exist.
  auto choose = [](std::vector<uint16_t> languages, std::vector<size_t> broken) {
    BuiltPe pe = BuildPe(false, {IconGroupSpec{uint16_t{1}, {SolidDib(32, kRed)}, languages}});
    const size_t langDir = pe.at["groupLangDir0"];
    for (size_t leaf : broken) {
      // The language entry holds the data entry's offset from the section start (0x200).
      const size_t field = langDir + 16 + leaf * 8 + 4;
      const size_t dataEntry = 0x200 + (static_cast<uint8_t>(pe.bytes[field]) |
                                        static_cast<uint8_t>(pe.bytes[field + 1]) << 8);
      Put16(pe.bytes, DataAt(pe.bytes, dataEntry) + 6 + 12, 999);
    }
    return ColourAt(pe.bytes, 0);
  };
  EXPECT_EQ(choose({0x407, 0x409, 0}, {0, 1}), kRed) << "neutral";
  EXPECT_EQ(choose({0x407, 0x409}, {0}), kRed) << "US English";
  EXPECT_EQ(choose({0x407, 0x40C}, {1}), kRed) << "the first";
}

TEST(PeResources, GroupsKeepTheIconsThatExist) {
  BuiltPe pe =
      BuildPe(false, {IconGroupSpec{uint16_t{5}, {SolidDib(16, kRed), SolidDib(32, kGreen)}}});
  const size_t group = DataAt(pe.bytes, pe.at["groupDataEntry0"]);
  Put16(pe.bytes, group + 6 + 12, 77);  // the 16 names a missing RT_ICON
  EXPECT_EQ(pe::IconGroupImages(View(pe.bytes), 0).size(), 1u);
  EXPECT_EQ(ColourAt(pe.bytes, 0), kGreen);
  Put16(pe.bytes, group + 6 + 14 + 12, 78);  // and now the 32 too
  EXPECT_TRUE(pe::IconGroupImages(View(pe.bytes), 0).empty());
}

TEST(PeResources, NonPeAndIconlessFilesGiveNothing) {
  EXPECT_FALSE(pe::LooksLikePe(View(std::string("MZ") + std::string(100, '\0'))));
  EXPECT_FALSE(pe::LooksLikePe(View(std::string())));
  BuiltPe pe = BuildPe(true, FourGroups());
  Put32(pe.bytes, pe.at["root"] + 16 + 8, 15);  // RT_GROUP_ICON renamed: no groups left
  EXPECT_EQ(pe::CountIconGroups(View(pe.bytes)), 0);
  EXPECT_EQ(ColourAt(pe.bytes, 0), 0u);
}

TEST_P(PeFlavour, EveryTruncationIsSafe) {
  const std::string file = BuildPe(GetParam(), FourGroups()).bytes;
  // Whatever a cut file yields must lie inside the bytes it was given.
  for (size_t length = 0; length < file.size(); ++length) {
    const std::string cut = file.substr(0, length);
    for (int32_t index : {0, 3, -101}) {
      const auto images = pe::IconGroupImages(View(cut), index);
      for (QByteArrayView image : images) {
        ASSERT_GE(image.data(), cut.data());
        ASSERT_LE(image.data() + image.size(), cut.data() + cut.size());
      }
      (void)ico::IconsFromImages(images);
    }
    EXPECT_LE(pe::CountIconGroups(View(cut)), 4);
  }
}

TEST(PeResources, LyingHeadersAndTreesGiveNothing) {
  const BuiltPe good = BuildPe(false, FourGroups());
  ASSERT_EQ(ColourAt(good.bytes, 0), kRed);
  auto with = [&](size_t at, uint32_t value, int width = 4) {
    std::string b = good.bytes;
    if (width == 4) {
      Put32(b, at, value);
    } else {
      Put16(b, at, value);
    }
    return b;
  };
  const size_t pe = good.at.at("peHeader");
  const size_t section = good.at.at("sectionHeader");
  const size_t groupDir = good.at.at("groupDir");
  const size_t root = good.at.at("root");
  const size_t lang0 = good.at.at("groupLangDir0");
  const size_t data0 = good.at.at("groupDataEntry0");
  const std::vector<std::pair<const char*, std::string>> cases = {
      {"e_lfanew past the end", with(0x3C, 0xFFFFFFF0)},
      {"unknown optional header magic", with(pe + 24, 0x107, 2)},
      {"optional header too small for the resource entry", with(pe + 20, 64, 2)},
      {"too few data directories", with(pe + 24 + 92, 2)},
      {"section count beyond the file", with(pe + 6, 0xFFFF, 2)},
      {"section raw data beyond the file", with(section + 20, 0xFFFFFF00)},
      {"section raw data shorter than the tree", with(section + 16, 16)},
      {"resource RVA outside every section", with(good.at.at("resourceDirectory"), 0x90000)},
      {"root entry count beyond the section", with(root + 14, 0xFFFF, 2)},
      {"group directory points to itself",
       with(root + 16 + 8 + 4, 0x80000000u | static_cast<uint32_t>(root - 0x200))},
      {"language level is a directory (a cycle)",
       with(lang0 + 16 + 4, 0x80000000u | static_cast<uint32_t>(root - 0x200))},
      {"name level holds data, not a directory", with(groupDir + 16 + 4, 0x10)},
      {"group data size of 4 GB", with(data0 + 4, 0xFFFFFFFF)},
      {"group data RVA wraps", with(data0, 0xFFFFFFF8)},
      {"group entry count beyond its data", with(DataAt(good.bytes, data0) + 4, 0xFFFF, 2)},
  };
  for (const auto& [what, bytes] : cases) EXPECT_EQ(ColourAt(bytes, 0), 0u) << what;
}

TEST(PeResources, ScrambledBytesNeverCrash) {
  // A cheap, deterministic stand-in for fuzzing: overwrite single header and tree bytes.
  // DIB entries only: damaged PNGs are the PNG library's business, and it logs each one.
  std::vector<IconGroupSpec> groups = FourGroups();
  for (IconGroupSpec& g : groups) g.images.pop_back();
  const std::string good = BuildPe(true, groups).bytes;
  uint32_t seed = 12345;
  auto next = [&] { return seed = seed * 1103515245u + 12345u; };
  for (int round = 0; round < 4000; ++round) {
    std::string b = good;
    const size_t limit = round % 2 ? 0x400 : b.size();
    for (int n = 0; n < 3; ++n) b[next() % limit] = static_cast<char>(next() >> 16);
    for (int32_t index : {0, 1, 3, -101, -200})
      (void)ico::IconsFromImages(pe::IconGroupImages(View(b), index));
  }
  SUCCEED();
}

}  // namespace
}  // namespace kestrova
