// The Check Associations window on Qt offscreen: findings grouped by kind from a check on
// the worker thread, and the selected ones mended after the user agrees through the boxes.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <filesystem>

#include "dialogs/CheckAssociations.h"
#include "platform/Boxes.h"
#include "platform/WindowsCommandLine.h"
#include "regfile/RegImporter.h"
#include "regfile/RegKeyBackup.h"
#include "tests/support/RecordingBoxes.h"
#include "tests/support/StoreValues.h"
#include "tests/support/TestStore.h"

namespace kestrova {
namespace {

class KnownPrograms final : public ProgramResolver {
 public:
  ProgramState Resolve(const std::string& line, std::string* program) override {
    *program = SplitProgramName(line).program;
    if (program->starts_with("%")) return ProgramState::NotChecked;
    return *program == "/usr/bin/good" || *program == "good" ? ProgramState::Found
                                                             : ProgramState::Missing;
  }
};

class KnownFiles final : public CheckFiles {
 public:
  bool Exists(const std::string& file) override { return file == "/icons/good.ico"; }
  int IconCount(const std::string&) override { return 2; }
};

class CheckWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetBoxes(m_boxes);
    const std::string text =
        test::ReadFile(std::string(KESTROVA_SOURCE_DIR) + "/tests/store/data/one-problem-each.reg");
    ASSERT_FALSE(RegImporter(*m_store.Engine()).Import(std::string_view(text), "t.reg").Failed());
    CheckAssociationsDialog::Services services;
    services.programs = [] { return std::make_unique<KnownPrograms>(); };
    services.files = [] { return std::make_unique<KnownFiles>(); };
    services.backup = [this](RegistryEngine& engine) {
      return std::make_unique<RegKeyBackup>(engine, [this](const std::string& name) {
        return m_backups.File(name + "-" + std::to_string(m_files++) + ".reg");
      });
    };
    services.mended = [this](const std::vector<Finding>& mended) {
      for (const Finding& f : mended) m_mended.push_back(f.subject);
    };
    m_dialog = std::make_unique<CheckAssociationsDialog>(nullptr, std::move(services));
  }
  void TearDown() override {
    m_dialog.reset();
    SetBoxes(nullptr);
  }

