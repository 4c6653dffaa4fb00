#pragma once
// kestrova-regedit's Find dialog.

#include <QDialog>

#include "tools/KeySearch.h"

class QCheckBox;
class QLineEdit;
class QPushButton;

namespace kestrova {

// The Find dialog: the text and where to look; Find Next starts the search.
class RegeditFindDialog : public QDialog {
  Q_OBJECT
 public:
  explicit RegeditFindDialog(QWidget* parent = nullptr);
  FindQuery Query() const;
  void SetQuery(const FindQuery& query);

  QLineEdit* FindWhat = nullptr;
  QCheckBox* LookAtKeys = nullptr;
  QCheckBox* LookAtValues = nullptr;
  QCheckBox* LookAtData = nullptr;
  QCheckBox* WholeString = nullptr;
  QPushButton* FindNextButton = nullptr;

 signals:
  void FindRequested(const FindQuery& query);

 private:
  void UpdateButtons();
};

}  // namespace kestrova
