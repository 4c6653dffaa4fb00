#pragma once
// TForm3: the new extension wizard.

#include <QDialog>

namespace kestrova {

class TForm1;

class TForm3 : public QDialog {
  Q_OBJECT
 public:
  explicit TForm3(TForm1* mainWindow, QWidget* parent = nullptr);

 private:
  [[maybe_unused]] TForm1* m_main;
};

}  // namespace kestrova