  bool Finished() {
    QElapsedTimer clock;
    clock.start();
    QTimer wake;
    wake.start(50);
    while (m_dialog->Checking()) {
      if (clock.elapsed() > 20000) return false;
      QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
  }
  // "caption (n)" of each group, and the subjects under it.
  std::vector<std::pair<QString, QStringList>> Groups() {
    std::vector<std::pair<QString, QStringList>> groups;
    QTreeWidget* tree = m_dialog->Tree();
    for (int i = 0; i < tree->topLevelItemCount(); ++i) {
      QTreeWidgetItem* group = tree->topLevelItem(i);
      QStringList subjects;
      for (int j = 0; j < group->childCount(); ++j) subjects << group->child(j)->text(0);
      groups.emplace_back(group->text(0), subjects);
    }
    return groups;
  }
  QTreeWidgetItem* Group(int i) { return m_dialog->Tree()->topLevelItem(i); }

  test::TestStore m_store;
  test::TempDir m_backups;
  int m_files = 0;
  std::shared_ptr<test::RecordingBoxes> m_boxes = std::make_shared<test::RecordingBoxes>();
  std::unique_ptr<CheckAssociationsDialog> m_dialog;
  std::vector<std::string> m_mended;
};

TEST_F(CheckWindowTest, ListsTheFindingsGroupedByKind) {
  ASSERT_TRUE(m_dialog->CheckAgain());
  EXPECT_FALSE(m_dialog->CheckButton()->isEnabled());
  EXPECT_FALSE(m_dialog->CheckAgain());  // one run at a time
  ASSERT_TRUE(Finished());
  using G = std::pair<QString, QStringList>;
  EXPECT_EQ(Groups(), (std::vector<G>{
                          G{"Extensions whose file type is missing (1)", {".dangling"}},
                          G{"File types no extension uses (information) (1)", {"lonelyfile"}},
                          G{"Actions whose program is missing (1)", {"brokenfile\\Shell\\open"}},
                          G{"Default actions that name no action (1)", {"brokenfile"}},
                          G{"Icons that cannot be found (1)", {"brokenfile"}},
                          G{"Content types the MIME database does not match (1)", {".broken"}},
                      }));
  QTreeWidgetItem* action = Group(2)->child(0);
  EXPECT_EQ(action->text(1), "the program \"/opt/gone/app\" does not exist");
  EXPECT_EQ(action->text(2), "remove the action");
  EXPECT_EQ(m_dialog->Progress()->value(), 100);
  EXPECT_EQ(m_dialog->Status()->text(), "5 problem(s) found.");
  EXPECT_TRUE(m_dialog->CheckButton()->isEnabled());
  // Information cannot be picked for a mend.
  EXPECT_FALSE(Group(1)->flags() & Qt::ItemIsSelectable);
  EXPECT_FALSE(Group(1)->child(0)->flags() & Qt::ItemIsSelectable);
  EXPECT_FALSE(m_dialog->MendButton()->isEnabled());
}

TEST_F(CheckWindowTest, MendsTheSelectedOnlyAfterTheUserAgrees) {
  ASSERT_TRUE(m_dialog->CheckAgain());
  ASSERT_TRUE(Finished());
  Group(2)->child(0)->setSelected(true);  // the action
  Group(3)->setSelected(true);            // the whole group of default actions
  EXPECT_TRUE(m_dialog->MendButton()->isEnabled());

  m_boxes->confirmAnswers = {false};
  m_dialog->MendButton()->click();
  ASSERT_EQ(m_boxes->shown.size(), 1u);
  EXPECT_EQ(m_boxes->shown[0].kind, "confirm");
  EXPECT_TRUE(m_boxes->shown[0].text.contains("Mend 2 problem(s)?"));
  EXPECT_TRUE(m_boxes->shown[0].text.contains("brokenfile\\Shell\\open: remove the action"));
  EXPECT_TRUE(test::HasKey("\\brokenfile\\Shell\\open"));
  EXPECT_TRUE(m_mended.empty());

  m_boxes->confirmAnswers = {true};
  m_dialog->MendButton()->click();
  EXPECT_EQ(m_mended, (std::vector<std::string>{"brokenfile\\Shell\\open", "brokenfile"}));
  EXPECT_FALSE(test::HasKey("\\brokenfile\\Shell\\open"));
  EXPECT_EQ(test::ReadValue("\\brokenfile\\Shell", ""), "(no value)");
  EXPECT_TRUE(test::HasKey("\\.dangling"));  // not selected, not mended
  // One backup of the file type, taken before the first of its two mends.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(m_backups.Path()),
                          std::filesystem::directory_iterator()),
            1);
  EXPECT_TRUE(test::ReadFile(m_backups.File("brokenfile-0.reg")).find("/opt/gone/app") !=
              std::string::npos);

  // The window checks again by itself.
  ASSERT_TRUE(Finished());
  EXPECT_EQ(Groups().size(), 4u);
  EXPECT_EQ(m_dialog->Status()->text(), "3 problem(s) found.");
}

