#include "app/Main.h"

#include <QApplication>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QScreen>
#include <QStyledItemDelegate>

#include "app/About.h"
#include "app/Backups.h"
#include "app/Errors.h"
#include "app/StoreChoice.h"
#include "dialogs/DDE.h"
#include "dialogs/DialogFrame.h"
#include "dialogs/EditFlag.h"
#include "dialogs/NewType.h"
#include "dialogs/NewWiz.h"
#include "dialogs/Settings.h"
#include "dialogs/chgass.h"
#include "platform/Boxes.h"
#include "platform/Clock.h"
#include "platform/Notifier.h"
#include "shell/ProcessLauncher.h"
#include "store/AssocLayout.h"
#include "store/AssocStore.h"
#include "store/EditFlagsCodec.h"

namespace kestrova {
namespace {

constexpr int kClientWidth = 515;
constexpr int kClientHeight = 396;
constexpr int kStatusHeight = 19;
constexpr int kEditHeight = 21;

QString Q(const std::string& text) { return QString::fromStdString(text); }
std::string S(const QString& text) { return text.toStdString(); }

QPushButton* Button(QWidget* parent, const char* name, const QString& caption, int left, int top,
                    int width = 65, int height = 22) {
  auto* button = new QPushButton(caption, parent);
  button->setObjectName(name);
  button->setGeometry(left, top, width, height);
  return button;
}

QCheckBox* Check(QWidget* parent, const char* name, const QString& caption, int left, int top) {
  auto* box = new QCheckBox(caption, parent);
  box->setObjectName(name);
  box->setGeometry(left, top, 169, 17);
  return box;
}

QGroupBox* Group(QWidget* parent, const char* name, const QString& caption, int left, int top,
                 int width, int height) {
  auto* group = new QGroupBox(caption, parent);
  group->setObjectName(name);
  group->setGeometry(left, top, width, height);
  return group;
}

QAction* Item(QMenu* menu, const char* name, const QString& caption) {
  auto* action = menu->addAction(caption);
  action->setObjectName(name);
  return action;
}

// Draws the actions list's rows through the window's handler.
class ActionRowDelegate : public QStyledItemDelegate {
 public:
  ActionRowDelegate(TForm1* form) : QStyledItemDelegate(form->ListBox1), m_form(form) {}
  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override {
    m_form->ListBox1DrawItem(painter, option, index.row());
  }
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    return {QStyledItemDelegate::sizeHint(option, index).width(), 16};
  }

 private:
  TForm1* m_form;
};

// One argument of a Windows command line: quoted, with backslashes before a quote doubled.
QString QuoteWindowsArgument(const QString& text) {
  QString out = "\"";
  int backslashes = 0;
  for (const QChar c : text) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    out += QString(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
    backslashes = 0;
    out += c;
  }
  out += QString(backslashes * 2, '\\');
  return out + '"';
}

// The key argument stays bare, as registry editors take it, unless a blank or quote
// would split it into several arguments and export the wrong key.
QString KeyArgument(const QString& key) {
  return key.contains(' ') || key.contains('\t') || key.contains('"') ? QuoteWindowsArgument(key)
                                                                      : key;
}

}  // namespace

void ClickableImage::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
    emit clicked();
  }
  QLabel::mouseReleaseEvent(event);
}

void ClickableImage::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Space || event->key() == Qt::Key_Return ||
      event->key() == Qt::Key_Enter) {
    emit clicked();
    return;
  }
  QLabel::keyPressEvent(event);
}

// The load only reads: it shows everything also when the store cannot be written.
struct TForm1::Load {
  AssocStore store{AssocStore::Access::ReadOnly};
  std::string ext;
};

TForm1::TForm1(QWidget* parent) : QMainWindow(parent) {
  setObjectName("TForm1");
  setWindowTitle("Kestrova");
  BuildControls();
  BuildMenus();
  BuildActions();
  SetTabOrder();
  Connect();
  AboutDlg = new AboutBox(this);
  Starter = std::make_unique<ProcessLauncher>(this);
  Starter->Wait = true;

  // Fixed border, no maximise; the client area below the menu is 515 by 396.
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                 Qt::MSWindowsFixedSizeDialogHint);
  const int height = kClientHeight + menuBar()->sizeHint().height();
  setFixedSize(kClientWidth, height);
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - QPoint(kClientWidth / 2, height / 2));
  }
  FormCreate();
}

TForm1::~TForm1() = default;

