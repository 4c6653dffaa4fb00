#pragma once
// The store's file-type names in a drop-down list: read on a worker thread, handed over in
// ordered batches, held by a plain list model that a combo box shows without measuring.

#include <QAbstractListModel>
#include <QComboBox>
#include <QStringList>
#include <functional>

#include "platform/BackgroundTask.h"

namespace kestrova {

// Names for a combo box. A batch is one insertion, however many names it holds, and no
// per-name item objects are made.
class NameListModel : public QAbstractListModel {
 public:
  using QAbstractListModel::QAbstractListModel;

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

  void Clear();
  void Append(const QStringList& names);
  void Replace(const QStringList& names);

 private:
  QStringList m_names;
};

// An editable combo box over `model` that stays quick with tens of thousands of names:
// neither the box nor its drop-down measures every name, and a typed text is never added.
QComboBox* LongListCombo(NameListModel* model, int visibleRows);

// Appends names to the box's list. The text and cursor stay as the user left them, also when
// the first names arrive in an empty list (which would otherwise pick the first one).
void AppendKeepingText(QComboBox* box, NameListModel* model, const QStringList& names);

// The worker's part: reads the root's key names with a store of its own and hands over, in
// store order and in batches, the file-type names ("*" and extensions left out). `counted`
// receives the number of root keys first, then `append` each batch with the number of
// keys walked for it; both run on the user-interface thread. False when stopped early.
bool ListFileTypes(TBackgroundTask::Worker& worker, const std::function<void(int)>& counted,
                   const std::function<void(const QStringList&, int)>& append);

}  // namespace kestrova
