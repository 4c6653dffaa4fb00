#include "dialogs/Settings.h"

#include <QCoreApplication>
#include <QLabel>

#include "dialogs/DialogFrame.h"
#include "store/AssocLayout.h"
#include "store/AssocStore.h"

namespace kestrova {

TForm2::TForm2(QWidget* parent) : QDialog(parent) {
  SetUpFixedDialog(this, "TForm2", "Settings", 352, 211);
  setWindowFlags(windowFlags() | Qt::WindowMinimizeButtonHint);

  ContextMenuChkBox = new QCheckBox("Enable Shell Context Menu", this);
  ContextMenuChkBox->setObjectName("ContextMenuChkBox");
  ContextMenuChkBox->setGeometry(16, 16, 321, 17);

  DesktopApplyChkBox = new QCheckBox("Apply changes to the desktop", this);
  DesktopApplyChkBox->setObjectName("DesktopApplyChkBox");
  DesktopApplyChkBox->setGeometry(16, 40, 321, 17);
  DesktopApplyChkBox->setToolTip(
      "Give the desktop the file types, commands and defaults you change here");

  URL = new QLineEdit(this);
  URL->setObjectName("URL");
  URL->setGeometry(16, 88, 321, 21);
  auto* label = new QLabel("URL for online extension help:", this);
  label->setObjectName("URLLabel");
  label->setGeometry(16, 72, 321, 14);
  label->setBuddy(URL);
  URL->setAccessibleName("URL for online extension help");

  OnlineHelpURL = new QLineEdit(this);
  OnlineHelpURL->setObjectName("OnlineHelpURL");
  OnlineHelpURL->setGeometry(16, 136, 321, 21);
  auto* helpLabel = new QLabel("Address of the online help:", this);
  helpLabel->setObjectName("OnlineHelpURLLabel");
  helpLabel->setGeometry(16, 120, 321, 14);
  helpLabel->setBuddy(OnlineHelpURL);
  OnlineHelpURL->setAccessibleName("Address of the online help");

  Button1 = new QPushButton("&OK", this);
  Button1->setObjectName("Button1");
  Button1->setGeometry(138, 172, 75, 25);
  Button1->setDefault(true);

  setTabOrder(ContextMenuChkBox, DesktopApplyChkBox);
  setTabOrder(DesktopApplyChkBox, URL);
  setTabOrder(URL, OnlineHelpURL);
  setTabOrder(OnlineHelpURL, Button1);
  connect(Button1, &QPushButton::clicked, this, &TForm2::Button1Click);
}

QString TForm2::ContextMenuCommand() {
  // Both parts quoted, so a program or a file whose path has blanks stays one argument.
  return "\"" + QCoreApplication::applicationFilePath() + "\" \"%1\"";
}

void TForm2::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  FormActivate();
}

std::string TForm2::StoredSetting(const char* name) {
  {
    AssocStore store;
    store.SetRoot(RootKey::CurrentUser);
    if (store.OpenPath(layout::SettingsKey, true)) return store.GetText(name);
  }
  AssocStore store(AssocStore::Access::ReadOnly);
  store.SetRoot(RootKey::CurrentUser);
  return store.OpenPath(layout::SettingsKey, false) ? store.GetText(name) : std::string();
}

bool TForm2::DesktopApplyOn() {
  // Read only, as it is asked after every change; absent (a new store) is on, only an
  // explicit "0" turns it off.
  AssocStore store(AssocStore::Access::ReadOnly);
  store.SetRoot(RootKey::CurrentUser);
  if (!store.OpenPath(layout::SettingsKey, false) || !store.HasValue(layout::DesktopApplyName) ||
      store.KindOfValue(layout::DesktopApplyName) != ValueKind::Text) {
    return true;
  }
  return store.GetText(layout::DesktopApplyName) != "0";
}

void TForm2::FormActivate() {
  {
    AssocStore store(AssocStore::Access::ReadOnly);
    store.SetRoot(RootKey::ClassesRoot);
    ContextMenuChkBox->setChecked(store.HasPath(layout::ContextMenuCommandKey));
  }
  DesktopApplyChkBox->setChecked(DesktopApplyOn());
  URL->setText(QString::fromStdString(StoredSetting(layout::HelpUrlName)));
  OnlineHelpURL->setText(QString::fromStdString(StoredSetting(layout::OnlineHelpUrlName)));
}

void TForm2::Button1Click() {
  {
    AssocStore store;
    store.SetRoot(RootKey::ClassesRoot);
    store.OpenPath(layout::ContextMenuCommandKey, true);
    if (ContextMenuChkBox->isChecked()) {
      store.PutText(layout::DefaultValueName, ContextMenuCommand().toStdString());
    } else {
      store.RemovePath(layout::ContextMenuKey);
    }
  }
  {
    AssocStore store;
    store.SetRoot(RootKey::CurrentUser);
    store.OpenPath(layout::SettingsKey, true);
    // Stored exactly as typed: blanks and an empty text included.
    store.PutText(layout::HelpUrlName, URL->text().toStdString());
    store.PutText(layout::OnlineHelpUrlName, OnlineHelpURL->text().toStdString());
    store.PutText(layout::DesktopApplyName, DesktopApplyChkBox->isChecked() ? "1" : "0");
  }
  accept();
}

}  // namespace kestrova