void TForm1::BuildControls() {
  auto* client = new QWidget(this);
  client->setObjectName("Client");
  client->setFixedSize(kClientWidth, kClientHeight - kStatusHeight);
  setCentralWidget(client);

  ExtensionGroup = Group(client, "ExtensionGroup", "File Extension", 8, 8, 401, 73);
  Ext =
      Labelled(ExtensionGroup, new QLineEdit, "Ext", "Extension:", QRect(16, 40, 57, kEditHeight));
  ContentType = Labelled(ExtensionGroup, new QComboBox, "ContentType",
                         "MIME Content Type:", QRect(88, 40, 217, kEditHeight));
  ContentType->setEditable(true);
  ContentType->setInsertPolicy(QComboBox::NoInsert);
  SaveExtBtn = Button(ExtensionGroup, "SaveExtBtn", "&Save", 320, 40);

  FileTypeGroup = Group(client, "FileTypeGroup", "File Type", 8, 88, 497, 281);
  IconGroup = Group(FileTypeGroup, "IconGroup", "Icon", 16, 24, 57, 65);
  IconGroup->setAlignment(Qt::AlignHCenter);
  Image1 = new ClickableImage(IconGroup);
  Image1->setObjectName("Image1");
  Image1->setGeometry(8, 16, 41, 41);
  Image1->setAlignment(Qt::AlignCenter);
  Image1->setCursor(Qt::PointingHandCursor);
  Image1->setToolTip("Click to change icon");
  Image1->setFocusPolicy(Qt::StrongFocus);
  Image1->setAccessibleName("Icon");
  Image1->setAccessibleDescription("Click to change icon");

  ExtDesc =
      Labelled(FileTypeGroup, new QLineEdit, "ExtDesc", "ProgID:", QRect(88, 32, 217, kEditHeight));
  ExtDesc->setReadOnly(true);
  ExtType = Labelled(FileTypeGroup, new QLineEdit, "ExtType",
                     "Description:", QRect(88, 72, 217, kEditHeight));
  ConfirmCB = Check(FileTypeGroup, "ConfirmCB", "Confirm &open after download", 320, 32);
  AlwaysShowCB = Check(FileTypeGroup, "AlwaysShowCB", "&Always Show Extension", 320, 48);
  BrowseCB = Check(FileTypeGroup, "BrowseCB", "&Browse in same window", 320, 64);
  SaveTypeBtn = Button(FileTypeGroup, "SaveTypeBtn", "&Save", 320, 88);
  EditFlagsBtn = Button(FileTypeGroup, "EditFlagsBtn", "Edit &Flags", 400, 88);
  EditFlagsBtn->setEnabled(false);

  ActionsGroup = Group(FileTypeGroup, "ActionsGroup", "Actions", 16, 112, 465, 153);
  ListBox1 = new QTreeWidget(ActionsGroup);
  ListBox1->setObjectName("ListBox1");
  ListBox1->setGeometry(8, 24, 113, 121);
  ListBox1->setColumnCount(1);
  ListBox1->setHeaderLabels({"Actions"});
  ListBox1->header()->setFixedHeight(17);
  ListBox1->header()->setSectionsClickable(false);
  ListBox1->setRootIsDecorated(false);
  ListBox1->setUniformRowHeights(true);
  ListBox1->setTextElideMode(Qt::ElideMiddle);
  ListBox1->setSelectionMode(QAbstractItemView::SingleSelection);
  ListBox1->setContextMenuPolicy(Qt::CustomContextMenu);
  ListBox1->setAccessibleName("Actions");
  ListBox1->setItemDelegate(new ActionRowDelegate(this));
  ActionE =
      Labelled(ActionsGroup, new QLineEdit, "ActionE", "Action:", QRect(136, 40, 313, kEditHeight));
  Command = Labelled(ActionsGroup, new QLineEdit, "Command",
                     "Command-line used to perform action:", QRect(136, 88, 313, kEditHeight));
  BrowseBtn = Button(ActionsGroup, "BrowseBtn", "B&rowse...", 384, 112);
  SaveActionBtn = Button(ActionsGroup, "SaveActionBtn", "&Save", 136, 120);
  DDEBtn = Button(ActionsGroup, "DDEBtn", "View &DDE", 216, 120);

  ReferenceBtn = Button(client, "ReferenceBtn", "Reference", 424, 14, 81, 22);
  ReferenceBtn->setIcon(QIcon::fromTheme("help-browser"));
  RegistryBtn = Button(client, "RegistryBtn", "Registry", 424, 38, 81, 22);
  RegistryBtn->setIcon(QIcon::fromTheme("applications-system"));
  SettingsBtn = Button(client, "SettingsBtn", "Settings", 424, 62, 81, 22);
  SettingsBtn->setIcon(QIcon::fromTheme("preferences-system"));

  StatusBar1 = new QStatusBar(this);
  StatusBar1->setObjectName("StatusBar1");
  StatusBar1->setFixedHeight(kStatusHeight);
  StatusBar1->setSizeGripEnabled(false);
  m_statusText = new QLabel(StatusBar1);
  m_statusText->setObjectName("StatusBar1Text");
  StatusBar1->addWidget(m_statusText, 1);
  setStatusBar(StatusBar1);
}

