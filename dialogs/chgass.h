#pragma once
// TFrmChgAss: points the loaded extension at another file type.

#include <QDialog>

namespace kestrova {

class TForm1;

class TFrmChgAss : public QDialog {
  Q_OBJECT
 public:
  explicit TFrmChgAss(TForm1* mainWindow, QWidget* parent = nullptr);

 private:
  [[maybe_unused]] TForm1* m_main;
};

}  // namespace kestrova
