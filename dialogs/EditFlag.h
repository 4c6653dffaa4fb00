#pragma once
// TForm4: the loaded file type's edit flags as their stored text and as named rows, read only.

#include <QDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

#include "store/EditFlagsCodec.h"

namespace kestrova {

class AssocStore;
class EditedAssociation;

class TForm4 : public QDialog {
  Q_OBJECT
 public:
  explicit TForm4(EditedAssociation* edited, QWidget* parent = nullptr);

  // The opening step: the flag string from the file type's key (the load's string when that
  // key holds no flags), the rows from the value the load kept. A read error
  // is raised only after the rows are set.
  void FormShow();

  QListWidget* CLB;  // one row per flag of EditFlagTable, ticked when set
  QLineEdit* EditFlagsE;
  QPushButton* OKBtn;
  QPushButton* CancelBtn;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void ShowFlagString(AssocStore& store);
  void ShowFlagRows(FlagsValue value);

  EditedAssociation* m_edited;
};

}  // namespace kestrova