void TForm1::BuildMenus() {
  File1 = menuBar()->addMenu("&Extension");
  File1->setObjectName("File1");
  New1 = Item(File1, "New1", "&New");
  Save1 = Item(File1, "Save1", "&Save");
  Delete1 = Item(File1, "Delete1", "&Delete");
  ChangeAssociation1 = Item(File1, "ChangeAssociation1", "&Change Association");
  File1->addSeparator()->setObjectName("N2");
  Exit1 = Item(File1, "Exit1", "E&xit");

  FileType1 = menuBar()->addMenu("&File Type");
  FileType1->setObjectName("FileType1");
  New2 = Item(FileType1, "New2", "&New");
  Delete2 = Item(FileType1, "Delete2", "&Delete");
  EditFlags1 = Item(FileType1, "EditFlags1", "&Edit Flags");
  EditFlags1->setEnabled(false);

  ools1 = menuBar()->addMenu("&Tools");
  ools1->setObjectName("ools1");
  ools1->setToolTipsVisible(true);
  ExtensionDetails1 = Item(ools1, "ExtensionDetails1", "E&xtension Details");
  ExtensionDetails1->setIcon(QIcon::fromTheme("help-browser"));
  ExtensionDetails1->setToolTip("Reference");
  RegEdit1 = Item(ools1, "RegEdit1", "Registry Editor");
  RegEdit1->setIcon(QIcon::fromTheme("applications-system"));
  Settings2 = Item(ools1, "Settings2", "&Settings");
  Settings2->setIcon(QIcon::fromTheme("preferences-system"));
  ImportFromDesktop1 = Item(ools1, "ImportFromDesktop1", "&Import from Desktop");
  ImportFromDesktop1->setToolTip("Refresh the file types from the desktop, keeping your changes");
  RemoveDesktopChanges1 = Item(ools1, "RemoveDesktopChanges1", "Remove &Desktop Changes");
  RemoveDesktopChanges1->setToolTip(
      "Take back the file types, entries and defaults Kestrova gave the desktop");
  CheckAssociations1 = Item(ools1, "CheckAssociations1", "&Check Associations");
  WineAssociations1 = Item(ools1, "WineAssociations1", "&Wine's Associations");
  WineAssociations1->setToolTip("See and remove the associations Wine gave the desktop");
  ools1->addSeparator()->setObjectName("N4");
  OpenWinePrefix1 = Item(ools1, "OpenWinePrefix1", "Open Wine &Prefix...");
  OpenWinePrefix1->setToolTip("Edit the associations of a Wine prefix (its system.reg)");
  OpenDefaultStore1 = Item(ools1, "OpenDefaultStore1", "Open Kestrova's &Own Store");
  OpenDefaultStore1->setToolTip("Go back from the Wine prefix to Kestrova's own store");

  Help1 = menuBar()->addMenu("&Help");
  Help1->setObjectName("Help1");
  Help1->setToolTipsVisible(true);
  Help2 = Item(Help1, "Help2", "Kestrova Help");
  HelpontheWeb1 = Item(Help1, "HelpontheWeb1", "Online Help");
  HelpontheWeb1->setToolTip("Open the online help at the address set in Settings");
  Help1->addSeparator()->setObjectName("N3");
  About1 = Item(Help1, "About1", "&About");

  PopUp = new QMenu(ListBox1);
  PopUp->setObjectName("PopUp");
  AddShell1 = Item(PopUp, "AddShell1", "&New");
  DeleteShell1 = Item(PopUp, "DeleteShell1", "&Delete");
  PopUp->addSeparator()->setObjectName("N1");
  ChangetoDefaultAction1 = Item(PopUp, "ChangetoDefaultAction1", "&Set Default");
}

void TForm1::BuildActions() {
  auto action = [this](const char* name, const QString& caption, const char* category) {
    auto* a = new QAction(caption, this);
    a->setObjectName(name);
    a->setProperty("category", QString(category));
    return a;
  };
  RegEditB = action("RegEditB", "Registry Editor", "");
  WebHelpB = action("WebHelpB", "", "");
  SaveExtAction = action("SaveExt", "SaveExt", "Extension");
  ClearFrmAction = action("ClearFrm", "ClearFrm", "Loading");
  BUExtAction = action("BUExt", "BUExt", "");
  BUProgIDAction = action("BUProgID", "BUProgID", "");
}

void TForm1::SetTabOrder() {
  const std::vector<QWidget*> order = {
      Ext,         ContentType,  SaveExtBtn, Image1,       ConfirmCB,   AlwaysShowCB, BrowseCB,
      SaveTypeBtn, EditFlagsBtn, ListBox1,   ActionE,      Command,     BrowseBtn,    SaveActionBtn,
      DDEBtn,      ExtDesc,      ExtType,    ReferenceBtn, RegistryBtn, SettingsBtn};
  for (std::size_t i = 1; i < order.size(); ++i) setTabOrder(order[i - 1], order[i]);
}

void TForm1::Connect() {
  connect(Ext, &QLineEdit::textChanged, this, &TForm1::ExtChange);
  Ext->installEventFilter(this);
  connect(ClearFrmAction, &QAction::triggered, this, &TForm1::ClearFrm);
  connect(Exit1, &QAction::triggered, this, &TForm1::Exit1Click);
  connect(About1, &QAction::triggered, this, &TForm1::About1Click);
  connect(ListBox1, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& pos) { PopUp->popup(ListBox1->viewport()->mapToGlobal(pos)); });
  connect(RegEdit1, &QAction::triggered, RegEditB, &QAction::trigger);
  // The user's choice of a row; the program fills the list with its signals blocked, and a
  // selection that becomes empty (a Ctrl+click) chooses nothing.
  connect(ListBox1, &QTreeWidget::itemSelectionChanged, this, [this] {
    if (ListIndex() >= 0) ListBox1Click();
  });
  connect(SaveActionBtn, &QPushButton::clicked, this, &TForm1::SaveActionBtnClick);
  connect(BrowseBtn, &QPushButton::clicked, this, &TForm1::BrowseBtnClick);
  connect(DDEBtn, &QPushButton::clicked, this, &TForm1::DDEBtnClick);
  connect(AddShell1, &QAction::triggered, this, &TForm1::AddShell1Click);
  connect(DeleteShell1, &QAction::triggered, this, &TForm1::DeleteShell1Click);
  connect(ChangetoDefaultAction1, &QAction::triggered, this, &TForm1::ChangetoDefaultAction1Click);
  connect(SaveExtAction, &QAction::triggered, this, &TForm1::SaveExt);
  connect(SaveExtBtn, &QPushButton::clicked, SaveExtAction, &QAction::trigger);
  connect(Save1, &QAction::triggered, SaveExtAction, &QAction::trigger);
  connect(SaveTypeBtn, &QPushButton::clicked, this, &TForm1::SaveTypeBtnClick);
  connect(Delete1, &QAction::triggered, this, &TForm1::Delete1Click);
  connect(Delete2, &QAction::triggered, this, &TForm1::Delete2Click);
  connect(BUExtAction, &QAction::triggered, this, &TForm1::BUExt);
  connect(New1, &QAction::triggered, this, &TForm1::New1Click);
  connect(New2, &QAction::triggered, this, &TForm1::New2Click);
  connect(ChangeAssociation1, &QAction::triggered, this, &TForm1::ChangeAssociation1Click);
  connect(EditFlagsBtn, &QPushButton::clicked, this, &TForm1::EditFlagsBtnClick);
  connect(EditFlags1, &QAction::triggered, this, &TForm1::EditFlagsBtnClick);
  connect(SettingsBtn, &QPushButton::clicked, this, &TForm1::SettingsBtnClick);
  connect(Settings2, &QAction::triggered, this, &TForm1::SettingsBtnClick);
  connect(ImportFromDesktop1, &QAction::triggered, this, &TForm1::ImportFromDesktop1Click);
  connect(RemoveDesktopChanges1, &QAction::triggered, this, &TForm1::RemoveDesktopChanges1Click);
  connect(CheckAssociations1, &QAction::triggered, this, &TForm1::CheckAssociations1Click);
  connect(WineAssociations1, &QAction::triggered, this, &TForm1::WineAssociations1Click);
  connect(OpenWinePrefix1, &QAction::triggered, this, &TForm1::OpenWinePrefix1Click);
  connect(OpenDefaultStore1, &QAction::triggered, this, &TForm1::OpenDefaultStore1Click);
  connect(Image1, &ClickableImage::clicked, this, &TForm1::Image1Click);
  connect(WebHelpB, &QAction::triggered, this, &TForm1::WebHelpBExecute);
  connect(ReferenceBtn, &QPushButton::clicked, WebHelpB, &QAction::trigger);
  connect(RegEditB, &QAction::triggered, this, &TForm1::RegEditBExecute);
  connect(RegistryBtn, &QPushButton::clicked, RegEditB, &QAction::trigger);
  connect(Help2, &QAction::triggered, this, &TForm1::Help2Click);
  connect(HelpontheWeb1, &QAction::triggered, this, &TForm1::HelpontheWeb1Click);
  connect(BUProgIDAction, &QAction::triggered, this, &TForm1::BUProgID);
  connect(ExtensionDetails1, &QAction::triggered, WebHelpB, &QAction::trigger);
}

