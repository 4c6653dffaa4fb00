// The production icon source on real files: which kinds it reads at which index, what it
// refuses, theme names, and the stock icons.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QGuiApplication>
#include <QIcon>
#include <filesystem>

#include "platform/IconSourceDesktop.h"
#include "tests/platform/IconFixtures.h"
#include "tests/support/TestStore.h"

namespace kestrova {
namespace {

using test::WriteFile;

constexpr QRgb kRed = 0xffff0000;
constexpr QRgb kGreen = 0xff00ff00;
constexpr QRgb kBlue = 0xff0000ff;

class DesktopIconSourceTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // Theme lookups and SVG rendering want the GUI application the program always has.
    static int argc = 1;
    static char name[] = "test";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance()) new QGuiApplication(argc, argv);
  }

  std::string Write(const std::string& name, const std::string& bytes) {
    WriteFile(m_dir.File(name), bytes);
    return m_dir.File(name);
  }

  static QRgb Colour(const std::optional<IconPair>& icons) {
    if (!icons) return 0;
    EXPECT_EQ(icons->large.size(), QSize(32, 32));
    EXPECT_EQ(icons->small.size(), QSize(16, 16));
    return icons->large.pixel(16, 16);
  }

  test::TempDir m_dir;
  DesktopIconSource m_source;
};

TEST_F(DesktopIconSourceTest, ReadsEachKindOfFileAtItsIndexes) {
  const std::string icoFile =
      Write("a.ico", test::IcoFile({test::SolidDib(32, kRed), test::SolidDib(16, kRed)}));
  const std::string dll =
      Write("lib.dll", test::BuildPe(true, {{uint16_t{7}, {test::SolidDib(32, kGreen)}},
                                            {uint16_t{9}, {test::SolidDib(32, kBlue)}}})
                           .bytes);
  const std::string png = Write("b.png", test::SolidPng(48, kBlue));
  const std::string svg = Write("c.svg",
                                "<svg xmlns='http://www.w3.org/2000/svg' viewBox='0 0 10 10'>"
                                "<rect width='10' height='10' fill='#00ff00'/></svg>");
  QImage xpmImage(8, 8, QImage::Format_RGB32);
  xpmImage.fill(kRed);
  const std::string xpm = m_dir.File("d.xpm");
  ASSERT_TRUE(xpmImage.save(QString::fromStdString(xpm), "XPM"));

  EXPECT_EQ(Colour(m_source.Extract(icoFile, 0)), kRed);
  EXPECT_EQ(Colour(m_source.Extract(dll, 1)), kBlue);
  EXPECT_EQ(Colour(m_source.Extract(dll, -7)), kGreen);
  EXPECT_EQ(Colour(m_source.Extract(png, 0)), kBlue);
  EXPECT_EQ(Colour(m_source.Extract(svg, 0)), kGreen);
  EXPECT_EQ(Colour(m_source.Extract(xpm, 0)), kRed);
  // Single-icon kinds have nothing past index 0, nor at a resource identifier.
  for (const std::string& single : {icoFile, png, svg, xpm}) {
    EXPECT_FALSE(m_source.Extract(single, 1)) << single;
    EXPECT_FALSE(m_source.Extract(single, -1)) << single;
  }
  EXPECT_FALSE(m_source.Extract(dll, 2));

  EXPECT_EQ(m_source.Count(icoFile), 1);
  EXPECT_EQ(m_source.Count(dll), 2);
  EXPECT_EQ(m_source.Count(png), 1);
}

