#include "dialogs/NewWiz.h"

#include <QShowEvent>
#include <memory>
#include <string_view>
#include <vector>

#include "dialogs/DialogFrame.h"
#include "dialogs/EditedAssociation.h"
#include "dialogs/FileTypeList.h"
#include "platform/Boxes.h"
#include "store/AssocLayout.h"
#include "store/AssocStore.h"
#include "store/RegistryRules.h"

namespace kestrova {

namespace {

constexpr int kStatusHeight = 19;
constexpr int kProgressHeight = 17;
constexpr int kEditHeight = 21;

constexpr int kVisibleRows = 20;

constexpr char kBadShortExt[] =
    "File Extension Not Valid: at most 254 characters, and no backslash or line break.";
constexpr char kBadLongExt[] =
    "Long File Extension Not Valid: at most 254 characters, and no backslash or line break.";

QLabel* Hint(QWidget* parent, const char* name, const QString& text, int top) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(name);
  label->setGeometry(136, top + 3, 301, 14);
  return label;
}

QPushButton* Button(QWidget* parent, const char* name, const QString& caption,
                    const QRect& geometry) {
  auto* button = new QPushButton(caption, parent);
  button->setObjectName(name);
  button->setGeometry(geometry);
  return button;
}

void WriteExtension(AssocStore& store, const std::string& path, const std::string& progId,
                    const std::string& contentType) {
  // A key that cannot be made must not take its values to the root, which is current.
  if (!store.OpenPath(path, true)) throw ERegistryException("Failed to create key " + path);
  store.PutText(layout::DefaultValueName, progId);
  store.PutText(layout::ContentTypeName, contentType);
}

// An extension's path must name a key directly below the root: one valid key name.
bool NamesOneKeyBelowRoot(const std::string& path) {
  return path.size() > 1 && path.front() == '\\' &&
         IsValidKeyName(std::string_view(path).substr(1));
}

}  // namespace

TForm3::TForm3(EditedAssociation* edited, QWidget* parent) : QDialog(parent), m_edited(edited) {
  SetUpFixedDialog(this, "TForm3", "Create New Extension", 445, 255);
  BuildControls();
  FileTypeLoader = new TBackgroundTask(this);
  FileTypeLoader->setObjectName("FileTypeLoader");
  FileTypeLoader->OnExecute = [this](TBackgroundTask::Worker& worker) {
    FileTypeLoaderExecute(worker);
  };
  FileTypeLoader->OnFinish = [this] { FileTypeLoaderFinish(); };
  connect(Button1, &QPushButton::clicked, this, &TForm3::Button1Click);
  connect(Button2, &QPushButton::clicked, this, &TForm3::Button2Click);
  connect(Button3, &QPushButton::clicked, this, &TForm3::Button3Click);
  connect(NewProgIDBtn, &QPushButton::clicked, this, &TForm3::NewProgIDBtnClick);
}

// The worker's body belongs to this object, so it ends before any of it goes.
TForm3::~TForm3() { FileTypeLoader->Stop(); }

void TForm3::BuildControls() {
  FileExt = Labelled(this, new QLineEdit, "FileExt",
                     "Short Extension:", QRect(8, 24, 121, kEditHeight), 121);
  Label2 = Hint(this, "Label2", "Enter a short extention such as ZOR", 24);
  LongFileExt = Labelled(this, new QLineEdit, "LongFileExt", "Long Extension: (Optional)",
                         QRect(8, 68, 121, kEditHeight), 329);
  Label3 = Hint(this, "Label3", "Enter a long extension such as ZOR-QRB-TEXT", 68);
  m_contentTypes = new NameListModel;
  ContentType = Labelled(this, LongListCombo(m_contentTypes, kVisibleRows), "ContentType",
                         "MIME Content Type", QRect(8, 112, 329, kEditHeight), 329);
  m_fileTypes = new NameListModel;
  AssocFileTypes = Labelled(
      this, LongListCombo(m_fileTypes, kVisibleRows), "AssocFileTypes",
      "Associated Programmatic Identifier (ProgID):", QRect(8, 156, 329, kEditHeight), 329);
  NewProgIDBtn = Button(this, "NewProgIDBtn", "New ProgID", QRect(344, 155, 93, 23));

  Button1 = Button(this, "Button1", "&OK", QRect(202, 188, 75, 25));
  Button1->setDefault(true);
  Button2 = Button(this, "Button2", "&Cancel", QRect(282, 188, 75, 25));
  Button3 = Button(this, "Button3", "&Apply", QRect(362, 188, 75, 25));
  // Usable once the first file-type load has finished.
  Button1->setEnabled(false);
  Button2->setEnabled(false);

  ProgressBar1 = new QProgressBar(this);
  ProgressBar1->setObjectName("ProgressBar1");
  ProgressBar1->setGeometry(0, 255 - kStatusHeight - kProgressHeight, 445, kProgressHeight);
  ProgressBar1->setTextVisible(false);
  ProgressBar1->setRange(0, 100);
  ProgressBar1->setValue(0);

  StatusBar1 = new QStatusBar(this);
  StatusBar1->setObjectName("StatusBar1");
  StatusBar1->setGeometry(0, 255 - kStatusHeight, 445, kStatusHeight);
  StatusBar1->setSizeGripEnabled(false);
  m_statusText = new QLabel(StatusBar1);
  m_statusText->setObjectName("StatusBar1Text");
  StatusBar1->addWidget(m_statusText, 1);

  setTabOrder(FileExt, LongFileExt);
  setTabOrder(LongFileExt, ContentType);
  setTabOrder(ContentType, AssocFileTypes);
  setTabOrder(AssocFileTypes, NewProgIDBtn);
  setTabOrder(NewProgIDBtn, Button1);
  setTabOrder(Button1, Button2);
  setTabOrder(Button2, Button3);
}