TEST_F(CheckWindowTest, AFailedMendIsToldAndChangesNothing) {
  // Backups go to a folder below a file, which cannot be made.
  test::WriteFile(m_backups.File("blocked"), "");
  m_dialog.reset();
  CheckAssociationsDialog::Services services;
  services.programs = [] { return std::make_unique<KnownPrograms>(); };
  services.files = [] { return std::make_unique<KnownFiles>(); };
  services.backup = [this](RegistryEngine& engine) {
    return std::make_unique<RegKeyBackup>(engine, [this](const std::string& name) {
      return m_backups.File("blocked/" + name + ".reg");
    });
  };
  m_dialog = std::make_unique<CheckAssociationsDialog>(nullptr, std::move(services));
  ASSERT_TRUE(m_dialog->CheckAgain());
  ASSERT_TRUE(Finished());
  Group(0)->setSelected(true);
  m_boxes->confirmAnswers = {true};
  m_dialog->MendSelected();
  const auto messages = m_boxes->Messages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_TRUE(messages[0].startsWith("Some problems were not mended:\nnot mended: .dangling:"))
      << messages[0].toStdString();
  EXPECT_EQ(m_boxes->shown.back().icon, Boxes::Icon::Error);
  EXPECT_TRUE(test::HasKey("\\.dangling"));
  ASSERT_TRUE(Finished());
}

TEST_F(CheckWindowTest, DesktopFindingsFollowTheStoresAndTheirMendsAskForARebuild) {
  test::TempDir desk;
  const DesktopFolders folders{QString::fromStdString(desk.File("data")),
                               QString::fromStdString(desk.File("config"))};
  std::filesystem::create_directories(desk.File("data/applications"));
  test::WriteFile(desk.File("data/applications/wine-extension-kbq.desktop"),
                  "[Desktop Entry]\nType=Application\nName=K\nMimeType=text/x-kbq;\n"
                  "Exec=env WINEPREFIX=\"" +
                      desk.File("gone") + "\" wine start /ProgIDOpen K %f\n");
  std::vector<std::pair<bool, bool>> rebuilds;
  m_dialog.reset();
  CheckAssociationsDialog::Services services;
  services.programs = [] { return std::make_unique<KnownPrograms>(); };
  services.files = [] { return std::make_unique<KnownFiles>(); };
  services.backup = [this](RegistryEngine& engine) {
    return std::make_unique<RegKeyBackup>(
        engine, [this](const std::string& name) { return m_backups.File(name + ".reg"); });
  };
  services.mended = [this](const std::vector<Finding>& mended) {
    for (const Finding& f : mended) m_mended.push_back(f.subject);
  };
  services.desktop = [folders] { return std::make_unique<DesktopCheckView>(folders); };
  services.desktopMends = [folders, &desk] {
    return std::make_unique<DesktopCheckMends>(
        folders, [&desk](const QString& n, const QString& s) {
          return QString::fromStdString(desk.File("copies/")) + n + '.' + s;
        });
  };
  services.rebuild = [&rebuilds](bool mime, bool apps) { rebuilds.emplace_back(mime, apps); };
  m_dialog = std::make_unique<CheckAssociationsDialog>(nullptr, std::move(services));
  ASSERT_TRUE(m_dialog->CheckAgain());
  ASSERT_TRUE(Finished());
  const auto groups = Groups();
  ASSERT_EQ(groups.size(), 7u);
  EXPECT_EQ(groups[6].first, "Wine associations left behind (1)");
  EXPECT_EQ(groups[6].second, QStringList{"wine-extension-kbq.desktop"});

  Group(6)->setSelected(true);
  m_boxes->confirmAnswers = {true};
  m_dialog->MendSelected();
  EXPECT_TRUE(m_boxes->shown[0].text.contains("Each desktop file is copied"));
  EXPECT_EQ(m_mended, std::vector<std::string>{"wine-extension-kbq.desktop"});
  EXPECT_FALSE(std::filesystem::exists(desk.File("data/applications/wine-extension-kbq.desktop")));
  EXPECT_TRUE(std::filesystem::exists(desk.File("copies/wine-extension-kbq.desktop")));
  EXPECT_EQ(rebuilds, (std::vector<std::pair<bool, bool>>{{false, true}}));
  ASSERT_TRUE(Finished());
  EXPECT_EQ(Groups().size(), 6u);
}

}  // namespace
}  // namespace kestrova
