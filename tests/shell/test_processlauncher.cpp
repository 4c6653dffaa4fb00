// The process launcher against a recording opener: what it asks, what it records, when it waits.

#include <gtest/gtest.h>

#include <QApplication>
#include <QWidget>
#include <cstdlib>
#include <stdexcept>

#include "shell/ProcessLauncher.h"
#include "tests/support/RecordingOpener.h"

namespace kestrova {
namespace {

using Log = RecordingOpener::Log;

class ProcessLauncherTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static int argc = 1;
    static char name[] = "test_processlauncher";
    static char* argv[] = {name, nullptr};
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    if (!QApplication::instance()) new QApplication(argc, argv);  // lives to the end
  }
  void SetUp() override { SetOpener(m_opener); }
  void TearDown() override { SetOpener(nullptr); }

  std::shared_ptr<RecordingOpener> m_opener = std::make_shared<RecordingOpener>();
  const Log& Events() const { return *m_opener->log; }
};

TEST_F(ProcessLauncherTest, StartsEmptyAndHandsTheTextsAndOwnerToTheOpener) {
  QWidget owner;
  ProcessLauncher launcher(&owner, true);
  EXPECT_TRUE(launcher.Wait);
  EXPECT_EQ(launcher.LastError(), 0);
  EXPECT_EQ(launcher.ProcessHandle(), nullptr);
  EXPECT_TRUE(ProcessLauncher(nullptr).Command().isEmpty());
  EXPECT_FALSE(ProcessLauncher(nullptr).Wait);

  launcher.SetText(0, "Regedit.exe");
  launcher.SetText(1, "/e \"a b.reg\" HKEY_CLASSES_ROOT\\.txt");
  launcher.SetText(2, "/tmp");
  launcher.SetText(3, "ignored");
  launcher.SetText(-1, "ignored");
  launcher.Start();
  // A backup sets the parameters back; the next caller sets only the command.
  launcher.SetText(ProcessLauncher::kParameters, "");
  launcher.SetText(ProcessLauncher::kCommand, "https://example.invalid/?q=txt");
  launcher.Start();

  ASSERT_EQ(m_opener->requests.size(), 2u);
  const auto& first = m_opener->requests[0];
  EXPECT_EQ(first.owner, &owner);
  EXPECT_EQ(first.command, "Regedit.exe");
  EXPECT_EQ(first.parameters, "/e \"a b.reg\" HKEY_CLASSES_ROOT\\.txt");
  EXPECT_EQ(first.directory, "/tmp");
  const auto& second = m_opener->requests[1];
  EXPECT_EQ(second.command, "https://example.invalid/?q=txt");
  EXPECT_EQ(second.parameters, "");
  EXPECT_EQ(second.directory, "/tmp");  // texts keep their values from start to start
}

TEST_F(ProcessLauncherTest, FailureCodesAreRecordedAndEndTheStartWithoutWaiting) {
  ProcessLauncher launcher(nullptr, true);
  launcher.SetText(0, "x");
  for (const int code : {2, 3, 5, 8, 26, 27, 28, 29, 30, 31, 32}) {
    m_opener->answers.push_back({code, true});
    launcher.Start();
    EXPECT_EQ(launcher.LastError(), code);
    // The handle the opener returned is kept, but not waited for.
    EXPECT_NE(launcher.ProcessHandle(), nullptr);
  }
  for (const auto& event : Events()) EXPECT_FALSE(event.startsWith("wait")) << event.toStdString();
}

TEST_F(ProcessLauncherTest, OtherCodesWaitAndLeaveLastErrorAsItWas) {
  ProcessLauncher launcher(nullptr, true);
  launcher.SetText(0, "x");
  m_opener->answers = {{31, false}, {OpenCode::Succeeded, true}, {0, true}, {1, true}, {33, true}};
  for (int i = 0; i < 5; ++i) launcher.Start();
  EXPECT_EQ(launcher.LastError(), 31);
  EXPECT_EQ(Events(), (Log{"open x", "open x", "wait 1", "close 1", "open x", "wait 2", "close 2",
                           "open x", "wait 3", "close 3", "open x", "wait 4"}));
}

TEST_F(ProcessLauncherTest, NextStartClosesThePreviousHandleFirst) {
  ProcessLauncher launcher(nullptr);
  launcher.SetText(0, "first");
  launcher.Start();
  ASSERT_NE(launcher.ProcessHandle(), nullptr);
  EXPECT_EQ(launcher.ProcessHandle()->Id(), 1);
  launcher.SetText(0, "second");
  m_opener->answers.push_back({2, false});  // also when the next start fails
  launcher.Start();
  EXPECT_EQ(launcher.ProcessHandle(), nullptr);
  EXPECT_EQ(Events(), (Log{"open first", "close 1", "open second"}));
}

TEST_F(ProcessLauncherTest, WaitsOnlyWhenAskedAndWhenAProcessStarted) {
  ProcessLauncher launcher(nullptr, false);
  launcher.SetText(0, "x");
  launcher.Start();
  launcher.Wait = true;
  m_opener->answers.push_back({OpenCode::Succeeded, false});  // handed to a running program
  launcher.Start();
  EXPECT_EQ(launcher.ProcessHandle(), nullptr);
  launcher.Start();
  EXPECT_EQ(Events(), (Log{"open x", "close 1", "open x", "open x", "wait 2"}));
}

TEST_F(ProcessLauncherTest, AnOpenerThatThrowsRaisesNothing) {
  struct Throwing : Opener {
    OpenResult Open(QWidget*, const QString&, const QString&, const QString&) override {
      throw std::runtime_error("broken");
    }
  };
  SetOpener(std::make_shared<Throwing>());
  ProcessLauncher launcher(nullptr, true);
  EXPECT_NO_THROW(launcher.Start());
  EXPECT_EQ(launcher.LastError(), OpenCode::AccessDenied);
  EXPECT_EQ(launcher.ProcessHandle(), nullptr);
}

}  // namespace
}  // namespace kestrova
