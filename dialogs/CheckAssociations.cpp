#include "dialogs/CheckAssociations.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <array>
#include <set>

#include "platform/Boxes.h"

namespace kestrova {
namespace {

const QString kCaption = QStringLiteral("Check Associations");
// Where a finding's item keeps its place in m_findings.
constexpr int kIndexRole = Qt::UserRole + 1;

QString Q(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

CheckAssociationsDialog::CheckAssociationsDialog(QWidget* parent, Services services)
    : QDialog(parent), m_services(std::move(services)) {
  setObjectName("CheckAssociations");
  setWindowTitle(kCaption);
  resize(760, 460);

  m_tree = new QTreeWidget(this);
  m_tree->setObjectName("Findings");
  m_tree->setColumnCount(3);
  m_tree->setHeaderLabels({"Extension or file type", "What is wrong", "Mend"});
  m_tree->setSelectionMode(QAbstractItemView::ExtendedSelection);
  m_tree->header()->resizeSection(0, 220);
  m_tree->header()->resizeSection(1, 340);

  m_status = new QLabel(this);
  m_status->setObjectName("Status");
  m_progress = new QProgressBar(this);
  m_progress->setObjectName("Progress");
  m_progress->setRange(0, 100);

  m_mend = new QPushButton("&Mend Selected", this);
  m_mend->setObjectName("MendSelected");
  m_check = new QPushButton("Check &Again", this);
  m_check->setObjectName("CheckAgain");
  auto* close = new QPushButton("Close", this);
  close->setObjectName("Close");

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(m_status, 1);
  buttons->addWidget(m_mend);
  buttons->addWidget(m_check);
  buttons->addWidget(close);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(m_tree, 1);
  layout->addWidget(m_progress);
  layout->addLayout(buttons);

  connect(m_mend, &QPushButton::clicked, this, &CheckAssociationsDialog::MendSelected);
  connect(m_check, &QPushButton::clicked, this, [this] { CheckAgain(); });
  connect(close, &QPushButton::clicked, this, &QDialog::reject);
  connect(m_tree, &QTreeWidget::itemSelectionChanged, this,
          &CheckAssociationsDialog::UpdateButtons);

  m_task = new TBackgroundTask(this);
  m_task->OnFinish = [this] {
    m_findings = std::move(*m_result);
    m_progress->setValue(100);
    Fill();
    if (!m_error->empty()) {
      m_status->setText("The check failed: " + Q(*m_error));
    }
    UpdateButtons();
  };
  UpdateButtons();
}

CheckAssociationsDialog::~CheckAssociationsDialog() { m_task->Stop(); }

bool CheckAssociationsDialog::CheckAgain() {
  if (Checking()) return false;
  auto result = std::make_shared<std::vector<Finding>>();
  auto error = std::make_shared<std::string>();
  m_result = result;
  m_error = error;
  auto programs = m_services.programs;
  auto files = m_services.files;
  auto desktop = m_services.desktop;
  QPointer<QProgressBar> progress = m_progress;
  m_task->OnExecute = [result, error, programs, files, desktop,
                       progress](TBackgroundTask::Worker& worker) {
    try {
      // The engine of this thread: a connection of its own, so the window's reads go on.
      auto engine = AcquireEngine();
      auto resolver = programs();
      auto probes = files();
      // The desktop's probe reads files only: no process, no GIO on this thread.
      auto desktopProbe = desktop ? desktop() : nullptr;
      *result = CheckAssociations(
          *engine, *resolver, *probes,
          [&worker, progress](double f) {
            worker.Queue([progress, f] {
              if (progress) progress->setValue(static_cast<int>(f * 100));
            });
          },
          desktopProbe.get());
    } catch (const std::exception& e) {
      *error = e.what();
    }
  };
  m_progress->setValue(0);
  m_status->setText("Checking...");
  const bool started = m_task->Execute();
  UpdateButtons();
  return started;
}

void CheckAssociationsDialog::Fill() {
  m_tree->clear();
  // The rows are made away from the view and handed to it in one go: a big store's hundred
  // thousand findings, announced to the view one by one, froze the window for a second.
  std::array<QList<QTreeWidgetItem*>, std::size(kAllCheckKinds)> rows;
  for (size_t i = 0; i < m_findings.size(); ++i) {
    const Finding& f = m_findings[i];
    auto* item = new QTreeWidgetItem({Q(f.subject), Q(f.problem), Q(f.mend)});
    item->setData(0, kIndexRole, static_cast<int>(i));
    if (!IsFault(f.kind)) item->setFlags(item->flags() & ~Qt::ItemIsSelectable);
    rows[static_cast<size_t>(f.kind)].append(item);
  }
  QList<QTreeWidgetItem*> groups;
  int faults = 0;
  for (CheckKind kind : kAllCheckKinds) {
    const QList<QTreeWidgetItem*>& items = rows[static_cast<size_t>(kind)];
    if (items.isEmpty()) continue;
    auto* group = new QTreeWidgetItem();
    group->setText(0, QString("%1 (%2)").arg(CheckKindCaption(kind)).arg(items.size()));
    group->setData(0, kIndexRole, -1);
    if (!IsFault(kind)) group->setFlags(group->flags() & ~Qt::ItemIsSelectable);
    group->addChildren(items);
    groups.append(group);
    if (IsFault(kind)) faults += static_cast<int>(items.size());
  }
  m_tree->addTopLevelItems(groups);
  for (QTreeWidgetItem* group : groups) {
    group->setFirstColumnSpanned(true);
    group->setExpanded(true);
  }
  m_status->setText(faults == 0 ? QString("No problems found.")
                                : QString("%1 problem(s) found.").arg(faults));
}

std::vector<const Finding*> CheckAssociationsDialog::Selected() const {
  std::set<int> picked;
  for (QTreeWidgetItem* item : m_tree->selectedItems()) {
    const int index = item->data(0, kIndexRole).toInt();
    if (index >= 0) {
      picked.insert(index);
      continue;
    }
    for (int i = 0; i < item->childCount(); ++i) {
      picked.insert(item->child(i)->data(0, kIndexRole).toInt());
    }
  }
  std::vector<const Finding*> findings;
  for (int index : picked) {
    const Finding& f = m_findings[static_cast<size_t>(index)];
    if (IsFault(f.kind)) findings.push_back(&f);
  }
  return findings;
}

void CheckAssociationsDialog::UpdateButtons() {
  const bool busy = Checking();
  m_check->setEnabled(!busy);
  m_mend->setEnabled(!busy && !Selected().empty());
}

void CheckAssociationsDialog::MendSelected() {
  if (Checking()) return;
  const auto picked = Selected();
  if (picked.empty()) return;
  QString list;
  bool desktopFiles = false;
  for (const Finding* f : picked) {
    list += "\n" + Q(f->subject) + ": " + Q(f->mend);
    desktopFiles = desktopFiles || IsDesktopKind(f->kind);
  }
  QString question = QString(
                         "Mend %1 problem(s)? Each key is backed up first; importing "
                         "the backups undoes the mends.\n")
                         .arg(picked.size());
  if (desktopFiles) {
    question +=
        "Each desktop file is copied to the backup folder first; copying it back undoes the "
        "mend.\n";
  }
  if (!TheBoxes().Confirm(this, kCaption, question + list)) return;
  std::vector<Finding> mended;
  QStringList failures;
  std::unique_ptr<DesktopCheckMends> desktopMends;
  if (desktopFiles && m_services.desktopMends) desktopMends = m_services.desktopMends();
  try {
    auto engine = AcquireEngine();
    auto backup = m_services.backup(*engine);
    AssociationMender mender(*engine, *backup, desktopMends.get());
    for (const Finding* f : picked) {
      std::string done;
      if (mender.Mend(*f, &done)) {
        mended.push_back(*f);
      } else {
        failures << Q(done);
      }
    }
  } catch (const std::exception& e) {
    failures << Q(e.what());
  }
  if (!mended.empty() && m_services.mended) m_services.mended(mended);
  if (desktopMends && m_services.rebuild &&
      (desktopMends->RebuildMime() || desktopMends->RebuildApplications())) {
    m_services.rebuild(desktopMends->RebuildMime(), desktopMends->RebuildApplications());
  }
  if (!failures.isEmpty()) {
    TheBoxes().Message(this, kCaption, "Some problems were not mended:\n" + failures.join('\n'),
                       Boxes::Icon::Error);
  }
  CheckAgain();
}

}  // namespace kestrova
