#pragma once
// TFrmChgAss: points the loaded extension at another file type, offered from a list that a
// worker thread fills.

#include <QAction>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "platform/BackgroundTask.h"

namespace kestrova {

class EditedAssociation;
class NameListModel;

class TFrmChgAss : public QDialog {
  Q_OBJECT
 public:
  explicit TFrmChgAss(EditedAssociation* edited, QWidget* parent = nullptr);
  // The program does not wait for a load: the worker stops at its next batch.
  ~TFrmChgAss() override;

  // The opening step: the file type list, then the edited extension and its ProgID.
  void FormShow();
  // Empties NewExtDesc's text and refills its list with the root's file type names, in store
  // order, on a worker thread; the dialog takes input meanwhile. A load still in progress
  // from an earlier opening goes on instead.
  void LoadProjIDsExecute();
  // Writes NewExtDesc's text as the extension's ProgID, reports it and closes.
  void OKBtnClick();

  QLabel* Label1;
  QLabel* Label2;
  QLabel* ExtLB;  // the extension, upper case, without its dot
  QLineEdit* CurProgID;
  QComboBox* NewExtDesc;
  QPushButton* OKBtn;
  QPushButton* CancelBtn;
  QAction* LoadProjIDs;  // ActionList1
  TBackgroundTask* ProgIDLoader;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  EditedAssociation* m_edited;
  NameListModel* m_progIds;
};

}  // namespace kestrova
