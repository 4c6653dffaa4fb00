// Tools > Check Associations from the main window: the window it opens, a mend with the
// program's backup, and the main window showing the mended file type anew.

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <QTreeWidget>
#include <filesystem>
#include <functional>

#include "app/Main.h"
#include "dialogs/CheckAssociations.h"
#include "tests/app/MainWindowFixture.h"

namespace kestrova::test {
namespace {

class CheckMenuTest : public MainWindowTest {};

// Runs `then` from the dialog's own loop once its check has ended, looking every few
// milliseconds: waiting in a nested loop instead would sit inside the event that started
// the wait, and events the worker posts meanwhile may then wait for that one to end. A
// check that never ends closes the dialog, so the test fails rather than hangs.
void AfterCheck(CheckAssociationsDialog* dialog, std::function<void()> then) {
  auto* poll = new QTimer(dialog);
  auto* clock = new QElapsedTimer;
  clock->start();
  QObject::connect(poll, &QTimer::timeout, dialog, [dialog, poll, clock, then] {
    if (dialog->Checking() && clock->elapsed() < 60000) return;
    poll->stop();
    poll->deleteLater();
    const bool finished = !dialog->Checking();
    delete clock;
    EXPECT_TRUE(finished) << "the check did not end";
    if (finished) {
      then();
    } else {
      dialog->reject();
    }
  });
  poll->start(10);
}

// The shownfile backups written since `since`, with what they hold.
std::vector<std::string> ShownBackups(std::filesystem::file_time_type since) {
  const std::string dir = std::getenv("KESTROVA_BACKUP_DIR");
  std::vector<std::string> texts;
  if (!std::filesystem::is_directory(dir)) return texts;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    if (entry.path().filename().string().starts_with("shownfile-") &&
        entry.last_write_time() >= since) {
      texts.push_back(ReadFile(entry.path().string()));
    }
  }
  return texts;
}

TEST_F(CheckMenuTest, MendsFromTheToolsMenuWithABackupAndReloadsTheShownType) {
  WriteText("\\.shown", "", "shownfile");
  WriteText("\\shownfile", "", "Shown Document");
  WriteText("\\shownfile\\DefaultIcon", "", "/nonexistent-kestrova/x.ico,0");
  TForm1& f = Form();
  f.Ext->setText("shown");
  ASSERT_EQ(f.State.CurrentIconFile, "/nonexistent-kestrova/x.ico");

  const auto start = std::filesystem::file_time_type::clock::now();
  QAction* item = f.findChild<QAction*>("CheckAssociations1");
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(item->text(), "&Check Associations");
  EXPECT_TRUE(f.ools1->actions().contains(item));

  QStringList groups;
  bool ran = false;
  QTimer::singleShot(0, [&] {
    auto* dialog = dynamic_cast<CheckAssociationsDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    ran = true;
    AfterCheck(dialog, [&, dialog] {
      QTreeWidget* tree = dialog->Tree();
      for (int i = 0; i < tree->topLevelItemCount(); ++i) groups << tree->topLevelItem(i)->text(0);
      for (int i = 0; i < tree->topLevelItemCount(); ++i) {
        if (tree->topLevelItem(i)->text(0).startsWith("Icons"))
          tree->topLevelItem(i)->setSelected(true);
      }
      m_boxes->confirmAnswers = {true};
      dialog->MendSelected();
      AfterCheck(dialog, [dialog] { dialog->reject(); });
    });
  });
  item->trigger();
  ASSERT_TRUE(ran);
  EXPECT_TRUE(groups.contains("Icons that cannot be found (1)")) << groups.join("|").toStdString();

  EXPECT_FALSE(HasKey("\\shownfile\\DefaultIcon"));
  EXPECT_TRUE(f.State.CurrentIconFile.empty());  // shown anew, with the stock icon
  // The backup folder outlives a run of the test: only files written now count.
  const auto backups = ShownBackups(start);
  ASSERT_EQ(backups.size(), 1u);
  EXPECT_NE(backups[0].find("/nonexistent-kestrova/x.ico"), std::string::npos);
}

}  // namespace
}  // namespace kestrova::test
