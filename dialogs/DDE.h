#pragma once
// TFrmDDE: the DDE settings of the selected action of the edited association.

#include <QCheckBox>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>

namespace kestrova {

class EditedAssociation;

class TFrmDDE : public QDialog {
  Q_OBJECT
 public:
  explicit TFrmDDE(EditedAssociation* edited, QWidget* parent = nullptr);

  // Loads the selected action's settings; run each time the dialog is shown.
  void FormActivate();
  // Backs the file type up, writes the four texts or removes "ddeexec", and closes.
  void OKBtnClick();

  QCheckBox* CheckBox1;
  QLineEdit* Edit5;   // DDE message
  QLineEdit* Edit6;   // application
  QLineEdit* IfExec;  // message when the application is not running
  QLineEdit* Edit7;   // topic
  QPushButton* OKBtn;
  QPushButton* CancelBtn;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  EditedAssociation* m_edited;
};

}  // namespace kestrova
