#include "tools/RegeditWindow.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QRegularExpression>
#include <QSplitter>
#include <QStatusBar>
#include <QTreeView>
#include <QTreeWidget>
#include <algorithm>
#include <iostream>

#include "platform/Boxes.h"
#include "platform/SqliteStore.h"
#include "platform/WinePrefixStore.h"
#include "regfile/RegExporter.h"
#include "tools/RegeditCommand.h"
#include "tools/ValueText.h"

namespace kestrova {
namespace {

const QString kTitle = QStringLiteral("Kestrova Registry Editor");
// Each slice of a search runs this long before the window handles its events again.
constexpr int kFindSliceMs = 15;

}  // namespace

RegeditWindow::RegeditWindow(std::shared_ptr<RegistryEngine> engine, QWidget* parent)
    : QMainWindow(parent), m_engine(std::move(engine)) {
  setObjectName("RegeditWindow");
  setWindowTitle(kTitle);
  CreateControls();
  CreateMenus();

  connect(KeyTree->selectionModel(), &QItemSelectionModel::currentChanged, this,
          &RegeditWindow::KeyTreeCurrentChanged);
  // Queued: a read can fail while the tree paints, where no box may open.
  connect(m_model, &RegistryKeyModel::StoreFailed, this, &RegeditWindow::ShowStoreError,
          Qt::QueuedConnection);
  connect(FindDialog, &RegeditFindDialog::FindRequested, this, &RegeditWindow::StartFind);
  m_findTimer.setSingleShot(true);
  connect(&m_findTimer, &QTimer::timeout, this, &RegeditWindow::ContinueFind);

  KeyTree->setCurrentIndex(m_model->RootIndex(RootKey::ClassesRoot));
  KeyTree->setFocus();
}

RegeditWindow::~RegeditWindow() = default;

void RegeditWindow::CreateControls() {
  m_model = new RegistryKeyModel(m_engine, this);
  auto* splitter = new QSplitter(Qt::Horizontal, this);
  splitter->setObjectName("Splitter");

  KeyTree = new QTreeView(splitter);
  KeyTree->setObjectName("KeyTree");
  KeyTree->setAccessibleName(tr("Keys"));
  KeyTree->setModel(m_model);
  KeyTree->setHeaderHidden(true);
  // Rows of one height let the view lay out a root of 50,000 keys without measuring each.
  KeyTree->setUniformRowHeights(true);
  KeyTree->setSelectionMode(QAbstractItemView::SingleSelection);

  ValueList = new QTreeWidget(splitter);
  ValueList->setObjectName("ValueList");
  ValueList->setAccessibleName(tr("Values"));
  ValueList->setColumnCount(3);
  ValueList->setHeaderLabels({tr("Name"), tr("Type"), tr("Data")});
  ValueList->setRootIsDecorated(false);
  ValueList->setUniformRowHeights(true);
  ValueList->setAllColumnsShowFocus(true);
  ValueList->setSelectionMode(QAbstractItemView::SingleSelection);
  ValueList->header()->resizeSection(0, 200);
  ValueList->header()->resizeSection(1, 120);

  splitter->setStretchFactor(0, 1);
  splitter->setStretchFactor(1, 2);
  splitter->setSizes({320, 580});
  setCentralWidget(splitter);
  setTabOrder(KeyTree, ValueList);

  KeyPath = new QLabel(this);
  KeyPath->setObjectName("KeyPath");
  KeyPath->setTextInteractionFlags(Qt::TextSelectableByMouse);
  statusBar()->addWidget(KeyPath, 1);
  m_findStatus = new QLabel(this);
  m_findStatus->setObjectName("FindStatus");
  statusBar()->addPermanentWidget(m_findStatus);
  // Said once, and kept: every write the store refuses would otherwise come as a surprise.
  ReadOnlyNote = new QLabel(this);
  ReadOnlyNote->setObjectName("ReadOnlyNote");
  if (!m_engine->Writable()) ReadOnlyNote->setText(tr("The store is read-only."));
  ReadOnlyNote->setVisible(!m_engine->Writable());
  statusBar()->addPermanentWidget(ReadOnlyNote);

  FindDialog = new RegeditFindDialog(this);
  resize(900, 600);
}

void RegeditWindow::CreateMenus() {
  QMenu* file = menuBar()->addMenu(tr("&File"));
  ExportAction = file->addAction(tr("&Export..."), this, &RegeditWindow::ExportClick);
  ExportAction->setShortcut(QKeySequence(tr("Ctrl+E")));
  file->addSeparator();
  ExitAction = file->addAction(tr("E&xit"), this, &QWidget::close);
  ExitAction->setShortcut(QKeySequence::Quit);

  QMenu* edit = menuBar()->addMenu(tr("&Edit"));
  FindAction = edit->addAction(tr("&Find..."), this, &RegeditWindow::FindClick);
  FindAction->setShortcut(QKeySequence::Find);
  FindNextAction = edit->addAction(tr("Find &Next"), this, &RegeditWindow::FindNextClick);
  FindNextAction->setShortcut(QKeySequence(Qt::Key_F3));
  StopFindAction = edit->addAction(tr("&Stop Find"), this, &RegeditWindow::StopFind);
  StopFindAction->setShortcut(QKeySequence(Qt::Key_Escape));
  StopFindAction->setEnabled(false);

  QMenu* view = menuBar()->addMenu(tr("&View"));
  RefreshAction = view->addAction(tr("&Refresh"), this, &RegeditWindow::RefreshClick);
  RefreshAction->setShortcut(QKeySequence(Qt::Key_F5));
}

QString RegeditWindow::CurrentPath() const { return m_model->Path(KeyTree->currentIndex()); }

void RegeditWindow::KeyTreeCurrentChanged() {
  KeyPath->setText(CurrentPath());
  LoadValues();
}

void RegeditWindow::LoadValues() {
  ValueList->clear();
  const KeyRef key = m_model->Key(KeyTree->currentIndex());
  if (!key) return;
  std::vector<RegValue> values;
  try {
    m_engine->ListValues(key, values);
  } catch (const StoreError& e) {
    ShowStoreError(QString::fromUtf8(e.what()));
    return;
  }
  OrderForDisplay(values);
  QList<QTreeWidgetItem*> items;
  items.reserve(static_cast<qsizetype>(values.size()));
  for (const RegValue& v : values) {
    items << new QTreeWidgetItem(QStringList{v.name.empty() ? tr("(Default)") : Utf8Text(v.name),
                                             RegTypeText(v.type), RegDataText(v.type, v.data)});
  }
  ValueList->addTopLevelItems(items);
}

void RegeditWindow::FindClick() {
  if (m_lastQuery) FindDialog->SetQuery(*m_lastQuery);
  FindDialog->FindWhat->selectAll();
  FindDialog->FindWhat->setFocus();
  FindDialog->show();
  FindDialog->raise();
  FindDialog->activateWindow();
}

void RegeditWindow::FindNextClick() {
  if (m_lastQuery) {
    StartFind(*m_lastQuery);
  } else {
    FindClick();
  }
}

void RegeditWindow::StartFind(const FindQuery& query) {
  StopFind();
  if (query.text.isEmpty() || !(query.keys || query.values || query.data)) return;
  m_lastQuery = query;

  QModelIndex current = KeyTree->currentIndex();
  if (!current.isValid()) current = m_model->RootIndex(RootKey::ClassesRoot);
  std::vector<KeyRef> path;
  for (QModelIndex at = current; at.parent().isValid(); at = at.parent())
    path.push_back(m_model->Key(at));
  std::reverse(path.begin(), path.end());
  QTreeWidgetItem* value = ValueList->currentItem();
  const int valueRow = value && value->isSelected() ? ValueList->indexOfTopLevelItem(value) : -1;

  try {
    m_search =
        std::make_unique<KeySearch>(*m_engine, query, m_model->RootOf(current), path, valueRow);
  } catch (const StoreError& e) {
    ShowStoreError(QString::fromUtf8(e.what()));
    emit FindFinished(false);
    return;
  }
  StopFindAction->setEnabled(true);
  m_findStatus->setText(tr("Searching..."));
  m_findTimer.start(0);
}

void RegeditWindow::ContinueFind() {
  if (!m_search) return;
  bool over = false;
  try {
    over = m_search->Run(kFindSliceMs);
  } catch (const StoreError& e) {
    StopFind();
    ShowStoreError(QString::fromUtf8(e.what()));
    emit FindFinished(false);
    return;
  }
  if (!over) {
    m_findStatus->setText(tr("Searching %1...").arg(m_search->Where()));
    m_findTimer.start(0);
    return;
  }
  EndFind(m_search->Result().has_value());
}

void RegeditWindow::StopFind() {
  m_findTimer.stop();
  m_search.reset();
  StopFindAction->setEnabled(false);
  m_findStatus->clear();
}

void RegeditWindow::EndFind(bool found) {
  if (found) {
    ShowFound();
  } else {
    StopFind();
    TheBoxes().Message(this, tr("Find"), tr("\"%1\" was not found.").arg(m_lastQuery->text),
                       Boxes::Icon::Information);
  }
  emit FindFinished(found);
}

void RegeditWindow::ShowFound() {
  const KeySearch::Hit hit = *m_search->Result();
  const bool wrapped = m_search->Wrapped();
  StopFind();
  QModelIndex index;
  try {
    index = m_model->IndexFor(hit.root, hit.path);
  } catch (const StoreError& e) {
    ShowStoreError(QString::fromUtf8(e.what()));
    return;
  }
  if (!index.isValid()) {
    m_findStatus->setText(tr("The key found was deleted meanwhile."));
    return;
  }
  for (QModelIndex up = index.parent(); up.isValid(); up = up.parent()) KeyTree->expand(up);
  KeyTree->setCurrentIndex(index);
  KeyTree->scrollTo(index);
  if (hit.valueRow >= 0) {
    if (QTreeWidgetItem* item = ValueList->topLevelItem(hit.valueRow)) {
      ValueList->setCurrentItem(item);
      ValueList->scrollToItem(item);
    }
  }
  if (wrapped) m_findStatus->setText(tr("Passed the end of the store; went on from the top."));
}

void RegeditWindow::RefreshClick() {
  QTreeWidgetItem* value = ValueList->currentItem();
  const QString valueName = value && value->isSelected() ? value->text(0) : QString();
  try {
    m_model->Refresh();
  } catch (const StoreError& e) {
    ShowStoreError(QString::fromUtf8(e.what()));
  }
  KeyPath->setText(CurrentPath());
  LoadValues();
  if (!valueName.isEmpty()) {
    const auto same =
        ValueList->findItems(valueName, Qt::MatchFixedString | Qt::MatchCaseSensitive);
    if (!same.isEmpty()) ValueList->setCurrentItem(same.front());
  }
}

void RegeditWindow::ExportClick() {
  QString name = KeyTree->currentIndex().data().toString();
  name.replace(QRegularExpression(QStringLiteral("[/\\\\:*?\"<>|]")), QStringLiteral("_"));
  Boxes::SaveFileRequest request;
  request.title = tr("Export Registry File");
  request.initialPath = QDir::home().filePath(name + ".reg");
  request.defaultSuffix = QStringLiteral("reg");
  request.filters = {tr("Registration files (*.reg)"), tr("All files (*)")};
  const QString path = TheBoxes().SaveFile(this, request);
  if (!path.isEmpty()) ExportKey(path);
}

bool RegeditWindow::ExportKey(const QString& path) {
  std::optional<std::string> key;
  if (KeyTree->currentIndex().isValid()) key = CurrentPath().toStdString();
  const RegExportReport report =
      RegExporter(*m_engine).ExportFile(QFile::encodeName(path).toStdString(), key);
  if (report.Failed()) {
    TheBoxes().Message(this, tr("Export"), QString::fromStdString(report.errorString),
                       Boxes::Icon::Error);
    return false;
  }
  m_findStatus->setText(tr("Exported to %1").arg(QDir::toNativeSeparators(path)));
  return true;
}

void RegeditWindow::ShowStoreError(const QString& message) {
  // One box at a time: a store that fails once usually fails for every row painted next.
  if (m_showingError) return;
  m_showingError = true;
  TheBoxes().Message(this, kTitle, message, Boxes::Icon::Error);
  m_showingError = false;
}

int RunRegeditWindow(int& argc, char** argv, const std::string& prefix) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("kestrova-regedit"));
  std::shared_ptr<RegistryEngine> engine;
  std::unique_ptr<RegeditWindow> window;
  try {
    if (prefix.empty()) {
      UseSqliteStore(DefaultStorePath());
    } else {
      // Nothing is created in a folder that is not a prefix.
      if (const std::string why = WhyNotWinePrefix(prefix); !why.empty()) {
        throw StoreOpenError(why);
      }
      UseWinePrefix(prefix);
    }
    engine = AcquireEngine();
    window = std::make_unique<RegeditWindow>(engine);
    if (!prefix.empty()) {
      window->setWindowTitle(kTitle + " - Wine prefix " + QString::fromStdString(prefix));
      // While Wine runs in the prefix the tree shows what its files held when it started.
      if (!engine->Writable()) {
        window->ReadOnlyNote->setText(QStringLiteral("Wine is running: the view may be stale."));
        window->ReadOnlyNote->setToolTip(QString::fromStdString(engine->ReadOnlyReason()));
      }
    }
  } catch (const StoreError& e) {
    std::cerr << "kestrova-regedit: " << e.what() << '\n';
    TheBoxes().Message(nullptr, kTitle, QString::fromUtf8(e.what()), Boxes::Icon::Error);
    return kExitFailed;
  }
  window->show();
  return app.exec();
}

}  // namespace kestrova
