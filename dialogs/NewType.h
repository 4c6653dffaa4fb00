#pragma once
// TFrmNewFileType: creates a file type with its friendly name.

#include <QDialog>

namespace kestrova {

class TForm1;

class TFrmNewFileType : public QDialog {
  Q_OBJECT
 public:
  explicit TFrmNewFileType(TForm1* mainWindow, QWidget* parent = nullptr);

 private:
  [[maybe_unused]] TForm1* m_main;
};

}  // namespace kestrova
