#pragma once
// TFrmDDE: the DDE settings of the selected action.

#include <QDialog>

namespace kestrova {

class TForm1;

class TFrmDDE : public QDialog {
  Q_OBJECT
 public:
  explicit TFrmDDE(TForm1* mainWindow, QWidget* parent = nullptr);

 private:
  [[maybe_unused]] TForm1* m_main;
};

}  // namespace kestrova
