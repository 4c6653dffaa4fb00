#pragma once
// TForm2: the online reference address, the online help address, the context-menu entry and
// whether changes reach the desktop.

#include <QCheckBox>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <string>

namespace kestrova {

class TForm2 : public QDialog {
  Q_OBJECT
 public:
  explicit TForm2(QWidget* parent = nullptr);

  // Fills the controls from the store; run each time the dialog is shown.
  void FormActivate();
  // Writes the context-menu entry, then the two addresses, and closes.
  void Button1Click();

  // A value of the settings key, empty text when missing; the store's error for a value
  // that is not text. The key is made when the store can be written; a read-only store is
  // read as it is.
  static std::string StoredSetting(const char* name);

  // Whether changes are applied to the user's desktop files (absent: on).
  static bool DesktopApplyOn();

  // The command that the context-menu entry runs: this executable with the clicked file.
  static QString ContextMenuCommand();

  QCheckBox* ContextMenuChkBox;
  QCheckBox* DesktopApplyChkBox;
  QLineEdit* URL;
  QLineEdit* OnlineHelpURL;
  QPushButton* Button1;

 protected:
  void showEvent(QShowEvent* event) override;
};

}  // namespace kestrova
