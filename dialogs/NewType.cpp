#include "dialogs/NewType.h"

#include <QFocusEvent>
#include <QLabel>
#include <QShowEvent>
#include <QTimer>

#include "dialogs/DialogFrame.h"
#include "platform/Boxes.h"
#include "store/AssocLayout.h"
#include "store/AssocStore.h"

namespace kestrova {
TFrmNewFileType::TFrmNewFileType(QWidget* parent) : QDialog(parent) {
  SetUpFixedDialog(this, "TFrmNewFileType", "Create New File Type", 257, 164);
  NewType = Labelled(this, new QLineEdit("Application.Component.Version"), "NewType",
                     "New File Type ProgID:", QRect(8, 28, 241, 21));
  FName = Labelled(this, new QLineEdit("Vendor Program Name"), "FName",
                   "Friendly Name:", QRect(8, 80, 241, 21));
  OKBtn = new QPushButton("&OK", this);
  OKBtn->setObjectName("OKBtn");
  OKBtn->setGeometry(93, 124, 75, 25);
  OKBtn->setDefault(true);
  CancelBtn = new QPushButton("&Cancel", this);
  CancelBtn->setObjectName("CancelBtn");
  CancelBtn->setGeometry(174, 124, 75, 25);

  setTabOrder(NewType, FName);
  setTabOrder(FName, OKBtn);
  setTabOrder(OKBtn, CancelBtn);
  NewType->installEventFilter(this);
  FName->installEventFilter(this);
  connect(OKBtn, &QPushButton::clicked, this, &TFrmNewFileType::OKBtnClick);
  connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);
}

void TFrmNewFileType::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  // Each opening starts in the ProgID box; the texts stay as last closed.
  if (!event->spontaneous()) NewType->setFocus(Qt::TabFocusReason);
}

bool TFrmNewFileType::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::FocusIn && (watched == NewType || watched == FName)) {
    const auto enter =
        watched == NewType ? &TFrmNewFileType::NewTypeEnter : &TFrmNewFileType::FNameEnter;
    (this->*enter)();
    // A click places the cursor after the focus arrives; select again once it has.
    if (static_cast<QFocusEvent*>(event)->reason() == Qt::MouseFocusReason) {
      QTimer::singleShot(0, this, enter);
    }
  }
  return QDialog::eventFilter(watched, event);
}

void TFrmNewFileType::NewTypeEnter() { NewType->selectAll(); }

void TFrmNewFileType::FNameEnter() { FName->selectAll(); }

void TFrmNewFileType::OKBtnClick() {
  if (NewType->text().isEmpty()) {
    TheBoxes().Message(this, "Kestrova", "You must first enter a ProgID for the new File Type.",
                       Boxes::Icon::None);
    return;
  }
  {
    AssocStore store;
    store.SetRoot(RootKey::ClassesRoot);
    // A key that cannot be made leaves none current: the write then fails, never lands elsewhere.
    store.OpenPath(layout::ProgIdKey(NewType->text().toStdString()), true);
    store.PutText(layout::DefaultValueName, FName->text().toStdString());
  }
  accept();
}

}  // namespace kestrova
