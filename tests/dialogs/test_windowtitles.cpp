// Every window's title is its own caption: nothing the platform would add to it.

#include <QGuiApplication>
#include <QWindow>

#include "app/Main.h"
#include "dialogs/DDE.h"
#include "dialogs/EditFlag.h"
#include "dialogs/NewType.h"
#include "dialogs/NewWiz.h"
#include "dialogs/Settings.h"
#include "dialogs/chgass.h"
#include "tests/app/MainWindowFixture.h"

namespace kestrova::test {
namespace {

using WindowTitleTest = MainWindowTest;

TEST_F(WindowTitleTest, TitlesAreTheWindowsOwnCaptions) {
  // A display name would be appended to each title by the window system ("Edit Flags —
  // Kestrova"). Unset, it follows the application name, which is how to tell.
  const QString name = QCoreApplication::applicationName();
  QCoreApplication::setApplicationName("probe");
  EXPECT_EQ(QGuiApplication::applicationDisplayName(), "probe");
  QCoreApplication::setApplicationName(name);

  const TForm1::Dialogs& d = Form().AttachedDialogs();
  const std::vector<std::pair<QWidget*, QString>> windows = {
      {&Form(), "Kestrova"},
      {d.settingsDialog, "Settings"},
      {d.newExtensionWizard, "Create New Extension"},
      {d.flagsDialog, "Edit Flags"},
      {d.ddeDialog, "Dynamic Data Exchange Settings"},
      {d.changeAssociationDialog, "Change Association"},
      {d.newFileTypeDialog, "Create New File Type"},
  };
  for (const auto& [window, title] : windows) {
    window->winId();  // the native window, whose title the window system shows
    EXPECT_EQ(window->windowHandle()->title(), title);
  }
}

}  // namespace
}  // namespace kestrova::test
