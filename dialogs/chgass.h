#pragma once
// TFrmChgAss: points the loaded extension at another file type.

#include <QAction>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace kestrova {

class TForm1;

class TFrmChgAss : public QDialog {
  Q_OBJECT
 public:
  explicit TFrmChgAss(TForm1* mainWindow, QWidget* parent = nullptr);

  // The opening step: the file type list, then the main window's extension and ProgID.
  void FormShow();
  // Fills NewExtDesc's list with the root's file type names, in store order, text empty.
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

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  TForm1* m_main;
};

}  // namespace kestrova
