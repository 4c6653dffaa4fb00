#include "dialogs/FileTypeList.h"

#include <QLineEdit>
#include <QListView>
#include <string>
#include <vector>

#include "store/AssocLayout.h"
#include "store/AssocStore.h"

namespace kestrova {
namespace {

// Keys per hand-over: one insertion into the list each, cheap next to the event loop's slice.
constexpr int kBatchKeys = 500;

}  // namespace

int NameListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(m_names.size());
}

QVariant NameListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= m_names.size()) return {};
  if (role != Qt::DisplayRole && role != Qt::EditRole) return {};
  return m_names.at(index.row());
}

void NameListModel::Clear() { Replace({}); }

void NameListModel::Append(const QStringList& names) {
  if (names.isEmpty()) return;
  const auto first = static_cast<int>(m_names.size());
  beginInsertRows(QModelIndex(), first, first + static_cast<int>(names.size()) - 1);
  m_names.append(names);
  endInsertRows();
}

void NameListModel::Replace(const QStringList& names) {
  beginResetModel();
  m_names = names;
  endResetModel();
}

QComboBox* LongListCombo(NameListModel* model, int visibleRows) {
  auto* box = new QComboBox;
  box->setEditable(true);
  box->setInsertPolicy(QComboBox::NoInsert);
  box->setMaxVisibleItems(visibleRows);
  // Sizing to the contents would measure every name, at the first showing and again at
  // each drop-down; the boxes have fixed sizes anyway.
  box->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  if (auto* list = qobject_cast<QListView*>(box->view())) list->setUniformItemSizes(true);
  model->setParent(box);
  box->setModel(model);
  return box;
}

void AppendKeepingText(QComboBox* box, NameListModel* model, const QStringList& names) {
  QLineEdit* edit = box->lineEdit();
  const bool wasEmpty = model->rowCount() == 0;
  const QString text = edit->text();
  const int cursor = edit->cursorPosition();
  model->Append(names);
  if (wasEmpty && model->rowCount() > 0) {
    box->setCurrentIndex(-1);
    edit->setText(text);
    edit->setCursorPosition(cursor);
  }
}

bool ListFileTypes(TBackgroundTask::Worker& worker, const std::function<void(int)>& counted,
                   const std::function<void(const QStringList&, int)>& append) {
  std::vector<std::string> names;
  {
    AssocStore store(AssocStore::Access::ReadOnly);
    store.SetRoot(RootKey::ClassesRoot);
    store.OpenPath(layout::RootPath, false);
    store.ListSubkeys(names);
  }
  if (counted) worker.Queue([counted, count = static_cast<int>(names.size())] { counted(count); });

  // "*" is passed over without counting as a walked key.
  QStringList batch;
  int walked = 0;
  const auto handOver = [&] {
    worker.Queue([append, batch = std::move(batch), walked] { append(batch, walked); });
    batch = QStringList();
    walked = 0;
  };
  for (const std::string& name : names) {
    if (worker.StopRequested()) return false;
    if (name == "*") continue;
    if (layout::IsFileTypeName(name)) batch.push_back(QString::fromStdString(name));
    if (++walked == kBatchKeys) handOver();
  }
  if (walked > 0) handOver();
  return true;
}

}  // namespace kestrova
