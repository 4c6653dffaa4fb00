#include "dialogs/chgass.h"

#include <QShowEvent>

#include "dialogs/DialogFrame.h"
#include "dialogs/EditedAssociation.h"
#include "dialogs/FileTypeList.h"
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

TFrmChgAss::TFrmChgAss(EditedAssociation* edited, QWidget* parent)
    : QDialog(parent), m_edited(edited) {
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
  m_progIds = new NameListModel;
  NewExtDesc = BoldLabelled(this, LongListCombo(m_progIds, 16), "NewExtDesc", "Change to:", 140);

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
  ProgIDLoader = new TBackgroundTask(this);
  ProgIDLoader->setObjectName("ProgIDLoader");
  ProgIDLoader->OnExecute = [this](TBackgroundTask::Worker& worker) {
    ListFileTypes(worker, nullptr, [this](const QStringList& names, int) {
      AppendKeepingText(NewExtDesc, m_progIds, names);
    });
  };

  setTabOrder(NewExtDesc, OKBtn);
  setTabOrder(OKBtn, CancelBtn);
  setTabOrder(CancelBtn, CurProgID);
  connect(LoadProjIDs, &QAction::triggered, this, &TFrmChgAss::LoadProjIDsExecute);
  connect(OKBtn, &QPushButton::clicked, this, &TFrmChgAss::OKBtnClick);
  connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);
}

// The worker's changes reach this dialog's list, so it ends before any of it goes.
TFrmChgAss::~TFrmChgAss() { ProgIDLoader->Stop(); }

void TFrmChgAss::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (event->spontaneous()) return;  // un-minimising is not a new opening
  FormShow();
  NewExtDesc->setFocus(Qt::TabFocusReason);
}

void TFrmChgAss::FormShow() {
  LoadProjIDs->trigger();
  ExtLB->setText(UpperAscii(m_edited->Extension()));
  CurProgID->setText(m_edited->ShownFileType());
}

void TFrmChgAss::LoadProjIDsExecute() {
  // The list is emptied only for a new load: one in progress appends the rest of its names.
  if (ProgIDLoader->Running() == 0) m_progIds->Clear();
  // Filling the list must not pick a file type: the text stays empty until the user chooses.
  NewExtDesc->setCurrentIndex(-1);
  NewExtDesc->clearEditText();
  ProgIDLoader->Execute();
}

void TFrmChgAss::OKBtnClick() {
  {
    AssocStore store;
    store.SetRoot(RootKey::ClassesRoot);
    // Never created here: a missing extension leaves no key current and the write fails.
    store.OpenPath(layout::ExtKey(ExtLB->text().toStdString()), false);
    store.PutText(layout::DefaultValueName, NewExtDesc->currentText().toStdString());
  }
  m_edited->SetStatus("File Association Changed.");
  m_edited->AssociationsChanged({m_edited->Extension()}, {});
  accept();
}

}  // namespace kestrova