bool TForm1::event(QEvent* event) {
  const bool handled = QMainWindow::event(event);
  if (event->type() == QEvent::WindowActivate) {
    // Wine may have started or ended in the prefix while another window was in front.
    if (!OpenedPrefix().empty()) {
      RereadPrefix();
      ShowStore();
    }
    FormActivate();
  }
  // Without a window manager the window may never be activated; the first showing then
  // stands in for the first activation.
  if (event->type() == QEvent::Show && !m_argumentApplied) {
    QMetaObject::invokeMethod(this, &TForm1::FormActivate, Qt::QueuedConnection);
  }
  return handled;
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
  if (watched == Ext && event->type() == QEvent::MouseButtonRelease) {
    const bool handled = QMainWindow::eventFilter(watched, event);
    ExtClick();
    return handled;
  }
  return QMainWindow::eventFilter(watched, event);
}

void TForm1::FormCreate() {
  ShowStore();
  AssocStore store(AssocStore::Access::ReadOnly);
  store.SetRoot(RootKey::ClassesRoot);
  std::vector<std::string> types;
  if (store.OpenPath(layout::ContentTypeDatabaseKey, false)) store.ListSubkeys(types);
  QStringList items;
  items.reserve(static_cast<qsizetype>(types.size()));
  for (const auto& t : types) items.push_back(Q(t));
  ContentType->clear();
  ContentType->addItems(items);
  ContentType->setCurrentIndex(-1);
}

void TForm1::FormActivate() {
  // The argument is applied at the first activation only, so coming back from a dialog
  // keeps what the user typed or created.
  if (m_argumentApplied) return;
  m_argumentApplied = true;
  if (m_argument.isEmpty()) return;
  // The extension is the text after the last dot of the file's name.
  const QString name = QFileInfo(m_argument).fileName();
  const qsizetype dot = name.lastIndexOf('.');
  if (dot < 0 || dot + 1 >= name.size()) return;
  Ext->setText(name.mid(dot + 1));
  LoadExtension();
}

void TForm1::ExtChange() {
  ClearFrm();
  if (!Ext->text().isEmpty()) LoadExtension();
}

void TForm1::ExtClick() { Ext->selectAll(); }

void TForm1::ClearFrm() {
  const QSignalBlocker quiet(ListBox1);
  ContentType->setCurrentIndex(-1);
  ContentType->setEditText(QString());
  EnableEditFlags(false);
  ShowIcon(QImage());
  ListBox1->clear();
  ExtType->clear();
  ExtDesc->clear();
  ActionE->clear();
  Command->clear();
  ConfirmCB->setChecked(false);
  AlwaysShowCB->setChecked(false);
  BrowseCB->setChecked(false);
  m_loadedContentType = {};
  m_loadedDescription = {};
  m_loadedCaption = {};
  m_loadedCommand = {};
}

TForm1::LoadedText TForm1::ReadLoaded(AssocStore& store, const std::string& key,
                                      const std::string& name) {
  LoadedText loaded{key, std::nullopt};
  if (store.HasValue(name)) loaded.text = Q(store.GetText(name));
  return loaded;
}

bool TForm1::AsLoaded(const LoadedText& loaded, const std::string& key, const QString& shown) {
  // Empty text is always written (or removed) as before: it holds no bytes to keep.
  return !shown.isEmpty() && loaded.text && *loaded.text == shown && loaded.key == key;
}

