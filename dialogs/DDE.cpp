#include "dialogs/DDE.h"

#include <QGroupBox>
#include <QLabel>

#include "dialogs/DialogFrame.h"
#include "dialogs/EditedAssociation.h"
#include "store/AssocLayout.h"
#include "store/AssocStore.h"

namespace kestrova {
namespace {

std::string DefaultOf(AssocStore& store, const std::string& path) {
  store.ClosePath();
  return store.OpenPath(path, false) ? store.GetText(layout::DefaultValueName) : std::string();
}

void WriteDefault(AssocStore& store, const std::string& path, const QLineEdit* box) {
  const std::string text = box->text().toStdString();
  // A field left as it was is not written again, so text the store holds in bytes it would
  // no longer take (shown with U+FFFD) stays as it is.
  store.ClosePath();
  if (store.OpenPath(path, false) && store.HasValue(layout::DefaultValueName) &&
      store.GetText(layout::DefaultValueName) == text) {
    return;
  }
  // A key that cannot be made leaves no key current: the write fails, never lands elsewhere.
  store.ClosePath();
  store.OpenPath(path, true);
  store.PutText(layout::DefaultValueName, text);
}

}  // namespace

TFrmDDE::TFrmDDE(EditedAssociation* edited, QWidget* parent) : QDialog(parent), m_edited(edited) {
  SetUpFixedDialog(this, "TFrmDDE", "Dynamic Data Exchange Settings", 340, 305);
  auto* group = new QGroupBox("DDE", this);
  group->setObjectName("GroupBox1");
  group->setGeometry(8, 15, 321, 233);
  CheckBox1 = new QCheckBox("Use DDE", group);
  CheckBox1->setObjectName("CheckBox1");
  CheckBox1->setGeometry(16, 24, 97, 17);
  Edit5 = Labelled(group, new QLineEdit, "Edit5", "&DDE Message:", QRect(16, 72, 289, 21));
  Edit6 = Labelled(group, new QLineEdit, "Edit6", "Appli&cation:", QRect(16, 112, 289, 21));
  IfExec = Labelled(group, new QLineEdit, "IfExec",
                    "DDE Application &Not Running:", QRect(16, 152, 289, 21));
  Edit7 = Labelled(group, new QLineEdit, "Edit7", "&Topic:", QRect(16, 192, 289, 21));
  OKBtn = new QPushButton("&OK", this);
  OKBtn->setObjectName("OKBtn");
  OKBtn->setGeometry(176, 264, 75, 25);
  OKBtn->setDefault(true);
  CancelBtn = new QPushButton("&Cancel", this);
  CancelBtn->setObjectName("CancelBtn");
  CancelBtn->setGeometry(256, 264, 75, 25);
  setTabOrder(CheckBox1, Edit5);
  setTabOrder(Edit5, Edit6);
  setTabOrder(Edit6, IfExec);
  setTabOrder(IfExec, Edit7);
  setTabOrder(Edit7, OKBtn);
  setTabOrder(OKBtn, CancelBtn);
  connect(OKBtn, &QPushButton::clicked, this, &TFrmDDE::OKBtnClick);
  connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);
}

void TFrmDDE::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  FormActivate();
}

void TFrmDDE::FormActivate() {
  const std::string progId = m_edited->CurrentFileType();
  if (progId.empty()) return;
  const std::string verb = m_edited->SelectedVerb();
  AssocStore store;
  store.SetRoot(RootKey::ClassesRoot);
  if (store.HasPath(layout::DdeExecKey(progId, verb))) {
    CheckBox1->setChecked(true);
    Edit5->setText(QString::fromStdString(DefaultOf(store, layout::DdeExecKey(progId, verb))));
    Edit6->setText(
        QString::fromStdString(DefaultOf(store, layout::DdeApplicationKey(progId, verb))));
    Edit7->setText(QString::fromStdString(DefaultOf(store, layout::DdeTopicKey(progId, verb))));
    IfExec->setText(QString::fromStdString(DefaultOf(store, layout::DdeIfExecKey(progId, verb))));
  } else {
    CheckBox1->setChecked(false);
    Edit5->clear();
    Edit6->clear();
    IfExec->clear();
    Edit7->clear();
  }
}

void TFrmDDE::OKBtnClick() {
  // Without its backup nothing is written; the dialog stays open.
  if (!m_edited->BackUpFileType()) return;
  const std::string progId = m_edited->CurrentFileType();
  const std::string verb = m_edited->SelectedVerb();
  {
    AssocStore store;
    store.SetRoot(RootKey::ClassesRoot);
    if (CheckBox1->isChecked()) {
      WriteDefault(store, layout::DdeExecKey(progId, verb), Edit5);
      WriteDefault(store, layout::DdeApplicationKey(progId, verb), Edit6);
      WriteDefault(store, layout::DdeTopicKey(progId, verb), Edit7);
      WriteDefault(store, layout::DdeIfExecKey(progId, verb), IfExec);
    } else {
      store.RemovePath(layout::DdeExecKey(progId, verb));
    }
  }
  accept();
}

}  // namespace kestrova
