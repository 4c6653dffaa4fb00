// Broken icon and program files kept as data (tests/platform/data/broken): each reaches the
// parser it is named for and is refused cleanly, with no icon, no count and no crash.

#include <gtest/gtest.h>

#include <QFile>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/IcoFormat.h"
#include "platform/IconSourceDesktop.h"

namespace kestrova {
namespace {

std::vector<std::filesystem::path> BrokenFiles() {
  const char* source = std::getenv("KESTROVA_SOURCE_DIR");
  if (!source) return {};
  std::vector<std::filesystem::path> files;
  for (const auto& entry :
       std::filesystem::directory_iterator(std::string(source) + "/tests/platform/data/broken")) {
    if (entry.is_regular_file()) files.push_back(entry.path());
  }
  return files;
}

QByteArray Bytes(const std::filesystem::path& path) {
  QFile file(QString::fromStdString(path.string()));
  if (!file.open(QIODevice::ReadOnly)) return {};
  return file.readAll();
}

TEST(BrokenIcons, EveryFileIsRefusedCleanly) {
  const auto files = BrokenFiles();
  ASSERT_GE(files.size(), 10u) << "the broken files are missing";
  DesktopIconSource source;
  for (const auto& path : files) {
    SCOPED_TRACE(path.filename().string());
    const QByteArray bytes = Bytes(path);
    ASSERT_FALSE(bytes.isEmpty());
    // Each file reaches the parser its name promises, so it tests that parser's refusal.
    const std::string name = path.filename().string();
    if (name.starts_with("ico-")) {
      EXPECT_TRUE(ico::LooksLikeIco(bytes));
    } else {
      ASSERT_TRUE(name.starts_with("pe-")) << "name a broken file for its parser";
      EXPECT_TRUE(bytes.startsWith("MZ"));
    }
    for (const int32_t index : {0, 1, -1, -101}) {
      EXPECT_FALSE(IconsFromBytes(bytes, index)) << "index " << index;
      EXPECT_FALSE(source.Extract(path.string(), index)) << "index " << index;
    }
    // A program's count names the groups its directory lists, even when none of them can
    // be read; an icon file counts only what decodes.
    const int count = CountIconsInBytes(bytes);
    EXPECT_EQ(source.Count(path.string()), count);
    if (name.starts_with("ico-")) {
      EXPECT_EQ(count, 0);
    }
    for (int32_t index = 0; index < count; ++index) EXPECT_FALSE(IconsFromBytes(bytes, index));
  }
}

}  // namespace
}  // namespace kestrova
