#include "tools/RegeditFindDialog.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace kestrova {

RegeditFindDialog::RegeditFindDialog(QWidget* parent) : QDialog(parent) {
  setObjectName("FindDialog");
  setWindowTitle(tr("Find"));

  FindWhat = new QLineEdit(this);
  FindWhat->setObjectName("FindWhat");
  auto* label = new QLabel(tr("Fi&nd what:"), this);
  label->setBuddy(FindWhat);

  auto* lookAt = new QGroupBox(tr("Look at"), this);
  LookAtKeys = new QCheckBox(tr("&Keys"), lookAt);
  LookAtKeys->setObjectName("LookAtKeys");
  LookAtValues = new QCheckBox(tr("&Values"), lookAt);
  LookAtValues->setObjectName("LookAtValues");
  LookAtData = new QCheckBox(tr("&Data"), lookAt);
  LookAtData->setObjectName("LookAtData");
  auto* lookAtLayout = new QVBoxLayout(lookAt);
  lookAtLayout->addWidget(LookAtKeys);
  lookAtLayout->addWidget(LookAtValues);
  lookAtLayout->addWidget(LookAtData);
  WholeString = new QCheckBox(tr("Match &whole string only"), this);
  WholeString->setObjectName("WholeString");

  FindNextButton = new QPushButton(tr("&Find Next"), this);
  FindNextButton->setObjectName("FindNextButton");
  FindNextButton->setDefault(true);
  auto* cancel = new QPushButton(tr("Cancel"), this);
  cancel->setObjectName("CancelButton");

  auto* grid = new QGridLayout(this);
  grid->addWidget(label, 0, 0);
  grid->addWidget(FindWhat, 0, 1);
  grid->addWidget(FindNextButton, 0, 2);
  grid->addWidget(lookAt, 1, 0, 1, 2);
  grid->addWidget(cancel, 1, 2, Qt::AlignTop);
  grid->addWidget(WholeString, 2, 0, 1, 2);
  grid->setColumnStretch(1, 1);
  setTabOrder(FindWhat, LookAtKeys);
  setTabOrder(LookAtKeys, LookAtValues);
  setTabOrder(LookAtValues, LookAtData);
  setTabOrder(LookAtData, WholeString);
  setTabOrder(WholeString, FindNextButton);
  setTabOrder(FindNextButton, cancel);
  resize(460, sizeHint().height());

  SetQuery(FindQuery{});
  connect(FindWhat, &QLineEdit::textChanged, this, &RegeditFindDialog::UpdateButtons);
  for (QCheckBox* box : {LookAtKeys, LookAtValues, LookAtData})
    connect(box, &QCheckBox::toggled, this, &RegeditFindDialog::UpdateButtons);
  connect(FindNextButton, &QPushButton::clicked, this, [this] {
    accept();
    emit FindRequested(Query());
  });
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

FindQuery RegeditFindDialog::Query() const {
  return FindQuery{FindWhat->text(), LookAtKeys->isChecked(), LookAtValues->isChecked(),
                   LookAtData->isChecked(), WholeString->isChecked()};
}

void RegeditFindDialog::SetQuery(const FindQuery& query) {
  FindWhat->setText(query.text);
  LookAtKeys->setChecked(query.keys);
  LookAtValues->setChecked(query.values);
  LookAtData->setChecked(query.data);
  WholeString->setChecked(query.wholeString);
  UpdateButtons();
}

void RegeditFindDialog::UpdateButtons() {
  FindNextButton->setEnabled(
      !FindWhat->text().isEmpty() &&
      (LookAtKeys->isChecked() || LookAtValues->isChecked() || LookAtData->isChecked()));
}

}  // namespace kestrova