void TForm1::LoadExtension() {
  Load load;
  load.store.SetRoot(RootKey::ClassesRoot);
  load.ext = S(Ext->text());
  if (!GetFType(load)) return;
  if (!State.CurrentProgID.empty()) {
    GetCBs(load);
    ChkEditFlags(load);
  }
  GetIcon(load);
  GetContentType(load);
  GetActions(load);
}

bool TForm1::GetFType(Load& load) {
  const std::string extKey = layout::ExtKey(load.ext);
  if (!load.store.HasPath(extKey)) return false;
  load.store.OpenPath(extKey, false);
  State.CurrentProgID = load.store.GetText(layout::DefaultValueName);
  ExtDesc->setText(Q(State.CurrentProgID));
  if (!State.CurrentProgID.empty()) {
    // When the file type key is missing the extension key stays current, and the flag
    // tests that follow read it.
    const std::string typeKey = layout::ProgIdKey(State.CurrentProgID);
    if (load.store.HasPath(typeKey)) {
      load.store.OpenPath(typeKey, false);
      m_loadedDescription = ReadLoaded(load.store, typeKey, layout::DefaultValueName);
      ExtType->setText(m_loadedDescription.text.value_or(QString()));
    }
  }
  return true;
}

void TForm1::GetCBs(Load& load) {
  if (load.store.HasValue(layout::AlwaysShowExtName)) AlwaysShowCB->setChecked(true);
  if (!load.store.HasValue(layout::BrowserFlagsName)) BrowseCB->setChecked(true);
}

void TForm1::ChkEditFlags(Load& load) {
  const ValueKind kind = load.store.KindOfValue(layout::EditFlagsName);
  if (kind == ValueKind::Binary) {
    std::uint8_t buffer[EditFlagsBufferSize];
    const int count = load.store.GetBinary(layout::EditFlagsName, buffer, EditFlagsBufferSize);
    const auto stored =
        StoredEditFlags::FromBytes(std::span(buffer, static_cast<std::size_t>(count)));
    State.CurrentFlagsText = FormatEditFlags(stored);
    State.CurrentFlagsValue = EditFlagsValue(stored);
    // Bits 16 to 23 clear: the byte at offset 2 is zero or missing.
    if (count < 3 || buffer[2] == 0) ConfirmCB->setChecked(true);
    EnableEditFlags(true);
  }
  if (kind == ValueKind::Dword) {
    const auto stored = StoredEditFlags::FromNumber(
        static_cast<std::uint32_t>(load.store.GetDword(layout::EditFlagsName)));
    State.CurrentFlagsValue = EditFlagsValue(stored);
    State.CurrentFlagsText = FormatEditFlags(stored);
    if (State.CurrentFlagsText.compare(2, 2, "00") == 0) ConfirmCB->setChecked(true);
    EnableEditFlags(true);
  }
}

void TForm1::GetIcon(Load& load) {
  Lookup.SetExtension("." + load.ext);
  State.CurrentIconFile = Lookup.IconFile();
  if (State.CurrentIconFile.empty()) {
    ShowIcon(QImage());
    State.CurrentIconIndex = 0;
  } else {
    State.CurrentIconIndex = Lookup.IconIndex();
    ShowIcon(Lookup.LargeIcon());
  }
}

void TForm1::GetContentType(Load& load) {
  const std::string extKey = layout::ExtKey(load.ext);
  load.store.OpenPath(extKey, false);
  m_loadedContentType = ReadLoaded(load.store, extKey, layout::ContentTypeName);
  ContentType->setEditText(m_loadedContentType.text.value_or(QString()));
}

void TForm1::GetActions(Load& load) {
  if (State.CurrentProgID.empty()) State.CurrentProgID = "?";
  const std::string& progId = State.CurrentProgID;
  const std::string shellKey = layout::ShellKey(progId);
  if (!load.store.HasPath(shellKey)) return;
  load.store.OpenPath(shellKey, false);
  std::vector<std::string> verbs;
  load.store.ListSubkeys(verbs);
  const QSignalBlocker quiet(ListBox1);
  ListBox1->clear();
  QList<QTreeWidgetItem*> items;
  items.reserve(static_cast<qsizetype>(verbs.size()));
  for (const auto& verb : verbs) items.push_back(new QTreeWidgetItem(QStringList{Q(verb)}));
  ListBox1->addTopLevelItems(items);
  State.CurrentDefaultVerb = load.store.GetText(layout::DefaultValueName);

  std::optional<std::string> verb;
  int selected = -1;
  if (State.CurrentDefaultVerb.empty()) {
    if (!verbs.empty()) {
      selected = 0;
      verb = verbs.front();
    }
  } else {
    const QString wanted = Q(State.CurrentDefaultVerb);
    for (std::size_t i = 0; i < verbs.size(); ++i) {
      if (Q(verbs[i]).compare(wanted, Qt::CaseInsensitive) == 0) {
        selected = static_cast<int>(i);
        break;
      }
    }
    verb = State.CurrentDefaultVerb;
  }
  if (selected >= 0) {
    ListBox1->setCurrentItem(ListBox1->topLevelItem(selected));
  } else {
    ListBox1->setCurrentItem(nullptr);
    ListBox1->clearSelection();
  }

  // A default action without a key, or an action without a command key, shows empty
  // boxes rather than what the "Shell" key holds.
  m_loadedCommand = {};
  if (verb && load.store.OpenPath(layout::VerbCommandKey(progId, *verb), false)) {
    m_loadedCommand =
        ReadLoaded(load.store, layout::VerbCommandKey(progId, *verb), layout::DefaultValueName);
  }
  const QString command = m_loadedCommand.text.value_or(QString());
  Command->setText(command);
  Command->setToolTip(command);
  m_loadedCaption = {};
  if (verb && load.store.OpenPath(layout::VerbKey(progId, *verb), false)) {
    m_loadedCaption =
        ReadLoaded(load.store, layout::VerbKey(progId, *verb), layout::DefaultValueName);
  }
  ActionE->setText(m_loadedCaption.text.value_or(QString()));
}

