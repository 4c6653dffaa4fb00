#include "dialogs/chgass.h"

#include <QShowEvent>
#include <string>
#include <vector>

#include "app/Main.h"
#include "dialogs/DialogFrame.h"
#include "store/AssocLayout.h"
#include "store/AssocStore.h"

namespace kestrova {
namespace {

QLabel* Label(QWidget* parent, const char* name, const QString& text, const QRect& geometry,
              bool bold) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(name);
  label->setGeometry(geometry);
  label->setTextFormat(Qt::PlainText);
  if (bold) {
    QFont font = label->font();
    font.setBold(true);
    label->setFont(font);
  }
  return label;
}

// A box below its bold label, which names it for screen readers too.
template <typename Box>
Box* BoldLabelled(QWidget* parent, Box* box, const char* name, const QString& label, int top) {
  QLabel* caption = AttachLabel(parent, box, name, label, QRect(8, top, 329, 21));
  QFont font = caption->font();
  font.setBold(true);
  caption->setFont(font);
  return box;
}

// Only a to z change: the key is found whatever its case, and no other character may be altered.
QString UpperAscii(QString text) {
  for (QChar& c : text) {
    if (c >= QChar('a') && c <= QChar('z')) c = QChar(c.unicode() - ('a' - 'A'));
  }
  return text;
}

}  // namespace

TFrmChgAss::TFrmChgAss(TForm1* mainWindow, QWidget* parent) : QDialog(parent), m_main(mainWindow) {
  SetUpFixedDialog(this, "TFrmChgAss", "Change Association", 345, 224);
  Label1 =
      Label(this, "Label1",
            "Please select the desired ProgID that you would like to change the association to.",
            QRect(8, 8, 329, 30), false);
  Label1->setWordWrap(true);
  Label2 = Label(this, "Label2", "File Extension:", QRect(8, 48, 105, 14), true);
  ExtLB = Label(this, "ExtLB", "(None)", QRect(116, 48, 221, 14), false);
  ExtLB->setAccessibleName("File Extension");
  CurProgID = BoldLabelled(this, new QLineEdit, "CurProgID", "Current File Type Association:", 88);
  CurProgID->setReadOnly(true);
  NewExtDesc = BoldLabelled(this, new QComboBox, "NewExtDesc", "Change to:", 140);
  NewExtDesc->setEditable(true);
  // A typed ProgID is written as it stands, never added to the list.
  NewExtDesc->setInsertPolicy(QComboBox::NoInsert);
  NewExtDesc->setMaxVisibleItems(16);

  OKBtn = new QPushButton("&Ok", this);
  OKBtn->setObjectName("OKBtn");
  OKBtn->setGeometry(181, 184, 75, 25);
  CancelBtn = new QPushButton("&Cancel", this);
  CancelBtn->setObjectName("CancelBtn");
  CancelBtn->setGeometry(262, 184, 75, 25);
  // No default button: Enter in the list must not write the association.
  OKBtn->setAutoDefault(false);
  CancelBtn->setAutoDefault(false);

  LoadProjIDs = new QAction("LoadProjIDs", this);
  LoadProjIDs->setObjectName("LoadProjIDs");

  setTabOrder(NewExtDesc, OKBtn);
  setTabOrder(OKBtn, CancelBtn);
  setTabOrder(CancelBtn, CurProgID);
  connect(LoadProjIDs, &QAction::triggered, this, &TFrmChgAss::LoadProjIDsExecute);
  connect(OKBtn, &QPushButton::clicked, this, &TFrmChgAss::OKBtnClick);
  connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);
}

void TFrmChgAss::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (event->spontaneous()) return;  // un-minimising is not a new opening
  FormShow();
  NewExtDesc->setFocus(Qt::TabFocusReason);
}

void TFrmChgAss::FormShow() {
  LoadProjIDs->trigger();
  ExtLB->setText(UpperAscii(m_main->Ext->text()));
  CurProgID->setText(m_main->ExtDesc->text());
}

void TFrmChgAss::LoadProjIDsExecute() {
  NewExtDesc->clear();
  NewExtDesc->clearEditText();
  std::vector<std::string> names;
  {
    // Listing needs no write access.
    AssocStore store(AssocStore::Access::ReadOnly);
    store.SetRoot(RootKey::ClassesRoot);
    store.OpenPath(layout::RootPath, false);
    store.ListSubkeys(names);
  }
  for (const std::string& name : names) {
    if (layout::IsFileTypeName(name)) NewExtDesc->addItem(QString::fromStdString(name));
  }
  // Filling the list must not pick a file type: the text stays empty until the user chooses.
  NewExtDesc->setCurrentIndex(-1);
  NewExtDesc->clearEditText();
}

void TFrmChgAss::OKBtnClick() {
  {
    AssocStore store;
    store.SetRoot(RootKey::ClassesRoot);
    // Never created here: a missing extension leaves no key current and the write fails.
    store.OpenPath(layout::ExtKey(ExtLB->text().toStdString()), false);
    store.PutText(layout::DefaultValueName, NewExtDesc->currentText().toStdString());
  }
  m_main->SetStatus("File Association Changed.");
  accept();
}

}  // namespace kestrova
