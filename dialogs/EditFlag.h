#pragma once
// TForm4: the file type's edit flags, decoded.

#include <QDialog>

namespace kestrova {

class TForm1;

class TForm4 : public QDialog {
  Q_OBJECT
 public:
  explicit TForm4(TForm1* mainWindow, QWidget* parent = nullptr);

 private:
  [[maybe_unused]] TForm1* m_main;
};

}  // namespace kestrova