void TForm1::ShowIcon(const QImage& image) {
  // The label keeps its own shared copy of the pixels.
  Image1->setPixmap(image.isNull() ? QPixmap() : QPixmap::fromImage(image));
}

void TForm1::EnableEditFlags(bool enabled) {
  EditFlagsBtn->setEnabled(enabled);
  EditFlags1->setEnabled(enabled);
}

// ---- The actions panel ----

void TForm1::ListBox1DrawItem(QPainter* painter, const QStyleOptionViewItem& option, int index) {
  const bool selected = option.state & QStyle::State_Selected;
  const QPalette& palette = ListBox1->palette();
  painter->save();
  painter->fillRect(option.rect, selected ? palette.highlight() : palette.base());
  QFont font = ListBox1->font();
  const QString text =
      ListBox1->topLevelItem(index) ? ListBox1->topLevelItem(index)->text(0) : QString();
  // The default action is bold only when its name matches exactly, letter case included.
  font.setBold(text == Q(State.CurrentDefaultVerb));
  painter->setFont(font);
  painter->setPen(palette.color(QPalette::Text));
  const QString shown = QFontMetrics(font).elidedText(text, Qt::ElideMiddle, option.rect.width());
  painter->drawText(option.rect, Qt::AlignLeft | Qt::AlignTop, shown);
  if (option.state & QStyle::State_HasFocus) {
    QStyleOptionFocusRect focus;
    focus.rect = option.rect;
    focus.state = option.state;
    focus.backgroundColor = palette.color(selected ? QPalette::Highlight : QPalette::Base);
    ListBox1->style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, painter, ListBox1);
  }
  painter->restore();
}

std::string TForm1::SelectedVerb() const {
  const int index = ListIndex();
  if (index < 0) throw EListError(index);
  return S(ListBox1->topLevelItem(index)->text(0));
}

void TForm1::ListBox1Click() {
  State.CurrentProgID = S(ExtDesc->text());
  const std::string verb = SelectedVerb();
  AssocStore store(AssocStore::Access::ReadOnly);
  store.SetRoot(RootKey::ClassesRoot);
  // A key that cannot be opened reads as empty text rather than as the key open before.
  const auto read = [&store](const std::string& key, const char* name) {
    store.ClosePath();
    return store.OpenPath(key, false) ? ReadLoaded(store, key, name) : LoadedText{key, {}};
  };
  m_loadedCaption = read(layout::VerbKey(State.CurrentProgID, verb), layout::DefaultValueName);
  ActionE->setText(m_loadedCaption.text.value_or(QString()));
  m_loadedCommand =
      read(layout::VerbCommandKey(State.CurrentProgID, verb), layout::DefaultValueName);
  const QString command = m_loadedCommand.text.value_or(QString());
  Command->setText(command);
  Command->setToolTip(command);
  m_loadedContentType = read(layout::ExtKey(S(Ext->text())), layout::ContentTypeName);
  ContentType->setEditText(m_loadedContentType.text.value_or(QString()));
}

void TForm1::SaveActionBtnClick() {
  if (!PrefixWritable()) return;
  if (!ShowsFileType("saving an action")) return;
  if (!BUProgID()) return;
  const std::string verb = SelectedVerb();
  const std::string verbKey = layout::VerbKey(State.CurrentProgID, verb);
  const std::string commandKey = layout::VerbCommandKey(State.CurrentProgID, verb);
  AssocStore store;
  store.SetRoot(RootKey::ClassesRoot);
  // A key that cannot be opened leaves no key current, so the write fails with the store's
  // error instead of landing in another key.
  store.OpenPath(verbKey, false);
  if (!AsLoaded(m_loadedCaption, verbKey, ActionE->text())) {
    store.PutText(layout::DefaultValueName, S(ActionE->text()));
    m_loadedCaption = {verbKey, ActionE->text()};
  }
  store.ClosePath();
  // An action made elsewhere may lack its command key; saving makes it.
  if (!store.OpenPath(commandKey, false)) {
    store.OpenPath(layout::NewVerbCommandKey(State.CurrentProgID, verb), true);
  }
  if (!AsLoaded(m_loadedCommand, commandKey, Command->text())) {
    store.PutText(layout::DefaultValueName, S(Command->text()));
    m_loadedCommand = {commandKey, Command->text()};
  }
  Command->setToolTip(Command->text());
  TheNotifier().AssocChanged();
  SetStatus("Action Properties Saved.");
  AssociationsChanged({Ext->text()}, Q(State.CurrentProgID));
}

void TForm1::BrowseBtnClick() {
  // Programs here have no extension of their own: the dialog lists the files that can be
  // run (or, by choice, every file), nothing is added to a typed name, and the choice must
  // be a file that can be run.
  Boxes::OpenFileRequest request;
  request.title = "Open";
  request.initialDir = ".";
  request.filters = {"All Files (*)"};
  request.programs = true;
  const QString program = TheBoxes().OpenFile(this, request);
  if (program.isEmpty()) return;
  const QFileInfo chosen(program);
  if (!chosen.isFile() || !chosen.isExecutable()) {
    Message("\"" + program +
            "\" is not a program: it is not a file you may run. Choose a program, or type "
            "the command line.");
    return;
  }
  // The program's path is quoted, so a path with blanks starts the right program.
  Command->setText("\"" + program + "\" \"%1\"");
}

