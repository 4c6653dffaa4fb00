#include "dialogs/EditFlag.h"

#include <QLabel>
#include <QShowEvent>
#include <array>
#include <cstdint>
#include <exception>

#include "dialogs/DialogFrame.h"
#include "dialogs/EditedAssociation.h"
#include "platform/Boxes.h"
#include "store/AssocLayout.h"
#include "store/AssocStore.h"

namespace kestrova {
namespace {

constexpr int kRowHeight = 16;

QLabel* Caption(QWidget* parent, const char* name, const QString& text, QWidget* buddy, int top) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(name);
  label->setGeometry(8, top, 240, 14);
  label->setBuddy(buddy);
  buddy->setAccessibleName(QString(text).remove('&').remove(':'));
  return label;
}

}  // namespace

TForm4::TForm4(EditedAssociation* edited, QWidget* parent) : QDialog(parent), m_edited(edited) {
  SetUpFixedDialog(this, "TForm4", "Edit Flags", 256, 403);

  CLB = new QListWidget(this);
  CLB->setObjectName("CLB");
  CLB->setGeometry(8, 22, 240, static_cast<int>(EditFlagRowCount) * kRowHeight + 4);
  CLB->setSelectionMode(QAbstractItemView::NoSelection);
  CLB->setEditTriggers(QAbstractItemView::NoEditTriggers);
  CLB->setUniformItemSizes(true);
  for (const EditFlagRow& flag : EditFlagTable) {
    auto* row = new QListWidgetItem(QString::fromLatin1(flag.name.data(), flag.name.size()), CLB);
    // Enabled but neither checkable by the user nor selectable: the ticks only report.
    row->setFlags(Qt::ItemIsEnabled);
    row->setCheckState(Qt::Unchecked);
    row->setSizeHint(QSize(0, kRowHeight));
  }
  Caption(this, "CLBLabel", "Edit Flags (Read Only):", CLB, 6);

  EditFlagsE = new QLineEdit(this);
  EditFlagsE->setObjectName("EditFlagsE");
  EditFlagsE->setGeometry(8, 348, 240, 21);
  EditFlagsE->setReadOnly(true);
  Caption(this, "EditFlagsELabel", "Edit Flag String:", EditFlagsE, 332);

  OKBtn = new QPushButton("&Ok", this);
  OKBtn->setObjectName("OKBtn");
  OKBtn->setGeometry(92, 374, 75, 25);
  OKBtn->setDefault(true);
  CancelBtn = new QPushButton("&Cancel", this);
  CancelBtn->setObjectName("CancelBtn");
  CancelBtn->setGeometry(173, 374, 75, 25);

  setTabOrder(CLB, EditFlagsE);
  setTabOrder(EditFlagsE, OKBtn);
  setTabOrder(OKBtn, CancelBtn);
  // Both buttons only close: the dialog writes nothing.
  connect(OKBtn, &QPushButton::clicked, this, &QDialog::accept);
  connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);
}

void TForm4::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  // A spontaneous show (the window system restoring it) is not a new opening.
  if (event->spontaneous()) return;
  CLB->setFocus(Qt::TabFocusReason);  // each opening starts at the list
  FormShow();
}

void TForm4::FormShow() {
  for (int row = 0; row < CLB->count(); ++row) CLB->item(row)->setCheckState(Qt::Unchecked);
  std::exception_ptr readError;
  {
    // Read-only access: seeing the flags must not need a store that can be written.
    AssocStore store(AssocStore::Access::ReadOnly);
    store.SetRoot(RootKey::ClassesRoot);
    store.OpenPath(layout::ProgIdKey(m_edited->CurrentFileType()), false);
    try {
      ShowFlagString(store);
    } catch (const ERegistryException&) {
      // Held, not handled: the rows are still set from the load's value first.
      readError = std::current_exception();
    }
  }
  ShowFlagRows(m_edited->CurrentFlagsValue());
  if (readError) std::rethrow_exception(readError);
}

void TForm4::ShowFlagString(AssocStore& store) {
  const ValueKind kind = store.KindOfValue(layout::EditFlagsName);
  if (kind != ValueKind::Binary && kind != ValueKind::Dword) {
    // The load found the flags elsewhere (the extension key, when the file type has no key
    // of its own) or they went meanwhile: the string of the flags the rows decode.
    EditFlagsE->setText(QString::fromStdString(m_edited->CurrentFlagsText()));
  }
  if (kind == ValueKind::Binary) {
    std::array<std::uint8_t, EditFlagsBufferSize> buffer{};
    // The count read, not a second size query, so the text never reaches past what was copied.
    const int count = store.GetBinary(layout::EditFlagsName, buffer.data(), EditFlagsBufferSize);
    const auto bytes =
        std::span<const std::uint8_t>(buffer.data(), static_cast<std::size_t>(count));
    EditFlagsE->setText(QString::fromStdString(FormatEditFlags(StoredEditFlags::FromBytes(bytes))));
  }
  if (kind == ValueKind::Dword) {
    const auto number = static_cast<std::uint32_t>(store.GetDword(layout::EditFlagsName));
    EditFlagsE->setText(
        QString::fromStdString(FormatEditFlags(StoredEditFlags::FromNumber(number))));
  }
}

void TForm4::ShowFlagRows(FlagsValue value) {
  const DecodedEditFlags decoded = DecodeEditFlags(value);
  for (std::size_t row = 0; row < EditFlagRowCount; ++row) {
    CLB->item(static_cast<int>(row))
        ->setCheckState(decoded.rows[row] ? Qt::Checked : Qt::Unchecked);
  }
  if (decoded.refused) {
    TheBoxes().Message(this, "Kestrova", EditFlagsRefusal, Boxes::Icon::None);
  }
}

}  // namespace kestrova
