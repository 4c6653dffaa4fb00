#pragma once
// TFrmNewFileType: creates a file type, or replaces its friendly name, under the root.

#include <QDialog>
#include <QLineEdit>
#include <QPushButton>

namespace kestrova {

class TFrmNewFileType : public QDialog {
  Q_OBJECT
 public:
  explicit TFrmNewFileType(QWidget* parent = nullptr);

  // Entering a box selects its whole text, so typing replaces the sample.
  void NewTypeEnter();
  void FNameEnter();
  // Writes the ProgID's key with FName as its default value, then closes.
  void OKBtnClick();

  QLineEdit* NewType;  // the ProgID
  QLineEdit* FName;    // the friendly name
  QPushButton* OKBtn;
  QPushButton* CancelBtn;

 protected:
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
};

}  // namespace kestrova