void TForm1::DDEBtnClick() {
  if (!ShowsFileType("changing DDE settings")) return;
  if (m_dialogs.ddeDialog) m_dialogs.ddeDialog->exec();
  TheNotifier().AssocChanged();
}

void TForm1::AddShell1Click() {
  if (!PrefixWritable()) return;
  // Without a file type on screen the action would land under a key of no file type, or
  // of one loaded before.
  if (!ShowsFileType("adding an action")) return;
  const QString name = TheBoxes().Prompt(this, "New Action", "Action Name", QString(), 255);
  if (name.isEmpty()) return;
  {
    AssocStore store;
    store.SetRoot(RootKey::ClassesRoot);
    store.CreatePath(layout::NewVerbCommandKey(State.CurrentProgID, S(name)));
  }
  RefillActions(State.CurrentProgID);
}

void TForm1::DeleteShell1Click() {
  if (!PrefixWritable()) return;
  if (!ShowsFileType("deleting an action")) return;
  const std::string verb = SelectedVerb();
  // Like every other deletion of association data, a backup comes first.
  if (!BUProgID()) return;
  {
    AssocStore store;
    store.SetRoot(RootKey::ClassesRoot);
    store.RemovePath(layout::VerbKey(State.CurrentProgID, verb));
  }
  RefillActions(State.CurrentProgID);
  AssociationsChanged({Ext->text()}, Q(State.CurrentProgID));
}

void TForm1::ChangetoDefaultAction1Click() {
  if (!PrefixWritable()) return;
  if (!ShowsFileType("changing the default action")) return;
  const std::string verb = SelectedVerb();
  {
    AssocStore store;
    store.SetRoot(RootKey::ClassesRoot);
    store.OpenPath(layout::ShellKey(State.CurrentProgID), false);
    store.PutText(layout::DefaultValueName, verb);
  }
  State.CurrentDefaultVerb = verb;
  SetStatus("Default action successfully changed to " + Q(verb));
  ListBox1->viewport()->update();
  AssociationsChanged({Ext->text()}, Q(State.CurrentProgID));
}

void TForm1::RefillActions(const std::string& progId) {
  std::vector<std::string> verbs;
  {
    AssocStore store(AssocStore::Access::ReadOnly);
    store.SetRoot(RootKey::ClassesRoot);
    if (store.OpenPath(layout::ShellKey(progId), false)) store.ListSubkeys(verbs);
  }
  const QSignalBlocker quiet(ListBox1);
  ListBox1->clear();
  for (const auto& verb : verbs)
    ListBox1->addTopLevelItem(new QTreeWidgetItem(QStringList{Q(verb)}));
  ListBox1->setCurrentItem(nullptr);
  ListBox1->clearSelection();
}

// ---- Saving, deleting, backups ----

bool TForm1::Backup(const QString& name, const std::string& keyPath, const std::string& keyName) {
  if (name.isEmpty()) return true;
  {
    // A key that is not there holds nothing to lose, and its export could only fail.
    AssocStore store(AssocStore::Access::ReadOnly);
    store.SetRoot(RootKey::ClassesRoot);
    if (!store.HasPath(keyPath)) return true;
  }
  const QString file =
      BackupFileName(BackupDir(QCoreApplication::applicationDirPath()), name, TheClock().Now());
  QString reason = BackupObstacle(file);
  if (reason.isEmpty()) {
    const FileMark before = MarkOf(file);
    QStringList told;
    {
      // The opener's own complaint (a missing registry editor) becomes the reason below,
      // so the user sees one box, not two.
      HeldMessages held;
      Starter->SetText(0, "Regedit.exe");
      Starter->SetText(
          1, "/e " + QuoteWindowsArgument(file) + " " + KeyArgument(Q(keyName)) + StoreArguments());
      Starter->Start();
      Starter->SetText(1, QString());
      told = held.Texts();
    }
    const FileMark after = MarkOf(file);
    if (!told.isEmpty()) {
      reason = told.join(' ');
      while (reason.endsWith('.')) reason.chop(1);
    } else if (!after.regular || after == before) {
      const StartedProcess* process = Starter->ProcessHandle();
      const int status = process ? process->ExitStatus() : -1;
      reason = status > 0 ? QString("the registry editor ended with status %1").arg(status)
                          : QString("the registry editor did not write it");
    }
  }
  if (reason.isEmpty()) return true;
  TheBoxes().Message(
      this, "Kestrova",
      "The backup \"" + file + "\" could not be written: " + reason + ".\n\nNothing was changed.",
      Boxes::Icon::Error);
  return false;
}

bool TForm1::BUExt() {
  return Backup(Ext->text(), layout::ExtKey(S(Ext->text())), layout::ExtBackupKey(S(Ext->text())));
}

bool TForm1::BUProgID() {
  return Backup(ExtDesc->text(), layout::ProgIdKey(S(ExtDesc->text())),
                layout::ProgIdBackupKey(S(ExtDesc->text())));
}

void TForm1::SaveExt() {
  if (!PrefixWritable()) return;
  if (!BUExt()) return;
  const std::string ext = S(Ext->text());
  const std::string extKey = layout::ExtKey(ext);
  AssocStore store;
  store.SetRoot(RootKey::ClassesRoot);
  if (!store.HasPath(extKey)) {
    Message(
        "Extension does not exist, please use the New Extension wizard form the Extension Menu.");
    return;
  }
  store.OpenPath(extKey, false);
  const QString type = ContentType->currentText();
  if (type.isEmpty()) {
    store.RemoveValue(layout::ContentTypeName);
  } else if (!AsLoaded(m_loadedContentType, extKey, type)) {
    store.PutText(layout::ContentTypeName, S(type));
    m_loadedContentType = {extKey, type};
  }
  TheNotifier().AssocChanged();
  SetStatus("File Extension Properties Saved.");
  AssociationsChanged({Ext->text()}, {});
}

