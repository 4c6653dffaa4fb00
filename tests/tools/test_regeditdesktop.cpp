// kestrova-regedit --import-desktop against a desktop the test builds.

#include <gtest/gtest.h>

#include <sstream>

#include "store/AssocLayout.h"
#include "tests/support/FakeDesktop.h"
#include "tests/support/StoreValues.h"
#include "tests/support/TestStore.h"
#include "tools/RegeditCommand.h"

namespace kestrova {
namespace {

class DesktopEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { test::FakeDesktop::Install(m_dir.Path()); }

 private:
  test::TempDir m_dir;
};
const auto* const kDesktop = ::testing::AddGlobalTestEnvironment(new DesktopEnvironment);

struct Outcome {
  int status;
  std::string out;
  std::string err;
};

Outcome Regedit(const std::vector<std::string>& args) {
  std::ostringstream out, err;
  const int status = RunRegedit(args, out, err);
  return {status, out.str(), err.str()};
}

TEST(RegeditDesktop, ImportsAndRefreshesKeepingEdits) {
  test::TestStore store;
  const Outcome first = Regedit({"--import-desktop"});
  EXPECT_EQ(first.status, kExitOk) << first.err;
  EXPECT_TRUE(first.out.starts_with("Imported from the desktop: ")) << first.out;
  EXPECT_NE(first.err.find("application left out: bad.desktop: %F must stand alone"),
            std::string::npos)
      << first.err;
  EXPECT_EQ(test::ReadValue("\\.kdoc", ""), "Desktop.application.x-kestrova-doc");
  EXPECT_EQ(test::ReadValue(layout::ContentTypeKey("application/x-kestrova-note"), "Extension"),
            ".knote");

  test::WriteText("\\Desktop.application.x-kestrova-doc\\Shell\\open\\command", "",
                  "\"/usr/bin/mine\" \"%1\"");
  const Outcome again = Regedit({"--import-desktop"});
  EXPECT_EQ(again.status, kExitOk);
  EXPECT_NE(again.out.find(": 0 keys written, "), std::string::npos) << again.out;
  EXPECT_NE(again.out.find(" 1 left as edited, 0 removed."), std::string::npos) << again.out;
  EXPECT_EQ(test::ReadValue("\\Desktop.application.x-kestrova-doc\\Shell\\open\\command", ""),
            "\"/usr/bin/mine\" \"%1\"");
}

TEST(RegeditDesktop, TakesNothingElseAndIsInTheHelp) {
  test::TestStore store;
  for (const auto& args : std::vector<std::vector<std::string>>{{"--import-desktop", "/s", "x.reg"},
                                                                {"--import-desktop", "extra"},
                                                                {"--strict", "--import-desktop"}}) {
    const Outcome run = Regedit(args);
    EXPECT_EQ(run.status, kExitFailed);
    EXPECT_NE(run.err.find("--import-desktop takes nothing else"), std::string::npos) << run.err;
  }
  EXPECT_FALSE(test::HasKey("\\.kdoc"));
  EXPECT_NE(Regedit({"--help"}).out.find("--import-desktop"), std::string::npos);
}

}  // namespace
}  // namespace kestrova