TEST_F(DesktopIconSourceTest, RefusesWhatIsNoIconFile) {
  const std::string icoFile = Write("a b.ico", test::IcoFile({test::SolidDib(16, kRed)}));
  ASSERT_TRUE(m_source.Extract(icoFile, 0));
  // The text is taken as it stands: quotes are part of the name.
  EXPECT_FALSE(m_source.Extract("\"" + icoFile + "\"", 0));
  EXPECT_FALSE(m_source.Extract("", 0));
  EXPECT_FALSE(m_source.Extract(m_dir.File("missing.ico"), 0));
  EXPECT_FALSE(m_source.Extract(Write("notes.txt", "just some text\n"), 0));
  EXPECT_FALSE(m_source.Extract(Write("empty.ico", ""), 0));
  EXPECT_FALSE(m_source.Extract(Write("dos.exe", "MZ" + std::string(200, '\x01')), 0));
  EXPECT_FALSE(m_source.Extract(m_dir.Path(), 0)) << "a directory";
  EXPECT_EQ(m_source.Count(m_dir.Path()), 0);
  // A pipe is never opened: reading it would block the window.
  const std::string fifo = m_dir.File("pipe");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_FALSE(m_source.Extract(fifo, 0));
  // Compressed SVG could inflate without bound from a small file; it is not read at all.
  const std::string svg =
      "<svg xmlns='http://www.w3.org/2000/svg' viewBox='0 0 10 10'><rect width='10' "
      "height='10'/></svg>";
  ASSERT_TRUE(m_source.Extract(Write("plain.svg", svg), 0));
  EXPECT_FALSE(m_source.Extract(Write("packed.svgz", test::Gzip(svg)), 0));
  // An image whose header claims a giant size is refused before decoding.
  EXPECT_FALSE(m_source.Extract(Write("huge.png", test::PngClaiming(5000, 5000)), 0));
}

TEST_F(DesktopIconSourceTest, StockIconsExistWithoutATheme) {
  // No theme on the offscreen platform: the icons built into the program serve.
  const auto document = m_source.Stock(IconSource::kStockDocument);
  const auto application = m_source.Stock(IconSource::kStockApplication);
  ASSERT_TRUE(document);
  ASSERT_TRUE(application);
  EXPECT_EQ(document->large.size(), QSize(32, 32));
  EXPECT_EQ(document->small.size(), QSize(16, 16));
  EXPECT_EQ(application->large.size(), QSize(32, 32));
  EXPECT_NE(document->large, application->large);
  EXPECT_FALSE(m_source.Stock(1));
  EXPECT_FALSE(m_source.Stock(-2));
}

TEST_F(DesktopIconSourceTest, ThemeNamesAndStockComeFromTheIconTheme) {
  // A theme of our own, so that the test does not depend on the desktop's.
  const std::filesystem::path themes = std::filesystem::path(m_dir.Path()) / "icons";
  const std::filesystem::path theme = themes / "kestrova-test";
  std::filesystem::create_directories(theme / "32x32" / "apps");
  WriteFile((theme / "index.theme").string(),
            "[Icon Theme]\nName=kestrova-test\nDirectories=32x32/apps\n\n"
            "[32x32/apps]\nSize=32\nType=Fixed\n");
  auto icon = [&](const char* name, QRgb colour) {
    QImage image(32, 32, QImage::Format_ARGB32);
    image.fill(colour);
    ASSERT_TRUE(
        image.save(QString::fromStdString((theme / "32x32" / "apps" / name).string()), "PNG"));
  };
  icon("kestrova-probe.png", kGreen);
  icon("text-x-generic.png", kBlue);

  const QStringList oldPaths = QIcon::themeSearchPaths();
  const QString oldTheme = QIcon::themeName();
  QIcon::setThemeSearchPaths({QString::fromStdString(themes.string())});
  QIcon::setThemeName(QStringLiteral("kestrova-test"));

  EXPECT_EQ(Colour(m_source.Extract("kestrova-probe", 0)), kGreen);
  EXPECT_FALSE(m_source.Extract("kestrova-probe", 1));
  EXPECT_FALSE(m_source.Extract("no-such-icon-name", 0));
  EXPECT_EQ(m_source.Count("kestrova-probe"), 1);
  // A file of that name wins over the theme, here a file that holds no icon.
  EXPECT_FALSE(m_source.Extract(Write("kestrova-probe", "text"), 0));
  EXPECT_EQ(Colour(m_source.Stock(IconSource::kStockDocument)), kBlue);
  // The theme has no application icon: the built-in one stands in.
  EXPECT_TRUE(m_source.Stock(IconSource::kStockApplication));

  QIcon::setThemeName(oldTheme);
  QIcon::setThemeSearchPaths(oldPaths);
}

}  // namespace
}  // namespace kestrova