void TForm1::SaveTypeBtnClick() {
  if (!PrefixWritable()) return;
  if (!ShowsFileType("saving the file type")) return;
  if (!BUProgID()) return;
  const std::string typeKey = layout::ProgIdKey(State.CurrentProgID);
  AssocStore store;
  store.SetRoot(RootKey::ClassesRoot);
  store.OpenPath(typeKey, false);
  if (!AsLoaded(m_loadedDescription, typeKey, ExtType->text())) {
    store.PutText(layout::DefaultValueName, S(ExtType->text()));
    m_loadedDescription = {typeKey, ExtType->text()};
  }
  store.PutDword(layout::EditFlagsName, ConfirmCB->isChecked() ? 0 : 0x10000);
  if (AlwaysShowCB->isChecked()) {
    store.PutText(layout::AlwaysShowExtName, "");
  } else {
    store.RemoveValue(layout::AlwaysShowExtName);
  }
  if (BrowseCB->isChecked()) {
    store.RemoveValue(layout::BrowserFlagsName);
  } else {
    store.PutDword(layout::BrowserFlagsName, 8);
  }
  TheNotifier().AssocChanged();
  SetStatus("File Type Properties Saved.");
  AssociationsChanged({Ext->text()}, Q(State.CurrentProgID));
}

void TForm1::Delete1Click() {
  if (!PrefixWritable()) return;
  if (!BUExt()) return;
  const QString ext = Ext->text();
  if (ext.isEmpty()) return;
  if (!TheBoxes().Confirm(this, "Confirm", "Are you sure you want to delete ." + ext + "?")) return;
  {
    AssocStore store;
    store.SetRoot(RootKey::ClassesRoot);
    store.OpenPath(layout::RootPath, false);
    store.RemovePath(layout::ExtKey(S(ext)));
    if (!store.HasPath(layout::ExtKey(S(ext)))) SetStatus("Deleted Extension Successfully");
  }
  AssociationsChanged({ext}, {});
  Ext->clear();
  ClearFrm();
}

void TForm1::Delete2Click() {
  if (!PrefixWritable()) return;
  if (!ShowsFileType("deleting the file type")) return;
  const QString progId = ExtDesc->text();
  if (!TheBoxes().Confirm(this, "Confirm", "Are you sure you want to delete ." + progId + "?")) {
    return;
  }
  if (!BUProgID()) return;
  {
    AssocStore store;
    store.SetRoot(RootKey::ClassesRoot);
    store.OpenPath(layout::RootPath, false);
    store.RemovePath(layout::ProgIdKey(S(progId)));
    if (!store.HasPath(layout::ProgIdKey(S(progId)))) SetStatus("Deleted File Type Successfully");
  }
  AssociationsChanged({Ext->text()}, progId);
  Ext->clear();
  ClearFrm();
}

// ---- The dialogs ----

void TForm1::New1Click() {
  if (!PrefixWritable()) return;
  m_dialogs.newExtensionWizard->exec();
}

void TForm1::New2Click() {
  if (!PrefixWritable()) return;
  m_dialogs.newFileTypeDialog->exec();
}

void TForm1::ChangeAssociation1Click() {
  if (!PrefixWritable()) return;
  if (Ext->text().isEmpty()) {
    Message("You must first enter a file extension before changing an association.");
    return;
  }
  m_dialogs.changeAssociationDialog->exec();
}

void TForm1::EditFlagsBtnClick() {
  if (!ShowsFileType("editing its flags")) return;
  m_dialogs.flagsDialog->exec();
}

void TForm1::SettingsBtnClick() { m_dialogs.settingsDialog->exec(); }

void TForm1::Message(const QString& text) {
  TheBoxes().Message(this, "Kestrova", text, Boxes::Icon::None);
}

bool TForm1::ShowsFileType(const QString& doing) {
  if (ExtDesc->text().isEmpty()) {
    Message("No file type is loaded. Load an extension that has a file type before " + doing + ".");
    return false;
  }
  State.CurrentProgID = S(ExtDesc->text());
  return true;
}

void TForm1::Exit1Click() { close(); }

void TForm1::About1Click() { AboutDlg->exec(); }

void TForm1::SetStatus(const QString& text) { m_statusText->setText(text); }

QString TForm1::StatusText() const { return m_statusText->text(); }

int TForm1::ListIndex() const {
  const QList<QTreeWidgetItem*> selected = ListBox1->selectedItems();
  return selected.isEmpty() ? -1 : ListBox1->indexOfTopLevelItem(selected.front());
}

// ---- What the dialogs work on ----

QString TForm1::Extension() const { return Ext->text(); }

QString TForm1::ShownFileType() const { return ExtDesc->text(); }

std::string TForm1::CurrentFileType() const { return State.CurrentProgID; }

std::string TForm1::CurrentFlagsText() const { return State.CurrentFlagsText; }

FlagsValue TForm1::CurrentFlagsValue() const { return State.CurrentFlagsValue; }

bool TForm1::BackUpFileType() { return BUProgID(); }

void TForm1::ShowExtension(const QString& ext) { Ext->setText(ext); }

void TForm1::ReloadExtension() { ExtChange(); }

void TForm1::OpenNewFileTypeDialog() { m_dialogs.newFileTypeDialog->exec(); }

}  // namespace kestrova
