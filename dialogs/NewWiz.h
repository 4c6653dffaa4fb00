#pragma once
// TForm3: the new extension wizard, whose file-type list a worker thread fills.

#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QStringList>

#include "platform/BackgroundTask.h"

namespace kestrova {

class EditedAssociation;
class NameListModel;

class TForm3 : public QDialog {
  Q_OBJECT
 public:
  explicit TForm3(EditedAssociation* edited, QWidget* parent = nullptr);
  // The program does not wait for a load: the worker stops at its next batch.
  ~TForm3() override;

  // The opening step: content types, an empty ProgID text, and a file-type load.
  void FormShow();
  // Creates the extensions and closes (OK), or creates them and says "Saved." (Apply).
  void Button1Click();
  void Button3Click();
  void Button2Click();
  // Creates a file type in the new file type dialog, then lists the file types again.
  void NewProgIDBtnClick();
  // The file-type load, on the worker thread, and its finish step.
  void FileTypeLoaderExecute(TBackgroundTask::Worker& worker);
  void FileTypeLoaderFinish();

  // The status bar's one simple text.
  void SetStatus(const QString& text);
  QString StatusText() const;

  QLineEdit* FileExt;
  QLabel* Label2;
  QLineEdit* LongFileExt;
  QLabel* Label3;
  QComboBox* ContentType;
  QComboBox* AssocFileTypes;
  QPushButton* NewProgIDBtn;
  QPushButton* Button1;  // OK
  QPushButton* Button2;  // Cancel
  QPushButton* Button3;  // Apply
  QProgressBar* ProgressBar1;
  QStatusBar* StatusBar1;
  TBackgroundTask* FileTypeLoader;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void BuildControls();
  // Steps 1 to 7 shared by OK and Apply; true when both extensions were written.
  bool SaveExtensions();
  // The refusal message, or empty when the extensions were written.
  QString WriteExtensions(bool& wrote);
  void ShowExtension(bool wrote);
  void AppendFileTypes(const QStringList& names, int steps);

  EditedAssociation* m_edited;
  NameListModel* m_contentTypes = nullptr;
  NameListModel* m_fileTypes = nullptr;
  QLabel* m_statusText = nullptr;
};

}  // namespace kestrova
