// The association check's desktop probes: programs found as the opener finds them, with the
// shell's splitting and %NAME% expansion, and files as they stand.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>

#include "platform/CheckProbesDesktop.h"
#include "tests/support/ScriptedIconSource.h"
#include "tests/support/TestStore.h"

namespace kestrova {
namespace {

using test::TempDir;
using test::WriteFile;

class CheckProbesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFile(m_dir.File("runs"), "#!/bin/sh\n");
    chmod(m_dir.File("runs").c_str(), 0755);
    WriteFile(m_dir.File("text"), "not a program\n");
    chmod(m_dir.File("text").c_str(), 0644);
    WriteFile(m_dir.File("kestrova-regedit"), "");
    const char* path = std::getenv("PATH");
    m_oldPath = path ? path : "";
    setenv("PATH", ("/nonexistent:" + m_dir.Path()).c_str(), 1);
    setenv("KESTROVA_TEST_ROOT", m_dir.Path().c_str(), 1);
    unsetenv("SystemRoot");
  }
  void TearDown() override { setenv("PATH", m_oldPath.c_str(), 1); }

  ProgramState Resolve(const std::string& line) {
    m_program.clear();
    return m_resolver.Resolve(line, &m_program);
  }

  TempDir m_dir;
  std::string m_oldPath;
  DesktopProgramResolver m_resolver{
      DesktopOpener::Options{QString::fromStdString(m_dir.Path()), QString()}};
  std::string m_program;
};

TEST_F(CheckProbesTest, FindsProgramsByPathAndByName) {
  EXPECT_EQ(Resolve("\"" + m_dir.File("runs") + "\" \"%1\""), ProgramState::Found);
  EXPECT_EQ(m_program, m_dir.File("runs"));
  EXPECT_EQ(Resolve("runs --flag %1"), ProgramState::Found);
  EXPECT_EQ(m_program, "runs");
  EXPECT_EQ(Resolve("\"%KESTROVA_TEST_ROOT%/runs\" %1"), ProgramState::Found);
  EXPECT_EQ(m_program, m_dir.File("runs"));
  // The registry editor the program starts by its Windows name.
  EXPECT_EQ(Resolve("\"REGEDIT.EXE\" \"%1\""), ProgramState::Found);
}

TEST_F(CheckProbesTest, TellsMissingFromNotExecutable) {
  EXPECT_EQ(Resolve(m_dir.File("gone") + " %1"), ProgramState::Missing);
  EXPECT_EQ(Resolve(m_dir.File("text") + " %1"), ProgramState::NotExecutable);
  EXPECT_EQ(Resolve(m_dir.Path()), ProgramState::NotExecutable);  // a folder
  // On PATH only a file that cannot run has the name.
  EXPECT_EQ(Resolve("text"), ProgramState::NotExecutable);
  EXPECT_EQ(Resolve("nosuchprogram-kestrova"), ProgramState::Missing);
}

TEST_F(CheckProbesTest, WindowsPathsAndUnsetVariablesAreMissingAsTheLauncherFindsThem) {
  EXPECT_EQ(Resolve(R"("%SystemRoot%\system32\notepad.exe" "%1")"), ProgramState::Missing);
  EXPECT_EQ(m_program, R"(%SystemRoot%\system32\notepad.exe)");
  EXPECT_EQ(Resolve(R"(C:\Windows\notepad.exe %1)"), ProgramState::Missing);
}

TEST_F(CheckProbesTest, TheDocumentItselfAndWebAddressesAreNotChecked) {
  EXPECT_EQ(Resolve("\"%1\" %*"), ProgramState::NotChecked);
  EXPECT_EQ(Resolve("%L"), ProgramState::NotChecked);
  EXPECT_EQ(Resolve("https://example.org/x?%1"), ProgramState::NotChecked);
  EXPECT_EQ(Resolve("   "), ProgramState::NotChecked);
}

TEST_F(CheckProbesTest, FilesAreTakenAsTheyStand) {
  DesktopCheckFiles files(std::make_shared<ScriptedIconSource>());
  EXPECT_TRUE(files.Exists(m_dir.File("text")));
  EXPECT_FALSE(files.Exists(m_dir.File("gone")));
  EXPECT_FALSE(files.Exists("\"" + m_dir.File("text") + "\""));
  EXPECT_FALSE(files.Exists(""));
}

}  // namespace
}  // namespace kestrova
