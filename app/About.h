#pragma once
// AboutBox: the about box, "About" Kestrova, and its version.

#include <QDialog>

namespace kestrova {

class AboutBox : public QDialog {
  Q_OBJECT
 public:
  explicit AboutBox(QWidget* parent = nullptr);
};

}  // namespace kestrova
