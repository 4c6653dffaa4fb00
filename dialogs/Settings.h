#pragma once
// TForm2: the online reference address and the context-menu entry.

#include <QCheckBox>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>

namespace kestrova {

class TForm1;

class TForm2 : public QDialog {
  Q_OBJECT
 public:
  explicit TForm2(TForm1* mainWindow, QWidget* parent = nullptr);

  // Fills both controls from the store; run each time the dialog is shown.
  void FormActivate();
  // Writes the context-menu entry, then "HelpURL", and closes.
  void Button1Click();

  // The command that the context-menu entry runs: this executable with the clicked file.
  static QString ContextMenuCommand();

  QCheckBox* ContextMenuChkBox;
  QLineEdit* URL;
  QPushButton* Button1;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  [[maybe_unused]] TForm1* m_main;
};

}  // namespace kestrova
