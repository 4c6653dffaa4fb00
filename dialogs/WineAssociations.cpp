#include "dialogs/WineAssociations.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "platform/Boxes.h"

namespace kestrova {
namespace {

const QString kCaption = QStringLiteral("Wine's Associations");
// A row keeps the entry's id, or the MIME type of a package no entry lists.
constexpr int kIdRole = Qt::UserRole + 1;
constexpr int kTypeRole = Qt::UserRole + 2;

}  // namespace

WineAssociationsDialog::WineAssociationsDialog(QWidget* parent, Services services)
    : QDialog(parent), m_services(std::move(services)) {
  setObjectName("WineAssociations");
  setWindowTitle(kCaption);
  resize(820, 420);

  auto* intro = new QLabel(
      "Wine gives the desktop an entry for each extension a Windows program opens, and the "
      "desktop may pick these entries to open your files. Removing one here takes it, its Wine "
      "MIME type and the defaults it took away, so the desktop's own choice applies again.",
      this);
  intro->setWordWrap(true);

  m_tree = new QTreeWidget(this);
  m_tree->setObjectName("Entries");
  m_tree->setRootIsDecorated(false);
  m_tree->setColumnCount(5);
  m_tree->setHeaderLabels({"Program", "Extensions", "Wine prefix", "Prefix", "Default for"});
  m_tree->setSelectionMode(QAbstractItemView::ExtendedSelection);
  m_tree->header()->resizeSection(0, 200);
  m_tree->header()->resizeSection(1, 110);
  m_tree->header()->resizeSection(2, 220);
  m_tree->header()->resizeSection(3, 70);

  m_status = new QLabel(this);
  m_status->setObjectName("Status");
  m_remove = new QPushButton("&Remove", this);
  m_remove->setObjectName("Remove");
  m_removeAll = new QPushButton("Remove &All", this);
  m_removeAll->setObjectName("RemoveAll");
  auto* close = new QPushButton("Close", this);
  close->setObjectName("Close");

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(m_status, 1);
  buttons->addWidget(m_remove);
  buttons->addWidget(m_removeAll);
  buttons->addWidget(close);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(intro);
  layout->addWidget(m_tree, 1);
  layout->addLayout(buttons);

  connect(m_remove, &QPushButton::clicked, this, &WineAssociationsDialog::RemoveSelected);
  connect(m_removeAll, &QPushButton::clicked, this, &WineAssociationsDialog::RemoveAll);
  connect(close, &QPushButton::clicked, this, &QDialog::reject);
  connect(m_tree, &QTreeWidget::itemSelectionChanged, this, &WineAssociationsDialog::UpdateButtons);
  Reload();
}

void WineAssociationsDialog::Reload() {
  m_desktop = ReadWineDesktop(m_services.folders);
  m_tree->clear();
  for (const WineEntry& entry : m_desktop.entries) {
    QStringList chosen = entry.defaults;
    for (const QString& type : entry.added) {
      if (!chosen.contains(type)) chosen << type;
    }
    const QString name = entry.name.isEmpty() ? entry.id : entry.name + " (" + entry.id + ")";
    QString prefix = entry.prefix.path;
    if (!entry.prefix.named) prefix += " (Wine's default)";
    auto* item = new QTreeWidgetItem(
        m_tree, {name, entry.extensions.join(' '), prefix,
                 entry.prefixExists ? QString("exists") : QString("gone"), chosen.join(' ')});
    item->setToolTip(0, entry.file);
    item->setToolTip(4, entry.mimeTypes.join('\n'));
    item->setData(0, kIdRole, entry.id);
  }
  for (const QString& type : m_desktop.orphanTypes) {
    auto* item = new QTreeWidgetItem(
        m_tree, {"(MIME type only: " + type + ")", '.' + type.section("x-wine-extension-", 1),
                 QString(), QString(), QString()});
    item->setData(0, kTypeRole, type);
  }
  const int count = m_tree->topLevelItemCount();
  QString status = count == 0 ? QString("Wine has no associations on the desktop.")
                              : QString("%1 association(s) from Wine.").arg(count);
  if (!m_desktop.problems.isEmpty()) status += " Not read: " + m_desktop.problems.join("; ");
  m_status->setText(status);
  UpdateButtons();
}

void WineAssociationsDialog::UpdateButtons() {
  m_remove->setEnabled(!m_tree->selectedItems().isEmpty());
  m_removeAll->setEnabled(m_tree->topLevelItemCount() > 0);
}

void WineAssociationsDialog::RemoveSelected() {
  QStringList ids;
  QStringList types;
  for (QTreeWidgetItem* item : m_tree->selectedItems()) {
    const QString id = item->data(0, kIdRole).toString();
    const QString type = item->data(0, kTypeRole).toString();
    if (!id.isEmpty()) ids << id;
    if (!type.isEmpty()) types << type;
  }
  Remove(ids, types);
}

void WineAssociationsDialog::RemoveAll() {
  QStringList ids;
  for (const WineEntry& entry : m_desktop.entries) ids << entry.id;
  Remove(ids, m_desktop.orphanTypes);
}

void WineAssociationsDialog::Remove(const QStringList& ids, const QStringList& types) {
  if (ids.isEmpty() && types.isEmpty()) return;
  QString list;
  for (const QString& id : ids) list += "\n" + id;
  for (const QString& type : types) list += "\n" + type;
  if (!TheBoxes().Confirm(this, kCaption,
                          QString("Remove %1 of Wine's associations from the desktop? Each file "
                                  "is copied to the backup folder first; the defaults they took "
                                  "go back to the desktop's own choice.\n")
                                  .arg(ids.size() + types.size()) +
                              list)) {
    return;
  }
  const WineRemoval removal =
      RemoveWineEntries(m_services.folders, m_desktop, ids, types, m_services.namer);
  if ((removal.rebuildMime || removal.rebuildApplications) && m_services.rebuild) {
    m_services.rebuild(removal.rebuildMime, removal.rebuildApplications);
  }
  Reload();
  if (!removal.problems.isEmpty()) {
    TheBoxes().Message(this, kCaption, removal.problems.join("\n\n"), Boxes::Icon::Error);
    return;
  }
  m_status->setText(QString("Removed %1 entr%2 and %3 MIME type(s); %4 backup(s) written.")
                        .arg(removal.removedEntries)
                        .arg(removal.removedEntries == 1 ? "y" : "ies")
                        .arg(removal.removedTypes)
                        .arg(removal.backups.size()));
}

}  // namespace kestrova