void TForm3::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (event->spontaneous()) return;  // un-minimising is not a new opening
  FormShow();
  FileExt->setFocus(Qt::OtherFocusReason);
}

void TForm3::FormShow() {
  std::vector<std::string> types;
  {
    // Listing needs no write access.
    AssocStore store(AssocStore::Access::ReadOnly);
    store.SetRoot(RootKey::ClassesRoot);
    if (store.OpenPath(layout::ContentTypeDatabaseKey, false)) store.ListSubkeys(types);
  }
  QStringList items;
  items.reserve(static_cast<qsizetype>(types.size()));
  for (const auto& type : types) items.push_back(QString::fromStdString(type));
  // The list is replaced in one step, cheap even for tens of thousands of types; the text
  // the user typed last time stays.
  const QString typed = ContentType->currentText();
  m_contentTypes->Replace(items);
  ContentType->setCurrentIndex(-1);
  ContentType->setEditText(typed);

  AssocFileTypes->clearEditText();
  SetStatus("Loading File Types...");
  FileTypeLoader->Execute();
}

void TForm3::FileTypeLoaderExecute(TBackgroundTask::Worker& worker) {
  worker.Queue([this] {
    m_fileTypes->Clear();
    AssocFileTypes->clearEditText();
  });
  const bool complete = ListFileTypes(
      worker, [this](int count) { ProgressBar1->setMaximum(count); },
      [this](const QStringList& names, int walked) { AppendFileTypes(names, walked); });
  if (!complete) return;
  worker.Queue([this] {
    Button1->setEnabled(true);
    Button2->setEnabled(true);
    ProgressBar1->setValue(0);
    SetStatus("File Types Loaded.");
  });
}

void TForm3::AppendFileTypes(const QStringList& names, int steps) {
  AppendKeepingText(AssocFileTypes, m_fileTypes, names);
  // One bar step per root key walked.
  ProgressBar1->setValue(ProgressBar1->value() + steps);
}

void TForm3::FileTypeLoaderFinish() { ProgressBar1->hide(); }

void TForm3::NewProgIDBtnClick() {
  m_edited->OpenNewFileTypeDialog();
  AssocFileTypes->clearEditText();
  ProgressBar1->show();
  SetStatus("Loading File Types...");
  FileTypeLoader->Execute();
}

void TForm3::Button1Click() {
  if (SaveExtensions()) accept();
}

void TForm3::Button3Click() {
  if (SaveExtensions()) SetStatus("Saved.");
}

void TForm3::Button2Click() { reject(); }

bool TForm3::SaveExtensions() {
  bool wrote = false;
  QString refusal;
  try {
    refusal = WriteExtensions(wrote);
  } catch (...) {
    // Not handled here: the main window still switches, then the error reaches the event loop.
    ShowExtension(wrote);
    throw;
  }
  if (!refusal.isEmpty()) TheBoxes().Message(this, "Kestrova", refusal, Boxes::Icon::None);
  if (wrote) {
    QStringList written{FileExt->text()};
    if (!LongFileExt->text().isEmpty()) written.push_back(LongFileExt->text());
    m_edited->AssociationsChanged(written, {});
  }
  ShowExtension(wrote);
  return refusal.isEmpty();
}

QString TForm3::WriteExtensions(bool& wrote) {
  const std::string shortExt = FileExt->text().toStdString();
  const std::string longExt = LongFileExt->text().toStdString();
  if (shortExt.empty()) return "No File Extension Specified.";
  // Tested before anything is written: the store would refuse the name only at the write.
  if (!NamesOneKeyBelowRoot(layout::ExtKey(shortExt))) return kBadShortExt;
  if (!longExt.empty() && !NamesOneKeyBelowRoot(layout::ExtKey(longExt))) return kBadLongExt;

  const std::shared_ptr<RegistryEngine> engine = AcquireEngine();
  // Both keys or neither, and no other program creates one between the test and the write.
  // A store that cannot be written refuses the first key as it would without a transaction.
  EngineTransaction tx(*engine, engine->Writable());
  AssocStore store(engine);
  store.SetRoot(RootKey::ClassesRoot);
  store.OpenPath(layout::RootPath, false);
  if (store.HasPath(layout::ExtKey(shortExt))) return "File Extension Already Exists.";
  if (!longExt.empty() && store.HasPath(layout::ExtKey(longExt))) {
    return "Long File Extension Already Exists.";
  }
  const std::string progId = AssocFileTypes->currentText().toStdString();
  const std::string contentType = ContentType->currentText().toStdString();
  WriteExtension(store, layout::ExtKey(shortExt), progId, contentType);
  if (!longExt.empty()) WriteExtension(store, layout::ExtKey(longExt), progId, contentType);
  tx.Commit();
  wrote = true;
  return {};
}

void TForm3::ShowExtension(bool wrote) {
  const QString ext = FileExt->text();
  // Showing the extension already on screen loads nothing, which would leave it shown as it
  // was before this write (and a save there would undo it).
  if (wrote && m_edited->Extension() == ext) {
    m_edited->ReloadExtension();
  } else {
    m_edited->ShowExtension(ext);
  }
}

void TForm3::SetStatus(const QString& text) { m_statusText->setText(text); }

QString TForm3::StatusText() const { return m_statusText->text(); }

}  // namespace kestrova
