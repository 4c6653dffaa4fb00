#pragma once
// TForm2: the online reference address and the context-menu entry.

#include <QDialog>

namespace kestrova {

class TForm1;

class TForm2 : public QDialog {
  Q_OBJECT
 public:
  explicit TForm2(TForm1* mainWindow, QWidget* parent = nullptr);

 private:
  [[maybe_unused]] TForm1* m_main;
};

}  // namespace kestrova
